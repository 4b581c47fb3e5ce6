#pragma once
// What the toolbox says about its driver host while it runs. A host that turns the toolbox away
// is told once for each reason, in words the user can act on; the link keeps trying and the
// cameras appear once it is let in. A host the toolbox was using that stays away past a grace
// period (a service manager brings a crashed host back well within it) is offered to be started
// again, once per loss and only on the user's word: declined or failed, nothing asks again
// until a host has been reached and lost anew.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

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
        // Starts the installed driver (the launch check's START; it says itself when that fails).
        std::function<void()> startDriver;
        // Installer runs begun so far, and whether one is under way: a run that began after the
        // loss decides, and speaks for itself.
        std::function<uint64_t()> installerRuns;
        std::function<bool()> installerRunning;
        // The host's status now.
        std::function<iokit::HostStatus()> currentStatus;
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
    // No hook is called from now on (what runs finishes).
    void stop();

    // The words for a refusal (localized).
    static std::string refusalText(iokit::Refusal refusal, const std::string& group);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace hvb
