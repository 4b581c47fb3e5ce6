// Cameras found in a sysfs tree become registry entries the driver attaches to; its vendor
// commands reach the camera's SG node (the SG_IO call replaced).
#include <gtest/gtest.h>

#include <cstring>

#include "SCSIDriver/HVBSCSIDriverBundle.h"
#include "platform/devices/linux/LinuxCameraBus.h"
#include "platform/devices/linux/Sysfs.h"
#include "platform/devices/linux/UdevMonitor.h"
#include "platform/foundation/TempDir.h"
#include "platform/iokit/kern/IOService.h"
#include "platform/iokit/user/IOKitLib.h"

namespace fs = std::filesystem;

namespace {

struct FakeSysfs {
    TempDir dir;
    fs::path sys = dir / "sys";
    fs::path usb = sys / "devices/pci0000:00/0000:00:14.0/usb1/1-2";
    fs::path scsiDevice = usb / "1-2:1.0/host6/target6:0:0/6:0:0:0";

    FakeSysfs(const std::string& product = "5000", const std::string& vendor = "6d21", bool withScsi = true) {
        TempDir::write(usb / "idVendor", vendor + "\n");
        TempDir::write(usb / "idProduct", product + "\n");
        TempDir::write(usb / "serial", "HVB0123456789\n");
        TempDir::write(usb / "product", "HVB R7\n");
        TempDir::write(usb / "manufacturer", "Brevantis\n");
        TempDir::write(usb / "busnum", "1\n");
        TempDir::write(usb / "devpath", "2\n");
        TempDir::write(usb / "1-2:1.0/bInterfaceClass", "08\n");
        if (withScsi) addScsi();
    }
    void addScsi() {
        TempDir::write(scsiDevice / "type", "0\n");
        fs::create_directories(scsiDevice / "scsi_generic/sg2");
        fs::create_directories(scsiDevice / "block/sdb/sdb1");
        TempDir::write(scsiDevice / "block/sdb/sdb1/partition", "1\n");
        fs::create_directories(scsiDevice / "block/sdb/queue");
    }
};

size_t countServices(const char* className) {
    io_iterator_t it = 0;
    if (IOServiceGetMatchingServices(kIOMainPortDefault, IOServiceMatching(className), &it) != kIOReturnSuccess) {
        return 0;
    }
    size_t n = 0;
    while (io_object_t s = IOIteratorNext(it)) {
        ++n;
        IOObjectRelease(s);
    }
    IOObjectRelease(it);
    return n;
}

io_service_t firstService(const char* className) {
    io_iterator_t it = 0;
    IOServiceGetMatchingServices(kIOMainPortDefault, IOServiceMatching(className), &it);
    io_service_t first = IOIteratorNext(it);
    while (io_object_t s = IOIteratorNext(it)) IOObjectRelease(s);
    IOObjectRelease(it);
    return first;
}

}  // namespace

TEST(Sysfs, ReadsTheUsbIdentityAndItsScsiNodes) {
    FakeSysfs tree;
    auto info = devices::readUsbDevice(tree.usb);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->vendorID, 0x6D21);
    EXPECT_EQ(info->productID, 0x5000);
    EXPECT_EQ(info->serialNumber, "HVB0123456789");
    EXPECT_EQ(info->productName, "HVB R7");
    EXPECT_EQ(info->vendorName, "Brevantis");
    EXPECT_EQ(info->locationID, 0x01200000u);
    EXPECT_EQ(devices::makeLocationID(3, "2.3.1"), 0x03231000u);

    auto nodes = devices::findScsiNodes(tree.usb);
    ASSERT_TRUE(nodes);
    EXPECT_EQ(nodes->genericName, "sg2");
    EXPECT_EQ(nodes->peripheralType, 0);
    EXPECT_EQ(nodes->scsiDeviceDir, tree.scsiDevice);
    EXPECT_EQ(devices::blockDeviceNames(tree.scsiDevice), (std::vector<std::string>{"sdb", "sdb1"}));
    EXPECT_EQ(devices::usbDeviceAncestor(tree.scsiDevice / "scsi_generic/sg2", tree.sys), tree.usb);
    EXPECT_FALSE(devices::usbDeviceAncestor(tree.sys / "devices/pci0000:00", tree.sys));
}

