#include "settings/DeviceSelector.h"

#include "camera/CommandTables.h"
#include "settings/SettingsCameraLink.h"

namespace hvb {

std::vector<DeviceSelectorItem> DeviceSelector::items(const SettingsCameraLink& link) {
    std::vector<DeviceSelectorItem> out;
    const int64_t count = link.plugInDeviceCount();
    const auto entries = link.deviceEntries();
    for (int64_t i = 0; i < count; ++i) {
        if (i >= static_cast<int64_t>(entries.size())) continue;
        const DeviceEntry& entry = entries[static_cast<size_t>(i)];
        const auto record = link.record(entry.key());
        if (!record) continue;
        // A camera without the text it would be named by is named by its serial number.
        const QString serial = QString::fromStdString(entry.serialNumber);
        if (record->isOldFirmware) {
            out.push_back({record->UserLabel ? QString::fromStdString(*record->UserLabel) : serial, i});
            continue;
        }
        if (!record->ModelName) continue;
        auto display = modelDisplayNames().find(*record->ModelName);
        if (display == modelDisplayNames().end()) continue;
        const std::string label = record->UserLabel.value_or("");
        if (!label.empty() && label != display->second) {
            out.push_back({QString::fromStdString(label), i});
        } else {
            out.push_back({(record->UID ? QString::fromStdString(*record->UID) : serial).toUpper(), i});
        }
    }
    return out;
}

int64_t DeviceSelector::clampedIndex(int64_t selected, int64_t count) {
    if (selected == -1) return 0;
    if (selected >= count) return count - 1;
    return selected;
}

bool DeviceSelector::actsOnSelection(int64_t count, int position) {
    return (count != 0 && position != -1) || (count == 0 && position == -1);
}

}  // namespace hvb
