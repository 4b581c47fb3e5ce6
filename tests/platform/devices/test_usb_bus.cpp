// The driver host on its Linux backend against the emulated kernel USB bus: the simulated
// cameras appear as sysfs devices with uevents and /dev/sgN nodes, so libudev, the sysfs reads,
// open() and ioctl(SG_IO) in the host are the real ones. The toolbox's camera link reaches them
// over the host's socket, and the kernel's ways of failing reach it too.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <fstream>
#include <future>
#include <iostream>
#include <sstream>

#include "SCSIDriver/HVBSCSIDriverBundle.h"
#include "SCSIDriver/HostProcess.h"
#include "camera/CommandTables.h"
#include "camera/DeviceInfoReader.h"
#include "camera/DeviceState.h"
#include "camera/USBWatcher.h"
#include "camera/USBWatcherHandler.h"
#include "camera/UserClientTransport.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/TempDir.h"
#include "platform/iokit/link/EmbeddedLink.h"
#include "platform/iokit/link/SocketLink.h"
#include "standins/camera/SimulatedBodyCamera.h"
#include "standins/unit/UnitFile.h"
#include "standins/usbbus/EmulatedUsbBus.h"
#include "standins/usbbus/UmockdevPreload.h"

namespace fs = std::filesystem;
using hosttest::HostProcess;
using hvb::sim::EmulatedUsbBus;
using hvb::sim::SimulatedBodyCamera;