TEST(Sysfs, GarbageAttributesAreNotADevice) {
    FakeSysfs tree;
    TempDir::write(tree.usb / "idVendor", "zz21\n");
    EXPECT_FALSE(devices::readUsbDevice(tree.usb));
    TempDir::write(tree.usb / "idVendor", "6d2100\n");
    EXPECT_FALSE(devices::readUsbDevice(tree.usb));
    TempDir::write(tree.usb / "idVendor", "6d21\n");
    TempDir::write(tree.usb / "busnum", "-1\n");
    TempDir::write(tree.usb / "devpath", "x.y\n");
    auto info = devices::readUsbDevice(tree.usb);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->locationID, 0u);
    EXPECT_FALSE(devices::readUsbDevice(tree.dir / "nothing"));
}

TEST(LinuxCameraBusTest, StorageCameraGetsTheDriverAndItsCommandsReachSgIo) {
    ASSERT_TRUE(loadHVBSCSIDriverBundle());
    FakeSysfs tree;
    std::vector<std::vector<uint8_t>> cdbs;
    std::shared_ptr<devices::SgIoBackend> backend;
    devices::LinuxCameraBus::Options options;
    options.sysRoot = tree.sys;
    options.devRoot = "/dev";
    options.makeBackend = [&](const std::string& node, const fs::path& scsiDir) {
        backend = std::make_shared<devices::SgIoBackend>(node, scsiDir);
        backend->setSystemCalls([](const std::string& path) { return path == "/dev/sg2" ? 7 : -1; },
                                [&](int, sg_io_hdr_t* hdr) {
                                    cdbs.emplace_back(hdr->cmdp, hdr->cmdp + hdr->cmd_len);
                                    if (hdr->dxfer_direction == SG_DXFER_FROM_DEV && hdr->dxfer_len >= 16) {
                                        uint8_t reply[16] = {16, 0, 0, 0, 0, 0, 0, 0, 5};
                                        std::memcpy(hdr->dxferp, reply, 16);
                                    }
                                    return 0;
                                },
                                [](int) {});
        return backend;
    };
    {
        devices::LinuxCameraBus bus(options);
        ASSERT_TRUE(bus.usbDeviceAdded(tree.usb));
        EXPECT_FALSE(bus.usbDeviceAdded(tree.usb));  // seen twice: once
        EXPECT_TRUE(bus.hasStorage(tree.usb));
        ASSERT_TRUE(backend);
        EXPECT_EQ(backend->devicePath(), "/dev/sg2");

        io_service_t usbDevice = firstService("IOUSBDevice");
        ASSERT_NE(usbDevice, 0u);
        io_name_t name;
        ASSERT_EQ(IORegistryEntryGetName(usbDevice, name), kIOReturnSuccess);
        EXPECT_STREQ(name, "HVB R7");
        auto serial = IORegistryEntryCreateCFProperty(usbDevice, "USB Serial Number");
        ASSERT_TRUE(iokit::asString(serial));
        EXPECT_EQ(*iokit::asString(serial), "HVB0123456789");
        auto product = IORegistryEntryCreateCFProperty(usbDevice, "idProduct");
        ASSERT_TRUE(iokit::asNumber(product));
        EXPECT_EQ(iokit::asNumber(product)->value, 0x5000u);
        IOObjectRelease(usbDevice);

        io_service_t driver = firstService(kHVBSCSIDriverClassName);
        ASSERT_NE(driver, 0u);
        auto bsd = IORegistryEntrySearchCFProperty(driver, kIOServicePlane, "BSD Name", kIORegistryIterateRecursively);
        ASSERT_TRUE(iokit::asString(bsd));
        EXPECT_EQ(*iokit::asString(bsd), "sdb");
        auto upSerial = IORegistryEntrySearchCFProperty(driver, kIOServicePlane, "USB Serial Number",
                                                        kIORegistryIterateRecursively | kIORegistryIterateParents);
        ASSERT_TRUE(iokit::asString(upSerial));

        io_connect_t connection = 0;
        ASSERT_EQ(IOServiceOpen(driver, mach_task_self(), 0, &connection), kIOReturnSuccess);
        ASSERT_EQ(IOConnectCallMethod(connection, 0, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
                  kIOReturnSuccess);
        uint64_t scalars[3] = {0, 16, 4};
        uint8_t reply[256] = {};
        size_t replySize = sizeof reply;
        ASSERT_EQ(IOConnectCallMethod(connection, 5, scalars, 3, nullptr, 0, nullptr, nullptr, reply, &replySize),
                  kIOReturnSuccess);
        EXPECT_EQ(replySize, 256u);
        EXPECT_EQ(reply[0], 16);
        EXPECT_EQ(reply[8], 5);
        ASSERT_FALSE(cdbs.empty());
        EXPECT_EQ(cdbs.back(), (std::vector<uint8_t>{0xC5, 0x07, 0, 0, 0, 0, 0, 0, 0, 0x10, 0xFF, 0x04, 0, 0, 0, 0}));
        IOServiceClose(connection);
        IOObjectRelease(driver);

        EXPECT_TRUE(bus.usbDeviceRemoved(tree.usb));
        EXPECT_TRUE(backend->isGone());
        EXPECT_EQ(countServices(kHVBSCSIDriverClassName), 0u);
        EXPECT_EQ(countServices("IOUSBDevice"), 0u);
        EXPECT_FALSE(bus.usbDeviceRemoved(tree.usb));
    }
}

TEST(LinuxCameraBusTest, WebcamOtherVendorsAndLateScsiNodes) {
    ASSERT_TRUE(loadHVBSCSIDriverBundle());
    {
        FakeSysfs webcam("8612");
        devices::LinuxCameraBus bus({webcam.sys, "/dev", nullptr});
        ASSERT_TRUE(bus.usbDeviceAdded(webcam.usb));
        EXPECT_FALSE(bus.hasStorage(webcam.usb));  // webcam mode: the USB device only
        EXPECT_EQ(countServices("IOUSBDevice"), 1u);
        EXPECT_EQ(countServices("IOSCSIPeripheralDeviceNub"), 0u);
    }
    EXPECT_EQ(countServices("IOUSBDevice"), 0u);  // the bus removed it on the way out
    {
        FakeSysfs other("5000", "1234");
        devices::LinuxCameraBus bus({other.sys, "/dev", nullptr});
        EXPECT_FALSE(bus.usbDeviceAdded(other.usb));
        EXPECT_EQ(bus.deviceCount(), 0u);
    }
    {
        FakeSysfs late("5001", "6d21", false);
        devices::LinuxCameraBus bus({late.sys, "/dev", nullptr});
        ASSERT_TRUE(bus.usbDeviceAdded(late.usb));
        EXPECT_FALSE(bus.hasStorage(late.usb));
        EXPECT_EQ(countServices(kHVBSCSIDriverClassName), 0u);
        late.addScsi();
        EXPECT_TRUE(bus.scsiGenericAdded(late.scsiDevice / "scsi_generic/sg2"));
        EXPECT_TRUE(bus.hasStorage(late.usb));
        EXPECT_EQ(countServices(kHVBSCSIDriverClassName), 1u);
        EXPECT_FALSE(bus.scsiGenericAdded(late.scsiDevice / "scsi_generic/sg2"));  // once
    }
    EXPECT_EQ(countServices(kHVBSCSIDriverClassName), 0u);
}

TEST(UdevMonitorTest, StartsAndStopsWhateverTheMachineHas) {
    // No camera is attached to a build machine; udev may not even be reachable in a container.
    devices::LinuxCameraBus bus;
    devices::UdevMonitor monitor(bus);
    bool started = monitor.start();
    if (!started) {
        EXPECT_FALSE(monitor.error().empty());
    } else {
        EXPECT_TRUE(monitor.start());  // a second start changes nothing
    }
    monitor.stop();
    EXPECT_FALSE(monitor.isMonitoring());
    monitor.stop();
}
