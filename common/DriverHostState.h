#pragma once
// What the screens know of the camera driver's host beyond the cameras it lists: whether it is
// known to be down (the user declined to start it, or a start failed) or being started, and the
// shell's way to start it. The shell tells; the screens show it and offer the start.
#include <functional>
#include <mutex>

namespace hvb {

// Posted on the main queue after each change of the state.
constexpr const char* kDriverHostStateDidChange = "driverHostStateDidChange";

class DriverHostState {
public:
    enum class State {
        notKnownDown,  // running, or not yet known to be down
        down,
        starting,
    };

    static DriverHostState& shared();

    State state() const;
    void set(State state);
    // The shell's start: one run of the driver's start, on the shell's own queue (it returns at
    // once). Null: nothing can start it.
    void setStarter(std::function<void()> starter);
    // False when no starter is set.
    bool start();

private:
    mutable std::mutex lock_;
    State state_ = State::notKnownDown;
    std::function<void()> starter_;
};

}  // namespace hvb
