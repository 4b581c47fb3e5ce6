#include "camera/LiveCameraLink.h"

#include "camera/BVConfigIni.h"
#include "camera/DeviceInfoManager.h"
#include "camera/DeviceSettingWriter.h"
#include "camera/NvUSBcmd.h"
#include "camera/USBEventManager.h"
#include "camera/USBWatcherHandler.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/iokit/link/Link.h"

namespace hvb {

int64_t LiveCameraLink::plugInDeviceCount() const { return DeviceState::shared().PlugInDeviceCnt.load(); }

std::vector<DeviceEntry> LiveCameraLink::deviceEntries() const { return DeviceState::shared().deviceEntryList(); }

std::vector<std::shared_ptr<HVBModel>> LiveCameraLink::modelList() const { return DeviceState::shared().modelList(); }

bool LiveCameraLink::isAddingDevice() const { return DeviceState::shared().isAddingDevice.load(); }

std::optional<DiskDriver_Parameter> LiveCameraLink::record(const std::string& key) const {
    return DeviceState::shared().recordCopy(key);
}

DiskDriver_Parameter LiveCameraLink::recordFields(const DeviceRecord& record) const {
    if (!record) return {};
    return DeviceState::shared().readRecord(record, [](const DiskDriver_Parameter& r) {
        DiskDriver_Parameter copy = r;
        if (copy.DeviceParam) copy.DeviceParam = std::make_shared<sDeviceParam>(*copy.DeviceParam);
        return copy;
    });
}

std::optional<CommandDictionary> LiveCameraLink::commandTable(const std::string& tableName) const {
    if (tableName.empty()) return std::nullopt;
    return cmdTables().find(tableName);
}

int64_t LiveCameraLink::selectedDeviceIndex() const { return DeviceState::shared().selectedDeviceIndex.load(); }

void LiveCameraLink::setSelectedDeviceIndex(int64_t index) { DeviceState::shared().selectedDeviceIndex = index; }

std::string LiveCameraLink::enteredPassword() const { return DeviceState::shared().enteredPassword(); }

void LiveCameraLink::setEnteredPassword(const std::string& password) {
    DeviceState::shared().setEnteredPassword(password);
}

bool LiveCameraLink::updateRecord(const std::string& key, const std::function<void(DiskDriver_Parameter&)>& change) {
    return DeviceState::shared().updateRecord(key, change);
}

bool LiveCameraLink::updateRecord(const DeviceRecord& record,
                                  const std::function<void(DiskDriver_Parameter&)>& change) {
    if (!record) return false;
    DeviceState::shared().updateRecord(record, change);
    return true;
}

bool LiveCameraLink::setFormatBlock(const std::string& key, bool blocked) {
    const bool updated =
        DeviceState::shared().updateRecord(key, [blocked](DiskDriver_Parameter& r) { r.isFormatBlock = blocked; });
    if (updated && !blocked) withdrawIfGone(key);
    return updated;
}

void LiveCameraLink::withdrawIfGone(const std::string& key) {
    dispatch::mainQueue().async([key] { USBEventManager::shared().withdrawIfGone(key); });
}

void LiveCameraLink::writeBVConfigIni(const std::string& key) {
    if (DeviceRecord record = DeviceState::shared().record(key)) hvb::writeBVConfigIni(record);
}

void LiveCameraLink::recordsChanged() { postStatusDidGet(); }

void LiveCameraLink::clearDeviceService() { USBWatcherHandler::shared().clearDeviceService(); }

bool LiveCameraLink::hasDeviceService() const { return USBWatcherHandler::shared().hasDeviceService(); }

uint64_t LiveCameraLink::driverHostLosses() const {
    auto link = iokit::currentLink();
    return link ? link->hostLosses() : 0;
}

std::optional<std::string> LiveCameraLink::mountPoint(const std::string& uid) const {
    return DeviceInfoManager::shared().mountPoint(uid);
}

std::optional<std::string> LiveCameraLink::volumePath(const std::string& uid) const {
    return DeviceInfoManager::shared().volumePath(uid);
}

CommandOutcome LiveCameraLink::sendCommandData(io_service_t service, uint8_t code, std::span<const uint8_t> bytes) {
    return NvUSBcmd::sendCommandDataOutcome(service, code, bytes);
}

CommandOutcome LiveCameraLink::sendCommandWords(io_service_t service, uint8_t code, std::span<const uint32_t> words) {
    return NvUSBcmd::sendCommandWordsOutcome(service, code, words);
}

CommandOutcome LiveCameraLink::readCommand(io_service_t service, uint8_t code, std::vector<uint8_t>& reply,
                                           uint32_t length) {
    reply.assign(length, 0);
    return userClientReadOutcome(service, code, reply.data(), length);
}

bool LiveCameraLink::setDeviceValue(const std::string& uid, uint8_t code, int64_t value) {
    return hvb::setDeviceValue(uid, code, value);
}

bool LiveCameraLink::setDeviceString(const std::string& uid, uint8_t code, int64_t timeZone) {
    return hvb::setDeviceString(uid, code, timeZone);
}

bool LiveCameraLink::syncDeviceDateTime(const std::string& uid, const CommandDictionary& table,
                                        const std::string& recordKey) {
    return hvb::syncDeviceDateTime(uid, table, recordKey);
}

std::string LiveCameraLink::readDeviceDateTime(const std::string& uid, const CommandDictionary& table) {
    return hvb::readDeviceDateTime(uid, table);
}

io_service_t LiveCameraLink::driverService(const std::string& uid) const {
    return DeviceInfoManager::shared().driverService(uid);
}

io_service_t LiveCameraLink::driverServiceAt(int driverIndex) const { return findDriverService(driverIndex); }

void LiveCameraLink::releaseService(io_service_t service) const {
    if (service) IOObjectRelease(service);
}

}  // namespace hvb
