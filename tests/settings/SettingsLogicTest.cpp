// The Setting panel's decisions without a camera: the option lists, the table builder and the
// rules of its cells, the selector, and the writes against a link in memory.
#include <gtest/gtest.h>

#include "Describe.h"
#include "camera/FakeCameraLink.h"
#include "common/CameraSelectorModel.h"
#include "common/SettingOptions.h"
#include "settings/HWKeyReset.h"
#include "settings/SettingWrite.h"
#include "settings/SettingsTableBuilder.h"
#include "settings/SettingsViewController.h"

using hvb::CommandDictionary;
using hvb::CameraSelectorItem;
using hvb::CameraSelectorModel;
using hvb::DiskDriver_Parameter;
using hvb::EnumSettings;
using hvb::HWKeyReset;
using hvb::HWKeyResetRequest;
using hvb::HWKeyResetResult;
using hvb::SettingInterlock;
using hvb::Settings;
using hvb::SettingsBuild;
using hvb::SettingsRuleState;
using hvb::SettingsTableBuilder;
using hvb::SettingWrite;
using hvb::SettingWriteRequest;
using hvb::SettingWriteResult;
using hvb::sDeviceParam;
namespace SettingOptions = hvb::SettingOptions;
using settingstest::describe;
using hvbtest::FakeCameraLink;
using hvbtest::FakeEvent;
using hvbtest::FakeWrite;
using Lines = std::vector<std::string>;

namespace {

DiskDriver_Parameter camera(const std::string& model, std::initializer_list<std::pair<EnumSettings, int64_t>> values) {
    DiskDriver_Parameter record;
    record.ModelName = model;
    record.UID = model + "UID";
    record.DeviceParam = std::make_shared<sDeviceParam>();
    for (auto [key, value] : values) record.DeviceParam->set(key, value);
    return record;
}

CommandDictionary tableWith(std::initializer_list<const char*> names) {
    CommandDictionary table;
    uint8_t code = 0x10;
    for (const char* name : names) table[name] = code++;
    return table;
}

using enum EnumSettings;

}  // namespace

