// Writes from the pane end to end: the bytes the camera receives, the record, the analytics
// event at the stand-in, the configuration file; interlocks, failures and the busy state.
#include "PanelFixture.h"
#include "camera/LiveCameraLink.h"

using namespace settingstest;
using hvb::EnumSettings;
using Events = std::multiset<std::pair<std::string, std::string>>;

namespace {

std::vector<uint8_t> word(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

std::vector<uint8_t> block(const std::string& text) {
    std::vector<uint8_t> out(text.begin(), text.end());
    out.resize(32, 0);
    return out;
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> wire(const camtest::SimulatedBodyCamera& camera) {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> out;
    for (const auto& w : camera.writes()) out.emplace_back(w.name, w.payload);
    return out;
}

using Wire = std::vector<std::pair<std::string, std::vector<uint8_t>>>;

// The camera takes the command but never reports it done (the link gives up after its minute).
void neverFinish(camtest::SimulatedBodyCamera& camera, const char* command) {
    camera.session()->setPollsBeforeCompletion(*camera.profile().codeOf(command), 100000);
}

// The live link with commands taken out of every table.
class TableWithout : public hvb::LiveCameraLink {
public:
    explicit TableWithout(std::vector<std::string> names) : names_(std::move(names)) {}
    std::optional<hvb::CommandDictionary> commandTable(const std::string& name) const override {
        auto table = LiveCameraLink::commandTable(name);
        if (table)
            for (const auto& n : names_) table->erase(n);
        return table;
    }

private:
    std::vector<std::string> names_;
};

}  // namespace

class PanelWrites : public PanelFixture {};

TEST_F(PanelWrites, ANumberSettingGoesOutAsOneWordAndIsKept) {
    auto camera = plugWithVolume("HVBR7", "1.6.01");
    showPanel();
    ASSERT_TRUE(choose("HVB_LED", 0));
    EXPECT_EQ(wire(*camera), (Wire{{"HVB_LED", word(0)}}));
    EXPECT_EQ(camera->setting("HVB_LED"), 0);
    EXPECT_EQ(value(camera, EnumSettings::LED), 0);
    EXPECT_EQ(shown("HVB_LED"), "OFF");
    EXPECT_EQ(collected(1), (std::vector<FakeEvent>{{"Settings", "LED Indicator DISABLE", "HVBR7"}}));
    // This model reads no configuration file: none is written.
    EXPECT_FALSE(std::filesystem::exists(iniOf(0)));
    EXPECT_TRUE(dialogsShown.empty());

    // The snapshot button brings the sample rate's row with it, or takes it away.
    ASSERT_TRUE(choose("HVB_VOICE_RECORDING", 0));
    EXPECT_EQ(wire(*camera).back(), (std::pair<std::string, std::vector<uint8_t>>{"HVB_VOICE_RECORDING", word(0)}));
    EXPECT_EQ(cell("HVB_VOICE_SAMPLERATE"), nullptr);
    EXPECT_EQ(collectedSet(2).count({"Settings", "Snapshot Button IR|HVBR7"}), 1u);
    ASSERT_TRUE(choose("HVB_VOICE_RECORDING", 1));
    EXPECT_EQ(shown("HVB_VOICE_SAMPLERATE"), "44100 Hz");
}

TEST_F(PanelWrites, TheTimeZoneGoesOutAsTextAndTheConfigurationFileFollows) {
    auto camera = plugWithVolume("HW7360", "1.0.0");
    showPanel();
    ASSERT_TRUE(choose("HVB_TIME_ZONE", 23));
    EXPECT_EQ(wire(*camera), (Wire{{"HVB_TIME_ZONE", block("+05:45")}}));
    EXPECT_EQ(camera->timeZone(), "+05:45");
    EXPECT_EQ(value(camera, EnumSettings::TIME_ZONE), 23);
    EXPECT_EQ(shown("HVB_TIME_ZONE"), "UTC+05:45");
    EXPECT_EQ(collected(1), (std::vector<FakeEvent>{{"Settings", "Time Zone P_05_45", "HW7360"}}));
    // Stealth, LED, buzzer, vibrator.
    EXPECT_EQ(TempDir::read(iniOf(0)), "0110\n");

    ASSERT_TRUE(choose("HVB_STEALTH", 1));
    EXPECT_EQ(wire(*camera).back(), (std::pair<std::string, std::vector<uint8_t>>{"HVB_STEALTH", word(1)}));
    EXPECT_EQ(TempDir::read(iniOf(0)), "1110\n");
    // Stealth mode shows the indicators off without writing them.
    EXPECT_EQ(shown("HVB_LED"), "OFF");
    EXPECT_FALSE(cell("HVB_LED")->popUpButton->isEnabled());
    EXPECT_EQ(value(camera, EnumSettings::LED), 1);
    EXPECT_EQ(wire(*camera).size(), 2u);

    // A zone past the list cannot be sent: the failure box, nothing on the wire.
    panel->applySetting(39, "HVB_TIME_ZONE", "");
    ASSERT_TRUE(apptest::waitUntil([&] { return !dialogsShown.empty() && !panel->isBusy(); }, 30000));
    EXPECT_EQ(wire(*camera).size(), 2u);
    EXPECT_EQ(collectedSet(3).count({"Settings_Failed", "Time Zone |HW7360"}), 1u);
    EXPECT_EQ(value(camera, EnumSettings::TIME_ZONE), 23);
}

TEST_F(PanelWrites, TheSameOptionAgainWritesNothingButRebuildsAndRewritesTheFile) {
    auto camera = plugWithVolume("HW7334", "1.0.0");
    showPanel();
    ASSERT_TRUE(std::filesystem::exists(iniOf(0)));  // written when the camera was read
    std::filesystem::remove(iniOf(0));
    ASSERT_TRUE(choose("HVB_LED", 1));
    EXPECT_TRUE(camera->writes().empty());
    EXPECT_EQ(TempDir::read(iniOf(0)), "0110\n");

    // No option chosen: nothing to write either.
    const int before = reloads;
    panel->applySetting(-1, "HVB_LED", "");
    ASSERT_TRUE(waitForReload(before));
    EXPECT_TRUE(camera->writes().empty());

    ASSERT_TRUE(choose("HVB_LED", 0));
    EXPECT_EQ(TempDir::read(iniOf(0)), "0010\n");
    EXPECT_EQ(collected(1), (std::vector<FakeEvent>{{"Settings", "LED Indicator DISABLE", "HW7334"}}));
    EXPECT_EQ(camera->writes().size(), 1u);
}

TEST_F(PanelWrites, ABufferLengthLoweredForShowIsStillWrittenWhenChosen) {
    auto camera = plug("HW7334", "1.0.0", [](auto& c) {
        c.setSetting("HVB_RESOLUTION", 0);
        c.setSetting("HVB_BUFFERLENGTH", 3);
    });
    showPanel();
    EXPECT_EQ(shown("HVB_BUFFERLENGTH"), "60 Seconds");
    EXPECT_EQ(value(camera, EnumSettings::BUFFERLENGTH), 3);
    ASSERT_TRUE(choose("HVB_BUFFERLENGTH", 1));
    EXPECT_EQ(wire(*camera), (Wire{{"HVB_BUFFERLENGTH", word(1)}}));
    EXPECT_EQ(value(camera, EnumSettings::BUFFERLENGTH), 1);
    EXPECT_EQ(collected(1), (std::vector<FakeEvent>{{"Settings", "Buffered Video Length Seconds_60", "HW7334"}}));

    // A resolution with the long list shows the full choice again.
    ASSERT_TRUE(choose("HVB_RESOLUTION", 1));
    EXPECT_EQ(cell("HVB_BUFFERLENGTH")->popUpButton->count(), 4);
}

TEST_F(PanelWrites, StabilisationAndResolutionForceEachOther) {
    auto camera = plugWithVolume("HW7334", "1.0.0", [](auto& c) {
        c.setSetting("HVB_EIS", 1);
        c.setSetting("HVB_RESOLUTION", 1);
    });
    showPanel();
    ASSERT_TRUE(choose("HVB_RESOLUTION", 0));
    EXPECT_EQ(wire(*camera), (Wire{{"HVB_RESOLUTION", word(0)}, {"HVB_EIS", word(0)}}));
    EXPECT_EQ(value(camera, EnumSettings::RESOLUTION), 0);
    EXPECT_EQ(value(camera, EnumSettings::EIS), 0);
    EXPECT_EQ(shown("HVB_EIS"), "OFF");
    EXPECT_EQ(collectedSet(2), (Events{{"Settings", "Resolution 1440P/30FPS|HW7334"},
                                       {"Settings", "Image Stabilization DISABLE|HW7334"}}));

    camera->clearWrites();
    ASSERT_TRUE(choose("HVB_EIS", 1));
    EXPECT_EQ(wire(*camera), (Wire{{"HVB_EIS", word(1)}, {"HVB_RESOLUTION", word(1)}}));
    EXPECT_EQ(shown("HVB_RESOLUTION"), "1080P/60FPS");
    EXPECT_EQ(collectedSet(4), (Events{{"Settings", "Resolution 1440P/30FPS|HW7334"},
                                       {"Settings", "Image Stabilization DISABLE|HW7334"},
                                       {"Settings", "Image Stabilization ENABLE|HW7334"},
                                       {"Settings", "Resolution eis2res_1080p60fps|HW7334"}}));

    // Position 1 with stabilisation on forces nothing.
    camera->clearWrites();
    ASSERT_TRUE(choose("HVB_RESOLUTION", 1));
    EXPECT_TRUE(camera->writes().empty());
    EXPECT_TRUE(dialogsShown.empty());
}

TEST_F(PanelWrites, AForcedWriteThatFailsLeavesTheFirstInPlace) {
    auto camera = plug("HW7334", "1.0.0", [](auto& c) { c.setSetting("HVB_RESOLUTION", 0); });
    neverFinish(*camera, "HVB_RESOLUTION");
    showPanel();
    ASSERT_TRUE(choose("HVB_EIS", 1));
    EXPECT_EQ(value(camera, EnumSettings::EIS), 1);
    EXPECT_EQ(value(camera, EnumSettings::RESOLUTION), 0);
    EXPECT_EQ(shown("HVB_RESOLUTION"), "1440P/30FPS");
    EXPECT_EQ(dialogsShown, (std::vector<ShownDialog>{{"Fail", "", "failIcon"}}));
    EXPECT_EQ(collectedSet(2), (Events{{"Settings", "Image Stabilization ENABLE|HW7334"},
                                       {"Settings_Failed", "Resolution eis2res_1080p60fps|HW7334"}}));
}

TEST_F(PanelWrites, ACameraUnpluggedDuringTheWriteIsAFailure) {
    auto camera = plug("HVBS2A", "1.13.0");
    showPanel();
    auto record = recordOf(camera->serialNumber());
    hvb::msgDialogText = "Label changed.";  // an earlier message's text
    dialogScreenshot = "settings-write-failed";
    camera->session()->vanishAtPoll(1);
    ASSERT_TRUE(choose("HVB_LED", 0));
    EXPECT_EQ(dialogsShown, (std::vector<ShownDialog>{{"Fail", "", "failIcon"}}));
    EXPECT_EQ(record->DeviceParam->LED(), 1);
    EXPECT_EQ(collected(1), (std::vector<FakeEvent>{{"Settings_Failed", "LED Indicator DISABLE", "HVBS2A"}}));
    // With the camera gone the pane empties.
    ASSERT_TRUE(apptest::waitUntil([&] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == 0; }, 30000));
    ASSERT_TRUE(apptest::waitUntil([&] { return panel->deviceTableView->settingsModel()->rowCount() == 0; }, 30000));
    EXPECT_EQ(panel->deviceComboBox->count(), 0);
    EXPECT_FALSE(panel->HWKeyResetBox->isVisibleTo(panel.get()));
}

TEST_F(PanelWrites, ARecordWithoutAUIDAddressesNoCamera) {
    auto camera = plug("HVBS2A", "1.13.0");
    hvb::DeviceState::shared().updateRecord(camera->serialNumber(), [](hvb::DiskDriver_Parameter& r) { r.UID = ""; });
    showPanel();
    EXPECT_EQ(panel->curUID, "");
    ASSERT_TRUE(choose("HVB_LED", 0));
    EXPECT_TRUE(camera->writes().empty());
    EXPECT_EQ(dialogsShown, (std::vector<ShownDialog>{{"Fail", "", "failIcon"}}));
    EXPECT_EQ(value(camera, EnumSettings::LED), 1);
    EXPECT_EQ(collected(1), (std::vector<FakeEvent>{{"Settings_Failed", "LED Indicator DISABLE", "HVBS2A"}}));
}

TEST_F(PanelWrites, ACameraReadAgainWhileTheFailureBoxIsOpenKeepsItsFreshValues) {
    auto camera = plugWithVolume("HW7334", "1.0.0");
    showPanel();
    neverFinish(*camera, "HVB_LED");
    auto stale = recordOf(camera->serialNumber());
    whileOpen = [&] {
        // The camera changes on its own and is read again before the user closes the box.
        camera->setSetting("HVB_BUZZERSWITCH", 0);
        camera->setSetting("HVB_VIBRATOR", 1);
        camera->reboot(20);
        ASSERT_TRUE(apptest::waitUntil(
            [&] {
                auto now = recordOf(camera->serialNumber());
                return now && now != stale && hvb::DeviceState::shared().PlugInDeviceCnt.load() == 1;
            },
            30000));
    };
    ASSERT_TRUE(choose("HVB_LED", 0));
    ASSERT_EQ(dialogsShown.size(), 1u);
    // What the camera holds now, the LED it took without confirming included; nothing from
    // before the box is put back.
    EXPECT_EQ(value(camera, EnumSettings::BUZZERSWITCH), 0);
    EXPECT_EQ(value(camera, EnumSettings::VIBRATOR), 1);
    EXPECT_EQ(value(camera, EnumSettings::LED), 0);
    ASSERT_TRUE(apptest::waitUntil([&] { return !panel->isBusy(); }));
    EXPECT_EQ(TempDir::read(iniOf(0)), "0001\n");
    ASSERT_TRUE(apptest::waitUntil([&] { return shown("HVB_BUZZERSWITCH") == "OFF"; }));
    EXPECT_EQ(shown("HVB_VIBRATOR"), "ON");
}

TEST_F(PanelWrites, MissingCommandsFailWithoutTouchingTheCamera) {
    auto camera = plug("HVBS2A", "1.13.0");
    showPanel(std::make_shared<TableWithout>(std::vector<std::string>{"HVB_LED", "HVB_RECORDINGMODE", "HVB_HWKEY_RESET"}));
    ASSERT_TRUE(choose("HVB_LED", 0));
    ASSERT_TRUE(choose("HVB_RECORDINGMODE", 1));
    EXPECT_TRUE(camera->writes().empty());
    EXPECT_EQ(dialogsShown.size(), 2u);
    EXPECT_EQ(collectedSet(2), (Events{{"Settings_Failed", "|"}, {"Settings_Failed", "Default Recording Mode |HVBS2A"}}));
    EXPECT_EQ(shown("HVB_LED"), "ON");

    const int before = reloads;
    QTest::mouseClick(panel->HWKeyResetOFF, Qt::LeftButton);
    ASSERT_TRUE(waitForReload(before));
    EXPECT_EQ(dialogsShown.size(), 3u);
    EXPECT_TRUE(camera->writes().empty());
    EXPECT_TRUE(panel->HWKeyResetON->isChecked());
}

TEST_F(PanelWrites, TheHardwareKeyRadiosWriteTheirTag) {
    auto camera = plugWithVolume("HW7333", "1.0.0");
    showPanel();
    ASSERT_TRUE(panel->HWKeyResetON->isChecked());
    // The radio already on: nothing at all.
    QTest::mouseClick(panel->HWKeyResetON, Qt::LeftButton);
    apptest::waitUntil([] { return false; }, 50);
    EXPECT_FALSE(panel->isBusy());
    EXPECT_TRUE(camera->writes().empty());

    const int before = reloads;
    QTest::mouseClick(panel->HWKeyResetOFF, Qt::LeftButton);
    ASSERT_TRUE(waitForReload(before));
    EXPECT_EQ(wire(*camera), (Wire{{"HVB_HWKEY_RESET", word(0)}}));
    EXPECT_EQ(value(camera, EnumSettings::HWKEY_RESET), 0);
    EXPECT_EQ(panel->preButtonResetSelect, 0);
    EXPECT_TRUE(panel->HWKeyResetOFF->isChecked());
    EXPECT_EQ(collected(1),
              (std::vector<FakeEvent>{{"Settings", "Reset Using Function Buttons DISABLE", "HW7333"}}));
    EXPECT_EQ(TempDir::read(iniOf(0)), "0110\n");

    // Refused: the failure box, and the radios show the camera's value again.
    neverFinish(*camera, "HVB_HWKEY_RESET");
    const int again = reloads;
    QTest::mouseClick(panel->HWKeyResetON, Qt::LeftButton);
    ASSERT_TRUE(waitForReload(again));
    EXPECT_EQ(dialogsShown, (std::vector<ShownDialog>{{"Fail", "", "failIcon"}}));
    EXPECT_TRUE(panel->HWKeyResetOFF->isChecked());
    EXPECT_EQ(panel->preButtonResetSelect, 0);
    EXPECT_EQ(value(camera, EnumSettings::HWKEY_RESET), 0);
    EXPECT_EQ(collectedSet(2).count({"Settings_Failed", "Reset Using Function Buttons ENABLE|HW7333"}), 1u);
}

TEST_F(PanelWrites, WhileAWriteRunsThePaneIsBusyAndTakesNoInput) {
    auto camera = plug("HVBT3A", "1.3.0");
    showPanel();
    const uint8_t led = *camera->profile().codeOf("HVB_LED");
    camera->session()->setPollsBeforeCompletion(led, 60);
    auto* ledCell = cell("HVB_LED");
    ASSERT_NE(ledCell, nullptr);
    const int before = reloads;
    ledCell->popUpButton->setCurrentIndex(0);
    emit ledCell->popUpButton->activated(0);
    EXPECT_TRUE(panel->isBusy());
    EXPECT_TRUE(panel->busyIndicator->isVisible());
    EXPECT_FALSE(cell("HVB_BUZZERSWITCH")->popUpButton->isEnabled());
    EXPECT_FALSE(panel->deviceComboBox->isEnabled());
    EXPECT_FALSE(panel->HWKeyResetOFF->isEnabled());
    ASSERT_TRUE(waitForReload(before));
    EXPECT_FALSE(panel->busyIndicator->isVisible());
    EXPECT_TRUE(cell("HVB_BUZZERSWITCH")->popUpButton->isEnabled());
    EXPECT_EQ(value(camera, EnumSettings::LED), 0);
}
