// Termination: the test handler, from any thread, and the queued quit of the application.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <QApplication>
#include <QTimer>

#include "platform/appkit/Application.h"

TEST(TerminateTest, TheHandlerIsCalledFromAnyThread) {
    std::atomic<int> calls{0};
    auto previous = appkit::setTerminateHandler([&] { ++calls; });
    appkit::terminate();
    std::thread worker([] { appkit::terminate(); });
    worker.join();
    EXPECT_EQ(calls.load(), 2);
    auto ours = appkit::setTerminateHandler(previous);
    ASSERT_TRUE(ours);
    ours();
    EXPECT_EQ(calls.load(), 3);
}

TEST(TerminateTest, WithoutAHandlerTheRunningApplicationQuits) {
    auto previous = appkit::setTerminateHandler(nullptr);
    // Asked from a worker once the application's loop runs.
    QTimer::singleShot(0, [] {
        std::thread worker([] { appkit::terminate(); });
        worker.join();
    });
    // Only a net under the test: a quit that never comes would otherwise hang it.
    QTimer net;
    net.setSingleShot(true);
    QObject::connect(&net, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    net.start(30000);
    const int code = QApplication::exec();
    net.stop();
    EXPECT_EQ(code, 0);
    appkit::setTerminateHandler(previous);
}
