#pragma once
// The Status panel: one row per attached camera (the global model list), rebuilt on every
// "statusDidGet" while the panel is shown, an empty state with the insertion hint and the
// driver reminder when no camera is attached (and, while the driver is known to be stopped, a
// word of it with its start button), and the device actions the rows and the edit
// sheet call. Camera traffic runs off the GUI thread, one job at a time; what it changes on
// screen comes back on the main queue.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QPointer>
#include <QString>

#include "common/CameraWorkQueue.h"
#include "common/EditViewControllerDelegate.h"
#include "platform/appkit/ViewController.h"
#include "platform/foundation/NotificationCenter.h"
#include "status/StatusTableViewCellDelegate.h"

class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace hvb {

class StatusTableViewCell;

class StatusViewController : public appkit::ViewController,
                             public StatusTableViewCellDelegate,
                             public EditViewControllerDelegate {
    Q_OBJECT
public:
    static constexpr int kRowSpacing = 10;
    static constexpr int64_t kReservedSpaceReadLength = 200;
    static constexpr int64_t kReservedSpacePauseMs = 50;

    explicit StatusViewController(QWidget* parent = nullptr);
    ~StatusViewController() override;

    QPointer<QScrollArea> tableView;
    QPointer<QLabel> emptyHVBImage;
    QPointer<QFrame> emptyHVBBox;
    QPointer<QLabel> insertDeviceLabel;
    QPointer<QLabel> securityReminderLabel;
    QPointer<QPushButton> openSecurityPreferenceBtn;
    QPointer<QLabel> driverStoppedLabel;
    QPointer<QPushButton> startDriverBtn;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewWillDisappear() override;

    // Snapshots from the device entries onto the models, the empty state, the rows.
    void refresh();
    int numberOfRows() const { return static_cast<int>(rows_.size()); }
    StatusTableViewCell* rowAt(int row) const;
    bool isObservingStatus() const { return observer_ != 0; }

    // Opens our page on allowing the driver host; an opener that fails shows "Fail" and why.
    void OpenSecurityPreferenceBtn_Click();
    // Asks the shell to start the driver (one start; the button waits until it has run).
    void StartDriverBtn_Click();
    static std::filesystem::path securityHelpPage();
    // The page as it is opened: a copy in the cache folder that names the driver's folder on this
    // system; the page itself when the copy cannot be written. Reads and writes files.
    static std::filesystem::path securityHelpPageToOpen();

    // ---- StatusTableViewCellDelegate ----
    void findDeviceBuzzer(const StatusModel& status) override;
    void openDeviceFolder(const StatusModel& status) override;
    void startFirmwareUpgrade(const StatusModel& status) override;
    void readDeviceState(const StatusModel& status, ReadingsDone done) override;
    void performCameraWork(std::function<void()> work) override;
    appkit::ViewController* presentingController() override { return this; }
    EditViewControllerDelegate* editDelegate() override { return this; }

    // ---- EditViewControllerDelegate ----
    void editUserLabel(const StatusModel& status, const QString& label) override;
    void setTeamSyncGroup(const StatusModel& status, int64_t group) override;
    void setTeamSyncLeader(const StatusModel& status, bool leader) override;

    // ---- camera reads (any thread; they touch only the camera and the record) ----
    static BatteryReading readBatteryState(const StatusModel& status);
    static std::optional<StorageReading> storageFigure(const StatusModel& status);
    // The reserved-space reply split at "-"; empty when there is none.
    static std::vector<std::string> readString(const StatusModel& status);

    // ---- label payloads ----
    // The label's UTF-16 code units as four lower-case hexadecimal digits each (the form the
    // camera reads back).
    static std::vector<std::string> unicodeHexScalars(const QString& label);
    struct LabelPayload {
        std::string command;
        uint8_t code = 0;
        std::string bytes;  // at most 32
        QString sentLabel;  // the label as it reaches the camera
    };
    // The first label command of the table and its payload; none when the table has none.
    static std::optional<LabelPayload> userLabelPayload(const CommandDictionary& table, const QString& label);

    // The failure message box, with `text` (never an earlier dialog's).
    static void showMessageDialog(const QString& text = {});

private:
    void reloadData();
    // The driver's line and button as the shell last told its state.
    void showDriverHostState();
    void openFirmwareUpgrade(const std::string& model, bool afterUnlock);

    std::shared_ptr<CameraWorkQueue> queue_;
    foundation::NotificationCenter::Token observer_ = 0;
    foundation::NotificationCenter::Token hostStateObserver_ = 0;
    std::vector<StatusTableViewCell*> rows_;
    QVBoxLayout* rowsLayout_ = nullptr;
    bool upgradeOpening_ = false;
};

}  // namespace hvb
