// The password setting dialog with simulated cameras: set, change and remove a password on each
// command code set, with the bytes of every command, the reboot and the re-detection; wrong
// original passwords up to the forgot-password path; a check the camera never answered; two
// cameras; and the camera pulled off the bus at each step.
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>

#include "DeviceDialogTestSupport.h"
#include "common/HandCursorNSTextField.h"
#include "common/LocalizedString.h"
#include "tools/PasswordSettingWorker.h"

namespace {

using namespace toolstest;
using hvb::PasswordSettingViewControl;

constexpr const char* kFirst = "Abcd1234";
constexpr const char* kSecond = "Zyxw9876";

class PasswordDialog : public DialogFixture {
protected:
    void TearDown() override {
        window.reset();
        DialogFixture::TearDown();
    }

    // The dialog in a window of its own, outside the Tool panel (no modal session).
    PasswordSettingViewControl* open(uint8_t mode, int64_t selected = 0) {
        hvb::DeviceState::shared().selectedDeviceIndex = selected;
        auto cam = faults->camera(selected);
        hvb::selectedCmdDic = cam ? cam->table : hvb::CommandDictionary{};
        hvb::passwordSettingMode = mode;
        hvb::passwordSettingState = 0;
        window = std::make_unique<appkit::Window>(new PasswordSettingViewControl());
        window->makeKeyAndOrderFront();
        return dialog();
    }
    PasswordSettingViewControl* dialog() const {
        return window ? static_cast<PasswordSettingViewControl*>(window->contentViewController()) : nullptr;
    }
    void submit(const Form& f) {
        fill(dialog(), f);
        ASSERT_TRUE(dialog()->buttonOK->isEnabled());
        dialog()->buttonOK->click();
        ASSERT_TRUE(waitUntil([&] { return !dialog()->isBusy(); }));
    }
    // The commands the camera took, as (code, payload).
    static std::vector<std::pair<uint8_t, std::vector<uint8_t>>> taken(const SimulatedBodyCamera& c) {
        std::vector<std::pair<uint8_t, std::vector<uint8_t>>> out;
        for (const auto& w : c.writes()) out.emplace_back(w.code, w.payload);
        return out;
    }

