#include "camera/USBWatcherHandler.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "camera/DeviceState.h"
#include "camera/RegistryReader.h"
#include "camera/Shell.h"
#include "camera/USBEventManager.h"
#include "camera/USBWatcher.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"

namespace hvb {

namespace {

bool hasSerial(const USBDevice& info) { return info.serialNr && !info.serialNr->empty(); }

// A camera is a device named "HVB..." that has a serial number (absent or empty: none).
bool isNamedCamera(const USBDevice& info) { return info.name.find("HVB") != std::string::npos && hasSerial(info); }

std::shared_ptr<USBDevice> cameraDescription(io_object_t device) {
    auto info = USBWatcher::makeUSBDevice(device);
    return info && isNamedCamera(*info) ? info : nullptr;
}

bool isListed(const std::string& serial) {
    const auto entries = DeviceState::shared().deviceEntryList();
    return std::any_of(entries.begin(), entries.end(), [&](const DeviceEntry& e) { return e.serialNumber == serial; });
}

}  // namespace

USBWatcherHandler& USBWatcherHandler::shared() { return *sharedPointer(); }

std::shared_ptr<USBWatcherHandler> USBWatcherHandler::sharedPointer() {
    static auto* handler = new std::shared_ptr<USBWatcherHandler>(std::make_shared<USBWatcherHandler>());
    return *handler;
}

void USBWatcherHandler::usbDeviceAdded(io_object_t device) { inOrder(device, &USBWatcherHandler::deviceAdded); }

void USBWatcherHandler::usbDeviceRemoved(io_object_t device) { inOrder(device, &USBWatcherHandler::deviceRemoved); }

void USBWatcherHandler::driverServiceMatched(io_service_t service) {
    inOrder(service, &USBWatcherHandler::serviceMatched);
}

void USBWatcherHandler::inOrder(io_object_t object, Step step) {
    if (!reading_ && waiting_.empty()) {
        (this->*step)(object);
        return;
    }
    if (IOObjectRetain(object) != kIOReturnSuccess) return;
    waiting_.emplace_back(object, step);
}

void USBWatcherHandler::runWaiting() {
    if (draining_) return;
    draining_ = true;
    while (!reading_ && !waiting_.empty()) {
        auto [object, step] = waiting_.front();
        waiting_.pop_front();
        (this->*step)(object);
        IOObjectRelease(object);
    }
    draining_ = false;
}

void USBWatcherHandler::deviceAdded(io_object_t device) {
    auto info = cameraDescription(device);
    if (!info) return;
    const std::string serial = *info->serialNr;
    bool created = false;
    auto model = DeviceState::shared().ensureModel(serial, &created);
    if (created) postStatusDidGet();
    const bool webcam = info->productId == kWebcamProductID;
    model->setUsbInfo(info);
    model->isWebcamMode = webcam;
    postStatusDidGet();
    model->isModeChanging = false;
    if (!webcam) {
        deviceCnt += 1;
        std::string mountPoint = model->mountPoint();
        if (!mountPoint.empty()) Shell::shared().run({"diskutil", "mount", mountPoint});
    } else {
        webcamCnt += 1;
    }
    foundation::systemLog(foundation::escapedForLog(info->name));
}

void USBWatcherHandler::deviceRemoved(io_object_t device) {
    auto info = USBWatcher::makeUSBDevice(device);
    if (!info) return;
    if (!isNamedCamera(*info)) {
        withdrawUnnamedCamera(*info, device);
        return;
    }
    const std::string serial = *info->serialNr;
    const bool webcam = info->productId == kWebcamProductID;
    // A camera that left and came back can be matched again before its departure is handled
    // here: the departure then belongs to the old connection and leaves the new one's model,
    // service and entry alone. Placeholder serials are told apart by their disks instead.
    const bool back = !webcam && serial != kPlaceholderSerialNumber && isMatchedAgain(serial);
    if (back) {
        foundation::systemLog("Back already = " + foundation::escapedForLog(serial));
        deviceCnt -= 1;
        foundation::systemLog(foundation::escapedForLog(info->name));
        return;
    }
    withdraw(device, serial, !webcam);
    if (webcam) webcamCnt -= 1;
    else deviceCnt -= 1;
    foundation::systemLog(foundation::escapedForLog(info->name));
}

void USBWatcherHandler::withdraw(io_object_t device, const std::string& serial, bool listed) {
    auto model = DeviceState::shared().findModel(serial);
    if (model && !model->isModeChanging) {
        DeviceState::shared().removeModels(serial);
        postStatusDidGet();
    }
    clearDeviceService();
    if (!listed) return;
    noteDeparture(serial);
    USBEventManager::shared().removeDevice(device, serial);
}

void USBWatcherHandler::noteDeparture(const std::string& serial) {
    std::lock_guard<std::mutex> guard(lock_);
    if (auto it = matches_.find(serial); it != matches_.end()) it->second.departed = true;
}

// The driver matches by vendor and product, not by name: a camera whose product name lacks
// "HVB" is brought up all the same, so it is withdrawn all the same. Its arrival was not
// counted, so neither is its departure.
void USBWatcherHandler::withdrawUnnamedCamera(const USBDevice& info, io_object_t device) {
    if (!hasSerial(info) || info.productId == kWebcamProductID) return;
    const std::string serial = *info.serialNr;
    const bool listed = isListed(serial);
    if (!listed && !DeviceState::shared().findModel(serial)) return;
    withdraw(device, serial, listed);
    foundation::systemLog(foundation::escapedForLog(info.name));
}

void USBWatcherHandler::serviceMatched(io_service_t service) {
    auto serial = USBWatcher::readSerialNumber(service);
    if (!serial || serial->empty()) return;
    bool created = false;
    DeviceState::shared().ensureModel(*serial, &created);
    if (created) postStatusDidGet();
    uint64_t id = 0;
    std::optional<Match> previous;
    if (IORegistryEntryGetRegistryEntryID(service, &id) == kIOReturnSuccess) {
        std::lock_guard<std::mutex> guard(lock_);
        if (auto it = matches_.find(*serial); it != matches_.end()) previous = it->second;
        matches_[*serial] = Match{id, false};
    }
    if (previous && previous->serviceID != id && *serial != kPlaceholderSerialNumber && isListed(*serial)) {
        if (!previous->departed) {
            // Back before its departure was handled: the old entry goes first (a held one
            // stays, as through a departure), so the camera is read afresh.
            USBEventManager::shared().removeDevice(IO_OBJECT_NULL, *serial);
        } else {
            // Its departure was handled once already, and a hold kept the entry: that entry is
            // only dropped when the hold has been lifted meanwhile.
            USBEventManager::shared().withdrawIfReleased(deviceKey(*serial, ""));
        }
    }
    // The service is made the last matched one when its bring-up has ended on the main queue: a
    // waiter that sees it then finds the camera's record too, as when the read held this thread.
    const bool held = IOObjectRetain(service) == kIOReturnSuccess;
    reading_ = true;
    USBEventManager::shared().addDevice(service, deviceCnt.load(), *serial, [this, service, held] {
        setDeviceService(held ? service : IO_OBJECT_NULL);
        if (held) IOObjectRelease(service);
        reading_ = false;
        runWaiting();
    });
}

bool USBWatcherHandler::isMatchedAgain(const std::string& serial) const {
    uint64_t matched = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = matches_.find(serial);
        if (it == matches_.end()) return false;
        matched = it->second.serviceID;
    }
    bool again = false;
    auto services = RegistryReader::driverServices();
    for (io_service_t service : services) {
        uint64_t id = 0;
        if (RegistryReader::serialNumber(service) == serial &&
            IORegistryEntryGetRegistryEntryID(service, &id) == kIOReturnSuccess && id == matched)
            again = true;
    }
    RegistryReader::release(services);
    return again;
}

