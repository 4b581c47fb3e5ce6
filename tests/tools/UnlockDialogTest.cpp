// The unlock dialog end to end with simulated cameras: the entry rule, the check's three
// outcomes and the attempt counter, the storage unlock per model, the removal of the password
// with a camera that comes back and one that does not, the forgot-password path, and a camera
// that goes away at each step.
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include <chrono>
#include <thread>

#include "DeviceDialogTestSupport.h"
#include "camera/DeviceInfoManager.h"
#include "camera/USBWatcherHandler.h"
#include "common/HandCursorNSTextField.h"
#include "common/LocalizedString.h"
#include "platform/foundation/TempDir.h"
#include "tools/HVBToolViewController.h"
#include "tools/PasswordEnterViewControl.h"

namespace {

using namespace toolstest;
using hvb::PasswordEnterViewControl;

constexpr const char* kPassword = "Secret-0042";

class UnlockDialog : public ToolsFixture {
protected:
    void SetUp() override {
        ToolsFixture::SetUp();
        faults = std::make_shared<FaultLink>();
        link = faults;
        hvb::setCameraLink(faults);
    }
    void TearDown() override {
        window.reset();
        ToolsFixture::TearDown();
    }

    std::shared_ptr<SimulatedBodyCamera> lockedCamera(const std::string& model, const std::string& firmware) {
        BodyCameraOptions o;
        o.password = kPassword;
        o.volumeFolder = volume.path();
        auto camera = makeCamera(model, firmware, o);
        EXPECT_TRUE(plug(camera));
        hvb::DeviceState::shared().selectedDeviceIndex = 0;
        return camera;
    }

    PasswordEnterViewControl* open() {
        window = std::make_unique<appkit::Window>(new PasswordEnterViewControl());
        window->setWillCloseHandler([this] {
            auto* d = dialog();
            warningAtClose = d && d->passwordErrorWarning->isVisible() ? d->passwordErrorWarning->text() : QString();
        });
        window->makeKeyAndOrderFront();
        return dialog();
    }
    PasswordEnterViewControl* dialog() const {
        return window ? static_cast<PasswordEnterViewControl*>(window->contentViewController()) : nullptr;
    }
    void type(const QString& text) {
        QLineEdit* field = dialog()->passwordSecureTextField;
        field->clear();
        QTest::keyClicks(field, text);
    }
    void submit(const QString& text) {
        type(text);
        ASSERT_TRUE(dialog()->buttonOK->isEnabled());
        dialog()->buttonOK->click();
        ASSERT_TRUE(dialog()->isBusy());
    }
    bool closed() const { return !window->isVisibleWindow(); }

