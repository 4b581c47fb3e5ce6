#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/Dispatch.h"

using namespace dispatch;
using namespace std::chrono_literals;

namespace {

// Generous bound for things that should happen "soon": only a hang trips it.
constexpr auto kPatience = 30s;

// Restores the global knobs a test may turn.
class DispatchTest : public ::testing::Test {
protected:
    void TearDown() override {
        setTimeScale(1.0);
        setModalSessionActive(false);
        RunLoop::main().runPending();
    }
};

TEST_F(DispatchTest, MainQueueRunsTasksInOrderOnTheMainThread) {
    std::vector<int> order;
    bool allOnMain = true;
    for (int i = 0; i < 50; ++i) {
        mainQueue().async([&, i] {
            order.push_back(i);
            allOnMain = allOnMain && isMainThread();
        });
    }
    // Posted from several threads: each thread's own tasks keep their order.
    std::vector<std::vector<int>> perThread(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) mainQueue().async([&, t, i] { perThread[t].push_back(i); });
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_TRUE(isMainThread());
    RunLoop::main().runPending();

    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
    EXPECT_TRUE(allOnMain);
    for (auto& list : perThread) {
        ASSERT_EQ(list.size(), 25u);
        for (int i = 0; i < 25; ++i) EXPECT_EQ(list[i], i);
    }
}

TEST_F(DispatchTest, TasksPostedWhileRunningWaitForTheNextRound) {
    int second = 0;
    mainQueue().async([&] { mainQueue().async([&] { ++second; }); });
    EXPECT_EQ(RunLoop::main().runPending(), 1u);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(RunLoop::main().runPending(), 1u);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(RunLoop::main().runPending(), 0u);
}

TEST_F(DispatchTest, MainQueueSyncRunsInlineOnMainAndWaitsElsewhere) {
    bool ran = false;
    mainQueue().sync([&] { ran = true; });  // no deadlock on the main thread
    EXPECT_TRUE(ran);

    std::atomic<bool> workerDone{false};
    std::atomic<bool> ranOnMain{false};
    int value = 0;
    globalQueue().async([&] {
        EXPECT_FALSE(isMainThread());
        mainQueue().sync([&] {
            ranOnMain = isMainThread();
            value = 42;
        });
        // sync returned, so the task has finished
        EXPECT_EQ(value, 42);
        workerDone = true;
    });
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return workerDone.load(); }, kPatience));
    EXPECT_TRUE(ranOnMain);
}

TEST_F(DispatchTest, SyncPassesAnExceptionBackToTheCaller) {
    std::atomic<bool> caught{false};
    std::atomic<bool> done{false};
    globalQueue().async([&] {
        try {
            mainQueue().sync([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
        done = true;
    });
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return done.load(); }, kPatience));
    EXPECT_TRUE(caught);
}

TEST_F(DispatchTest, AsyncAfterHonoursDueOrderAndScale) {
    // At 1/10000 the task posted first is due in 600 ms and the second in 5 ms, so no pause
    // between the two posts can turn them round; unscaled the wait below would time out.
    setTimeScale(0.0001);
    std::vector<int> order;
    mainQueue().asyncAfter(6000000, [&] { order.push_back(2); });
    mainQueue().asyncAfter(50000, [&] { order.push_back(1); });
    mainQueue().async([&] { order.push_back(0); });
    EXPECT_NE(RunLoop::main().nextDue(), Clock::time_point::max());
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return order.size() == 3; }, kPatience));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(RunLoop::main().nextDue(), Clock::time_point::max());

    std::atomic<bool> onWorker{false};
    Semaphore done(0);
    globalQueue(QoS::utility).asyncAfter(100000, [&] {
        onWorker = !isMainThread();
        done.signal();
    });
    EXPECT_TRUE(done.waitFor(300000000));  // 30 000 s scaled: 30 s
    EXPECT_TRUE(onWorker);
}

