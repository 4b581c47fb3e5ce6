#pragma once
// The disk-format dialog: asks, formats the camera its opener named (the chosen camera, or the
// camera whose memory card reported an error), then shows the outcome for 5 s with the main
// window still blocked. A dialog loaded in state 1 or 2 opens on that outcome.
#include <optional>

#include <QPointer>
#include <QString>

#include "camera/CommandTables.h"
#include "tools/CameraSteps.h"
#include "tools/DeviceTaskViewController.h"

class QLabel;
class QPushButton;

namespace hvb {

class DiskFormatViewControl : public DeviceTaskViewController {
    Q_OBJECT
public:
    static constexpr int64_t kResultShownMs = 5000;

    explicit DiskFormatViewControl(QWidget* parent = nullptr);

    QPointer<QLabel> diskFormatTitle;
    QPointer<QLabel> diskFormatQuestion;
    QPointer<QPushButton> buttonOK;
    QPointer<QPushButton> buttonCancel;
    QPointer<BusySpinner> diskFormatProgress;
    QPointer<QLabel> diskFormatImage;
    int formatResult = 0;
    // The title an opener gave (the storage-error message); shown instead of "Format Disk".
    std::optional<QString> titleString;

    // The camera this dialog formats.
    const DialogTarget& target() const { return target_; }

    void viewDidLoad() override;
    void viewWillAppear() override;

    void buttonOK_Click();
    void buttonCancel_Click();
    void startFormat();
    void showFormatResult(int code);

protected:
    void okClicked() override { buttonOK_Click(); }
    void cancelClicked() override { buttonCancel_Click(); }

private:
    void closeWhenOnTop();
    DialogTarget target_;
    CommandDictionary table_;
};

}  // namespace hvb
