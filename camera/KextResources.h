#pragma once
// The driver installation resources, in the application's libexec folder.
#include <optional>
#include <string>

namespace hvb {

// "installKext.sh" there, when present.
std::optional<std::string> installKextPath();
// The driver bundle copy "com_brevantis_driver_HVBSCSIDriver.kext", when present.
std::optional<std::string> kextBundlePath();
// The copy for older systems, "com_brevantis_driver_HVBSCSIDriver_10_14.kext", when present.
std::optional<std::string> kextBundlePath1014();

}  // namespace hvb
