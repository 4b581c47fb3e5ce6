#include "camera/StatusModel.h"

#include "camera/CameraLinkHooks.h"
#include "camera/DeviceState.h"
#include "platform/dispatch/Dispatch.h"

namespace hvb {

namespace {
std::optional<bool> flag(const DeviceRecord& record, EnumSettings key) {
    if (!record) return std::nullopt;
    auto snapshot = DeviceState::shared().readRecord(record, [&](const DiskDriver_Parameter& r) {
        return r.DeviceParam ? r.DeviceParam->get(key) : int64_t{-1};
    });
    if (snapshot == -1) return std::nullopt;
    return snapshot != 0;
}
}  // namespace

std::optional<StatusModel> StatusModel::make(const std::string& deviceKey) {
    DeviceRecord record = DeviceState::shared().record(deviceKey);
    if (!record) return std::nullopt;
    std::string tableName = DeviceState::shared().readRecord(
        record, [](const DiskDriver_Parameter& r) { return r.commandTableName(); });
    if (tableName.empty()) return std::nullopt;
    auto table = cmdTables().find(tableName);
    if (!table) return std::nullopt;
    return StatusModel{record, std::move(*table)};
}

std::optional<bool> StatusModel::bleTriggerHost() const { return flag(parameters, EnumSettings::BLE_TRIGGER_HOST); }
std::optional<bool> StatusModel::teamSync() const { return flag(parameters, EnumSettings::TEAMSYNC); }

bool StatusModel::refreshFirmwareInfo() const {
    if (!parameters) return true;
    auto [model, version] = DeviceState::shared().readRecord(parameters, [](const DiskDriver_Parameter& r) {
        return std::make_pair(r.ModelName.value_or(""), r.FWVersion);
    });
    if (!version) return true;
    auto hooks = cameraLinkHooks();
    bool upToDate = hooks.isFirmwareUpToDate ? hooks.isFirmwareUpToDate(model, *version) : true;
    if (upToDate) return true;
    if (hooks.downloadReleaseNotes)
        dispatch::globalQueue(dispatch::QoS::defaultQoS).async([download = hooks.downloadReleaseNotes] { download(); });
    return false;
}

}  // namespace hvb
