// The disk-format, reset-to-default and reset-all dialogs with simulated cameras: each opener
// (Tool panel, Status row, the plug-in read's storage error, the forgot-password path), the
// commands and the reboot, what the camera looks like afterwards, and a camera that refuses,
// never finishes or goes away at each step.
#include <QTest>

#include "DeviceDialogTestSupport.h"
#include "app/AppStartup.h"
#include "camera/BVConfigIni.h"
#include "camera/CameraLinkHooks.h"
#include "common/HandCursorNSTextField.h"
#include "common/LocalizedString.h"
#include "status/StatusTableViewCell.h"
#include "status/StatusViewController.h"
#include "tools/DiskFormatViewControl.h"
#include "tools/DiskFormatWorker.h"
#include "tools/FWUpgradeViewController.h"
#include "tools/SyncTimeViewController.h"
#include "tools/ResetAllWorker.h"
#include "tools/ResetDefaultWorker.h"

namespace {

using namespace toolstest;

constexpr const char* kPassword = "Abcd1234";

class FormatReset : public DialogFixture {
protected:
    // The dialog opened the way the forgot-password paths and the Status row do: the chosen
    // camera's table, state 0, run modally from the storyboard.
    void runDialog(const char* identifier, QPointer<appkit::Window>* slot, int64_t selected = 0) {
        hvb::DeviceState::shared().selectedDeviceIndex = selected;
        auto chosen = faults->camera(selected);
        hvb::selectedCmdDic = chosen ? chosen->table : hvb::CommandDictionary{};
        hvb::resetAllState = 0;
        hvb::resetDefaultState = 0;
        hvb::diskFormatState = 0;
        hvb::runDialogFromStoryboard(identifier, slot);
    }
    std::vector<std::string> startCommands(const std::shared_ptr<SimulatedBodyCamera>& c) {
        std::vector<std::string> out;
        for (const auto& w : c->writes())
            if (w.payload == startBlock()) out.push_back(w.name);
        return out;
    }
    bool blockCleared(const std::shared_ptr<SimulatedBodyCamera>& c) {
        auto r = recordOf(c);
        return !r || r->isFormatBlock != true;
    }
};

// ---- the openers ----

TEST_F(FormatReset, TheToolPanelsFormatEmptiesTheVolumeAndRebootsTheCamera) {
    auto cam = plugged("HVBR7", "1.6.01");
    auto& tool = toolPanel();
    const std::string key = hvb::DeviceState::shared().entryAt(0)->key();
    std::optional<bool> blockWhilePolling;
    faults->before(code(cam, "HVB_FORMAT_1"), [&] {
        blockWhilePolling = hvb::DeviceState::shared().recordCopy(key)->isFormatBlock;
    }, 2);
    const int attaches = cam->attachCount();
    cam->clearWrites();
    tool.FormatBtn->click();
    ASSERT_FALSE(outcomes.empty());
    EXPECT_EQ(outcomes.front().dialog, "DiskFormatViewControl");
    EXPECT_EQ(lastOutcome(), "Success");
    EXPECT_EQ(startCommands(cam), (std::vector<std::string>{"HVB_FORMAT_1", "HVB_REBOOT"}));
    EXPECT_FALSE(hasVideo(cam));
    EXPECT_EQ(blockWhilePolling, true);
    EXPECT_TRUE(sawLine("format UID = " + cam->uid()));
    EXPECT_TRUE(sawLine("format result = 1"));
    EXPECT_TRUE(sawLine("formatResult = 1"));
    ASSERT_TRUE(waitUntil([&] { return cam->attachCount() == attaches + 1 && recordOf(cam); }));
    EXPECT_TRUE(blockCleared(cam));
    EXPECT_EQ(reports->screens().front(),
              std::make_pair(std::string("HVB Tool"), std::string("HVBToolViewController")));
    bool reported = false;
    for (const auto& screen : reports->screens())
        reported = reported || screen == std::make_pair(std::string("Disk Format"), std::string("DiskFormatViewController"));
    EXPECT_TRUE(reported);
}

TEST_F(FormatReset, AStatusRowsFormatTakesItsOwnCameraAndRewritesTheConfiguration) {
    auto other = plugged("HVBR7", "1.6.01");
    auto cam = plugged("HW7334", "1.0.0");
    hvb::StatusViewController status;
    status.view();
    status.beginAppearance();
    status.show();
    status.endAppearance();
    ASSERT_TRUE(waitUntil([&] { return status.rowAt(1) != nullptr; }));
    hvb::DeviceState::shared().selectedDeviceIndex = 0;
    other->clearWrites();
    cam->clearWrites();
    status.rowAt(1)->formatButtonDidTap();
    ASSERT_FALSE(outcomes.empty());
    EXPECT_EQ(lastOutcome(), "Success");
    // A 7334 stays on the bus: no reboot, its configuration file written anew.
    EXPECT_EQ(startCommands(cam), std::vector<std::string>{"HVB_FORMAT_1"});
    EXPECT_TRUE(other->writes().empty());
    EXPECT_TRUE(hasVideo(other));
    EXPECT_FALSE(hasVideo(cam));
    auto record = recordOf(cam);
    ASSERT_TRUE(record && record->DeviceParam);
    EXPECT_EQ(TempDir::read(volumeOf(cam) / "SYSTEM" / "BVConfig.ini"), hvb::bvConfigLine(*record->DeviceParam) + "\n");
    EXPECT_TRUE(blockCleared(cam));
    status.beginDisappearance();
    status.endDisappearance();
}

TEST_F(FormatReset, AStorageErrorOfANewCameraFormatsThatCameraNotTheChosenOne) {
    auto chosen = plugged("HVBR7", "1.6.01");
    toolPanel(0);
    hvb::installCameraLinkHooks();
    auto hooks = hvb::cameraLinkHooks();
    hooks.sendEvent = [](const std::string&, const std::map<std::string, std::string>&) {};
    hooks.isFirmwareUpToDate = [](const std::string&, const std::string&) { return true; };
    hooks.downloadReleaseNotes = [] {};
    hvb::setCameraLinkHooks(hooks);
    QString title;
    atQuestion = [&](appkit::ViewController* c) {
        title = static_cast<hvb::DeviceTaskViewController*>(c)->titleText();
    };
    auto broken = camera("HW7333", "1.0.0");
    broken->setSDCardStatus(1);
    chosen->clearWrites();
    ASSERT_TRUE(plug(broken));
    ASSERT_TRUE(waitUntil([&] { return !outcomes.empty(); }));
    hvb::setCameraLinkHooks({});
    EXPECT_EQ(title, hvb::LocalizedString::Msg::sdCardError());
    EXPECT_EQ(lastOutcome(), "Success");
    EXPECT_EQ(startCommands(broken), std::vector<std::string>{"HVB_FORMAT_1"});
    EXPECT_FALSE(hasVideo(broken));
    EXPECT_TRUE(chosen->writes().empty());
    EXPECT_TRUE(hasVideo(chosen));
    EXPECT_EQ(hvb::DeviceState::shared().selectedDeviceIndex.load(), 0);
}

TEST_F(FormatReset, AfterTheUnlockRebootedTheChosenCameraTheFormatStillReachesIt) {
    auto locked = plugged("HW7334", "1.0.0", kPassword);
    auto other = plugged("HVBR7", "1.6.01");
    auto& tool = toolPanel(0);
    ASSERT_TRUE(tool.isDeviceEncryption);
    unlockPassword = kPassword;
    other->clearWrites();
    tool.FormatBtn->click();
    // The unlock removed the password and the camera came back at the end of the list.
    EXPECT_EQ(hvb::DeviceState::shared().entryAt(0)->serialNumber, other->serialNumber());
    EXPECT_EQ(lastOutcome(), "Success");
    EXPECT_FALSE(hasVideo(locked));
    EXPECT_TRUE(hasVideo(other));
    EXPECT_TRUE(other->writes().empty());
}

TEST_F(FormatReset, ResetToDefaultRestoresTheSettingsAndReboots) {
    auto cam = plugged("HVBR7", "1.6.01");
    cam->setSetting("HVB_LED", 0);
    cam->setSetting("HVB_MICROPHONE", 0);
    ASSERT_NE(cam->settings(), cam->defaultSettings());
    auto& tool = toolPanel();
    ASSERT_FALSE(tool.ResetDefaultBtn->isHidden());
    cam->clearWrites();
    tool.ResetDefaultBtn->click();
    ASSERT_FALSE(outcomes.empty());
    // Success comes from the re-detection, on a fresh dialog.
    EXPECT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes.back().dialog, "ResetDefaultViewController");
    EXPECT_EQ(outcomes.back().state, 1);
    EXPECT_EQ(lastOutcome(), "Success");
    EXPECT_EQ(startCommands(cam), (std::vector<std::string>{"HVB_RESET", "HVB_REBOOT"}));
    EXPECT_EQ(cam->settings(), cam->defaultSettings());
    EXPECT_TRUE(hasVideo(cam));
    EXPECT_TRUE(sawLine("resetDefaultResult = 1"));
}

