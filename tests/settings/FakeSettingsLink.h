#pragma once
// A camera link in memory for the Setting panel's decisions: entries, records and tables set by
// the test, every write and event recorded, writes answered as the test says.
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "settings/SettingsCameraLink.h"

namespace settingstest {

struct FakeWrite {
    std::string uid;
    uint8_t code = 0;
    int64_t value = 0;
    bool text = false;
    bool operator==(const FakeWrite&) const = default;
};

struct FakeEvent {
    std::string name, action, label;
    bool operator==(const FakeEvent&) const = default;
};

class FakeSettingsLink : public hvb::SettingsCameraLink {
public:
    int64_t count = 0;
    std::vector<hvb::DeviceEntry> entries;
    std::map<std::string, hvb::DiskDriver_Parameter> records;
    std::map<std::string, hvb::CommandDictionary> tables;
    int64_t selected = -1;
    bool acceptWrites = true;

    // What happened, in order.
    std::vector<FakeWrite> writes;
    std::vector<FakeEvent> events;
    std::vector<std::string> iniWrites;

    // A camera with settings, its entry appended and counted.
    hvb::DiskDriver_Parameter& addCamera(const std::string& serial, const std::string& model, int cut = 1) {
        entries.push_back({serial, "", static_cast<int64_t>(entries.size())});
        ++count;
        hvb::DiskDriver_Parameter record;
        record.ModelName = model;
        record.UID = serial;
        record.cut = cut;
        record.DeviceParam = std::make_shared<hvb::sDeviceParam>();
        return records[serial] = record;
    }

    int64_t plugInDeviceCount() const override { return count; }
    std::vector<hvb::DeviceEntry> deviceEntries() const override {
        std::lock_guard<std::mutex> guard(lock_);
        return entries;
    }
    std::optional<hvb::DiskDriver_Parameter> record(const std::string& key) const override {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = records.find(key);
        if (it == records.end()) return std::nullopt;
        hvb::DiskDriver_Parameter copy = it->second;
        if (copy.DeviceParam) copy.DeviceParam = std::make_shared<hvb::sDeviceParam>(*copy.DeviceParam);
        return copy;
    }
    std::optional<hvb::CommandDictionary> commandTable(const std::string& name) const override {
        auto it = tables.find(name);
        if (it == tables.end()) return std::nullopt;
        return it->second;
    }
    int64_t selectedDeviceIndex() const override { return selected; }
    void setSelectedDeviceIndex(int64_t index) override { selected = index; }

    bool setDeviceValue(const std::string& uid, uint8_t code, int64_t value) override {
        std::lock_guard<std::mutex> guard(lock_);
        writes.push_back({uid, code, value, false});
        return acceptWrites;
    }
    bool setDeviceString(const std::string& uid, uint8_t code, int64_t zone) override {
        std::lock_guard<std::mutex> guard(lock_);
        writes.push_back({uid, code, zone, true});
        return acceptWrites && zone >= 0 && zone < 39;
    }
    bool storeSetting(const std::string& key, hvb::EnumSettings field, int64_t value) override {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = records.find(key);
        if (it == records.end() || !it->second.DeviceParam) return false;
        it->second.DeviceParam->set(field, value);
        return true;
    }
    void writeBVConfigIni(const std::string& key) override {
        std::lock_guard<std::mutex> guard(lock_);
        iniWrites.push_back(key);
    }
    void sendEvent(const std::string& name, const std::map<std::string, std::string>& params) override {
        std::lock_guard<std::mutex> guard(lock_);
        events.push_back({name, params.at("action"), params.at("label")});
    }
    void logScreen(const std::string&, const std::string&) override {}

private:
    mutable std::mutex lock_;
};

}  // namespace settingstest