namespace {

// The test and the host it starts see the emulated bus only under umockdev's preload library.
[[maybe_unused]] const bool underUmockdev = hvb::sim::restartUnderUmockdev();

uint8_t codeOf(const SimulatedBodyCamera& camera, const std::string& command) {
    auto code = camera.profile().codeOf(command);
    EXPECT_TRUE(code) << command;
    return code.value_or(0);
}

// What the plug-in read found, in one text to compare.
std::string describe(const hvb::DeviceRecord& record) {
    if (!record) return "(no record)";
    std::ostringstream out;
    out << "model " << record->ModelName.value_or("-") << " uid " << record->UID.value_or("-") << " firmware "
        << record->FWVersion.value_or("-") << " label " << record->UserLabel.value_or("-") << " locked "
        << record->isLockStatus.value_or(false) << " encryption " << record->isDeviceEncryption.value_or(false)
        << " sd-error " << record->isSDCardError << " ready " << record->isReady.value_or(false) << " settings";
    if (record->DeviceParam) {
        for (int64_t value : record->DeviceParam->values) out << " " << value;
    }
    return out.str();
}

class UsbBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string reason = EmulatedUsbBus::unavailableReason();
        if (!reason.empty()) GTEST_SKIP() << reason;
        foundation::setLogEchoEnabled(false);
        dispatch::setTimeScale(0.05);
        dispatch::RunLoop::main().adoptCurrentThread();
        hvb::buildAllCommandTables();
        bus = std::make_unique<EmulatedUsbBus>(1000);
        ASSERT_TRUE(bus->ok());
        root = dir.path();
        link = std::make_shared<iokit::SocketLink>(hosttest::socketOf(root));
        link->setReconnectInterval(20);
        iokit::setCurrentLink(link);
        hvb::DeviceState::shared().reset();
        hvb::USBWatcherHandler::shared().reset();
    }

    void TearDown() override {
        if (!bus) return;
        watcher.reset();
        dispatch::RunLoop::main().runUntil([] { return false; }, std::chrono::milliseconds(20));
        hvb::USBWatcherHandler::shared().reset();
        hvb::DeviceState::shared().reset();
        iokit::setCurrentLink(std::make_shared<iokit::EmbeddedLink>());
        link.reset();
        const bool started = host.pid() > 0 || host.exitStatus() != -1;  // not by a test that skipped
        host.kill(SIGTERM);
        EXPECT_TRUE(!started || (WIFEXITED(host.exitStatus()) && WEXITSTATUS(host.exitStatus()) == 0))
            << "the host ended with " << host.exitStatus() << "\n"
            << TempDir::read(root / "host-output.txt");
        for (auto& camera : cameras) camera->detach();
        bus.reset();
        dispatch::setTimeScale(1);
    }

    std::shared_ptr<SimulatedBodyCamera> plug(const std::string& model, const std::string& firmware,
                                              const std::string& serial, bool attach = true) {
        hvb::sim::BodyCameraOptions options;
        options.serialNumber = serial;
        options.uid = serial;
        options.label = "Unit " + serial.substr(serial.size() - 2);
        auto camera = SimulatedBodyCamera::make(*hvb::sim::findCameraProfile(model, firmware), options);
        cameras.push_back(camera);
        if (attach) {
            EXPECT_TRUE(camera->attach(*bus)) << bus->failure();
        }
        return camera;
    }

    bool startHost(bool debug = false, const std::vector<std::string>& wrapper = {}) {
        std::vector<std::string> arguments{"--backend", "linux"};
        if (debug) arguments.push_back("--debug");
        return host.start(root, arguments, true, wrapper);
    }
    std::string hostLog() const {
        return TempDir::read(root / "var/log/halvetor/com_brevantis_driver_HVBSCSIDriver.log");
    }
    void watch() { watcher = std::make_unique<hvb::USBWatcher>(hvb::USBWatcherHandler::sharedPointer()); }

    // A device the testbed refused never comes: the wait ends with the bus's reason.
    template <class F>
    bool until(F&& done, int seconds = 30) {
        const bool met = dispatch::RunLoop::main().runUntil([&] { return !bus->failure().empty() || done(); },
                                                            std::chrono::seconds(seconds));
        EXPECT_EQ(bus->failure(), "");
        return met && bus->failure().empty();
    }
    static int64_t count() { return hvb::DeviceState::shared().PlugInDeviceCnt.load(); }
    static hvb::DeviceRecord record(const std::string& serial) { return hvb::DeviceState::shared().record(serial); }
    bool broughtUp(const std::string& serial, int64_t cameras) {
        return until([&] { return count() == cameras && record(serial) != nullptr; });
    }
    bool departed(const std::string& serial, int64_t cameras) {
        return until([&] {
            return count() == cameras && !record(serial) && !hvb::DeviceState::shared().findModel(serial);
        });
    }

    // The same camera read through the in-process simulated bus: what the Linux path must find.
    static std::string readThroughSimulation(const std::string& model, const std::string& firmware,
                                             const std::string& serial) {
        auto socket = iokit::currentLink();
        iokit::setCurrentLink(std::make_shared<iokit::EmbeddedLink>());
        loadHVBSCSIDriverBundle();
        hvb::sim::SimulatedUsbBus simulated;
        hvb::sim::BodyCameraOptions options;
        options.serialNumber = serial;
        options.uid = serial;
        options.label = "Unit " + serial.substr(serial.size() - 2);
        auto twin = SimulatedBodyCamera::make(*hvb::sim::findCameraProfile(model, firmware), options);
        twin->attach(simulated);
        io_service_t service = hvb::findDriverService(0);
        std::string text = service ? describe(hvb::readDeviceInfo(service).first) : "(no driver)";
        IOObjectRelease(service);
        twin->detach();
        iokit::setCurrentLink(socket);
        return text;
    }

    // The driver service of the camera with this serial, over the host's socket; 0 when none.
    static io_service_t serviceOf(const std::string& serial) {
        for (int i = 0; i < 8; ++i) {
            io_service_t service = hvb::findDriverService(i);
            if (!service) break;
            if (hvb::USBWatcher::readSerialNumber(service).value_or("") == serial) return service;
            IOObjectRelease(service);
        }
        return 0;
    }

    TempDir dir;
    fs::path root;
    std::unique_ptr<EmulatedUsbBus> bus;
    std::vector<std::shared_ptr<SimulatedBodyCamera>> cameras;
    HostProcess host;
    std::shared_ptr<iokit::SocketLink> link;
    std::unique_ptr<hvb::USBWatcher> watcher;
};

}  // namespace

