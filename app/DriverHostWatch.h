#pragma once
// What the toolbox says about its driver host while it runs. A host that turns the toolbox away
// is told once for each reason, in words the user can act on; the link keeps trying and the
// cameras appear once it is let in. A host the toolbox was using that stays away past a grace
// period (a service manager brings a crashed host back well within it) is offered to be started
// again, once per loss and only on the user's word: declined or failed, nothing asks again
// until a host has been reached and lost anew, and the screens say that the driver is not running
// and start it when the user asks them to.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/DriverHostState.h"
#include "platform/iokit/link/SocketLink.h"

namespace hvb {

class DriverHostWatch {
public:
    struct Hooks {
        // An alert; returns once it is dismissed.
        std::function<void(const std::string& title, const std::string& text)> tell;
        // An alert with the two buttons; true for the first.
        std::function<bool(const std::string& title, const std::string& text, const std::string& confirm,
                           const std::string& cancel)>
            ask;
        // Starts the installed driver (the launch check's START; it says itself when that fails);
        // true when it ran.
        std::function<bool()> startDriver;
        // Installer runs begun so far, and whether one is under way: a run that began after the
        // loss decides, and speaks for itself.
        std::function<uint64_t()> installerRuns;
        std::function<bool()> installerRunning;
        // The host's status now.
        std::function<iokit::HostStatus()> currentStatus;
        // What the screens are to show of the host (each change).
        std::function<void(DriverHostState::State)> showState;
        // The group whose members the host admits.
        std::string group = "halvetor";
    };
    // A service manager restarts a host within a second or two.
    static constexpr int64_t kGraceMs = 5000;

    explicit DriverHostWatch(Hooks hooks, int64_t graceMs = kGraceMs);
    ~DriverHostWatch();  // stop()
    DriverHostWatch(const DriverHostWatch&) = delete;
    DriverHostWatch& operator=(const DriverHostWatch&) = delete;

    // A change of the host's status, from any thread; dealt with on the watch's own queue.
    void statusChanged(iokit::HostStatus status);
    // The user asked for the driver to be started (a screen's button): one start, on the queue,
    // while the host is known to be down and no start runs.
    void startRequested();
    // What a screen calls for startRequested; it does nothing once the watch is gone.
    std::function<void()> starter() const;
    // A start made elsewhere (the launch check's) failed: the host is known to be down.
    void startFailed();
    // No hook is called from now on (what runs finishes).
    void stop();

    // The words for a refusal (localized).
    static std::string refusalText(iokit::Refusal refusal, const std::string& group);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace hvb
