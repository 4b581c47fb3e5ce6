#pragma once
// The Tool panel's link to this process's camera link and analytics reporter.
#include "tools/ToolsCameraLink.h"

namespace hvb {

class LiveToolsCameraLink : public ToolsCameraLink {
public:
    int64_t plugInDeviceCount() const override;
    std::vector<DeviceEntry> deviceEntries() const override;
    std::optional<DiskDriver_Parameter> record(const std::string& key) const override;
    std::optional<CommandDictionary> commandTable(const std::string& tableName) const override;
    int64_t selectedDeviceIndex() const override;
    void setSelectedDeviceIndex(int64_t index) override;
    bool isAddingDevice() const override;
    bool modelListEmpty() const override;
    std::optional<int64_t> changePasswordErrorCount(const std::string& key,
                                                    const std::function<int64_t(int64_t)>& change) override;
    void setEnteredPassword(const std::string& password) override;
    std::string enteredPassword() const override;
    bool setFormatBlock(const std::string& key, bool blocked) override;
    void writeBVConfigIni(const std::string& key) override;

    io_service_t driverService(const std::string& uid) const override;
    void releaseService(io_service_t service) const override;
    void clearDeviceService() override;
    bool hasDeviceService() const override;

    CommandOutcome sendCommandData(io_service_t service, uint8_t code, std::span<const uint8_t> bytes) override;
    CommandOutcome sendCommandWords(io_service_t service, uint8_t code, std::span<const uint32_t> words) override;
    CommandOutcome readCommand(io_service_t service, uint8_t code, std::vector<uint8_t>& reply,
                               uint32_t length) override;
    bool syncDeviceDateTime(const std::string& uid, const CommandDictionary& table,
                            const std::string& recordKey) override;
    std::string readDeviceDateTime(const std::string& uid, const CommandDictionary& table) override;

    void sendEvent(const std::string& name, const std::map<std::string, std::string>& params) override;
    void logScreen(const std::string& name, const std::string& className) override;
};

}  // namespace hvb
