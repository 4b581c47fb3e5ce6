#pragma once
// The camera side of the reset-to-default dialog: check the kept password on a locked camera,
// send the reset, reboot the camera and start the re-detection. Qt-free; run() blocks.
#include <functional>
#include <memory>

#include "camera/CameraLink.h"
#include "camera/CommandTables.h"
#include "tools/CameraSteps.h"

namespace hvb {

class ResetDefaultWorker {
public:
    enum Code : int {
        kSuccess = ResetCode::kSuccess,
        kNoEncryptionState = ResetCode::kNoEncryptionState,
        kNoUID = ResetCode::kNoUID,
        kNoService = -3,
        kSendFailed = -4,      // no "HVB_RESET", or the camera did not take it
        kWrongPassword = -5,
        kRebootNotFound = -6,  // not found again for the reboot
        kRebootRefused = -7,   // the camera refused the reboot
        kNoRecord = ResetCode::kNoRecord,
        kNoCamera = ResetCode::kNoCamera,
    };
    static constexpr int64_t kAfterResetPauseMs = 150;
    static constexpr int64_t kBeforeRebootPauseMs = 2000;
    static constexpr int64_t kAfterRebootPauseMs = 2000;

    ResetDefaultWorker(std::shared_ptr<CameraLink> link, std::function<void()> startRedetection);

    // resetDeviceToDefault; the outcome code.
    int run(const DialogTarget& target, const CommandDictionary& table);

private:
    const std::shared_ptr<CameraLink> link_;
    const std::function<void()> startRedetection_;
};

}  // namespace hvb
