// The user-client transport against simulated cameras through the whole kernel path.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <future>
#include <thread>

#include "TransportFixture.h"

using hvb::CommandOutcome;
using hvb::sim::BlockKind;

namespace {
const uint8_t kPayload[4] = {1, 0, 0, 0};
}

TEST_F(TransportFixture, ACameraDoneAtOnceEndsTheWaitAfterOnePollWithoutPausing) {
    // Every pause would now last hours: the write can only return if none is taken.
    dispatch::setTimeScale(100000.0);
    auto result = std::async(std::launch::async, [&] { return hvb::userClientWrite(service, 0x36, kPayload, 4); });
    if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        ADD_FAILURE() << "the wait paused";
        std::quick_exit(1);
    }
    EXPECT_TRUE(result.get());
    auto log = camera->log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].kind, BlockKind::write);
    EXPECT_EQ(log[1].kind, BlockKind::status);
}

TEST_F(TransportFixture, PollingGoesOnUntilTheCameraReportsCompletion) {
    camera->setPollsBeforeCompletion(3);
    EXPECT_TRUE(hvb::userClientWrite(service, 0x36, kPayload, 4));
    EXPECT_EQ(count(BlockKind::status), 4u);

    // A reply whose word 0 is not 16 is not a completion, whatever word 2 says.
    camera->clearLog();
    camera->setPollsBeforeCompletion(0);
    camera->setStatusWord0(8, 3);
    EXPECT_EQ(hvb::userClientWriteOutcome(service, 0x36, kPayload, 4), CommandOutcome::completed);
    EXPECT_EQ(count(BlockKind::status), 4u);
    EXPECT_TRUE(hvb::deviceAvailable.load());
}

TEST_F(TransportFixture, AReadReturnsExactlyItsLengthOfThePhaseTwoReply) {
    camera->setReplyText(0x28, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd");
    uint8_t out[24];
    std::memset(out, 0x77, sizeof out);
    EXPECT_TRUE(hvb::userClientRead(service, 0x28, out, 20));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 20), "ABCDEFGHIJKLMNOPQRST");
    EXPECT_EQ(out[20], 0x77);  // never past the length
    auto log = camera->log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0].kind, BlockKind::readPhase1);
    EXPECT_EQ(log[1].kind, BlockKind::readPhase2);
    EXPECT_EQ(log[1].length(), 20u);
    EXPECT_EQ(log[2].kind, BlockKind::status);
}

TEST_F(TransportFixture, ACameraThatGoesAwayDuringTheWaitCountsAsDone) {
    camera->setPollsBeforeCompletion(10);
    camera->vanishAtPoll(3);
    EXPECT_EQ(hvb::userClientWriteOutcome(service, 0x36, kPayload, 4), CommandOutcome::deviceGone);
    EXPECT_TRUE(printedLine("Device is not available"));
    EXPECT_FALSE(hvb::deviceAvailable.load());
    EXPECT_EQ(count(BlockKind::status), 3u);
    EXPECT_EQ(hvb::findDriverService(0), 0u);  // it left the registry too
}

