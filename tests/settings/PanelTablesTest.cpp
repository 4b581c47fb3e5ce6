// The tables the pane shows for cameras of each code set, worked out by hand from what each
// camera reports; the pictures a person looks at.
#include <algorithm>

#include "PanelFixture.h"

using namespace settingstest;

namespace {

struct TableCase {
    const char* model;
    const char* firmware;
    std::vector<std::pair<const char*, int64_t>> settings;  // set on the camera before it is read
    const char* timeZone;
    Lines device, video, stamp;
    int hwKey;  // -1: no hardware-key group; 0 or 1: the radio on
};

const Lines kStampFactory{"Video Stamp : ON/2", "Date Format : YYYY/MM/DD/3", "Time Format : 24HR/2",
                          "Watermark : OFF/2"};

// Every camera starts with its factory options: resolution, video length, buffer length, sample
// rate and the snapshot button at position 1; stealth, watermark, the formats, stabilisation,
// vibrator and the recording modes at 0; everything else that is a switch on.
const std::vector<TableCase> kCases = {
    {"HVBR4", "1.4.00", {}, "+05:30",
     {"Sync time with PC : [Set]", "---", "---", "Infrared LED : Auto/2"},
     {"Resolution : 720P/2", "Loop Recording : ON/2", "Video Length : 5 mins/3", "---", "Light Frequency : 60 Hz/2",
      "---", "Microphone : ON/2"},
     {"Video Stamp : ON/2", "Date Format : YYYY/MM/DD/3", "Time Format : 24HR/2"},
     -1},
    {"HVBR7", "1.6.01", {}, "+05:30",
     {"Sync time with PC : [Set]", "---", "LED Indicator : ON/2", "Buzzer : ON/2", "---",
      "Snapshot Button : Audio Recording/2", "Audio Sample Rate : 44100 Hz/5"},
     {"Resolution : 720P/2", "Loop Recording : ON/2", "Video Length : 5 mins/3", "---", "Light Frequency : 60 Hz/2",
      "---", "Microphone : ON/2"},
     kStampFactory, -1},
    {"HVBS2A", "1.13.0", {{"HVB_STEALTH", 1}, {"HVB_VOICE_RECORDING", 0}}, "+05:30",
     {"Sync time with PC : [Set]", "---", "Stealth Mode : ON/2", "LED Indicator : OFF/2 !", "Buzzer : OFF/2 !",
      "Vibrator : OFF/2 !", "---", "Snapshot Button : Infrared LED/2", "Infrared LED : Auto/2"},
     {"Resolution : 720P/3", "Video Format : MP4/2", "Loop Recording : ON/2", "Video Length : 5 mins/3", "---",
      "Light Frequency : 60 Hz/2", "Image Stabilization : OFF/2", "---", "Microphone : ON/2",
      "Default Recording Mode : Buffering mode/2", "Buffered Video Length : 60 Seconds/4",
      "Buffering Recording Audio : ON/2"},
     kStampFactory, 1},
    {"HVBT3A", "1.3.0", {{"HVB_MICROPHONE", 0}}, "+05:45",
     {"Time Zone : UTC+05:45/39", "Sync time with PC : [Set]", "---", "Stealth Mode : OFF/2", "LED Indicator : ON/2",
      "Buzzer : ON/2", "Vibrator : OFF/2", "---", "Audio Sample Rate : 44100 Hz/5"},
     {"Resolution : 720P/3", "Loop Recording : ON/2", "Video Length : 5 mins/3", "---", "Light Frequency : 60 Hz/2",
      "---", "Microphone : OFF/2", "Default Recording Mode : Buffering mode/2", "Buffered Video Length : 60 Seconds/4",
      "Buffering Recording Audio : OFF/2 !"},
     kStampFactory, 1},
    {"HVBT3A", "1.0.00", {{"HVB_RECORDINGMODE", 1}, {"HVB_HWKEY_RESET", 0}}, "-03:30",
     {"Time Zone : UTC-03:30/39", "Sync time with PC : [Set]", "---", "Stealth Mode : OFF/2", "---",
      "Audio Sample Rate : 44100 Hz/5"},
     {"Resolution : 720P/3", "Loop Recording : ON/2", "Video Length : 5 mins/3", "---", "Light Frequency : 60 Hz/2",
      "---", "Microphone : ON/2", "Default Recording Mode : Recording mode/2", "(blank)"},
     kStampFactory, 0},
    {"HW7312", "1.0.00", {{"HVB_VOICE_RECORDING", 2}, {"HVB_VIDEOSTAMP", 0}, {"HVB_WATERMARK", 1}}, "+05:30",
     {"Sync time with PC : [Set]", "---", "LED Indicator : ON/2", "Buzzer : ON/2", "---", "Infrared LED : Auto/2",
      "Audio Sample Rate : 44100 Hz/5"},
     {"Resolution : 1080P/30FPS/4", "Loop Recording : ON/2", "Video Length : 5 mins/3", "---",
      "Light Frequency : 60 Hz/2", "---", "Microphone : ON/2"},
     {"Video Stamp : OFF/2", "Date Format : YYYY/MM/DD/3 !", "Time Format : 24HR/2 !", "Watermark : OFF/2 !"}, 1},
    {"HW7333", "1.0.0", {{"HVB_RESOLUTION", 0}, {"HVB_BUFFERLENGTH", 3}}, "+05:30",
     {"Sync time with PC : [Set]", "---", "Stealth Mode : OFF/2", "LED Indicator : ON/2", "Buzzer : ON/2",
      "Vibrator : OFF/2", "---", "Snapshot Button : Audio Recording/2", "Audio Sample Rate : 44100 Hz/5"},
     {"Resolution : 1440P/30FPS/5", "Video Format : MP4/2", "Loop Recording : ON/2", "Video Length : 5 mins/3", "---",
      "Light Frequency : 60 Hz/2", "---", "Microphone : ON/2", "Default Recording Mode : Buffering mode/2",
      "Buffered Video Length : 60 Seconds/2", "Buffering Recording Audio : ON/2"},
     kStampFactory, 1},
    {"HW7334", "1.0.0", {{"HVB_DEFAULT_RECORD_STATUS", 1}}, "+05:30",
     {"Sync time with PC : [Set]", "---", "Stealth Mode : OFF/2", "LED Indicator : ON/2", "Buzzer : ON/2",
      "Vibrator : OFF/2", "---", "Snapshot Button : Audio Recording/2", "Audio Sample Rate : 44100 Hz/5"},
     {"Resolution : 1080P/60FPS/5", "Video Format : MP4/2", "Loop Recording : ON/2", "Video Length : 5 mins/3", "---",
      "Light Frequency : 60 Hz/2", "Image Stabilization : OFF/2", "---", "Microphone : ON/2",
      "Default Recording Mode : Recording mode/2", "(blank)", "(blank)"},
     kStampFactory, 1},
    {"HW7360", "1.0.0", {}, "+09:30",
     {"Time Zone : UTC+09:30/39", "Sync time with PC : [Set]", "---", "Stealth Mode : OFF/2", "LED Indicator : ON/2",
      "Buzzer : ON/2", "Vibrator : OFF/2", "---", "Audio Sample Rate : 44100 Hz/5"},
     {"Resolution : 1080P/4", "Video Format : MP4/2", "Loop Recording : ON/2", "Video Length : 5 mins/3", "---",
      "Light Frequency : 60 Hz/2", "---", "Microphone : ON/2", "Default Recording Mode : Buffering mode/2",
      "Buffered Video Length : 60 Seconds/4", "Buffering Recording Audio : ON/2"},
     kStampFactory, 1},
};

void PrintTo(const TableCase& c, std::ostream* out) { *out << c.model << " " << c.firmware; }

std::string caseName(const ::testing::TestParamInfo<TableCase>& info) {
    std::string name = std::string(info.param.model) + "_" + info.param.firmware;
    std::replace(name.begin(), name.end(), '.', '_');
    return name;
}

class PanelTables : public PanelFixture, public ::testing::WithParamInterface<TableCase> {};

}  // namespace

