// The driver host as a process on a temporary root with simulated cameras: the camera link's
// calls over its socket, hot-plug through its control message reaching the application's
// watcher, a host killed mid-call, a client killed while it holds a camera, peers that are not
// admitted, and a stream of garbage that leaves everyone else served.
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <poll.h>

#include <atomic>
#include <functional>
#include <future>
#include <new>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "camera/CommandTables.h"
#include "camera/DeviceState.h"
#include "camera/USBWatcher.h"
#include "camera/USBWatcherHandler.h"
#include "camera/UserClientTransport.h"
#include "platform/dispatch/Dispatch.h"
#include "HostProcess.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/TempDir.h"
#include "platform/iokit/link/EmbeddedLink.h"
#include "platform/iokit/link/SocketLink.h"
#include "platform/iokit/link/SocketWire.h"
#include "standins/camera/CameraProfile.h"
#include "standins/camera/SimulatedCamera.h"

namespace fs = std::filesystem;
using hosttest::HostProcess;
using sockettest::eventually;

namespace {

struct Recorder : hvb::USBWatcherDelegate {
    std::vector<std::string> added, removed, matched;
    void usbDeviceAdded(io_object_t device) override { added.push_back(serialOf(device)); }
    void usbDeviceRemoved(io_object_t device) override { removed.push_back(serialOf(device)); }
    void driverServiceMatched(io_service_t service) override {
        matched.push_back(hvb::USBWatcher::readSerialNumber(service).value_or("?"));
    }
    static std::string serialOf(io_object_t device) {
        auto description = hvb::USBWatcher::makeUSBDevice(device);
        return description && description->serialNr ? *description->serialNr : "?";
    }
    static bool has(const std::vector<std::string>& list, const std::string& serial) {
        return std::find(list.begin(), list.end(), serial) != list.end();
    }
};

uint8_t codeOf(const std::string& model, const std::string& firmware, const std::string& command) {
    auto* profile = hvb::sim::findCameraProfile(model, firmware);
    EXPECT_TRUE(profile);
    auto code = profile ? profile->codeOf(command) : std::nullopt;
    EXPECT_TRUE(code) << command;
    return code.value_or(0);
}

std::vector<uint8_t> request(iokit::wire::Writer w) { return w.finish(); }

class DriverHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        foundation::setLogEchoEnabled(false);
        dispatch::setTimeScale(0.1);
        root = dir.path();
        link = std::make_shared<iokit::SocketLink>(hosttest::socketOf(root));
        link->setReconnectInterval(20);
        iokit::setCurrentLink(link);
    }
    void TearDown() override {
        iokit::setCurrentLink(std::make_shared<iokit::EmbeddedLink>());
        link.reset();
        host.kill(SIGTERM);
        dispatch::setTimeScale(1);
    }

    foundation::ProcessResult hostCommand(std::vector<std::string> arguments) {
        std::vector<std::string> argv{hosttest::hostExecutable().string(), "--root", root.string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        foundation::ProcessOptions options;
        options.timeoutMs = 60000;
        return foundation::runProcess(argv, options);
    }

    TempDir dir;
    fs::path root;
    HostProcess host;
    std::shared_ptr<iokit::SocketLink> link;
};

}  // namespace

TEST_F(DriverHostTest, CameraCommandsTravelOverTheSocketToTheSimulatedCamera) {
    ASSERT_TRUE(host.start(root, {"--camera", "model=HVBR7,firmware=1.6.01,serial=E2EA1", "--debug"}));
    io_service_t service = hvb::findDriverService(0);
    ASSERT_NE(service, 0u);
    EXPECT_EQ(hvb::USBWatcher::readSerialNumber(service).value_or(""), "E2EA1");
    EXPECT_EQ(hvb::findDriverService(1), 0u);

    uint8_t reply[20] = {};
    ASSERT_TRUE(hvb::userClientRead(service, codeOf("HVBR7", "1.6.01", "HVB_MODEL"), reply, sizeof reply));
    EXPECT_NE(std::string(reinterpret_cast<char*>(reply), sizeof reply).find("HVBR7"), std::string::npos);

    // A setting written is what the camera answers afterwards.
    uint8_t led = codeOf("HVBR7", "1.6.01", "HVB_LED");
    uint8_t value[4] = {1, 0, 0, 0};
    ASSERT_TRUE(hvb::userClientWrite(service, led, value, sizeof value));
    uint8_t readBack[20] = {0xFF};
    ASSERT_TRUE(hvb::userClientRead(service, led, readBack, sizeof readBack));
    EXPECT_EQ(readBack[0], 1);
    value[0] = 0;
    ASSERT_TRUE(hvb::userClientWrite(service, led, value, sizeof value));
    ASSERT_TRUE(hvb::userClientRead(service, led, readBack, sizeof readBack));
    EXPECT_EQ(readBack[0], 0);
    IOObjectRelease(service);

    host.kill(SIGTERM);
    EXPECT_TRUE(WIFEXITED(host.exitStatus()) && WEXITSTATUS(host.exitStatus()) == 0) << host.exitStatus();
    std::string log = TempDir::read(root / "var/log/halvetor/com_brevantis_driver_HVBSCSIDriver.log");
    EXPECT_NE(log.find("M37SyncIO"), std::string::npos);
    EXPECT_NE(log.find("serving on"), std::string::npos);
    EXPECT_FALSE(fs::exists(root / "run/halvetor/com_brevantis_driver_HVBSCSIDriver.pid"));
}

