#pragma once
// Camera traffic of the Status panel, off the GUI thread and one job at a time: a camera answers
// one command at a time, so the row ticks and the device actions never interleave their blocks.
// Jobs run in the order they were queued, on a global queue; the queue lives as long as a job
// still needs it.
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/dispatch/Dispatch.h"

namespace hvb {

class CameraWorkQueue : public std::enable_shared_from_this<CameraWorkQueue> {
public:
    static std::shared_ptr<CameraWorkQueue> make(dispatch::QoS qos = dispatch::QoS::userInitiated);

    void async(std::function<void()> job);

    // Takes no job from now on, drops those not started yet and returns once the running one
    // has finished (not from one of this queue's jobs).
    void finish();
    // finish() for every queue of the process, and any made later starts finished. The
    // application calls it before main returns: no camera job may run into the exit handlers.
    static void finishAll();

private:
    explicit CameraWorkQueue(dispatch::QoS qos) : qos_(qos) {}
    void drain();

    const dispatch::QoS qos_;
    std::mutex lock_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> jobs_;
    bool draining_ = false;
    bool finished_ = false;
};

}  // namespace hvb