    std::shared_ptr<FaultLink> faults;
    std::unique_ptr<appkit::Window> window;
    QString warningAtClose;
    TempDir volume;
};

TEST_F(UnlockDialog, EntryKeepsSixteenCharactersAndOKNeedsEight) {
    auto* d = open();
    EXPECT_EQ(d->passwordEnterTitle->text(), "Unlock device");
    EXPECT_EQ(d->passwordString->text(), "Password : ");
    EXPECT_FALSE(d->buttonOK->isEnabled());
    EXPECT_FALSE(d->passwordTextField->isVisible());
    type("1234567");
    EXPECT_FALSE(d->buttonOK->isEnabled());
    QTest::keyClick(d->passwordSecureTextField, Qt::Key_Return);  // nothing to submit
    EXPECT_FALSE(d->isBusy());
    QTest::keyClick(d->passwordSecureTextField, Qt::Key_8);
    EXPECT_TRUE(d->buttonOK->isEnabled());
    QTest::keyClicks(d->passwordSecureTextField, "abcdefgh");
    EXPECT_EQ(d->nowPassword(), "12345678abcdefgh");
    QTest::keyClick(d->passwordSecureTextField, Qt::Key_X);  // the 17th goes back out
    EXPECT_EQ(d->passwordSecureTextField->text(), "12345678abcdefgh");
    EXPECT_EQ(d->passwordTextField->text(), "12345678abcdefgh");  // mirrored

    // A paste longer than 16 restores the last accepted text; characters count, not bytes.
    d->passwordSecureTextField->setText("01234567890123456789");
    d->controlTextDidChange(d->passwordSecureTextField);
    EXPECT_EQ(d->passwordSecureTextField->text(), "12345678abcdefgh");
    const QString sixteenFaces = QString::fromUtf8("😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀");
    d->passwordSecureTextField->setText(sixteenFaces);
    d->controlTextDidChange(d->passwordSecureTextField);
    EXPECT_EQ(d->nowPassword(), sixteenFaces);
    d->passwordSecureTextField->setText(sixteenFaces + "a");
    d->controlTextDidChange(d->passwordSecureTextField);
    EXPECT_EQ(d->passwordSecureTextField->text(), sixteenFaces);

    // The eye shows the plain field with the same text.
    EXPECT_EQ(d->eyeImageName(), "password_off");
    d->passwordEye->click();
    EXPECT_EQ(d->eyeImageName(), "password_on");
    EXPECT_TRUE(d->passwordTextField->isVisible());
    EXPECT_FALSE(d->passwordSecureTextField->isVisible());
    EXPECT_EQ(d->passwordTextField->text(), sixteenFaces);
    d->passwordEye->click();
    EXPECT_TRUE(d->passwordSecureTextField->isVisible());
}

TEST_F(UnlockDialog, UpgradeModeTextsAndCancel) {
    hvb::isUnlockForUpgrade = true;
    hvb::isPasswordVerified = true;  // from an earlier opening
    auto* d = open();
    EXPECT_EQ(d->passwordEnterTitle->text(), hvb::LocalizedString::Str::disablePasswordBeforeUpgrade());
    EXPECT_EQ(d->buttonOK->text(), hvb::LocalizedString::Str::disablePassword());
    EXPECT_NE(d->passwordEnterTitle->text(), hvb::LocalizedString::Str::unlockDevice());
    EXPECT_FALSE(hvb::isPasswordVerified);
    d->buttonCancel->click();
    EXPECT_TRUE(closed());
    EXPECT_FALSE(hvb::isUnlockForUpgrade);
    EXPECT_FALSE(hvb::isPasswordVerified);
}

class UnlockStorage : public UnlockDialog, public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(UnlockStorage, ARightPasswordOpensTheStorageAndWaitsForTheCamera) {
    auto [model, firmware] = GetParam();
    auto camera = lockedCamera(model, firmware);
    ASSERT_EQ(recordOf(camera)->isLockStatus, true);
    ASSERT_EQ(recordOf(camera)->isDeviceEncryption, true);
    ASSERT_FALSE(hvb::DeviceInfoManager::shared().volumePath(camera->uid()).has_value());
    hvb::isUnlockOnly = true;
    auto before = recordOf(camera);
    before->passwordErrorCnt = 3;
    open();
    camera->clearWrites();
    submit(kPassword);
    ASSERT_TRUE(waitUntil([&] { return closed(); }));
    EXPECT_TRUE(hvb::isPasswordVerified);
    EXPECT_EQ(hvb::DeviceState::shared().enteredPassword(), kPassword);
    EXPECT_TRUE(sawLine("Show storage"));
    EXPECT_TRUE(messages.empty());

    const std::string unlock = std::string(model) == "HW7334" ? "HVB_UNLOCK_READONLY" : "HVB_HIDDENSTORAGE";
    auto writes = camera->writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back().name, unlock);
    EXPECT_EQ(writes.back().payload, (std::vector<uint8_t>{0, 0, 0, 0}));
    // The check came first: cleared, then the password.
    ASSERT_GE(writes.size(), 3u);
    EXPECT_EQ(writes[0].payload, std::vector<uint8_t>(32, 0));
    std::vector<uint8_t> block(32, 0);
    std::copy_n(kPassword, std::strlen(kPassword), block.begin());
    EXPECT_EQ(writes[1].payload, block);

    EXPECT_FALSE(camera->isStorageLocked());
    ASSERT_TRUE(waitUntil([&] {
        auto record = recordOf(camera);
        return record && record->isLockStatus == false &&
               hvb::DeviceInfoManager::shared().volumePath(camera->uid()).has_value();
    }));
    EXPECT_EQ(before->passwordErrorCnt, 0);  // the right password cleared the count
}

INSTANTIATE_TEST_SUITE_P(Models, UnlockStorage,
                         ::testing::Values(std::make_pair("HW7334", "1.0.0"), std::make_pair("HVBR7", "1.6.01")),
                         [](const auto& info) { return std::string(info.param.first); });

