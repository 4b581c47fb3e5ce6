#include "camera/USBEventManager.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "camera/CameraLinkHooks.h"
#include "camera/DeviceInfoReader.h"
#include "camera/DeviceState.h"
#include "camera/RegistryReader.h"
#include "platform/foundation/TextCharacters.h"
#include "camera/UserClientTransport.h"
#include "platform/foundation/Log.h"

namespace hvb {

namespace {

constexpr int64_t kBSDNamePauseMs = 50;

bool validUtf8(const char* text) {
    std::string_view view(text, strnlen(text, sizeof(io_string_t)));
    return foundation::text::isValidUtf8(view) && view.find("\xEF\xBF\xBD") == std::string_view::npos;
}

// Lowers every driverIndex above the removed one (the caller holds the lock).
void renumber(std::vector<DeviceEntry>& entries, int64_t removedIndex) {
    for (auto& entry : entries)
        if (entry.driverIndex > removedIndex) entry.driverIndex -= 1;
}

}  // namespace

USBEventManager& USBEventManager::shared() {
    static auto* manager = new USBEventManager;
    return *manager;
}

std::string readBSDName(io_registry_entry_t entry, int attempts) {
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        if (auto name = RegistryReader::bsdName(entry); name && !name->empty()) {
            foundation::systemLog("index = " + std::to_string(attempt) + ", Device file path0: " + foundation::escapedForLog(*name));
            return *name;
        }
        if (attempt < attempts) dispatch::pause(kBSDNamePauseMs);
    }
    return {};
}

void USBEventManager::addDevice(io_service_t service, int64_t driverIndex, const std::string& serialNumber,
                                std::function<void()> done) {
    if (IOObjectRetain(service) != kIOReturnSuccess) {
        if (done) done();
        return;
    }
    io_string_t path{};
    if (IORegistryEntryGetPath(service, kIOServicePlane, path) != kIOReturnSuccess || !validUtf8(path)) {
        IOObjectRelease(service);
        if (done) done();
        return;
    }
    foundation::systemLog("Match event serial number = " + foundation::escapedForLog(serialNumber));
    DeviceState::shared().isAddingDevice = true;
    // The camera is waited on off the GUI thread; the service reference goes with the read.
    cameraQueue_.async([this, service, driverIndex, serialNumber, done = std::move(done)]() mutable {
        Arrival arrival = readArrival(service, serialNumber);
        IOObjectRelease(service);
        dispatch::mainQueue().async(
            [this, arrival = std::move(arrival), driverIndex, serialNumber, done = std::move(done)]() mutable {
                publish(std::move(arrival), driverIndex, serialNumber);
                DeviceState::shared().isAddingDevice = false;
                if (done) done();
            });
    });
}

USBEventManager::Arrival USBEventManager::readArrival(io_service_t service, const std::string& serialNumber) {
    Arrival arrival;
    if (serialNumber == kPlaceholderSerialNumber) {
        for (int call = 0; call < 10 && arrival.bsdName.empty(); ++call) arrival.bsdName = readBSDName(service, 2);
        if (arrival.bsdName.empty()) return arrival;
        foundation::systemLog("Device BSD Name = " + foundation::escapedForLog(arrival.bsdName));
    }
    // Arrivals are read and published one at a time, so an earlier one's record is in by now.
    auto& state = DeviceState::shared();
    const std::string key = deviceKey(serialNumber, arrival.bsdName);
    if (state.recordCount() != 0 && state.hasRecord(key)) {
        foundation::systemLog("No add = " + foundation::escapedForLog(serialNumber));
        return arrival;
    }
    std::tie(arrival.record, arrival.success) = readDeviceInfo(service, &arrival.afterRead);
    return arrival;
}

void USBEventManager::publish(Arrival arrival, int64_t driverIndex, const std::string& serialNumber) {
    // Queued first, so it runs after this step as it ran after the read on the main thread.
    if (arrival.afterRead) dispatch::mainQueue().async(std::move(arrival.afterRead));
    if (!arrival.success || !arrival.record) return;
    auto& state = DeviceState::shared();
    const DeviceRecord& record = arrival.record;

    trDevice_Block.wait();
    state.appendEntry(DeviceEntry{serialNumber, arrival.bsdName, driverIndex});
    trDevice_Block.signal();

    SNBSD2DevicePar_Block.wait();
    state.storeRecord(deviceKey(serialNumber, arrival.bsdName), record);
    postStatusDidGet();
    SNBSD2DevicePar_Block.signal();

    PlugInDeviceCnt_Block.wait();
    state.PlugInDeviceCnt += 1;
    PlugInDeviceCnt_Block.signal();

    std::string model = state.readRecord(record, [](const DiskDriver_Parameter& r) { return r.ModelName.value_or(""); });
    sendAnalyticsEvent("Device", {{"action", model}});
}

