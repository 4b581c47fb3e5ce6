#pragma once
// The Setting panel's camera selector, as decisions: which cameras it lists and how it names
// them, which camera it selects, and when a selection counts.
#include <cstdint>
#include <vector>

#include <QString>

namespace hvb {

class SettingsCameraLink;

struct DeviceSelectorItem {
    QString title;
    int64_t entryIndex = -1;  // the camera's position in the device entry list
    bool operator==(const DeviceSelectorItem&) const = default;
};

class DeviceSelector {
public:
    // One item per camera brought up that has a record (and, unless it runs the old firmware,
    // a model with a display name): its user label, or its UID in upper case when the label is
    // empty or just the model's name.
    static std::vector<DeviceSelectorItem> items(const SettingsCameraLink& link);
    // The camera to select: -1 becomes the first, past the end the last.
    static int64_t clampedIndex(int64_t selected, int64_t count);
    // Whether a selection change (selector position, or -1) is acted on.
    static bool actsOnSelection(int64_t count, int position);
    // Whether the user may switch between the tables.
    static bool tabsSelectable(int64_t count) { return count != 0; }
};

}  // namespace hvb
