// The user client over the embedded link: the four blocks on the wire, dispatch rows, the
// open policy, unplugging, and the length limit.
#include <array>
#include <atomic>
#include <future>
#include <thread>

#include "DriverFixture.h"

using Cdb = SCSICommandDescriptorBlock;
using hvb::sim::BlockKind;

namespace {
const uint64_t kStatusScalars[3] = {0, 16, 4};
}

TEST_F(DriverFixture, TheFourBlocksReachTheCameraByteForByte) {
    auto camera = plug();
    camera->setReplyText(0x35, "1.6.01");
    io_service_t service = userService();
    io_connect_t c = connect(service);
    ASSERT_EQ(call(c, 0), kIOReturnSuccess);

    std::array<uint8_t, 256> in{};
    in[0] = 0x11;
    in[3] = 0x44;
    in[4] = 0x55;  // beyond the length: must not reach the camera
    EXPECT_EQ(call(c, 4, {0x36, 4}, in.data(), in.size()), kIOReturnSuccess);
    std::array<uint8_t, 256> out{};
    EXPECT_EQ(call(c, 3, {0x35, 30, 1}, nullptr, 0, out.data(), out.size()), kIOReturnSuccess);
    EXPECT_EQ(call(c, 3, {0x35, 30, 2}, nullptr, 0, out.data(), out.size()), kIOReturnSuccess);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data())), "1.6.01");
    EXPECT_TRUE(std::all_of(out.begin() + 30, out.end(), [](uint8_t b) { return b == 0; }));
    out.fill(0xCC);
    EXPECT_EQ(call(c, 5, {0, 16, 4}, nullptr, 0, out.data(), out.size()), kIOReturnSuccess);
    EXPECT_EQ(out[0], 16);
    EXPECT_EQ(out[8], 1);
    EXPECT_EQ(out[16], 0);  // past the 16 bytes: zeros, not what the caller had
    EXPECT_EQ(call(c, 2), kIOReturnSuccess);

    auto log = camera->log();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0].cdb, (Cdb{0xC5, 0x07, 0, 0, 0, 0, 0, 0, 0, 4, 0x02, 0x03, 0x36, 0, 0, 0}));
    EXPECT_EQ(log[0].direction, kSCSIDataTransfer_FromInitiatorToTarget);
    EXPECT_EQ(log[0].data, std::vector<uint8_t>({0x11, 0, 0, 0x44}));
    EXPECT_EQ(log[1].cdb, (Cdb{0xC5, 0x07, 0, 0, 0, 0, 0, 0, 0, 30, 0x02, 0x01, 0x35, 0, 0, 0}));
    EXPECT_EQ(log[2].cdb, (Cdb{0xC5, 0x07, 0, 0, 0, 0, 0, 0, 0, 30, 0x02, 0x02, 0x35, 0, 0, 0}));
    EXPECT_EQ(log[2].direction, kSCSIDataTransfer_FromTargetToInitiator);
    EXPECT_EQ(log[3].cdb, (Cdb{0xC5, 0x07, 0, 0, 0, 0, 0, 0, 0, 0x10, 0xFF, 0x04, 0, 0, 0, 0}));
    EXPECT_EQ(log[3].direction, kSCSIDataTransfer_FromTargetToInitiator);
    EXPECT_EQ(log[3].data.size(), 16u);
    EXPECT_EQ(log[4].cdb, (Cdb{0xC5, 0x07, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(log[4].direction, kSCSIDataTransfer_NoDataTransfer);
    for (auto& record : log) EXPECT_EQ(record.status, kSCSITaskStatus_GOOD);
    IOServiceClose(c);
    IOObjectRelease(service);
}

TEST_F(DriverFixture, ZeroLengthTransfersHaveNoDataPhase) {
    auto camera = plug();
    io_service_t service = userService();
    io_connect_t c = connect(service);
    ASSERT_EQ(call(c, 0), kIOReturnSuccess);
    std::array<uint8_t, 256> in{};
    EXPECT_EQ(call(c, 4, {0x5B, 0}, in.data(), in.size()), kIOReturnSuccess);
    auto log = camera->log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].kind, BlockKind::write);
    EXPECT_EQ(log[0].length(), 0u);
    EXPECT_EQ(log[0].direction, kSCSIDataTransfer_NoDataTransfer);
    EXPECT_TRUE(log[0].data.empty());
    IOServiceClose(c);
    IOObjectRelease(service);
}

