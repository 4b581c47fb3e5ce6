#pragma once
// What the hot-plug watcher's events mean: model objects by serial number, the storage-mode and
// webcam-mode counts, and the hand-over of each new driver service to the event manager.
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "camera/USBDevice.h"
#include "platform/iokit/user/IOKitLib.h"

namespace hvb {

class USBWatcherDelegate {
public:
    virtual ~USBWatcherDelegate() = default;
    // Each object is valid only during the call.
    virtual void usbDeviceAdded(io_object_t device) = 0;
    virtual void usbDeviceRemoved(io_object_t device) = 0;
    virtual void driverServiceMatched(io_service_t service) = 0;
};

class USBWatcherHandler : public USBWatcherDelegate {
public:
    static constexpr uint16_t kWebcamProductID = 0x8612;

    static USBWatcherHandler& shared();
    static std::shared_ptr<USBWatcherHandler> sharedPointer();

    // Main thread. While a camera is read off it, later events wait and are handled in the
    // order they came once its record is published, as if the read had held the main thread.
    void usbDeviceAdded(io_object_t device) override;
    void usbDeviceRemoved(io_object_t device) override;
    void driverServiceMatched(io_service_t service) override;

    // The last driver service reported, once its camera's bring-up has ended; the handler holds
    // its own reference.
    bool hasDeviceService() const;
    // A new reference to it (the caller releases), or 0.
    io_service_t copyDeviceService() const;
    void setDeviceService(io_service_t service);
    void clearDeviceService();

    std::atomic<int64_t> deviceCnt{-1};
    std::atomic<int64_t> webcamCnt{0};

    // Back to the start state (tests; main thread): a camera still being read is published and
    // the events behind it are handled first.
    void reset();

private:
    using Step = void (USBWatcherHandler::*)(io_object_t);
    // Handles the event now, or keeps it (with its own reference) behind those waiting.
    void inOrder(io_object_t object, Step step);
    void runWaiting();
    void deviceAdded(io_object_t device);
    void deviceRemoved(io_object_t device);
    void serviceMatched(io_service_t service);
    void withdrawUnnamedCamera(const USBDevice& info, io_object_t device);
    // Forgets the camera's model (unless it is changing mode) and the matched service, and
    // withdraws its entry when it has one.
    void withdraw(io_object_t device, const std::string& serial, bool listed);
    // Whether the driver service now carrying `serial` is the one whose match was handled last:
    // the camera came back and was taken up before its departure reached this handler.
    bool isMatchedAgain(const std::string& serial) const;
    // The departure of the camera's last matched connection has been handled.
    void noteDeparture(const std::string& serial);

    // A camera's last driver match, and whether that connection's departure was handled.
    struct Match {
        uint64_t serviceID = 0;
        bool departed = false;
    };

    // Main thread only.
    bool reading_ = false;
    bool draining_ = false;
    std::deque<std::pair<io_object_t, Step>> waiting_;

    mutable std::mutex lock_;
    io_service_t deviceService_ = IO_OBJECT_NULL;
    std::map<std::string, Match> matches_;  // by serial
};

}  // namespace hvb
