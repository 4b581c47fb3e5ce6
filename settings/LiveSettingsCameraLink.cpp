#include "settings/LiveSettingsCameraLink.h"

#include "camera/BVConfigIni.h"
#include "camera/DeviceSettingWriter.h"
#include "online/Google4Analytics.h"

namespace hvb {

int64_t LiveSettingsCameraLink::plugInDeviceCount() const { return DeviceState::shared().PlugInDeviceCnt.load(); }

std::vector<DeviceEntry> LiveSettingsCameraLink::deviceEntries() const { return DeviceState::shared().deviceEntryList(); }

std::optional<DiskDriver_Parameter> LiveSettingsCameraLink::record(const std::string& key) const {
    return DeviceState::shared().recordCopy(key);
}

std::optional<CommandDictionary> LiveSettingsCameraLink::commandTable(const std::string& tableName) const {
    if (tableName.empty()) return std::nullopt;
    return hvb::commandTable(tableName);
}

int64_t LiveSettingsCameraLink::selectedDeviceIndex() const { return DeviceState::shared().selectedDeviceIndex.load(); }

void LiveSettingsCameraLink::setSelectedDeviceIndex(int64_t index) { DeviceState::shared().selectedDeviceIndex = index; }

bool LiveSettingsCameraLink::setDeviceValue(const std::string& uid, uint8_t code, int64_t value) {
    return hvb::setDeviceValue(uid, code, value);
}

bool LiveSettingsCameraLink::setDeviceString(const std::string& uid, uint8_t code, int64_t timeZone) {
    return hvb::setDeviceString(uid, code, timeZone);
}

bool LiveSettingsCameraLink::storeSetting(const std::string& key, EnumSettings field, int64_t value) {
    bool stored = false;
    DeviceState::shared().updateRecord(key, [&](DiskDriver_Parameter& record) {
        if (!record.DeviceParam) return;
        record.DeviceParam->set(field, value);
        stored = true;
    });
    return stored;
}

void LiveSettingsCameraLink::writeBVConfigIni(const std::string& key) {
    if (DeviceRecord record = DeviceState::shared().record(key)) hvb::writeBVConfigIni(record);
}

void LiveSettingsCameraLink::sendEvent(const std::string& name, const std::map<std::string, std::string>& params) {
    Google4Analytics::sendEvent(name, params);
}

void LiveSettingsCameraLink::logScreen(const std::string& name, const std::string& className) {
    Google4Analytics::logScreen(name, className);
}

}  // namespace hvb
