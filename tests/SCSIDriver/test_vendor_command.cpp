// The vendor command block, probing, and the driver's transfer results.
#include <algorithm>
#include <mutex>

#include "DriverFixture.h"
#include "platform/iokit/kern/IOSCSIPeripheralDeviceType00.h"

using Cdb = SCSICommandDescriptorBlock;

TEST(VendorCdb, KindAndRequestTypeChooseBytes10And11AndTheDirection) {
    struct Row {
        M37Kind kind;
        UInt8 type;
        UInt8 fcm;
        UInt8 b10, b11, direction;
    };
    const Row rows[] = {
        {M37KindRead, kM37RequestStatus, 4, 0xFF, 0x04, kSCSIDataTransfer_FromTargetToInitiator},
        {M37KindRead, kM37RequestRead, 2, 0x02, 0x02, kSCSIDataTransfer_FromTargetToInitiator},
        {M37KindRead, kM37RequestWrite, 9, 0x00, 0x00, kSCSIDataTransfer_FromTargetToInitiator},
        {M37KindRead, kM37RequestInit, 9, 0x00, 0x00, kSCSIDataTransfer_FromTargetToInitiator},
        {M37KindWrite, kM37RequestWrite, 0x77, 0x02, 0x03, kSCSIDataTransfer_FromInitiatorToTarget},
        {M37KindWrite, kM37RequestRead, 0, 0x02, 0x03, kSCSIDataTransfer_FromInitiatorToTarget},
        {M37KindInit, kM37RequestInit, 5, 0x00, 0x00, kSCSIDataTransfer_NoDataTransfer},
    };
    for (const Row& r : rows) {
        M37Command c = vendorCdb(r.kind, r.type, 0x38, 0x01020304, r.fcm);
        EXPECT_EQ(c.cdb, (Cdb{0xC5, 0x07, 0, 0, 0, 0, 1, 2, 3, 4, r.b10, r.b11, 0x38, 0, 0, 0}))
            << int(r.kind) << "/" << int(r.type);
        EXPECT_EQ(c.direction, r.direction);
    }
}

TEST_F(DriverFixture, ProbeMatchesTheStorageProductRangeOfTheVendorOnly) {
    struct Case {
        uint16_t vendor, product;
        bool matched;
    };
    for (Case c : {Case{0x6D21, 0x5000, true}, Case{0x6D21, 0x54FF, true}, Case{0x6D21, 0x4FFF, false},
                   Case{0x6D21, 0x5500, false}, Case{0x1234, 0x5000, false}}) {
        auto camera = plug(c.product, c.vendor);
        EXPECT_EQ(driverServices().size(), c.matched ? 1u : 0u) << std::hex << c.vendor << ":" << c.product;
        bus.unplug(camera);
        EXPECT_EQ(driverServices().size(), 0u);
    }
}

TEST_F(DriverFixture, DriverCarriesThePersonalityButReadsTheRealProductFromAncestors) {
    auto camera = plug(0x54FF);
    auto drivers = driverServices();
    ASSERT_EQ(drivers.size(), 1u);
    auto* own = OSDynamicCast(OSNumber, drivers[0]->getProperty("idProduct"));
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->unsigned32BitValue(), 0x5000u);
    auto* real = OSDynamicCast(OSNumber, drivers[0]->getParentProperty("idProduct"));
    ASSERT_NE(real, nullptr);
    EXPECT_EQ(real->unsigned32BitValue(), 0x54FFu);
    EXPECT_EQ(drivers[0]->getParentProperty("IOUserClientClass"), nullptr);  // its own table is skipped
    auto* userClient = OSDynamicCast(OSString, drivers[0]->getProperty("IOUserClientClass"));
    ASSERT_NE(userClient, nullptr);
    EXPECT_TRUE(userClient->isEqualTo(kHVBSCSIDriverUserClientClassName));
}

TEST_F(DriverFixture, NubsWithoutAUsableVendorAreLeftAlone) {
    for (int variant = 0; variant < 2; ++variant) {
        auto* parent = new IOService;
        parent->init();
        if (variant == 1) parent->setProperty("idVendor", "6D21");  // not a number
        parent->setProperty("idProduct", uint64_t{0x5000}, 16);
        ASSERT_TRUE(parent->attach(IOService::getServiceRoot()));
        auto* nub = new IOSCSIPeripheralDeviceNub;
        nub->init();
        nub->setProperty(kIOPropertySCSIPeripheralDeviceType, uint64_t{0}, 8);
        nub->setBackend(std::make_shared<hvb::sim::SimulatedCamera>());
        ASSERT_TRUE(nub->attach(parent));
        nub->registerService();
        EXPECT_EQ(nub->getClient(), nullptr);
        EXPECT_EQ(driverServices().size(), 0u);
        parent->terminate();
        parent->release();
        nub->release();
    }
}