TEST_P(PanelTables, ShowEveryRowTheCameraOffers) {
    const TableCase& c = GetParam();
    auto camera = plug(c.model, c.firmware, [&](camtest::SimulatedBodyCamera& cam) {
        for (auto [name, v] : c.settings) cam.setSetting(name, v);
        cam.setTimeZone(c.timeZone);
    });
    showPanel();
    EXPECT_EQ(describeTable(panel->deviceTableView), c.device);
    EXPECT_EQ(describeTable(panel->videoTableView), c.video);
    EXPECT_EQ(describeTable(panel->stampTableView), c.stamp);
    EXPECT_EQ(panel->HWKeyResetBox->isVisibleTo(panel.get()), c.hwKey >= 0);
    if (c.hwKey >= 0) {
        EXPECT_EQ(panel->HWKeyResetON->isChecked(), c.hwKey == 1);
        EXPECT_EQ(panel->HWKeyResetOFF->isChecked(), c.hwKey == 0);
        EXPECT_EQ(panel->preButtonResetSelect, c.hwKey);
    }
    EXPECT_FALSE(panel->lockBtn->isVisibleTo(panel.get()));
    EXPECT_EQ(panel->curUID.toStdString(), camera->uid());
    EXPECT_EQ(panel->deviceComboBox->count(), 1);
    EXPECT_TRUE(panel->deviceComboBox->isEnabled());
    // Pop-ups are at least 160 wide; the clock button is as wide as the device pop-ups.
    EXPECT_GE(panel->deviceTableComboBoxWidth, 160);
    EXPECT_GE(panel->videoTableComboBoxWidth, 160);
    EXPECT_GE(panel->stampTableComboBoxWidth, 160);
    auto* clock = panel->deviceTableView->buttonCell(c.device[0].rfind("Time Zone", 0) == 0 ? 1 : 0);
    ASSERT_NE(clock, nullptr);
    EXPECT_EQ(clock->btnSyncTime->width(), static_cast<int>(panel->deviceTableComboBoxWidth));

    const std::string name = std::string("settings-") + c.model + "-" + c.firmware;
    EXPECT_TRUE(apptest::saveScreenshot(panel.get(), name));
    EXPECT_EQ(apptest::keyboardFaults(panel.get(), {{"QPushButton \"Set\"", name + "-focus-clock"}}), QStringList());
    panel->tabView->setCurrentIndex(1);
    apptest::waitUntil([] { return false; }, 20);
    EXPECT_TRUE(apptest::saveScreenshot(panel.get(), name + "-video"));
    panel->tabView->setCurrentIndex(2);
    apptest::waitUntil([] { return false; }, 20);
    EXPECT_TRUE(apptest::saveScreenshot(panel.get(), name + "-stamp"));
}

INSTANTIATE_TEST_SUITE_P(CodeSets, PanelTables, ::testing::ValuesIn(kCases), caseName);
