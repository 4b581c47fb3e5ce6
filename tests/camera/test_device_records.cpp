// Device records, model objects, snapshots and the small text rules of the camera link.
#include <gtest/gtest.h>

#include "camera/BVConfigIni.h"
#include "camera/CameraLinkHooks.h"
#include "camera/CommandTables.h"
#include "camera/DeviceInfoReader.h"
#include "camera/DeviceSettingWriter.h"
#include "camera/DeviceState.h"
#include "camera/HVBModel.h"
#include "camera/SerialMatch.h"
#include "camera/Settings.h"
#include "camera/StatusModel.h"
#include "camera/USBDevice.h"

using namespace hvb;

TEST(DeviceRecords, NewRecordsStartUnknownAndKeysJoinSerialAndBSDName) {
    sDeviceParam settings;
    for (int64_t value : settings.values) EXPECT_EQ(value, -1);
    settings.LED() = 1;
    EXPECT_EQ(settings[EnumSettings::LED], 1);
    EXPECT_EQ(settings.values[14], 1);

    DiskDriver_Parameter record;
    EXPECT_EQ(record.cut, 0);
    EXPECT_FALSE(record.UID.has_value());
    EXPECT_FALSE(record.isBlockedForRemoval());
    record.isFWUpgradeBlock = true;
    EXPECT_TRUE(record.isBlockedForRemoval());
    EXPECT_EQ(record.commandTableName(), "");
    record.ModelName = "HVBS2A";
    record.cut = 5;
    EXPECT_EQ(record.commandTableName(), "HVBS2ACmd_5");

    EXPECT_EQ(deviceKey("966110000000100", "disk4"), "966110000000100disk4");
    EXPECT_EQ(deviceKey("HVB123", ""), "HVB123");
}

TEST(DeviceRecords, ShortLabelsTakeWhatTheSerialHas) {
    USBDevice device;
    device.name = "HVB Body Camera";
    EXPECT_FALSE(device.shortLabel().has_value());
    device.serialNr = "ABCDEF123456789";
    EXPECT_EQ(device.shortLabel(), "HVBBo_123456");
    device.serialNr = "ABCDEF12";
    EXPECT_EQ(device.shortLabel(), "HVBBo_12");
    device.serialNr = "ABC";
    EXPECT_EQ(device.shortLabel(), "HVBBo_");
    device.name = "Ä B";
    device.serialNr = "012345ÄÖÜ";
    EXPECT_EQ(device.shortLabel(), "ÄB_ÄÖÜ");
}

TEST(DeviceRecords, FamiliesAndStatusPictures) {
    EXPECT_EQ(familyName("HVBS2"), "Not Support");
    EXPECT_EQ(familyName("HW7313"), "HVBR4C");
    EXPECT_EQ(familyName("HW7312"), "HVBR4B");
    EXPECT_EQ(familyName("HW7360"), "HVBT9A");
    EXPECT_EQ(familyName("HW7334"), "HVBS2A");
    EXPECT_EQ(HVBModel::statusImageName(familyName("HW7313")), "img_Status_HVBR4");
    EXPECT_EQ(HVBModel::statusImageName(familyName("HW7360")), "img_Status_HVBT9");
    EXPECT_FALSE(HVBModel::statusImageName(familyName("HVBX")).has_value());
}

TEST(DeviceRecords, SnapshotsNeedARecordAModelAndATable) {
    buildAllCommandTables();
    auto& state = DeviceState::shared();
    state.reset();
    EXPECT_FALSE(StatusModel::make("none").has_value());
    auto record = std::make_shared<DiskDriver_Parameter>();
    state.storeRecord("A", record);
    EXPECT_FALSE(StatusModel::make("A").has_value());  // no model
    record->ModelName = "HVBS2A";
    record->cut = 0;  // HVBS2A has no table 0
    EXPECT_FALSE(StatusModel::make("A").has_value());
    record->cut = 6;
    auto status = StatusModel::make("A");
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->parameters, record);  // shared, not copied
    EXPECT_EQ(status->commands.at("HVB_WEBCAMMODE"), 0xE1);

    EXPECT_FALSE(status->bleTriggerHost().has_value());  // no settings
    record->DeviceParam = std::make_shared<sDeviceParam>();
    EXPECT_FALSE(status->teamSync().has_value());  // -1
    record->DeviceParam->BLE_TRIGGER_HOST() = 2;
    record->DeviceParam->TEAMSYNC() = 0;
    EXPECT_EQ(status->bleTriggerHost(), true);
    EXPECT_EQ(status->teamSync(), false);
    state.reset();
}

