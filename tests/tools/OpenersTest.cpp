// The earlier panels open the Tool panel's dialogs by identifier or class name: the Setting
// panel's lock and clock buttons, the Status panel's folder action on a locked camera, and a
// Status row's recovery and webcam-test buttons.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include "FakeCapture.h"
#include "ToolsFixture.h"
#include "ToolsTestSupport.h"
#include "camera/DeviceSettingWriter.h"
#include "settings/SettingsViewController.h"
#include "status/StatusTableViewCell.h"
#include "status/StatusViewController.h"
#include "tools/MSDCRecoverMsgViewController.h"
#include "tools/PasswordEnterViewControl.h"
#include "tools/SyncTimeViewController.h"
#include "tools/WebcamTestViewController.h"

namespace {

using namespace toolstest;

constexpr const char* kPassword = "Secret-0042";

template <class T>
T* shownContent() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* window = qobject_cast<appkit::Window*>(w);
        if (window && window->isVisibleWindow())
            if (auto* content = dynamic_cast<T*>(window->contentViewController())) return content;
    }
    return nullptr;
}

class Openers : public ToolsFixture {
protected:
    std::shared_ptr<SimulatedBodyCamera> lockedCamera() {
        BodyCameraOptions o;
        o.password = kPassword;
        auto camera = makeCamera("HW7334", "1.0.0", o);
        EXPECT_TRUE(plug(camera));
        hvb::DeviceState::shared().selectedDeviceIndex = 0;
        return camera;
    }
    static void enter(hvb::PasswordEnterViewControl* d) {
        d->passwordSecureTextField->setText(kPassword);
        d->controlTextDidChange(d->passwordSecureTextField);
        d->buttonOK->click();
    }
};

TEST_F(Openers, TheSettingPanelsLockButtonOpensTheStorage) {
    auto camera = lockedCamera();
    hvb::SettingsViewController settings;
    settings.view();
    hvb::isUnlockOnly = false;
    bool opened = false;
    onModal = [&](appkit::Window* w) {
        auto* d = dynamic_cast<hvb::PasswordEnterViewControl*>(w->contentViewController());
        ASSERT_NE(d, nullptr);
        opened = true;
        enter(d);
    };
    settings.openUnlockWindow();
    EXPECT_TRUE(opened);
    EXPECT_TRUE(hvb::isPasswordVerified);
    EXPECT_FALSE(camera->isStorageLocked());
    EXPECT_TRUE(camera->password().has_value());  // opened, not removed
}

TEST_F(Openers, TheSettingPanelsClockButtonSyncsTheClock) {
    auto camera = makeCamera("HVBR7", "1.6.01");
    ASSERT_TRUE(plug(camera));
    hvb::DeviceState::shared().selectedDeviceIndex = 0;
    hvb::setClockSource([] { return hvb::ClockReading{"20240229", "235959", 0}; });
    hvb::SettingsViewController settings;
    settings.view();
    QString title;
    onModal = [&](appkit::Window* w) {
        auto* d = dynamic_cast<hvb::SyncTimeViewController*>(w->contentViewController());
        ASSERT_NE(d, nullptr);
        whenTrue(d, [d] { return d->buttonOK->isVisible(); }, [d, &title] {
            title = d->SyncTimeTitle->text();
            d->buttonOK->click();
        });
    };
    settings.openSyncTimeWindow();
    hvb::setClockSource({});
    EXPECT_EQ(title, "Success");
    EXPECT_EQ(camera->clockDate(), "20240229");
}

TEST_F(Openers, TheStatusPanelsFolderActionOnALockedCameraUnlocksFirst) {
    auto camera = lockedCamera();
    auto status = hvb::StatusModel::make(hvb::DeviceState::shared().entryAt(0)->key());
    ASSERT_TRUE(status.has_value());
    hvb::StatusViewController panel;
    panel.view();
    panel.show();
    hvb::isUnlockOnly = false;
    panel.openDeviceFolder(*status);
    auto* d = shownContent<hvb::PasswordEnterViewControl>();
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(hvb::isUnlockOnly.load());
    QPointer<hvb::PasswordEnterViewControl> dialog(d);
    enter(d);
    ASSERT_TRUE(waitUntil([&] { return !dialog || !dialog->isVisible(); }));
    EXPECT_FALSE(camera->isStorageLocked());
    ASSERT_TRUE(waitUntil([&] { return recordOf(camera) && recordOf(camera)->isLockStatus == false; }));
    EXPECT_EQ(appkit::modalSessionDepth(), 0);
}

TEST_F(Openers, AStatusRowPresentsTheRecoveryMessageAndTheWebcamTest) {
    auto backend = std::make_shared<FakeCaptureBackend>();
    backend->videos = {{"v0", "HVB 7334 Camera"}};
    backend->audios = {{"a0", "HVB 7334 Microphone"}};
    services::CaptureBackend::setShared(backend);
    hvb::StatusViewController panel;
    panel.view();
    panel.show();
    hvb::StatusTableViewCell row;
    row.setDelegate(&panel);

    row.msdcRecoverButtonDidTap();
    QPointer<hvb::MSDCRecoverMsgViewController> message = shownContent<hvb::MSDCRecoverMsgViewController>();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->hostWindow()->windowTitle(), row.msdcRecoverButton()->text());
    hvb::postStatusDidGet();
    ASSERT_TRUE(waitUntil([&] { return !message || !message->isVisible(); }));

    row.webcamTestButtonDidTap();
    QPointer<hvb::WebcamTestViewController> test = shownContent<hvb::WebcamTestViewController>();
    ASSERT_TRUE(test);
    EXPECT_TRUE(test->webcam.has_value());
    test->nextBtn->click();
    test->nextBtn->click();
    ASSERT_TRUE(waitUntil([&] { return !test || !test->isVisible(); }));
    services::CaptureBackend::setShared(nullptr);
}

}  // namespace
