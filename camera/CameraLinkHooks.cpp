#include "camera/CameraLinkHooks.h"

#include <mutex>

namespace hvb {

namespace {
std::mutex& hooksLock() {
    static std::mutex m;
    return m;
}
CameraLinkHooks& storedHooks() {
    static auto* h = new CameraLinkHooks;  // read by workers: never destroyed
    return *h;
}
}  // namespace

CameraLinkHooks cameraLinkHooks() {
    std::lock_guard<std::mutex> guard(hooksLock());
    return storedHooks();
}

void setCameraLinkHooks(CameraLinkHooks hooks) {
    std::lock_guard<std::mutex> guard(hooksLock());
    storedHooks() = std::move(hooks);
}

void sendAnalyticsEvent(const std::string& name, const std::map<std::string, std::string>& params) {
    auto hooks = cameraLinkHooks();
    if (hooks.sendEvent) hooks.sendEvent(name, params);
}

std::string localizedString(const std::string& table, const std::string& key, const std::string& fallback) {
    auto hooks = cameraLinkHooks();
    if (hooks.localizedString) return hooks.localizedString(table, key, fallback);
    return fallback;
}

}  // namespace hvb