TEST_F(FormatReset, TheEraseButtonOfALockedCameraUnlocksFirstThenErasesIt) {
    auto cam = plugged("HW7334", "1.0.0", kPassword);
    cam->setSetting("HVB_LED", 0);
    auto& tool = toolPanel();
    ASSERT_TRUE(tool.isDeviceEncryption);
    unlockPassword = kPassword;
    tool.ResetAllBtn->click();
    ASSERT_FALSE(outcomes.empty());
    EXPECT_EQ(lastOutcome(), "Success");
    for (const auto& o : outcomes) EXPECT_NE(o.text, "Fail");
    EXPECT_FALSE(cam->password().has_value());
    EXPECT_FALSE(hasVideo(cam));
    EXPECT_EQ(cam->settings(), cam->defaultSettings());
}

TEST_F(FormatReset, ResetAllOfALockedCameraAsksNoPasswordAndRemovesIt) {
    auto cam = plugged("HW7334", "1.0.0", kPassword);
    cam->clearWrites();
    runDialog(hvb::kResetAllWindowController, &hvb::resetAllWindow);
    EXPECT_EQ(lastOutcome(), "Success");
    for (const auto& w : cam->writes()) EXPECT_NE(w.name, "HVB_GET_PWDCHECK");
    EXPECT_EQ(startCommands(cam), (std::vector<std::string>{"HVB_RESETALL", "HVB_REBOOT"}));
    EXPECT_FALSE(cam->password().has_value());
    EXPECT_FALSE(cam->isStorageLocked());
    EXPECT_FALSE(hasVideo(cam));
}

