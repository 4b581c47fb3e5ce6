// Pictures of the Tool panel and its dialogs for people to look at: build*/screenshots/.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "FakeCapture.h"
#include "ToolsFixture.h"
#include "ToolsTestSupport.h"
#include "common/ControllerFactory.h"
#include "common/WindowShells.h"
#include "tools/HVBToolViewController.h"
#include "tools/MSDCRecoverMsgViewController.h"
#include "tools/PasswordChangeViewControl.h"
#include "tools/PasswordEnterViewControl.h"
#include "tools/SyncTimeViewController.h"
#include "tools/WebcamTestViewController.h"

namespace {

using namespace toolstest;

class Screens : public ToolsFixture {};

TEST_F(Screens, ToolPanelInItsThreeLayouts) {
    struct Layout {
        const char* name;
        const char* model;
        int64_t cut;
        bool encrypted;
    };
    for (const Layout& layout : {Layout{"tool-panel-protected", "HW7334", 1, true},
                                 Layout{"tool-panel-unprotected", "HVBS2A", 6, false},
                                 Layout{"tool-panel-no-password-no-reset", "HVBR4B", 0, false}}) {
        auto fake = makeFakeLink();
        addCamera(*fake, "hw7334a1b2c3", layout.model, layout.cut, layout.encrypted, "Patrol 7");
        addCamera(*fake, "hvbr7d4e5f6", "HVBR7", 3, false, "");
        fake->selected = 0;
        hvb::setCameraLink(fake);
        // The right pane's grey behind the panel, at the main window's pane size.
        QWidget pane;
        pane.setAutoFillBackground(true);
        QPalette grey = pane.palette();
        grey.setColor(QPalette::Window, QColor(227, 227, 227));
        pane.setPalette(grey);
        auto* layoutBox = new QVBoxLayout(&pane);
        layoutBox->setContentsMargins(0, 0, 0, 0);
        auto* panel = new hvb::HVBToolViewController(&pane);
        layoutBox->addWidget(panel);
        pane.resize(860, 640);
        panel->view();
        panel->beginAppearance();
        pane.show();
        panel->endAppearance();
        // The rows come from a reload on the main queue.
        EXPECT_TRUE(waitUntil([&] { return panel->FormatBtn->isEnabled(); }));
        settle(40);
        EXPECT_TRUE(apptest::saveScreenshot(&pane, layout.name));
        EXPECT_EQ(apptest::keyboardFaults(&pane), QStringList());
        panel->beginDisappearance();
        panel->endDisappearance();
    }
    hvb::setCameraLink(link);
}

TEST_F(Screens, UnlockDialogIdleWrongAndExhausted) {
    BodyCameraOptions o;
    o.password = "Secret-0042";
    auto camera = makeCamera("HW7334", "1.0.0", o);
    ASSERT_TRUE(plug(camera));
    hvb::DeviceState::shared().selectedDeviceIndex = 0;
    hvb::isUnlockOnly = true;
    appkit::Window window(new hvb::PasswordEnterViewControl());
    auto* d = static_cast<hvb::PasswordEnterViewControl*>(window.contentViewController());
    window.makeKeyAndOrderFront();
    settle();
    EXPECT_TRUE(apptest::saveScreenshot(&window, "unlock-dialog-idle"));
    d->passwordSecureTextField->setText("wrong-pass");
    d->controlTextDidChange(d->passwordSecureTextField);
    d->buttonOK->click();
    ASSERT_TRUE(waitUntil([&] { return !d->isBusy(); }));
    settle();
    EXPECT_TRUE(apptest::saveScreenshot(&window, "unlock-dialog-wrong"));
    EXPECT_EQ(apptest::keyboardFaults(&window, {{"QToolButton \"\"", "unlock-dialog-focus-eye"}}), QStringList());
    window.performClose();

    recordOf(camera)->passwordErrorCnt = 5;
    appkit::Window exhausted(new hvb::PasswordEnterViewControl());
    exhausted.makeKeyAndOrderFront();
    settle();
    EXPECT_TRUE(apptest::saveScreenshot(&exhausted, "unlock-dialog-exhausted"));
    EXPECT_EQ(apptest::keyboardFaults(&exhausted, {{"hvb::HandCursorNSTextField", "unlock-dialog-focus-forgot"}}),
              QStringList());
    exhausted.performClose();
}

TEST_F(Screens, ClockDialogWaitSuccessAndFail) {
    auto camera = makeCamera("HW7334", "1.0.0");
    ASSERT_TRUE(plug(camera));
    for (auto [selected, name] : {std::pair{0, "clock-dialog-success"}, std::pair{-1, "clock-dialog-fail"}}) {
        hvb::DeviceState::shared().selectedDeviceIndex = selected;
        onModal = [name = std::string(name), selected = selected](appkit::Window* window) {
            auto* d = dynamic_cast<hvb::SyncTimeViewController*>(window->contentViewController());
            if (!d) {
                window->performClose();
                appkit::abortModal();
                return;
            }
            if (selected == 0) {
                EXPECT_TRUE(apptest::saveScreenshot(window, "clock-dialog-wait"));
            }
            whenTrue(d, [d] { return d->buttonOK->isVisible(); }, [window, d, name] {
                settle();
                EXPECT_TRUE(apptest::saveScreenshot(window, name));
                d->buttonOK->click();
            });
        };
        auto* fromStoryboard =
            appkit::Storyboard::main().instantiateController<hvb::SyncTimeWindowController>("SyncTimeWindowController");
        ASSERT_NE(fromStoryboard, nullptr);
        appkit::Window* window = fromStoryboard->window();
        hvb::SyncTimeWindowController controller(window);
        delete fromStoryboard;
        appkit::runModalForWindow(window);
    }
}

TEST_F(Screens, RecoveryMessageAndPasswordChangeForm) {
    auto* message = hvb::ControllerFactory::shared().make("MSDCRecoverMsgViewController");
    ASSERT_NE(message, nullptr);
    appkit::Window window(message);
    window.makeKeyAndOrderFront();
    settle();
    EXPECT_TRUE(apptest::saveScreenshot(&window, "recovery-message"));
    window.performClose();

    appkit::Window form(new hvb::PasswordChangeViewControl());
    form.makeKeyAndOrderFront();
    settle();
    EXPECT_TRUE(apptest::saveScreenshot(&form, "password-change-form"));
    form.performClose();
}

TEST_F(Screens, WebcamTestBothSteps) {
    auto backend = std::make_shared<FakeCaptureBackend>();
    backend->videos = {{"v0", "HVB R7 Camera"}};
    backend->audios = {{"a0", "HVB R7 Microphone"}};
    services::CaptureBackend::setShared(backend);
    auto* test = new hvb::WebcamTestViewController();
    appkit::Window window(test);
    window.makeKeyAndOrderFront();
    settle();
    EXPECT_TRUE(apptest::saveScreenshot(&window, "webcam-test-video"));
    test->nextBtn->click();
    backend->lastSession->feed({-40.f, -12.f});
    settle();
    EXPECT_TRUE(apptest::saveScreenshot(&window, "webcam-test-audio"));
    window.performClose();
    services::CaptureBackend::setShared(nullptr);
}

}  // namespace