    std::unique_ptr<appkit::Window> window;
};

// ---- end to end, per command code set ----

class PasswordPerCodeSet : public PasswordDialog,
                           public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(PasswordPerCodeSet, SetThenChangeThenDisableWithTheirCommandsRebootsAndRedetection) {
    auto [model, firmware] = GetParam();
    auto cam = plugged(model, firmware);
    auto& tool = toolPanel();
    ASSERT_FALSE(tool.SetPWDBtn->isHidden());
    const uint8_t check = code(cam, "HVB_SET_PWDCHECK");
    const auto zeros = std::vector<uint8_t>(32, 0);

    // Set: the password goes out with LOCKABLE; the camera leaves and comes back locked, the
    // new password is checked on it, and the re-detection shows the success.
    int attaches = cam->attachCount();
    cam->clearWrites();
    form = Form{"", kFirst, kFirst};
    tool.SetPWDBtn->click();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].state, 1);
    EXPECT_EQ(outcomes[0].text, "Success");
    EXPECT_EQ(cam->password(), kFirst);
    EXPECT_EQ(cam->attachCount(), attaches + 1);
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> expected = {
        {code(cam, "HVB_LOCKABLE"), block(kFirst)}, {check, zeros}, {check, block(kFirst)}};
    EXPECT_EQ(taken(*cam), expected);
    EXPECT_TRUE(sawLine("FindHVB timerCounter = 1"));
    EXPECT_TRUE(sawLine("Reboot begin"));
    ASSERT_TRUE(waitUntil([&] { return recordOf(cam) && recordOf(cam)->isDeviceEncryption == true; }));

    // Change: the original is checked (by the dialog, then by the change), the code set's
    // writes store the new one, it is checked, and the camera reboots.
    refreshPanel();
    ASSERT_FALSE(tool.ChangePWDBtn->isHidden());
    attaches = cam->attachCount();
    cam->clearWrites();
    form = Form{kFirst, kSecond, kSecond};
    tool.ChangePWDBtn->click();
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[1].text, "Success");
    EXPECT_EQ(cam->password(), kSecond);
    EXPECT_EQ(cam->attachCount(), attaches + 1);
    expected = {{check, zeros}, {check, block(kFirst)}, {check, zeros}, {check, block(kFirst)}};
    if (cam->profile().has("HVB_CLEAN")) expected.push_back({code(cam, "HVB_CLEAN"), zeros});
    expected.push_back({code(cam, "HVB_SET_PASSWORD"), block(kSecond)});
    if (cam->profile().has("HVB_LOCK_CARD")) expected.push_back({code(cam, "HVB_LOCK_CARD"), block(kSecond)});
    expected.push_back({check, zeros});
    expected.push_back({check, block(kSecond)});
    expected.push_back({code(cam, "HVB_REBOOT"), startBlock()});
    EXPECT_EQ(taken(*cam), expected);
    ASSERT_TRUE(waitUntil([&] { return recordOf(cam) && recordOf(cam)->isDeviceEncryption == true; }));

    // Disable: checked twice, then LOCKABLE with it; the camera comes back open.
    refreshPanel();
    ASSERT_FALSE(tool.DisablePWDBtn->isHidden());
    cam->clearWrites();
    form = Form{kSecond, "", ""};
    tool.DisablePWDBtn->click();
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[2].text, "Success");
    EXPECT_FALSE(cam->password().has_value());
    EXPECT_FALSE(cam->isStorageLocked());
    expected = {{check, zeros}, {check, block(kSecond)}, {check, zeros}, {check, block(kSecond)},
                {code(cam, "HVB_LOCKABLE"), block(kSecond)}};
    EXPECT_EQ(taken(*cam), expected);
    ASSERT_TRUE(waitUntil([&] { return recordOf(cam) && recordOf(cam)->isDeviceEncryption == false; }));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(appkit::modalSessionDepth(), 0);
}

INSTANTIATE_TEST_SUITE_P(CodeSets, PasswordPerCodeSet,
                         ::testing::Values(std::make_pair("HVBR7", "1.6.01"), std::make_pair("HVBS2A", "1.13.0"),
                                           std::make_pair("HW7334", "1.0.0")),
                         [](const auto& info) { return std::string(info.param.first); });

TEST_F(PasswordDialog, ThePasswordLandsOnTheChosenCameraOnly) {
    auto first = plugged("HW7334", "1.0.0");
    auto second = plugged("HVBS2A", "1.13.0");
    auto& tool = toolPanel(1);
    first->clearWrites();
    form = Form{"", kFirst, kFirst};
    tool.SetPWDBtn->click();
    ASSERT_FALSE(outcomes.empty());
    EXPECT_EQ(outcomes.back().text, "Success");
    EXPECT_EQ(second->password(), kFirst);
    EXPECT_FALSE(first->password().has_value());
    EXPECT_TRUE(first->writes().empty());
}

TEST_F(PasswordDialog, ACameraBackUnderANewBSDNameIsStillFound) {
    auto cam = plugged("HVBR7", "1.6.01");
    cam->setBSDNameAfterReboot("disk9");
    auto& tool = toolPanel();
    form = Form{"", kFirst, kFirst};
    tool.SetPWDBtn->click();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].text, "Success");
    EXPECT_EQ(cam->bsdName(), "disk9");
    EXPECT_EQ(cam->password(), kFirst);
}

// ---- wrong passwords ----