TEST_F(UnlockDialog, WrongPasswordsCountUpAndFiveUseThemUp) {
    auto camera = lockedCamera("HW7334", "1.0.0");
    hvb::isUnlockOnly = true;
    auto* d = open();
    for (int attempt = 1; attempt <= 4; ++attempt) {
        submit("wrong-pass");
        ASSERT_TRUE(waitUntil([&] { return !d->isBusy(); }));
        EXPECT_EQ(attempts(camera), attempt);
        EXPECT_TRUE(d->passwordErrorWarning->text().startsWith(
            QString("Incorrect Password. Attempts: %1\n(After five failed attempts").arg(attempt)));
        EXPECT_FALSE(d->buttonOK->isEnabled());
        EXPECT_TRUE(d->passwordSecureTextField->isEnabled());
        EXPECT_FALSE(d->passwordForgotLabel->isVisible());
        EXPECT_FALSE(hvb::isPasswordVerified);
    }
    submit("wrong-pass");
    ASSERT_TRUE(waitUntil([&] { return !d->isBusy(); }));
    EXPECT_EQ(attempts(camera), 5);
    EXPECT_TRUE(d->passwordErrorWarning->text().startsWith("Five failed password attempts."));
    EXPECT_TRUE(d->passwordForgotLabel->isVisible());
    EXPECT_TRUE(d->passwordForgotLabel->isEnabled());
    EXPECT_FALSE(d->passwordSecureTextField->isEnabled());
    EXPECT_FALSE(d->passwordEye->isEnabled());
    EXPECT_FALSE(d->buttonOK->isEnabled());
    EXPECT_TRUE(d->buttonCancel->isEnabled());
    EXPECT_TRUE(camera->isStorageLocked());
    EXPECT_FALSE(closed());
}

TEST_F(UnlockDialog, FiveOrMoreAttemptsOpenTheDialogExhausted) {
    auto camera = lockedCamera("HW7334", "1.0.0");
    for (int64_t count : {5, 9}) {
        recordOf(camera)->passwordErrorCnt = count;
        auto* d = open();
        EXPECT_TRUE(d->passwordForgotLabel->isVisible());
        EXPECT_FALSE(d->passwordSecureTextField->isEnabled());
        EXPECT_FALSE(d->passwordEye->isEnabled());
        EXPECT_TRUE(d->passwordErrorWarning->text().startsWith("Five failed password attempts."));
        d->passwordSecureTextField->setText("whatever-typed");
        d->controlTextDidChange(d->passwordSecureTextField);
        QTest::keyClick(d->passwordSecureTextField, Qt::Key_Return);
        EXPECT_FALSE(d->isBusy());
    }
}

TEST_F(UnlockDialog, AnAnswerOtherThanZeroOrOneDecidesNothing) {
    auto camera = lockedCamera("HW7334", "1.0.0");
    hvb::isUnlockOnly = true;
    recordOf(camera)->passwordErrorCnt = 2;
    auto* d = open();
    for (uint8_t reply : {uint8_t(2), uint8_t(0xFF), uint8_t(0x7F)}) {
        SCOPED_TRACE(int(reply));
        camera->setPasswordCheckReply(reply);
        submit(kPassword);
        ASSERT_TRUE(waitUntil([&] { return !d->isBusy(); }));
        EXPECT_EQ(d->passwordErrorWarning->text(), "Fail");
        EXPECT_TRUE(d->passwordSecureTextField->isEnabled());
        EXPECT_TRUE(d->buttonOK->isEnabled());  // try again with the same text
        EXPECT_TRUE(d->buttonCancel->isEnabled());
        EXPECT_EQ(attempts(camera), 2);
        EXPECT_FALSE(hvb::isPasswordVerified);
        EXPECT_TRUE(camera->isStorageLocked());
    }
}

TEST_F(UnlockDialog, AMissingCommandDecidesNothingAndSendsNothing) {
    auto camera = lockedCamera("HW7334", "1.0.0");
    hvb::isUnlockOnly = true;
    auto table = *hvb::cmdTables().find(camera->profile().tableName);
    table.erase("HVB_UNLOCK_READONLY");
    hvb::cmdTables().store(camera->profile().tableName, table);
    auto* d = open();
    camera->clearWrites();
    submit(kPassword);
    ASSERT_TRUE(waitUntil([&] { return !d->isBusy(); }));
    EXPECT_EQ(d->passwordErrorWarning->text(), "Fail");
    EXPECT_TRUE(camera->writes().empty());
    EXPECT_FALSE(hvb::isPasswordVerified);
}

