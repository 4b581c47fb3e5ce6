#pragma once
// The host's lines about peers it turns away. A flood of refused connections would otherwise
// write a line each (tens of thousands a second); for each reason the first refusal is written
// in full, and those that follow within a second are counted into one line written once the
// second is over.
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/dispatch/Dispatch.h"

namespace iokit {

class RefusalLog {
public:
    using Clock = std::function<dispatch::Clock::time_point()>;
    static constexpr std::chrono::seconds kInterval{1};

    // `now` null: the steady clock.
    explicit RefusalLog(Clock now = nullptr);

    void refused(pid_t pid, uid_t uid, const std::string& why);
    // Writes the counts whose second is over.
    void flush();
    // When the next count is due, if one is held.
    std::optional<dispatch::Clock::time_point> nextFlush() const;
    dispatch::Clock::time_point now() const { return now_(); }

private:
    struct Reason {
        dispatch::Clock::time_point lineAt;  // of the last line written for it
        size_t held = 0;                     // refusals since, not written
    };
    void writeHeld(const std::string& why, Reason& reason, dispatch::Clock::time_point now);

    Clock now_;
    std::map<std::string, Reason> reasons_;
};

}  // namespace iokit