void USBEventManager::removeDevice(io_object_t object, const std::string& serialNumber) {
    foundation::systemLog("Teriminate event serial number = " + foundation::escapedForLog(serialNumber));
    auto& state = DeviceState::shared();

    if (serialNumber == kPlaceholderSerialNumber) {
        std::string bsdName = readBSDName(object, 1);
        foundation::systemLog("Device BSD Name = " + foundation::escapedForLog(bsdName));
        std::optional<DeviceEntry> gone;
        int64_t index = -1;
        auto entries = state.deviceEntryList();
        if (!bsdName.empty()) {
            for (size_t i = 0; i < entries.size(); ++i) {
                if (entries[i].bsdName == bsdName) {
                    index = static_cast<int64_t>(i);
                    break;
                }
            }
        } else {
            auto present = listPlaceholderBSDNames();
            for (size_t i = 0; i < entries.size(); ++i) {
                if (entries[i].bsdName.empty()) continue;
                if (std::find(present.begin(), present.end(), entries[i].bsdName) != present.end()) continue;
                index = static_cast<int64_t>(i);
                break;
            }
        }
        if (index < 0) return;
        gone = entries[static_cast<size_t>(index)];
        withdrawEntry(*gone);
        return;
    }

    trDevice_Block.wait();
    std::vector<std::string> present;
    if (serialNumber.empty()) present = listDriverSerialNumbers();
    state.withLists([&](DeviceState::Lists& lists) {
        auto& list = lists.deviceEntryList;
        int64_t index = -1;
        for (size_t i = 0; i < list.size(); ++i) {
            const DeviceEntry& entry = list[i];
            if (!entry.bsdName.empty()) continue;
            if (serialNumber.empty()) {
                if (std::find(present.begin(), present.end(), entry.serialNumber) != present.end()) continue;
            } else if (entry.serialNumber != serialNumber) {
                continue;
            }
            index = static_cast<int64_t>(i);
            break;
        }
        if (serialNumber.empty()) foundation::systemLog("no serial deletedIndex = " + std::to_string(index));
        if (index < 0) {
            if (!serialNumber.empty()) foundation::systemLog("deletedIndex = -1");
            return;
        }
        DeviceEntry gone = list[static_cast<size_t>(index)];
        auto record = lists.deviceParameterDict.find(gone.key());
        if (record != lists.deviceParameterDict.end() && record->second && record->second->isBlockedForRemoval()) {
            foundation::systemLog("No delete = " + foundation::escapedForLog(serialNumber));
            return;
        }
        lists.deviceParameterDict.erase(gone.key());
        postStatusDidGet();
        list.erase(list.begin() + index);
        if (state.PlugInDeviceCnt.load() > 0) state.PlugInDeviceCnt -= 1;
        if (!serialNumber.empty()) foundation::systemLog("deletedIndex = " + std::to_string(index));
        renumber(list, gone.driverIndex);
    });
    trDevice_Block.signal();
}

void USBEventManager::withdrawEntry(const DeviceEntry& gone) {
    auto& state = DeviceState::shared();
    SNBSD2DevicePar_Block.wait();
    state.removeRecord(gone.key());
    postStatusDidGet();
    SNBSD2DevicePar_Block.signal();

    trDevice_Block.wait();
    state.withLists([&](DeviceState::Lists& lists) {
        auto& list = lists.deviceEntryList;
        auto it = std::find(list.begin(), list.end(), gone);
        if (it != list.end()) list.erase(it);
    });
    trDevice_Block.signal();

    if (state.PlugInDeviceCnt.load() > 0) {
        PlugInDeviceCnt_Block.wait();
        if (state.PlugInDeviceCnt.load() > 0) state.PlugInDeviceCnt -= 1;
        PlugInDeviceCnt_Block.signal();
    }

    trDevice_Block.wait();
    state.withLists([&](DeviceState::Lists& lists) { renumber(lists.deviceEntryList, gone.driverIndex); });
    trDevice_Block.signal();
}

std::optional<DeviceEntry> USBEventManager::releasedEntry(const std::string& key) {
    auto& state = DeviceState::shared();
    std::optional<DeviceEntry> entry;
    for (const auto& e : state.deviceEntryList())
        if (e.key() == key) entry = e;
    if (!entry) return std::nullopt;
    auto record = state.record(key);
    if (record && state.readRecord(record, [](const DiskDriver_Parameter& r) { return r.isBlockedForRemoval(); }))
        return std::nullopt;
    return entry;
}

void USBEventManager::withdrawIfReleased(const std::string& key) {
    auto entry = releasedEntry(key);
    if (!entry) return;
    foundation::systemLog("Withdraw after block = " + foundation::escapedForLog(entry->serialNumber));
    withdrawEntry(*entry);
}

void USBEventManager::withdrawIfGone(const std::string& key) {
    auto entry = releasedEntry(key);
    if (!entry) return;
    const bool placeholder = entry->serialNumber == kPlaceholderSerialNumber;
    if (placeholder) {
        auto present = listPlaceholderBSDNames();
        if (std::find(present.begin(), present.end(), entry->bsdName) != present.end()) return;
    } else if (isOnBus(entry->serialNumber)) {
        return;
    }
    foundation::systemLog("Withdraw after block = " +
                          foundation::escapedForLog(placeholder ? entry->bsdName : entry->serialNumber));
    // This entry, not whichever one a search by serial number or missing disk would find first.
    withdrawEntry(*entry);
}

bool USBEventManager::isOnBus(const std::string& serialNumber) {
    auto present = listDriverSerialNumbers();
    return std::find(present.begin(), present.end(), serialNumber) != present.end();
}

std::vector<std::string> USBEventManager::listPlaceholderBSDNames() {
    std::vector<std::string> names;
    auto services = RegistryReader::driverServices();
    for (io_service_t service : services) {
        auto serial = RegistryReader::serialNumber(service);
        if (serial && *serial == kPlaceholderSerialNumber) names.push_back(readBSDName(service, 1));
    }
    RegistryReader::release(services);
    return names;
}

std::vector<std::string> USBEventManager::listDriverSerialNumbers() {
    std::vector<std::string> serials;
    auto services = RegistryReader::driverServices();
    for (io_service_t service : services) {
        auto serial = RegistryReader::serialNumber(service);
        if (serial && *serial == kPlaceholderSerialNumber) continue;
        serials.push_back(serial.value_or(""));
    }
    RegistryReader::release(services);
    return serials;
}

}  // namespace hvb
