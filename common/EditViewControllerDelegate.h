#pragma once
// What the user-label and team-sync edit sheet asks of its delegate when the user is done, in
// this order, each only for a value the sheet decided to write.
#include <cstdint>

#include <QString>

#include "camera/StatusModel.h"

namespace hvb {

class EditViewControllerDelegate {
public:
    virtual ~EditViewControllerDelegate() = default;
    virtual void editUserLabel(const StatusModel& status, const QString& label) = 0;
    // 0 clears team sync; any other group sets it (a group must lie in 0 to 255).
    virtual void setTeamSyncGroup(const StatusModel& status, int64_t group) = 0;
    virtual void setTeamSyncLeader(const StatusModel& status, bool leader) = 0;
};

}  // namespace hvb
