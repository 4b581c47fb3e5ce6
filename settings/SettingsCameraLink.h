#pragma once
// What the Setting panel needs of the camera link and the analytics reporter. The panel reads
// snapshots on the main thread; the writes and everything slow run on a worker.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "camera/CommandTables.h"
#include "camera/DeviceState.h"
#include "camera/DiskDriver_Parameter.h"
#include "camera/Settings.h"

namespace hvb {

class SettingsCameraLink {
public:
    virtual ~SettingsCameraLink() = default;

    // ---- the device state (snapshots) ----
    virtual int64_t plugInDeviceCount() const = 0;
    virtual std::vector<DeviceEntry> deviceEntries() const = 0;
    // A copy of the record under the key (settings copied too); none when there is no record.
    virtual std::optional<DiskDriver_Parameter> record(const std::string& key) const = 0;
    virtual std::optional<CommandDictionary> commandTable(const std::string& tableName) const = 0;
    virtual int64_t selectedDeviceIndex() const = 0;
    virtual void setSelectedDeviceIndex(int64_t index) = 0;

    // ---- slow: workers only ----
    // One setting as a number, or the time zone as its offset text; true when the camera took it.
    virtual bool setDeviceValue(const std::string& uid, uint8_t code, int64_t value) = 0;
    virtual bool setDeviceString(const std::string& uid, uint8_t code, int64_t timeZone) = 0;
    // Stores a value into the record's settings at once; false when the record or its settings
    // are gone.
    virtual bool storeSetting(const std::string& key, EnumSettings field, int64_t value) = 0;
    // Rewrites the camera's configuration file from its record as it is now (models with one).
    virtual void writeBVConfigIni(const std::string& key) = 0;
    virtual void sendEvent(const std::string& name, const std::map<std::string, std::string>& params) = 0;
    virtual void logScreen(const std::string& name, const std::string& className) = 0;
};

}  // namespace hvb
