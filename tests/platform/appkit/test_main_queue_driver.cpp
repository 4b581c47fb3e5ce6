// The main queue served by the Qt loop.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <QApplication>
#include <QTest>
#include <QThread>

#include "platform/dispatch/Dispatch.h"

namespace {

// Counts the calls queued on the driver (meta-call events delivered to the application's
// children other than the ones a test makes).
class MetaCallCounter : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MetaCall && watched->parent() == qApp) ++count;
        return false;
    }
    int count = 0;
};

}  // namespace

TEST(MainQueueDriverTest, TasksFromWorkersRunOnTheGuiThreadInTheirOrder) {
    constexpr int kWorkers = 4;
    constexpr int kTasks = 2000;
    auto mutex = std::make_shared<std::mutex>();
    auto seen = std::make_shared<std::vector<std::vector<int>>>(kWorkers);
    auto offGui = std::make_shared<std::atomic<int>>(0);
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([=] {
            for (int i = 0; i < kTasks; ++i) {
                dispatch::mainQueue().async([=] {
                    if (QThread::currentThread() != qApp->thread() || !dispatch::isMainThread()) ++*offGui;
                    std::lock_guard<std::mutex> lock(*mutex);
                    (*seen)[w].push_back(i);
                });
            }
        });
    }
    for (auto& worker : workers) worker.join();
    auto total = [&] {
        std::lock_guard<std::mutex> lock(*mutex);
        size_t n = 0;
        for (auto& v : *seen) n += v.size();
        return n;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return total() == size_t(kWorkers) * kTasks; }));
    EXPECT_EQ(offGui->load(), 0);
    for (auto& v : *seen) {
        for (int i = 0; i < kTasks; ++i) ASSERT_EQ(v[i], i);
    }
}

TEST(MainQueueDriverTest, AStormOfPostsIsOneCallOnTheQtLoop) {
    QApplication::processEvents();
    MetaCallCounter counter;
    qApp->installEventFilter(&counter);
    auto ran = std::make_shared<std::atomic<int>>(0);
    std::thread worker([ran] {
        for (int i = 0; i < 5000; ++i) dispatch::mainQueue().async([ran] { ++*ran; });
    });
    worker.join();
    QApplication::processEvents();
    qApp->removeEventFilter(&counter);
    EXPECT_EQ(ran->load(), 5000);
    EXPECT_LE(counter.count, 2);
}

TEST(MainQueueDriverTest, DelayedTasksAndSyncCallsAreServedByTheQtLoop) {
    auto delayedOnGui = std::make_shared<std::atomic<bool>>(false);
    auto fromWorker = std::make_shared<std::atomic<bool>>(false);
    dispatch::mainQueue().asyncAfter(15, [delayedOnGui] { *delayedOnGui = QThread::currentThread() == qApp->thread(); });
    std::atomic<bool> syncRanOnGui{false};
    std::thread worker([&, fromWorker] {
        dispatch::mainQueue().asyncAfter(10, [fromWorker] { *fromWorker = true; });
        dispatch::mainQueue().sync([&] { syncRanOnGui = QThread::currentThread() == qApp->thread(); });
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return delayedOnGui->load() && fromWorker->load(); }));
    worker.join();
    EXPECT_TRUE(syncRanOnGui);
}
