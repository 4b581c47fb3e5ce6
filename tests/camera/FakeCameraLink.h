#pragma once
// The screens' test doubles: a usage reporter that records, and a camera link in memory whose
// device state, tables and driver services the test sets, recording every setting write.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "camera/CameraLink.h"
#include "camera/SerialMatch.h"
#include "online/UsageReports.h"

namespace hvbtest {

struct FakeEvent {
    std::string name, action, label;
    bool operator==(const FakeEvent&) const = default;
};

// Records every event and screen view, from any thread.
class RecordingReports : public hvb::UsageReports {
public:
    using Event = std::pair<std::string, std::map<std::string, std::string>>;

    void sendEvent(const std::string& name, const std::map<std::string, std::string>& params) override {
        std::lock_guard<std::mutex> guard(reportsLock_);
        events_.emplace_back(name, params);
    }
    void logScreen(const std::string& name, const std::string& className) override {
        std::lock_guard<std::mutex> guard(reportsLock_);
        screens_.emplace_back(name, className);
    }
    std::vector<Event> events() const {
        std::lock_guard<std::mutex> guard(reportsLock_);
        return events_;
    }
    // The events as name, "action" and "label".
    std::vector<FakeEvent> eventLabels() const {
        std::lock_guard<std::mutex> guard(reportsLock_);
        std::vector<FakeEvent> out;
        for (const auto& [name, params] : events_) {
            auto action = params.find("action");
            auto label = params.find("label");
            out.push_back({name, action == params.end() ? "" : action->second,
                           label == params.end() ? "" : label->second});
        }
        return out;
    }
    std::vector<std::pair<std::string, std::string>> screens() const {
        std::lock_guard<std::mutex> guard(reportsLock_);
        return screens_;
    }

private:
    mutable std::mutex reportsLock_;
    std::vector<Event> events_;
    std::vector<std::pair<std::string, std::string>> screens_;
};

struct FakeWrite {
    std::string uid;
    uint8_t code = 0;
    int64_t value = 0;
    bool text = false;
    bool operator==(const FakeWrite&) const = default;
};

class FakeCameraLink : public hvb::CameraLink, public RecordingReports {
public:
    // ---- state the test sets ----
    int64_t count = 0;
    std::vector<hvb::DeviceEntry> entries;
    std::map<std::string, hvb::DiskDriver_Parameter> records;
    std::vector<std::shared_ptr<hvb::HVBModel>> models;
    // Tables by name; with `programTables`, a name not here comes from the program's own.
    std::map<std::string, hvb::CommandDictionary> tables;
    bool programTables = false;
    // The driver services present, by serial number (none: a service without one); a
    // service's handle is its position plus one.
    std::vector<std::optional<std::string>> serials;
    // Volume locations by UID.
    std::map<std::string, std::string> volumes;
    bool adding = false;
    int64_t selected = -1;
    std::string password;
    // How setting writes end (camera commands always fail).
    bool acceptWrites = true;

    // ---- what happened, in order ----
    std::vector<FakeWrite> writes;

    // A camera with settings, its entry appended and counted.
    hvb::DiskDriver_Parameter& addCamera(const std::string& serial, const std::string& model, int64_t cut = 1) {
        std::lock_guard guard(lock_);
        hvb::DeviceEntry entry{serial, "", static_cast<int64_t>(entries.size())};
        entries.push_back(entry);
        count = static_cast<int64_t>(entries.size());
        hvb::DiskDriver_Parameter record;
        record.ModelName = model;
        record.UID = serial;
        record.cut = cut;
        record.DeviceParam = std::make_shared<hvb::sDeviceParam>();
        return records[entry.key()] = record;
    }

    // ---- CameraLink ----
    int64_t plugInDeviceCount() const override { return count; }
    std::vector<hvb::DeviceEntry> deviceEntries() const override {
        std::lock_guard guard(lock_);
        return entries;
    }
    std::vector<std::shared_ptr<hvb::HVBModel>> modelList() const override {
        std::lock_guard guard(lock_);
        return models;
    }
    bool isAddingDevice() const override { return adding; }
    std::optional<hvb::DiskDriver_Parameter> record(const std::string& key) const override {
        std::lock_guard guard(lock_);
        auto it = records.find(key);
        if (it == records.end()) return std::nullopt;
        return deepCopy(it->second);
    }
    hvb::DiskDriver_Parameter recordFields(const hvb::DeviceRecord& record) const override {
        std::lock_guard guard(lock_);
        return record ? deepCopy(*record) : hvb::DiskDriver_Parameter{};
    }
    std::optional<hvb::CommandDictionary> commandTable(const std::string& name) const override {
        auto it = tables.find(name);
        if (it != tables.end()) return it->second;
        if (programTables && !name.empty()) return hvb::cmdTables().find(name);
        return std::nullopt;
    }
    int64_t selectedDeviceIndex() const override { return selected; }
    void setSelectedDeviceIndex(int64_t index) override { selected = index; }
    std::string enteredPassword() const override {
        std::lock_guard guard(lock_);
        return password;
    }
    void setEnteredPassword(const std::string& value) override {
        std::lock_guard guard(lock_);
        password = value;
    }