TEST_F(DriverFixture, DispatchRowsAreExactAndCheckedBeforeAnythingRuns) {
    auto camera = plug();
    io_service_t service = userService();
    io_connect_t c = connect(service);
    ASSERT_EQ(call(c, 0), kIOReturnSuccess);
    std::array<uint8_t, 257> big{};
    EXPECT_EQ(call(c, 3, {0x35, 20}, nullptr, 0, big.data(), 256), kIOReturnBadArgument);
    EXPECT_EQ(call(c, 3, {0x35, 20, 2}, nullptr, 0, big.data(), 255), kIOReturnBadArgument);
    EXPECT_EQ(call(c, 3, {0x35, 20, 2}, nullptr, 0, big.data(), 257), kIOReturnBadArgument);
    EXPECT_EQ(call(c, 4, {0x36, 4}, big.data(), 255), kIOReturnBadArgument);
    EXPECT_EQ(call(c, 4, {0x36, 4, 0}, big.data(), 256), kIOReturnBadArgument);
    EXPECT_EQ(call(c, 5, {0, 16, 4}, nullptr, 0, big.data(), 16), kIOReturnBadArgument);
    EXPECT_EQ(call(c, 0, {1}), kIOReturnBadArgument);
    EXPECT_EQ(call(c, 6), kIOReturnUnsupported);  // no row: the base's answer
    EXPECT_EQ(call(c, 200, {1, 2, 3}), kIOReturnUnsupported);
    EXPECT_TRUE(camera->log().empty());
    IOServiceClose(c);
    IOObjectRelease(service);
}

TEST_F(DriverFixture, LengthsAbove256AreRefusedWithNothingSent) {
    auto camera = plug();
    io_service_t service = userService();
    io_connect_t c = connect(service);
    ASSERT_EQ(call(c, 0), kIOReturnSuccess);
    std::array<uint8_t, 256> buf{};
    EXPECT_EQ(call(c, 4, {0x36, 257}, buf.data(), buf.size()), kIOReturnBadArgument);
    EXPECT_EQ(call(c, 3, {0x35, 257, 1}, nullptr, 0, buf.data(), buf.size()), kIOReturnBadArgument);
    EXPECT_EQ(call(c, 5, {0, 0x100000010ull, 4}, nullptr, 0, buf.data(), buf.size()), kIOReturnSuccess)
        << "only the low 32 bits count: 16";
    EXPECT_EQ(call(c, 5, {0, 0xFFFFFFFFull, 4}, nullptr, 0, buf.data(), buf.size()), kIOReturnBadArgument);
    auto log = camera->log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].kind, BlockKind::status);
    IOServiceClose(c);
    IOObjectRelease(service);
}

TEST_F(DriverFixture, ReadsCopyTheirLengthWhateverTheResult) {
    auto camera = plug();
    camera->refuseCode(0x44, 2);
    io_service_t service = userService();
    io_connect_t c = connect(service);
    ASSERT_EQ(call(c, 0), kIOReturnSuccess);
    std::array<uint8_t, 256> out{};
    out.fill(0xCC);
    EXPECT_EQ(call(c, 3, {0x44, 30, 1}, nullptr, 0, out.data(), out.size()), kIOReturnSuccess);
    EXPECT_EQ(out[0], hvb::sim::SimulatedCamera::kPhase1Fill);
    out.fill(0xCC);
    EXPECT_EQ(call(c, 3, {0x44, 30, 2}, nullptr, 0, out.data(), out.size()), kIOReturnNotPermitted);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0; }));

    IOMemoryDescriptor::failNextWithAddress();
    EXPECT_EQ(call(c, 3, {0x44, 30, 1}, nullptr, 0, out.data(), out.size()), kIOReturnError);
    IOMemoryDescriptor::failNextPrepare();
    EXPECT_EQ(call(c, 4, {0x36, 4}, out.data(), out.size()), kIOReturnError);
    EXPECT_EQ(camera->log().size(), 2u);  // neither failure reached the camera
    IOServiceClose(c);
    IOObjectRelease(service);
}

TEST_F(DriverFixture, OneConnectionOpensTheDriverAtATime) {
    auto camera = plug();
    io_service_t service = userService();
    io_connect_t a = connect(service);
    io_connect_t b = connect(service);
    std::array<uint8_t, 256> out{};
    EXPECT_EQ(call(a, 5, {0, 16, 4}, nullptr, 0, out.data(), out.size()), kIOReturnNotOpen);
    EXPECT_EQ(call(a, 1), kIOReturnNotOpen);
    EXPECT_EQ(call(a, 0), kIOReturnSuccess);
    EXPECT_EQ(call(b, 0), kIOReturnExclusiveAccess);
    EXPECT_EQ(call(b, 5, {0, 16, 4}, nullptr, 0, out.data(), out.size()), kIOReturnNotOpen);
    EXPECT_EQ(call(a, 5, {0, 16, 4}, nullptr, 0, out.data(), out.size()), kIOReturnSuccess);
    EXPECT_EQ(call(a, 1), kIOReturnSuccess);
    EXPECT_EQ(call(b, 0), kIOReturnSuccess);
    EXPECT_EQ(call(a, 0), kIOReturnExclusiveAccess);
    // Closing the connection releases the driver for the next one at once.
    IOServiceClose(b);
    EXPECT_EQ(call(a, 0), kIOReturnSuccess);
    IOServiceClose(a);
    EXPECT_EQ(camera->log().size(), 1u);
    IOObjectRelease(service);
}

