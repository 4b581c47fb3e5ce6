// The Tool panel: its selector, its rows by what the camera's table and lock state allow, the
// dialogs its buttons open (behind the unlock dialog on a protected camera), and the registry's
// replacement of an open dialog by its result.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "../app/AppTestSupport.h"
#include "ToolsTestSupport.h"
#include "app/AppStartup.h"
#include "camera/CommandTables.h"
#include "camera/DeviceState.h"
#include "platform/appkit/AppkitTestSupport.h"
#include "platform/appkit/Application.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "tools/DialogRegistry.h"
#include "tools/HVBToolViewController.h"
#include "tools/ToolsStoryboard.h"

namespace {

using namespace toolstest;
using hvb::HVBToolViewController;

class ToolPanel : public ::testing::Test {
protected:
    void SetUp() override {
        foundation::setLogEchoEnabled(false);
        dispatch::setTimeScale(0.01);
        hvb::buildAllCommandTables();
        link = makeFakeLink();
        hvb::setCameraLink(link);
        previousReports_ = hvb::usageReports();
        hvb::setUsageReports(link);
        hvb::registerAppControllers();
        hvb::registerToolControllers();
        for (const char* id : {hvb::kDiskFormatWindowControl, hvb::kResetDefaultWindowController,
                               hvb::kResetAllWindowController, hvb::kPasswordSettingWindowController,
                               hvb::kFWUpgradeWindowController})
            registerFakeDialog(id, stateOf(id), &log);
        modalHook_.emplace([this](appkit::Window* window) {
            if (onModal) return onModal(window);
            window->performClose();
            appkit::abortModal();
        });
        for (auto* slot : {&hvb::diskFormatWindow, &hvb::resetDefaultWindow, &hvb::resetAllWindow,
                           &hvb::passwordSettingWindow, &hvb::fwUpgradeWindow})
            *slot = nullptr;
        hvb::isPasswordVerified = false;
    }
    void TearDown() override {
        panel.reset();
        modalHook_.reset();
        hvb::setCameraLink(nullptr);
        hvb::setUsageReports(previousReports_);
        hvb::registerToolControllers();
        EXPECT_EQ(appkit::modalSessionDepth(), 0);
    }

    static std::function<int()> stateOf(const std::string& id) {
        if (id == hvb::kDiskFormatWindowControl) return [] { return hvb::diskFormatState; };
        if (id == hvb::kResetDefaultWindowController) return [] { return int(hvb::resetDefaultState); };
        if (id == hvb::kResetAllWindowController) return [] { return int(hvb::resetAllState); };
        if (id == hvb::kPasswordSettingWindowController)
            return [] { return int(hvb::passwordSettingState) * 10 + hvb::passwordSettingMode; };
        return [] { return int(hvb::fwUpgradeState); };
    }

    // The first table with and without the lock and reset commands: "<model>Cmd_<n>".
    static std::pair<std::string, int64_t> tableWith(bool lockable, bool resettable) {
        for (const auto& name : hvb::cmdTables().names()) {
            auto table = *hvb::cmdTables().find(name);
            if ((table.count("HVB_LOCKABLE") != 0) == lockable && (table.count("HVB_RESET") != 0) == resettable) {
                auto at = name.find("Cmd_");
                return {name.substr(0, at), std::stoll(name.substr(at + 4))};
            }
        }
        // No camera has a lock without a reset: the test makes that table from one that has both.
        auto table = *hvb::cmdTables().find("HW7334Cmd_1");
        table.erase("HVB_RESET");
        hvb::cmdTables().store("HW7334Cmd_0", table);
        return {"HW7334", 0};
    }

    void showPanel() {
        panel = std::make_unique<HVBToolViewController>();
        panel->view();
        panel->resize(820, 640);
        panel->beginAppearance();
        panel->show();
        panel->endAppearance();
        settle();
    }
    static void settle() { apptest::waitUntil([] { return false; }, 20); }

    bool shown(QWidget* w) const { return w && w->isVisible(); }

