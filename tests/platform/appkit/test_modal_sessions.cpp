// Modal sessions: how they end, nesting, the main queue inside them, timers that skip, and the
// closing of a session's window.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <QApplication>
#include <QCloseEvent>
#include <QPointer>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QtTest/qtestspontaneevent.h>

#include "AppkitTestSupport.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Window.h"
#include "platform/dispatch/Dispatch.h"

using namespace appkit_test;
using appkit::NSModalResponseAbort;
using appkit::NSModalResponseStop;

namespace {

class ModalSessionTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(appkit::modalSessionDepth(), 0);
        EXPECT_FALSE(dispatch::modalSessionActive());
        flushDeferredDeletes();
    }

    // A window whose content records its life cycle into log_.
    std::unique_ptr<appkit::Window> makeWindow() {
        return std::make_unique<appkit::Window>(new RecordingController(log_));
    }

    std::shared_ptr<Log> log_ = std::make_shared<Log>();
    SessionWatchdog watchdog_;
};

}  // namespace

TEST_F(ModalSessionTest, StopAbortAndAGivenCodeEndTheSessionFromTheMainQueue) {
    struct Case {
        std::function<void()> end;
        int expected;
    };
    const Case cases[] = {{[] { appkit::stopModal(); }, NSModalResponseStop},
                          {[] { appkit::abortModal(); }, NSModalResponseAbort},
                          {[] { appkit::stopModalWithCode(42); }, 42}};
    for (const Case& c : cases) {
        log_->clear();
        auto window = makeWindow();
        bool shownModal = false;
        ModalHookScope hook([&](appkit::Window* w) {
            shownModal = w == window.get() && w->isVisible() && w->windowModality() == Qt::ApplicationModal;
            // The dialog's way: close the window, then end the session.
            dispatch::mainQueue().async([w, end = c.end] {
                w->performClose();
                end();
            });
        });
        EXPECT_EQ(appkit::runModalForWindow(window.get()), c.expected);
        EXPECT_TRUE(shownModal);
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(*log_, loadLog() + appearLog() + disappearLog());
    }
}

TEST_F(ModalSessionTest, ASessionEndedFromTheHookReturnsWithoutWaiting) {
    auto window = makeWindow();
    ModalHookScope hook([](appkit::Window* w) {
        w->performClose();
        appkit::stopModalWithCode(7);
    });
    EXPECT_EQ(appkit::runModalForWindow(window.get()), 7);
}

TEST_F(ModalSessionTest, SessionStateIsVisibleInsideAndClearedAfter) {
    auto window = makeWindow();
    int depthInside = -1;
    bool activeInside = false;
    appkit::Window* windowInside = nullptr;
    ModalHookScope hook([&](appkit::Window* w) {
        dispatch::mainQueue().async([&, w] {
            depthInside = appkit::modalSessionDepth();
            activeInside = dispatch::modalSessionActive();
            windowInside = appkit::modalWindow();
            w->performClose();
            appkit::stopModal();
        });
    });
    EXPECT_FALSE(dispatch::modalSessionActive());
    EXPECT_EQ(appkit::runModalForWindow(window.get()), NSModalResponseStop);
    EXPECT_EQ(depthInside, 1);
    EXPECT_TRUE(activeInside);
    EXPECT_EQ(windowInside, window.get());
    EXPECT_EQ(appkit::modalWindow(), nullptr);
}

