#include "camera/KextResources.h"

#include <filesystem>

#include "platform/foundation/Paths.h"

namespace hvb {

namespace {
// The installer and the bundle copy are programs, so they lie with the helper programs, not
// among the data resources.
std::optional<std::string> program(const std::string& name) {
    const std::filesystem::path path = foundation::paths::libexecDir() / name;
    std::error_code error;
    if (!std::filesystem::exists(path, error)) return std::nullopt;
    return path.string();
}
}  // namespace

std::optional<std::string> installKextPath() { return program("installKext.sh"); }
std::optional<std::string> kextBundlePath() { return program("com_brevantis_driver_HVBSCSIDriver.kext"); }
std::optional<std::string> kextBundlePath1014() { return program("com_brevantis_driver_HVBSCSIDriver_10_14.kext"); }

}  // namespace hvb
