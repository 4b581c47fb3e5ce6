#pragma once
// One row of the Status panel: one attached camera with its picture, label, family, UID,
// firmware (red with an upgrade button when a newer one exists, and a "Version History" link),
// team sync, SD-card error, battery and storage, four image buttons (edit label, buzzer, open
// folder or unlock, webcam mode) and four text buttons (firmware upgrade, format, recover,
// webcam test). The panel hands it its camera, index and delegate and starts and stops its
// one-second refresh; the row's camera reads run off the GUI thread through the delegate.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <QPointer>
#include <QWidget>

#include "camera/HVBModel.h"
#include "platform/dispatch/Dispatch.h"
#include "status/StatusRowState.h"
#include "status/StatusTableViewCellDelegate.h"

class QAbstractButton;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QToolButton;

namespace appkit {
class ViewController;
}

namespace hvb {

class BatteryIndicator;

class StatusTableViewCell : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 200;
    static constexpr int64_t kRefreshIntervalMs = 1000;

    explicit StatusTableViewCell(QWidget* parent = nullptr);
    ~StatusTableViewCell() override;

    std::shared_ptr<HVBModel> deviceInfo() const { return deviceInfo_; }
    void setDeviceInfo(std::shared_ptr<HVBModel> model);
    int64_t deviceIndex() const { return deviceIndex_; }
    void setDeviceIndex(int64_t index) { deviceIndex_ = index; }
    // Held weakly: gone with the controller it presents from.
    StatusTableViewCellDelegate* delegate() const;
    void setDelegate(StatusTableViewCellDelegate* delegate);

    // ---- views ----
    QLabel* productImageView() const { return productImageView_; }
    QLabel* volumeCapacityLabel() const { return volumeCapacityLabel_; }
    BatteryIndicator* batteryIndicator() const { return batteryIndicator_; }
    QLabel* batteryCapacityLabel() const { return batteryCapacityLabel_; }
    QLabel* deviceNameLabel() const { return deviceNameLabel_; }
    QLabel* productNameLabel() const { return productNameLabel_; }
    QLabel* uidTitleLabel() const { return uidTitleLabel_; }
    QLabel* uidValueLabel() const { return uidValueLabel_; }
    QLabel* fwVersionTitleLabel() const { return fwVersionTitleLabel_; }
    QLabel* fwVersionValueLabel() const { return fwVersionValueLabel_; }
    QPushButton* fwReleaseNoteButton() const { return fwReleaseNoteButton_; }
    QLabel* teamSyncTitleLabel() const { return teamSyncTitleLabel_; }
    QLabel* teamSyncValueLabel() const { return teamSyncValueLabel_; }
    QLabel* webcamTitleLabel() const { return webcamTitleLabel_; }
    QLabel* webcamValueLabel() const { return webcamValueLabel_; }
    QLabel* cardErrorMsgLabel() const { return cardErrorMsgLabel_; }
    QToolButton* editButton() const { return editButton_; }
    QToolButton* buzzerButton() const { return buzzerButton_; }
    QToolButton* folderButton() const { return folderButton_; }
    QToolButton* webcamButton() const { return webcamButton_; }
    QPushButton* upgradeButton() const { return upgradeButton_; }
    QPushButton* formatButton() const { return formatButton_; }
    QPushButton* msdcRecoverButton() const { return msdcRecoverButton_; }
    QPushButton* webcamTestButton() const { return webcamTestButton_; }
    QWidget* uidStackView() const { return uidStackView_; }
    QWidget* fwStackView() const { return fwStackView_; }
    QWidget* teamSyncStackView() const { return teamSyncStackView_; }
    QWidget* webcamStackView() const { return webcamStackView_; }
    QWidget* buttonStackView() const { return buttonStackView_; }
    QWidget* funcBtnStackView() const { return funcBtnStackView_; }

    // The folder button's picture ("folderIcon" or "lockIconStatus").
    const std::string& folderImageName() const { return folderImageName_; }
    const std::string& productImageName() const { return productImageName_; }
    // Whether this row offers the release-note link (decided once, when the row is made).
    bool showsReleaseNoteLink() const { return showsReleaseNoteLink_; }