TEST_F(DispatchTest, GlobalQueueDoesNotStarveWhenEveryTaskBlocks) {
    // 40 tasks block on a semaphore that only the 41st releases: the pool must grow past them.
    constexpr int kBlocked = 40;
    Semaphore gate(0);
    Semaphore finished(0);
    for (int i = 0; i < kBlocked; ++i) {
        globalQueue().async([&] {
            gate.wait();
            finished.signal();
        });
    }
    globalQueue().async([&] {
        for (int i = 0; i < kBlocked; ++i) gate.signal();
    });
    int count = 0;
    while (count < kBlocked && finished.waitFor(30000)) ++count;
    EXPECT_EQ(count, kBlocked);
}

TEST_F(DispatchTest, EveryQualityOfServiceRunsConcurrently) {
    for (QoS qos : {QoS::background, QoS::utility, QoS::defaultQoS, QoS::userInitiated, QoS::userInteractive}) {
        Semaphore first(0), second(0);
        // The first task waits for the second: both must be running at once.
        globalQueue(qos).async([&] {
            second.wait();
            first.signal();
        });
        globalQueue(qos).async([&] { second.signal(); });
        EXPECT_TRUE(first.waitFor(30000)) << static_cast<int>(qos);
    }
    bool inline_ = false;
    std::thread::id caller = std::this_thread::get_id();
    globalQueue().sync([&] { inline_ = std::this_thread::get_id() == caller; });
    EXPECT_TRUE(inline_);
}

TEST_F(DispatchTest, SerialQueueRunsOneTaskAtATimeInOrderOffTheCaller) {
    SerialQueue queue(QoS::userInitiated);
    std::mutex lock;
    std::vector<int> order;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false}, onCaller{false};
    const std::thread::id caller = std::this_thread::get_id();
    Semaphore firstStarted(0), release(0);
    queue.async([&] {
        firstStarted.signal();
        release.wait();  // the others queue up behind a blocked task, never beside it
    });
    ASSERT_TRUE(firstStarted.waitFor(30000));
    for (int i = 0; i < 20; ++i) {
        queue.async([&, i] {
            if (running.fetch_add(1) != 0) overlapped = true;
            if (std::this_thread::get_id() == caller) onCaller = true;
            std::this_thread::sleep_for(1ms);
            {
                std::lock_guard<std::mutex> guard(lock);
                order.push_back(i);
            }
            running.fetch_sub(1);
        });
    }
    release.signal();
    int last = -1;
    queue.sync([&] {
        std::lock_guard<std::mutex> guard(lock);
        last = order.empty() ? -1 : order.back();
    });
    EXPECT_EQ(last, 19);
    std::vector<int> expected(20);
    for (int i = 0; i < 20; ++i) expected[i] = i;
    EXPECT_EQ(order, expected);
    EXPECT_FALSE(overlapped.load());
    EXPECT_FALSE(onCaller.load());
}

TEST_F(DispatchTest, AThrowingTaskDoesNotKillItsWorkerOrTheLoop) {
    Semaphore done(0);
    globalQueue().async([] { throw std::runtime_error("worker"); });
    globalQueue().async([&] { done.signal(); });
    EXPECT_TRUE(done.waitFor(30000));
    int after = 0;
    mainQueue().async([] { throw 7; });
    mainQueue().async([&] { ++after; });
    RunLoop::main().runPending();
    EXPECT_EQ(after, 1);
}

TEST_F(DispatchTest, SemaphoreCountsAndTimesOut) {
    Semaphore s(2);
    EXPECT_TRUE(s.waitFor(0));
    EXPECT_TRUE(s.waitFor(0));
    EXPECT_FALSE(s.waitFor(0));
    setTimeScale(0.001);  // a minute becomes 60 ms
    EXPECT_FALSE(s.waitFor(60000));
    s.signal();
    EXPECT_TRUE(s.waitFor(60000));

    Semaphore crossing(0);
    std::thread t([&] { crossing.signal(); });
    crossing.wait();
    t.join();

    Semaphore negative(-5);  // clamped to empty
    EXPECT_FALSE(negative.waitFor(0));
}

