// The camera selector, the lock, old firmware, the rules across cameras, the tabs and the two
// dialog openers.
#include <QTabBar>

#include "PanelFixture.h"
#include "common/LocalizedString.h"
#include "common/UnlockFlags.h"
#include "common/WindowShells.h"
#include "platform/appkit/Storyboard.h"

using namespace settingstest;
using hvb::EnumSettings;

class PanelSelection : public PanelFixture {
protected:
    bool tabsOpen() {
        for (int i = 0; i < panel->tabView->count(); ++i)
            if (!panel->tabView->isTabEnabled(i)) return false;
        return true;
    }
    camtest::BodyCameraOptions named(const std::string& label, const std::string& uid = "") {
        camtest::BodyCameraOptions options;
        options.label = label;
        options.uid = uid;
        return options;
    }
    std::vector<std::string> selectorTexts() {
        std::vector<std::string> texts;
        for (int i = 0; i < panel->deviceComboBox->count(); ++i)
            texts.push_back(panel->deviceComboBox->itemText(i).toStdString());
        return texts;
    }
    bool allPopUpsDisabled() {
        for (auto* table : {panel->deviceTableView.data(), panel->videoTableView.data(), panel->stampTableView.data()})
            for (int row = 0; row < table->settingsModel()->rowCount(); ++row)
                if (auto* c = table->popUpCell(row); c && c->popUpButton->isEnabled()) return false;
        return true;
    }
};

TEST_F(PanelSelection, ThePaneFollowsCamerasComingAndGoing) {
    showPanel(nullptr, false);
    apptest::waitUntil([] { return false; }, 50);
    EXPECT_EQ(panel->deviceComboBox->count(), 0);
    EXPECT_FALSE(panel->deviceComboBox->isEnabled());
    EXPECT_FALSE(panel->lockBtn->isVisibleTo(panel.get()));
    EXPECT_FALSE(panel->HWKeyResetBox->isVisibleTo(panel.get()));
    EXPECT_EQ(panel->deviceTableView->settingsModel()->rowCount(), 0);
    EXPECT_FALSE(panel->tabViewShouldSelectTabViewItem(1));
    EXPECT_TRUE(panel->tabView->isTabEnabled(0));
    EXPECT_FALSE(panel->tabView->isTabEnabled(1));
    EXPECT_FALSE(panel->tabView->isTabEnabled(2));
    EXPECT_TRUE(sawLine("reloadSettingPage PlugInDeviceCnt = 0"));
    EXPECT_TRUE(apptest::saveScreenshot(panel.get(), "settings-no-camera"));

    // A camera arrives: "statusDidGet" fills the pane.
    const int before = reloads;
    auto camera = plug("HVBR7", "1.6.01", {}, named("Patrol 7"));
    ASSERT_TRUE(waitForReload(before));
    EXPECT_EQ(selectorTexts(), (std::vector<std::string>{"Patrol 7"}));
    EXPECT_TRUE(panel->deviceComboBox->isEnabled());
    EXPECT_TRUE(tabsOpen());
    EXPECT_TRUE(panel->tabViewShouldSelectTabViewItem(1));
    EXPECT_EQ(hvb::DeviceState::shared().selectedDeviceIndex.load(), 0);
    EXPECT_EQ(shown("HVB_LED"), "ON");
    panel->tabView->setCurrentIndex(1);

    // It leaves: the pane empties and the other tabs close.
    camera->detach();
    ASSERT_TRUE(apptest::waitUntil([&] { return panel->deviceTableView->settingsModel()->rowCount() == 0; }, 30000));
    EXPECT_EQ(panel->deviceComboBox->count(), 0);
    EXPECT_FALSE(panel->deviceComboBox->isEnabled());
    EXPECT_EQ(hvb::DeviceState::shared().selectedDeviceIndex.load(), -1);
    EXPECT_TRUE(panel->tabView->isTabEnabled(1));
    EXPECT_FALSE(panel->tabView->isTabEnabled(0));
    EXPECT_FALSE(panel->tabView->isTabEnabled(2));
}

