#pragma once
// What every screen needs of the cameras: the ones brought up, the selected one, their records
// as snapshots, and their commands with an outcome that says why one failed. Qt-free. The
// snapshots may be read on any thread; the commands block, so only workers call them.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "camera/CommandTables.h"
#include "camera/DeviceState.h"
#include "camera/DiskDriver_Parameter.h"
#include "camera/HVBModel.h"
#include "camera/UserClientTransport.h"
#include "platform/iokit/user/IOKitLib.h"

namespace hvb {

class CameraLink;

// A driver service held for one use; released by the link that gave it when the handle goes.
class CameraHandle {
public:
    CameraHandle() = default;
    // A service from `link`; without a link, one from the registry, released as the registry's.
    CameraHandle(const CameraLink* link, io_service_t service) : link_(link), service_(service) {}
    ~CameraHandle() { reset(); }
    CameraHandle(CameraHandle&& other) noexcept
        : link_(other.link_), service_(std::exchange(other.service_, IO_OBJECT_NULL)) {}
    CameraHandle& operator=(CameraHandle&& other) noexcept {
        if (this != &other) {
            reset();
            link_ = other.link_;
            service_ = std::exchange(other.service_, IO_OBJECT_NULL);
        }
        return *this;
    }
    CameraHandle(const CameraHandle&) = delete;
    CameraHandle& operator=(const CameraHandle&) = delete;

    io_service_t get() const { return service_; }
    explicit operator bool() const { return service_ != IO_OBJECT_NULL; }
    // Releases the service held and holds `service` (from the same link) instead.
    void reset(io_service_t service = IO_OBJECT_NULL);

private:
    const CameraLink* link_ = nullptr;
    io_service_t service_ = IO_OBJECT_NULL;
};

class CameraLink {
public:
    virtual ~CameraLink() = default;

    // ---- the cameras brought up (snapshots, any thread) ----
    virtual int64_t plugInDeviceCount() const = 0;
    virtual std::vector<DeviceEntry> deviceEntries() const = 0;
    // The cameras on USB, in the order they were found (the Status rows).
    virtual std::vector<std::shared_ptr<HVBModel>> modelList() const = 0;
    virtual bool isAddingDevice() const = 0;
    // A copy of the record under the key (its settings copied too); none without a record.
    virtual std::optional<DiskDriver_Parameter> record(const std::string& key) const = 0;
    // A copy of a record a snapshot shares (its settings copied too); empty fields for none.
    virtual DiskDriver_Parameter recordFields(const DeviceRecord& record) const = 0;
    virtual std::optional<CommandDictionary> commandTable(const std::string& tableName) const = 0;
    virtual int64_t selectedDeviceIndex() const = 0;
    virtual void setSelectedDeviceIndex(int64_t index) = 0;
    // The password the unlock dialog last had accepted.
    virtual std::string enteredPassword() const = 0;
    virtual void setEnteredPassword(const std::string& password) = 0;

    // ---- record changes ----
    // Changes the record under the key in place; false when the key has none.
    virtual bool updateRecord(const std::string& key, const std::function<void(DiskDriver_Parameter&)>& change) = 0;
    // The same for a record a snapshot shares; false for none.
    virtual bool updateRecord(const DeviceRecord& record, const std::function<void(DiskDriver_Parameter&)>& change) = 0;
    // The record's isFormatBlock; false when the key has no record. Lifting it withdraws a camera
    // that was unplugged while the block kept its entry.
    virtual bool setFormatBlock(const std::string& key, bool blocked) = 0;
    // Withdraws the camera of the key if it left while a block kept its entry (later, on the
    // watcher's thread).
    virtual void withdrawIfGone(const std::string& key) = 0;
    // Rewrites the configuration file on the camera's volume from the record under the key
    // (only models that read one; nothing without a record).
    virtual void writeBVConfigIni(const std::string& key) = 0;
    // Tells every panel that a record changed ("statusDidGet" on the main queue).
    virtual void recordsChanged() = 0;

    // ---- driver services and volumes ----
    // The first driver service whose serial contains the UID (an empty UID matches none).
    CameraHandle open(const std::string& uid) const { return CameraHandle(this, driverService(uid)); }
    // The driver service at a position of the platform's order: the way to a camera on the old
    // firmware, which has no UID.
    CameraHandle openAt(int driverIndex) const { return CameraHandle(this, driverServiceAt(driverIndex)); }
    // The driver service the watcher matched last: forgotten, and whether one was matched since.
    virtual void clearDeviceService() = 0;
    virtual bool hasDeviceService() const = 0;
    // How often the connection to the drivers' host has been lost so far (never without a host):
    // a wait that sees it change knows that no camera comes back through the host it waited on.
    virtual uint64_t driverHostLosses() const { return 0; }
    // The camera's volume location (file-URL text). mountPoint also notes the device node in
    // the camera's model; volumePath touches nothing.
    virtual std::optional<std::string> mountPoint(const std::string& uid) const = 0;
    virtual std::optional<std::string> volumePath(const std::string& uid) const = 0;

    // ---- camera commands (block) ----
    virtual CommandOutcome sendCommandData(io_service_t service, uint8_t code, std::span<const uint8_t> bytes) = 0;
    virtual CommandOutcome sendCommandWords(io_service_t service, uint8_t code, std::span<const uint32_t> words) = 0;
    // Two-phase read of `length` bytes; on failure the reply holds zeros.
    virtual CommandOutcome readCommand(io_service_t service, uint8_t code, std::vector<uint8_t>& reply,
                                       uint32_t length) = 0;
    // The setting writer: one setting as a number, or the time zone as its offset text; true
    // when the camera took it.
    virtual bool setDeviceValue(const std::string& uid, uint8_t code, int64_t value) = 0;
    virtual bool setDeviceString(const std::string& uid, uint8_t code, int64_t timeZone) = 0;
    virtual bool syncDeviceDateTime(const std::string& uid, const CommandDictionary& table,
                                    const std::string& recordKey) = 0;
    virtual std::string readDeviceDateTime(const std::string& uid, const CommandDictionary& table) = 0;

    // ---- derived ----
    // A one-byte payload.
    CommandOutcome sendByte(io_service_t service, uint8_t code, uint8_t value) {
        return sendCommandData(service, code, std::span<const uint8_t>(&value, 1));
    }
    // The entry at an index of the device list, its record and its table; none when the index
    // names no entry or the entry has no record.
    struct Camera {
        DeviceEntry entry;
        DiskDriver_Parameter record;
        // "<ModelName>Cmd_<cut>"'s table; empty when the name has none.
        CommandDictionary table;
    };
    std::optional<Camera> camera(int64_t index) const;
    std::optional<Camera> selectedCamera() const { return camera(selectedDeviceIndex()); }
    // The camera among the first PlugInDeviceCnt entries whose record's UID equals `uid`.
    std::optional<Camera> cameraWithUID(const std::string& uid) const;

protected:
    friend class CameraHandle;
    // One pass over the driver services; the caller releases what it gets (through a handle).
    virtual io_service_t driverService(const std::string& uid) const = 0;
    virtual io_service_t driverServiceAt(int driverIndex) const = 0;
    virtual void releaseService(io_service_t service) const = 0;
};

// The link every screen uses: this process's cameras unless a test set another.
std::shared_ptr<CameraLink> cameraLink();
void setCameraLink(std::shared_ptr<CameraLink> link);

}  // namespace hvb