TEST_F(UnlockDialog, RemovingThePasswordWaitsForTheCameraToComeBack) {
    auto camera = lockedCamera("HVBR7", "1.6.01");
    hvb::isUnlockOnly = false;
    open();
    camera->clearWrites();
    submit(kPassword);
    ASSERT_TRUE(waitUntil([&] { return closed(); }));
    EXPECT_EQ(warningAtClose, "Password Correct !");
    EXPECT_TRUE(hvb::isPasswordVerified);
    EXPECT_EQ(hvb::DeviceState::shared().enteredPassword(), kPassword);
    EXPECT_FALSE(camera->password().has_value());
    ASSERT_GE(camera->writes().size(), 3u);
    EXPECT_EQ(camera->writes().back().name, "HVB_LOCKABLE");
    EXPECT_TRUE(messages.empty());
    ASSERT_TRUE(waitUntil([&] { return recordOf(camera) && recordOf(camera)->isDeviceEncryption == false; }));
}

TEST_F(UnlockDialog, ACameraBackBeforeTheRemovalCommandReturnedStillCounts) {
    auto camera = lockedCamera("HW7334", "1.0.0");
    hvb::isUnlockOnly = false;
    const int attaches = camera->attachCount();
    // The camera rebooted and was matched again before the command came back to the worker.
    faults->after(code(camera, "HVB_LOCKABLE"), [camera, attaches] {
        for (int i = 0; i < 2000; ++i) {
            if (camera->attachCount() > attaches && hvb::USBWatcherHandler::shared().hasDeviceService()) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    open();
    submit(kPassword);
    ASSERT_TRUE(waitUntil([&] { return closed(); }));
    EXPECT_EQ(warningAtClose, "Password Correct !");
    EXPECT_TRUE(hvb::isPasswordVerified);
    EXPECT_TRUE(messages.empty());
}

TEST_F(UnlockDialog, ACameraThatNeverComesBackAfterTheRemovalIsAFailure) {
    auto camera = lockedCamera("HW7334", "1.0.0");
    camera->setRebootDownTime(-1);
    hvb::isUnlockOnly = false;
    hvb::msgDialogText = "Label changed.";  // an earlier message's text
    auto* d = open();
    submit(kPassword);
    // While the camera is waited for, the window cannot be walked away from.
    ASSERT_TRUE(waitUntil([&] { return sawLine("FindHVB timerCounter = 2"); }));
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &escape);
    window->close();
    EXPECT_FALSE(closed());
    EXPECT_TRUE(d->isBusy());
    ASSERT_TRUE(waitUntil([&] { return closed(); }));
    EXPECT_NE(warningAtClose, "Password Correct !");
    EXPECT_FALSE(hvb::isPasswordVerified);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_FALSE(messages[0].success);
    EXPECT_EQ(messages[0].title, "Fail");
    EXPECT_EQ(messages[0].text, "");
}

TEST_F(UnlockDialog, AStorageUnlockWhoseCameraNeverReturnsFailsAtTick35) {
    auto camera = lockedCamera("HW7334", "1.0.0");
    camera->setRebootDownTime(-1);
    hvb::isUnlockOnly = true;
    open();
    submit(kPassword);
    ASSERT_TRUE(waitUntil([&] { return closed(); }));
    EXPECT_TRUE(sawLine("timerCnt = 35"));
    EXPECT_FALSE(sawLine("timerCnt = 36"));
    EXPECT_FALSE(sawLine("Show storage"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].title, "Fail");
    EXPECT_FALSE(messages[0].success);
}

TEST_F(UnlockDialog, ForgotPasswordLeadsToTheResetAllDialog) {
    auto camera = lockedCamera("HW7334", "1.0.0");
    recordOf(camera)->passwordErrorCnt = 5;
    DialogLog resets;
    int outcome = 2;
    registerFakeDialog(hvb::kResetAllWindowController, [&] {
        const int state = hvb::resetAllState;
        hvb::resetAllState = static_cast<uint8_t>(outcome);  // what the reset-all dialog ends with
        return state;
    }, &resets);
    auto* d = open();
    hvb::isPasswordVerified = true;
    hvb::selectedCmdDic.clear();
    QTest::mouseClick(d->passwordForgotLabel, Qt::LeftButton);
    ASSERT_EQ(resets.opened.size(), 1u);
    EXPECT_EQ(resets.opened[0].second, 0);
    EXPECT_EQ(hvb::selectedCmdDic, *hvb::cmdTables().find(camera->profile().tableName));
    EXPECT_FALSE(closed());  // not reset: as it was
    EXPECT_TRUE(d->passwordForgotLabel->isVisible());

    outcome = 1;
    QTest::mouseClick(d->passwordForgotLabel, Qt::LeftButton);
    EXPECT_EQ(resets.opened.size(), 2u);
    EXPECT_TRUE(closed());
    EXPECT_FALSE(hvb::isPasswordVerified);
}

// ---- the camera goes away ----

TEST_F(UnlockDialog, GoneBeforeTheCheck) {
    auto camera = lockedCamera("HW7334", "1.0.0");
    hvb::isUnlockOnly = true;
    auto* d = open();
    camera->detach();
    ASSERT_TRUE(waitUntil([] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == 0; }));
    submit(kPassword);
    ASSERT_TRUE(waitUntil([&] { return !d->isBusy(); }));
    EXPECT_EQ(d->passwordErrorWarning->text(), "Fail");
    EXPECT_FALSE(hvb::isPasswordVerified);
}

TEST_F(UnlockDialog, GoneDuringTheCheck) {
    auto camera = lockedCamera("HVBR7", "1.6.01");
    hvb::isUnlockOnly = true;
    recordOf(camera)->passwordErrorCnt = 1;
    auto* d = open();
    camera->session()->vanishAfterCommand(code(camera, "HVB_SET_PWDCHECK"));
    submit(kPassword);
    ASSERT_TRUE(waitUntil([&] { return !d->isBusy(); }));
    EXPECT_EQ(d->passwordErrorWarning->text(), "Fail");
    EXPECT_FALSE(hvb::isPasswordVerified);
    EXPECT_TRUE(camera->isStorageLocked());
}

TEST_F(UnlockDialog, GoneBeforeTheStorageCommand) {
    auto camera = lockedCamera("HW7334", "1.0.0");
    hvb::isUnlockOnly = true;
    faults->before(code(camera, "HVB_UNLOCK_READONLY"), [camera] { camera->detach(); });
    open();
    submit(kPassword);
    ASSERT_TRUE(waitUntil([&] { return closed(); }));
    EXPECT_FALSE(sawLine("Show storage"));
    EXPECT_TRUE(camera->isStorageLocked());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].title, "Fail");
}