TEST_F(ModalSessionTest, NestedSessionsReturnToTheirOwnCallers) {
    auto outer = makeWindow();
    auto inner = makeWindow();
    int innerResult = 0;
    int depthInInner = 0;
    appkit::Window* windowInInner = nullptr;
    int depthAfterInner = 0;
    bool activeAfterInner = false;
    ModalHookScope hook([&](appkit::Window* w) {
        if (w == outer.get()) {
            // From a main-queue task, as the application opens its dialogs.
            dispatch::mainQueue().async([&] {
                innerResult = appkit::runModalForWindow(inner.get());
                depthAfterInner = appkit::modalSessionDepth();
                activeAfterInner = dispatch::modalSessionActive();
                outer->performClose();
                appkit::stopModalWithCode(1);
            });
        } else {
            QTimer::singleShot(0, [&] {
                depthInInner = appkit::modalSessionDepth();
                windowInInner = appkit::modalWindow();
                inner->performClose();
                appkit::stopModalWithCode(2);
                // A second request for the same (already ended) session must not reach the outer one.
                appkit::stopModalWithCode(3);
            });
        }
    });
    EXPECT_EQ(appkit::runModalForWindow(outer.get()), 1);
    EXPECT_EQ(innerResult, 2);
    EXPECT_EQ(depthInInner, 2);
    EXPECT_EQ(windowInInner, inner.get());
    EXPECT_EQ(depthAfterInner, 1);
    EXPECT_TRUE(activeAfterInner);
}

TEST_F(ModalSessionTest, MainQueueTasksFromWorkersAndDelayedTasksRunInsideASession) {
    auto window = makeWindow();
    std::atomic<bool> workerTaskOnGuiThread{false};
    bool delayedRanInSession = false;
    ModalHookScope hook([&](appkit::Window* w) {
        dispatch::globalQueue().async([&, w] {
            dispatch::mainQueue().async([&, w] {
                workerTaskOnGuiThread = QThread::currentThread() == qApp->thread();
                dispatch::mainQueue().asyncAfter(20, [&, w] {
                    delayedRanInSession = appkit::modalSessionDepth() == 1;
                    w->performClose();
                    appkit::stopModal();
                });
            });
        });
    });
    EXPECT_EQ(appkit::runModalForWindow(window.get()), NSModalResponseStop);
    EXPECT_TRUE(workerTaskOnGuiThread);
    EXPECT_TRUE(delayedRanInSession);
}

TEST_F(ModalSessionTest, RepeatingMainQueueTimerSkipsItsTicksDuringASession) {
    auto ticks = std::make_shared<std::atomic<int>>(0);
    auto ticksInSession = std::make_shared<std::atomic<int>>(0);
    auto timer = dispatch::Timer::make(dispatch::mainQueue(), 5, [ticks, ticksInSession] {
        ++*ticks;
        if (dispatch::modalSessionActive()) ++*ticksInSession;
    });
    timer->resume();
    // The Qt loop drives the timer.
    ASSERT_TRUE(QTest::qWaitFor([&] { return *ticks >= 2; }));

    auto window = makeWindow();
    int ticksAtStart = -1;
    int ticksAtEnd = -2;
    ModalHookScope hook([&](appkit::Window* w) {
        ticksAtStart = *ticks;
        // A session long enough for many ticks to fall due.
        dispatch::mainQueue().asyncAfter(80, [&, w] {
            ticksAtEnd = *ticks;
            w->performClose();
            appkit::stopModal();
        });
    });
    EXPECT_EQ(appkit::runModalForWindow(window.get()), NSModalResponseStop);
    EXPECT_EQ(ticksAtStart, ticksAtEnd);
    EXPECT_EQ(*ticksInSession, 0);

    // And the timer ticks again once the session is over.
    const int afterSession = *ticks;
    EXPECT_TRUE(QTest::qWaitFor([&] { return *ticks > afterSession; }));
    timer->cancel();
}

TEST_F(ModalSessionTest, EscapeInTheSessionWindowClosesItAndAbortsTheSession) {
    auto window = makeWindow();
    int willClose = 0;
    window->setWillCloseHandler([&] { ++willClose; });
    ModalHookScope hook([](appkit::Window* w) {
        QTimer::singleShot(0, [w] { QTest::keyClick(w, Qt::Key_Escape); });
    });
    EXPECT_EQ(appkit::runModalForWindow(window.get()), NSModalResponseAbort);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(willClose, 1);
    EXPECT_EQ(*log_, loadLog() + appearLog() + disappearLog());
}

