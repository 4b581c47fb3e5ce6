#include "status/FirmwareInfoCache.h"

#include "camera/CameraLink.h"
#include "platform/dispatch/Dispatch.h"

namespace hvb {

FirmwareInfoCache& FirmwareInfoCache::shared() {
    static FirmwareInfoCache* cache = new FirmwareInfoCache();
    return *cache;
}

std::pair<std::string, std::optional<std::string>> FirmwareInfoCache::key(const StatusModel& status) {
    if (!status.parameters) return {};
    const DiskDriver_Parameter r = cameraLink()->recordFields(status.parameters);
    return {r.ModelName.value_or(""), r.FWVersion};
}

std::optional<bool> FirmwareInfoCache::answer(const StatusModel& status) const {
    auto [model, version] = key(status);
    if (!version) return true;
    auto it = answers_.find({model, *version});
    if (it == answers_.end()) return std::nullopt;
    return it->second;
}

void FirmwareInfoCache::refresh(const StatusModel& status, std::function<void()> answered) {
    auto [model, version] = key(status);
    if (!version) return;
    if (answered) waiters_[model].push_back(std::move(answered));
    if (asking_.count(model)) return;
    asking_.insert(model);
    const uint64_t generation = generation_;
    dispatch::globalQueue(dispatch::QoS::utility).async(
        [status, model = model, version = *version, generation] {
            const bool current = status.refreshFirmwareInfo();
            dispatch::mainQueue().async([model, version, current, generation] {
                FirmwareInfoCache& cache = shared();
                if (generation != cache.generation_) return;
                cache.asking_.erase(model);
                cache.answers_[{model, version}] = current;
                auto waiters = std::move(cache.waiters_[model]);
                cache.waiters_.erase(model);
                for (auto& waiter : waiters) waiter();
            });
        });
}

void FirmwareInfoCache::reset() {
    ++generation_;
    answers_.clear();
    asking_.clear();
    waiters_.clear();
}

}  // namespace hvb