TEST_F(PanelSelection, ItemsCarryTheirEntrySoASkippedEntryMisleadsNoWrite) {
    auto first = plug("HVBR7", "1.6.01", {}, named("Patrol 7"));
    auto second = plug("HW7334", "1.0.0", {}, named("Unit 34"));
    // A camera counted but without a record yet, between the two.
    auto& state = hvb::DeviceState::shared();
    state.withLists([](hvb::DeviceState::Lists& lists) {
        lists.deviceEntryList.insert(lists.deviceEntryList.begin() + 1, hvb::DeviceEntry{"GHOST0001", "disk9", 9});
    });
    state.PlugInDeviceCnt = 3;
    showPanel();
    EXPECT_EQ(selectorTexts(), (std::vector<std::string>{"Patrol 7", "Unit 34"}));
    EXPECT_EQ(panel->deviceComboBox->itemData(1).toLongLong(), 2);
    EXPECT_EQ(panel->curUID.toStdString(), first->uid());

    ASSERT_TRUE(chooseCamera("Unit 34"));
    EXPECT_EQ(state.selectedDeviceIndex.load(), 2);
    EXPECT_EQ(panel->curUID.toStdString(), second->uid());
    EXPECT_NE(cell("HVB_EIS"), nullptr);
    ASSERT_TRUE(choose("HVB_LED", 0));
    EXPECT_EQ(second->setting("HVB_LED"), 0);
    EXPECT_EQ(value(second, EnumSettings::LED), 0);
    EXPECT_TRUE(first->writes().empty());
    EXPECT_EQ(value(first, EnumSettings::LED), 1);

    // The selection is clamped; an entry without an item gives the first camera listed.
    state.selectedDeviceIndex = 7;
    int before = reloads;
    panel->reloadSettingPage();
    ASSERT_TRUE(waitForReload(before));
    EXPECT_EQ(panel->deviceComboBox->currentText(), "Unit 34");
    EXPECT_EQ(state.selectedDeviceIndex.load(), 2);
    state.selectedDeviceIndex = 1;
    before = reloads;
    panel->reloadSettingPage();
    ASSERT_TRUE(waitForReload(before));
    EXPECT_EQ(panel->deviceComboBox->currentText(), "Patrol 7");
    EXPECT_EQ(state.selectedDeviceIndex.load(), 0);
    EXPECT_EQ(panel->curUID.toStdString(), first->uid());
    state.withLists([](hvb::DeviceState::Lists& lists) { lists.deviceEntryList.erase(lists.deviceEntryList.begin() + 1); });
    state.PlugInDeviceCnt = 2;
}

TEST_F(PanelSelection, ALockedCameraThenOneWithoutEncryption) {
    auto locked = plug("HW7334", "1.0.0", [](auto& c) {
        c.setEncrypted(true);
        c.setHidden(true);
    }, named("Unit 34"));
    auto plain = plug("HVBS2A", "1.13.0", {}, named("Desk 2"));
    showPanel();
    EXPECT_TRUE(panel->lockFlag);
    EXPECT_TRUE(panel->lockBtn->isVisibleTo(panel.get()));
    EXPECT_TRUE(panel->lockBtn->isEnabled());
    EXPECT_FALSE(panel->lockBtn->icon().isNull());
    // A picture only: its name and tooltip say what a press does.
    EXPECT_EQ(panel->lockBtn->accessibleName(), hvb::LocalizedString::Msg::unlockCameraButton());
    EXPECT_EQ(panel->lockBtn->toolTip(), hvb::LocalizedString::Msg::unlockToChangeSettingsTip());
    EXPECT_FALSE(panel->HWKeyResetON->isEnabled());
    EXPECT_FALSE(panel->HWKeyResetOFF->isEnabled());
    EXPECT_TRUE(allPopUpsDisabled());
    EXPECT_FALSE(panel->deviceTableView->buttonCell(0)->btnSyncTime->isEnabled());
    EXPECT_TRUE(apptest::saveScreenshot(panel.get(), "settings-locked-HW7334"));
    EXPECT_EQ(apptest::keyboardFaults(panel.get()), QStringList());

    // The lock button asks for the unlock dialog, which the Tool panel brings; nothing is rebuilt.
    hvb::isUnlockOnly = false;
    const int before = reloads;
    QTest::mouseClick(panel->lockBtn, Qt::LeftButton);
    apptest::waitUntil([] { return false; }, 50);
    EXPECT_TRUE(hvb::isUnlockOnly.load());
    EXPECT_TRUE(sawLine("openUnlockWindow"));
    EXPECT_EQ(reloads, before);

    ASSERT_TRUE(chooseCamera("Desk 2"));
    EXPECT_FALSE(panel->lockFlag);
    EXPECT_FALSE(panel->lockBtn->isVisibleTo(panel.get()));
    EXPECT_TRUE(panel->HWKeyResetON->isEnabled());
    EXPECT_TRUE(panel->HWKeyResetOFF->isEnabled());
    EXPECT_TRUE(cell("HVB_LED")->popUpButton->isEnabled());

    // Encrypted but unlocked: the button shows, disabled, with the open lock.
    auto open = plug("HVBT3A", "1.3.0", [](auto& c) { c.setEncrypted(true); }, named("Open 3"));
    ASSERT_TRUE(chooseCamera("Open 3"));
    EXPECT_TRUE(panel->lockBtn->isVisibleTo(panel.get()));
    EXPECT_FALSE(panel->lockBtn->isEnabled());
    EXPECT_EQ(panel->lockBtn->accessibleName(), hvb::LocalizedString::Msg::cameraUnlocked());
    EXPECT_EQ(panel->lockBtn->toolTip(), hvb::LocalizedString::Msg::cameraUnlockedTip());
    EXPECT_TRUE(panel->HWKeyResetON->isEnabled());
}

