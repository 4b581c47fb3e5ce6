#include "standins/camera/SimulatedUsbBus.h"

#include <algorithm>

#include "platform/iokit/kern/IOSCSIPeripheralDeviceType00.h"
#include "platform/iokit/kern/IOUSBFamily.h"

namespace hvb::sim {

namespace {

void setIdentity(IOService* entry, const CameraIdentity& identity) {
    entry->setProperty(kUSBVendorID, identity.vendorID, 16);
    entry->setProperty(kUSBProductID, identity.productID, 16);
}

}  // namespace

SimulatedUsbBus::~SimulatedUsbBus() { unplugAll(); }

bool SimulatedUsbBus::plug(const std::shared_ptr<SimulatedCamera>& camera) {
    if (!camera) return false;
    const CameraIdentity& identity = camera->identity();
    auto* device = new IOUSBDevice;
    device->init();
    device->setName(identity.productName.c_str());
    setIdentity(device, identity);
    device->setProperty(kUSBSerialNumberString, identity.serialNumber.c_str());
    device->setProperty(kUSBVendorString, identity.vendorName.c_str());
    device->setProperty(kUSBProductString, identity.productName.c_str());
    device->setProperty(kUSBDevicePropertyLocationID, identity.locationID, 32);
    device->setProperty("IOPowerManagement", uint64_t{2}, 32);  // current power state: on
    {
        std::lock_guard<std::mutex> guard(lock_);
        bool known = std::any_of(plugged_.begin(), plugged_.end(), [&](auto& p) { return p.camera == camera; });
        if (known) {
            device->release();
            return false;
        }
        plugged_.push_back({camera, device});  // keeps the creation reference
    }
    std::weak_ptr<SimulatedCamera> weak = camera;
    camera->setVanishHandler([this, weak] {
        if (auto gone = weak.lock()) unplug(gone);
    });
    if (!device->attach(IOService::getServiceRoot())) return false;

    std::vector<IOService*> chain{device};
    if (identity.productID != kWebcamProductID) {
        auto* interface = new IOUSBInterface;
        interface->init();
        setIdentity(interface, identity);
        auto* protocol = new IOUSBMassStorageClass;
        protocol->init();
        auto* nub = new IOSCSIPeripheralDeviceNub;
        nub->init();
        nub->setProperty(kIOPropertySCSIPeripheralDeviceType, uint64_t{0}, 8);
        nub->setBackend(camera);
        interface->attach(device);
        protocol->attach(interface);
        nub->attach(protocol);
        chain.push_back(interface);
        chain.push_back(protocol);
        chain.push_back(nub);
    }
    for (auto* entry : chain) entry->registerService();
    for (size_t i = 1; i < chain.size(); ++i) chain[i]->release();  // the attachments hold them
    return true;
}

bool SimulatedUsbBus::unplug(const std::shared_ptr<SimulatedCamera>& camera) {
    IOUSBDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = std::find_if(plugged_.begin(), plugged_.end(), [&](auto& p) { return p.camera == camera; });
        if (it == plugged_.end()) return false;
        device = it->device;
        plugged_.erase(it);
    }
    camera->setVanishHandler(nullptr);
    camera->markGone();
    device->terminate();
    device->release();
    return true;
}

void SimulatedUsbBus::unplugAll() {
    for (auto& camera : cameras()) unplug(camera);
}

std::vector<std::shared_ptr<SimulatedCamera>> SimulatedUsbBus::cameras() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::shared_ptr<SimulatedCamera>> out;
    for (auto& p : plugged_) out.push_back(p.camera);
    return out;
}

}  // namespace hvb::sim
