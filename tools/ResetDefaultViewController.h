#pragma once
// The reset-to-default dialog: asks, resets the chosen camera's settings and reboots it. A
// failure shows at once; success shows when the re-detection finds the camera again and opens
// the dialog anew in state 1 (until then the dialog keeps waiting).
#include <QPointer>

#include "camera/CommandTables.h"
#include "tools/CameraSteps.h"
#include "tools/DeviceTaskViewController.h"

class QLabel;
class QPushButton;

namespace hvb {

class ResetDefaultViewController : public DeviceTaskViewController {
    Q_OBJECT
public:
    explicit ResetDefaultViewController(QWidget* parent = nullptr);

    QPointer<QLabel> resetDefaultTitle;
    QPointer<QLabel> resetDefaultQuestion;
    QPointer<QPushButton> buttonOK;
    QPointer<QPushButton> buttonCancel;
    QPointer<QLabel> resetDefaultImage;
    QPointer<BusySpinner> resetDefaultProgress;
    int resetDefaultResult = 0;

    const DialogTarget& target() const { return target_; }

    void viewDidLoad() override;
    void viewWillAppear() override;

    void buttonOK_Click();
    void buttonCancel_Click();
    void startResetDefault();
    void showResetDefaultFailure();

protected:
    void okClicked() override { buttonOK_Click(); }
    void cancelClicked() override { buttonCancel_Click(); }

private:
    void finishResetDefault(int code);
    DialogTarget target_;
    CommandDictionary table_;
};

}  // namespace hvb