TEST_F(UnlockDialog, GoneBeforeThePasswordIsRemoved) {
    auto camera = lockedCamera("HW7334", "1.0.0");
    hvb::isUnlockOnly = false;
    faults->before(code(camera, "HVB_LOCKABLE"), [camera] { camera->detach(); });
    open();
    submit(kPassword);
    ASSERT_TRUE(waitUntil([&] { return closed(); }));
    EXPECT_NE(warningAtClose, "Password Correct !");
    EXPECT_FALSE(hvb::isPasswordVerified);
    EXPECT_TRUE(camera->password().has_value());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].title, "Fail");
}

// ---- from the Tool panel ----

TEST_F(UnlockDialog, TheToolPanelsFormatGoesOnOnlyAfterTheCameraAcceptedThePassword) {
    auto camera = lockedCamera("HW7334", "1.0.0");
    DialogLog formats;
    registerFakeDialog(hvb::kDiskFormatWindowControl, [] { return hvb::diskFormatState; }, &formats);
    hvb::HVBToolViewController panel;
    panel.view();
    panel.beginAppearance();
    panel.endAppearance();
    ASSERT_TRUE(waitUntil([&] { return panel.FormatBtn->isEnabled(); }));
    ASSERT_TRUE(panel.isDeviceEncryption);

    // First a wrong password, then Cancel: no format.
    onModal = [&](appkit::Window* w) {
        auto* d = dynamic_cast<PasswordEnterViewControl*>(w->contentViewController());
        if (!d) {
            w->performClose();
            appkit::abortModal();
            return;
        }
        d->passwordSecureTextField->setText("not-the-one");
        d->controlTextDidChange(d->passwordSecureTextField);
        d->buttonOK->click();
        whenTrue(d, [d] { return !d->isBusy(); }, [d] { d->buttonCancel->click(); });
    };
    panel.FormatBtn->click();
    EXPECT_TRUE(formats.opened.empty());
    EXPECT_EQ(attempts(camera), 1);

    // The right one removes the password, the camera comes back, then the format opens.
    onModal = [&](appkit::Window* w) {
        if (auto* d = dynamic_cast<PasswordEnterViewControl*>(w->contentViewController())) {
            EXPECT_FALSE(hvb::isUnlockOnly.load());
            d->passwordSecureTextField->setText(kPassword);
            d->controlTextDidChange(d->passwordSecureTextField);
            d->buttonOK->click();
            return;
        }
        w->performClose();
        appkit::abortModal();
    };
    panel.FormatBtn->click();
    ASSERT_EQ(formats.opened.size(), 1u);
    EXPECT_EQ(formats.opened[0].second, 0);
    EXPECT_FALSE(camera->password().has_value());
    panel.beginDisappearance();
    panel.endDisappearance();
}

}  // namespace
