#pragma once
// The write of one setting chosen in a pop-up, up to the camera's answer: which settings can be
// written and how each is named in analytics, the write itself, the event, the record update
// and the interlock it calls for. Runs on a worker; the panel shows the result.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "camera/CommandTables.h"
#include "camera/Settings.h"

namespace hvb {

class CameraLink;
class UsageReports;

// A setting that can be written.
struct SettingWriteRow {
    std::string_view identifier;  // the command name, "HVB_" and the field's name
    EnumSettings field;
    bool timeZoneText;            // sent as its offset text instead of a number
    std::string_view prefix;      // the analytics action's start, trailing blank included
    // The action's end for the chosen position (and the chosen option's text).
    std::string (*suffix)(int64_t index, const std::string& title);
};

// A second write the first one forces.
struct SettingInterlock {
    int index = 0;
    std::string identifier;
    std::string title;
    bool operator==(const SettingInterlock&) const = default;
};

struct SettingWriteRequest {
    int64_t selectedDeviceIndex = -1;  // the camera the choice was made for
    std::string uid;                   // the UID the panel was built with
    CommandDictionary cmdDic;          // the command table the panel was built with
    int64_t index = -1;
    std::string identifier;
    std::string title;
};

struct SettingWriteResult {
    enum class Kind {
        noCamera,     // nothing selected, or no record with settings: nothing more happens
        rebuildOnly,  // nothing to write (the value is the camera's already, or no option chosen)
        written,      // the camera took it: event sent, record updated
        failed,       // event sent; the panel shows the failure
    };
    Kind kind = Kind::noCamera;
    std::string key;  // the camera's key, for the rebuild
    std::string action;
    std::string label;
    std::optional<SettingInterlock> interlock;
};

class SettingWrite {
public:
    // The writable setting of that command name, or none.
    static const SettingWriteRow* row(std::string_view identifier);
    // The analytics action of a choice.
    static std::string action(const SettingWriteRow& row, int64_t index, const std::string& title);
    // Everything of the write up to the camera's answer (blocks for the camera).
    static SettingWriteResult perform(CameraLink& link, UsageReports& reports, const SettingWriteRequest& request);
};

// Stores a value into the record's settings at once; false when the record or its settings are
// gone.
bool storeSetting(CameraLink& link, const std::string& key, EnumSettings field, int64_t value);

}  // namespace hvb
