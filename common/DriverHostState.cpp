#include "common/DriverHostState.h"

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"

namespace hvb {

DriverHostState& DriverHostState::shared() {
    static DriverHostState state;
    return state;
}

DriverHostState::State DriverHostState::state() const {
    std::lock_guard<std::mutex> guard(lock_);
    return state_;
}

void DriverHostState::set(State state) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (state_ == state) return;
        state_ = state;
    }
    // Screens change on the main thread only.
    dispatch::mainQueue().async(
        [] { foundation::NotificationCenter::defaultCenter().post(kDriverHostStateDidChange); });
}

void DriverHostState::setStarter(std::function<void()> starter) {
    std::lock_guard<std::mutex> guard(lock_);
    starter_ = std::move(starter);
}

bool DriverHostState::start() {
    std::function<void()> starter;
    {
        std::lock_guard<std::mutex> guard(lock_);
        starter = starter_;
    }
    if (!starter) return false;
    starter();
    return true;
}

}  // namespace hvb
