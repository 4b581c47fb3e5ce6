#pragma once
// Feeds a LinuxCameraBus from udev: the camera-vendor USB devices present at start, then
// USB and SCSI generic hot-plug events as they come.
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "platform/devices/linux/LinuxCameraBus.h"
#include "platform/foundation/PollWaker.h"

namespace devices {

class UdevMonitor {
public:
    explicit UdevMonitor(LinuxCameraBus& bus);
    ~UdevMonitor();  // stop()
    UdevMonitor(const UdevMonitor&) = delete;
    UdevMonitor& operator=(const UdevMonitor&) = delete;

    // Enumerates the devices present and starts listening. False (with error()) when udev is
    // not reachable at all; a monitor that cannot be created still leaves the enumeration done.
    bool start();
    void stop();
    bool isMonitoring() const { return monitoring_.load(); }
    const std::string& error() const { return error_; }

private:
    void run();

    LinuxCameraBus& bus_;
    struct Udev;
    std::unique_ptr<Udev> udev_;
    std::thread thread_;
    std::unique_ptr<foundation::PollWaker> waker_;
    std::atomic<bool> monitoring_{false};
    std::string error_;
};

}  // namespace devices
