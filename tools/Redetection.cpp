#include "tools/Redetection.h"

#include <utility>

#include "platform/foundation/Log.h"

namespace hvb {

std::atomic<bool> redetectionServiceSeen{false};
std::atomic<bool> redetectionDeviceFound{false};
std::atomic<bool> detectionPaused{false};

namespace {
std::atomic<int> runningCount{0};
}  // namespace

int Redetection::running() { return runningCount.load(); }

Redetection::Redetection(std::shared_ptr<CameraLink> link, std::string uid, Progress progress,
                         std::optional<uint64_t> hostLosses)
    : link_(std::move(link)), uid_(std::move(uid)), progress_(std::move(progress)), hostLosses_(hostLosses) {}

std::shared_ptr<Redetection> Redetection::start(std::shared_ptr<CameraLink> link, std::string uid,
                                                Progress progress, Ended ended, std::optional<uint64_t> hostLosses) {
    auto redetection =
        std::make_shared<Redetection>(std::move(link), std::move(uid), std::move(progress), hostLosses);
    redetectionServiceSeen = false;
    redetectionDeviceFound = false;
    // The timer's handler holds the re-detection and the re-detection its timer; cancelling the
    // timer lets go of both.
    auto timer = dispatch::Timer::make(
        dispatch::globalQueue(dispatch::QoS::defaultQoS), kTickIntervalMs,
        [redetection, ended = std::move(ended)] {
            const Ending ending = redetection->tick();
            if (ending == Ending::none) return;
            redetection->cancel();
            if (ended) ended(ending);
        },
        0);
    {
        std::lock_guard<std::mutex> guard(redetection->lock_);
        redetection->timer_ = timer;
        redetection->counted_ = true;
    }
    ++runningCount;
    timer->resume();
    return redetection;
}

Redetection::Ending Redetection::tick() {
    int64_t counter = 0;
    bool serviceSeen = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (ended_) return Ending::none;
        counter = ++counter_;
        serviceSeen = serviceSeen_;
    }
    if (progress_) progress_(counter);
    foundation::print("AsyncFind counter = " + std::to_string(counter));
    if (hostLosses_ && link_->driverHostLosses() != *hostLosses_) {
        foundation::print("the driver host went away: the camera cannot come back through it");
        return Ending::hostLost;
    }
    if (counter == kTimeoutTick) return Ending::timedOut;

    if (!serviceSeen) {
        if (link_->open(uid_)) {
            {
                std::lock_guard<std::mutex> guard(lock_);
                serviceSeen_ = true;
            }
            redetectionServiceSeen = true;
        }
        return Ending::none;
    }
    if (link_->isAddingDevice()) return Ending::none;
    if (!isRedetectedRecordBack(*link_, uid_)) return Ending::none;
    redetectionDeviceFound = true;
    return Ending::found;
}

void Redetection::cancel() {
    std::shared_ptr<dispatch::Timer> timer;
    bool counted = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        ended_ = true;
        timer = std::move(timer_);
        counted = std::exchange(counted_, false);
    }
    if (timer) timer->cancel();
    if (counted) --runningCount;
}

int64_t Redetection::counter() const {
    std::lock_guard<std::mutex> guard(lock_);
    return counter_;
}

bool Redetection::serviceSeen() const {
    std::lock_guard<std::mutex> guard(lock_);
    return serviceSeen_;
}

bool Redetection::isRedetectedRecordBack(const CameraLink& link, const std::string& uid) {
    const int64_t count = link.plugInDeviceCount();
    foundation::systemLog("PlugInDeviceCnt : " + std::to_string(count));
    if (count <= 0) {
        if (!detectionPaused.exchange(true)) {
            foundation::systemLog("stopDetection");
            dispatch::globalQueue(dispatch::QoS::defaultQoS).asyncAfter(kStopLogPauseMs, [] { resumeDetectionLog(); });
        }
        return false;
    }
    return link.cameraWithUID(uid).has_value();
}

void Redetection::resumeDetectionLog() {
    foundation::systemLog("startDetection");
    dispatch::globalQueue(dispatch::QoS::defaultQoS).asyncAfter(kStartLogPauseMs, [] { detectionPaused = false; });
}

}  // namespace hvb
