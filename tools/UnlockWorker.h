#pragma once
// The camera side of the unlock dialog: the password check on the camera (three outcomes:
// right, wrong, no verdict), the wrong-attempt count in the camera's record, and after a right
// password either the removal of the password (the camera reboots and is waited for) or the
// opening of the camera's storage followed by the dialog's own wait for the camera. Qt-free;
// run() blocks and belongs on a worker, the wait ticks on a global queue.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "camera/CameraLink.h"
#include "platform/dispatch/Dispatch.h"

namespace hvb {

struct UnlockRequest {
    int64_t selectedDeviceIndex = -1;
    // The entry's UTF-8 bytes, taken when the user submitted.
    std::string password;
    // True: open the storage; false: remove the password.
    bool unlockOnly = false;
};

class UnlockWorker : public std::enable_shared_from_this<UnlockWorker> {
public:
    static constexpr int64_t kBeforeUnlockPauseMs = 1000;
    static constexpr int64_t kAfterUnlockPauseMs = 100;
    static constexpr int64_t kTimerIntervalMs = 1000;
    static constexpr int64_t kTimeoutTick = 35;

    // What the worker reports, on its own threads; the view moves each to the main queue.
    enum class Event {
        wrongPassword,     // `attempts`: the count including this one
        noVerdict,         // nothing was decided; the counter is unchanged
        passwordVerified,  // the camera accepted the password
        passwordCorrect,   // show "Password Correct !" and keep the password
        disableFailed,     // the password could not be removed, or the camera never came back
        finished,          // the removal is done: close
        pleaseWait,        // the storage is being opened
        storageShown,      // the camera is back with its storage open: close
        unlockFailed,      // the storage was refused, or the camera not back by tick 35: close, "Fail"
    };
    using Listener = std::function<void(Event event, int64_t attempts)>;

    UnlockWorker(std::shared_ptr<CameraLink> link, Listener listener);
    ~UnlockWorker();

    // The whole sequence for one submitted password; blocks through the check and, on the
    // removal path, the wait for the camera.
    void run(const UnlockRequest& request);
    // No more events; stops the wait.
    void cancel();

    // One tick of the storage path's wait (tests drive it directly).
    void unlockTimerTick();

    // True when the selected camera's record has used up its attempts.
    static bool isPasswordAttemptsExhausted(const CameraLink& link, int64_t selectedDeviceIndex);
    // The storage command of a model: "HVB_UNLOCK_READONLY" on 7333 and 7334, else "HVB_HIDDENSTORAGE".
    static std::string storageUnlockCommand(const std::string& modelName);

private:
    void report(Event event, int64_t attempts = 0);
    void unlockAfterCorrectPassword(io_service_t service, uint8_t unlockCode);
    void startUnlockTimer();

    const std::shared_ptr<CameraLink> link_;
    const Listener listener_;
    mutable std::mutex lock_;
    bool cancelled_ = false;
    std::string curUID_;
    int64_t timerCnt_ = -1;
    bool isDeviceFound_ = false;
    std::shared_ptr<dispatch::Timer> timer_;
};

}  // namespace hvb
