// View controllers: loading once, appearance reported once per transition and only by the
// helpers, layout on resize, presentation as a modal window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QTest>

#include "AppkitTestSupport.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Window.h"
#include "platform/dispatch/Dispatch.h"

using namespace appkit_test;

TEST(ViewControllerTest, ViewLoadsOnceBeforeItsFirstAppearance) {
    RecordingController controller;
    controller.askForViewWhileLoading = true;  // a loadView that touches view() must not recurse
    EXPECT_FALSE(controller.isViewLoaded());
    EXPECT_EQ(controller.view(), &controller);
    controller.view();
    EXPECT_TRUE(controller.isViewLoaded());
    EXPECT_EQ(*controller.log, loadLog());

    RecordingController appearsFirst;
    appearsFirst.beginAppearance();
    appearsFirst.view();
    EXPECT_EQ(*appearsFirst.log, loadLog() + Log{"viewWillAppear"});
}

TEST(ViewControllerTest, EachTransitionIsReportedOnce) {
    RecordingController controller;
    controller.view();
    controller.log->clear();

    // Nothing to leave before anything appeared.
    controller.beginDisappearance();
    controller.endDisappearance();
    EXPECT_TRUE(controller.log->empty());

    controller.beginAppearance();
    controller.beginAppearance();
    controller.endAppearance();
    controller.endAppearance();
    EXPECT_TRUE(controller.isAppeared());
    // A second appearance while on screen would register observers twice.
    controller.beginAppearance();
    controller.endAppearance();
    EXPECT_EQ(*controller.log, appearLog());

    controller.beginDisappearance();
    controller.beginDisappearance();
    controller.endDisappearance();
    controller.endDisappearance();
    EXPECT_FALSE(controller.isAppeared());
    EXPECT_EQ(*controller.log, appearLog() + disappearLog());

    // The next showing is a new transition.
    controller.beginAppearance();
    controller.endAppearance();
    EXPECT_EQ(*controller.log, appearLog() + disappearLog() + appearLog());
}

TEST(ViewControllerTest, QtShowAndHideDoNotReportAppearance) {
    auto* controller = new RecordingController;
    appkit::Window window(controller);
    window.makeKeyAndOrderFront();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(*controller->log, loadLog() + appearLog());

    // Minimise and restore, hide and show: Qt's show and hide events, no transition.
    window.showMinimized();
    QApplication::processEvents();
    window.showNormal();
    QApplication::processEvents();
    window.hide();
    window.show();
    controller->hide();
    controller->show();
    QApplication::processEvents();
    EXPECT_EQ(*controller->log, loadLog() + appearLog());
    window.performClose();
}

TEST(ViewControllerTest, ResizingTheViewAsksForLayout) {
    auto* controller = new RecordingController;
    appkit::Window window(controller);
    window.resize(300, 200);
    window.makeKeyAndOrderFront();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const int before = controller->layouts;
    window.resize(420, 260);
    EXPECT_TRUE(QTest::qWaitFor([&] { return controller->layouts > before; }));
    window.performClose();
}

TEST(ViewControllerTest, HostWindowIsTheWindowAroundTheView) {
    auto* content = new RecordingController;
    auto* inner = new RecordingController(std::make_shared<Log>(), content);
    appkit::Window window(content);
    EXPECT_EQ(content->hostWindow(), &window);
    EXPECT_EQ(inner->hostWindow(), &window);
    RecordingController loose;
    EXPECT_EQ(loose.hostWindow(), nullptr);
}

class PresentationTest : public ::testing::Test {
protected:
    void SetUp() override {
        presenter_ = new RecordingController;
        host_ = std::make_unique<appkit::Window>(presenter_);
        host_->makeKeyAndOrderFront();
    }
    void TearDown() override {
        host_.reset();
        flushDeferredDeletes();
    }

    RecordingController* presenter_ = nullptr;
    std::unique_ptr<appkit::Window> host_;
};

TEST_F(PresentationTest, PresentsInAnApplicationModalWindowAndReturnsAtOnce) {
    auto log = std::make_shared<Log>();
    auto* presented = new RecordingController(log);
    presented->setTitle("About <b>ToolBox</b>");
    QPointer<RecordingController> presentedAlive(presented);
    presenter_->presentViewControllerAsModalWindow(presented);

    // Not a modal session: the caller goes on at once and timers keep running.
    EXPECT_EQ(appkit::modalSessionDepth(), 0);
    EXPECT_FALSE(dispatch::modalSessionActive());
    QPointer<appkit::Window> window = presented->hostWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_NE(window, host_.get());
    EXPECT_EQ(window->windowTitle(), "About <b>ToolBox</b>");
    EXPECT_EQ(window->windowModality(), Qt::ApplicationModal);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(*log, loadLog() + appearLog());

    presented->dismissController();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(*log, loadLog() + appearLog() + disappearLog());
    flushDeferredDeletes();
    EXPECT_TRUE(window.isNull());
    EXPECT_TRUE(presentedAlive.isNull());
    // The presenter is not touched.
    EXPECT_TRUE(presenter_->isAppeared());
    EXPECT_TRUE(host_->isVisible());
}

TEST_F(PresentationTest, EscapeClosesAPresentedWindowLikeADismissal) {
    auto log = std::make_shared<Log>();
    auto* presented = new RecordingController(log);
    presenter_->presentViewControllerAsModalWindow(presented);
    QPointer<appkit::Window> window = presented->hostWindow();
    ASSERT_NE(window, nullptr);
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_EQ(*log, loadLog() + appearLog() + disappearLog());
    flushDeferredDeletes();
    EXPECT_TRUE(window.isNull());
    EXPECT_TRUE(host_->isVisible());
}

TEST_F(PresentationTest, DismissingAControllerThatWasNotPresentedDoesNothing) {
    presenter_->dismissController();
    flushDeferredDeletes();
    EXPECT_TRUE(host_->isVisible());
    EXPECT_TRUE(presenter_->isAppeared());
}
