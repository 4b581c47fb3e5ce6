#pragma once
// The process-wide device state: the model objects of the cameras on USB, the cameras brought
// up (entries and records) and the counters and flags around them. Screens and workers on any
// thread read snapshots; every change goes through one lock, which is only ever held for the
// change itself, never across a camera command. The event manager's own semaphores keep its
// changes in order, on top of this lock.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "camera/DiskDriver_Parameter.h"
#include "camera/HVBModel.h"

namespace hvb {

constexpr const char* kStatusDidGet = "statusDidGet";
constexpr const char* kPlaceholderSerialNumber = "966110000000100";

// One camera brought up.
struct DeviceEntry {
    std::string serialNumber;
    std::string bsdName;  // only for cameras reporting the placeholder serial
    int64_t driverIndex = 0;

    std::string key() const { return serialNumber + bsdName; }
    bool operator==(const DeviceEntry&) const = default;
};

// The device key: serial number followed directly by the BSD name.
inline std::string deviceKey(const std::string& serialNumber, const std::string& bsdName) {
    return serialNumber + bsdName;
}

class DeviceState {
public:
    static DeviceState& shared();

    // The three lists, for a compound change made under the lock.
    struct Lists {
        std::vector<std::shared_ptr<HVBModel>>& modelList;
        std::vector<DeviceEntry>& deviceEntryList;
        std::map<std::string, DeviceRecord>& deviceParameterDict;
    };

    // ---- modelList ----
    std::vector<std::shared_ptr<HVBModel>> modelList() const;
    std::shared_ptr<HVBModel> findModel(const std::string& sn) const;
    // The first model with that SN, appended first when there is none (`created` tells).
    std::shared_ptr<HVBModel> ensureModel(const std::string& sn, bool* created = nullptr);
    // Removes every model with that SN; how many went.
    size_t removeModels(const std::string& sn);

    // ---- deviceEntryList ----
    std::vector<DeviceEntry> deviceEntryList() const;
    std::optional<DeviceEntry> entryAt(int64_t index) const;
    void appendEntry(DeviceEntry entry);
    // The entry that selectedDeviceIndex names, if it names one.
    std::optional<DeviceEntry> selectedEntry() const;

    // ---- deviceParameterDict ----
    std::map<std::string, DeviceRecord> deviceParameterDict() const;
    DeviceRecord record(const std::string& key) const;
    bool hasRecord(const std::string& key) const;
    size_t recordCount() const;
    void storeRecord(const std::string& key, DeviceRecord record);
    DeviceRecord removeRecord(const std::string& key);

    // A record's fields read or changed under the lock (records are shared objects).
    template <class F>
    auto readRecord(const DeviceRecord& record, F&& f) const {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        return f(static_cast<const DiskDriver_Parameter&>(*record));
    }
    template <class F>
    void updateRecord(const DeviceRecord& record, F&& f) {
        if (!record) return;
        std::lock_guard<std::recursive_mutex> guard(lock_);
        f(*record);
    }
    // False when the key has no record.
    template <class F>
    bool updateRecord(const std::string& key, F&& f) {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        auto it = records_.find(key);
        if (it == records_.end() || !it->second) return false;
        f(*it->second);
        return true;
    }
    // A copy of a record's fields (the settings copied too), for readers on other threads.
    std::optional<DiskDriver_Parameter> recordCopy(const std::string& key) const;

    template <class F>
    auto withLists(F&& f) {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        Lists lists{models_, entries_, records_};
        return f(lists);
    }

    // ---- counters and flags ----
    std::atomic<int64_t> PlugInDeviceCnt{0};
    std::atomic<int64_t> selectedDeviceIndex{-1};
    std::atomic<bool> isAddingDevice{false};

    std::string enteredPassword() const;
    void setEnteredPassword(std::string password);
    std::string settingSerialNumber() const;
    void setSettingSerialNumber(std::string serial);

    // Back to the start state (tests).
    void reset();

private:
    mutable std::recursive_mutex lock_;
    std::vector<std::shared_ptr<HVBModel>> models_;
    std::vector<DeviceEntry> entries_;
    std::map<std::string, DeviceRecord> records_;
    std::string enteredPassword_;
    std::string settingSerialNumber_;
};

// Schedules one post of "statusDidGet" (no object) on the main queue.
void postStatusDidGet();

}  // namespace hvb
