#pragma once
// The hardware overview that the system reads from "system_profiler SPHardwareDataType",
// gathered from Linux facts. The UUID is derived from the machine id with a hash of our own,
// so the raw machine id never leaves the machine.
#include <filesystem>
#include <string>

namespace services {

struct HardwareOverview {
    std::string modelIdentifier;  // DMI product name
    std::string processorName;    // the CPU's model name
    std::string hardwareUUID;     // upper-case 8-4-4-4-12 hexadecimal
};

// Reads <root>/sys/class/dmi/id/product_name, <root>/proc/cpuinfo, <root>/etc/machine-id
// (or <root>/var/lib/dbus/machine-id); missing facts get fallbacks, never an empty line.
HardwareOverview readHardwareOverview(const std::filesystem::path& root = "/");

// The application's UUID for a machine id (SHA-256 under an application-specific prefix).
std::string uuidFromMachineId(const std::string& machineId);

// The text the program prints.
std::string formatHardwareOverview(const HardwareOverview& overview);

}  // namespace services