TEST_F(UsbBusTest, CamerasPresentAtStartAndPluggedLaterAreBroughtUpThroughTheKernelsNodes) {
    const std::string expectedR7 = readThroughSimulation("HVBR7", "1.6.01", "USBR7000001");
    const std::string expected34 = readThroughSimulation("HW7334", "1.0.0", "USB7334000002");
    auto r7 = plug("HVBR7", "1.6.01", "USBR7000001");
    ASSERT_TRUE(until([&] { return bus->genericNode("USBR7000001").value_or("") != ""; }));
    ASSERT_TRUE(startHost()) << TempDir::read(root / "host-output.txt");
    watch();
    ASSERT_TRUE(broughtUp("USBR7000001", 1));
    EXPECT_EQ(describe(record("USBR7000001")), expectedR7);

    // Plugged while the host runs: the USB device first, its SCSI nodes later.
    auto hw = plug("HW7334", "1.0.0", "USB7334000002");
    ASSERT_TRUE(broughtUp("USB7334000002", 2));
    EXPECT_EQ(describe(record("USB7334000002")), expected34);
    EXPECT_NE(bus->genericNode("USBR7000001"), bus->genericNode("USB7334000002"));
    EXPECT_TRUE(record("USBR7000001"));

    // A setting written is what the camera answers afterwards.
    io_service_t service = serviceOf("USBR7000001");
    ASSERT_NE(service, 0u);
    const uint8_t led = codeOf(*r7, "HVB_LED");
    const int64_t before = r7->setting("HVB_LED");
    uint8_t value[4] = {static_cast<uint8_t>(before == 1 ? 0 : 1), 0, 0, 0};
    ASSERT_TRUE(hvb::userClientWrite(service, led, value, sizeof value));
    uint8_t readBack[20] = {0xFF};
    ASSERT_TRUE(hvb::userClientRead(service, led, readBack, sizeof readBack));
    EXPECT_EQ(readBack[0], value[0]);
    EXPECT_EQ(r7->setting("HVB_LED"), value[0]);
    IOObjectRelease(service);

    // An unplug is a departure; the other camera stays.
    r7->detach();
    ASSERT_TRUE(departed("USBR7000001", 1));
    EXPECT_TRUE(record("USB7334000002"));
    hw->detach();
    ASSERT_TRUE(departed("USB7334000002", 0));
}

TEST_F(UsbBusTest, AReplugAndARebootAreFoundAgainOnAnotherNode) {
    auto camera = plug("HVBT3A", "1.3.0", "USBT3A000003");
    ASSERT_TRUE(startHost());
    watch();
    ASSERT_TRUE(broughtUp("USBT3A000003", 1));
    const std::string first = bus->genericNode("USBT3A000003").value_or("");

    camera->detach();
    ASSERT_TRUE(departed("USBT3A000003", 0));
    ASSERT_TRUE(camera->attach(*bus));
    ASSERT_TRUE(broughtUp("USBT3A000003", 1));
    const std::string second = bus->genericNode("USBT3A000003").value_or("");
    EXPECT_NE(second, first);

    camera->reboot(2000);
    ASSERT_TRUE(departed("USBT3A000003", 0));
    ASSERT_TRUE(broughtUp("USBT3A000003", 1));
    EXPECT_NE(bus->genericNode("USBT3A000003").value_or(""), second);
    EXPECT_EQ(camera->attachCount(), 3);
}