    std::shared_ptr<hvbtest::FakeCameraLink> link;
    std::unique_ptr<HVBToolViewController> panel;
    DialogLog log;
    std::function<void(appkit::Window*)> onModal;

private:
    std::optional<appkit_test::ModalHookScope> modalHook_;
    std::shared_ptr<hvb::UsageReports> previousReports_;
};

TEST_F(ToolPanel, WithoutACameraEverythingIsOffAndTheSelectionIsKept) {
    link->selected = 3;
    showPanel();
    EXPECT_EQ(panel->deviceComboBox->count(), 0);
    EXPECT_EQ(panel->deviceComboBox->currentIndex(), -1);
    EXPECT_FALSE(panel->deviceComboBox->isEnabled());
    for (QPushButton* b : {panel->SetPWDBtn.data(), panel->ChangePWDBtn.data(), panel->DisablePWDBtn.data(),
                           panel->FormatBtn.data(), panel->ResetDefaultBtn.data(), panel->ResetAllBtn.data()})
        EXPECT_FALSE(b->isEnabled());
    EXPECT_EQ(link->selected, 3);
    EXPECT_EQ(panel->ResetAllBtn->text(), "Erase / Reset");
}

TEST_F(ToolPanel, ACameraUnpluggedWhileShownTurnsEverythingOff) {
    addCamera(*link, "cam0001", "HW7334", 1, true);
    showPanel();
    ASSERT_TRUE(panel->FormatBtn->isEnabled());
    ASSERT_TRUE(panel->ChangePWDBtn->isEnabled());
    link->entries.clear();
    link->records.clear();
    link->count = 0;
    hvb::postStatusDidGet();
    settle();
    EXPECT_EQ(panel->deviceComboBox->count(), 0);
    EXPECT_FALSE(panel->deviceComboBox->isEnabled());
    for (QPushButton* b : {panel->ChangePWDBtn.data(), panel->DisablePWDBtn.data(), panel->FormatBtn.data(),
                           panel->ResetDefaultBtn.data(), panel->ResetAllBtn.data()})
        EXPECT_FALSE(b->isEnabled());
    EXPECT_EQ(link->selected, 0);
    // Not shown: no rebuild on "statusDidGet" until the next appearance.
    panel->beginDisappearance();
    panel->endDisappearance();
    addCamera(*link, "cam0002", "HVBR4B", 0, false);
    hvb::postStatusDidGet();
    settle();
    EXPECT_EQ(panel->deviceComboBox->count(), 0);
    panel->beginAppearance();
    panel->endAppearance();
    settle();
    EXPECT_EQ(panel->deviceComboBox->count(), 1);
    EXPECT_TRUE(panel->FormatBtn->isEnabled());
}

TEST_F(ToolPanel, ItemsFollowTheLabelRuleAndTheSelectionIsClamped) {
    addCamera(*link, "hw7334uid01", "HW7334", 1, false, "");
    const std::string displayName = hvb::modelDisplayNames().at("HVBR7");
    addCamera(*link, "hvbr7uid02", "HVBR7", 3, false, displayName);
    addCamera(*link, "hvbs2uid03", "HVBS2A", 6, false, "Officer 9");
    link->selected = 7;
    showPanel();
    ASSERT_EQ(panel->deviceComboBox->count(), 3);
    EXPECT_EQ(panel->deviceComboBox->itemText(0), "HW7334UID01");
    EXPECT_EQ(panel->deviceComboBox->itemText(1), "HVBR7UID02");
    EXPECT_EQ(panel->deviceComboBox->itemText(2), "Officer 9");
    EXPECT_EQ(link->selected, 2);
    EXPECT_EQ(panel->deviceComboBox->currentIndex(), 2);

    link->selected = -1;
    hvb::postStatusDidGet();
    settle();
    EXPECT_EQ(link->selected, 0);
    EXPECT_EQ(panel->deviceComboBox->currentIndex(), 0);
    EXPECT_EQ(hvb::selectedCmdDic, *hvb::cmdTables().find("HW7334Cmd_1"));
}

TEST_F(ToolPanel, ACameraWithoutItemShiftsNoOtherAndOldFirmwareShowsItsLabel) {
    addCamera(*link, "odd0001", "HVBX9", 0);                // no display name: no item
    addCamera(*link, "old0002", "HVBR4", 0, false, "");     // old firmware: its label, even empty
    link->records[link->entries[1].key()].isOldFirmware = true;
    link->records[link->entries[1].key()].UserLabel = "Unit 4";
    addCamera(*link, "hw7334uid03", "HW7334", 1, true, "Car 12");
    link->count = 4;  // one counted but not listed yet
    link->selected = 2;
    showPanel();
    EXPECT_EQ(panel->itemDeviceIndexes(), (std::vector<int64_t>{1, 2}));
    EXPECT_EQ(panel->deviceComboBox->itemText(0), "Unit 4");
    EXPECT_EQ(panel->deviceComboBox->currentText(), "Car 12");
    EXPECT_TRUE(shown(panel->ChangePWDBtn));  // the rows are the HW7334's, not the item's neighbour's
    panel->deviceComboBox->setCurrentIndex(0);
    settle();
    EXPECT_EQ(link->selected, 1);
}

TEST_F(ToolPanel, RowsFollowLockableEncryptedAndResettable) {
    for (bool lockable : {true, false}) {
        for (bool resettable : {true, false}) {
            for (bool encrypted : {true, false}) {
                SCOPED_TRACE(testing::Message() << "lockable " << lockable << " resettable " << resettable
                                                << " encrypted " << encrypted);
                hvb::buildAllCommandTables();
                auto [model, cut] = tableWith(lockable, resettable);
                link = makeFakeLink();
                hvb::setCameraLink(link);
                addCamera(*link, "cam0001", model, cut, encrypted);
                showPanel();
                EXPECT_TRUE(panel->FormatBtn->isEnabled());
                EXPECT_TRUE(panel->ResetAllBtn->isEnabled());
                EXPECT_TRUE(shown(panel->ResetAllBtn));
                EXPECT_EQ(shown(panel->passwordBox), lockable);
                EXPECT_EQ(panel->stackViewHeight, lockable ? 346 : 268);
                if (lockable) {
                    EXPECT_EQ(shown(panel->SetPWDBtn), !encrypted);
                    EXPECT_EQ(shown(panel->ChangePWDBtn), encrypted);
                    EXPECT_EQ(shown(panel->DisablePWDBtn), encrypted);
                    EXPECT_EQ(panel->PWDMsg->text(),
                              encrypted ? QString("Change Password / Disable password") : QString("Set a password"));
                }
                EXPECT_EQ(shown(panel->ResetDefaultBtn), resettable);
                EXPECT_EQ(shown(panel->ResetDefaultTitle), resettable);
                EXPECT_EQ(panel->constraintResetable.active, resettable);
                EXPECT_EQ(panel->constraintNotResetable.active, !resettable);
                EXPECT_EQ(panel->isDeviceEncryption, encrypted);
            }
        }
    }
}

TEST_F(ToolPanel, ARecordWithoutLockStateCountsAsUnprotected) {
    addCamera(*link, "cam0001", "HW7334", 1, true);
    addCamera(*link, "cam0002", "HVBR4B", 0, std::nullopt);  // no reset row either
    link->selected = 0;
    showPanel();
    ASSERT_TRUE(shown(panel->ChangePWDBtn));
    ASSERT_TRUE(panel->isDeviceEncryption);
    panel->deviceComboBox->setCurrentIndex(1);
    settle();
    EXPECT_FALSE(panel->isDeviceEncryption);
    EXPECT_FALSE(shown(panel->passwordBox));
    EXPECT_FALSE(shown(panel->ResetDefaultBtn));
    EXPECT_TRUE(panel->FormatBtn->isEnabled());
    EXPECT_EQ(hvb::selectedCmdDic, *hvb::cmdTables().find("HVBR4BCmd_0"));
    // So the format opens without asking for a password.
    panel->FormatBtn->click();
    ASSERT_EQ(log.opened.size(), 1u);
    EXPECT_EQ(log.opened[0].first, hvb::kDiskFormatWindowControl);
}

TEST_F(ToolPanel, PasswordButtonsOpenTheSettingDialogInTheirModeWithoutUnlocking) {
    addCamera(*link, "cam0001", "HW7334", 1, true);
    showPanel();
    panel->ChangePWDBtn->click();
    panel->DisablePWDBtn->click();
    link->records.begin()->second.isDeviceEncryption = false;
    hvb::postStatusDidGet();
    settle();
    panel->SetPWDBtn->click();
    ASSERT_EQ(log.opened.size(), 3u);
    for (const auto& [id, state] : log.opened) EXPECT_EQ(id, hvb::kPasswordSettingWindowController);
    // state byte 0, modes 1, 2 and 0
    EXPECT_EQ(log.opened[0].second, 1);
    EXPECT_EQ(log.opened[1].second, 2);
    EXPECT_EQ(log.opened[2].second, 0);
}

TEST_F(ToolPanel, OnAProtectedCameraFormatAndResetsAskForThePasswordFirst) {
    addCamera(*link, "cam0001", "HW7334", 1, true);
    showPanel();
    DialogLog unlocks;
    bool verdict = false;
    appkit::Storyboard::main().registerController(hvb::kPasswordEnterWindowController, [&] {
        return new FakeDialogWindowController(
            "unlock", [&] {
                EXPECT_FALSE(hvb::isUnlockOnly.load());
                hvb::isPasswordVerified = verdict;
                return 0;
            },
            &unlocks);
    });
    hvb::diskFormatState = 7;
    panel->FormatBtn->click();  // wrong or cancelled: nothing opens, the state is left alone
    EXPECT_EQ(unlocks.opened.size(), 1u);
    EXPECT_TRUE(log.opened.empty());
    EXPECT_EQ(hvb::diskFormatState, 7);

    verdict = true;
    panel->FormatBtn->click();
    panel->ResetDefaultBtn->click();
    panel->ResetAllBtn->click();
    EXPECT_EQ(unlocks.opened.size(), 4u);
    ASSERT_EQ(log.opened.size(), 3u);
    EXPECT_EQ(log.opened[0], std::make_pair(std::string(hvb::kDiskFormatWindowControl), 0));
    EXPECT_EQ(log.opened[1], std::make_pair(std::string(hvb::kResetDefaultWindowController), 0));
    EXPECT_EQ(log.opened[2], std::make_pair(std::string(hvb::kResetAllWindowController), 0));
}

TEST_F(ToolPanel, TheFirstVisibleSlotIsReplacedWithTheResult) {
    // Two dialogs on screen: reset all comes before disk format.
    appkit::Window resetAll(new FakeDialog("resetAll", 0));
    appkit::Window diskFormat(new FakeDialog("diskFormat", 0));
    resetAll.makeKeyAndOrderFront();
    diskFormat.makeKeyAndOrderFront();
    hvb::resetAllWindow = &resetAll;
    hvb::diskFormatWindow = &diskFormat;
    hvb::diskFormatState = 0;
    hvb::HVBToolViewController::reopenDialogWithResult(2);
    ASSERT_EQ(log.opened.size(), 1u);
    EXPECT_EQ(log.opened[0], std::make_pair(std::string(hvb::kResetAllWindowController), 2));
    EXPECT_FALSE(resetAll.isVisibleWindow());
    EXPECT_TRUE(diskFormat.isVisibleWindow());
    EXPECT_EQ(hvb::diskFormatState, 0);

    // A closed window is passed over.
    hvb::resetAllWindow = &resetAll;
    hvb::HVBToolViewController::reopenDialogWithResult(1);
    ASSERT_EQ(log.opened.size(), 2u);
    EXPECT_EQ(log.opened[1], std::make_pair(std::string(hvb::kDiskFormatWindowControl), 1));
    EXPECT_EQ(hvb::diskFormatState, 1);
    hvb::resetAllWindow = nullptr;
    hvb::diskFormatWindow = nullptr;

    // Nothing visible: nothing happens.
    hvb::HVBToolViewController::reopenDialogWithResult(1);
    EXPECT_EQ(log.opened.size(), 2u);
}

// Calls `action` when the watched object is hidden.
class OnHide : public QObject {
public:
    OnHide(QObject* watched, std::function<void()> action) : action_(std::move(action)) {
        watched->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Hide && action_) std::exchange(action_, nullptr)();
        return false;
    }

private:
    std::function<void()> action_;
};

