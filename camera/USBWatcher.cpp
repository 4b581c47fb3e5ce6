#include "camera/USBWatcher.h"

#include <cstring>

#include "camera/RegistryReader.h"
#include "camera/USBEventManager.h"
#include "camera/UserClientTransport.h"
#include "platform/foundation/Log.h"

namespace hvb {

namespace {

std::optional<uint64_t> numberProperty(io_service_t entry, const char* key) {
    auto value = IORegistryEntryCreateCFProperty(entry, key);
    if (const auto* number = iokit::asNumber(value)) return number->value;
    return std::nullopt;
}

}  // namespace

USBWatcher::USBWatcher(std::weak_ptr<USBWatcherDelegate> delegate, dispatch::RunLoop& loop)
    : delegate_(std::move(delegate)) {
    notificationPort_ = IONotificationPortCreate(kIOMainPortDefault);
    auto usbMatching = IOServiceMatching("IOUSBDevice");
    if (IOServiceAddMatchingNotification(notificationPort_, "IOServiceMatched", usbMatching, &USBWatcher::callback,
                                         this, &addedIterator_) == kIOReturnSuccess)
        handleIterator(addedIterator_);
    if (IOServiceAddMatchingNotification(notificationPort_, "IOServiceTerminate", usbMatching, &USBWatcher::callback,
                                         this, &removedIterator_) == kIOReturnSuccess)
        handleIterator(removedIterator_);
    auto driverMatching = IOServiceMatching(kDriverServiceClassName);
    driverMatching.setProperty("idVendor", iokit::makeNumber(kVendorID));
    driverMatching.setProperty("idProduct", iokit::makeNumber(kDriverProductID));
    if (IOServiceAddMatchingNotification(notificationPort_, "IOServiceFirstMatch", driverMatching,
                                         &USBWatcher::callback, this, &matchedIterator_) == kIOReturnSuccess)
        handleIterator(matchedIterator_);
    // No nested run loop: the source joins the main loop, which its owner runs.
    IORunLoopAddSource(loop, IONotificationPortGetRunLoopSource(notificationPort_));
}

USBWatcher::~USBWatcher() {
    if (notificationPort_) IONotificationPortDestroy(notificationPort_);
    for (io_iterator_t iterator : {addedIterator_, removedIterator_, matchedIterator_})
        if (iterator) IOObjectRelease(iterator);
}

USBWatcher& USBWatcher::shared() {
    static auto* watcher = new USBWatcher(USBWatcherHandler::sharedPointer());
    return *watcher;
}

void USBWatcher::callback(void* refcon, io_iterator_t iterator) { static_cast<USBWatcher*>(refcon)->handleIterator(iterator); }

void USBWatcher::handleIterator(io_iterator_t iterator) {
    void (USBWatcherDelegate::*operation)(io_object_t) = nullptr;
    if (iterator == IO_OBJECT_NULL) return;
    if (iterator == addedIterator_) operation = &USBWatcherDelegate::usbDeviceAdded;
    else if (iterator == removedIterator_) operation = &USBWatcherDelegate::usbDeviceRemoved;
    else if (iterator == matchedIterator_) operation = &USBWatcherDelegate::driverServiceMatched;
    else return;
    auto delegate = delegate_.lock();
    while (io_object_t object = IOIteratorNext(iterator)) {
        if (delegate) (delegate.get()->*operation)(object);
        IOObjectRelease(object);
    }
}

std::optional<std::string> USBWatcher::readSerialNumber(io_service_t service) {
    return RegistryReader::serialNumber(service);
}

std::shared_ptr<USBDevice> USBWatcher::makeUSBDevice(io_service_t device) {
    auto info = std::make_shared<USBDevice>();
    if (IORegistryEntryGetRegistryEntryID(device, &info->id) != kIOReturnSuccess) {
        foundation::systemLog("Error getting device id");
    }
    // The identifiers and location come from the entry's own properties here.
    info->vendorId = static_cast<uint16_t>(numberProperty(device, "idVendor").value_or(0));
    info->productId = static_cast<uint16_t>(numberProperty(device, "idProduct").value_or(0));
    info->locationId = static_cast<uint32_t>(numberProperty(device, "locationID").value_or(0));
    // The serial in the form the driver's services report it, so both name the same camera.
    info->serialNr = RegistryReader::textProperty(device, "USB Serial Number", 0);
    info->vendorName = RegistryReader::textProperty(device, "USB Vendor Name", 0);
    auto callout = IORegistryEntrySearchCFProperty(device, kIOServicePlane, "IOCalloutDevice",
                                                   kIORegistryIterateRecursively);
    if (const auto* path = iokit::asString(callout)) info->bsdPath = *path;
    io_name_t name{};
    if (IORegistryEntryGetName(device, name) != kIOReturnSuccess) return nullptr;
    info->name.assign(name, strnlen(name, sizeof(name)));
    if (info->name.find("HVB") != std::string::npos && info->productId != USBWatcherHandler::kWebcamProductID) {
        // One look, no retry: the disk may not be published yet when the device arrives.
        readBSDName(device, 1);
    }
    return info;
}

}  // namespace hvb
