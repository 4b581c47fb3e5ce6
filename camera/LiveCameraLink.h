#pragma once
// The screens' link to this process's cameras: the device state, the driver services of the
// registry, the command transport and the setting writer.
#include "camera/CameraLink.h"

namespace hvb {

class LiveCameraLink : public CameraLink {
public:
    int64_t plugInDeviceCount() const override;
    std::vector<DeviceEntry> deviceEntries() const override;
    std::vector<std::shared_ptr<HVBModel>> modelList() const override;
    bool isAddingDevice() const override;
    std::optional<DiskDriver_Parameter> record(const std::string& key) const override;
    DiskDriver_Parameter recordFields(const DeviceRecord& record) const override;
    std::optional<CommandDictionary> commandTable(const std::string& tableName) const override;
    int64_t selectedDeviceIndex() const override;
    void setSelectedDeviceIndex(int64_t index) override;
    std::string enteredPassword() const override;
    void setEnteredPassword(const std::string& password) override;

    bool updateRecord(const std::string& key, const std::function<void(DiskDriver_Parameter&)>& change) override;
    bool updateRecord(const DeviceRecord& record, const std::function<void(DiskDriver_Parameter&)>& change) override;
    bool setFormatBlock(const std::string& key, bool blocked) override;
    void withdrawIfGone(const std::string& key) override;
    void writeBVConfigIni(const std::string& key) override;
    void recordsChanged() override;

    void clearDeviceService() override;
    bool hasDeviceService() const override;
    uint64_t driverHostLosses() const override;
    std::optional<std::string> mountPoint(const std::string& uid) const override;
    std::optional<std::string> volumePath(const std::string& uid) const override;

    CommandOutcome sendCommandData(io_service_t service, uint8_t code, std::span<const uint8_t> bytes) override;
    CommandOutcome sendCommandWords(io_service_t service, uint8_t code, std::span<const uint32_t> words) override;
    CommandOutcome readCommand(io_service_t service, uint8_t code, std::vector<uint8_t>& reply,
                               uint32_t length) override;
    bool setDeviceValue(const std::string& uid, uint8_t code, int64_t value) override;
    bool setDeviceString(const std::string& uid, uint8_t code, int64_t timeZone) override;
    bool syncDeviceDateTime(const std::string& uid, const CommandDictionary& table,
                            const std::string& recordKey) override;
    std::string readDeviceDateTime(const std::string& uid, const CommandDictionary& table) override;

protected:
    io_service_t driverService(const std::string& uid) const override;
    io_service_t driverServiceAt(int driverIndex) const override;
    void releaseService(io_service_t service) const override;
};

}  // namespace hvb