TEST(DeviceRecords, FirmwareFreshnessAsksTheFirmwareService) {
    auto record = std::make_shared<DiskDriver_Parameter>();
    StatusModel status{record, {}};
    int asked = 0;
    std::atomic<int> downloads{0};
    CameraLinkHooks hooks;
    hooks.isFirmwareUpToDate = [&](const std::string& model, const std::string& version) {
        ++asked;
        EXPECT_EQ(model, "");
        return version == "1.0.0";
    };
    hooks.downloadReleaseNotes = [&] { ++downloads; };
    setCameraLinkHooks(hooks);
    EXPECT_TRUE(status.refreshFirmwareInfo());  // no version: nothing asked
    EXPECT_EQ(asked, 0);
    record->FWVersion = "1.0.0";
    EXPECT_TRUE(status.refreshFirmwareInfo());
    record->FWVersion = "0.9.0";
    EXPECT_FALSE(status.refreshFirmwareInfo());
    for (int i = 0; i < 200 && downloads.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(downloads.load(), 1);
    EXPECT_EQ(asked, 2);
    setCameraLinkHooks({});
}

TEST(DeviceRecords, StateChangesAreSnapshotsUnderOneLock) {
    auto& state = DeviceState::shared();
    state.reset();
    bool created = false;
    auto model = state.ensureModel("SN1", &created);
    EXPECT_TRUE(created);
    EXPECT_EQ(state.ensureModel("SN1", &created), model);
    EXPECT_FALSE(created);
    auto snapshot = state.modelList();
    EXPECT_EQ(state.removeModels("SN1"), 1u);
    EXPECT_EQ(snapshot.size(), 1u);  // a snapshot does not change under its reader
    EXPECT_TRUE(state.modelList().empty());

    state.appendEntry({"A", "", 0});
    state.appendEntry({"B", "", 1});
    EXPECT_FALSE(state.selectedEntry().has_value());
    state.selectedDeviceIndex = 1;
    EXPECT_EQ(state.selectedEntry()->serialNumber, "B");
    state.selectedDeviceIndex = 2;
    EXPECT_FALSE(state.selectedEntry().has_value());

    auto record = std::make_shared<DiskDriver_Parameter>();
    record->DeviceParam = std::make_shared<sDeviceParam>();
    state.storeRecord("A", record);
    auto copy = state.recordCopy("A");
    EXPECT_TRUE(state.updateRecord("A", [](DiskDriver_Parameter& r) { r.DeviceParam->LED() = 1; }));
    EXPECT_FALSE(state.updateRecord("Z", [](DiskDriver_Parameter&) {}));
    EXPECT_EQ(copy->DeviceParam->LED(), -1);  // copies do not share settings
    EXPECT_EQ(record->DeviceParam->LED(), 1);
    state.reset();
}

TEST(TextRules, SerialMatchingNeverMatchesAnEmptyNeedle) {
    EXPECT_FALSE(serialContains("ABC", "", MatchCase::sensitive));
    EXPECT_FALSE(serialContains("", "", MatchCase::insensitive));
    EXPECT_TRUE(serialContains("XXABCYY", "ABC", MatchCase::sensitive));
    EXPECT_FALSE(serialContains("XXABCYY", "abc", MatchCase::sensitive));
    EXPECT_TRUE(serialContains("XXABCYY", "abc", MatchCase::insensitive));
    EXPECT_FALSE(serialContains("AB", "ABC", MatchCase::insensitive));
    EXPECT_FALSE(serialEquals("", ""));
    EXPECT_TRUE(serialEquals("A", "A"));
}

TEST(TextRules, TimeZoneTextsAndOffsets) {
    EXPECT_EQ(timeZoneRawValue("+05:30"), static_cast<int64_t>(TIME_ZONE::P_05_30));
    EXPECT_EQ(timeZoneRawValue("-05:00"), static_cast<int64_t>(TIME_ZONE::N_05_00));
    EXPECT_EQ(timeZoneRawValue("+00:00"), static_cast<int64_t>(TIME_ZONE::P_00_00));
    EXPECT_EQ(timeZoneRawValue("+05:31"), -1);
    EXPECT_EQ(timeZoneRawValue("+5"), -1);
    EXPECT_EQ(timeZoneRawValue(""), -1);
    EXPECT_EQ(timeZoneRawValue("+٠٥:٣٠"), -1);  // digits must be the option's own

    EXPECT_EQ(utcOffsetText(-5 * 3600), "-05:00");
    EXPECT_EQ(utcOffsetText(5 * 3600 + 1800), "+05:30");
    EXPECT_EQ(utcOffsetText(0), "+00:00");
    EXPECT_EQ(utcOffsetText(-(9 * 3600 + 1800)), "-09:30");
    EXPECT_EQ(utcOffsetText(14 * 3600), "+14:00");

    EXPECT_EQ(timeZoneOptionText(static_cast<int64_t>(TIME_ZONE::N_03_30)), "-03:30");
    EXPECT_EQ(timeZoneOptionText(38), "+14:00");
    EXPECT_EQ(timeZoneOptionText(39), "");
    EXPECT_EQ(timeZoneOptionText(-1), "");
    for (int64_t raw = 0; raw < 39; ++raw) EXPECT_EQ(timeZoneRawValue(timeZoneOptionText(raw)), raw);
    // The settings table's text of the same option is another name with its "UTC" prefix.
    for (int64_t raw = 0; raw < 39; ++raw)
        EXPECT_EQ("UTC" + timeZoneOptionText(raw), timeZoneTableText(*fromRawValue<TIME_ZONE>(raw)));
}

TEST(TextRules, TheConfigurationLineAndItsModels) {
    sDeviceParam s;
    s.LED() = 0;
    s.BUZZERSWITCH() = 1;
    s.VIBRATOR() = 0;
    EXPECT_EQ(bvConfigLine(s), "-1010");
    s.STEALTH() = 0;
    s.LED() = 1;
    EXPECT_EQ(bvConfigLine(s), "0110");
    EXPECT_TRUE(modelUsesBVConfig("HW7333"));
    EXPECT_TRUE(modelUsesBVConfig("HW7334"));
    EXPECT_TRUE(modelUsesBVConfig("HW7360"));
    EXPECT_FALSE(modelUsesBVConfig("HW7312"));
    EXPECT_FALSE(modelUsesBVConfig("HVBT3A"));
}
