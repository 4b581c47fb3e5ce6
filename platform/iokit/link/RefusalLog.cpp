#include "platform/iokit/link/RefusalLog.h"

#include "platform/iokit/kern/IOLib.h"

namespace iokit {

RefusalLog::RefusalLog(Clock now) : now_(now ? std::move(now) : Clock([] { return dispatch::Clock::now(); })) {}

void RefusalLog::refused(pid_t pid, uid_t uid, const std::string& why) {
    const auto now = now_();
    auto [it, first] = reasons_.try_emplace(why);
    Reason& reason = it->second;
    if (!first && now - reason.lineAt < kInterval) {
        ++reason.held;
        return;
    }
    if (reason.held > 0) {
        // Still refusing: this one goes into the count rather than a line of its own.
        ++reason.held;
        writeHeld(why, reason, now);
        return;
    }
    IOLog("iokit socket: refusing peer pid %d uid %u: %s\n", static_cast<int>(pid), static_cast<unsigned>(uid),
          why.c_str());
    reason.lineAt = now;
}

void RefusalLog::writeHeld(const std::string& why, Reason& reason, dispatch::Clock::time_point now) {
    IOLog("iokit socket: refused %zu more peers in the last second: %s\n", reason.held, why.c_str());
    reason.held = 0;
    reason.lineAt = now;
}

void RefusalLog::flush() {
    const auto now = now_();
    for (auto it = reasons_.begin(); it != reasons_.end();) {
        Reason& reason = it->second;
        if (reason.held > 0 && now - reason.lineAt >= kInterval) writeHeld(it->first, reason, now);
        // A reason quiet for a whole second is forgotten: the next refusal is written in full.
        if (reason.held == 0 && now - reason.lineAt >= kInterval) {
            it = reasons_.erase(it);
        } else {
            ++it;
        }
    }
}

std::optional<dispatch::Clock::time_point> RefusalLog::nextFlush() const {
    std::optional<dispatch::Clock::time_point> next;
    for (auto& [why, reason] : reasons_) {
        if (reason.held == 0) continue;
        const auto due = reason.lineAt + kInterval;
        if (!next || due < *next) next = due;
    }
    return next;
}

}  // namespace iokit
