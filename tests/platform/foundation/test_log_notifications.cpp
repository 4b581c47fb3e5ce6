#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"

using namespace foundation;

namespace {

TEST(Log, LinesReachSinksAndStreams) {
    std::vector<std::pair<LogChannel, std::string>> seen;
    int token = addLogSink([&](LogChannel channel, const std::string& line) { seen.emplace_back(channel, line); });

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    print("MainWindow START");
    print("already ended\n");
    foundation::printf("%s = %d", "count", 3);
    systemLog("driver loaded");
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();

    EXPECT_EQ(out, "MainWindow START\nalready ended\ncount = 3\n");
    EXPECT_EQ(err, "[system] driver loaded\n");
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[1].second, "already ended");
    EXPECT_EQ(seen[2].second, "count = 3");
    EXPECT_EQ(seen[3], std::make_pair(LogChannel::systemLog, std::string("driver loaded")));

    // Echo off: the streams stay quiet, sinks still hear.
    setLogEchoEnabled(false);
    testing::internal::CaptureStdout();
    print("quiet");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    setLogEchoEnabled(true);
    EXPECT_EQ(seen.back().second, "quiet");

    removeLogSink(token);
    setLogEchoEnabled(false);
    print("after removal");
    setLogEchoEnabled(true);
    EXPECT_EQ(seen.back().second, "quiet");
    removeLogSink(token);  // twice: harmless
}

TEST(Log, ConcurrentLinesNeverInterleave) {
    setLogEchoEnabled(false);
    std::mutex m;
    std::vector<std::string> lines;
    int token = addLogSink([&](LogChannel, const std::string& line) {
        std::lock_guard<std::mutex> lock(m);
        lines.push_back(line);
    });
    testing::internal::CaptureStdout();
    setLogEchoEnabled(true);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) print(std::string(50, static_cast<char>('a' + t)));
        });
    }
    for (auto& th : threads) th.join();
    std::string out = testing::internal::GetCapturedStdout();
    removeLogSink(token);
    EXPECT_EQ(lines.size(), 800u);
    size_t count = 0;
    for (size_t pos = 0; pos < out.size(); pos += 51, ++count) {
        std::string line = out.substr(pos, 51);
        ASSERT_EQ(line, std::string(50, line[0]) + "\n");
    }
    EXPECT_EQ(count, 800u);
}

// What a sink writes to may go as soon as it is removed: a line another thread is handing it
// then must be done first. A sink may still remove itself.
TEST(Log, RemovalWaitsForALineInTheSinkOnAnotherThread) {
    setLogEchoEnabled(false);
    std::atomic<bool> entered{false}, removed{false}, removedWhileInside{false};
    int token = addLogSink([&](LogChannel, const std::string& line) {
        if (line != "slow") return;
        entered = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        removedWhileInside = removed.load();
    });
    std::thread writer([] { print("slow"); });
    while (!entered) std::this_thread::yield();
    removeLogSink(token);
    removed = true;
    writer.join();
    EXPECT_FALSE(removedWhileInside);

    int self = 0;
    self = addLogSink([&](LogChannel, const std::string&) { removeLogSink(self); });
    print("removes itself");
    print("after");
    setLogEchoEnabled(true);
}

TEST(NotificationCenter, DeliversByNameAndSender) {
    NotificationCenter center;
    int sender = 0, other = 0;
    std::vector<std::string> got;
    center.addObserver("statusDidGet", [&](const Notification& n) {
        got.push_back("any:" + std::any_cast<std::string>(n.userInfo));
    });
    center.addObserver("statusDidGet", [&](const Notification& n) { got.push_back("sender-only"); }, &sender);
    center.addObserver("other", [&](const Notification&) { got.push_back("other"); });

    center.post("statusDidGet", &other, std::string("a"));
    center.post("statusDidGet", &sender, std::string("b"));
    center.post("nobody listens");
    EXPECT_EQ(got, (std::vector<std::string>{"any:a", "any:b", "sender-only"}));
    EXPECT_EQ(center.observerCount("statusDidGet"), 2u);
    EXPECT_EQ(center.observerCount("missing"), 0u);
}

TEST(NotificationCenter, RemovalDuringDeliveryIsSafe) {
    NotificationCenter center;
    std::vector<std::string> calls;
    NotificationCenter::Token self = 0, victim = 0;
    center.addObserver("n", [&](const Notification&) { calls.push_back("first"); });
    self = center.addObserver("n", [&](const Notification&) {
        calls.push_back("self");
        center.removeObserver(self);    // removes itself while running
        center.removeObserver(victim);  // and one that has not been called yet
    });
    victim = center.addObserver("n", [&](const Notification&) { calls.push_back("victim"); });
    center.addObserver("n", [&](const Notification&) { calls.push_back("last"); });

    center.post("n");
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "self", "last"}));
    calls.clear();
    center.post("n");
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "last"}));
    EXPECT_EQ(center.observerCount("n"), 2u);
    center.removeObserver(self);  // already gone: nothing happens
    center.removeObserver(12345);
}

TEST(NotificationCenter, ObserversMayPostAndAddDuringDelivery) {
    NotificationCenter center;
    int inner = 0, added = 0;
    center.addObserver("inner", [&](const Notification&) { ++inner; });
    center.addObserver("outer", [&](const Notification&) {
        center.post("inner");
        center.addObserver("outer", [&](const Notification&) { ++added; });
    });
    center.post("outer");
    EXPECT_EQ(inner, 1);
    EXPECT_EQ(added, 0);  // added during this post: hears the next one
    center.post("outer");
    EXPECT_EQ(inner, 2);
    EXPECT_EQ(added, 1);

    // An observer that releases what its own closure holds, by removing itself, stays valid
    // until it returns.
    auto payload = std::make_shared<std::string>("kept alive");
    NotificationCenter::Token token = 0;
    std::string seen;
    token = center.addObserver("once", [&, payload](const Notification&) {
        center.removeObserver(token);
        seen = *payload;
    });
    payload.reset();
    center.post("once");
    EXPECT_EQ(seen, "kept alive");
}

TEST(NotificationCenter, ConcurrentPostsAndRemovals) {
    NotificationCenter center;
    std::atomic<int> calls{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> posters;
    for (int t = 0; t < 3; ++t) {
        posters.emplace_back([&] {
            while (!stop) center.post("tick");
        });
    }
    for (int i = 0; i < 500; ++i) {
        auto token = center.addObserver("tick", [&](const Notification&) { ++calls; });
        center.removeObserver(token);
    }
    auto kept = center.addObserver("tick", [&](const Notification&) { ++calls; });
    while (calls.load() < 10) std::this_thread::yield();
    stop = true;
    for (auto& th : posters) th.join();
    center.removeObserver(kept);
    EXPECT_EQ(center.observerCount("tick"), 0u);
}

}  // namespace
