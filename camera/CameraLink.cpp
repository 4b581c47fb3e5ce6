#include "camera/CameraLink.h"

#include <mutex>

#include "camera/LiveCameraLink.h"
#include "camera/SerialMatch.h"

namespace hvb {

void CameraHandle::reset(io_service_t service) {
    if (service_) {
        if (link_) link_->releaseService(service_);
        else IOObjectRelease(service_);
    }
    service_ = service;
}

std::optional<CameraLink::Camera> CameraLink::camera(int64_t index) const {
    if (index < 0) return std::nullopt;
    auto entries = deviceEntries();
    if (index >= static_cast<int64_t>(entries.size())) return std::nullopt;
    Camera camera;
    camera.entry = entries[static_cast<size_t>(index)];
    auto found = record(camera.entry.key());
    if (!found) return std::nullopt;
    camera.record = std::move(*found);
    if (camera.record.ModelName) camera.table = commandTable(camera.record.commandTableName()).value_or(CommandDictionary{});
    return camera;
}

std::optional<CameraLink::Camera> CameraLink::cameraWithUID(const std::string& uid) const {
    if (uid.empty()) return std::nullopt;
    const int64_t count = plugInDeviceCount();
    const auto entries = deviceEntries();
    for (int64_t i = 0; i < count && i < static_cast<int64_t>(entries.size()); ++i) {
        auto found = camera(i);
        if (found && found->record.UID && serialEquals(*found->record.UID, uid)) return found;
    }
    return std::nullopt;
}

namespace {
std::mutex& linkLock() {
    static std::mutex m;
    return m;
}
std::shared_ptr<CameraLink>& storedLink() {
    static auto* link = new std::shared_ptr<CameraLink>;  // read by workers: never destroyed
    return *link;
}
}  // namespace

std::shared_ptr<CameraLink> cameraLink() {
    std::lock_guard<std::mutex> guard(linkLock());
    if (!storedLink()) storedLink() = std::make_shared<LiveCameraLink>();
    return storedLink();
}

void setCameraLink(std::shared_ptr<CameraLink> link) {
    std::lock_guard<std::mutex> guard(linkLock());
    storedLink() = std::move(link);
}

}  // namespace hvb
