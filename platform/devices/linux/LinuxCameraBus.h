#pragma once
// Real cameras in the kernel registry: each USB device of the camera vendor becomes an
// IOUSBDevice entry with the properties the watcher reads, and a camera in storage mode gets
// the interface, mass-storage and SCSI nub entries below it, whose backend is its SG node.
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/devices/linux/SgIoBackend.h"
#include "platform/devices/linux/Sysfs.h"

class IOUSBDevice;

namespace devices {

class LinuxCameraBus {
public:
    using BackendFactory =
        std::function<std::shared_ptr<SgIoBackend>(const std::string& devicePath, const std::filesystem::path& scsiDir)>;

    struct Options {
        std::filesystem::path sysRoot = "/sys";
        std::filesystem::path devRoot = "/dev";
        BackendFactory makeBackend;  // default: a plain SgIoBackend
    };

    LinuxCameraBus();
    explicit LinuxCameraBus(Options options);
    ~LinuxCameraBus();  // removes every device
    LinuxCameraBus(const LinuxCameraBus&) = delete;
    LinuxCameraBus& operator=(const LinuxCameraBus&) = delete;

    // A USB device appeared (or changed). Devices of other vendors are ignored. True when it
    // was published now.
    bool usbDeviceAdded(const std::filesystem::path& usbSysPath);
    // A USB device left: its entries terminate and commands in flight fail at once.
    bool usbDeviceRemoved(const std::filesystem::path& usbSysPath);
    // A SCSI generic node appeared; a camera published without its nub gets it now.
    bool scsiGenericAdded(const std::filesystem::path& genericSysPath);
    void removeAll();

    size_t deviceCount() const;
    bool hasStorage(const std::filesystem::path& usbSysPath) const;

private:
    struct Device {
        UsbDeviceInfo info;
        IOUSBDevice* device = nullptr;  // retained
        std::shared_ptr<SgIoBackend> backend;
    };
    bool publishStorage(Device& device);

    Options options_;
    mutable std::mutex lock_;
    std::map<std::string, Device> devices_;  // by sysfs path
};

}  // namespace devices
