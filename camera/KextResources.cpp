#include "camera/KextResources.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Paths.h"

namespace hvb {

namespace {
// The installer and the bundle copy are programs, so they lie with the helper programs, not
// among the data resources.
std::optional<std::string> resource(const std::string& name, const std::string& type) {
    static const auto* programs = [] {
        const std::filesystem::path folder = foundation::paths::libexecDir();
        return new foundation::Bundle(folder, folder, {});  // never destroyed
    }();
    auto path = programs->pathForResource(name, type);
    if (!path) return std::nullopt;
    return path->string();
}
}  // namespace

std::optional<std::string> installKextPath() { return resource("installKext", "sh"); }
std::optional<std::string> kextBundlePath() { return resource("com_brevantis_driver_HVBSCSIDriver", "kext"); }
std::optional<std::string> kextBundlePath1014() { return resource("com_brevantis_driver_HVBSCSIDriver_10_14", "kext"); }

}  // namespace hvb