TEST_F(FormatReset, TheUnlockDialogsForgotPathErasesTheCameraAndCloses) {
    auto cam = plugged("HW7334", "1.0.0", kPassword);
    recordOf(cam)->passwordErrorCnt = 5;
    hvb::DeviceState::shared().selectedDeviceIndex = 0;
    hvb::isUnlockOnly = true;
    appkit::Window unlock(new hvb::PasswordEnterViewControl());
    unlock.makeKeyAndOrderFront();
    auto* d = static_cast<hvb::PasswordEnterViewControl*>(unlock.contentViewController());
    ASSERT_FALSE(d->passwordForgotLabel->isHidden());
    hvb::isPasswordVerified = true;
    d->forgotPasswordClicked();
    ASSERT_FALSE(outcomes.empty());
    EXPECT_EQ(outcomes.back().dialog, "ResetAllViewController");
    EXPECT_EQ(lastOutcome(), "Success");
    EXPECT_FALSE(cam->password().has_value());
    EXPECT_FALSE(hasVideo(cam));
    EXPECT_FALSE(hvb::isPasswordVerified);
    EXPECT_FALSE(unlock.isVisibleWindow());
}

struct ByFirmware {
    const char* model;
    const char* firmware;
    std::vector<std::string> commands;  // every command the camera takes, in order
};

// Only the R7 cameras are locked: the R4 firmware has no password.
std::string lockFor(const ByFirmware& p) { return std::string(p.model) == "HVBR7" ? kPassword : ""; }

class ResetAllByFirmware : public FormatReset, public ::testing::WithParamInterface<ByFirmware> {};

TEST_P(ResetAllByFirmware, TakesTheCommandsItsFirmwareNeeds) {
    const ByFirmware p = GetParam();
    auto cam = plugged(p.model, p.firmware, lockFor(p));
    cam->clearWrites();
    runDialog(hvb::kResetAllWindowController, &hvb::resetAllWindow);
    EXPECT_EQ(lastOutcome(), "Success");
    EXPECT_EQ(names(cam), p.commands);
    EXPECT_FALSE(cam->password().has_value());
    EXPECT_FALSE(hasVideo(cam));
    ASSERT_TRUE(waitUntil([&] { return recordOf(cam) && recordOf(cam)->isDeviceEncryption == false; }));
}