TEST_F(TransportFixture, AnUnplugFromOutsideEndsTheWaitAsDone) {
    camera->setNeverFinish(true);
    auto unplugger = std::thread([&] {
        while (camera->statusPolls() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        bus.unplug(camera);
    });
    bool result = hvb::userClientWrite(service, 0x36, kPayload, 4);
    unplugger.join();
    EXPECT_TRUE(result);
    EXPECT_TRUE(printedLine("Device is not available"));
}

TEST_F(TransportFixture, ARebootingCommandEndsWithTheCameraGone) {
    camera->vanishAfterCommand(0x0B);
    EXPECT_EQ(hvb::userClientWriteOutcome(service, 0x0B, kPayload, 4), CommandOutcome::deviceGone);
    EXPECT_TRUE(hvb::userClientWrite(service, 0x36, kPayload, 4) == false);  // nothing left to open
    EXPECT_TRUE(printedLine("IOServiceOpen returned 0xe00002c0"));
}

TEST_F(TransportFixture, ACameraThatNeverFinishesFailsAfter601Polls) {
    dispatch::setTimeScale(0.001);
    camera->setNeverFinish(true);
    EXPECT_FALSE(hvb::userClientWrite(service, 0x36, kPayload, 4));
    EXPECT_EQ(count(BlockKind::status), 601u);
    EXPECT_TRUE(printedLine("Command is still running 1 min!"));
    // Every connection was closed: the next command opens at once.
    camera->setNeverFinish(false);
    camera->clearLog();
    EXPECT_TRUE(hvb::userClientWrite(service, 0x36, kPayload, 4));
    EXPECT_EQ(count(BlockKind::status), 1u);
}

TEST_F(TransportFixture, FindDriverServiceCountsCamerasInOrder) {
    auto second = plug("SN-B");
    io_service_t a = hvb::findDriverService(0);
    io_service_t b = hvb::findDriverService(1);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    uint64_t idA = 0, idB = 0;
    IORegistryEntryGetRegistryEntryID(a, &idA);
    IORegistryEntryGetRegistryEntryID(b, &idB);
    EXPECT_LT(idA, idB);
    EXPECT_EQ(hvb::findDriverService(2), 0u);
    EXPECT_EQ(hvb::findDriverService(-1), 0u);
    IOObjectRelease(a);
    IOObjectRelease(b);
    bus.unplugAll();
    EXPECT_EQ(hvb::findDriverService(0), 0u);
}

TEST_F(TransportFixture, CommandsThatCannotReachTheCameraFailAtOnce) {
    // Another connection holds the driver open: the open selector is refused.
    io_connect_t holder = 0;
    ASSERT_EQ(IOServiceOpen(service, mach_task_self(), 0, &holder), kIOReturnSuccess);
    ASSERT_EQ(IOConnectCallMethod(holder, hvb::kM37OpenUserClientMethod, nullptr, 0, nullptr, 0, nullptr, nullptr,
                                  nullptr, nullptr),
              kIOReturnSuccess);
    EXPECT_FALSE(hvb::userClientWrite(service, 0x36, kPayload, 4));
    EXPECT_TRUE(printedLine("UserClientOpenResult returned 0xe00002c5"));
    uint8_t out[20];
    std::memset(out, 0x55, sizeof out);
    EXPECT_FALSE(hvb::userClientRead(service, 0x28, out, 20));
    EXPECT_TRUE(std::all_of(out, out + 20, [](uint8_t b) { return b == 0; }));
    EXPECT_FALSE(hvb::userClientWaitReady(service));
    EXPECT_TRUE(camera->log().empty());
    IOServiceClose(holder);

    // Too long for the structures: refused before any call.
    uint8_t big[300] = {};
    EXPECT_FALSE(hvb::userClientWrite(service, 0x36, big, 257));
    EXPECT_FALSE(hvb::userClientRead(service, 0x28, big, 257));
    EXPECT_FALSE(hvb::userClientWrite(service, 0x36, nullptr, 4));
    EXPECT_TRUE(camera->log().empty());

    // A status poll on a connection that never opened the driver.
    io_connect_t idle = 0;
    ASSERT_EQ(IOServiceOpen(service, mach_task_self(), 0, &idle), kIOReturnSuccess);
    EXPECT_EQ(hvb::userClientServiceStatus(idle), 0u);
    EXPECT_FALSE(hvb::deviceAvailable.load());
    EXPECT_TRUE(printedLine("kM37ServiceStatusMethod returned 0xe00002cd"));
    IOServiceClose(idle);
    EXPECT_FALSE(hvb::userClientWrite(0x7FFF0000u, 0x36, kPayload, 4));
    EXPECT_TRUE(printedLine("IOServiceOpen returned 0xe00002c2"));
}

TEST_F(TransportFixture, ACameraThatRefusesACommandFailsItAndAReadAlike) {
    // The refusal must not be taken for the completion of the command before it.
    EXPECT_EQ(hvb::userClientWriteOutcome(service, 0x36, kPayload, 4), CommandOutcome::completed);
    camera->clearLog();
    camera->refuseCode(0x36);
    EXPECT_EQ(hvb::userClientWriteOutcome(service, 0x36, kPayload, 4), CommandOutcome::refused);
    EXPECT_FALSE(hvb::userClientWrite(service, 0x36, kPayload, 4));
    EXPECT_EQ(count(BlockKind::status), 0u);
    EXPECT_TRUE(printedLine("kM37WriteMethod returned 0xe00002e2"));

    camera->clearLog();
    camera->setReplyText(0x44, "xyz");
    camera->refuseCode(0x44, 2);
    uint8_t out[20];
    std::memset(out, 0x55, sizeof out);
    EXPECT_EQ(hvb::userClientReadOutcome(service, 0x44, out, 20), CommandOutcome::failed);
    EXPECT_TRUE(std::all_of(out, out + 20, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(count(BlockKind::status), 0u);

    // An empty payload is a valid write without a data phase.
    camera->clearLog();
    EXPECT_TRUE(hvb::userClientWrite(service, 0x5B, nullptr, 0));
    ASSERT_FALSE(camera->log().empty());
    EXPECT_EQ(camera->log()[0].kind, BlockKind::write);
    EXPECT_EQ(camera->log()[0].length(), 0u);

    // So is an empty read: nothing to copy, so no buffer is needed either.
    camera->clearLog();
    EXPECT_TRUE(hvb::userClientRead(service, 0x28, nullptr, 0));
    auto log = camera->log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0].kind, BlockKind::readPhase1);
    EXPECT_EQ(log[1].kind, BlockKind::readPhase2);
    EXPECT_EQ(log[1].length(), 0u);
    EXPECT_EQ(log[2].kind, BlockKind::status);
}

TEST_F(TransportFixture, TwoThreadsOnOneCameraNeverInterleave) {
    camera->setPollsBeforeCompletion(2);
    camera->setReplyText(0x28, "HVBR7");
    auto worker = [&](uint8_t code, bool reads) {
        for (int i = 0; i < 8; ++i) {
            uint8_t out[20];
            bool ok = reads ? hvb::userClientRead(service, 0x28, out, 20)
                            : hvb::userClientWrite(service, code, kPayload, 4);
            EXPECT_TRUE(ok);
        }
    };
    std::thread a(worker, 0x36, false);
    std::thread b(worker, 0x37, true);
    std::thread c(worker, 0x39, false);
    a.join();
    b.join();
    c.join();

    // Each command is followed by its own polls up to its completion before the next starts.
    auto log = camera->log();
    size_t commands = 0;
    for (size_t i = 0; i < log.size();) {
        ASSERT_TRUE(log[i].kind == BlockKind::write || log[i].kind == BlockKind::readPhase1) << camera->formatLog();
        if (log[i].kind == BlockKind::readPhase1) {
            ASSERT_LT(i + 1, log.size());
            ASSERT_EQ(log[i + 1].kind, BlockKind::readPhase2);
            ++i;
        }
        ++i;
        ++commands;
        for (int poll = 0; poll < 3; ++poll, ++i) {
            ASSERT_LT(i, log.size());
            ASSERT_EQ(log[i].kind, BlockKind::status) << camera->formatLog();
            EXPECT_EQ(log[i].data[8], poll == 2 ? 1 : 0);
        }
    }
    EXPECT_EQ(commands, 24u);
}

TEST_F(TransportFixture, AHangingCameraDoesNotHoldUpAnother) {
    auto slow = plug("SN-SLOW");
    io_service_t slowService = hvb::findDriverService(1);
    ASSERT_NE(slowService, 0u);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> inside{false};
    slow->setReadHandler(0x28, [&](hvb::sim::SimulatedCamera&, uint8_t) -> std::optional<std::vector<uint8_t>> {
        inside = true;
        released.wait();  // a command that takes its time inside the camera
        return std::vector<uint8_t>{'o', 'k'};
    });
    std::thread reader([&] {
        uint8_t out[20];
        EXPECT_TRUE(hvb::userClientRead(slowService, 0x28, out, 20));
        EXPECT_EQ(out[0], 'o');
    });
    while (!inside) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(hvb::userClientWrite(service, 0x36, kPayload, 4));  // while the other camera is busy
    release.set_value();
    reader.join();
    IOObjectRelease(slowService);
}

TEST_F(TransportFixture, CamerasComingAndGoingDuringCommandsAreHandled) {
    auto other = plug("SN-B");
    io_service_t otherService = hvb::findDriverService(1);
    ASSERT_NE(otherService, 0u);
    std::atomic<bool> otherFailed{false};
    std::thread onOther([&] {
        // Until the camera is gone under it (the unplugger waits for its polls).
        for (int i = 0; i < 100000 && !otherFailed; ++i) {
            if (!hvb::userClientWrite(otherService, 0x36, kPayload, 4)) otherFailed = true;
        }
    });
    std::thread unplugger([&] {
        while (other->statusPolls() < 5) std::this_thread::sleep_for(std::chrono::microseconds(200));
        bus.unplug(other);
    });
    for (int i = 0; i < 30; ++i) EXPECT_TRUE(hvb::userClientWrite(service, 0x37, kPayload, 4));
    onOther.join();
    unplugger.join();
    EXPECT_TRUE(otherFailed.load());  // its later commands found no camera
    EXPECT_EQ(hvb::findDriverService(1), 0u);
    IOObjectRelease(otherService);
}

TEST_F(TransportFixture, AnOverlongReadLeavesTheCallersBufferAlone) {
    // The caller's buffer may be no longer than what it asked for: nothing is written to it
    // before the length is refused.
    uint8_t out[300];
    std::memset(out, 0x5A, sizeof out);
    EXPECT_EQ(hvb::userClientReadOutcome(service, 0x28, out, 257), CommandOutcome::failed);
    EXPECT_TRUE(std::all_of(out, out + sizeof out, [](uint8_t b) { return b == 0x5A; }));
    EXPECT_TRUE(camera->log().empty());
}

TEST_F(TransportFixture, AShortDataReadKeepsAWholeStatusReply) {
    camera->setReplyText(0x28, "ABCDEFGHIJ");
    camera->setShortTransfer(4);
    uint8_t out[10];
    std::memset(out, 0x77, sizeof out);
    EXPECT_EQ(hvb::userClientReadOutcome(service, 0x28, out, 10), CommandOutcome::completed);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 10), std::string("ABCD\0\0\0\0\0\0", 10));
    EXPECT_EQ(count(BlockKind::status), 1u);  // the first poll reads the completion
    for (const auto& record : camera->log()) {
        if (record.kind == BlockKind::status) {
            EXPECT_EQ(record.realized, 16u);
        }
    }

    // A short status is its own knob: its completion word is lost, so the wait runs out.
    dispatch::setTimeScale(0.001);
    camera->setShortTransfer(std::nullopt);
    camera->setShortStatus(4);
    camera->clearLog();
    EXPECT_EQ(hvb::userClientWriteOutcome(service, 0x36, kPayload, 4), CommandOutcome::failed);
    EXPECT_EQ(count(BlockKind::status), 601u);
}

