#pragma once
// The wait for a camera that reboots: once a second, first until a driver service whose serial
// number contains the camera's UID is there again, then until the event manager has read the
// camera and its record (same UID) is back; at tick 200 it gives up. Each re-detection keeps
// its own UID and phase; the process-wide flags below only mirror the latest change for whoever
// reads them. Qt-free.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "camera/CameraLink.h"
#include "platform/dispatch/Dispatch.h"

namespace hvb {

extern std::atomic<bool> redetectionServiceSeen;
extern std::atomic<bool> redetectionDeviceFound;
// The "stopDetection" / "startDetection" log pair ran and its pause has not run out.
extern std::atomic<bool> detectionPaused;

class Redetection : public std::enable_shared_from_this<Redetection> {
public:
    static constexpr int64_t kTimeoutTick = 200;
    static constexpr int64_t kTickIntervalMs = 1000;
    static constexpr int64_t kStopLogPauseMs = 1000;
    static constexpr int64_t kStartLogPauseMs = 5000;

    // hostLost: the driver host went away during the wait, so the camera cannot come back
    // through it.
    enum class Ending { none, found, timedOut, hostLost };
    // Called with the tick number at every tick, on the timer's queue.
    using Progress = std::function<void(int64_t tick)>;
    // Called once, on the timer's queue, when the re-detection ends.
    using Ended = std::function<void(Ending)>;

    // A re-detection of the camera with `uid`, not yet ticking. With `hostLosses` (the link's
    // count of driver host losses when the camera was sent away), a tick that finds the count
    // changed ends it with hostLost; without, it waits whatever happens to the host.
    Redetection(std::shared_ptr<CameraLink> link, std::string uid, Progress progress = {},
                std::optional<uint64_t> hostLosses = std::nullopt);

    // Starts ticking on the default global queue, the first tick at once, one a second after
    // it. The re-detection keeps itself alive until it ends or is cancelled.
    static std::shared_ptr<Redetection> start(std::shared_ptr<CameraLink> link, std::string uid,
                                              Progress progress, Ended ended,
                                              std::optional<uint64_t> hostLosses = std::nullopt);

    // One tick: count, report, then the phase's check. Tests drive it directly.
    Ending tick();
    void cancel();

    const std::string& uid() const { return uid_; }
    int64_t counter() const;
    bool serviceSeen() const;

    // True when one of the first PlugInDeviceCnt entries has a record whose UID equals `uid`;
    // with no camera attached, paces the "stopDetection" / "startDetection" log lines.
    static bool isRedetectedRecordBack(const CameraLink& link, const std::string& uid);
    // How many started re-detections are still ticking.
    static int running();
    static void resumeDetectionLog();

private:
    const std::shared_ptr<CameraLink> link_;
    const std::string uid_;
    const Progress progress_;
    const std::optional<uint64_t> hostLosses_;
    mutable std::mutex lock_;
    int64_t counter_ = -1;
    bool serviceSeen_ = false;
    bool ended_ = false;
    bool counted_ = false;  // in running()
    std::shared_ptr<dispatch::Timer> timer_;
};

}  // namespace hvb