INSTANTIATE_TEST_SUITE_P(
    Firmware, ResetAllByFirmware,
    ::testing::Values(
        // Older R7 firmware keeps a lock with the factory password: lifted before the reboot.
        ByFirmware{"HVBR7", "1.5.00",
                   {"HVB_RESETALL", "HVB_SET_PWDCHECK", "HVB_SET_PWDCHECK", "HVB_LOCKABLE", "HVB_REBOOT"}},
        ByFirmware{"HVBR7", "1.6.01", {"HVB_RESETALL", "HVB_REBOOT"}},
        // Older R4 firmware erases only on the explicit format command.
        ByFirmware{"HVBR4", "1.4.00", {"HVB_RESETALL", "HVB_FORMAT_1", "HVB_REBOOT"}}),
    [](const auto& info) {
        std::string name = std::string(info.param.model) + "_" + info.param.firmware;
        for (char& c : name)
            if (c == '.') c = '_';
        return name;
    });

TEST_F(FormatReset, TheFactoryPasswordIsCheckedWithTheDialogsCopy) {
    auto cam = plugged("HVBR7", "1.5.00", kPassword);
    cam->clearWrites();
    runDialog(hvb::kResetAllWindowController, &hvb::resetAllWindow);
    EXPECT_EQ(lastOutcome(), "Success");
    const uint8_t check = code(cam, "HVB_SET_PWDCHECK");
    std::vector<std::vector<uint8_t>> checks;
    for (const auto& w : cam->writes())
        if (w.code == check) checks.push_back(w.payload);
    EXPECT_EQ(checks, (std::vector<std::vector<uint8_t>>{std::vector<uint8_t>(32, 0), block("40731958")}));
    for (const auto& w : cam->writes()) {
        if (w.name == "HVB_LOCKABLE") {
            EXPECT_EQ(w.payload, block("40731958"));
        }
    }
    EXPECT_TRUE(sawLine("FindHVB timerCounter = 1"));
}

TEST_F(FormatReset, CancelSendsNothing) {
    auto cam = plugged("HVBR7", "1.6.01");
    auto& tool = toolPanel();
    answerOK = false;
    cam->clearWrites();
    tool.FormatBtn->click();
    tool.ResetDefaultBtn->click();
    tool.ResetAllBtn->click();
    EXPECT_TRUE(cam->writes().empty());
    EXPECT_TRUE(outcomes.empty());
    EXPECT_EQ(opened, 3);
    EXPECT_TRUE(hasVideo(cam));
}

// ---- the camera refuses, never finishes, or goes away ----
// A camera unplugged while its format is polled ends the wait after 15 s of polls away (16
// polls), not after all 49.

enum class Fault { refuse, neverFinishes, unplugBefore, vanishAfter, formatNeverEnds, neverBack, wrongPassword };

struct Step {
    const char* name;
    const char* dialog;   // storyboard identifier
    const char* model;
    const char* firmware;
    bool locked;
    Fault fault;
    const char* command;  // the command the fault is tied to
    int occurrence;       // which block of that command (writes and reads count)
    int code;             // the outcome code; 0: failure shown by the re-detection
    size_t awayPolls = 0;  // format polls that missed the unplugged camera before the wait gave up
};

class CameraFault : public FormatReset, public ::testing::WithParamInterface<Step> {};