bool USBWatcherHandler::hasDeviceService() const {
    std::lock_guard<std::mutex> guard(lock_);
    return deviceService_ != IO_OBJECT_NULL;
}

io_service_t USBWatcherHandler::copyDeviceService() const {
    std::lock_guard<std::mutex> guard(lock_);
    if (deviceService_ == IO_OBJECT_NULL) return IO_OBJECT_NULL;
    if (IOObjectRetain(deviceService_) != kIOReturnSuccess) return IO_OBJECT_NULL;
    return deviceService_;
}

void USBWatcherHandler::setDeviceService(io_service_t service) {
    if (service != IO_OBJECT_NULL && IOObjectRetain(service) != kIOReturnSuccess) service = IO_OBJECT_NULL;
    io_service_t previous;
    {
        std::lock_guard<std::mutex> guard(lock_);
        previous = deviceService_;
        deviceService_ = service;
    }
    if (previous) IOObjectRelease(previous);
}

void USBWatcherHandler::clearDeviceService() { setDeviceService(IO_OBJECT_NULL); }

void USBWatcherHandler::reset() {
    dispatch::RunLoop::main().runUntil([this] { return !reading_ && waiting_.empty(); }, std::chrono::seconds(60));
    for (auto& [object, step] : waiting_) IOObjectRelease(object);
    waiting_.clear();
    clearDeviceService();
    {
        std::lock_guard<std::mutex> guard(lock_);
        matches_.clear();
    }
    deviceCnt = -1;
    webcamCnt = 0;
}

}  // namespace hvb