// After an upgrade the host lists the firmware the camera runs, not the one it was plugged with.
TEST_F(DriverHostTest, TheListFollowsTheFirmwareAnUpgradeBrought) {
    const fs::path volume = root / "volumes/R7";
    fs::create_directories(volume);
    ASSERT_TRUE(host.start(root, {"--camera", "model=HVBR7,firmware=1.6.01,serial=UPG1,volume=" + volume.string()}));
    EXPECT_NE(hostCommand({"--control", "list"}).standardOutput.find("UPG1 HVBR7 1.6.01"), std::string::npos);
    // An image as the camera takes it: two header lines, then 96 KiB.
    TempDir::write(volume / "FWHVBR7.bin", "VERSION=1.7.00\nMODEL=HVBR7\n" + std::string(96 * 1024, '\x5A'));
    io_service_t service = hvb::findDriverService(0);
    ASSERT_NE(service, 0u);
    const uint8_t start = 1;
    // This camera takes its image at a reboot.
    hvb::userClientWrite(service, codeOf("HVBR7", "1.6.01", "HVB_REBOOT"), &start, 1);
    IOObjectRelease(service);
    std::string listed;
    EXPECT_TRUE(eventually([&] {
        listed = hostCommand({"--control", "list"}).standardOutput;
        return listed.find("UPG1 HVBR7 1.7.00") != std::string::npos;
    }, 30)) << listed;
}

TEST_F(DriverHostTest, TheCameraLinkBringsUpACameraTheHostHolds) {
    ASSERT_TRUE(host.start(root, {"--camera", "model=HVBR7,firmware=1.6.01,uid=BRINGUP00001"}));
    dispatch::setTimeScale(0.01);
    dispatch::RunLoop::main().adoptCurrentThread();
    hvb::buildAllCommandTables();
    auto& state = hvb::DeviceState::shared();
    state.reset();
    hvb::USBWatcherHandler::shared().reset();
    auto watcher = std::make_unique<hvb::USBWatcher>(hvb::USBWatcherHandler::sharedPointer());
    ASSERT_TRUE(dispatch::RunLoop::main().runUntil([&] { return state.PlugInDeviceCnt.load() == 1; },
                                                   std::chrono::seconds(60)));
    auto record = state.record("BRINGUP00001");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->ModelName, "HVBR7");
    EXPECT_EQ(record->FWVersion, "1.6.01");
    EXPECT_EQ(record->UID, std::optional<std::string>("BRINGUP00001"));

    ASSERT_EQ(hostCommand({"--control", "unplug", "BRINGUP00001"}).exitStatus, 0);
    EXPECT_TRUE(dispatch::RunLoop::main().runUntil(
        [&] { return state.PlugInDeviceCnt.load() == 0 && !state.findModel("BRINGUP00001"); },
        std::chrono::seconds(30)));
    watcher.reset();
    dispatch::RunLoop::main().runUntil([] { return false; }, std::chrono::milliseconds(20));
    hvb::USBWatcherHandler::shared().reset();
    state.reset();
}

TEST_F(DriverHostTest, PlugAndUnplugThroughTheControlMessageReachTheWatcher) {
    ASSERT_TRUE(host.start(root, {}));
    auto recorder = std::make_shared<Recorder>();
    dispatch::RunLoop loop;
    loop.adoptCurrentThread();
    hvb::USBWatcher watcher(recorder, loop);
    EXPECT_TRUE(recorder->added.empty());

    auto plugged = hostCommand({"--control", "plug", "HVBR7", "serial=HOT1"});
    ASSERT_EQ(plugged.exitStatus, 0) << plugged.standardError;
    EXPECT_EQ(plugged.standardOutput, "HOT1\n");
    ASSERT_TRUE(loop.runUntil([&] { return Recorder::has(recorder->added, "HOT1") && Recorder::has(recorder->matched, "HOT1"); },
                              std::chrono::seconds(20)));

    std::string reply;
    ASSERT_EQ(link->control({"plug", "model=HVBS2A", "firmware=1.13.0", "serial=HOT2"}, &reply), kIOReturnSuccess)
        << reply;
    ASSERT_TRUE(loop.runUntil([&] { return Recorder::has(recorder->matched, "HOT2"); }, std::chrono::seconds(20)));

    auto unplugged = hostCommand({"--control", "unplug", "HOT1"});
    ASSERT_EQ(unplugged.exitStatus, 0) << unplugged.standardError;
    ASSERT_TRUE(loop.runUntil([&] { return Recorder::has(recorder->removed, "HOT1"); }, std::chrono::seconds(20)));
    EXPECT_FALSE(Recorder::has(recorder->removed, "HOT2"));

    auto list = hostCommand({"--control", "list"});
    EXPECT_EQ(list.exitStatus, 0);
    EXPECT_NE(list.standardOutput.find("HOT2 HVBS2A 1.13.0"), std::string::npos);
    EXPECT_EQ(list.standardOutput.find("HOT1"), std::string::npos);

    EXPECT_EQ(hostCommand({"--control", "plug", "NOSUCHMODEL"}).exitStatus, 1);
    EXPECT_EQ(hostCommand({"--control", "unplug", "NOSUCHSERIAL"}).exitStatus, 1);
    EXPECT_EQ(hostCommand({"--control", "plug", "HVBR7", "serial=HOT2"}).exitStatus, 1);  // taken
    EXPECT_EQ(hostCommand({"--control", "dance"}).exitStatus, 1);
}