TEST_P(CameraFault, EndsInFailureWithTheBlockCleared) {
    const Step s = GetParam();
    auto cam = plugged(s.model, s.firmware, s.locked ? kPassword : "");
    cam->setFormatPolls(2);
    hvb::DeviceState::shared().setEnteredPassword(kPassword);
    const uint8_t c = s.command[0] ? code(cam, s.command) : 0;
    switch (s.fault) {
        case Fault::refuse: cam->session()->refuseCode(c); break;
        case Fault::neverFinishes: cam->session()->setPollsBeforeCompletion(c, 100000); break;
        case Fault::unplugBefore: faults->before(c, [cam] { cam->detach(); }, s.occurrence); break;
        case Fault::vanishAfter:
            faults->before(c, [cam, c] { cam->session()->vanishAfterCommand(c); }, s.occurrence);
            break;
        case Fault::formatNeverEnds: cam->setFormatNeverFinishes(true); break;
        case Fault::neverBack: cam->setRebootDownTime(-1); break;
        case Fault::wrongPassword: hvb::DeviceState::shared().setEnteredPassword("Wrong9999"); break;
    }
    QPointer<appkit::Window>* slot = std::string(s.dialog) == hvb::kResetAllWindowController ? &hvb::resetAllWindow
                                     : std::string(s.dialog) == hvb::kResetDefaultWindowController
                                         ? &hvb::resetDefaultWindow
                                         : &hvb::diskFormatWindow;
    if (slot == &hvb::diskFormatWindow)
        hvb::diskFormatTarget = hvb::DiskFormatTarget{cam->uid(), *hvb::cmdTables().find(cam->profile().tableName)};
    runDialog(s.dialog, slot);
    ASSERT_FALSE(outcomes.empty());
    EXPECT_FALSE(sawSuccess());
    EXPECT_EQ(lastOutcome(), "Fail");
    EXPECT_EQ(outcomes.back().state, s.code == 0 ? 1 : 0);
    if (s.code != 0) {
        const std::string prefix = slot == &hvb::resetAllWindow       ? "resetAllResult = "
                                   : slot == &hvb::resetDefaultWindow ? "resetDefaultResult = "
                                                                      : "formatResult = ";
        EXPECT_TRUE(sawLine(prefix + std::to_string(s.code)));
    }
    EXPECT_TRUE(blockCleared(cam));
    EXPECT_EQ(appkit::modalSessionDepth(), 0);
    EXPECT_EQ(countLines("format camera not found"), s.awayPolls);
    // An unplugged camera is not left listed, also when a block held its entry meanwhile.
    if (s.fault == Fault::unplugBefore) {
        EXPECT_TRUE(waitUntil([&] { return !recordOf(cam) && hvb::DeviceState::shared().deviceEntryList().empty(); }));
    }
}

using hvb::DiskFormatWorker;
using hvb::ResetAllWorker;
using hvb::ResetDefaultWorker;