TEST_F(PanelSelection, AnOldFirmwareCameraShowsNoSettings) {
    auto current = plug("HVBT3A", "1.3.0", [](auto& c) { c.setEncrypted(true); }, named("Open 3"));
    auto old = plug("HVBR4", "1.3.05");
    showPanel();
    ASSERT_TRUE(panel->lockBtn->isVisibleTo(panel.get()));
    ASSERT_TRUE(chooseCamera("PS-0042"));
    EXPECT_EQ(panel->deviceTableView->settingsModel()->rowCount(), 0);
    EXPECT_EQ(panel->videoTableView->settingsModel()->rowCount(), 0);
    EXPECT_EQ(panel->stampTableView->settingsModel()->rowCount(), 0);
    EXPECT_FALSE(panel->HWKeyResetBox->isVisibleTo(panel.get()));
    EXPECT_FALSE(panel->lockBtn->isVisibleTo(panel.get()));
    EXPECT_EQ(panel->curUID.toStdString(), current->uid());
    EXPECT_TRUE(apptest::saveScreenshot(panel.get(), "settings-HVBR4-1.3.05-old-firmware"));

    ASSERT_TRUE(chooseCamera("Open 3"));
    EXPECT_TRUE(panel->HWKeyResetBox->isVisibleTo(panel.get()));
    EXPECT_TRUE(panel->lockBtn->isVisibleTo(panel.get()));
    EXPECT_NE(cell("HVB_LED"), nullptr);
}

TEST_F(PanelSelection, RulesComeFromTheCameraShownNotFromTheOneBefore) {
    auto governed = plug("HVBS2A", "1.13.0", [](auto& c) {
        c.setSetting("HVB_STEALTH", 1);
        c.setSetting("HVB_MICROPHONE", 0);
        c.setSetting("HVB_RECORDINGMODE", 1);
        c.setSetting("HVB_VIDEOSTAMP", 0);
    }, named("Alpha", "HVBS2A00000A0001"));
    auto free = plug("HVBS2A", "1.13.0", [](auto& c) {
        for (const char* name : {"HVB_STEALTH", "HVB_MICROPHONE", "HVB_RECORDINGMODE", "HVB_VIDEOSTAMP"})
            c.setSetting(name, -1);
    }, named("Bravo", "HVBS2A00000B0002"));
    showPanel();
    EXPECT_FALSE(cell("HVB_LED")->popUpButton->isEnabled());
    EXPECT_EQ(cell("HVB_BUFFERLENGTH"), nullptr);
    EXPECT_FALSE(cell("HVB_WATERMARK")->popUpButton->isEnabled());

    ASSERT_TRUE(chooseCamera("Bravo"));
    EXPECT_EQ(shown("HVB_LED"), "ON");
    EXPECT_TRUE(cell("HVB_LED")->popUpButton->isEnabled());
    EXPECT_EQ(shown("HVB_BUFFERLENGTH"), "60 Seconds");
    EXPECT_EQ(shown("HVB_BUFFERAUDIO"), "ON");
    EXPECT_TRUE(cell("HVB_BUFFERAUDIO")->popUpButton->isEnabled());
    EXPECT_TRUE(cell("HVB_WATERMARK")->popUpButton->isEnabled());
    EXPECT_TRUE(cell("HVB_DATEFORMAT")->popUpButton->isEnabled());
    EXPECT_EQ(panel->stealthIndex, -1);
    EXPECT_EQ(panel->defaultRecordingModeIndex, -1);
    const Lines video = describeTable(panel->videoTableView);
    EXPECT_EQ(std::count(video.begin(), video.end(), "(blank)"), 0);
}

TEST_F(PanelSelection, TheClockButtonOpensTheClockDialogAndRebuildsAfterIt) {
    plug("HVBS2A", "1.13.0");
    showPanel();
    // Without the dialog (it comes with the Tool panel) the click is logged and changes nothing.
    int before = reloads;
    QTest::mouseClick(panel->deviceTableView->buttonCell(0)->btnSyncTime, Qt::LeftButton);
    apptest::waitUntil([] { return false; }, 50);
    EXPECT_TRUE(sawLine("openSyncTimeWindow"));
    EXPECT_EQ(reloads, before);

    // With a dialog: it runs modally, and the page is rebuilt once it closes.
    auto& storyboard = appkit::Storyboard::main();
    storyboard.registerController("SyncTimeWindowController", [] { return new hvb::SyncTimeWindowController(); });
    QTest::mouseClick(panel->deviceTableView->buttonCell(0)->btnSyncTime, Qt::LeftButton);
    EXPECT_TRUE(waitForReload(before));
    storyboard.registerController("SyncTimeWindowController", [] { return nullptr; });

    // The unlock dialog likewise, without a rebuild afterwards.
    storyboard.registerController("PasswordEnterWindowController", [] { return new appkit::WindowController(); });
    int sessions = 0;
    appkit_test::ModalHookScope hook([&](appkit::Window*) {
        ++sessions;
        appkit::abortModal();
    });
    before = reloads;
    panel->openUnlockWindow();
    apptest::waitUntil([] { return false; }, 50);
    EXPECT_EQ(sessions, 1);
    EXPECT_EQ(reloads, before);
    storyboard.registerController("PasswordEnterWindowController", [] { return nullptr; });
}
