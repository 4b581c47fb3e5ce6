#pragma once
// Whether a camera's firmware is current, as the firmware service answers it. Asking may wait
// for the web service, so the question goes to a global queue and the rows show the last
// answer meanwhile; at most one question (and with it at most one release-notes download) is
// under way per model. Main thread only.
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "camera/StatusModel.h"

namespace hvb {

class FirmwareInfoCache {
public:
    static FirmwareInfoCache& shared();

    // The last answer for this model and version; none while it was never answered. A snapshot
    // without a firmware version counts as current.
    std::optional<bool> answer(const StatusModel& status) const;
    // Asks again (StatusModel::refreshFirmwareInfo on a global queue) unless a question for the
    // snapshot's model is under way; `answered` runs on the main queue once the answer for
    // that model is in (also when it joined a question already under way).
    void refresh(const StatusModel& status, std::function<void()> answered);
    bool isAsking(const std::string& model) const { return asking_.count(model) != 0; }
    // Tests: forget every answer.
    void reset();

private:
    static std::pair<std::string, std::optional<std::string>> key(const StatusModel& status);

    std::map<std::pair<std::string, std::string>, bool> answers_;
    std::set<std::string> asking_;
    std::map<std::string, std::vector<std::function<void()>>> waiters_;
    uint64_t generation_ = 0;
};

}  // namespace hvb
