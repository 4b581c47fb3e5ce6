#include "platform/devices/linux/LinuxCameraBus.h"

#include "platform/iokit/kern/IOLib.h"
#include "platform/iokit/kern/IOSCSIPeripheralDeviceType00.h"
#include "platform/iokit/kern/IOUSBFamily.h"

namespace devices {

namespace fs = std::filesystem;

namespace {

constexpr uint16_t kWebcamProductID = 0x8612;

void setIdentity(IOService* entry, const UsbDeviceInfo& info) {
    entry->setProperty(kUSBVendorID, info.vendorID, 16);
    entry->setProperty(kUSBProductID, info.productID, 16);
}

std::string key(const fs::path& path) { return path.lexically_normal().string(); }

}  // namespace

LinuxCameraBus::LinuxCameraBus() : LinuxCameraBus(Options{}) {}

LinuxCameraBus::LinuxCameraBus(Options options) : options_(std::move(options)) {
    if (!options_.makeBackend) {
        options_.makeBackend = [](const std::string& node, const fs::path& scsiDir) {
            return std::make_shared<SgIoBackend>(node, scsiDir);
        };
    }
}

LinuxCameraBus::~LinuxCameraBus() { removeAll(); }

bool LinuxCameraBus::usbDeviceAdded(const fs::path& usbSysPath) {
    auto info = readUsbDevice(usbSysPath);
    if (!info || info->vendorID != kCameraVendorID) return false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (devices_.count(key(usbSysPath))) return false;
    }
    auto* device = new IOUSBDevice;
    device->init();
    std::string name = info->productName.empty() ? "USB device" : info->productName;
    device->setName(name.c_str());
    setIdentity(device, *info);
    if (!info->serialNumber.empty()) device->setProperty(kUSBSerialNumberString, info->serialNumber.c_str());
    if (!info->vendorName.empty()) device->setProperty(kUSBVendorString, info->vendorName.c_str());
    device->setProperty(kUSBProductString, name.c_str());
    device->setProperty(kUSBDevicePropertyLocationID, info->locationID, 32);
    device->setProperty("IOPowerManagement", uint64_t{2}, 32);
    if (!device->attach(IOService::getServiceRoot())) {
        device->release();
        return false;
    }
    IOLog("LinuxCameraBus: %s %04x:%04x serial %s at %s\n", name.c_str(), info->vendorID, info->productID,
          info->serialNumber.c_str(), usbSysPath.c_str());
    Device entry{*info, device, nullptr};
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto [it, inserted] = devices_.emplace(key(usbSysPath), entry);
        if (!inserted) {
            device->detach(IOService::getServiceRoot());
            device->release();
            return false;
        }
    }
    device->registerService();
    if (info->productID != kWebcamProductID) {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = devices_.find(key(usbSysPath));
        if (it != devices_.end()) publishStorage(it->second);
    }
    return true;
}

bool LinuxCameraBus::publishStorage(Device& device) {
    if (device.backend) return false;
    auto nodes = findScsiNodes(device.info.sysPath);
    if (!nodes) return false;  // the SCSI layer has not probed it yet; scsiGenericAdded follows
    device.backend = options_.makeBackend((options_.devRoot / nodes->genericName).string(), nodes->scsiDeviceDir);
    if (!device.backend) return false;

    auto* interface = new IOUSBInterface;
    interface->init();
    setIdentity(interface, device.info);
    auto* protocol = new IOUSBMassStorageClass;
    protocol->init();
    auto* nub = new IOSCSIPeripheralDeviceNub;
    nub->init();
    nub->setProperty(kIOPropertySCSIPeripheralDeviceType, static_cast<uint64_t>(std::max(nodes->peripheralType, 0)),
                     8);
    nub->setBackend(device.backend);
    interface->attach(device.device);
    protocol->attach(interface);
    nub->attach(protocol);
    IOLog("LinuxCameraBus: SCSI device %s, generic node %s\n", nodes->scsiDeviceDir.c_str(),
          device.backend->devicePath().c_str());
    // Registering matches drivers; they reach the device only through the backend, never the bus.
    for (IOService* entry : {static_cast<IOService*>(interface), static_cast<IOService*>(protocol),
                             static_cast<IOService*>(nub)}) {
        entry->registerService();
    }
    interface->release();
    protocol->release();
    nub->release();
    return true;
}

bool LinuxCameraBus::scsiGenericAdded(const fs::path& genericSysPath) {
    auto usb = usbDeviceAncestor(genericSysPath, options_.sysRoot);
    if (!usb) return false;
    std::lock_guard<std::mutex> guard(lock_);
    auto it = devices_.find(key(*usb));
    if (it == devices_.end() || it->second.info.productID == kWebcamProductID) return false;
    return publishStorage(it->second);
}

bool LinuxCameraBus::usbDeviceRemoved(const fs::path& usbSysPath) {
    Device device;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = devices_.find(key(usbSysPath));
        if (it == devices_.end()) return false;
        device = it->second;
        devices_.erase(it);
    }
    IOLog("LinuxCameraBus: %s left\n", usbSysPath.c_str());
    if (device.backend) device.backend->markGone();
    device.device->terminate();
    device.device->release();
    return true;
}

void LinuxCameraBus::removeAll() {
    std::vector<std::string> keys;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto& [k, d] : devices_) keys.push_back(k);
    }
    for (auto& k : keys) usbDeviceRemoved(k);
}

size_t LinuxCameraBus::deviceCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return devices_.size();
}

bool LinuxCameraBus::hasStorage(const fs::path& usbSysPath) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = devices_.find(key(usbSysPath));
    return it != devices_.end() && it->second.backend != nullptr;
}

}  // namespace devices