TEST_F(DriverFixture, AFailedBaseStartIsReportedAndNothingRegisters) {
    std::mutex lock;
    std::vector<std::string> lines;
    int token = foundation::addLogSink([&](foundation::LogChannel, const std::string& line) {
        std::lock_guard<std::mutex> g(lock);
        lines.push_back(line);
    });
    IOSCSIPeripheralDeviceType00::failNextStart();
    plug();
    foundation::removeLogSink(token);
    EXPECT_EQ(driverServices().size(), 0u);
    // The source is named as the driver's path, without an extension.
    const std::string expected =
        "AssertMacros: super::start ( provider ),  file: SCSIDriver/HVBSCSIDriver, line: 23, value: 0";
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end());
}

TEST_F(DriverFixture, DriverResultsFollowResponseAndStatusAndRefusalsSendNothing) {
    auto camera = plug();
    auto drivers = driverServices();
    ASSERT_EQ(drivers.size(), 1u);
    auto* driver = drivers[0];
    camera->setReplyText(0x28, "HVBR7-long-reply");
    camera->setShortTransfer(3);
    uint8_t reply[20] = {};
    IOMemoryDescriptor* in = IOMemoryDescriptor::withAddress(reply, sizeof reply, kIODirectionIn);
    EXPECT_EQ(driver->M37Read(in, 0x28, 20, 1, kM37RequestRead), kIOReturnSuccess);
    EXPECT_EQ(driver->M37Read(in, 0x28, 20, 2, kM37RequestRead), kIOReturnSuccess);  // short, status good
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), 4), std::string("HVB\0", 4));
    camera->setShortTransfer(std::nullopt);

    // A read of another request type carries 00 00, which no camera accepts.
    camera->clearLog();
    EXPECT_EQ(driver->M37Read(in, 0x28, 20, 9, kM37RequestWrite), kIOReturnNotPermitted);
    ASSERT_EQ(camera->log().size(), 1u);
    EXPECT_EQ(camera->log()[0].cdb[10], 0x00);
    EXPECT_EQ(camera->log()[0].cdb[11], 0x00);
    EXPECT_EQ(camera->log()[0].status, kSCSITaskStatus_CHECK_CONDITION);

    // A write sends 03 whatever it is given.
    const uint8_t payload[4] = {9, 8, 7, 6};
    IOMemoryDescriptor* out = IOMemoryDescriptor::withAddress(const_cast<uint8_t*>(payload), 4, kIODirectionOut);
    camera->clearLog();
    EXPECT_EQ(driver->M37Write(out, 0x36, 4, 0x55, kM37RequestWrite), kIOReturnSuccess);
    ASSERT_EQ(camera->log().size(), 1u);
    EXPECT_EQ(camera->log()[0].cdb[11], 0x03);
    EXPECT_EQ(camera->lastWrite(0x36), std::vector<uint8_t>({9, 8, 7, 6}));

    camera->clearLog();
    EXPECT_EQ(driver->M37Read(nullptr, 0x28, 20, 2, kM37RequestRead), kIOReturnBadArgument);
    EXPECT_EQ(driver->M37Write(nullptr, 0x28, 20, 2, kM37RequestWrite), kIOReturnBadArgument);
    driver->setTaskPoolSize(0);
    EXPECT_EQ(driver->M37Write(out, 0x36, 4, 0, kM37RequestWrite), kIOReturnBadArgument);
    driver->setTaskPoolSize(IOSCSIPeripheralDeviceType00::kDefaultTaskPoolSize);
    IOMemoryDescriptor::failNextPrepare();
    EXPECT_EQ(driver->M37Write(out, 0x36, 4, 0, kM37RequestWrite), kIOReturnError);
    EXPECT_FALSE(out->isPrepared());
    EXPECT_TRUE(camera->log().empty());
    EXPECT_EQ(driver->M37Init(), kIOReturnSuccess);
    ASSERT_EQ(camera->log().size(), 1u);
    EXPECT_EQ(camera->log()[0].kind, hvb::sim::BlockKind::init);
    in->release();
    out->release();
}
