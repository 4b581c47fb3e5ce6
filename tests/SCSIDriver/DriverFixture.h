#pragma once
// A simulated camera plugged into the kernel layer with the driver bundle loaded.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "SCSIDriver/HVBSCSIDriverBundle.h"
#include "SCSIDriver/HVBSCSIDriverUserClient.h"
#include "platform/foundation/Log.h"
#include "platform/iokit/link/EmbeddedLink.h"
#include "platform/iokit/user/IOKitLib.h"
#include "standins/camera/SimulatedUsbBus.h"

class DriverFixture : public ::testing::Test {
protected:
    void SetUp() override {
        foundation::setLogEchoEnabled(false);
        ASSERT_TRUE(loadHVBSCSIDriverBundle());
    }
    void TearDown() override {
        bus.unplugAll();
        for (auto* d : drivers) d->release();
    }

    std::shared_ptr<hvb::sim::SimulatedCamera> plug(uint16_t product = 0x5000, uint16_t vendor = 0x6D21) {
        hvb::sim::CameraIdentity identity;
        identity.productID = product;
        identity.vendorID = vendor;
        identity.serialNumber = "SN" + std::to_string(++serial);
        auto camera = std::make_shared<hvb::sim::SimulatedCamera>(identity);
        EXPECT_TRUE(bus.plug(camera));
        return camera;
    }

    // The driver services registered now, retained until the test ends.
    std::vector<com_brevantis_driver_HVBSCSIDriver*> driverServices() {
        OSDictionary* matching = OSDictionary::withCapacity(1);
        OSString* cls = OSString::withCString(kHVBSCSIDriverClassName);
        matching->setObject(kIOProviderClassKey, cls);
        cls->release();
        std::vector<com_brevantis_driver_HVBSCSIDriver*> out;
        for (IOService* s : IOService::copyMatchingServices(matching)) {
            out.push_back(OSDynamicCast(com_brevantis_driver_HVBSCSIDriver, s));
            drivers.push_back(s);
        }
        matching->release();
        return out;
    }

    io_service_t userService() {
        io_iterator_t it = 0;
        EXPECT_EQ(IOServiceGetMatchingServices(kIOMainPortDefault, IOServiceMatching(kHVBSCSIDriverClassName), &it),
                  kIOReturnSuccess);
        io_service_t s = IOIteratorNext(it);
        IOObjectRelease(it);
        return s;
    }

    io_connect_t connect(io_service_t service) {
        io_connect_t c = 0;
        EXPECT_EQ(IOServiceOpen(service, mach_task_self(), 0, &c), kIOReturnSuccess);
        return c;
    }

    static IOReturn call(io_connect_t c, uint32_t selector, std::vector<uint64_t> scalars = {},
                         const void* in = nullptr, size_t inSize = 0, void* out = nullptr, size_t outSize = 0) {
        size_t size = outSize;
        return IOConnectCallMethod(c, selector, scalars.data(), static_cast<uint32_t>(scalars.size()), in, inSize,
                                   nullptr, nullptr, out, out ? &size : nullptr);
    }

    hvb::sim::SimulatedUsbBus bus;
    std::vector<IOService*> drivers;
    int serial = 0;
};
