// Windows and window controllers: closing runs the will-close handler and the disappearance
// once, content replacement, and who deletes a window.
#include <gtest/gtest.h>

#include <QPointer>
#include <QTest>

#include "AppkitTestSupport.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Window.h"

using namespace appkit_test;

TEST(WindowTest, PerformCloseRunsTheHandlerThenTheDisappearanceOnce) {
    auto log = std::make_shared<Log>();
    appkit::Window window(new RecordingController(log));
    window.setWillCloseHandler([log] { log->push_back("willClose"); });
    window.makeKeyAndOrderFront();
    EXPECT_TRUE(window.isVisibleWindow());
    window.makeKeyAndOrderFront();  // already in front: no second appearance
    EXPECT_EQ(*log, loadLog() + appearLog());

    window.performClose();
    window.performClose();
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.isVisibleWindow());
    EXPECT_EQ(*log, loadLog() + appearLog() + Log{"willClose"} + disappearLog());

    // Shown again, closed again: each closing reports once more.
    window.makeKeyAndOrderFront();
    window.close();
    EXPECT_EQ(*log, loadLog() + appearLog() + Log{"willClose"} + disappearLog() + appearLog() +
                        Log{"willClose"} + disappearLog());
}

TEST(WindowTest, ReplacingTheContentOfAShownWindow) {
    auto oldLog = std::make_shared<Log>();
    auto newLog = std::make_shared<Log>();
    auto* oldContent = new RecordingController(oldLog);
    QPointer<RecordingController> oldAlive(oldContent);
    appkit::Window window(oldContent);
    window.makeKeyAndOrderFront();

    auto* newContent = new RecordingController(newLog);
    newContent->setTitle("Format");
    window.setContentViewController(newContent);
    EXPECT_EQ(*oldLog, loadLog() + appearLog() + disappearLog());
    EXPECT_EQ(*newLog, loadLog() + appearLog());
    EXPECT_EQ(window.contentViewController(), newContent);
    EXPECT_EQ(newContent->hostWindow(), &window);
    EXPECT_EQ(window.windowTitle(), "Format");
    flushDeferredDeletes();
    EXPECT_TRUE(oldAlive.isNull());
    window.performClose();
}

TEST(WindowTest, AWindowDestroyedOnScreenLetsItsContentDisappear) {
    auto log = std::make_shared<Log>();
    auto* window = new appkit::Window(new RecordingController(log));
    window->makeKeyAndOrderFront();
    delete window;
    EXPECT_EQ(*log, loadLog() + appearLog() + disappearLog());
}

namespace {

class RecordingWindowController : public appkit::WindowController {
public:
    using appkit::WindowController::WindowController;
    void windowDidLoad() override { log->push_back("windowDidLoad"); }
    void windowWillClose() override { log->push_back("windowWillClose"); }
    appkit::Window* makeWindow() override {
        log->push_back("makeWindow");
        return new appkit::Window(new RecordingController(contentLog));
    }
    std::shared_ptr<Log> log = std::make_shared<Log>();
    std::shared_ptr<Log> contentLog = std::make_shared<Log>();
};

}  // namespace

TEST(WindowControllerTest, BuildsItsWindowOnceAndReportsTheLoadOnce) {
    RecordingWindowController controller;
    appkit::Window* window = controller.window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(controller.window(), window);
    EXPECT_EQ(window->windowController(), &controller);
    EXPECT_EQ(*controller.log, (Log{"makeWindow", "windowDidLoad"}));
    EXPECT_NE(controller.contentViewController(), nullptr);
}

TEST(WindowControllerTest, ShowWindowIsNotModalAndClosingReportsWillClose) {
    RecordingWindowController controller;
    controller.showWindow();
    appkit::Window* window = controller.window();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowModality(), Qt::NonModal);
    EXPECT_EQ(appkit::modalSessionDepth(), 0);
    EXPECT_EQ(*controller.contentLog, loadLog() + appearLog());

    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(*controller.log, (Log{"makeWindow", "windowDidLoad", "windowWillClose"}));
    EXPECT_EQ(*controller.contentLog, loadLog() + appearLog() + disappearLog());

    controller.showWindow();
    controller.close();
    EXPECT_EQ(*controller.log, (Log{"makeWindow", "windowDidLoad", "windowWillClose", "windowWillClose"}));
}

// The dialogs' way: a controller from the storyboard builds the window, a second controller is
// made on that window and runs it; the first may be dropped before or after.
TEST(WindowControllerTest, AWindowAControllerBuiltLivesWhileAnyControllerHoldsIt) {
    auto* first = new RecordingWindowController;
    QPointer<appkit::Window> window = first->window();
    {
        RecordingWindowController second(window);
        EXPECT_EQ(window->windowController(), &second);
        delete first;
        ASSERT_FALSE(window.isNull());
        window->makeKeyAndOrderFront();
        window->performClose();
        // The window's controller is the one that took it last.
        EXPECT_EQ(*second.log, Log{"windowWillClose"});
    }
    flushDeferredDeletes();
    EXPECT_TRUE(window.isNull());
}

TEST(WindowControllerTest, AWindowHandedInStaysWithItsOwner) {
    appkit::Window window(new RecordingController);
    {
        appkit::WindowController controller(&window);
        EXPECT_EQ(controller.window(), &window);
    }
    flushDeferredDeletes();
    EXPECT_EQ(window.windowController(), nullptr);
    window.makeKeyAndOrderFront();  // still usable
    EXPECT_TRUE(window.isVisible());
    window.performClose();
}