    bool updateRecord(const std::string& key, const std::function<void(hvb::DiskDriver_Parameter&)>& change) override {
        std::lock_guard guard(lock_);
        auto it = records.find(key);
        if (it == records.end()) return false;
        change(it->second);
        return true;
    }
    bool updateRecord(const hvb::DeviceRecord& record,
                      const std::function<void(hvb::DiskDriver_Parameter&)>& change) override {
        std::lock_guard guard(lock_);
        if (!record) return false;
        change(*record);
        return true;
    }
    bool setFormatBlock(const std::string& key, bool blocked) override {
        return updateRecord(key, [blocked](hvb::DiskDriver_Parameter& r) { r.isFormatBlock = blocked; });
    }
    void withdrawIfGone(const std::string&) override {}
    void writeBVConfigIni(const std::string&) override {}
    void recordsChanged() override {}

    void clearDeviceService() override {}
    bool hasDeviceService() const override { return false; }
    std::optional<std::string> mountPoint(const std::string& uid) const override { return volumePath(uid); }
    std::optional<std::string> volumePath(const std::string& uid) const override {
        std::lock_guard guard(lock_);
        auto it = volumes.find(uid);
        if (it == volumes.end()) return std::nullopt;
        return it->second;
    }

    hvb::CommandOutcome sendCommandData(io_service_t, uint8_t, std::span<const uint8_t>) override {
        return hvb::CommandOutcome::failed;
    }
    hvb::CommandOutcome sendCommandWords(io_service_t, uint8_t, std::span<const uint32_t>) override {
        return hvb::CommandOutcome::failed;
    }
    hvb::CommandOutcome readCommand(io_service_t, uint8_t, std::vector<uint8_t>& reply, uint32_t length) override {
        reply.assign(length, 0);
        return hvb::CommandOutcome::failed;
    }
    bool setDeviceValue(const std::string& uid, uint8_t code, int64_t value) override {
        std::lock_guard guard(lock_);
        writes.push_back({uid, code, value, false});
        return acceptWrites;
    }
    bool setDeviceString(const std::string& uid, uint8_t code, int64_t zone) override {
        std::lock_guard guard(lock_);
        writes.push_back({uid, code, zone, true});
        return acceptWrites && zone >= 0 && zone < 39;
    }
    bool syncDeviceDateTime(const std::string&, const hvb::CommandDictionary&, const std::string&) override {
        return false;
    }
    std::string readDeviceDateTime(const std::string&, const hvb::CommandDictionary&) override { return {}; }

protected:
    // The live link's rule: the first service whose serial contains the UID.
    io_service_t driverService(const std::string& uid) const override {
        std::lock_guard guard(lock_);
        for (size_t i = 0; i < serials.size(); ++i)
            if (serials[i] && hvb::serialContains(*serials[i], uid, hvb::MatchCase::sensitive))
                return static_cast<io_service_t>(i + 1);
        return IO_OBJECT_NULL;
    }
    io_service_t driverServiceAt(int driverIndex) const override {
        std::lock_guard guard(lock_);
        if (driverIndex < 0 || driverIndex >= static_cast<int>(serials.size())) return IO_OBJECT_NULL;
        return static_cast<io_service_t>(driverIndex + 1);
    }
    void releaseService(io_service_t) const override {}

private:
    static hvb::DiskDriver_Parameter deepCopy(const hvb::DiskDriver_Parameter& record) {
        hvb::DiskDriver_Parameter copy = record;
        if (copy.DeviceParam) copy.DeviceParam = std::make_shared<hvb::sDeviceParam>(*copy.DeviceParam);
        return copy;
    }
    mutable std::recursive_mutex lock_;
};

}  // namespace hvbtest