TEST(SettingOptions, ListsHoldTheirOptionsInValueOrder) {
    namespace O = SettingOptions;
    EXPECT_EQ(O::ledOptions(), (QStringList{"OFF", "ON"}));
    EXPECT_EQ(O::eisOptions(), (QStringList{"OFF", "ON"}));
    EXPECT_EQ(O::lightFrequencyOptions(), (QStringList{"50 Hz", "60 Hz"}));
    EXPECT_EQ(O::timeFormatOptions(), (QStringList{"24HR", "AM/PM"}));
    EXPECT_EQ(O::infraredOptions(), (QStringList{"Manual", "Auto"}));
    EXPECT_EQ(O::recordingModeOptions(), (QStringList{"Buffering mode", "Recording mode"}));
    EXPECT_EQ(O::snapshotButtonOptions(), (QStringList{"Infrared LED", "Audio Recording"}));
    EXPECT_EQ(O::snapshotButtonWifiOptions(), (QStringList{"Wi-Fi function", "Audio Recording"}));
    EXPECT_EQ(O::dateFormatOptions(), (QStringList{"YYYY/MM/DD", "MM/DD/YYYY", "DD/MM/YYYY"}));
    EXPECT_EQ(O::sampleRateOptions(), (QStringList{"48000 Hz", "44100 Hz", "32000 Hz", "24000 Hz", "22050 Hz"}));
    EXPECT_EQ(O::syncTimeOptions(), (QStringList{"Set"}));
    EXPECT_EQ(O::videoLengthOptions(), (QStringList{"3 mins", "5 mins", "10 mins"}));
    EXPECT_EQ(O::bufferLengthOptions(), (QStringList{"30 Seconds", "60 Seconds", "90 Seconds", "120 Seconds"}));
    EXPECT_EQ(O::shortBufferLengthOptions(), (QStringList{"30 Seconds", "60 Seconds"}));
    EXPECT_EQ(O::teamSyncGroupOptions(), (QStringList{"OFF", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
    EXPECT_EQ(O::fileFormatOptions(), (QStringList{"MOV", "MP4"}));
    EXPECT_EQ(O::resolutionOptions(), (QStringList{"1080P", "720P"}));
    EXPECT_EQ(O::resolutionOptions480(), (QStringList{"1080P", "720P", "480P"}));
    EXPECT_EQ(O::resolutionFpsOptions(), (QStringList{"1080P/60FPS", "1080P/30FPS", "720P/60FPS", "720P/30FPS"}));
    EXPECT_EQ(O::resolutionFpsOptions480(),
              (QStringList{"1080P/60FPS", "1080P/30FPS", "720P/60FPS", "720P/30FPS", "480P/30FPS"}));
    EXPECT_EQ(O::resolution1440FpsOptions(),
              (QStringList{"1440P/30FPS", "1080P/60FPS", "1080P/30FPS", "720P/30FPS", "480P/30FPS"}));
    EXPECT_EQ(O::resolution1440Options(), (QStringList{"1440P", "1080P", "720P", "480P"}));
    const QStringList& zones = O::timeZoneOptions();
    ASSERT_EQ(zones.size(), 39);
    EXPECT_EQ(zones[0], "UTC-12:00");
    EXPECT_EQ(zones[3], "UTC-09:30");
    EXPECT_EQ(zones[14], "UTC+00:00");
    EXPECT_EQ(zones[23], "UTC+05:45");
    EXPECT_EQ(zones[36], "UTC+12:45");
    EXPECT_EQ(zones[38], "UTC+14:00");
    // Built once: later calls give the same list.
    EXPECT_EQ(&O::videoLengthOptions(), &O::videoLengthOptions());
}

TEST(SettingsTableBuilder, ResolutionListsFollowTheModel) {
    const QStringList r2{"1080P", "720P"};
    const QStringList r480{"1080P", "720P", "480P"};
    const QStringList fps{"1080P/60FPS", "1080P/30FPS", "720P/60FPS", "720P/30FPS"};
    const QStringList fps480{"1080P/60FPS", "1080P/30FPS", "720P/60FPS", "720P/30FPS", "480P/30FPS"};
    const QStringList q1440fps{"1440P/30FPS", "1080P/60FPS", "1080P/30FPS", "720P/30FPS", "480P/30FPS"};
    const QStringList q1440{"1440P", "1080P", "720P", "480P"};
    const std::vector<std::pair<std::string, QStringList>> cases = {
        {"HVBR4", r2},      {"HVBR7", r2},      {"HVBS8", r2},          {"HVBR4B", r2},
        {"HVBS2A", r480},   {"HVBT3A", r480},   {"HW7351", r480},       {"HW7352", r480},
        {"HW7312", fps},    {"HW7313", fps},    {"HW7331", fps480},     {"HW7332", fps480},
        {"HW7333", q1440fps}, {"HW7334", q1440fps}, {"HW7360", q1440}};
    for (const auto& [model, options] : cases) {
        SettingsBuild b = SettingsTableBuilder::build(camera(model, {{RESOLUTION, 1}}), std::nullopt);
        ASSERT_FALSE(b.videoRows.empty()) << model;
        EXPECT_EQ(b.videoRows[0].identifier, "HVB_RESOLUTION") << model;
        EXPECT_EQ(b.videoRows[0].comboxBoxValue, options) << model;
        EXPECT_EQ(b.videoRows[0].selectedIndex, 1) << model;
    }
    // A value past the model's list gives no row, without a message.
    SettingsBuild r4 = SettingsTableBuilder::build(camera("HVBR4", {{RESOLUTION, 2}}), std::nullopt);
    EXPECT_EQ(describe(r4.videoRows, r4.videoCells), (Lines{"---", "---"}));
}

TEST(SettingsTableBuilder, RowsNeedAValidValueButTheClockRowAndSeparatorsAlwaysShow) {
    SettingsBuild b = SettingsTableBuilder::build(camera("HVBT3A", {{TIME_ZONE, 22}, {STEALTH, -1}, {LED, 2}}), std::nullopt);
    EXPECT_EQ(describe(b.deviceRows, b.deviceCells),
              (Lines{"Time Zone : UTC+05:30/39", "Sync time with PC : [Set]", "---", "---"}));
    EXPECT_TRUE(b.videoRows.size() == 2 && b.stampRows.empty());

    // A record without settings: nothing but the clock row and the separators.
    DiskDriver_Parameter bare;
    bare.ModelName = "HW7360";
    SettingsBuild none = SettingsTableBuilder::build(bare, std::nullopt);
    EXPECT_EQ(describe(none.deviceRows, none.deviceCells), (Lines{"Sync time with PC : [Set]", "---", "---"}));
    EXPECT_FALSE(none.showsHWKeyReset);
    EXPECT_EQ(none.curUID, "");
}

TEST(SettingsTableBuilder, TheSnapshotButtonDecidesTheRowsAfterIt) {
    struct Case {
        std::string model;
        int64_t voice;
        Lines group;
    };
    const std::vector<Case> cases = {
        {"HVBR7", 0, {"Snapshot Button : Wi-Fi function/2"}},
        {"HVBR7", 1, {"Snapshot Button : Audio Recording/2", "Audio Sample Rate : 32000 Hz/5"}},
        {"HVBS8", 1, {"Snapshot Button : Audio Recording/2", "Audio Sample Rate : 32000 Hz/5"}},
        {"HVBR7", -1, {"Audio Sample Rate : 32000 Hz/5"}},
        {"HW7312", 0, {"Snapshot Button : Infrared LED/2", "Infrared LED : Auto/2"}},
        {"HW7312", 1, {"Snapshot Button : Audio Recording/2", "Audio Sample Rate : 32000 Hz/5"}},
        {"HW7312", -1, {"Infrared LED : Auto/2", "Audio Sample Rate : 32000 Hz/5"}},
        {"HW7334", 2, {"Infrared LED : Auto/2", "Audio Sample Rate : 32000 Hz/5"}},
    };
    for (const Case& c : cases) {
        SettingsBuild b = SettingsTableBuilder::build(
            camera(c.model, {{VOICE_RECORDING, c.voice}, {IRSWITCH, 1}, {VOICE_SAMPLERATE, 2}}), std::nullopt);
        Lines expected{"Sync time with PC : [Set]", "---", "---"};
        expected.insert(expected.end(), c.group.begin(), c.group.end());
        EXPECT_EQ(describe(b.deviceRows, b.deviceCells), expected) << c.model << " " << c.voice;
    }
}

TEST(SettingsTableBuilder, SomeResolutionsOnlyOfferShortBuffersAndTheRecordKeepsItsValue) {
    struct Case {
        std::string model;
        int64_t resolution, buffer;
        std::string row;
    };
    const std::vector<Case> cases = {
        {"HW7333", 0, 3, "Buffered Video Length : 60 Seconds/2"},
        {"HW7334", 4, 2, "Buffered Video Length : 60 Seconds/2"},
        {"HW7334", 4, 0, "Buffered Video Length : 30 Seconds/2"},
        {"HW7333", 1, 3, "Buffered Video Length : 120 Seconds/4"},
        {"HW7360", 0, 3, "Buffered Video Length : 60 Seconds/2"},
        {"HW7360", 3, 2, "Buffered Video Length : 60 Seconds/2"},
        {"HW7360", 4, 2, "Buffered Video Length : 90 Seconds/4"},
        {"HVBS2A", 0, 3, "Buffered Video Length : 120 Seconds/4"},
    };
    for (const Case& c : cases) {
        DiskDriver_Parameter record = camera(c.model, {{RESOLUTION, c.resolution}, {BUFFERLENGTH, c.buffer}});
        SettingsBuild b = SettingsTableBuilder::build(record, std::nullopt);
        ASSERT_FALSE(b.videoRows.empty());
        auto lines = describe(b.videoRows, b.videoCells);
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.row), lines.end()) << c.model << " " << c.resolution;
        EXPECT_EQ(record.DeviceParam->BUFFERLENGTH(), c.buffer);
    }
}

TEST(SettingsTableBuilder, TheRecordingModeRowTakesTheDefaultStatusFormWhenTheTableHasIt) {
    auto record = camera("HW7360", {{MICROPHONE, 1}, {RECORDINGMODE, 0}, {DEFAULT_RECORD_STATUS, 1},
                                    {BUFFERLENGTH, 1}, {BUFFERAUDIO, 1}, {RESOLUTION, 1}});
    SettingsBuild status = SettingsTableBuilder::build(record, tableWith({"HVB_DEFAULT_RECORD_STATUS"}));
    EXPECT_EQ(status.rules.defaultRecordingModeIndex, 1);
    EXPECT_EQ(describe(status.videoRows, status.videoCells),
              (Lines{"Resolution : 1080P/4", "---", "---", "Microphone : ON/2", "Default Recording Mode : Recording mode/2",
                     "(blank)", "(blank)"}));
    EXPECT_EQ(status.videoRows[4].identifier, "HVB_DEFAULT_RECORD_STATUS");

    // Without it (or without any table) the row is the recording mode's.
    SettingsBuild mode = SettingsTableBuilder::build(record, std::nullopt);
    EXPECT_EQ(mode.videoRows[4].identifier, "HVB_RECORDINGMODE");
    EXPECT_EQ(describe(mode.videoRows, mode.videoCells)[4], "Default Recording Mode : Buffering mode/2");
    EXPECT_EQ(describe(mode.videoRows, mode.videoCells)[5], "Buffered Video Length : 60 Seconds/4");
    EXPECT_EQ(mode.rules.defaultRecordingModeIndex, 0);
}

TEST(SettingsTableBuilder, OneChoiceGovernsOthersInTheSameBuild) {
    auto record = camera("HVBS2A", {{STEALTH, 1}, {LED, 1}, {BUZZERSWITCH, 1}, {VIBRATOR, 1}, {MICROPHONE, 0},
                                    {RECORDINGMODE, 0}, {BUFFERLENGTH, 2}, {BUFFERAUDIO, 1}, {VIDEOSTAMP, 0},
                                    {DATEFORMAT, 2}, {TIMEFORMAT, 1}, {WATERMARK, 1}});
    SettingsBuild b = SettingsTableBuilder::build(record, std::nullopt);
    EXPECT_EQ(describe(b.deviceRows, b.deviceCells),
              (Lines{"Sync time with PC : [Set]", "---", "Stealth Mode : ON/2", "LED Indicator : OFF/2 !",
                     "Buzzer : OFF/2 !", "Vibrator : OFF/2 !", "---"}));
    EXPECT_EQ(describe(b.videoRows, b.videoCells),
              (Lines{"---", "---", "Microphone : OFF/2", "Default Recording Mode : Buffering mode/2",
                     "Buffered Video Length : 90 Seconds/4", "Buffering Recording Audio : OFF/2 !"}));
    EXPECT_EQ(describe(b.stampRows, b.stampCells),
              (Lines{"Video Stamp : OFF/2", "Date Format : DD/MM/YYYY/3 !", "Time Format : AM/PM/2 !",
                     "Watermark : OFF/2 !"}));
    // Only what is shown changes: the rows keep the camera's values.
    EXPECT_EQ(b.deviceRows[3].selectedIndex, 1);
    EXPECT_EQ(b.stampRows[3].selectedIndex, 1);
    EXPECT_EQ(b.rules, (SettingsRuleState{1, 0, 0, 0}));

    // Recording mode: both buffering rows keep their place, blank.
    record.DeviceParam->RECORDINGMODE() = 1;
    SettingsBuild recording = SettingsTableBuilder::build(record, std::nullopt);
    EXPECT_EQ(describe(recording.videoRows, recording.videoCells),
              (Lines{"---", "---", "Microphone : OFF/2", "Default Recording Mode : Recording mode/2", "(blank)",
                     "(blank)"}));
}

TEST(SettingsTableBuilder, EachBuildStartsWithoutTheRulesOfAnEarlierCamera) {
    // Built after one whose stealth, microphone, recording mode and stamp governed the others.
    SettingsBuild earlier = SettingsTableBuilder::build(
        camera("HVBS2A", {{STEALTH, 1}, {MICROPHONE, 0}, {RECORDINGMODE, 1}, {VIDEOSTAMP, 0}}), std::nullopt);
    ASSERT_EQ(earlier.rules, (SettingsRuleState{1, 0, 1, 0}));
    SettingsBuild b = SettingsTableBuilder::build(
        camera("HVBS2A", {{LED, 1}, {BUFFERLENGTH, 1}, {BUFFERAUDIO, 1}, {WATERMARK, 1}, {DATEFORMAT, 1}}),
        std::nullopt);
    EXPECT_EQ(b.rules, SettingsRuleState{});
    EXPECT_EQ(describe(b.deviceRows, b.deviceCells),
              (Lines{"Sync time with PC : [Set]", "---", "LED Indicator : ON/2", "---"}));
    EXPECT_EQ(describe(b.videoRows, b.videoCells),
              (Lines{"---", "---", "Buffered Video Length : 60 Seconds/4", "Buffering Recording Audio : ON/2"}));
    EXPECT_EQ(describe(b.stampRows, b.stampCells), (Lines{"Date Format : MM/DD/YYYY/3", "Watermark : ON/2"}));
}

TEST(SettingsTableBuilder, TheLockDecidesTheLockButtonTheRadiosAndEveryControl) {
    auto record = camera("HW7334", {{LED, 1}, {HWKEY_RESET, 0}});
    record.isDeviceEncryption = true;
    record.isLockStatus = true;
    SettingsBuild locked = SettingsTableBuilder::build(record, std::nullopt);
    EXPECT_EQ(locked.lockButton, SettingsBuild::LockButton::locked);
    EXPECT_FALSE(locked.radiosEnabled);
    EXPECT_TRUE(locked.lockFlag);
    EXPECT_EQ(describe(locked.deviceRows, locked.deviceCells),
              (Lines{"Sync time with PC : [Set] !", "---", "LED Indicator : ON/2 !", "---"}));

    record.isLockStatus = false;
    SettingsBuild unlocked = SettingsTableBuilder::build(record, std::nullopt);
    EXPECT_EQ(unlocked.lockButton, SettingsBuild::LockButton::unlocked);
    EXPECT_TRUE(unlocked.radiosEnabled);
    EXPECT_TRUE(unlocked.showsHWKeyReset);
    EXPECT_EQ(unlocked.hwKeyReset, 0);

    // Without encryption there is no lock button; the radios still follow the lock alone.
    record.isDeviceEncryption.reset();
    record.isLockStatus = true;
    SettingsBuild plain = SettingsTableBuilder::build(record, std::nullopt);
    EXPECT_EQ(plain.lockButton, SettingsBuild::LockButton::hidden);
    EXPECT_FALSE(plain.radiosEnabled);
    record.isLockStatus.reset();
    EXPECT_TRUE(SettingsTableBuilder::build(record, std::nullopt).radiosEnabled);
}

TEST(SettingsTableBuilder, TheHardwareKeyGroupAndOldFirmware) {
    SettingsBuild two = SettingsTableBuilder::build(camera("HVBT3A", {{HWKEY_RESET, 2}}), std::nullopt);
    EXPECT_TRUE(two.showsHWKeyReset);
    EXPECT_EQ(two.hwKeyReset, 2);
    EXPECT_FALSE(SettingsTableBuilder::build(camera("HVBT3A", {}), std::nullopt).showsHWKeyReset);

    auto old = camera("HVBR4", {{RESOLUTION, 1}, {HWKEY_RESET, 1}});
    old.isOldFirmware = true;
    old.isDeviceEncryption = true;
    SettingsBuild b = SettingsTableBuilder::build(old, tableWith({"HVB_RESOLUTION"}));
    EXPECT_TRUE(b.oldFirmware);
    EXPECT_TRUE(b.deviceRows.empty() && b.videoRows.empty() && b.stampRows.empty());
    EXPECT_FALSE(b.showsHWKeyReset);
    EXPECT_EQ(b.lockButton, SettingsBuild::LockButton::hidden);
}

TEST(SettingsTableBuilder, WidthsHaveAMinimumAndNeverShrink) {
    auto measure = [](const QString& text) { return 10.0 * text.size(); };
    double width = 0;
    SettingsTableBuilder::growWidth(width, {Settings{"A :", {"OFF", "ON"}, 1, "HVB_LED"}}, measure);
    EXPECT_EQ(width, 160);
    std::vector<Settings> wide{Settings::separator(),
                               Settings{"R :", {"480P", "1440P/30FPS (wide)", "a much longer option"}, 1, "HVB_RESOLUTION"}};
    SettingsTableBuilder::growWidth(width, wide, measure);
    EXPECT_EQ(width, 180 + 30);  // the selected text, not the longest option
    SettingsTableBuilder::growWidth(width, {Settings{"A :", {"OFF", "ON"}, 0, "HVB_LED"}}, measure);
    EXPECT_EQ(width, 210);
}

TEST(CameraSelector, ListsCamerasWithRecordsByLabelOrUpperCaseUID) {
    FakeCameraLink link;
    link.addCamera("r7serial", "HVBR7").UserLabel = "Patrol 7";
    link.addCamera("nolabel", "HW7334").UserLabel = "";
    link.entries.push_back({"reading", "", 2});  // brought up but not read yet
    ++link.count;
    link.addCamera("named", "HVBS2A").UserLabel = hvb::modelDisplayNames().at("HVBS2A");
    link.addCamera("unknown", "HVBX9").UserLabel = "Odd";
    auto& old = link.addCamera("old", "HVBR4");
    old.isOldFirmware = true;
    old.UID.reset();
    old.UserLabel = "PS-0042";
    link.addCamera("beyond", "HVBR7").UserLabel = "Not counted";
    --link.count;

    const std::vector<CameraSelectorItem> expected = {
        {"Patrol 7", 0}, {"NOLABEL", 1}, {"NAMED", 3}, {"PS-0042", 5}};
    EXPECT_EQ(CameraSelectorModel::items(link, hvb::UnnamedCamera::serial), expected);

    EXPECT_EQ(CameraSelectorModel::clampedIndex(-1, 2), 0);
    EXPECT_EQ(CameraSelectorModel::clampedIndex(2, 2), 1);
    EXPECT_EQ(CameraSelectorModel::clampedIndex(7, 3), 2);
    EXPECT_EQ(CameraSelectorModel::clampedIndex(1, 3), 1);
    EXPECT_TRUE(CameraSelectorModel::actsOnSelection(0, -1));
    EXPECT_FALSE(CameraSelectorModel::actsOnSelection(0, 0));
    EXPECT_FALSE(CameraSelectorModel::actsOnSelection(2, -1));
    EXPECT_TRUE(CameraSelectorModel::actsOnSelection(2, 1));
    EXPECT_FALSE(hvb::SettingsViewController::tabsSelectable(0));
    EXPECT_TRUE(hvb::SettingsViewController::tabsSelectable(1));
}

TEST(SettingWrite, ActionsNameTheChoiceAsAnalyticsExpects) {
    auto action = [](const char* id, int64_t index, const std::string& title = "") {
        return SettingWrite::action(*SettingWrite::row(id), index, title);
    };
    EXPECT_EQ(action("HVB_LED", 1), "LED Indicator ENABLE");
    EXPECT_EQ(action("HVB_BUFFERAUDIO", 0), "Buffer Audio DISABLE");
    EXPECT_EQ(action("HVB_RESOLUTION", 3, "720P/30FPS"), "Resolution 720P/30FPS");
    EXPECT_EQ(action("HVB_VOICE_RECORDING", 0), "Snapshot Button IR");
    EXPECT_EQ(action("HVB_VOICE_RECORDING", 1), "Snapshot Button Voice");
    EXPECT_EQ(action("HVB_VOICE_RECORDING", 2), "");
    EXPECT_EQ(action("HVB_TIME_ZONE", 22), "Time Zone P_05_30");
    EXPECT_EQ(action("HVB_TIME_ZONE", 39), "Time Zone ");
    EXPECT_EQ(action("HVB_VIDEOLENGTH", 4), "Video Length ");
    EXPECT_EQ(action("HVB_RECORDINGMODE", 1), "Default Recording Mode Mode_Record");
    EXPECT_EQ(action("HVB_DEFAULT_RECORD_STATUS", 1), "Default Recording Mode STATUS_Record");
    EXPECT_EQ(action("HVB_VOICE_SAMPLERATE", 4), "Audio Sample Rate SR_22050");
    EXPECT_EQ(action("HVB_FILEFORMAT", 1), "Video Format MP4");
    EXPECT_EQ(action("HVB_EIS", 0, "res2eis_disable"), "Image Stabilization DISABLE");
    EXPECT_EQ(SettingWrite::row("HVB_HWKEY_RESET"), nullptr);
    EXPECT_EQ(SettingWrite::row("HVB_SYNCTIME"), nullptr);
}

class WriteOnFakeLink : public ::testing::Test {
protected:
    void SetUp() override {
        auto& r = link.addCamera("CAM1", "HW7334");
        r.DeviceParam->LED() = 0;
        r.DeviceParam->EIS() = 1;
        r.DeviceParam->RESOLUTION() = 1;
        r.DeviceParam->TIME_ZONE() = 22;
        r.DeviceParam->VIDEOLENGTH() = 1;
        link.selected = 0;
        table = tableWith({"HVB_LED", "HVB_EIS", "HVB_RESOLUTION", "HVB_TIME_ZONE", "HVB_VIDEOLENGTH",
                           "HVB_HWKEY_RESET"});
    }
    SettingWriteResult write(int64_t index, const std::string& identifier, const std::string& title = "") {
        return SettingWrite::perform(link, link, SettingWriteRequest{link.selected, "CAM1", table, index, identifier, title});
    }
    int64_t value(EnumSettings key) { return link.record("CAM1")->DeviceParam->get(key); }

    FakeCameraLink link;
    CommandDictionary table;
};

TEST_F(WriteOnFakeLink, AcceptedWritesAreReportedAndStored) {
    auto result = write(1, "HVB_LED", "ON");
    EXPECT_EQ(result.kind, SettingWriteResult::Kind::written);
    EXPECT_EQ(result.key, "CAM1");
    EXPECT_FALSE(result.interlock);
    EXPECT_EQ(link.writes, (std::vector<FakeWrite>{{"CAM1", table.at("HVB_LED"), 1, false}}));
    EXPECT_EQ(link.eventLabels(), (std::vector<FakeEvent>{{"Settings", "LED Indicator ENABLE", "HW7334"}}));
    EXPECT_EQ(value(LED), 1);

    // The time zone goes as text; a position past the enumeration cannot be sent.
    EXPECT_EQ(write(23, "HVB_TIME_ZONE").kind, SettingWriteResult::Kind::written);
    EXPECT_TRUE(link.writes.back().text);
    EXPECT_EQ(value(TIME_ZONE), 23);
    EXPECT_EQ(write(39, "HVB_TIME_ZONE").kind, SettingWriteResult::Kind::failed);
    EXPECT_EQ(link.eventLabels().back(), (FakeEvent{"Settings_Failed", "Time Zone ", "HW7334"}));
    EXPECT_EQ(value(TIME_ZONE), 23);

    // A position that names no option is still written.
    EXPECT_EQ(write(4, "HVB_VIDEOLENGTH").kind, SettingWriteResult::Kind::written);
    EXPECT_EQ(link.eventLabels().back(), (FakeEvent{"Settings", "Video Length ", "HW7334"}));
    EXPECT_EQ(value(VIDEOLENGTH), 4);
}

TEST_F(WriteOnFakeLink, NothingIsWrittenForTheSameValueOrNoChoice) {
    EXPECT_EQ(write(0, "HVB_LED").kind, SettingWriteResult::Kind::rebuildOnly);
    EXPECT_EQ(write(-1, "HVB_LED").kind, SettingWriteResult::Kind::rebuildOnly);
    EXPECT_EQ(write(-1, "HVB_NOSUCH").kind, SettingWriteResult::Kind::rebuildOnly);
    EXPECT_TRUE(link.writes.empty());
    EXPECT_TRUE(link.eventLabels().empty());
}

TEST_F(WriteOnFakeLink, WithoutACameraNothingHappensAtAll) {
    link.selected = -1;
    EXPECT_EQ(write(1, "HVB_LED").kind, SettingWriteResult::Kind::noCamera);
    link.selected = 1;
    EXPECT_EQ(write(1, "HVB_LED").kind, SettingWriteResult::Kind::noCamera);
    link.selected = 0;
    link.records["CAM1"].DeviceParam.reset();
    EXPECT_EQ(write(1, "HVB_LED").kind, SettingWriteResult::Kind::noCamera);
    link.records.clear();
    EXPECT_EQ(write(1, "HVB_LED").kind, SettingWriteResult::Kind::noCamera);
    EXPECT_TRUE(link.writes.empty());
    EXPECT_TRUE(link.eventLabels().empty());
}

TEST_F(WriteOnFakeLink, FailuresAreReportedAndLeaveTheRecord) {
    EXPECT_EQ(write(1, "HVB_NOSUCH").kind, SettingWriteResult::Kind::failed);
    EXPECT_EQ(link.eventLabels().back(), (FakeEvent{"Settings_Failed", "", ""}));
    table.erase("HVB_LED");
    EXPECT_EQ(write(1, "HVB_LED").kind, SettingWriteResult::Kind::failed);
    EXPECT_EQ(link.eventLabels().back(), (FakeEvent{"Settings_Failed", "", ""}));
    link.records["CAM1"].DeviceParam->RECORDINGMODE() = 0;
    link.records["CAM1"].DeviceParam->DEFAULT_RECORD_STATUS() = 0;
    EXPECT_EQ(write(1, "HVB_RECORDINGMODE").kind, SettingWriteResult::Kind::failed);
    EXPECT_EQ(link.eventLabels().back(), (FakeEvent{"Settings_Failed", "Default Recording Mode ", "HW7334"}));
    EXPECT_EQ(write(1, "HVB_DEFAULT_RECORD_STATUS").kind, SettingWriteResult::Kind::failed);
    EXPECT_EQ(link.eventLabels().back(), (FakeEvent{"Settings_Failed", "Default Recording Mode ", "HW7334"}));
    EXPECT_TRUE(link.writes.empty());

    link.acceptWrites = false;
    EXPECT_EQ(write(3, "HVB_RESOLUTION", "720P/30FPS").kind, SettingWriteResult::Kind::failed);
    EXPECT_EQ(link.eventLabels().back(), (FakeEvent{"Settings_Failed", "Resolution 720P/30FPS", "HW7334"}));
    EXPECT_EQ(link.writes.size(), 1u);
    EXPECT_EQ(value(RESOLUTION), 1);
}

TEST_F(WriteOnFakeLink, InterlocksFollowTheRecordAsItIsAfterTheWrite) {
    // HW7334, stabilisation on: any resolution but position 1 turns it off.
    EXPECT_EQ(write(0, "HVB_RESOLUTION", "1440P/30FPS").interlock,
              (SettingInterlock{0, "HVB_EIS", "res2eis_disable"}));
    EXPECT_FALSE(write(1, "HVB_RESOLUTION", "1080P/60FPS").interlock);
    link.records["CAM1"].ModelName = "HW7333";
    EXPECT_FALSE(write(0, "HVB_RESOLUTION", "1440P/30FPS").interlock);

    // Any model: stabilisation on forces resolution position 1.
    link.records["CAM1"].DeviceParam->EIS() = 0;
    EXPECT_EQ(write(1, "HVB_EIS").interlock, (SettingInterlock{1, "HVB_RESOLUTION", "eis2res_1080p60fps"}));
    EXPECT_FALSE(write(0, "HVB_EIS").interlock);
    link.records["CAM1"].DeviceParam->RESOLUTION() = 1;
    EXPECT_FALSE(write(1, "HVB_EIS").interlock);
    // A camera without a resolution setting has nothing to force.
    link.records["CAM1"].DeviceParam->EIS() = 0;
    link.records["CAM1"].DeviceParam->RESOLUTION() = -1;
    EXPECT_FALSE(write(1, "HVB_EIS").interlock);
}

TEST_F(WriteOnFakeLink, TheHardwareKeyResetWritesItsTag) {
    link.records["CAM1"].DeviceParam->HWKEY_RESET() = 1;
    EXPECT_EQ(HWKeyReset::action(0), "Reset Using Function Buttons DISABLE");
    EXPECT_EQ(HWKeyReset::action(1), "Reset Using Function Buttons ENABLE");
    EXPECT_EQ(HWKeyReset::action(2), "Reset Using Function Buttons ");

    auto reset = [&](int tag) { return HWKeyReset::perform(link, link, HWKeyResetRequest{link.selected, "CAM1", table, tag}); };
    EXPECT_EQ(reset(0).kind, HWKeyResetResult::Kind::written);
    EXPECT_EQ(link.writes.back(), (FakeWrite{"CAM1", table.at("HVB_HWKEY_RESET"), 0, false}));
    EXPECT_EQ(link.eventLabels().back(), (FakeEvent{"Settings", "Reset Using Function Buttons DISABLE", "HW7334"}));
    EXPECT_EQ(value(HWKEY_RESET), 0);

    link.acceptWrites = false;
    EXPECT_EQ(reset(1).kind, HWKeyResetResult::Kind::failed);
    EXPECT_EQ(link.eventLabels().back(), (FakeEvent{"Settings_Failed", "Reset Using Function Buttons ENABLE", "HW7334"}));
    EXPECT_EQ(value(HWKEY_RESET), 0);

    table.erase("HVB_HWKEY_RESET");
    const size_t sent = link.writes.size();
    EXPECT_EQ(reset(1).kind, HWKeyResetResult::Kind::failed);
    EXPECT_EQ(link.eventLabels().back(), (FakeEvent{"Settings_Failed", "", ""}));
    EXPECT_EQ(link.writes.size(), sent);

    link.selected = 5;
    EXPECT_EQ(reset(1).kind, HWKeyResetResult::Kind::noCamera);
}
