#pragma once
// A snapshot of one camera for the status row: its shared record and a copy of its table.
#include <optional>
#include <string>

#include "camera/CommandTables.h"
#include "camera/DiskDriver_Parameter.h"

namespace hvb {

class StatusModel {
public:
    DeviceRecord parameters;
    CommandDictionary commands;

    // None when the key has no record, the record no model, or its table name no table.
    static std::optional<StatusModel> make(const std::string& deviceKey);

    std::optional<bool> bleTriggerHost() const;
    std::optional<bool> teamSync() const;
    // True when the firmware is current (or its version unknown); otherwise schedules the
    // release-notes download on a global queue and gives false.
    bool refreshFirmwareInfo() const;
};

}  // namespace hvb
