// Renders the Status panel and the release-notes window into build/screenshots/ so a person can
// look at them: the demo's two cameras, a locked camera, an SD-card error, a webcam-mode camera,
// no camera, and one model's version history.
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "StatusFixture.h"
#include "app/MainSplitView.h"
#include "app/MainWindow.h"
#include "app/RightSplitViewController.h"
#include "platform/appkit/Window.h"
#include "status/BatteryIndicator.h"
#include "status/ReleaseNotesViewController.h"

namespace {

using namespace statustest;

class StatusScreens : public StatusFixture {
protected:
    // Until every row has shown its battery (and its storage, where the camera has a volume).
    bool waitForTicks(bool storage = true) {
        return wait([&] {
            for (int i = 0; i < panel->numberOfRows(); ++i) {
                auto* r = row(i);
                if (r->shownState().webcamMode) continue;
                if (r->batteryCapacityLabel()->text().isEmpty()) return false;
                if (storage && r->volumeCapacityLabel()->text().isEmpty()) return false;
            }
            return true;
        });
    }
    void save(const std::string& name) {
        apptest::waitUntil([] { return false; }, 50);
        EXPECT_TRUE(apptest::saveScreenshot(panel.get(), name));
    }
};

TEST_F(StatusScreens, TheDemoCameras) {
    setOutdated("HW7334");
    BodyCameraOptions r7;
    r7.label = "Patrol 7";
    r7.volumeFolder = volumeFolder("HVBR7");
    auto first = attach("HVBR7", "1.6.01", r7);
    first->setBattery(1);
    first->setCharging(true);
    BodyCameraOptions hw;
    hw.label = "Unit 34";
    hw.volumeFolder = volumeFolder("HW7334");
    auto second = attach("HW7334", "1.0.0", hw);
    second->setBattery(72);
    showPanel();
    ASSERT_EQ(panel->numberOfRows(), 2);
    ASSERT_TRUE(waitForTicks());
    ASSERT_TRUE(wait([&] { return row(1)->upgradeButton()->isVisible(); }));
    save("status-demo-cameras");
}

TEST_F(StatusScreens, ALockedCamera) {
    BodyCameraOptions options;
    options.label = "Locked unit";
    options.volumeFolder = volumeFolder("locked");
    auto camera = makeCamera(profile("HVBS2A", "1.13.0"), options);
    camera->setHidden(true);
    ASSERT_TRUE(camera->attach(bus));
    startWatcher();
    ASSERT_TRUE(wait([] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == 1; }));
    showPanel();
    ASSERT_EQ(row(0)->folderImageName(), "lockIconStatus");
    ASSERT_TRUE(waitForTicks(false));
    save("status-locked-camera");
}

TEST_F(StatusScreens, AnSDCardError) {
    BodyCameraOptions options;
    options.label = "Unit 34";
    options.volumeFolder = volumeFolder("card");
    auto camera = makeCamera(profile("HW7334", "1.0.0"), options);
    camera->setSDCardStatus(1);
    ASSERT_TRUE(camera->attach(bus));
    startWatcher();
    ASSERT_TRUE(wait([] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == 1; }));
    showPanel();
    ASSERT_TRUE(row(0)->cardErrorMsgLabel()->isVisible());
    ASSERT_TRUE(waitForTicks());
    save("status-sd-card-error");
}

TEST_F(StatusScreens, AWebcamModeCamera) {
    BodyCameraOptions options;
    options.label = "Desk cam";
    options.volumeFolder = volumeFolder("webcam");
    auto camera = attach("HVBS2A", "1.13.0", options);
    camera->setRebootDownTime(50);
    showPanel();
    QTest::mouseClick(row(0)->webcamButton(), Qt::LeftButton);
    ASSERT_TRUE(wait([&] { return panel->numberOfRows() == 1 && row(0)->webcamStackView()->isVisible(); }));
    save("status-webcam-mode");
}

TEST_F(StatusScreens, NoCamera) {
    showPanel();
    save("status-empty");
}

TEST_F(StatusScreens, TheMainWindowWithOneCamera) {
    BodyCameraOptions options;
    options.label = "Patrol 7";
    options.volumeFolder = volumeFolder("main");
    auto camera = attach("HVBR7", "1.6.01", options);
    camera->setBattery(0);
    hvb::MainWindow window{hvb::LaunchEnvironment{}};
    window.showWindow();
    window.resize(1040, 680);
    ASSERT_TRUE(wait([&] {
        auto* view = window.splitView()->rightController()->currentView();
        auto* status = view ? view->findChild<hvb::StatusTableViewCell*>() : nullptr;
        return status && !status->batteryCapacityLabel()->text().isEmpty() &&
               !status->volumeCapacityLabel()->text().isEmpty();
    }));
    apptest::waitUntil([] { return false; }, 50);
    EXPECT_TRUE(apptest::saveScreenshot(&window, "status-main-window-one-camera"));
    EXPECT_EQ(apptest::keyboardFaults(&window), QStringList());
}

TEST_F(StatusScreens, TheReleaseNotesWindow) {
    auto* controller = new hvb::ReleaseNotesViewController("HW7334");
    appkit::Window window(controller);
    window.aboutToShow();
    window.show();
    window.didShow();
    ASSERT_GT(controller->numberOfRows(), 0);
    apptest::waitUntil([] { return false; }, 50);
    EXPECT_TRUE(apptest::saveScreenshot(&window, "release-notes-window"));
    EXPECT_EQ(apptest::keyboardFaults(&window), QStringList());
    window.performClose();
}

}  // namespace
