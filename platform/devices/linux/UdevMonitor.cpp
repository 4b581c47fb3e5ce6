#include "platform/devices/linux/UdevMonitor.h"

#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

#include <cstring>

#include "platform/iokit/kern/IOLib.h"

namespace devices {

struct UdevMonitor::Udev {
    struct udev* context = nullptr;
    struct udev_monitor* monitor = nullptr;
    ~Udev() {
        if (monitor) udev_monitor_unref(monitor);
        if (context) udev_unref(context);
    }
};

UdevMonitor::UdevMonitor(LinuxCameraBus& bus) : bus_(bus) {}

UdevMonitor::~UdevMonitor() { stop(); }

bool UdevMonitor::start() {
    if (udev_) return true;
    auto udev = std::make_unique<Udev>();
    udev->context = udev_new();
    if (!udev->context) {
        error_ = "udev is not available";
        return false;
    }
    // Listen first, then enumerate, so that nothing plugged in between is missed (a device
    // seen twice is ignored by the bus).
    udev->monitor = udev_monitor_new_from_netlink(udev->context, "udev");
    if (udev->monitor) {
        udev_monitor_filter_add_match_subsystem_devtype(udev->monitor, "usb", "usb_device");
        udev_monitor_filter_add_match_subsystem_devtype(udev->monitor, "scsi_generic", nullptr);
        if (udev_monitor_enable_receiving(udev->monitor) < 0) {
            udev_monitor_unref(udev->monitor);
            udev->monitor = nullptr;
        }
    }
    if (!udev->monitor) error_ = "udev events are not available; cameras present now are used";

    char vendor[8];
    std::snprintf(vendor, sizeof vendor, "%04x", kCameraVendorID);
    if (struct udev_enumerate* enumerate = udev_enumerate_new(udev->context)) {
        udev_enumerate_add_match_subsystem(enumerate, "usb");
        udev_enumerate_add_match_property(enumerate, "DEVTYPE", "usb_device");
        udev_enumerate_add_match_sysattr(enumerate, "idVendor", vendor);
        udev_enumerate_scan_devices(enumerate);
        struct udev_list_entry* entry;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
            if (const char* path = udev_list_entry_get_name(entry)) bus_.usbDeviceAdded(path);
        }
        udev_enumerate_unref(enumerate);
    }
    udev_ = std::move(udev);
    if (!udev_->monitor) return true;
    waker_ = std::make_unique<foundation::PollWaker>();
    if (!waker_->ok()) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        waker_.reset();
        return true;
    }
    monitoring_.store(true);
    thread_ = std::thread([this] { run(); });
    return true;
}

void UdevMonitor::stop() {
    if (thread_.joinable()) {
        waker_->wake();
        thread_.join();
    }
    monitoring_.store(false);
    waker_.reset();
    udev_.reset();
}

void UdevMonitor::run() {
    int monitorFd = udev_monitor_get_fd(udev_->monitor);
    while (waker_->wait(monitorFd) == foundation::PollWaker::Result::readable) {
        struct udev_device* device = udev_monitor_receive_device(udev_->monitor);
        if (!device) continue;
        const char* action = udev_device_get_action(device);
        const char* subsystem = udev_device_get_subsystem(device);
        const char* path = udev_device_get_syspath(device);
        if (action && subsystem && path) {
            if (std::strcmp(subsystem, "usb") == 0) {
                if (std::strcmp(action, "add") == 0 || std::strcmp(action, "bind") == 0) bus_.usbDeviceAdded(path);
                else if (std::strcmp(action, "remove") == 0) bus_.usbDeviceRemoved(path);
            } else if (std::strcmp(subsystem, "scsi_generic") == 0 && std::strcmp(action, "add") == 0) {
                bus_.scsiGenericAdded(path);
            }
        }
        udev_device_unref(device);
    }
    monitoring_.store(false);
}

}  // namespace devices
