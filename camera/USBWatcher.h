#pragma once
// The hot-plug watcher: IOKit notifications of USB devices arriving and leaving and of the
// driver's service being published, served on the main run loop.
#include <memory>
#include <optional>
#include <string>

#include "camera/USBDevice.h"
#include "camera/USBWatcherHandler.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/iokit/user/IOKitLib.h"

namespace hvb {

class USBWatcher {
public:
    static constexpr uint32_t kVendorID = 0x6D21;
    static constexpr uint32_t kDriverProductID = 0x5000;

    // Registers the three notifications, reports what is attached already (draining each
    // iterator), then attaches the port to `loop` and returns; later events arrive there.
    explicit USBWatcher(std::weak_ptr<USBWatcherDelegate> delegate,
                        dispatch::RunLoop& loop = dispatch::RunLoop::main());
    ~USBWatcher();
    USBWatcher(const USBWatcher&) = delete;
    USBWatcher& operator=(const USBWatcher&) = delete;

    // The application's one watcher, created on first use with the shared handler.
    static USBWatcher& shared();

    // "USB Serial Number" from the service up through its parents (RegistryReader::serialNumber).
    static std::optional<std::string> readSerialNumber(io_service_t service);
    // The description of an "IOUSBDevice" entry; none without a name.
    static std::shared_ptr<USBDevice> makeUSBDevice(io_service_t device);

    void handleIterator(io_iterator_t iterator);

    io_iterator_t addedIterator() const { return addedIterator_; }
    io_iterator_t removedIterator() const { return removedIterator_; }
    io_iterator_t matchedIterator() const { return matchedIterator_; }

private:
    static void callback(void* refcon, io_iterator_t iterator);

    std::weak_ptr<USBWatcherDelegate> delegate_;
    IONotificationPortRef notificationPort_ = nullptr;
    io_iterator_t addedIterator_ = IO_OBJECT_NULL;
    io_iterator_t removedIterator_ = IO_OBJECT_NULL;
    io_iterator_t matchedIterator_ = IO_OBJECT_NULL;
};

}  // namespace hvb