TEST_F(DispatchTest, PauseAndScaledFollowTheScale) {
    setTimeScale(0.01);
    EXPECT_DOUBLE_EQ(timeScale(), 0.01);
    EXPECT_EQ(scaled(Millis(1000)), std::chrono::milliseconds(10));
    EXPECT_EQ(scaled(Millis(-5)), std::chrono::nanoseconds(0));
    setTimeScale(2.0);
    EXPECT_EQ(scaled(Millis(1000)), std::chrono::milliseconds(2000));
    setTimeScale(-3);  // invalid: back to real time
    EXPECT_DOUBLE_EQ(timeScale(), 1.0);

    // A minute of pauses at 1/100000 must end well within the test's patience.
    setTimeScale(0.00001);
    auto start = Clock::now();
    for (int i = 0; i < 10; ++i) pause(60000);
    EXPECT_LT(Clock::now() - start, kPatience);
}

TEST_F(DispatchTest, TimeScaleIsReadFromTheEnvironment) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // the child re-runs the binary and reads afresh
    struct Case {
        const char* text;
        double expected;
    };
    for (Case c : {Case{"0.25", 0.25}, Case{"3", 3.0}, Case{"0", 1.0}, Case{"-2", 1.0}, Case{"fast", 1.0},
                   Case{"0.5x", 1.0}}) {
        ::setenv("HVB_TIME_SCALE", c.text, 1);
        EXPECT_EXIT(std::exit(timeScale() == c.expected ? 0 : 1), ::testing::ExitedWithCode(0), "") << c.text;
    }
    ::unsetenv("HVB_TIME_SCALE");
}

TEST_F(DispatchTest, RunLoopRunStopAndRunUntil) {
    RunLoop loop;
    std::atomic<bool> ranOnLoopThread{false};
    std::thread owner([&] {
        loop.post([&] { ranOnLoopThread = loop.isCurrentThread(); });
        loop.run();  // until stop()
    });
    // The loop thread is blocked in run(); stop() from here must end it.
    while (!ranOnLoopThread) std::this_thread::sleep_for(1ms);
    EXPECT_FALSE(loop.isCurrentThread());
    loop.stop();
    owner.join();

    // A delayed task added from another thread wakes a loop that waits without a deadline.
    std::atomic<bool> delayedRan{false};
    std::atomic<bool> waiting{false};
    std::thread waiter([&] {
        loop.post([&] { waiting = true; });
        loop.run();
    });
    while (!waiting) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(5ms);  // let it settle into its wait
    loop.postAfter(5ms, [&] {
        delayedRan = true;
        loop.stop();
    });
    waiter.join();  // hangs (and the test times out) if the loop never wakes
    EXPECT_TRUE(delayedRan);

    // run(timeout) returns by itself.
    loop.run(20ms);

    // runUntil sees a predicate turned true by another thread without any post.
    std::atomic<bool> flag{false};
    std::thread setter([&] { flag = true; });
    EXPECT_TRUE(loop.runUntil([&] { return flag.load(); }, kPatience));
    setter.join();
    EXPECT_FALSE(loop.runUntil([] { return false; }, 10ms));

    // Nested runs: stop() ends the inner one only.
    int afterInner = 0;
    loop.post([&] {
        loop.post([&] { loop.stop(); });
        loop.run();
        ++afterInner;
        loop.stop();
    });
    loop.run(kPatience);
    EXPECT_EQ(afterInner, 1);
}

