#pragma once
// Reading a USB device and the SCSI nodes below it from sysfs. Every function takes the
// device's sysfs folder, so tests can hand in a folder tree of their own.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace devices {

constexpr uint16_t kCameraVendorID = 0x6D21;

struct UsbDeviceInfo {
    std::filesystem::path sysPath;
    uint16_t vendorID = 0;
    uint16_t productID = 0;
    std::string serialNumber;  // empty when the device has none
    std::string productName;
    std::string vendorName;
    uint32_t busNumber = 0;
    std::string portPath;      // "devpath": "2" or "2.3"
    uint32_t locationID = 0;   // bus in the top byte, then one nibble per port
};

struct ScsiNodes {
    std::filesystem::path scsiDeviceDir;  // ".../6:0:0:0"
    std::string genericName;              // "sg2"
    int peripheralType = -1;              // "type" of the SCSI device; 0 is direct access
};

// A sysfs attribute as text without its trailing newline; nullopt when missing or unreadable.
// At most `limit` bytes are read.
std::optional<std::string> readAttribute(const std::filesystem::path& dir, const char* name, size_t limit = 256);
// A USB device folder ("idVendor", "idProduct" in hexadecimal, ...); nullopt when it is not one.
std::optional<UsbDeviceInfo> readUsbDevice(const std::filesystem::path& sysPath);
uint32_t makeLocationID(uint32_t busNumber, const std::string& portPath);
// The first direct-access SCSI device (type 0) below the USB device that has a generic node.
std::optional<ScsiNodes> findScsiNodes(const std::filesystem::path& usbSysPath);
// Block device names of a SCSI device: the disk first, then its partitions, sorted.
std::vector<std::string> blockDeviceNames(const std::filesystem::path& scsiDeviceDir);
// The nearest folder at or above `path` that is a USB device (has idVendor and idProduct),
// stopping at `sysRoot`.
std::optional<std::filesystem::path> usbDeviceAncestor(const std::filesystem::path& path,
                                                       const std::filesystem::path& sysRoot = "/sys");

}  // namespace devices
