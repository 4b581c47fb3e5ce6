#include "tools/LiveToolsCameraLink.h"

#include <mutex>

#include "camera/BVConfigIni.h"
#include "camera/DeviceInfoManager.h"
#include "camera/DeviceSettingWriter.h"
#include "camera/HVBModel.h"
#include "camera/NvUSBcmd.h"
#include "camera/SerialMatch.h"
#include "camera/USBEventManager.h"
#include "camera/USBWatcherHandler.h"
#include "online/Google4Analytics.h"

namespace hvb {

int64_t LiveToolsCameraLink::plugInDeviceCount() const { return DeviceState::shared().PlugInDeviceCnt.load(); }

std::vector<DeviceEntry> LiveToolsCameraLink::deviceEntries() const { return DeviceState::shared().deviceEntryList(); }

std::optional<DiskDriver_Parameter> LiveToolsCameraLink::record(const std::string& key) const {
    return DeviceState::shared().recordCopy(key);
}

std::optional<CommandDictionary> LiveToolsCameraLink::commandTable(const std::string& tableName) const {
    return cmdTables().find(tableName);
}

int64_t LiveToolsCameraLink::selectedDeviceIndex() const { return DeviceState::shared().selectedDeviceIndex.load(); }

void LiveToolsCameraLink::setSelectedDeviceIndex(int64_t index) { DeviceState::shared().selectedDeviceIndex = index; }

bool LiveToolsCameraLink::isAddingDevice() const { return DeviceState::shared().isAddingDevice.load(); }

bool LiveToolsCameraLink::modelListEmpty() const { return DeviceState::shared().modelList().empty(); }

std::optional<int64_t> LiveToolsCameraLink::changePasswordErrorCount(const std::string& key,
                                                                     const std::function<int64_t(int64_t)>& change) {
    int64_t count = 0;
    const bool found = DeviceState::shared().updateRecord(key, [&](DiskDriver_Parameter& r) {
        r.passwordErrorCnt = change(r.passwordErrorCnt);
        count = r.passwordErrorCnt;
    });
    if (!found) return std::nullopt;
    return count;
}

void LiveToolsCameraLink::setEnteredPassword(const std::string& password) {
    DeviceState::shared().setEnteredPassword(password);
}

std::string LiveToolsCameraLink::enteredPassword() const { return DeviceState::shared().enteredPassword(); }

bool LiveToolsCameraLink::setFormatBlock(const std::string& key, bool blocked) {
    const bool updated =
        DeviceState::shared().updateRecord(key, [blocked](DiskDriver_Parameter& r) { r.isFormatBlock = blocked; });
    // A camera unplugged while the block kept its entry is withdrawn now, on the watcher's thread.
    if (updated && !blocked) dispatch::mainQueue().async([key] { USBEventManager::shared().withdrawIfGone(key); });
    return updated;
}

void LiveToolsCameraLink::writeBVConfigIni(const std::string& key) {
    if (auto record = DeviceState::shared().record(key)) hvb::writeBVConfigIni(record);
}

io_service_t LiveToolsCameraLink::driverService(const std::string& uid) const {
    return DeviceInfoManager::shared().driverService(uid);
}

void LiveToolsCameraLink::releaseService(io_service_t service) const {
    if (service) IOObjectRelease(service);
}

void LiveToolsCameraLink::clearDeviceService() { USBWatcherHandler::shared().clearDeviceService(); }

bool LiveToolsCameraLink::hasDeviceService() const { return USBWatcherHandler::shared().hasDeviceService(); }

CommandOutcome LiveToolsCameraLink::sendCommandData(io_service_t service, uint8_t code,
                                                   std::span<const uint8_t> bytes) {
    return NvUSBcmd::sendCommandDataOutcome(service, code, bytes);
}

CommandOutcome LiveToolsCameraLink::sendCommandWords(io_service_t service, uint8_t code,
                                                    std::span<const uint32_t> words) {
    return NvUSBcmd::sendCommandWordsOutcome(service, code, words);
}

CommandOutcome LiveToolsCameraLink::readCommand(io_service_t service, uint8_t code, std::vector<uint8_t>& reply,
                                               uint32_t length) {
    reply.assign(length, 0);
    return userClientReadOutcome(service, code, reply.data(), length);
}

bool LiveToolsCameraLink::syncDeviceDateTime(const std::string& uid, const CommandDictionary& table,
                                             const std::string& recordKey) {
    return hvb::syncDeviceDateTime(uid, table, recordKey);
}

std::string LiveToolsCameraLink::readDeviceDateTime(const std::string& uid, const CommandDictionary& table) {
    return hvb::readDeviceDateTime(uid, table);
}

void LiveToolsCameraLink::sendEvent(const std::string& name, const std::map<std::string, std::string>& params) {
    Google4Analytics::sendEvent(name, params);
}

void LiveToolsCameraLink::logScreen(const std::string& name, const std::string& className) {
    Google4Analytics::logScreen(name, className);
}

// ---- ToolsCameraLink ----

std::optional<ToolsCameraLink::Camera> ToolsCameraLink::camera(int64_t index) const {
    if (index < 0) return std::nullopt;
    auto entries = deviceEntries();
    if (index >= static_cast<int64_t>(entries.size())) return std::nullopt;
    Camera camera;
    camera.entry = entries[static_cast<size_t>(index)];
    auto found = record(camera.entry.key());
    if (!found) return std::nullopt;
    camera.record = std::move(*found);
    if (camera.record.ModelName) camera.table = commandTable(camera.record.commandTableName()).value_or(CommandDictionary{});
    return camera;
}

std::optional<ToolsCameraLink::Camera> ToolsCameraLink::cameraWithUID(const std::string& uid) const {
    if (uid.empty()) return std::nullopt;
    const int64_t count = plugInDeviceCount();
    const auto entries = deviceEntries();
    for (int64_t i = 0; i < count && i < static_cast<int64_t>(entries.size()); ++i) {
        auto found = camera(i);
        if (found && found->record.UID && serialEquals(*found->record.UID, uid)) return found;
    }
    return std::nullopt;
}

namespace {
std::mutex& linkLock() {
    static std::mutex m;
    return m;
}
std::shared_ptr<ToolsCameraLink>& storedLink() {
    static auto* link = new std::shared_ptr<ToolsCameraLink>;  // read by workers: never destroyed
    return *link;
}
}  // namespace

std::shared_ptr<ToolsCameraLink> toolsCameraLink() {
    std::lock_guard<std::mutex> guard(linkLock());
    if (!storedLink()) storedLink() = std::make_shared<LiveToolsCameraLink>();
    return storedLink();
}

void setToolsCameraLink(std::shared_ptr<ToolsCameraLink> link) {
    std::lock_guard<std::mutex> guard(linkLock());
    storedLink() = std::move(link);
}

}  // namespace hvb