TEST_F(PasswordDialog, WrongOriginalsCountUpToFiveAndTheForgotPathErasesTheCamera) {
    auto cam = plugged("HW7334", "1.0.0", kFirst);
    auto* d = open(1);
    for (int attempt = 1; attempt <= 4; ++attempt) {
        submit(Form{"Wrong9999", kSecond, kSecond});
        EXPECT_EQ(attempts(cam), attempt);
        ASSERT_EQ(messages.size(), static_cast<size_t>(attempt));
        EXPECT_FALSE(messages.back().success);
        EXPECT_EQ(messages.back().title, "Error");
        EXPECT_EQ(messages.back().text, "Incorrect Password.");
        EXPECT_TRUE(d->passwordErrorWarning->text().startsWith(
            QString("Incorrect Password. Attempts: %1\n(After five failed attempts").arg(attempt)));
        EXPECT_FALSE(d->passwordErrorWarning->isHidden());
        EXPECT_TRUE(d->hasRedBorder(d->original.field));
        EXPECT_TRUE(d->newPassword.box->isHidden());
        EXPECT_FALSE(d->buttonOK->isEnabled());
        EXPECT_TRUE(d->original.field->isEnabled());
        EXPECT_TRUE(d->passwordForgotLabel->isHidden());
    }
    submit(Form{"Wrong9999", "", ""});
    EXPECT_EQ(attempts(cam), 5);
    EXPECT_TRUE(d->passwordErrorWarning->text().startsWith("Five failed password attempts."));
    EXPECT_FALSE(d->passwordForgotLabel->isHidden());
    EXPECT_TRUE(d->passwordForgotLabel->isEnabled());
    EXPECT_FALSE(d->original.field->isEnabled());
    EXPECT_FALSE(d->original.eye->isEnabled());
    EXPECT_FALSE(d->buttonOK->isEnabled());
    EXPECT_EQ(cam->password(), kFirst);  // nothing was changed

    // The way out: the reset-all dialog erases the camera, and the password dialog goes.
    hvb::isPasswordVerified = true;
    QTest::mouseClick(d->passwordForgotLabel, Qt::LeftButton);
    ASSERT_FALSE(outcomes.empty());
    EXPECT_EQ(outcomes.back().dialog, "ResetAllViewController");
    EXPECT_EQ(outcomes.back().text, "Success");
    EXPECT_FALSE(cam->password().has_value());
    EXPECT_FALSE(hasVideo(cam));
    EXPECT_FALSE(hvb::isPasswordVerified);
    EXPECT_FALSE(window->isVisibleWindow());
}

TEST_F(PasswordDialog, ARightOriginalAfterAWrongOneOnlyArmsTheFormAgain) {
    auto cam = plugged("HVBR7", "1.6.01", kFirst);
    auto* d = open(1);
    submit(Form{"Wrong9999", kSecond, kSecond});
    ASSERT_EQ(attempts(cam), 1);
    cam->clearWrites();
    type(d->original.field, kFirst);
    ASSERT_TRUE(d->buttonOK->isEnabled());
    d->buttonOK->click();
    ASSERT_TRUE(waitUntil([&] { return !d->isBusy(); }));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[1].success);
    EXPECT_EQ(messages[1].title, "Success");
    EXPECT_EQ(messages[1].text, "Password Correct !");
    EXPECT_EQ(attempts(cam), 0);
    EXPECT_EQ(d->passwordSettingResult, 0);
    EXPECT_FALSE(d->newPassword.box->isHidden());
    EXPECT_TRUE(d->newPassword.field->text().isEmpty());
    EXPECT_TRUE(d->passwordErrorWarning->isHidden());
    EXPECT_FALSE(d->buttonOK->isEnabled());
    // Only the check ran: nothing that changes a password.
    for (const auto& w : cam->writes()) EXPECT_TRUE(w.name == "HVB_SET_PWDCHECK") << w.name;
    EXPECT_EQ(cam->password(), kFirst);
}

TEST_F(PasswordDialog, FiveAttemptsUsedShowTheExhaustedFormAtOnce) {
    auto cam = plugged("HW7334", "1.0.0", kFirst);
    recordOf(cam)->passwordErrorCnt = 5;
    for (uint8_t mode : {uint8_t(1), uint8_t(2)}) {
        auto* d = open(mode);
        EXPECT_FALSE(d->passwordForgotLabel->isHidden());
        EXPECT_FALSE(d->original.field->isEnabled());
        EXPECT_TRUE(d->newPassword.box->isHidden());
        EXPECT_TRUE(d->charLimitMsg->isHidden());
        EXPECT_TRUE(d->passwordErrorWarning->text().startsWith("Five failed password attempts."));
        EXPECT_FALSE(d->buttonOK->isEnabled());
    }
}

