#pragma once
// The reset-to-default dialog: asks, resets the chosen camera's settings and reboots it.
#include <QPointer>

#include "tools/ResetDialogViewController.h"

class QLabel;
class QPushButton;

namespace hvb {

class ResetDefaultViewController : public ResetDialogViewController {
    Q_OBJECT
public:
    explicit ResetDefaultViewController(QWidget* parent = nullptr);

    // The dialog's outlets and outcome code under this dialog's names.
    QPointer<QLabel>& resetDefaultTitle = title_;
    QPointer<QLabel>& resetDefaultQuestion = text_;
    QPointer<QPushButton>& buttonOK = ok_;
    QPointer<QPushButton>& buttonCancel = cancel_;
    QPointer<QLabel>& resetDefaultImage = image_;
    QPointer<BusySpinner>& resetDefaultProgress = progress_;
    int& resetDefaultResult = result_;

    void startResetDefault() { startReset(); }
    void showResetDefaultFailure() { showOutcome(false); }
    void finishResetDefault(int code) { finishReset(code); }

protected:
    void finishRun(int code) override { finishResetDefault(code); }
};

}  // namespace hvb
