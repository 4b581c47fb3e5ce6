// What a Status row shows of a camera, from records made here (no camera needed), the tick's
// texts, and the row's views following the state.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolButton>

#include "camera/CommandTables.h"
#include "camera/DeviceState.h"
#include "common/LocalizedString.h"
#include "platform/appkit/Assets.h"
#include "platform/appkit/ViewController.h"
#include "status/BatteryIndicator.h"
#include "status/StatusRowState.h"
#include "status/StatusTableViewCell.h"

namespace {

using namespace hvb;

struct Camera {
    std::shared_ptr<HVBModel> model;
    DeviceRecord record;
    StatusModel status;
};

class RowState : public ::testing::Test {
protected:
    static void SetUpTestSuite() { buildAllCommandTables(); }
    void SetUp() override { DeviceState::shared().reset(); }
    void TearDown() override { DeviceState::shared().reset(); }

    // A camera with a record of that model, firmware and table.
    static Camera camera(const std::string& model, const std::string& firmware, const std::string& table) {
        auto record = std::make_shared<DiskDriver_Parameter>();
        record->ModelName = model;
        record->FWVersion = firmware;
        record->UID = "abc" + model + "0001";
        record->UserLabel = "Unit 7";
        record->isLockStatus = false;
        record->DeviceParam = std::make_shared<sDeviceParam>();
        auto commands = cmdTables().find(table);
        EXPECT_TRUE(commands.has_value()) << table;
        Camera c{std::make_shared<HVBModel>("SN" + model), record, StatusModel{record, commands.value_or(CommandDictionary{})}};
        return c;
    }
    static StatusRowState state(const Camera& c, bool current = true) {
        return StatusRowState::make(c.model.get(), c.status, current);
    }
};

TEST_F(RowState, AStorageModeCameraShowsItsRecord) {
    auto c = camera("HVBS2A", "1.13.0", "HVBS2ACmd_6");
    ASSERT_TRUE(c.status.commands.count("HVB_WEBCAMMODE"));
    const StatusRowState s = state(c);
    EXPECT_FALSE(s.webcamMode);
    EXPECT_EQ(s.deviceName, "Unit 7");
    EXPECT_EQ(s.productName, "HVBS2A");
    EXPECT_EQ(s.uid, "ABCHVBS2A0001");
    EXPECT_EQ(s.imageName, "img_Status_HVBS2");
    EXPECT_FALSE(s.cardErrorShown);
    EXPECT_FALSE(s.formatShown);
    ASSERT_TRUE(s.details);
    EXPECT_FALSE(s.details->locked);
    EXPECT_TRUE(s.details->editShown);
    EXPECT_TRUE(s.details->folderShown);
    EXPECT_TRUE(s.details->webcamButtonShown);
    EXPECT_EQ(s.details->firmwareText, "1.13");
    EXPECT_TRUE(s.details->firmwareCurrent);
    EXPECT_FALSE(s.details->upgradeShown);
}

TEST_F(RowState, WebcamModeHidesTheUpgradeEvenForOldFirmware) {
    auto c = camera("HVBS2A", "1.13.0", "HVBS2ACmd_6");
    c.model->isWebcamMode = true;
    const StatusRowState s = state(c, false);
    EXPECT_TRUE(s.webcamMode);
    ASSERT_TRUE(s.details);
    EXPECT_FALSE(s.details->firmwareCurrent);
    EXPECT_FALSE(s.details->upgradeShown);
}

TEST_F(RowState, ALockedCameraShowsTheLockAndNoEditOrWebcamButton) {
    auto c = camera("HVBS2A", "1.13.0", "HVBS2ACmd_6");
    c.record->isLockStatus = true;
    const StatusRowState s = state(c);
    ASSERT_TRUE(s.details);
    EXPECT_TRUE(s.details->locked);
    EXPECT_FALSE(s.details->editShown);
    EXPECT_FALSE(s.details->webcamButtonShown);
    EXPECT_TRUE(s.details->folderShown);
    // A lock state without value counts as unlocked.
    c.record->isLockStatus.reset();
    EXPECT_FALSE(state(c).details->locked);
    EXPECT_TRUE(state(c).details->editShown);
}

TEST_F(RowState, AnSDCardErrorShowsTheMessageAndFormatInsteadOfFolderAndWebcam) {
    auto c = camera("HW7334", "1.0.0", "HW7334Cmd_1");
    c.record->isSDCardError = true;
    const StatusRowState s = state(c);
    EXPECT_TRUE(s.cardErrorShown);
    EXPECT_TRUE(s.formatShown);
    ASSERT_TRUE(s.details);
    EXPECT_FALSE(s.details->folderShown);
    EXPECT_FALSE(s.details->webcamButtonShown);
}

TEST_F(RowState, HW7312ShowsItsWebcamButtonFromFirmware14On) {
    auto c = camera("HW7312", "1.4.00", "HW7312Cmd_1");
    c.record->isLockStatus = true;
    c.record->isSDCardError = true;
    c.status.commands.erase("HVB_WEBCAMMODE");
    EXPECT_TRUE(state(c).details->webcamButtonShown);
    // Minor versions compare as numbers: 1.10 is above 1.3.
    c.record->FWVersion = "1.10.00";
    EXPECT_TRUE(state(c).details->webcamButtonShown);
    // At 1.3 the table, the lock and the card decide alone.
    c.record->FWVersion = "1.3.00";
    EXPECT_FALSE(state(c).details->webcamButtonShown);
    c.status.commands["HVB_WEBCAMMODE"] = 0xE1;
    c.record->isLockStatus = false;
    c.record->isSDCardError = false;
    EXPECT_TRUE(state(c).details->webcamButtonShown);
    // A version with fewer than three parts has no display text, so no override either.
    c.status.commands.erase("HVB_WEBCAMMODE");
    c.record->FWVersion = "1.4";
    EXPECT_EQ(state(c).details->firmwareText, "");
    EXPECT_FALSE(state(c).details->webcamButtonShown);
    // Another model at 1.4 gets no override.
    auto other = camera("HVBS2A", "1.4.00", "HVBS2ACmd_6");
    other.status.commands.erase("HVB_WEBCAMMODE");
    EXPECT_FALSE(state(other).details->webcamButtonShown);
}

TEST_F(RowState, FirmwareDisplayTextForTheWebcamOverride) {
    EXPECT_TRUE(StatusRowState::firmwareAllowsWebcam("1.4"));
    EXPECT_TRUE(StatusRowState::firmwareAllowsWebcam("2.0"));
    EXPECT_TRUE(StatusRowState::firmwareAllowsWebcam("1.10"));
    EXPECT_FALSE(StatusRowState::firmwareAllowsWebcam("1.3"));
    EXPECT_FALSE(StatusRowState::firmwareAllowsWebcam("1.2"));
    EXPECT_FALSE(StatusRowState::firmwareAllowsWebcam(""));
    EXPECT_FALSE(StatusRowState::firmwareAllowsWebcam("1.4.0a"));
    EXPECT_FALSE(StatusRowState::firmwareAllowsWebcam("Please update firmware."));
}

TEST_F(RowState, TeamSyncOffGroupAndLeader) {
    auto c = camera("HVBT3A", "1.3.0", "HVBT3ACmd_4");
    // No value: both labels hidden.
    EXPECT_FALSE(state(c).details->teamSyncShown);
    c.record->DeviceParam->TEAMSYNC() = 0;
    EXPECT_TRUE(state(c).details->teamSyncShown);
    EXPECT_EQ(state(c).details->teamSyncText, LocalizedString::Str::off());
    c.record->DeviceParam->TEAMSYNC() = 1;
    c.record->DeviceParam->TEAMSYNC_GROUP() = 2;
    c.record->DeviceParam->BLE_TRIGGER_HOST() = 0;
    EXPECT_EQ(state(c).details->teamSyncText, "2");
    c.record->DeviceParam->BLE_TRIGGER_HOST() = 1;
    EXPECT_EQ(state(c).details->teamSyncText, "2 (" + LocalizedString::Str::leader() + ")");
}

TEST_F(RowState, FirmwareCurrentOrOlder) {
    auto c = camera("HW7334", "1.0.0", "HW7334Cmd_1");
    EXPECT_TRUE(state(c, true).details->firmwareCurrent);
    EXPECT_FALSE(state(c, true).details->upgradeShown);
    EXPECT_FALSE(state(c, false).details->firmwareCurrent);
    EXPECT_TRUE(state(c, false).details->upgradeShown);
    // Without a version the camera asks for an update.
    c.record->FWVersion.reset();
    EXPECT_EQ(state(c).details->firmwareText, LocalizedString::Msg::pleaseUpdateFirmware());
}

TEST_F(RowState, WithoutASnapshotTheUSBDescriptionSpeaks) {
    auto model = std::make_shared<HVBModel>("HVBR7000000001XYZ");
    auto usb = std::make_shared<USBDevice>();
    usb->name = "HVB R7 Camera";
    usb->serialNr = "HVBR7000000001XYZ";
    model->setUsbInfo(usb);
    const StatusRowState s = StatusRowState::make(model.get(), std::nullopt, true);
    EXPECT_EQ(s.deviceName, "HVBR7_000000");
    EXPECT_EQ(s.productName, "HVBR7Camera");
    EXPECT_EQ(s.uid, "HVBR70000000");
    EXPECT_EQ(s.webcamName, "HVB R7 Camera");
    EXPECT_FALSE(s.imageName);
    EXPECT_FALSE(s.details);
    // No camera at all: nothing to show.
    const StatusRowState none = StatusRowState::make(nullptr, std::nullopt, true);
    EXPECT_EQ(none.deviceName, "");
    EXPECT_FALSE(none.webcamMode);
}

TEST(TickTexts, Battery) {
    EXPECT_EQ(StatusRowState::batteryText({true, 57, false}), "57%");
    EXPECT_EQ(StatusRowState::batteryText({false, -56, false}), "-56%");
    EXPECT_EQ(StatusRowState::batteryText({true, 0, true}), "Full");
    EXPECT_EQ(StatusRowState::batteryText({true, 1, true}), "Charging...");
    EXPECT_EQ(StatusRowState::batteryText({true, 2, true}), "Charging...");
    EXPECT_EQ(StatusRowState::batteryText({true, 3, true}), "Charging...");
    EXPECT_EQ(StatusRowState::batteryText({false, 4, true}), "EXHAUSTED");
}

TEST(TickTexts, StorageWithRecordingTime) {
    const QString text = StatusRowState::storageText({31'200'000'000, 2 * 3600 + 49 * 60 + 30});
    EXPECT_TRUE(QRegularExpression(R"(^31[.,]2 GB \(2h 49m\)$)").match(text).hasMatch()) << text.toStdString();
    EXPECT_EQ(StatusRowState::durationText(59), "0m");
    EXPECT_EQ(StatusRowState::durationText(7200), "2h");
    EXPECT_EQ(StatusRowState::durationText(0), "0m");
    // A time that cannot be written leaves the bytes alone.
    const QString bytesOnly = StatusRowState::storageText({5'000'000, std::numeric_limits<double>::quiet_NaN()});
    EXPECT_FALSE(bytesOnly.contains('('));
    EXPECT_TRUE(bytesOnly.endsWith("MB")) << bytesOnly.toStdString();
}

// ---- the row's views ----

class Row : public RowState {};

TEST_F(Row, ViewsFollowTheState) {
    auto c = camera("HW7334", "1.0.0", "HW7334Cmd_1");
    c.record->isSDCardError = true;
    c.model->setStatusInfo(c.status);
    StatusTableViewCell row;
    row.resize(840, StatusTableViewCell::kRowHeight);
    row.show();
    row.setDeviceInfo(c.model);
    row.refresh(false);
    EXPECT_EQ(row.deviceNameLabel()->text(), "Unit 7");
    EXPECT_EQ(row.deviceNameLabel()->textFormat(), Qt::PlainText);
    EXPECT_TRUE(row.cardErrorMsgLabel()->isVisible());
    EXPECT_TRUE(row.formatButton()->isVisible());
    EXPECT_FALSE(row.folderButton()->isVisible());
    EXPECT_FALSE(row.upgradeButton()->isVisible());
    EXPECT_FALSE(row.webcamStackView()->isVisible());
    // No reading yet: no battery or storage view claims anything.
    EXPECT_FALSE(row.batteryIndicator()->isVisible());
    EXPECT_FALSE(row.volumeCapacityLabel()->isVisible());

    // Locked, then a refresh without a snapshot: the lock stays as it was.
    c.record->isSDCardError = false;
    c.record->isLockStatus = true;
    row.refresh(false);
    EXPECT_EQ(row.folderImageName(), "lockIconStatus");
    EXPECT_FALSE(row.editButton()->isVisible());
    c.model->setStatusInfo(std::nullopt);
    row.refresh(false);
    EXPECT_EQ(row.folderImageName(), "lockIconStatus");

    // Webcam mode: the webcam line and its two buttons instead of the rest.
    c.model->setStatusInfo(c.status);
    c.model->isWebcamMode = true;
    row.refresh(false);
    EXPECT_TRUE(row.webcamStackView()->isVisible());
    EXPECT_TRUE(row.webcamTestButton()->isVisible());
    EXPECT_TRUE(row.msdcRecoverButton()->isVisible());
    EXPECT_FALSE(row.buttonStackView()->isVisible());
    EXPECT_FALSE(row.fwStackView()->isVisible());
    EXPECT_FALSE(row.teamSyncStackView()->isVisible());
    row.startRefreshTimer();
    EXPECT_FALSE(row.hasRefreshTimer());
}

// A delegate that keeps the row's read requests instead of reading a camera.
class HeldReads : public StatusTableViewCellDelegate {
public:
    void findDeviceBuzzer(const StatusModel&) override {}
    void openDeviceFolder(const StatusModel&) override {}
    void startFirmwareUpgrade(const StatusModel&) override {}
    void readDeviceState(const StatusModel&, ReadingsDone done) override { pending.push_back(std::move(done)); }
    void performCameraWork(std::function<void()> work) override { work(); }
    appkit::ViewController* presentingController() override { return &presenter; }
    EditViewControllerDelegate* editDelegate() override { return nullptr; }

    std::vector<ReadingsDone> pending;
    appkit::ViewController presenter;
};

TEST_F(Row, ATickWaitsForThePreviousReadsAndDropsThoseOfAnotherCamera) {
    auto c = camera("HW7334", "1.0.0", "HW7334Cmd_1");
    c.model->setStatusInfo(c.status);
    HeldReads delegate;
    StatusTableViewCell row;
    row.setDeviceInfo(c.model);
    row.setDelegate(&delegate);
    row.refresh(false);
    row.refreshTick();
    row.refreshTick();
    row.refreshTick();
    ASSERT_EQ(delegate.pending.size(), 1u);
    EXPECT_TRUE(row.isReadingInFlight());
    delegate.pending[0](BatteryReading{false, 40, false}, StorageReading{2'000'000'000, 600});
    EXPECT_FALSE(row.isReadingInFlight());
    EXPECT_EQ(row.batteryCapacityLabel()->text(), "40%");
    EXPECT_TRUE(row.volumeCapacityLabel()->text().endsWith("(10m)"));

    // No reading: the views keep what they showed.
    row.refreshTick();
    ASSERT_EQ(delegate.pending.size(), 2u);
    delegate.pending[1](BatteryReading{}, std::nullopt);
    EXPECT_EQ(row.batteryCapacityLabel()->text(), "40%");

    // The row shows another camera by the time the reads come back: they are not about it.
    row.refreshTick();
    ASSERT_EQ(delegate.pending.size(), 3u);
    auto other = camera("HVBS2A", "1.13.0", "HVBS2ACmd_6");
    other.model->setStatusInfo(other.status);
    row.setDeviceInfo(other.model);
    delegate.pending[2](BatteryReading{true, 99, false}, StorageReading{1, 1});
    EXPECT_EQ(row.batteryCapacityLabel()->text(), "");
    EXPECT_FALSE(row.isReadingInFlight());

    // Without a delegate, no tick reads anything.
    row.setDelegate(nullptr);
    row.refreshTick();
    EXPECT_EQ(delegate.pending.size(), 3u);
}

}  // namespace