TEST_F(ModalSessionTest, TheCloseButtonClosesTheSessionWindowAndAbortsTheSession) {
    auto window = makeWindow();
    ModalHookScope hook([](appkit::Window* w) {
        QTimer::singleShot(0, [w] {
            // What the window system sends for the close button (sendEvent would make it a
            // program's close; QTest delivers its input events the same way).
            QCloseEvent event;
            QSpontaneKeyEvent::setSpontaneous(&event);
            qApp->notify(w, &event);
        });
    });
    EXPECT_EQ(appkit::runModalForWindow(window.get()), NSModalResponseAbort);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(*log_, loadLog() + appearLog() + disappearLog());
}

TEST_F(ModalSessionTest, ClosingTheWindowFromCodeDoesNotEndTheSession) {
    auto window = makeWindow();
    int depthAfterClose = -1;
    ModalHookScope hook([&](appkit::Window* w) {
        QTimer::singleShot(0, [&, w] {
            w->performClose();
            w->close();
            dispatch::mainQueue().async([&] {
                depthAfterClose = appkit::modalSessionDepth();
                appkit::stopModalWithCode(5);
            });
        });
    });
    EXPECT_EQ(appkit::runModalForWindow(window.get()), 5);
    EXPECT_EQ(depthAfterClose, 1);
}

TEST_F(ModalSessionTest, ASessionWhoseWindowIsDestroyedEnds) {
    QPointer<appkit::Window> window = new appkit::Window(new RecordingController(log_));
    ModalHookScope hook([](appkit::Window* w) { QTimer::singleShot(0, [w] { delete w; }); });
    EXPECT_EQ(appkit::runModalForWindow(window), NSModalResponseAbort);
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(*log_, loadLog() + appearLog() + disappearLog());
}

TEST_F(ModalSessionTest, RunningASessionOffTheMainThreadIsRefused) {
    auto window = makeWindow();
    bool hookCalled = false;
    ModalHookScope hook([&](appkit::Window*) { hookCalled = true; });
    int result = 0;
    std::thread worker([&] { result = appkit::runModalForWindow(window.get()); });
    worker.join();
    EXPECT_EQ(result, NSModalResponseAbort);
    EXPECT_FALSE(hookCalled);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(*log_, loadLog());  // loaded with the window, never shown
}

TEST_F(ModalSessionTest, AStopFromAnotherThreadEndsTheSessionOnTheMainThread) {
    auto window = makeWindow();
    std::thread worker;
    ModalHookScope hook([&](appkit::Window*) { worker = std::thread([] { appkit::stopModalWithCode(9); }); });
    EXPECT_EQ(appkit::runModalForWindow(window.get()), 9);
    worker.join();
    window->performClose();
}

TEST_F(ModalSessionTest, AWindowLeftOpenAfterItsSessionNoLongerBlocks) {
    auto window = makeWindow();
    ModalHookScope hook([](appkit::Window*) { appkit::stopModal(); });
    EXPECT_EQ(appkit::runModalForWindow(window.get()), NSModalResponseStop);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowModality(), Qt::NonModal);
    // Still the same showing: no second appearance.
    EXPECT_EQ(*log_, loadLog() + appearLog());
    window->performClose();
}

TEST_F(ModalSessionTest, EndingWhenNoSessionRunsIsHarmless) {
    appkit::stopModal();
    appkit::abortModal();
    auto window = makeWindow();
    ModalHookScope hook([](appkit::Window* w) {
        QTimer::singleShot(0, [w] {
            w->performClose();
            appkit::stopModalWithCode(3);
        });
    });
    // The earlier requests did not end this session in advance.
    EXPECT_EQ(appkit::runModalForWindow(window.get()), 3);
}
