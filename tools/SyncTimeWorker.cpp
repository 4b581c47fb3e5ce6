#include "tools/SyncTimeWorker.h"

#include "online/UsageReports.h"

namespace hvb {

SyncTimeOutcome SyncTimeWorker::runTimeSync(CameraLink& link, const std::string& title) {
    SyncTimeOutcome outcome;
    auto camera = link.camera(link.selectedDeviceIndex());
    // Without a UID no camera can be addressed, as without a record.
    if (!camera || !camera->record.UID || camera->record.UID->empty()) return outcome;
    const std::string uid = *camera->record.UID;
    const std::map<std::string, std::string> params = {{"action", "Sync time with PC"},
                                                       {"label", camera->record.ModelName.value_or("")}};
    if (!link.syncDeviceDateTime(uid, camera->table, camera->entry.key())) {
        usageReports()->sendEvent("Settings_Failed", params);
        outcome.kind = SyncTimeOutcome::Kind::failure;
        return outcome;
    }
    const std::string clock = link.readDeviceDateTime(uid, camera->table);
    outcome.kind = SyncTimeOutcome::Kind::success;
    // An unreadable clock comes back as bare separators: no clock to show.
    const bool readable = clock.find_first_of("0123456789") != std::string::npos;
    outcome.message = readable ? title + "\n" + clock : std::string();
    usageReports()->sendEvent("Settings", params);
    return outcome;
}

}  // namespace hvb