// ---- a check the camera never answered ----

TEST_F(PasswordDialog, ACheckWithoutAnAnswerFailsWithoutCounting) {
    auto cam = plugged("HVBS2A", "1.13.0", kFirst);
    recordOf(cam)->passwordErrorCnt = 2;
    auto* d = open(2);
    cam->session()->refuseCode(code(cam, "HVB_GET_PWDCHECK"), 2);
    submit(Form{kFirst, "", ""});
    EXPECT_EQ(hvb::passwordSettingState, 2);
    EXPECT_EQ(d->passwordSettingInfoText->text(), "Fail");
    EXPECT_EQ(d->imageName(), "failIcon");
    EXPECT_EQ(d->passwordSettingResult, hvb::PasswordSettingWorker::kNoVerdict);
    EXPECT_EQ(attempts(cam), 2);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(cam->password(), kFirst);
    d->buttonOK->click();
    EXPECT_FALSE(window->isVisibleWindow());
}

TEST_F(PasswordDialog, AnOddVerdictByteIsAWrongPassword) {
    auto cam = plugged("HW7334", "1.0.0", kFirst);
    auto* d = open(2);
    for (uint8_t reply : {uint8_t(2), uint8_t(0xFF)}) {
        SCOPED_TRACE(int(reply));
        cam->setPasswordCheckReply(reply);
        submit(Form{kFirst, "", ""});
        EXPECT_EQ(d->passwordSettingResult, hvb::PasswordSettingWorker::kWrongOriginal);
        type(d->original.field, kFirst);
    }
    EXPECT_EQ(attempts(cam), 2);
    EXPECT_EQ(cam->password(), kFirst);
}

// ---- the form ----

TEST_F(PasswordDialog, TheFormKeepsSixteenCharactersOfLettersAndDigits) {
    plugged("HVBS2A", "1.13.0");
    auto* d = open(0);
    EXPECT_EQ(d->passwordSettingTitle->text(), "Set a password");
    EXPECT_EQ(d->passwordSettingInfoText->text(),
              "Once password is set, you can only open the drive via Halvetor Body toolbox.");
    EXPECT_TRUE(d->original.box->isHidden());
    EXPECT_EQ(d->newPassword.title->text(), "Password : ");
    EXPECT_EQ(d->confirm.title->text(), "Confirm Password : ");
    EXPECT_EQ(d->charLimitMsg->text(), "8~16 Characters with no space");
    EXPECT_FALSE(d->buttonOK->isEnabled());

    QLineEdit* field = d->newPassword.field;
    type(field, "Abc1234");  // seven
    EXPECT_FALSE(d->hasRedBorder(field));
    type(d->confirm.field, "Abc12345");
    EXPECT_FALSE(d->buttonOK->isEnabled());
    type(field, "Abc12345");
    EXPECT_TRUE(d->buttonOK->isEnabled());
    type(field, "Abc 2345");
    EXPECT_TRUE(d->hasRedBorder(field));
    EXPECT_FALSE(d->buttonOK->isEnabled());
    type(field, "Abcdefgh12345678");
    EXPECT_FALSE(d->hasRedBorder(field));
    type(field, "Abcdefgh123456789");  // the 17th goes back out
    EXPECT_EQ(field->text(), "Abcdefgh12345678");
    type(field, QString::fromUtf8("Пароль12"));
    EXPECT_TRUE(d->hasRedBorder(field));

    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    d->NewPasswordEye_Click();
    EXPECT_EQ(d->newPassword.eyeImage, "password_on");
    EXPECT_EQ(field->echoMode(), QLineEdit::Normal);
    d->NewPasswordEye_Click();
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);

    auto* disable = open(2);
    EXPECT_EQ(disable->passwordSettingTitle->text(), hvb::LocalizedString::Str::passwordSettingUnlock());
    EXPECT_EQ(disable->original.title->text(), "Password : ");
    EXPECT_TRUE(disable->newPassword.box->isHidden());
    EXPECT_TRUE(disable->confirm.box->isHidden());
}