// The kernel's faults: each ends in a clear outcome, the host stays up, no row is left behind
// and no failure is reported as success.
TEST_F(UsbBusTest, TheKernelsFaultsEndInAClearOutcome) {
    auto camera = plug("HVBR7", "1.6.01", "USBFAULT0001");
    ASSERT_TRUE(startHost(true));
    watch();
    ASSERT_TRUE(broughtUp("USBFAULT0001", 1));
    io_service_t service = serviceOf("USBFAULT0001");
    ASSERT_NE(service, 0u);
    const uint8_t model = codeOf(*camera, "HVB_MODEL");

    // Every command meets the fault while it lasts.
    struct Row {
        const char* name;
        EmulatedUsbBus::Fault fault;
        hvb::CommandOutcome outcome;
    };
    const std::vector<Row> rows{
        {"host byte DID_TIME_OUT", EmulatedUsbBus::Fault::hostTimeOut, hvb::CommandOutcome::failed},
        {"ioctl ETIMEDOUT", EmulatedUsbBus::Fault::ioctlTimedOut, hvb::CommandOutcome::failed},
        {"ioctl EIO", EmulatedUsbBus::Fault::ioctlFails, hvb::CommandOutcome::failed},
        {"CHECK CONDITION with sense", EmulatedUsbBus::Fault::checkCondition, hvb::CommandOutcome::failed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        bus->injectFault("USBFAULT0001", row.fault, 100000);
        uint8_t out[20];
        std::memset(out, 0x5A, sizeof out);
        EXPECT_EQ(hvb::userClientReadOutcome(service, model, out, sizeof out), row.outcome);
        EXPECT_TRUE(std::all_of(out, out + sizeof out, [](uint8_t b) { return b == 0; }));
        bus->clearFaults("USBFAULT0001");
        // The camera is still there and answers the next command; its row stays, once.
        uint8_t again[20] = {};
        EXPECT_EQ(hvb::userClientReadOutcome(service, model, again, sizeof again), hvb::CommandOutcome::completed);
        EXPECT_NE(std::string(reinterpret_cast<char*>(again), sizeof again).find("HVBR7"), std::string::npos);
        EXPECT_EQ(count(), 1);
    }

    // The camera's own refusal of a command comes as CHECK CONDITION with sense, and a refused
    // write is told as a refusal.
    auto session = camera->session();
    ASSERT_TRUE(session);
    const uint8_t led = codeOf(*camera, "HVB_LED");
    session->refuseCode(led);
    const uint8_t on[4] = {1, 0, 0, 0};
    EXPECT_EQ(hvb::userClientWriteOutcome(service, led, on, sizeof on), hvb::CommandOutcome::refused);
    EXPECT_EQ(count(), 1);

    // A short transfer: the residue is what did not arrive, so only what came is kept.
    session->setShortTransfer(3);
    uint8_t out[20];
    std::memset(out, 0x5A, sizeof out);
    EXPECT_EQ(hvb::userClientReadOutcome(service, model, out, sizeof out), hvb::CommandOutcome::completed);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 5), std::string("HVB\0\0", 5));
    // The driver is told what arrived: the kernel's residue taken off the length asked for.
    EXPECT_TRUE(until([&] { return hostLog().find("task status: 0, transfer count: 3\n") != std::string::npos; }, 10))
        << hostLog();
    session->setShortTransfer(std::nullopt);

    // A camera that stops answering leaves the bus from inside the call that finds it gone:
    // that call fails, the row leaves, and the camera plugged again is brought up again.
    session->vanishAfterCommand(model);
    uint8_t lost[20];
    EXPECT_NE(hvb::userClientReadOutcome(service, model, lost, sizeof lost), hvb::CommandOutcome::completed);
    ASSERT_TRUE(departed("USBFAULT0001", 0));
    IOObjectRelease(service);
    ASSERT_TRUE(camera->attach(*bus));
    ASSERT_TRUE(broughtUp("USBFAULT0001", 1));
    service = serviceOf("USBFAULT0001");
    ASSERT_NE(service, 0u);

    // Unplugged in the middle of a command: the command fails as gone, the row leaves.
    bus->injectFault("USBFAULT0001", EmulatedUsbBus::Fault::hold);
    auto pending = std::async(std::launch::async, [&] {
        uint8_t reply[20];
        return hvb::userClientReadOutcome(service, model, reply, sizeof reply);
    });
    ASSERT_TRUE(until([&] { return bus->heldCommands() == 1; }));
    camera->detach();
    ASSERT_EQ(pending.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    const auto outcome = pending.get();
    EXPECT_TRUE(outcome == hvb::CommandOutcome::deviceGone || outcome == hvb::CommandOutcome::failed)
        << static_cast<int>(outcome);
    EXPECT_NE(outcome, hvb::CommandOutcome::completed);
    ASSERT_TRUE(departed("USBFAULT0001", 0));
    IOObjectRelease(service);
    EXPECT_TRUE(host.running());
}