INSTANTIATE_TEST_SUITE_P(
    Steps, CameraFault,
    ::testing::Values(
        // disk format
        Step{"FormatRefused", hvb::kDiskFormatWindowControl, "HVBR7", "1.6.01", false, Fault::refuse, "HVB_FORMAT_1",
             1, DiskFormatWorker::kSendFailed},
        Step{"FormatRebootRefused", hvb::kDiskFormatWindowControl, "HVBR7", "1.6.01", false, Fault::refuse,
             "HVB_REBOOT", 1, DiskFormatWorker::kRebootRefused},
        Step{"FormatNeverAnswers", hvb::kDiskFormatWindowControl, "HVBR7", "1.6.01", false, Fault::neverFinishes,
             "HVB_FORMAT_1", 1, DiskFormatWorker::kSendFailed},
        Step{"FormatUnpluggedBeforeTheCommand", hvb::kDiskFormatWindowControl, "HVBR7", "1.6.01", false,
             Fault::unplugBefore, "HVB_FORMAT_1", 1, DiskFormatWorker::kSendFailed},
        Step{"FormatUnpluggedWhilePolled", hvb::kDiskFormatWindowControl, "HVBR7", "1.6.01", false,
             Fault::unplugBefore, "HVB_FORMAT_1", 2, DiskFormatWorker::kNotFinished, 16},
        Step{"FormatNeverEnds", hvb::kDiskFormatWindowControl, "HW7334", "1.0.0", false, Fault::formatNeverEnds, "",
             0, DiskFormatWorker::kNotFinished},
        Step{"FormatGoneBeforeTheReboot", hvb::kDiskFormatWindowControl, "HVBR7", "1.6.01", false,
             Fault::vanishAfter, "HVB_FORMAT_1", 4, DiskFormatWorker::kRebootNotFound},
        Step{"FormatWrongKeptPassword", hvb::kDiskFormatWindowControl, "HW7334", "1.0.0", true,
             Fault::wrongPassword, "", 0, DiskFormatWorker::kWrongPassword},
        // reset to default
        Step{"ResetRefused", hvb::kResetDefaultWindowController, "HVBR7", "1.6.01", false, Fault::refuse,
             "HVB_RESET", 1, ResetDefaultWorker::kSendFailed},
        Step{"ResetRebootRefused", hvb::kResetDefaultWindowController, "HVBR7", "1.6.01", false, Fault::refuse,
             "HVB_REBOOT", 1, ResetDefaultWorker::kRebootRefused},
        Step{"ResetNeverAnswers", hvb::kResetDefaultWindowController, "HVBR7", "1.6.01", false,
             Fault::neverFinishes, "HVB_RESET", 1, ResetDefaultWorker::kSendFailed},
        Step{"ResetUnpluggedBeforeTheCommand", hvb::kResetDefaultWindowController, "HVBR7", "1.6.01", false,
             Fault::unplugBefore, "HVB_RESET", 1, ResetDefaultWorker::kSendFailed},
        Step{"ResetGoneRightAfterTheCommand", hvb::kResetDefaultWindowController, "HVBR7", "1.6.01", false,
             Fault::vanishAfter, "HVB_RESET", 1, ResetDefaultWorker::kSendFailed},
        Step{"ResetUnpluggedBeforeTheReboot", hvb::kResetDefaultWindowController, "HVBR7", "1.6.01", false,
             Fault::unplugBefore, "HVB_REBOOT", 1, 0},
        Step{"ResetNeverBack", hvb::kResetDefaultWindowController, "HVBR7", "1.6.01", false, Fault::neverBack, "",
             0, 0},
        Step{"ResetWrongKeptPassword", hvb::kResetDefaultWindowController, "HW7334", "1.0.0", true,
             Fault::wrongPassword, "", 0, ResetDefaultWorker::kWrongPassword},
        // reset all
        Step{"EraseRefused", hvb::kResetAllWindowController, "HW7334", "1.0.0", false, Fault::refuse,
             "HVB_RESETALL", 1, ResetAllWorker::kSendFailed},
        Step{"EraseUnpluggedBeforeTheCommand", hvb::kResetAllWindowController, "HW7334", "1.0.0", false,
             Fault::unplugBefore, "HVB_RESETALL", 1, ResetAllWorker::kSendFailed},
        Step{"EraseFormatNeverEnds", hvb::kResetAllWindowController, "HW7334", "1.0.0", false,
             Fault::formatNeverEnds, "", 0, ResetAllWorker::kNotFinished},
        Step{"EraseUnpluggedWhilePolled", hvb::kResetAllWindowController, "HW7334", "1.0.0", false,
             Fault::unplugBefore, "HVB_FORMAT_1", 1, ResetAllWorker::kNotFinished, 16},
        Step{"EraseExplicitFormatRefused", hvb::kResetAllWindowController, "HVBR4", "1.4.00", false, Fault::refuse,
             "HVB_FORMAT_1", 1, ResetAllWorker::kFormatFailed},
        Step{"EraseExplicitFormatNeverAnswers", hvb::kResetAllWindowController, "HVBR4", "1.4.00", false,
             Fault::neverFinishes, "HVB_FORMAT_1", 1, ResetAllWorker::kFormatFailed},
        Step{"EraseGoneBeforeTheReboot", hvb::kResetAllWindowController, "HW7334", "1.0.0", false,
             Fault::vanishAfter, "HVB_FORMAT_1", 3, ResetAllWorker::kRebootNotFound},
        Step{"EraseRebootRefused", hvb::kResetAllWindowController, "HW7334", "1.0.0", false, Fault::refuse,
             "HVB_REBOOT", 1, ResetAllWorker::kRebootRefused},
        Step{"EraseNeverBack", hvb::kResetAllWindowController, "HW7334", "1.0.0", false, Fault::neverBack, "", 0,
             0},
        Step{"FactoryLockRefused", hvb::kResetAllWindowController, "HVBR7", "1.5.00", true, Fault::refuse,
             "HVB_LOCKABLE", 1, ResetAllWorker::kDefaultPasswordFailed},
        Step{"FactoryLockCheckUnanswered", hvb::kResetAllWindowController, "HVBR7", "1.5.00", true,
             Fault::unplugBefore, "HVB_SET_PWDCHECK", 1, ResetAllWorker::kDefaultPasswordFailed},
        Step{"FactoryLockNeverBack", hvb::kResetAllWindowController, "HVBR7", "1.5.00", true, Fault::neverBack, "",
             0, ResetAllWorker::kDefaultPasswordFailed}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FormatReset, AFormatWithoutANamedCameraFormatsNothing) {
    auto cam = plugged("HVBR7", "1.6.01");
    cam->clearWrites();
    hvb::diskFormatTarget.reset();
    runDialog(hvb::kDiskFormatWindowControl, &hvb::diskFormatWindow);
    EXPECT_EQ(lastOutcome(), "Fail");
    EXPECT_TRUE(sawLine("formatResult = -101"));
    EXPECT_TRUE(cam->writes().empty());
}

TEST_F(FormatReset, AResultScreenClosesItselfAfterFiveSeconds) {
    auto cam = plugged("HW7334", "1.0.0");
    cam->setFormatNeverFinishes(true);
    hvb::diskFormatTarget = hvb::DiskFormatTarget{cam->uid(), *hvb::cmdTables().find(cam->profile().tableName)};
    int result = 0;
    QString shownAtClose;
    onModal = [&](appkit::Window* w) {
        auto* d = dynamic_cast<hvb::DiskFormatViewControl*>(w->contentViewController());
        ASSERT_NE(d, nullptr);
        w->setWillCloseHandler([&result, &shownAtClose, d] {
            result = d->formatResult;
            shownAtClose = d->text();
        });
        d->buttonOK->click();
    };
    // Nobody presses OK on the result: back here only once the window went by itself, and
    // until then its session kept the main window blocked.
    runDialog(hvb::kDiskFormatWindowControl, &hvb::diskFormatWindow);
    EXPECT_EQ(result, DiskFormatWorker::kNotFinished);
    EXPECT_EQ(shownAtClose, "Fail");
    EXPECT_EQ(hvb::diskFormatState, 2);
    EXPECT_EQ(appkit::modalSessionDepth(), 0);
}

// ---- the result screens' keys ----

// A result dialog as its opener leaves it: the state byte that shows the outcome, or (the clock,
// which has none) the run that fails without a camera.
struct ResultDialog {
    const char* name;
    const char* identifier;
    std::function<void(uint8_t)> setState;
    std::function<QPushButton*(appkit::ViewController*)> okOf;
    bool outcomeFromItsRun = false;  // the clock: success with a camera, failure without
};

void PrintTo(const ResultDialog& dialog, std::ostream* os) { *os << dialog.name; }

class ResultScreenKeys : public FormatReset, public ::testing::WithParamInterface<std::tuple<ResultDialog, int>> {};

// The outcome's OK is the default button and has the focus: Return and Space both close.
TEST_P(ResultScreenKeys, ReturnAndSpaceTakeOK) {
    const auto& [dialog, state] = GetParam();
    hvb::DeviceState::shared().selectedDeviceIndex = -1;
    if (dialog.outcomeFromItsRun && state == 1) {
        plugged("HW7334", "1.0.0");
        hvb::DeviceState::shared().selectedDeviceIndex = 0;
    }
    for (const bool space : {false, true}) {
        SCOPED_TRACE(space ? "Space" : "Return");
        dialog.setState(static_cast<uint8_t>(state));
        auto* fromStoryboard = appkit::Storyboard::main().instantiateController<appkit::WindowController>(dialog.identifier);
        ASSERT_NE(fromStoryboard, nullptr);
        QPointer<appkit::Window> window = fromStoryboard->window();
        window->makeKeyAndOrderFront();
        QPushButton* ok = dialog.okOf(window->contentViewController());
        ASSERT_NE(ok, nullptr);
        ASSERT_TRUE(waitUntil([&] { return ok->isVisible() && ok->isEnabled(); }));
        EXPECT_TRUE(ok->isDefault());
        ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == ok; }, 3000));
        if (space) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        else QTest::keyClick(window, Qt::Key_Return);
        EXPECT_TRUE(waitUntil([&] { return !window || !window->isVisibleWindow(); }, 3000));
        delete fromStoryboard;
        settle();
    }
}

