#include "camera/DeviceState.h"

#include <algorithm>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"

namespace hvb {

using Guard = std::lock_guard<std::recursive_mutex>;

DeviceState& DeviceState::shared() {
    static auto* state = new DeviceState;  // lives for the process
    return *state;
}

std::vector<std::shared_ptr<HVBModel>> DeviceState::modelList() const {
    Guard guard(lock_);
    return models_;
}

std::shared_ptr<HVBModel> DeviceState::findModel(const std::string& sn) const {
    Guard guard(lock_);
    for (const auto& model : models_)
        if (model->SN == sn) return model;
    return nullptr;
}

std::shared_ptr<HVBModel> DeviceState::ensureModel(const std::string& sn, bool* created) {
    Guard guard(lock_);
    for (const auto& model : models_) {
        if (model->SN == sn) {
            if (created) *created = false;
            return model;
        }
    }
    auto model = std::make_shared<HVBModel>(sn);
    models_.push_back(model);
    if (created) *created = true;
    return model;
}

size_t DeviceState::removeModels(const std::string& sn) {
    Guard guard(lock_);
    size_t before = models_.size();
    std::erase_if(models_, [&](const auto& model) { return model->SN == sn; });
    return before - models_.size();
}

std::vector<DeviceEntry> DeviceState::deviceEntryList() const {
    Guard guard(lock_);
    return entries_;
}

std::optional<DeviceEntry> DeviceState::entryAt(int64_t index) const {
    Guard guard(lock_);
    if (index < 0 || static_cast<size_t>(index) >= entries_.size()) return std::nullopt;
    return entries_[static_cast<size_t>(index)];
}

void DeviceState::appendEntry(DeviceEntry entry) {
    Guard guard(lock_);
    entries_.push_back(std::move(entry));
}

std::optional<DeviceEntry> DeviceState::selectedEntry() const { return entryAt(selectedDeviceIndex.load()); }

std::map<std::string, DeviceRecord> DeviceState::deviceParameterDict() const {
    Guard guard(lock_);
    return records_;
}

DeviceRecord DeviceState::record(const std::string& key) const {
    Guard guard(lock_);
    auto it = records_.find(key);
    return it == records_.end() ? nullptr : it->second;
}

bool DeviceState::hasRecord(const std::string& key) const {
    Guard guard(lock_);
    return records_.count(key) != 0;
}

size_t DeviceState::recordCount() const {
    Guard guard(lock_);
    return records_.size();
}

void DeviceState::storeRecord(const std::string& key, DeviceRecord record) {
    Guard guard(lock_);
    records_.insert_or_assign(key, std::move(record));
}

DeviceRecord DeviceState::removeRecord(const std::string& key) {
    Guard guard(lock_);
    auto it = records_.find(key);
    if (it == records_.end()) return nullptr;
    DeviceRecord removed = std::move(it->second);
    records_.erase(it);
    return removed;
}

std::optional<DiskDriver_Parameter> DeviceState::recordCopy(const std::string& key) const {
    Guard guard(lock_);
    auto it = records_.find(key);
    if (it == records_.end() || !it->second) return std::nullopt;
    DiskDriver_Parameter copy = *it->second;
    if (copy.DeviceParam) copy.DeviceParam = std::make_shared<sDeviceParam>(*copy.DeviceParam);
    return copy;
}

std::string DeviceState::enteredPassword() const {
    Guard guard(lock_);
    return enteredPassword_;
}

void DeviceState::setEnteredPassword(std::string password) {
    Guard guard(lock_);
    enteredPassword_ = std::move(password);
}

std::string DeviceState::settingSerialNumber() const {
    Guard guard(lock_);
    return settingSerialNumber_;
}

void DeviceState::setSettingSerialNumber(std::string serial) {
    Guard guard(lock_);
    settingSerialNumber_ = std::move(serial);
}

void DeviceState::reset() {
    Guard guard(lock_);
    models_.clear();
    entries_.clear();
    records_.clear();
    enteredPassword_.clear();
    settingSerialNumber_.clear();
    PlugInDeviceCnt = 0;
    selectedDeviceIndex = -1;
    isAddingDevice = false;
}

void postStatusDidGet() {
    dispatch::mainQueue().async([] { foundation::NotificationCenter::defaultCenter().post(kStatusDidGet); });
}

}  // namespace hvb
