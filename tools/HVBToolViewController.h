#pragma once
// The Tool panel: a camera selector and the password, format and reset groups, shown as the
// selected camera's command table and lock state allow; each button opens its dialog, the
// format and reset ones behind the unlock dialog on a password-protected camera. Class-level:
// the replacement of an open long-running dialog by its result screen, and the re-detection of
// a rebooted camera that leads to it.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QPointer>
#include <QString>

#include "platform/appkit/ViewController.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/NotificationCenter.h"
#include "tools/Redetection.h"

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

namespace hvb {

class CameraSelectorModel;

class HVBToolViewController : public appkit::ViewController {
    Q_OBJECT
public:
    static constexpr int kStackHeightWithPassword = 346;
    static constexpr int kStackHeightWithoutPassword = 268;

    // Where the erase-all title sits: centred in the reset group, or below the reset row.
    struct LayoutConstraint {
        bool active = false;
    };

    explicit HVBToolViewController(QWidget* parent = nullptr);
    ~HVBToolViewController() override;

    QPointer<QLabel> deviceLabel;
    QPointer<QComboBox> deviceComboBox;
    QPointer<QFrame> passwordBox;
    QPointer<QLabel> PWDLabel;
    QPointer<QLabel> PWDMsg;
    QPointer<QPushButton> SetPWDBtn;
    QPointer<QPushButton> ChangePWDBtn;
    QPointer<QPushButton> DisablePWDBtn;
    QPointer<QFrame> FormatBox;
    QPointer<QLabel> DiskFormatLabel;
    QPointer<QLabel> DiskFormatMsg;
    QPointer<QPushButton> FormatBtn;
    QPointer<QFrame> ResetBox;
    QPointer<QLabel> ResetLabel;
    QPointer<QLabel> ResetDefaultTitle;
    QPointer<QLabel> ResetDefaultMsg;
    QPointer<QPushButton> ResetDefaultBtn;
    QPointer<QLabel> ResetAllTitle;
    QPointer<QLabel> ResetAllMsg;
    QPointer<QPushButton> ResetAllBtn;
    LayoutConstraint constraintNotResetable;
    LayoutConstraint constraintResetable;
    int stackViewHeight = kStackHeightWithPassword;
    // The selected camera's password protection is on.
    bool isDeviceEncryption = false;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewWillDisappear() override;

    void fillOutDataSource();
    void comboBoxSelectionDidChange();

    void SetPWDBtn_Click();
    void ChangePWDBtn_Click();
    void DisablePWDBtn_Click();
    void FormatBtn_Click();
    void ResetDefaultBtn_Click();
    void ResetAllBtn_Click();

    // The rows for the camera at that index of the device list; -1: no camera.
    virtual void refreshToolRows(int64_t deviceIndex);
    virtual void disableAllControls();
    virtual void reloadToolPage();
    void deviceSelectionChanged();
    void openPasswordSetting(uint8_t mode);
    void openDiskFormatDialog();
    void openResetDefaultDialog();
    void openResetAllDialog();

    // The device-list index of each selector item, in item order.
    std::vector<int64_t> itemDeviceIndexes() const;

    // Replaces the first visible long-running dialog (reset all, password setting, disk format,
    // reset to default, firmware upgrade) by a fresh one showing `result` (1 success, 2 failure)
    // and the failure's `cause` (resultCause).
    static void reopenDialogWithResult(uint8_t result, const QString& cause = {});
    // Waits for the camera of currentDeviceUID to come back after its reboot, then reopens the
    // visible dialog with 1, or with 2 at tick 200. A camera that came back counts as success
    // only when `cameBackAsAsked` (if given) also holds; it runs on the timer's queue. With
    // `hostLosses`, the driver host lost meanwhile ends the wait at once with 2 and
    // `hostLostCause`. From any thread.
    static std::shared_ptr<Redetection> startRedetectionTimer(Redetection::Progress progress = {},
                                                              std::function<bool()> cameBackAsAsked = {},
                                                              std::optional<uint64_t> hostLosses = std::nullopt,
                                                              const QString& hostLostCause = {});

private:
    // `prepare` gets the UID of the camera chosen when the button was pressed: the unlock
    // dialog may reboot it, and it comes back at another place of the device list.
    void openBehindUnlock(const char* identifier, QPointer<appkit::Window>* slot,
                          const std::function<void(const std::string& uid)>& prepare);
    void showItemOfDevice(int64_t deviceIndex);
    foundation::NotificationCenter::Token statusToken_ = 0;
    QPointer<QFrame> resetSeparator_;
    CameraSelectorModel* deviceModel_ = nullptr;  // deviceComboBox's items
};

}  // namespace hvb