QPushButton* taskOK(appkit::ViewController* c) {
    auto* task = dynamic_cast<hvb::DeviceTaskViewController*>(c);
    return task ? task->okButton() : nullptr;
}

// The dialogs whose OK erases the camera.
const ResultDialog kFormatDialog{"Format", hvb::kDiskFormatWindowControl,
                                 [](uint8_t s) { hvb::diskFormatState = s; }, taskOK};
const ResultDialog kResetDefaultDialog{"ResetDefault", hvb::kResetDefaultWindowController,
                                       [](uint8_t s) { hvb::resetDefaultState = s; }, taskOK};
const ResultDialog kResetAllDialog{"ResetAll", hvb::kResetAllWindowController,
                                   [](uint8_t s) { hvb::resetAllState = s; }, taskOK};

INSTANTIATE_TEST_SUITE_P(
    Dialogs, ResultScreenKeys,
    ::testing::Combine(
        ::testing::Values(
            ResultDialog{"ClockSync", "SyncTimeWindowController", [](uint8_t) {},
                         [](appkit::ViewController* c) -> QPushButton* {
                             auto* d = dynamic_cast<hvb::SyncTimeViewController*>(c);
                             return d ? d->buttonOK.data() : nullptr;
                         },
                         true},
            kFormatDialog, kResetDefaultDialog, kResetAllDialog,
            ResultDialog{"Password", hvb::kPasswordSettingWindowController,
                         [](uint8_t s) { hvb::passwordSettingState = s; },
                         [](appkit::ViewController* c) -> QPushButton* {
                             auto* d = dynamic_cast<hvb::PasswordSettingViewControl*>(c);
                             return d ? d->buttonOK.data() : nullptr;
                         }},
            ResultDialog{"Upgrade", hvb::kFWUpgradeWindowController, [](uint8_t s) { hvb::fwUpgradeState = s; },
                         [](appkit::ViewController* c) -> QPushButton* {
                             auto* d = dynamic_cast<hvb::FWUpgradeViewController*>(c);
                             return d ? d->buttonOK.data() : nullptr;
                         }}),
        ::testing::Values(1, 2)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) == 1 ? "Success" : "Failure");
    });

