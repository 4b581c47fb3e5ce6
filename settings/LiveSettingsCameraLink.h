#pragma once
// The Setting panel's link to this process's camera link and analytics reporter.
#include "settings/SettingsCameraLink.h"

namespace hvb {

class LiveSettingsCameraLink : public SettingsCameraLink {
public:
    int64_t plugInDeviceCount() const override;
    std::vector<DeviceEntry> deviceEntries() const override;
    std::optional<DiskDriver_Parameter> record(const std::string& key) const override;
    std::optional<CommandDictionary> commandTable(const std::string& tableName) const override;
    int64_t selectedDeviceIndex() const override;
    void setSelectedDeviceIndex(int64_t index) override;

    bool setDeviceValue(const std::string& uid, uint8_t code, int64_t value) override;
    bool setDeviceString(const std::string& uid, uint8_t code, int64_t timeZone) override;
    bool storeSetting(const std::string& key, EnumSettings field, int64_t value) override;
    void writeBVConfigIni(const std::string& key) override;
    void sendEvent(const std::string& name, const std::map<std::string, std::string>& params) override;
    void logScreen(const std::string& name, const std::string& className) override;
};

}  // namespace hvb