TEST_F(DriverHostTest, KilledHostFailsThePendingCallAndItsCamerasLeave) {
    ASSERT_TRUE(host.start(root, {"--camera", "HVBR7,serial=KILL1"}));
    auto recorder = std::make_shared<Recorder>();
    dispatch::RunLoop loop;
    loop.adoptCurrentThread();
    hvb::USBWatcher watcher(recorder, loop);
    ASSERT_TRUE(Recorder::has(recorder->added, "KILL1"));

    io_service_t service = hvb::findDriverService(0);
    ASSERT_NE(service, 0u);
    io_connect_t connection = 0;
    ASSERT_EQ(IOServiceOpen(service, mach_task_self(), 0, &connection), kIOReturnSuccess);
    ASSERT_EQ(IOConnectCallMethod(connection, 0, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              kIOReturnSuccess);

    host.kill(SIGSTOP);  // the next call stays unanswered
    auto pending = std::async(std::launch::async, [connection] {
        uint64_t scalars[3] = {0, 16, 4};
        uint8_t reply[256];
        size_t size = sizeof reply;
        return IOConnectCallMethod(connection, 5, scalars, 3, nullptr, 0, nullptr, nullptr, reply, &size);
    });
    EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    host.kill(SIGKILL);
    ASSERT_EQ(pending.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(pending.get(), kIOReturnNotAttached);

    ASSERT_TRUE(loop.runUntil([&] { return Recorder::has(recorder->removed, "KILL1"); }, std::chrono::seconds(20)));
    EXPECT_EQ(hvb::findDriverService(0), 0u);
    EXPECT_EQ(IOConnectCallMethod(connection, 0, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              kIOReturnNotAttached);
    EXPECT_EQ(IOServiceClose(connection), kIOReturnSuccess);
    IOObjectRelease(service);

    // A new host is found again without the application doing anything.
    HostProcess second;
    ASSERT_TRUE(second.start(root, {"--camera", "HVBR7,serial=KILL2"}));
    ASSERT_TRUE(loop.runUntil([&] { return Recorder::has(recorder->matched, "KILL2"); }, std::chrono::seconds(20)));
    second.kill(SIGTERM);
}

TEST_F(DriverHostTest, AHostThatStopsAnsweringFailsTheCallInsteadOfHanging) {
    ASSERT_TRUE(host.start(root, {"--camera", "HVBR7,serial=STOP1"}));
    io_service_t service = hvb::findDriverService(0);
    io_connect_t connection = 0;
    ASSERT_EQ(IOServiceOpen(service, mach_task_self(), 0, &connection), kIOReturnSuccess);
    ASSERT_EQ(IOConnectCallMethod(connection, 0, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              kIOReturnSuccess);
    link->setCallTimeout(300);
    host.kill(SIGSTOP);
    uint64_t scalars[3] = {0, 16, 4};
    uint8_t reply[256];
    size_t size = sizeof reply;
    EXPECT_EQ(IOConnectCallMethod(connection, 5, scalars, 3, nullptr, 0, nullptr, nullptr, reply, &size),
              iokit::kIOReturnTimeout);
    host.kill(SIGCONT);
    link->setCallTimeout(120000);
    // The late answer is dropped; the next call gets its own.
    size = sizeof reply;
    EXPECT_EQ(IOConnectCallMethod(connection, 5, scalars, 3, nullptr, 0, nullptr, nullptr, reply, &size),
              kIOReturnSuccess);
    EXPECT_EQ(reply[0], 16);
    IOServiceClose(connection);
    IOObjectRelease(service);
}

TEST_F(DriverHostTest, AClientKilledWhileHoldingTheCameraLeavesItClosed) {
    ASSERT_TRUE(host.start(root, {"--camera", "HVBR7,serial=HOLD1"}));
    using iokit::wire::Type;
    iokit::wire::Writer match(Type::getMatchingServices, 1);
    iokit::MatchingDictionary matching;
    matching.providerClass = hvb::kDriverServiceClassName;
    match.matching(matching);
    iokit::wire::Writer open(Type::openConnection, 2);
    open.u32(1);  // the first handle a fresh peer gets
    open.u32(0);
    iokit::wire::Writer select0(Type::callMethod, 3);
    for (uint32_t v : {2u, 0u, 0u, 0u, 0u, 0u}) select0.u32(v);  // connection 2, selector 0, no data
    std::vector<std::vector<uint8_t>> script{request(std::move(match)), request(std::move(open)),
                                             request(std::move(select0))};
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    std::string socketPath = hosttest::socketOf(root).string();
    pid_t child = ::fork();
    if (child == 0) {
        int fd = sockettest::rawConnect(socketPath);
        if (fd < 0 || sockettest::readHelloAdmitted(fd) != 1) ::_exit(2);
        unsigned char answer[512];
        for (auto& message : script) {
            if (::send(fd, message.data(), message.size(), MSG_NOSIGNAL) < 0) ::_exit(3);
            if (::recv(fd, answer, sizeof answer, 0) < 20) ::_exit(4);
        }
        // The open's status is the reply's first field: 0 when the camera is ours.
        bool ours = answer[16] == 0 && answer[17] == 0 && answer[18] == 0 && answer[19] == 0;
        char byte = ours ? 'y' : 'n';
        [[maybe_unused]] ssize_t n = ::write(ready[1], &byte, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(byte, 'y');

    io_service_t service = hvb::findDriverService(0);
    io_connect_t connection = 0;
    ASSERT_EQ(IOServiceOpen(service, mach_task_self(), 0, &connection), kIOReturnSuccess);
    EXPECT_EQ(IOConnectCallMethod(connection, 0, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              kIOReturnExclusiveAccess);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const fs::path log = root / "var/log/halvetor/com_brevantis_driver_HVBSCSIDriver.log";
    EXPECT_TRUE(eventually([&] { return TempDir::read(log).find("::clientDied()") != std::string::npos; }));
    EXPECT_TRUE(eventually([&] {
        return IOConnectCallMethod(connection, 0, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr) ==
               kIOReturnSuccess;
    }));
    IOServiceClose(connection);
    IOObjectRelease(service);
}

TEST_F(DriverHostTest, PeersThatAreNotAdmittedAreRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "other users need root to be played";
    // A sandbox root that belongs to a user: that user alone may use the host, root included.
    ASSERT_EQ(::chown(root.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(root.c_str(), 0755), 0);
    ASSERT_TRUE(host.start(root, {}, false));
    EXPECT_EQ(link->ping(), iokit::kIOReturnNotPrivileged);
    std::string socketPath = hosttest::socketOf(root).string();
    auto admittedAs = [&](uid_t uid) {
        pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(uid) != 0 || ::setuid(uid) != 0) ::_exit(3);
            int fd = sockettest::rawConnect(socketPath);
            if (fd < 0) ::_exit(4);  // the socket file itself keeps others out
            ::_exit(sockettest::readHelloAdmitted(fd) == 1 ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(admittedAs(65534), 0);
    EXPECT_EQ(admittedAs(65533), 4);
    // Opened up, the file lets others connect; their credentials still keep them out.
    ASSERT_EQ(::chmod(socketPath.c_str(), 0666), 0);
    EXPECT_EQ(admittedAs(65533), 1);
    EXPECT_TRUE(host.running());
}

TEST_F(DriverHostTest, GarbageFromSomePeersLeavesTheOthersServed) {
    ASSERT_TRUE(host.start(root, {"--camera", "HVBR7,serial=FUZZ1"}));
    io_service_t service = hvb::findDriverService(0);
    io_connect_t connection = 0;
    ASSERT_EQ(IOServiceOpen(service, mach_task_self(), 0, &connection), kIOReturnSuccess);
    ASSERT_EQ(IOConnectCallMethod(connection, 0, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              kIOReturnSuccess);

    std::mt19937 random(60606);
    int fd = -1;
    int drops = 0;
    const auto path = hosttest::socketOf(root);
    for (int i = 0; i < 10000; ++i) {
        if (fd < 0) {
            fd = sockettest::rawConnect(path);
            ASSERT_GE(fd, 0) << "message " << i;
        }
        size_t size = random() % 8 == 0 ? iokit::wire::kMaxRequestSize + 1 + random() % 4096 : random() % 80;
        std::vector<uint8_t> message(size);
        for (auto& b : message) b = static_cast<uint8_t>(random());
        if (size >= iokit::wire::kHeaderSize && size < 200 && random() % 2) {
            // Mostly well-formed headers, so the bodies reach the field checks.
            iokit::wire::Writer head(static_cast<iokit::wire::Type>(random() % 32), random());
            auto& h = head.finish();
            std::copy(h.begin(), h.begin() + 12, message.begin());
            for (int k = 0; k < 4; ++k) message[4 + k] = static_cast<uint8_t>(size >> (8 * k));
        }
        if (::send(fd, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
            ::close(fd);
            fd = -1;
            ++drops;
        }
        if (i % 500 == 0) {
            uint64_t scalars[3] = {0, 16, 4};
            uint8_t reply[256];
            size_t replySize = sizeof reply;
            ASSERT_EQ(IOConnectCallMethod(connection, 5, scalars, 3, nullptr, 0, nullptr, nullptr, reply, &replySize),
                      kIOReturnSuccess)
                << "message " << i;
        }
    }
    if (fd >= 0) ::close(fd);
    EXPECT_GT(drops, 100);
    EXPECT_TRUE(host.running());
    EXPECT_EQ(link->ping(), kIOReturnSuccess);
    EXPECT_EQ(IOServiceClose(connection), kIOReturnSuccess);
    uint8_t reply[20];
    EXPECT_TRUE(hvb::userClientRead(service, codeOf("HVBR7", "1.6.01", "HVB_MODEL"), reply, sizeof reply));
    IOObjectRelease(service);
}

TEST_F(DriverHostTest, StartAndCommandFailuresAreReported) {
    EXPECT_EQ(hostCommand({"--control", "list"}).exitStatus, 3);  // nobody answers
    EXPECT_EQ(hostCommand({"--ping"}).exitStatus, 1);
    EXPECT_EQ(hostCommand({"--bogus"}).exitStatus, 64);
    EXPECT_EQ(hostCommand({"--camera", "serial=NOMODEL"}).exitStatus, 64);
    auto badCamera = hostCommand({"--camera", "NOSUCHMODEL,serial=X"});
    EXPECT_EQ(badCamera.exitStatus, 2);
    TempDir::write(root / "etc/halvetor/driver.conf", "backend simulation\nwhatever 1\n");
    EXPECT_EQ(hostCommand({}).exitStatus, 78);
    TempDir::write(root / "etc/halvetor/driver.conf", "# demo\nbackend simulation\ncamera HVBR7,serial=CONF1\n");
    ASSERT_TRUE(host.start(root, {}));
    std::string reply;
    ASSERT_EQ(link->control({"list"}, &reply), kIOReturnSuccess);
    EXPECT_NE(reply.find("CONF1"), std::string::npos);
    // A second host on the same root leaves the first one serving.
    auto second = hostCommand({});
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_TRUE(host.running());
    EXPECT_EQ(link->ping(), kIOReturnSuccess);
}

TEST_F(DriverHostTest, PeersPlugBoundedCamerasWithVolumesInsideTheRoot) {
    ASSERT_TRUE(host.start(root, {}));
    std::string reply;
    fs::create_directories(root / "volumes/A");
    fs::create_directory_symlink("/etc", root / "volumes/etc");
    for (const std::string& volume : {std::string("/etc"), (root / "volumes/../../").string(),
                                      (root / "volumes/etc").string(), std::string("volumes/A")}) {
        EXPECT_EQ(link->control({"plug", "HVBR7", "serial=OUT1", "volume=" + volume}, &reply), kIOReturnBadArgument)
            << volume;
        EXPECT_NE(reply.find("must lie inside"), std::string::npos);
    }
    ASSERT_EQ(link->control({"plug", "HVBR7", "serial=IN1", "volume=" + (root / "volumes/A").string()}, &reply),
              kIOReturnSuccess)
        << reply;
    for (int i = 2; i <= 16; ++i)
        ASSERT_EQ(link->control({"plug", "HVBR7", "serial=IN" + std::to_string(i)}, &reply), kIOReturnSuccess) << reply;
    EXPECT_EQ(link->control({"plug", "HVBR7", "serial=IN17"}, &reply), kIOReturnNoResources);
    ASSERT_EQ(link->control({"unplug", "IN16"}, &reply), kIOReturnSuccess);
    EXPECT_EQ(link->control({"plug", "HVBR7", "serial=IN17"}, &reply), kIOReturnSuccess);
}

TEST_F(DriverHostTest, LinksInTheRunAndLogFoldersRedirectNothing) {
    const fs::path victim = root / "victim.txt";
    TempDir::write(victim, "keep\n");
    const fs::path log = root / "var/log/halvetor/com_brevantis_driver_HVBSCSIDriver.log";
    const fs::path pidTemporary = root / "run/halvetor/com_brevantis_driver_HVBSCSIDriver.pid.new";
    fs::create_directories(log.parent_path());
    fs::create_directories(pidTemporary.parent_path());
    fs::create_symlink(victim, log);
    fs::create_symlink(victim, pidTemporary);
    // Root's sandbox is root's, as the real system is: the host would open its socket to the
    // group it admits where that group exists. A group no machine has keeps the socket private
    // whichever groups this one has.
    const std::vector<std::string> noGroup = {"--group", "hvb-test-no-such-group"};
    ASSERT_EQ(::getgrnam(noGroup[1].c_str()), nullptr);
    ASSERT_TRUE(host.start(root, noGroup));
    std::string reply;
    // A verb that tries to start a log line of its own.
    EXPECT_EQ(link->control({"dance\nforged: stopped"}, &reply), kIOReturnUnsupported);
    EXPECT_EQ(link->ping(), kIOReturnSuccess);
    EXPECT_EQ(TempDir::read(victim), "keep\n");
    EXPECT_TRUE(eventually([&] {
        return TempDir::read(root / "run/halvetor/com_brevantis_driver_HVBSCSIDriver.pid") ==
               std::to_string(host.pid()) + "\n";
    }));
    // The socket was made private to the sandbox's owner (or to root) when it was bound.
    struct stat st {};
    ASSERT_EQ(::lstat(hosttest::socketOf(root).c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    host.kill(SIGTERM);

    // With a log it can write, the verb stays on its one line.
    fs::remove(log);
    ASSERT_TRUE(host.start(root, noGroup));
    EXPECT_EQ(link->control({"dance\nforged: stopped"}, &reply), kIOReturnUnsupported);
    host.kill(SIGTERM);
    const std::string written = TempDir::read(log);
    EXPECT_NE(written.find("control request \"dance\\nforged: stopped\""), std::string::npos) << written;
    EXPECT_EQ(written.find("\nforged"), std::string::npos);
}

// The host makes its run and log folders itself; its log, which tells camera serials, USB paths
// and peers, is kept from other users (0640 in a 0750 folder), one written before included.
// As root it refuses a run or log folder that is not root's 0755 or 0750, and a link for either,
// before it writes anything there.
TEST_F(DriverHostTest, TheHostMakesItsOwnFoldersAndRefusesOnesOthersControl) {
    const fs::path logFolder = root / "var/log/halvetor";
    const fs::path log = logFolder / "com_brevantis_driver_HVBSCSIDriver.log";
    auto modeOf = [](const fs::path& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 01;
    };
    ASSERT_TRUE(host.start(root, {}));
    host.kill(SIGTERM);
    EXPECT_EQ(modeOf(root / "run/halvetor"), 0755u);
    EXPECT_EQ(modeOf(logFolder), 0750u);
    EXPECT_EQ(modeOf(log), 0640u);
    ASSERT_EQ(::chmod(log.c_str(), 0644), 0);
    ASSERT_TRUE(host.start(root, {}));
    host.kill(SIGTERM);
    EXPECT_EQ(modeOf(log), 0640u);
    EXPECT_NE(TempDir::read(log).find("stopped"), std::string::npos);
    if (::geteuid() != 0) return;  // other owners need root

    struct Case {
        const char* label;
        const char* folder;  // below the root
        std::function<void(const fs::path& folder, const fs::path& elsewhere)> arrange;
        const char* refusal;
    };
    const auto made = [](mode_t mode, uid_t owner) {
        return [mode, owner](const fs::path& folder, const fs::path&) {
            fs::create_directories(folder);
            ASSERT_EQ(::chown(folder.c_str(), owner, owner), 0);
            ASSERT_EQ(::chmod(folder.c_str(), mode), 0);
        };
    };
    const auto linked = [](const fs::path& folder, const fs::path& elsewhere) {
        fs::create_directories(folder.parent_path());
        fs::create_directory_symlink(elsewhere, folder);
    };
    const std::vector<Case> cases = {
        {"a run folder others may write", "run/halvetor", made(0777, 0), "refusing the run folder"},
        {"a shared run folder", "run/halvetor", made(01777, 0), "refusing the run folder"},
        {"a run folder of another user", "run/halvetor", made(0755, 65534), "refusing the run folder"},
        {"a link for the run folder", "run/halvetor", linked, "refusing the run folder"},
        {"a log folder its group may write", "var/log/halvetor", made(0770, 0), "refusing the log folder"},
        {"a log folder of another user", "var/log/halvetor", made(0750, 65534), "refusing the log folder"},
        {"a link for the log folder", "var/log/halvetor", linked, "refusing the log folder"},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const fs::path caseRoot = dir / ("refused-" + std::to_string(++number));
        const fs::path elsewhere = dir / ("elsewhere-" + std::to_string(number));
        fs::create_directories(elsewhere);
        c.arrange(caseRoot / c.folder, elsewhere);
        foundation::ProcessOptions options;
        options.mergeStandardError = true;
        options.timeoutMs = 60000;
        auto result = foundation::runProcess(
            {hosttest::hostExecutable().string(), "--root", caseRoot.string(), "--daemon"}, options);
        EXPECT_EQ(result.exitStatus, 1) << result.standardOutput;
        EXPECT_NE(result.standardOutput.find(c.refusal), std::string::npos) << result.standardOutput;
        EXPECT_TRUE(fs::is_empty(elsewhere));
        // A host that served all the same does not outlive the case.
        for (const fs::path& runFolder : {caseRoot / "run/halvetor", elsewhere}) {
            const std::string pid = TempDir::read(runFolder / "com_brevantis_driver_HVBSCSIDriver.pid");
            if (!pid.empty()) ::kill(std::stoi(pid), SIGTERM);
        }
    }
}

TEST_F(DriverHostTest, PollsLeaveNoPerCommandLinesInTheLogUnlessDebugging) {
    ASSERT_TRUE(host.start(root, {"--camera", "HVBR7,serial=POLL1"}));
    io_service_t service = hvb::findDriverService(0);
    ASSERT_NE(service, 0u);
    const uint8_t model = codeOf("HVBR7", "1.6.01", "HVB_MODEL");
    for (int i = 0; i < 200; ++i) {
        uint8_t reply[1];
        ASSERT_TRUE(hvb::userClientRead(service, model, reply, sizeof reply)) << i;
    }
    IOObjectRelease(service);
    host.kill(SIGTERM);
    const std::string log = TempDir::read(root / "var/log/halvetor/com_brevantis_driver_HVBSCSIDriver.log");
    const std::string output = TempDir::read(root / "host-output.txt");
    EXPECT_NE(log.find("stopped"), std::string::npos);
    for (const char* perCommand : {"M37SyncIO", "HIWORD_HIBYTE", "externalMethod", "initWithTask"}) {
        EXPECT_EQ(log.find(perCommand), std::string::npos) << perCommand;
        EXPECT_EQ(output.find(perCommand), std::string::npos) << perCommand;
    }
    EXPECT_LT(log.size(), 4096u) << "200 polls";
}

TEST_F(DriverHostTest, BusyPeersInEverySlotStillLetTheApplicationIn) {
    ASSERT_TRUE(host.start(root, {"--camera", "HVBR7,serial=FULL1"}));
    using iokit::wire::Type;
    iokit::wire::Writer watch(Type::addNotification, 1);
    watch.u64(1);
    watch.u8(static_cast<uint8_t>(iokit::NotificationKind::matched));
    iokit::MatchingDictionary usb;
    usb.providerClass = "IOUSBDevice";
    watch.matching(usb);
    const std::vector<uint8_t> watchRequest = request(std::move(watch));
    const std::vector<uint8_t> ping = request(iokit::wire::Writer(Type::ping, 2));
    const std::string socketPath = hosttest::socketOf(root).string();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    // 64 peer processes of this user, each watching and pinging every 0.5 s until the host
    // drops it or goes.
    std::vector<pid_t> peers;
    for (int i = 0; i < 64; ++i) {
        pid_t child = ::fork();
        if (child == 0) {
            int fd = sockettest::rawConnect(socketPath);
            unsigned char answer[4096];
            bool watching = fd >= 0 && sockettest::readHelloAdmitted(fd) == 1 &&
                            ::send(fd, watchRequest.data(), watchRequest.size(), MSG_NOSIGNAL) > 0 &&
                            ::recv(fd, answer, sizeof answer, 0) >= 20;
            char byte = watching ? 'y' : 'n';
            [[maybe_unused]] ssize_t n = ::write(ready[1], &byte, 1);
            for (;;) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 500) > 0) {
                    if (::recv(fd, answer, sizeof answer, 0) <= 0) ::_exit(0);
                } else if (::send(fd, ping.data(), ping.size(), MSG_NOSIGNAL) < 0) {
                    ::_exit(0);
                }
            }
        }
        ASSERT_GT(child, 0);
        peers.push_back(child);
    }
    ::close(ready[1]);
    int watching = 0;
    for (int i = 0; i < 64; ++i) {
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        watching += byte == 'y';
    }
    ::close(ready[0]);
    EXPECT_EQ(watching, 64);

    // The application still gets in, and its calls are served.
    io_service_t service = hvb::findDriverService(0);
    ASSERT_NE(service, 0u);
    uint8_t reply[20] = {};
    EXPECT_TRUE(hvb::userClientRead(service, codeOf("HVBR7", "1.6.01", "HVB_MODEL"), reply, sizeof reply));
    EXPECT_NE(std::string(reinterpret_cast<char*>(reply), sizeof reply).find("HVBR7"), std::string::npos);
    IOObjectRelease(service);
    for (pid_t pid : peers) ::kill(pid, SIGKILL);
    for (pid_t pid : peers) ::waitpid(pid, nullptr, 0);
}

namespace {

// A peer that watches USB devices and pings whenever `pingMs` pass without a message, as the
// toolbox does; counts the times the host drops it (and connects again at once).
struct Watcher {
    std::string socketPath;
    std::vector<uint8_t> watchRequest, pingRequest;
    int fd = -1;
    int drops = 0;

    static std::vector<uint8_t> watchOf() {
        iokit::wire::Writer watch(iokit::wire::Type::addNotification, 1);
        watch.u64(1);
        watch.u8(static_cast<uint8_t>(iokit::NotificationKind::matched));
        iokit::MatchingDictionary usb;
        usb.providerClass = "IOUSBDevice";
        watch.matching(usb);
        return request(std::move(watch));
    }
    explicit Watcher(std::string path)
        : socketPath(std::move(path)), watchRequest(watchOf()), pingRequest(request(iokit::wire::Writer(iokit::wire::Type::ping, 2))) {}
    Watcher(const Watcher&) = default;  // before it connects: a child's own copy
    ~Watcher() {
        if (fd >= 0) ::close(fd);
    }
    // Only system calls: also for children forked from this threaded test.
    bool connect() {
        fd = sockettest::rawConnect(socketPath);
        unsigned char answer[4096];
        if (fd >= 0 && sockettest::readHelloAdmitted(fd) == 1 &&
            ::send(fd, watchRequest.data(), watchRequest.size(), MSG_NOSIGNAL) > 0 && ::recv(fd, answer, sizeof answer, 0) >= 20)
            return true;
        if (fd >= 0) ::close(fd);
        fd = -1;
        return false;
    }
    // One wait of up to `pingMs`: a message read, or a ping sent; false once the host dropped us.
    bool step(int pingMs) {
        unsigned char answer[4096];
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, pingMs) > 0) return ::recv(fd, answer, sizeof answer, 0) > 0;
        return ::send(fd, pingRequest.data(), pingRequest.size(), MSG_NOSIGNAL) > 0;
    }
};

}  // namespace

TEST_F(DriverHostTest, AFloodOfSameUserPeersNeverPushesTheApplicationOut) {
    ASSERT_TRUE(host.start(root, {"--camera", "HVBR7,serial=FLOOD1"}));
    const auto started = std::chrono::steady_clock::now();
    const std::string socketPath = hosttest::socketOf(root).string();
    Watcher application(socketPath);
    ASSERT_TRUE(application.connect());
    // 64 processes of this user, each wanting two connections (more than a user's share
    // together) that watch and ping every 20 ms, and connecting again at once whenever they
    // are refused or dropped.
    auto* refused = static_cast<std::atomic<long>*>(
        ::mmap(nullptr, sizeof(std::atomic<long>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(refused, MAP_FAILED);
    new (refused) std::atomic<long>(0);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    std::vector<pid_t> peers;
    std::vector<Watcher> slots(2, Watcher(socketPath));  // made here: a forked child only makes system calls
    for (int i = 0; i < 64; ++i) {
        pid_t child = ::fork();
        if (child == 0) {
            bool told = false;
            for (;;) {
                for (Watcher& w : slots) {
                    const bool in = w.fd >= 0 || w.connect();
                    if (!told) {  // once it has asked: late ones find the share taken
                        const char byte = 'y';
                        [[maybe_unused]] ssize_t n = ::write(ready[1], &byte, 1);
                        told = true;
                    }
                    if (!in) {
                        refused->fetch_add(1);
                        const timespec breath{0, 2'000'000};
                        ::nanosleep(&breath, nullptr);
                        continue;
                    }
                    if (!w.step(10)) {
                        ::close(w.fd);
                        w.fd = -1;
                    }
                }
            }
        }
        ASSERT_GT(child, 0);
        peers.push_back(child);
    }
    ::close(ready[1]);
    for (int i = 0; i < 64; ++i) {
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    }
    ::close(ready[0]);

    // Four seconds of the flood, with the application polling about twice a second.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    while (std::chrono::steady_clock::now() < until) {
        if (application.step(500)) continue;
        ++application.drops;
        ::close(application.fd);
        application.fd = -1;
        for (int attempt = 0; attempt < 1000 && !application.connect(); ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (application.fd < 0) break;  // kept out for good: the drop is counted
    }
    const long refusals = refused->load();
    for (pid_t pid : peers) ::kill(pid, SIGKILL);
    for (pid_t pid : peers) ::waitpid(pid, nullptr, 0);
    ::munmap(refused, sizeof(std::atomic<long>));
    EXPECT_EQ(application.drops, 0);
    EXPECT_EQ(link->ping(), kIOReturnSuccess);

    // The refusals went into the log at no more than a line a second (and one for the count
    // left over), not a line each.
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    host.kill(SIGTERM);
    const fs::path logFile = root / "var/log/halvetor/com_brevantis_driver_HVBSCSIDriver.log";
    std::istringstream log(TempDir::read(logFile.string() + ".1") + TempDir::read(logFile));
    size_t lines = 0;
    for (std::string line; std::getline(log, line);) lines += line.find("iokit socket: refus") != std::string::npos;
    RecordProperty("refusals", std::to_string(refusals));
    RecordProperty("refusalLines", std::to_string(lines));
    EXPECT_GT(refusals, 100) << "the flood was refused";
    EXPECT_GE(lines, 1u);
    EXPECT_LE(lines, static_cast<size_t>(seconds) + 3) << refusals << " refusals in " << seconds << " s";
}

// Twelve processes of this user, each with eight connections that watch and then stay silent,
// fill the user's share: the toolbox started then is turned away and hears why, as does the
// command line, and once the crowd has gone its watcher finds the camera by itself.
TEST_F(DriverHostTest, AToolboxTurnedAwayForAFullShareFindsTheCameraOnceLetIn) {
    ASSERT_TRUE(host.start(root, {"--camera", "HVBR7,serial=SHARE1"}));
    const std::string socketPath = hosttest::socketOf(root).string();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    std::vector<pid_t> crowd;
    std::vector<Watcher> slots(8, Watcher(socketPath));  // made here: a forked child only makes system calls
    for (int i = 0; i < 12; ++i) {
        pid_t child = ::fork();
        if (child == 0) {
            char in = 0;
            for (Watcher& w : slots) in = static_cast<char>(in + w.connect());
            [[maybe_unused]] ssize_t n = ::write(ready[1], &in, 1);
            for (;;) ::pause();
        }
        ASSERT_GT(child, 0);
        crowd.push_back(child);
    }
    ::close(ready[1]);
    int watching = 0;
    for (int i = 0; i < 12; ++i) {
        char in = 0;
        ASSERT_EQ(::read(ready[0], &in, 1), 1);
        watching += in;
    }
    ::close(ready[0]);
    EXPECT_EQ(watching, 96);

    for (const std::vector<std::string>& command : {std::vector<std::string>{"--ping"}, {"--control", "stats"}}) {
        auto refused = hostCommand(command);
        EXPECT_NE(refused.exitStatus, 0) << command.back();
        EXPECT_NE(refused.standardError.find("refused this command: too many peers of this user"), std::string::npos)
            << refused.standardError;
    }

    auto recorder = std::make_shared<Recorder>();
    dispatch::RunLoop loop;
    loop.adoptCurrentThread();
    hvb::USBWatcher watcher(recorder, loop);
    EXPECT_EQ(link->hostStatus(),
              (iokit::HostStatus{iokit::HostStatus::State::refused, iokit::Refusal::userShareFull}));
    for (pid_t pid : crowd) ::kill(pid, SIGKILL);
    for (pid_t pid : crowd) ::waitpid(pid, nullptr, 0);
    EXPECT_TRUE(loop.runUntil([&] { return Recorder::has(recorder->matched, "SHARE1"); }, std::chrono::seconds(20)));
    EXPECT_EQ(link->hostStatus().state, iokit::HostStatus::State::connected);
}

TEST_F(DriverHostTest, RepeatedPlugsLeaveTheHostsRecordsAsTheyWere) {
    ASSERT_TRUE(host.start(root, {"--camera", "HVBR7,serial=STAY1"}));
    auto recorder = std::make_shared<Recorder>();
    dispatch::RunLoop loop;
    loop.adoptCurrentThread();
    hvb::USBWatcher watcher(recorder, loop);
    ASSERT_TRUE(loop.runUntil([&] { return Recorder::has(recorder->matched, "STAY1"); }, std::chrono::seconds(20)));
    io_service_t resident = hvb::findDriverService(0);
    ASSERT_NE(resident, 0u);
    const uint8_t model = codeOf("HVBR7", "1.6.01", "HVB_MODEL");
    // The host's own counts: services its notifiers remember, blocks its cameras hold.
    auto count = [&](const std::string& what) -> long {
        std::string reply;
        if (link->control({"stats"}, &reply) != kIOReturnSuccess) return -1;
        const size_t at = reply.find("\n" + what + " ");
        return at == std::string::npos ? -1 : std::stol(reply.substr(at + what.size() + 2));
    };
    const long notifiedBefore = count("notified");
    ASSERT_GT(notifiedBefore, 0);
    // A second camera plugged and unplugged, round after round, while the resident one is
    // polled: over the rounds it answers far more blocks than a camera keeps on record.
    const int rounds = 10;
    for (int round = 1; round <= rounds; ++round) {
        std::string reply;
        ASSERT_EQ(link->control({"plug", "model=HVBT3A", "firmware=1.3.0", "serial=VISIT1"}, &reply), kIOReturnSuccess)
            << reply;
        ASSERT_TRUE(loop.runUntil(
            [&] { return std::count(recorder->matched.begin(), recorder->matched.end(), "VISIT1") == round; },
            std::chrono::seconds(20)));
        for (int i = 0; i < 60; ++i) {
            uint8_t answer[20];
            ASSERT_TRUE(hvb::userClientRead(resident, model, answer, sizeof answer)) << round << " " << i;
        }
        ASSERT_EQ(link->control({"unplug", "VISIT1"}, &reply), kIOReturnSuccess) << reply;
        ASSERT_TRUE(loop.runUntil(
            [&] { return std::count(recorder->removed.begin(), recorder->removed.end(), "VISIT1") == round; },
            std::chrono::seconds(20)));
        EXPECT_TRUE(eventually([&] { return count("notified") == notifiedBefore; }, 5))
            << "round " << round << ": " << count("notified") << " against " << notifiedBefore;
        EXPECT_LE(count("recorded"), static_cast<long>(hvb::sim::SimulatedCamera::kLogCapacity)) << "round " << round;
    }
    // 600 reads of at least two blocks each: the record is full, and no fuller.
    EXPECT_EQ(count("recorded"), static_cast<long>(hvb::sim::SimulatedCamera::kLogCapacity));
    IOObjectRelease(resident);
}