class MainThreadCommands : public TransportFixture {
protected:
    void SetUp() override {
        TransportFixture::SetUp();
        dispatch::RunLoop::main().adoptCurrentThread();
        dispatch::setMainEventLoopRunning(true);
    }
    void TearDown() override {
        dispatch::setMainEventLoopRunning(false);
        hvb::setMainThreadCommandCheck(hvb::kDefaultMainThreadCommandCheck);
        TransportFixture::TearDown();
    }
};

TEST_F(MainThreadCommands, ACommandOnTheRunningMainThreadAbortsNamingIt) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    hvb::setMainThreadCommandCheck(hvb::MainThreadCommandCheck::abort);
    EXPECT_DEATH(hvb::userClientWrite(service, 0x36, kPayload, 4),
                 "camera command write 0x36 issued on the main thread while the event loop runs");
    uint8_t out[8];
    EXPECT_DEATH(hvb::userClientRead(service, 0x28, out, 8), "camera command read 0x28 issued on the main thread");
    EXPECT_DEATH(hvb::userClientWaitReady(service), "camera command status wait issued on the main thread");
}

TEST_F(MainThreadCommands, WorkersAndALoopNotYetRunningPass) {
    hvb::setMainThreadCommandCheck(hvb::MainThreadCommandCheck::abort);
    auto worker = std::async(std::launch::async, [&] { return hvb::userClientWrite(service, 0x36, kPayload, 4); });
    EXPECT_TRUE(worker.get());
    dispatch::setMainEventLoopRunning(false);
    EXPECT_TRUE(hvb::userClientWrite(service, 0x36, kPayload, 4));
}

TEST_F(MainThreadCommands, InReleaseBuildsTheFirstOneIsLoggedOnceAndRuns) {
    std::vector<std::string> logged;
    std::mutex lock;
    int token = foundation::addLogSink([&](foundation::LogChannel channel, const std::string& line) {
        std::lock_guard<std::mutex> guard(lock);
        if (channel == foundation::LogChannel::systemLog && line.find("main thread") != std::string::npos)
            logged.push_back(line);
    });
    hvb::setMainThreadCommandCheck(hvb::MainThreadCommandCheck::logOnce);
    EXPECT_TRUE(hvb::userClientWrite(service, 0x36, kPayload, 4));
    EXPECT_TRUE(hvb::userClientWrite(service, 0x37, kPayload, 4));
    foundation::removeLogSink(token);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find("camera command write 0x36"), std::string::npos);
}
