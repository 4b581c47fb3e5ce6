#pragma once
// The description of one USB device as the hot-plug watcher saw it.
#include <cstdint>
#include <optional>
#include <string>

namespace hvb {

class USBDevice {
public:
    uint64_t id = 0;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string name;
    uint32_t locationId = 0;
    std::optional<std::string> vendorName;
    std::optional<std::string> serialNr;
    std::optional<std::string> bsdPath;
    // Interface handles of the desktop platform's USB plug-in; there is no such thing here, so
    // they stay empty.
    std::optional<uint64_t> deviceInterfacePtrPtr;
    std::optional<uint64_t> plugInInterfacePtrPtr;

    // The name without blanks cut to 5 characters, "_" and serial characters 6..11 (0-based;
    // fewer when the serial is shorter). None without a serial.
    std::optional<std::string> shortLabel() const;
};

}  // namespace hvb
