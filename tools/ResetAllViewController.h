#pragma once
// The reset-all dialog: asks, then erases the chosen camera completely (contents, settings and
// password) without asking for the password; the way out of a forgotten one.
#include <QPointer>

#include "tools/ResetDialogViewController.h"

class QLabel;
class QPushButton;

namespace hvb {

class ResetAllViewController : public ResetDialogViewController {
    Q_OBJECT
public:
    explicit ResetAllViewController(QWidget* parent = nullptr);

    // The dialog's outlets and outcome code under this dialog's names.
    QPointer<QLabel>& resetAllTitle = title_;
    QPointer<QLabel>& resetAllQuestion = text_;
    QPointer<QPushButton>& buttonOK = ok_;
    QPointer<QPushButton>& buttonCancel = cancel_;
    QPointer<QLabel>& resetAllImage = image_;
    QPointer<BusySpinner>& resetAllProgress = progress_;
    int& resetAllResult = result_;

    void startResetAll() { startReset(); }
    void showResetAllFailure() { showOutcome(false); }
    void finishResetAll(int code) { finishReset(code); }

protected:
    void finishRun(int code) override { finishResetAll(code); }
};

}  // namespace hvb
