#include "app/CameraWorkQueue.h"

namespace hvb {

std::shared_ptr<CameraWorkQueue> CameraWorkQueue::make(dispatch::QoS qos) {
    return std::shared_ptr<CameraWorkQueue>(new CameraWorkQueue(qos));
}

void CameraWorkQueue::async(std::function<void()> job) {
    if (!job) return;
    bool start = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        jobs_.push_back(std::move(job));
        if (!draining_) draining_ = start = true;
    }
    if (start) dispatch::globalQueue(qos_).async([self = shared_from_this()] { self->drain(); });
}

void CameraWorkQueue::drain() {
    for (;;) {
        std::function<void()> job;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (jobs_.empty()) {
                draining_ = false;
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

}  // namespace hvb