    // ---- refresh ----
    // The fill: the row state of its camera onto the views. `askFirmware` also asks the
    // firmware service again whether the camera's firmware is current (off the GUI thread).
    void refresh(bool askFirmware = true);
    const StatusRowState& shownState() const { return shown_; }
    // The one-second refresh: none for a camera in webcam mode or changing its mode.
    void startRefreshTimer();
    void stopRefreshTimer();
    bool hasRefreshTimer() const { return timer_ != nullptr; }
    // One tick: the battery and storage reads, unless the previous ones are still under way.
    void refreshTick();
    bool isReadingInFlight() const { return readingInFlight_; }

    // ---- button actions ----
    void editButtonDidTap();
    void buzzerButtonDidTap();
    void folderButtonDidTap();
    void upgradeButtonDidTap();
    void fwReleaseNoteButtonDidTap();
    void webcamButtonDidTap();
    void msdcRecoverButtonDidTap();
    void webcamTestButtonDidTap();
    void formatButtonDidTap();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void setupLayout();
    void layoutSubviews();
    void applyState(const StatusRowState& state);
    void applyReadings(const BatteryReading& battery, const std::optional<StorageReading>& storage);
    void setFolderImage(const std::string& name);
    void presentFromDelegate(appkit::ViewController* controller);
    void cancelTimer();
    // The webcam switch's end when it did not happen: the row ticks again.
    void webcamSwitchFailed(const std::shared_ptr<HVBModel>& model);

    std::shared_ptr<HVBModel> deviceInfo_;
    int64_t deviceIndex_ = 0;
    StatusTableViewCellDelegate* delegate_ = nullptr;
    QPointer<QObject> delegateLife_;
    std::shared_ptr<dispatch::Timer> timer_;
    bool readingInFlight_ = false;
    // The panel wants this row to tick (it shows the row); a failed webcam switch resumes it.
    bool refreshWanted_ = false;
    // A webcam switch is under way: no tick until it failed (or the camera left).
    bool modeSwitchPending_ = false;
    bool teamSyncLinesShown_ = true;
    // Battery and storage views show once this camera gave a reading.
    bool hasBatteryReading_ = false;
    bool hasStorageReading_ = false;
    bool showsReleaseNoteLink_ = true;
    StatusRowState shown_;
    std::string folderImageName_;
    std::string productImageName_;

    QLabel* productImageView_ = nullptr;
    QLabel* volumeCapacityLabel_ = nullptr;
    BatteryIndicator* batteryIndicator_ = nullptr;
    QLabel* batteryCapacityLabel_ = nullptr;
    QLabel* deviceNameLabel_ = nullptr;
    QLabel* productNameLabel_ = nullptr;
    QLabel* uidTitleLabel_ = nullptr;
    QLabel* uidValueLabel_ = nullptr;
    QLabel* fwVersionTitleLabel_ = nullptr;
    QLabel* fwVersionValueLabel_ = nullptr;
    QPushButton* fwReleaseNoteButton_ = nullptr;
    QLabel* teamSyncTitleLabel_ = nullptr;
    QLabel* teamSyncValueLabel_ = nullptr;
    QLabel* webcamTitleLabel_ = nullptr;
    QLabel* webcamValueLabel_ = nullptr;
    QLabel* cardErrorMsgLabel_ = nullptr;
    QToolButton* editButton_ = nullptr;
    QToolButton* buzzerButton_ = nullptr;
    QToolButton* folderButton_ = nullptr;
    QToolButton* webcamButton_ = nullptr;
    QPushButton* upgradeButton_ = nullptr;
    QPushButton* formatButton_ = nullptr;
    QPushButton* msdcRecoverButton_ = nullptr;
    QPushButton* webcamTestButton_ = nullptr;
    QWidget* uidStackView_ = nullptr;
    QWidget* fwStackView_ = nullptr;
    QWidget* teamSyncStackView_ = nullptr;
    QWidget* webcamStackView_ = nullptr;
    QWidget* infoStackView_ = nullptr;
    QWidget* buttonStackView_ = nullptr;
    QWidget* funcBtnStackView_ = nullptr;
};

}  // namespace hvb