TEST_F(ToolPanel, TheReplacedDialogsSessionEndsAfterItsReplacement) {
    std::vector<int> order;
    int sessions = 0;
    bool served = false, servedBeforeTheFreshDialog = false;
    std::unique_ptr<OnHide> onHide;
    onModal = [&](appkit::Window* window) {
        ++sessions;
        if (sessions == 1) {
            // Work that reaches the loop once the first dialog is closed is done before the fresh
            // one opens: the windows are served between the two.
            onHide = std::make_unique<OnHide>(window, [&] {
                QMetaObject::invokeMethod(qApp, [&] { served = true; }, Qt::QueuedConnection);
            });
            // The re-detection's ending arrives while the first dialog's session runs.
            dispatch::mainQueue().async([] { hvb::HVBToolViewController::reopenDialogWithResult(1); });
            return;
        }
        servedBeforeTheFreshDialog = served;
        order.push_back(appkit::modalSessionDepth());
        window->performClose();
        appkit::abortModal();
    };
    hvb::resetDefaultState = 0;
    ASSERT_TRUE(hvb::runDialogFromStoryboard(hvb::kResetDefaultWindowController, &hvb::resetDefaultWindow));
    order.push_back(appkit::modalSessionDepth());
    EXPECT_EQ(order, (std::vector<int>{2, 0}));  // nested inside the first, which ended after it
    EXPECT_TRUE(servedBeforeTheFreshDialog);
    ASSERT_EQ(log.opened.size(), 2u);
    EXPECT_EQ(log.opened[1].second, 1);
    EXPECT_EQ(hvb::resetDefaultState, 1);
    EXPECT_TRUE(hvb::resetDefaultWindow.isNull());
}

TEST_F(ToolPanel, ADialogMissingFromTheStoryboardOpensNothing) {
    appkit::Storyboard::main().registerController(hvb::kResetDefaultWindowController, nullptr);
    hvb::resetDefaultWindow = nullptr;
    EXPECT_FALSE(hvb::runDialogFromStoryboard(hvb::kResetDefaultWindowController, &hvb::resetDefaultWindow));
    EXPECT_EQ(appkit::modalSessionDepth(), 0);
}

}  // namespace