// The password `make run` gives its locked demo camera is one the forms take: the user who
// changes or removes it types it into the original-password field.
TEST_F(PasswordDialog, TheDemosPasswordIsOneTheFormsTake) {
    QFile script(QStringLiteral(HVB_TEST_SOURCE_DIR "/scripts/run.sh"));
    ASSERT_TRUE(script.open(QIODevice::ReadOnly));
    const auto found = QRegularExpression(QStringLiteral("password=(\\S+)")).match(QString::fromUtf8(script.readAll()));
    ASSERT_TRUE(found.hasMatch());
    const QString demo = found.captured(1);
    plugged("HW7334", "1.0.0");
    for (uint8_t mode : {uint8_t(1), uint8_t(2)}) {
        SCOPED_TRACE(int(mode));
        auto* d = open(mode);
        fill(d, Form{demo, kFirst, kFirst});
        EXPECT_FALSE(d->hasRedBorder(d->original.field)) << demo.toStdString();
        EXPECT_EQ(d->original.field->text(), demo);
        EXPECT_TRUE(d->buttonOK->isEnabled()) << demo.toStdString();
    }
}

TEST_F(PasswordDialog, ADifferentConfirmationGoesBackToTheForm) {
    auto cam = plugged("HW7334", "1.0.0");
    auto* d = open(0);
    cam->clearWrites();
    submit(Form{"", kFirst, kSecond});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].title, "Error");
    EXPECT_EQ(messages[0].text, "Incorrect password confirmation.");
    EXPECT_TRUE(d->hasRedBorder(d->confirm.field));
    EXPECT_TRUE(d->original.box->isHidden());
    EXPECT_FALSE(d->confirm.box->isHidden());
    EXPECT_FALSE(d->buttonOK->isEnabled());
    EXPECT_TRUE(d->buttonCancel->isEnabled());
    EXPECT_TRUE(cam->writes().empty());
}

TEST_F(PasswordDialog, NoCameraChosenFails) {
    auto* d = open(0, -1);
    submit(Form{"", kFirst, kFirst});
    EXPECT_EQ(d->passwordSettingResult, hvb::PasswordSettingWorker::kNoCamera);
    EXPECT_EQ(d->passwordSettingInfoText->text(), "Fail");
}

TEST_F(PasswordDialog, TheWorkerWritesNoPasswordTheFormWouldRefuse) {
    auto cam = plugged("HW7334", "1.0.0");
    cam->clearWrites();
    hvb::PasswordSettingRequest request;
    request.mode = 0;
    request.target = {hvb::DialogTarget::Kind::camera, cam->uid()};
    request.commands = *hvb::cmdTables().find(cam->profile().tableName);
    std::vector<int> codes;
    hvb::PasswordSettingWorker::Listener listener;
    listener.finished = [&](int c, hvb::PasswordErrorStatus) { codes.push_back(c); };
    bool redetected = false;
    hvb::PasswordSettingWorker worker(faults, [&] { redetected = true; });
    for (const char* password : {"abc-1234", "short1", "Abcdefgh123456789", "Abcd 1234"}) {
        request.newPassword = request.confirm = password;
        worker.run(request, listener);
    }
    EXPECT_EQ(codes, std::vector<int>(4, hvb::PasswordSettingWorker::kInvalidNewPassword));
    EXPECT_TRUE(cam->writes().empty());
    EXPECT_FALSE(redetected);
}

// ---- the camera goes away ----

struct Gone {
    const char* name;
    uint8_t mode;
    const char* command;  // the camera leaves right before this command ("" : before OK)
    int occurrence;
    bool neverBack;       // instead: it reboots as asked but never comes back
};

class PasswordCameraGone : public PasswordDialog, public ::testing::WithParamInterface<Gone> {};