// How a device appears on the bus: late or missing SCSI nodes, a same-vendor device that is not
// a camera, a camera without a serial number, a second LUN. That a device made no row is told
// only once the host has handled it (its log names it) and a camera plugged after it is up, so
// the toolbox has handled it too.
TEST_F(UsbBusTest, DevicesThatAppearOddlyAreTakenOrLeftAsTheyShouldBe) {
    ASSERT_TRUE(startHost());
    watch();

    // SCSI nodes long after the USB device: the camera comes up once they are there, not before.
    EmulatedUsbBus::Quirks late;
    late.scsiDelayMs = 6000;
    bus->setQuirks("USBLATE00001", late);
    const auto plugged = std::chrono::steady_clock::now();
    plug("HVBR7", "1.6.01", "USBLATE00001");
    bool upBeforeItsNodes = false;
    std::optional<std::chrono::steady_clock::time_point> nodesSeen;
    ASSERT_TRUE(until([&] {
        const bool up = count() == 1;  // read before the node: a node found after came after it
        const bool nodes = !bus->genericNode("USBLATE00001").value_or("").empty();
        if (nodes && !nodesSeen) nodesSeen = std::chrono::steady_clock::now();
        if (up && !nodes) upBeforeItsNodes = true;
        return up && record("USBLATE00001") != nullptr;
    }));
    EXPECT_FALSE(upBeforeItsNodes);
    // Seen no earlier than they came: the nodes were as late as the scaled delay makes them.
    ASSERT_TRUE(nodesSeen);
    EXPECT_GE(*nodesSeen - plugged, dispatch::scaled(dispatch::Millis(6000)));

    // SCSI nodes that never come, and another device of the camera's maker that is not a
    // camera: the host lists both, neither gets a row, and nothing hangs.
    EmulatedUsbBus::Quirks never;
    never.scsiNever = true;
    bus->setQuirks("USBNEVER0001", never);
    auto stuck = plug("HW7334", "1.0.0", "USBNEVER0001");
    const std::string dock = bus->addForeignDevice(0x7001, "DOCK0001");
    ASSERT_FALSE(dock.empty()) << bus->failure();
    ASSERT_TRUE(until([&] {
        const std::string log = hostLog();
        return log.find("serial USBNEVER0001 at") != std::string::npos &&
               log.find("serial DOCK0001 at") != std::string::npos;
    })) << hostLog();
    // A second LUN, plugged after both: the camera is its direct-access LUN, brought up once.
    EmulatedUsbBus::Quirks twoLuns;
    twoLuns.secondLun = true;
    bus->setQuirks("USBLUNS00001", twoLuns);
    plug("HVBS2A", "1.13.0", "USBLUNS00001");
    ASSERT_TRUE(broughtUp("USBLUNS00001", 2));
    EXPECT_EQ(count(), 2);
    EXPECT_FALSE(record("USBNEVER0001"));
    EXPECT_FALSE(record("DOCK0001"));
    stuck->detach();
    bus->removeForeignDevice(dock);

    // A camera without a serial number matches no row, neither when it comes nor when it goes.
    EmulatedUsbBus::Quirks anonymous;
    anonymous.noSerial = true;
    bus->setQuirks("USBNOSERIAL1", anonymous);
    auto nameless = plug("HVBR7", "1.6.01", "USBNOSERIAL1");
    ASSERT_TRUE(until([&] {
        const std::string node = bus->genericNode("USBNOSERIAL1").value_or("");
        return !node.empty() && hostLog().find("generic node " + node + "\n") != std::string::npos;
    })) << hostLog();
    auto after = plug("HVBT3A", "1.3.0", "USBAFTER0001");
    ASSERT_TRUE(broughtUp("USBAFTER0001", 3));
    EXPECT_EQ(count(), 3);
    nameless->detach();
    after->detach();
    ASSERT_TRUE(until([&] { return !record("USBAFTER0001") && count() <= 2; }));
    EXPECT_EQ(count(), 2);
    EXPECT_TRUE(record("USBLATE00001"));
    EXPECT_TRUE(record("USBLUNS00001"));
    EXPECT_TRUE(host.running());
}

