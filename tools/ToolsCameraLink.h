#pragma once
// What the Tool panel and its dialogs need of the camera link and the analytics reporter: the
// device state as snapshots, the driver services by serial number, single camera commands with
// their outcome, and the reports. Qt-free; the camera commands block, so only workers call them.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "camera/CommandTables.h"
#include "camera/DeviceState.h"
#include "camera/DiskDriver_Parameter.h"
#include "camera/UserClientTransport.h"
#include "platform/iokit/user/IOKitLib.h"

namespace hvb {

class ToolsCameraLink {
public:
    virtual ~ToolsCameraLink() = default;

    // ---- the device state (snapshots, any thread) ----
    virtual int64_t plugInDeviceCount() const = 0;
    virtual std::vector<DeviceEntry> deviceEntries() const = 0;
    // A copy of the record under the key; none when there is no record.
    virtual std::optional<DiskDriver_Parameter> record(const std::string& key) const = 0;
    virtual std::optional<CommandDictionary> commandTable(const std::string& tableName) const = 0;
    virtual int64_t selectedDeviceIndex() const = 0;
    virtual void setSelectedDeviceIndex(int64_t index) = 0;
    virtual bool isAddingDevice() const = 0;
    virtual bool modelListEmpty() const = 0;
    // The record's wrong-password count changed by `change`; the new count, none without a record.
    virtual std::optional<int64_t> changePasswordErrorCount(const std::string& key,
                                                            const std::function<int64_t(int64_t)>& change) = 0;
    virtual void setEnteredPassword(const std::string& password) = 0;
    // The password the unlock dialog last had accepted.
    virtual std::string enteredPassword() const = 0;
    // The record's isFormatBlock; false when the key has no record.
    virtual bool setFormatBlock(const std::string& key, bool blocked) = 0;
    // Rewrites the configuration file on the camera's volume from the record under the key
    // (only models that read one; nothing without a record).
    virtual void writeBVConfigIni(const std::string& key) = 0;

    // ---- the driver services ----
    // One pass: the first service whose serial contains the UID (an empty UID matches none);
    // the caller releases it. 0 when none does.
    virtual io_service_t driverService(const std::string& uid) const = 0;
    virtual void releaseService(io_service_t service) const = 0;
    // The driver service the watcher matched last: forgotten, and whether one was matched since.
    virtual void clearDeviceService() = 0;
    virtual bool hasDeviceService() const = 0;

    // ---- camera commands (block) ----
    virtual CommandOutcome sendCommandData(io_service_t service, uint8_t code, std::span<const uint8_t> bytes) = 0;
    virtual CommandOutcome sendCommandWords(io_service_t service, uint8_t code, std::span<const uint32_t> words) = 0;
    // Two-phase read of `length` bytes.
    virtual CommandOutcome readCommand(io_service_t service, uint8_t code, std::vector<uint8_t>& reply,
                                       uint32_t length) = 0;
    virtual bool syncDeviceDateTime(const std::string& uid, const CommandDictionary& table,
                                    const std::string& recordKey) = 0;
    virtual std::string readDeviceDateTime(const std::string& uid, const CommandDictionary& table) = 0;

    // ---- reports ----
    virtual void sendEvent(const std::string& name, const std::map<std::string, std::string>& params) = 0;
    virtual void logScreen(const std::string& name, const std::string& className) = 0;

    // ---- derived ----
    // The entry at the index and its record; none when the index names no entry or the entry
    // has no record.
    struct Camera {
        DeviceEntry entry;
        DiskDriver_Parameter record;
        // "<ModelName>Cmd_<cut>"'s table; empty when the name has none.
        CommandDictionary table;
    };
    std::optional<Camera> camera(int64_t index) const;
    // The camera among the first PlugInDeviceCnt entries whose record's UID equals `uid`.
    std::optional<Camera> cameraWithUID(const std::string& uid) const;
};

// The link the panel and dialogs use: this process's camera link unless a test set another.
std::shared_ptr<ToolsCameraLink> toolsCameraLink();
void setToolsCameraLink(std::shared_ptr<ToolsCameraLink> link);

}  // namespace hvb