TEST_F(DriverFixture, AfterAnUnplugTransfersAnswerNotAttachedAndTheDriverIsClosed) {
    auto camera = plug();
    auto drivers = driverServices();
    ASSERT_EQ(drivers.size(), 1u);
    io_service_t service = userService();
    io_connect_t c = connect(service);
    ASSERT_EQ(call(c, 0), kIOReturnSuccess);
    EXPECT_TRUE(drivers[0]->isOpen());
    ASSERT_TRUE(bus.unplug(camera));
    EXPECT_TRUE(drivers[0]->isInactive());
    EXPECT_FALSE(drivers[0]->isOpen());  // the client closed it as the camera went
    std::array<uint8_t, 256> out{};
    EXPECT_EQ(call(c, 5, {0, 16, 4}, nullptr, 0, out.data(), out.size()), kIOReturnNotAttached);
    EXPECT_EQ(call(c, 0), kIOReturnNotAttached);
    EXPECT_EQ(IOServiceClose(c), kIOReturnSuccess);  // safe with the camera gone
    io_connect_t again = 0;
    EXPECT_NE(IOServiceOpen(service, mach_task_self(), 0, &again), kIOReturnSuccess);
    EXPECT_EQ(userService(), 0u);
    IOObjectRelease(service);
}

TEST_F(DriverFixture, ClosingAfterTheCameraWentIsSafeWithNoOtherHoldOnTheDriver) {
    // Nothing but the user client keeps the driver alive here once the camera is gone.
    auto camera = plug();
    io_service_t service = userService();
    io_connect_t c = connect(service);
    ASSERT_EQ(call(c, 0), kIOReturnSuccess);
    IOObjectRelease(service);
    bus.unplug(camera);
    std::array<uint8_t, 256> in{};
    EXPECT_EQ(call(c, 4, {0x36, 4}, in.data(), in.size()), kIOReturnNotAttached);
    EXPECT_EQ(IOServiceClose(c), kIOReturnSuccess);
}

TEST_F(DriverFixture, ADroppedApplicationReleasesTheDriver) {
    auto camera = plug();
    auto drivers = driverServices();
    ASSERT_EQ(drivers.size(), 1u);
    {
        auto peer = std::make_shared<iokit::EmbeddedLink>();
        iokit::MatchingDictionary matching;
        matching.providerClass = kHVBSCSIDriverClassName;
        std::vector<iokit::Handle> services;
        ASSERT_EQ(peer->getMatchingServices(matching, &services), kIOReturnSuccess);
        ASSERT_EQ(services.size(), 1u);
        iokit::Handle connection = 0;
        ASSERT_EQ(peer->openConnection(services[0], 0, &connection), kIOReturnSuccess);
        iokit::CallResult result;
        ASSERT_EQ(peer->callMethod(connection, 0, {}, {}, 0, 0, &result), kIOReturnSuccess);
        EXPECT_TRUE(drivers[0]->isOpen());
        peer->disconnect();  // the application died with the connection open
    }
    EXPECT_FALSE(drivers[0]->isOpen());
    io_service_t service = userService();
    io_connect_t c = connect(service);
    EXPECT_EQ(call(c, 0), kIOReturnSuccess);
    IOServiceClose(c);
    IOObjectRelease(service);
}

TEST_F(DriverFixture, ClosingOrUnpluggingDuringACommandIsSafe) {
    for (int variant = 0; variant < 2; ++variant) {
        auto camera = plug();
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<bool> inside{false};
        camera->setReadHandler(0x28, [&](hvb::sim::SimulatedCamera&, uint8_t) -> std::optional<std::vector<uint8_t>> {
            inside = true;
            released.wait();  // the command is still running inside the camera
            return std::vector<uint8_t>{'o', 'k'};
        });
        io_service_t service = userService();
        io_connect_t c = connect(service);
        ASSERT_EQ(call(c, 0), kIOReturnSuccess);
        std::array<uint8_t, 256> out{};
        std::thread reader([&] {
            call(c, 3, {0x28, 20, 1}, nullptr, 0, out.data(), out.size());
            call(c, 3, {0x28, 20, 2}, nullptr, 0, out.data(), out.size());
        });
        while (!inside) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::thread closer([&] {
            if (variant == 0) IOServiceClose(c);
            else bus.unplug(camera);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        release.set_value();
        reader.join();
        closer.join();
        if (variant == 0) {
            // The closed connection released the driver once its command had ended.
            io_connect_t next = connect(service);
            EXPECT_EQ(call(next, 0), kIOReturnSuccess);
            IOServiceClose(next);
        } else {
            EXPECT_EQ(call(c, 0), kIOReturnNotAttached);
            IOServiceClose(c);
        }
        IOObjectRelease(service);
        bus.unplugAll();
    }
}
