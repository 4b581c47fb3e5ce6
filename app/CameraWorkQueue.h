#pragma once
// Camera traffic of the Status panel, off the GUI thread and one job at a time: a camera answers
// one command at a time, so the row ticks and the device actions never interleave their blocks.
// Jobs run in the order they were queued, on a global queue; the queue lives as long as a job
// still needs it.
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

private:
    explicit CameraWorkQueue(dispatch::QoS qos) : qos_(qos) {}
    void drain();

    const dispatch::QoS qos_;
    std::mutex lock_;
    std::deque<std::function<void()>> jobs_;
    bool draining_ = false;
};

}  // namespace hvb