// ---- the questions' keys ----

class QuestionKeys : public FormatReset, public ::testing::WithParamInterface<std::tuple<ResultDialog, Qt::Key>> {};

// OK of these questions erases the camera, so a key pressed right after opening takes Cancel:
// the dialog closes and the camera gets no command at all.
TEST_P(QuestionKeys, AKeyRightAfterOpeningCancels) {
    const auto& [dialog, key] = GetParam();
    auto cam = plugged("HVBR7", "1.6.01");
    hvb::DeviceState::shared().selectedDeviceIndex = 0;
    hvb::selectedCmdDic = faults->camera(0)->table;
    dialog.setState(0);
    cam->clearWrites();
    auto* fromStoryboard = appkit::Storyboard::main().instantiateController<appkit::WindowController>(dialog.identifier);
    ASSERT_NE(fromStoryboard, nullptr);
    QPointer<appkit::Window> window = fromStoryboard->window();
    window->makeKeyAndOrderFront();
    auto* task = dynamic_cast<hvb::DeviceTaskViewController*>(window->contentViewController());
    ASSERT_NE(task, nullptr);
    ASSERT_EQ(task->imageName(), "question");
    QPointer<QPushButton> cancel = task->cancelButton();
    ASSERT_TRUE(waitUntil([&] { return window->isVisibleWindow() && QApplication::focusWidget() != nullptr; }, 3000));
    EXPECT_TRUE(cancel->isDefault());
    EXPECT_FALSE(task->okButton()->isDefault());
    EXPECT_EQ(QApplication::focusWidget(), cancel.data());
    QTest::keyClick(QApplication::focusWidget(), key);
    // Gone, the key has had its turn: Cancel closes the dialog at once, OK only once its work ended.
    EXPECT_TRUE(waitUntil([&] { return !window || !window->isVisibleWindow(); }, 3000));
    EXPECT_EQ(names(cam), std::vector<std::string>{});
    EXPECT_TRUE(hasVideo(cam));
    EXPECT_TRUE(outcomes.empty());
    EXPECT_EQ(hvb::diskFormatState + hvb::resetDefaultState + hvb::resetAllState, 0);
    delete fromStoryboard;
    settle();
}

INSTANTIATE_TEST_SUITE_P(Dialogs, QuestionKeys,
                         ::testing::Combine(::testing::Values(kFormatDialog, kResetDefaultDialog, kResetAllDialog),
                                            ::testing::Values(Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space)),
                         [](const auto& info) {
                             const Qt::Key key = std::get<1>(info.param);
                             return std::string(std::get<0>(info.param).name) +
                                    (key == Qt::Key_Return ? "Return" : key == Qt::Key_Enter ? "Enter" : "Space");
                         });

}  // namespace
