// Renders the shell's screens into build/screenshots/ so a person can look at each of them.
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/About.h"
#include "app/AppStartup.h"
#include "app/LeftSplitViewController.h"
#include "app/MainSplitView.h"
#include "app/MainWindow.h"
#include "app/RightSplitViewController.h"
#include "app/UserPermissionViewController.h"
#include "app/WarningPageViewController.h"
#include "camera/FakeCameraLink.h"
#include "common/MsgDialog.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/NotificationCenter.h"

namespace {

using namespace hvb;

void showIn(appkit::Window& window) {
    window.aboutToShow();
    window.show();
    window.didShow();
    window.adjustSize();
}

TEST(Screens, MainWindowInEachState) {
    registerAppControllers();
    auto link = std::make_shared<hvbtest::FakeCameraLink>();
    setCameraLink(link);
    MainWindow window{LaunchEnvironment{}};
    window.showWindow();
    window.resize(1040, 680);
    EXPECT_TRUE(apptest::saveScreenshot(&window, "main-window-no-camera"));
    // The driver known to be stopped, then being started: said beside the insertion hint.
    EXPECT_EQ(apptest::showEachDriverHostState(
                  &window, "", [&](QLabel*) { EXPECT_EQ(apptest::keyboardFaults(&window), QStringList()); }),
              QStringList());
    int pictureButtons = 0;
    EXPECT_EQ(apptest::unnamedPictureButtons(&window, pictureButtons, "en"), QStringList());
    // The Status row's picture buttons say what they do, of a locked camera too.
    EXPECT_EQ(apptest::showEachCameraRow(&window, link->models, "", "en"), QStringList());
    link->models.clear();
    link->models.push_back(std::make_shared<HVBModel>("SN1"));
    foundation::NotificationCenter::defaultCenter().post(kStatusDidGet);
    window.splitView()->leftController()->didDeselectItems({0});
    window.splitView()->leftController()->didSelectItems({1});
    EXPECT_TRUE(apptest::saveScreenshot(&window, "main-window-one-camera-settings"));
    EXPECT_EQ(apptest::keyboardFaults(&window), QStringList());
    link->models.push_back(std::make_shared<HVBModel>("SN2"));
    foundation::NotificationCenter::defaultCenter().post(kStatusDidGet);
    EXPECT_TRUE(apptest::saveScreenshot(&window, "main-window-two-cameras"));
    setCameraLink(nullptr);
}

TEST(Screens, WarningPage) {
    WarningPageViewController page;
    page.resize(860, 680);
    page.view();
    page.beginAppearance();
    page.endAppearance();
    EXPECT_TRUE(apptest::saveScreenshot(&page, "warning-page"));
}

TEST(Screens, MessageDialogs) {
    for (bool success : {true, false}) {
        msgDialogIsSuccess = success;
        msgDialogTitle = success ? "Success" : "Fail";
        msgDialogText = success ? "The settings were written to the camera."
                                : "The camera did not answer. Check the cable and try again.";
        appkit::Window window(new MsgDialogViewController());
        showIn(window);
        EXPECT_TRUE(apptest::saveScreenshot(&window, success ? "message-dialog-success" : "message-dialog-failure"));
        EXPECT_EQ(apptest::keyboardFaults(&window), QStringList());
        window.performClose();
    }
}

TEST(Screens, AboutAndAdminPermission) {
    {
        appkit::Window window(new About());
        showIn(window);
        EXPECT_TRUE(apptest::saveScreenshot(&window, "about"));
        EXPECT_EQ(apptest::keyboardFaults(&window, {{"statementLink", "about-focus-statement"}}), QStringList());
        window.performClose();
    }
    {
        appkit::Window window(new UserPermissionViewController());
        showIn(window);
        EXPECT_TRUE(apptest::saveScreenshot(&window, "admin-permission"));
        EXPECT_EQ(apptest::keyboardFaults(&window), QStringList());
        window.performClose();
    }
}

}  // namespace
