#pragma once
// The reset-all dialog: asks, then erases the chosen camera completely (contents, settings and
// password) without asking for the password; the way out of a forgotten one. A failure shows at
// once; success shows when the re-detection opens the dialog anew in state 1.
#include <QPointer>

#include "camera/CommandTables.h"
#include "tools/CameraSteps.h"
#include "tools/DeviceTaskViewController.h"

class QLabel;
class QPushButton;

namespace hvb {

class ResetAllViewController : public DeviceTaskViewController {
    Q_OBJECT
public:
    explicit ResetAllViewController(QWidget* parent = nullptr);

    QPointer<QLabel> resetAllTitle;
    QPointer<QLabel> resetAllQuestion;
    QPointer<QPushButton> buttonOK;
    QPointer<QPushButton> buttonCancel;
    QPointer<QLabel> resetAllImage;
    QPointer<BusySpinner> resetAllProgress;
    int resetAllResult = 0;

    const DialogTarget& target() const { return target_; }

    void viewDidLoad() override;
    void viewWillAppear() override;

    void buttonOK_Click();
    void buttonCancel_Click();
    void startResetAll();
    void showResetAllFailure();

protected:
    void okClicked() override { buttonOK_Click(); }
    void cancelClicked() override { buttonCancel_Click(); }

private:
    void finishResetAll(int code);
    DialogTarget target_;
    CommandDictionary table_;
};

}  // namespace hvb