TEST_P(PasswordCameraGone, EndsInTheFailureScreenAndNeverInSuccess) {
    const Gone g = GetParam();
    auto cam = plugged("HVBR7", "1.6.01", g.mode == 0 ? "" : kFirst);
    auto& tool = toolPanel();
    form = g.mode == 0 ? Form{"", kSecond, kSecond} : Form{kFirst, kSecond, kSecond};
    if (g.neverBack) cam->setRebootDownTime(-1);
    if (std::string(g.command).empty()) {
        atQuestion = [&](appkit::ViewController*) {
            cam->detach();
            ASSERT_TRUE(waitUntil([] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == 0; }));
        };
    } else if (!g.neverBack) {
        faults->before(code(cam, g.command), [cam] { cam->detach(); }, g.occurrence);
    }
    QPushButton* button = g.mode == 0 ? tool.SetPWDBtn.data() : g.mode == 1 ? tool.ChangePWDBtn.data()
                                                                            : tool.DisablePWDBtn.data();
    button->click();
    ASSERT_FALSE(outcomes.empty());
    EXPECT_FALSE(sawSuccess());
    EXPECT_EQ(lastOutcome(), "Fail");
    EXPECT_EQ(appkit::modalSessionDepth(), 0);
    EXPECT_TRUE(messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, PasswordCameraGone,
    ::testing::Values(Gone{"SetBeforeOK", 0, "", 0, false}, Gone{"SetBeforeLockable", 0, "HVB_LOCKABLE", 1, false},
                      Gone{"SetNeverBack", 0, "HVB_LOCKABLE", 1, true},
                      Gone{"SetBeforeTheNewCheck", 0, "HVB_SET_PWDCHECK", 1, false},
                      Gone{"ChangeBeforeTheCheck", 1, "HVB_SET_PWDCHECK", 1, false},
                      Gone{"ChangeBeforeTheSecondCheck", 1, "HVB_SET_PWDCHECK", 3, false},
                      Gone{"ChangeBeforeClean", 1, "HVB_CLEAN", 1, false},
                      Gone{"ChangeBeforeLockCard", 1, "HVB_LOCK_CARD", 1, false},
                      Gone{"ChangeBeforeReboot", 1, "HVB_REBOOT", 1, false},
                      Gone{"ChangeNeverBack", 1, "HVB_REBOOT", 1, true},
                      Gone{"DisableBeforeLockable", 2, "HVB_LOCKABLE", 1, false},
                      Gone{"DisableNeverBack", 2, "HVB_LOCKABLE", 1, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PasswordDialog, ACameraThatRefusesTheLockOrTheRebootEndsInFailure) {
    // Set: the lock refused, so the camera keeps no password and nothing waits for a reboot.
    auto open_ = plugged("HVBR7", "1.6.01");
    open_->session()->refuseCode(code(open_, "HVB_LOCKABLE"));
    auto* set = open(0);
    submit(Form{"", kSecond, kSecond});
    EXPECT_EQ(set->passwordSettingResult, hvb::PasswordSettingWorker::kSetFailed);
    EXPECT_FALSE(sawSuccess());
    EXPECT_FALSE(open_->password().has_value());
    open_->detach();
    ASSERT_TRUE(waitUntil([] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == 0; }));

    // Change: the new password is stored, but the camera refused to restart with it.
    outcomes.clear();
    auto locked = plugged("HW7334", "1.0.0", kFirst);
    locked->session()->refuseCode(code(locked, "HVB_REBOOT"));
    auto* change = open(1);
    submit(Form{kFirst, kSecond, kSecond});
    EXPECT_EQ(change->passwordSettingResult, hvb::PasswordSettingWorker::kRebootRefused);
    EXPECT_FALSE(sawSuccess());
    EXPECT_EQ(appkit::modalSessionDepth(), 0);
}

TEST_F(PasswordDialog, AnUnpluggedCameraBeforeTheCheckKeepsItsCount) {
    auto cam = plugged("HW7334", "1.0.0", kFirst);
    recordOf(cam)->passwordErrorCnt = 3;
    auto record = recordOf(cam);
    auto* d = open(1);
    faults->before(code(cam, "HVB_SET_PWDCHECK"), [cam] { cam->detach(); });
    submit(Form{"Wrong9999", kSecond, kSecond});
    EXPECT_EQ(d->passwordSettingResult, hvb::PasswordSettingWorker::kNoVerdict);
    EXPECT_EQ(record->passwordErrorCnt, 3);
    EXPECT_TRUE(messages.empty());
}

}  // namespace
