#include "camera/KextResources.h"

#include "platform/foundation/Bundle.h"

namespace hvb {

namespace {
std::optional<std::string> resource(const std::string& name, const std::string& type) {
    auto path = foundation::Bundle::main().pathForResource(name, type);
    if (!path) return std::nullopt;
    return path->string();
}
}  // namespace

std::optional<std::string> installKextPath() { return resource("installKext", "sh"); }
std::optional<std::string> kextBundlePath() { return resource("com_brevantis_driver_HVBSCSIDriver", "kext"); }
std::optional<std::string> kextBundlePath1014() { return resource("com_brevantis_driver_HVBSCSIDriver_10_14", "kext"); }

}  // namespace hvb