// The bus itself: a device its testbed refuses is not on the bus and the bus tells why (a test
// waiting for it fails with that reason instead of timing out), and a bus plugged again and
// again keeps no thread per plug.
TEST(EmulatedBus, TellsWhyItRefusedADeviceAndKeepsNoThreadPerPlug) {
    const std::string reason = EmulatedUsbBus::unavailableReason();
    if (!reason.empty()) GTEST_SKIP() << reason;
    foundation::setLogEchoEnabled(false);
    dispatch::setTimeScale(0.05);
    dispatch::RunLoop::main().adoptCurrentThread();
    {
        EmulatedUsbBus bus(1000);
        ASSERT_TRUE(bus.ok());
        hvb::sim::BodyCameraOptions options;
        options.serialNumber = "USBAGAIN0001";
        auto camera = SimulatedBodyCamera::make(*hvb::sim::findCameraProfile("HVBR7", "1.6.01"), options);
        for (int i = 0; i < 6; ++i) {
            ASSERT_TRUE(camera->attach(bus)) << bus.failure();
            ASSERT_TRUE(dispatch::RunLoop::main().runUntil(
                [&] { return !bus.genericNode("USBAGAIN0001").value_or("").empty(); }, std::chrono::seconds(30)));
            camera->detach();
        }
        // The last plug's probe, and the one before if it had not quite ended when it came.
        EXPECT_LE(bus.probeThreads(), 2u);
        EXPECT_EQ(bus.failure(), "");

        EXPECT_EQ(bus.addForeignDevice(0x7001, "DOCK\nBROKEN"), "");
        EXPECT_NE(bus.failure().find("the testbed refused /sys/devices/"), std::string::npos) << bus.failure();
        EXPECT_GT(bus.failure().size(), bus.failure().find(": ") + 2) << "umockdev's reason: " << bus.failure();
    }
    dispatch::setTimeScale(1);
}