TEST_F(DispatchTest, RunLoopWakeHookAndThreadIdentity) {
    RunLoop loop;
    std::mutex m;
    std::vector<Clock::time_point> wakes;
    loop.setWakeHook([&](Clock::time_point due) {
        std::lock_guard<std::mutex> lock(m);
        wakes.push_back(due);
    });
    std::thread([&] { loop.post([] {}); }).join();
    loop.postAfter(1h, [] {});
    loop.postAfter(2h, [] {});  // not sooner: no wake
    {
        std::lock_guard<std::mutex> lock(m);
        ASSERT_EQ(wakes.size(), 2u);
        EXPECT_GT(wakes[1], wakes[0]);
        EXPECT_EQ(loop.nextDue(), wakes[1]);
    }
    loop.setWakeHook(nullptr);
    loop.post([] {});
    EXPECT_EQ(wakes.size(), 2u);

    std::thread adopter([&] {
        loop.adoptCurrentThread();
        EXPECT_TRUE(loop.isCurrentThread());
    });
    adopter.join();
    EXPECT_FALSE(loop.isCurrentThread());
    EXPECT_EQ(loop.runPending(), 2u);  // the two posts; the delayed ones are not due
    EXPECT_TRUE(loop.isCurrentThread());
}

TEST_F(DispatchTest, MainThreadIsTheFirstToRunTheMainLoop) {
    EXPECT_TRUE(isMainThread());
    RunLoop::main().runPending();
    std::atomic<bool> otherIsMain{true};
    std::thread([&] { otherIsMain = isMainThread(); }).join();
    EXPECT_FALSE(otherIsMain);
    EXPECT_TRUE(mainQueue().isMain());
    EXPECT_FALSE(globalQueue().isMain());
}

TEST_F(DispatchTest, TimerRepeatsAndCanBeCancelledFromItsHandler) {
    setTimeScale(0.01);  // 1 s ticks become 10 ms
    std::atomic<int> ticks{0};
    Semaphore third(0);
    std::shared_ptr<Timer> timer;
    std::mutex timerMutex;
    std::unique_lock<std::mutex> hold(timerMutex);
    timer = Timer::make(globalQueue(), 1000, [&] {
        if (++ticks == 3) {
            std::lock_guard<std::mutex> lock(timerMutex);
            timer->cancel();
            third.signal();
        }
    });
    hold.unlock();
    timer->resume();
    timer->resume();  // a second resume changes nothing
    ASSERT_TRUE(third.waitFor(3000000));
    EXPECT_TRUE(timer->isCancelled());
    pause(10000);  // ten more intervals
    EXPECT_EQ(ticks.load(), 3);
}

TEST_F(DispatchTest, TimerStopsWhenCancelledOrReleased) {
    setTimeScale(0.01);
    std::atomic<int> never{0};
    auto cancelledFirst = Timer::make(globalQueue(), 100, [&] { ++never; }, 0);
    cancelledFirst->cancel();
    cancelledFirst->resume();

    std::atomic<int> ticks{0};
    auto released = Timer::make(globalQueue(), 100, [&] { ++ticks; }, 0);
    released->resume();
    while (ticks.load() < 2) pause(10);
    released.reset();  // the last handle: cancels
    pause(50000);      // a handler that was running has finished by now, however loaded the machine
    int settled = ticks.load();
    pause(3000);
    EXPECT_EQ(ticks.load(), settled);
    EXPECT_EQ(never.load(), 0);
}

TEST_F(DispatchTest, MainQueueTimerSkipsTicksDuringAModalSession) {
    setTimeScale(0.01);
    int ticks = 0;
    bool onMain = true;
    auto timer = Timer::make(mainQueue(), 1000, [&] {
        ++ticks;
        onMain = onMain && isMainThread();
    });
    setModalSessionActive(true);
    timer->resume();
    RunLoop::main().run(std::chrono::duration_cast<Clock::duration>(scaled(Millis(10000))));  // ten intervals
    EXPECT_EQ(ticks, 0);
    setModalSessionActive(false);
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return ticks >= 3; }, kPatience));
    EXPECT_TRUE(onMain);

    // Timers on other queues keep ticking in a modal session.
    setModalSessionActive(true);
    std::atomic<int> workerTicks{0};
    auto worker = Timer::make(globalQueue(), 1000, [&] { ++workerTicks; });
    worker->resume();
    while (workerTicks.load() < 2) pause(100);
    worker->cancel();
    timer->cancel();
}

}  // namespace
