#pragma once
// The Setting pane: a selector of the attached cameras, a lock button, three tables of the
// chosen camera's settings (device, video, video stamp) and the hardware-key-reset group.
// Every choice is written to the camera at once: the write runs on a worker while the pane
// shows that it is busy and takes no other input, and the result is shown on the main queue.
#include <functional>
#include <memory>
#include <vector>

#include <QPointer>
#include <QString>

#include "camera/CommandTables.h"
#include "platform/appkit/ViewController.h"
#include "platform/foundation/NotificationCenter.h"
#include "settings/Settings.h"
#include "settings/SettingsCellRules.h"
#include "settings/TableViewButtonDelegate.h"
#include "settings/TableViewComboBoxDelegate.h"

class QButtonGroup;
class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace hvb {

class CameraLink;
class CameraSelectorModel;
class SettingsTableView;
struct SettingsBuild;

class SettingsViewController : public appkit::ViewController,
                               public TableViewComboBoxDelegate,
                               public TableViewButtonDelegate {
    Q_OBJECT
public:
    // Without a link the pane works on the screens' camera link.
    explicit SettingsViewController(std::shared_ptr<CameraLink> link = nullptr, QWidget* parent = nullptr);
    ~SettingsViewController() override;

    // ---- rows of the three tables ----
    std::vector<Settings> deviceDataSource;
    std::vector<Settings> videoDataSource;
    std::vector<Settings> stampDataSource;

    // ---- outlets ----
    QPointer<QWidget> deviceTabViewItem;
    QPointer<QWidget> videoTabViewItem;
    QPointer<QWidget> stampTabViewItem;
    QPointer<SettingsTableView> deviceTableView;
    QPointer<SettingsTableView> videoTableView;
    QPointer<SettingsTableView> stampTableView;
    QPointer<QTabWidget> tabView;
    QPointer<QFrame> HWKeyResetBox;
    QPointer<QLabel> HWKeyResetText;
    QPointer<QLabel> HWKeyResetMsg;
    QPointer<QRadioButton> HWKeyResetOFF;
    QPointer<QRadioButton> HWKeyResetON;
    QPointer<QLabel> deviceLabel;
    QPointer<QComboBox> deviceComboBox;
    QPointer<QPushButton> lockBtn;
    QPointer<QProgressBar> busyIndicator;

    // ---- state ----
    bool lockFlag = false;
    int64_t preButtonResetSelect = -1;
    QString curUID;
    CommandDictionary cmdDic;
    int64_t videoStampIndex = -1;
    int64_t stealthIndex = -1;
    int64_t micIndex = -1;
    int64_t defaultRecordingModeIndex = -1;
    double deviceTableComboBoxWidth = 0;
    double videoTableComboBoxWidth = 0;
    double stampTableComboBoxWidth = 0;
    double minDeviceTableComboBoxWidth = 160;
    double minVideoTableComboBoxWidth = 160;
    double minStampTableComboBoxWidth = 160;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewWillDisappear() override;

    // "statusDidGet"
    void fillOutDataSource();
    // Refills the selector and selects a camera, which rebuilds the tables.
    void reloadSettingPage();
    void resetDeviceSelector();
    // The selector's choice (the user's, or the one a refill makes).
    void comboBoxSelectionDidChange();
    bool tabViewShouldSelectTabViewItem(int index) const;
    // Whether the user may switch between the tables.
    static bool tabsSelectable(int64_t count) { return count != 0; }
    void lockBtn_Click();
    void radioButtonChange(int tag);

    // Builds the tables for the camera at that position of the device entry list (-1: none).
    void loadDeviceSettings(int64_t index);
    void reloadSettingTables();
    void reloadSettingTablesHidingKeyReset();

    // TableViewComboBoxDelegate: writes one setting.
    void applySetting(int index, const QString& identifier, const QString& title) override;
    // The hardware-key-reset radios: writes 0 (off) or 1 (on).
    void applyHWKeyReset(int tag);
    // TableViewButtonDelegate: the clock-sync dialog.
    void openSyncTimeWindow() override;
    void openUnlockWindow();

    // True while a write is on its way; the pane takes no input meanwhile.
    bool isBusy() const { return busy_ > 0; }

signals:
    void busyChanged(bool busy);
    void settingTablesReloaded();

private:
    void writeSetting(int index, const QString& identifier, const QString& title, std::function<void()> done);
    void finishWrite(const std::string& key, std::function<void()> done);
    void showFailure();
    void beginBusy();
    void endBusy();
    void showBuild(const SettingsBuild& build);
    void clearTables();
    void updateTabs(int64_t count);
    void reloadTables(bool hidingKeyReset);

    std::shared_ptr<CameraLink> link_;
    CameraSelectorModel* selector_ = nullptr;
    QPointer<QWidget> content_;
    QButtonGroup* radios_ = nullptr;
    std::vector<SettingsCell> deviceCells_, videoCells_, stampCells_;
    foundation::NotificationCenter::Token statusToken_ = 0;
    int busy_ = 0;
};

}  // namespace hvb
