#include "common/CameraWorkQueue.h"

#include <vector>

namespace hvb {

namespace {

// Every queue made, so that the application can finish them all; never destroyed.
struct Registry {
    std::mutex lock;
    std::vector<std::weak_ptr<CameraWorkQueue>> queues;
    bool finished = false;
};

Registry& registry() {
    static auto* r = new Registry;
    return *r;
}

}  // namespace

std::shared_ptr<CameraWorkQueue> CameraWorkQueue::make(dispatch::QoS qos) {
    auto queue = std::shared_ptr<CameraWorkQueue>(new CameraWorkQueue(qos));
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    std::erase_if(r.queues, [](const std::weak_ptr<CameraWorkQueue>& q) { return q.expired(); });
    if (r.finished) queue->finished_ = true;
    else r.queues.push_back(queue);
    return queue;
}

void CameraWorkQueue::async(std::function<void()> job) {
    if (!job) return;
    bool start = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (finished_) return;  // dropped: its captures go as this returns, outside the lock
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
            if (jobs_.empty() || finished_) {
                draining_ = false;
                idle_.notify_all();
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

void CameraWorkQueue::finish() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> guard(lock_);
        finished_ = true;
        dropped.swap(jobs_);
    }
    // Their captures go before the wait, outside the lock.
    dropped.clear();
    std::unique_lock<std::mutex> lock(lock_);
    idle_.wait(lock, [this] { return !draining_; });
}

void CameraWorkQueue::finishAll() {
    std::vector<std::shared_ptr<CameraWorkQueue>> queues;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        r.finished = true;
        for (const auto& weak : r.queues)
            if (auto queue = weak.lock()) queues.push_back(std::move(queue));
        r.queues.clear();
    }
    for (const auto& queue : queues) queue->finish();
}

}  // namespace hvb
