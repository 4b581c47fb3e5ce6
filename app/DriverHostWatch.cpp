#include "app/DriverHostWatch.h"

#include <atomic>
#include <set>

#include "common/LocalizedString.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"

namespace hvb {

using iokit::HostStatus;
using iokit::Refusal;
using Shown = DriverHostState::State;

struct DriverHostWatch::State : std::enable_shared_from_this<DriverHostWatch::State> {
    Hooks hooks;
    int64_t graceMs = kGraceMs;
    std::atomic<bool> stopped{false};
    std::atomic<bool> startAsked{false};  // a screen's start waits on the queue, or runs
    dispatch::SerialQueue queue{dispatch::QoS::utility};
    // On the queue only.
    bool reached = false;       // a host served us since the last loss was dealt with
    uint64_t generation = 0;    // each change; an offer waits for none to come
    std::set<Refusal> told;
    bool refused = false;
    Shown shown = Shown::notKnownDown;

    void show(Shown state) {
        if (shown == state) return;
        shown = state;
        if (hooks.showState) hooks.showState(state);
    }
    bool connectedNow() const {
        return hooks.currentStatus && hooks.currentStatus().state == HostStatus::State::connected;
    }

    void handle(HostStatus status) {
        if (stopped.load()) return;
        ++generation;
        switch (status.state) {
            case HostStatus::State::connected:
                if (refused) foundation::print("the driver host lets this toolbox in");
                refused = false;
                reached = true;
                show(Shown::notKnownDown);
                break;
            case HostStatus::State::refused: {
                refused = true;
                show(Shown::notKnownDown);  // it runs
                foundation::print(std::string("the driver host turned this toolbox away: ") +
                                  iokit::describeRefusal(status.refusal));
                // Said once for each reason: the link keeps asking, and would otherwise say it
                // twice a second.
                if (!told.insert(status.refusal).second || !hooks.tell) break;
                hooks.tell(LocalizedString::Msg::driverHostRefused().toStdString(),
                           refusalText(status.refusal, hooks.group));
                break;
            }
            case HostStatus::State::absent: {
                if (!reached) break;
                reached = false;
                foundation::print("the driver host went away");
                // An installer run under way (a reload stops the host) decides for itself.
                if (hooks.installerRunning && hooks.installerRunning()) {
                    foundation::print("the driver installer runs: it brings the host back");
                    break;
                }
                const uint64_t loss = generation;
                const uint64_t runs = hooks.installerRuns ? hooks.installerRuns() : 0;
                queue.asyncAfter(graceMs, [self = shared_from_this(), loss, runs] { self->offer(loss, runs); });
                break;
            }
            case HostStatus::State::unknown:
                break;
        }
    }

    void offer(uint64_t loss, uint64_t runs) {
        // Back meanwhile (restarted by a service manager), or turned us away: it runs.
        if (stopped.load() || loss != generation) return;
        if ((hooks.installerRunning && hooks.installerRunning()) ||
            (hooks.installerRuns && hooks.installerRuns() != runs)) {
            return;
        }
        foundation::print("the driver host stayed away: offering to start it");
        using LocalizedString::Msg;
        const bool start = hooks.ask && hooks.ask(Msg::driverStopped().toStdString(),
                                                  Msg::driverStoppedDetails().toStdString(),
                                                  Msg::startDriver().toStdString(), Msg::notNow().toStdString());
        if (stopped.load()) return;
        if (!start) {
            foundation::print("the driver host stays stopped");
            show(Shown::down);
            return;
        }
        startHost();
    }

    void requestStart() {
        // One start for one press: a press while one is asked for or runs starts nothing more.
        if (startAsked.exchange(true)) return;
        queue.async([self = shared_from_this()] {
            if (!self->stopped.load() && self->shown == Shown::down) {
                foundation::print("starting the driver host, as asked");
                self->startHost();
            }
            self->startAsked.store(false);
        });
    }

    void startHost() {
        // Back meanwhile: nothing to start.
        if (connectedNow()) {
            show(Shown::notKnownDown);
            return;
        }
        show(Shown::starting);
        const bool ran = hooks.startDriver && hooks.startDriver();
        if (stopped.load()) return;
        if (!ran) {
            show(Shown::down);
            return;
        }
        // A host that was started answers well within the grace period; one that does not is
        // down after all, and can be started again.
        queue.asyncAfter(graceMs, [self = shared_from_this()] {
            if (self->stopped.load() || self->shown != Shown::starting) return;
            self->show(self->connectedNow() ? Shown::notKnownDown : Shown::down);
        });
    }
};

DriverHostWatch::DriverHostWatch(Hooks hooks, int64_t graceMs) : state_(std::make_shared<State>()) {
    state_->hooks = std::move(hooks);
    state_->graceMs = graceMs;
}

DriverHostWatch::~DriverHostWatch() { stop(); }

void DriverHostWatch::statusChanged(HostStatus status) {
    state_->queue.async([state = state_, status] { state->handle(status); });
}

void DriverHostWatch::startRequested() { state_->requestStart(); }

std::function<void()> DriverHostWatch::starter() const {
    return [weak = std::weak_ptr<State>(state_)] {
        if (auto state = weak.lock()) state->requestStart();
    };
}

void DriverHostWatch::startFailed() {
    state_->queue.async([state = state_] {
        if (state->stopped.load() || state->connectedNow()) return;
        state->show(Shown::down);
    });
}

void DriverHostWatch::stop() { state_->stopped.store(true); }

std::string DriverHostWatch::refusalText(Refusal refusal, const std::string& group) {
    using LocalizedString::Msg;
    switch (refusal) {
        case Refusal::notAdmitted: return Msg::driverHostNotAdmitted().toStdString();
        case Refusal::socketNotPermitted:
            return Msg::driverHostSocketNotPermitted().arg(QString::fromStdString(group)).toStdString();
        case Refusal::processFull:
        case Refusal::userShareFull: return Msg::driverHostUserShareFull().toStdString();
        case Refusal::tableFull:
        case Refusal::none: break;
    }
    return Msg::driverHostFull().toStdString();
}

}  // namespace hvb