// The host as its unit runs it: within the unit's capability bounding set and with no new
// privileges (setpriv), the system read-only but for its own run and log folders (a mount
// namespace of its own, as ProtectSystem=strict with RuntimeDirectory= and LogsDirectory= leave
// it; the emulated kernel's folder stays writable, as the real /dev and netlink need no write),
// under the unit's system-call filter and MemoryDenyWriteExecute= (hvb-unit-filter). It still
// finds the cameras, serves them and carries their commands. The unit's other directives need
// systemd; the test names them.
TEST_F(UsbBusTest, WithinItsUnitsConfinementTheHostStillServesCameras) {
    if (::geteuid() != 0) GTEST_SKIP() << "a mount namespace and a bounding set need root";
    if (foundation::runProcess({"unshare", "-m", "true"}).exitStatus != 0) GTEST_SKIP() << "no mount namespace here";
    const std::string unit = TempDir::read(hosttest::unitTemplate());
    auto setting = [&](const std::string& key) {
        const auto values = hvb::sim::unitValues(unit, key);
        return values.empty() ? std::string() : values.back();
    };
    const std::string capabilities = setting("CapabilityBoundingSet");
    ASSERT_FALSE(capabilities.empty()) << "the unit bounds no capability";
    ASSERT_EQ(setting("NoNewPrivileges"), "yes");
    ASSERT_EQ(setting("ProtectSystem"), "strict");
    std::string bounding = "-all";
    int count = 0;
    std::istringstream names(capabilities);
    for (std::string name; names >> name; ++count) {
        ASSERT_EQ(name.rfind("CAP_", 0), 0u) << name;
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        bounding += ",+" + name.substr(4);
    }
    const std::vector<std::string> wrapper = {"env", "-u", "LD_PRELOAD", "unshare", "-m", "sh",
                                              HVB_TEST_SOURCE_DIR "/tests/platform/devices/confined_as_unit.sh",
                                              root.string(), foundation::paths::env("LD_PRELOAD"), bounding,
                                              HVB_TEST_UNIT_FILTER, hosttest::unitTemplate().string()};

    // The filter is the unit's: a call it takes away (@setuid) fails with the unit's error.
    const auto setuid = foundation::runProcess({"env", "-u", "LD_PRELOAD", "LC_ALL=C", "setpriv", "--no-new-privs",
                                                "--", HVB_TEST_UNIT_FILTER, hosttest::unitTemplate().string(),
                                                "setpriv", "--reuid=65534", "true"});
    EXPECT_NE(setuid.standardError.find("setresuid failed: Operation not permitted"), std::string::npos)
        << setuid.standardOutput << setuid.standardError;

    auto camera = plug("HVBR7", "1.6.01", "USBCONF00001");
    ASSERT_TRUE(until([&] { return bus->genericNode("USBCONF00001").value_or("") != ""; }));
    ASSERT_TRUE(startHost(false, wrapper)) << TempDir::read(root / "host-output.txt");
    watch();
    ASSERT_TRUE(broughtUp("USBCONF00001", 1));
    // Within the bounding set, whatever it started with.
    std::ifstream status("/proc/" + std::to_string(host.pid()) + "/status");
    std::string text((std::istreambuf_iterator<char>(status)), {});
    EXPECT_NE(text.find("NoNewPrivs:\t1\n"), std::string::npos) << text;
    const size_t bound = text.find("CapBnd:\t");
    ASSERT_NE(bound, std::string::npos) << text;
    EXPECT_EQ(std::popcount(std::stoull(text.substr(bound + 8, 16), nullptr, 16)), count) << text;
    EXPECT_NE(text.find("Seccomp:\t2\n"), std::string::npos) << text;
    const std::string output = TempDir::read(root / "host-output.txt");
    EXPECT_NE(output.find("hvb-unit-filter: applied SystemCallFilter="), std::string::npos) << output;
    EXPECT_NE(output.find("MemoryDenyWriteExecute=yes"), std::string::npos) << output;

    io_service_t service = serviceOf("USBCONF00001");
    ASSERT_NE(service, 0u);
    const uint8_t led = codeOf(*camera, "HVB_LED");
    uint8_t value[4] = {static_cast<uint8_t>(camera->setting("HVB_LED") == 1 ? 0 : 1), 0, 0, 0};
    ASSERT_TRUE(hvb::userClientWrite(service, led, value, sizeof value));
    EXPECT_EQ(camera->setting("HVB_LED"), value[0]);
    IOObjectRelease(service);
    camera->detach();
    ASSERT_TRUE(departed("USBCONF00001", 0));
    EXPECT_NE(hostLog().find("serving on"), std::string::npos) << hostLog();

    // What the filter applied, and the unit's directives that only systemd applies.
    std::istringstream said(output);
    for (std::string line; std::getline(said, line);)
        if (line.rfind("hvb-unit-filter: ", 0) == 0 || line.rfind("allowed for", 0) == 0) std::cout << line << "\n";
}
