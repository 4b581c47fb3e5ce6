#pragma once
// The camera side of the reset-all dialog: erase everything (no password asked), format where
// the firmware needs the explicit command, wait for the format, remove the factory-default lock
// that older firmware of three models keeps, reboot and start the re-detection. The camera's
// record is held (isFormatBlock) from the reset until 2 s after the format ended. Qt-free.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "camera/CameraLink.h"
#include "camera/CommandTables.h"
#include "tools/CameraSteps.h"

namespace hvb {

class ResetAllWorker {
public:
    enum Code : int {
        kSuccess = ResetCode::kSuccess,
        kNoEncryptionState = ResetCode::kNoEncryptionState,
        kNoUID = ResetCode::kNoUID,
        kNoModel = -3,
        kNoVersion = -4,
        kSendFailed = -5,             // no "HVB_RESETALL", or the camera did not take it
        kFormatFailed = -7,           // the explicit format command
        kNotFinished = -8,            // the camera never reported the end of the format
        kDefaultPasswordFailed = -9,  // the factory lock stayed, or the camera did not come back
        kNoService = -10,
        kRebootNotFound = -11,        // not found again for the reboot
        kLockNotFound = -12,          // not found again for the factory-lock removal
        kLockRebootNotFound = -13,    // not found again for the reboot after it
        kRebootRefused = -14,         // the camera refused a reboot
        kNoRecord = ResetCode::kNoRecord,
        kNoCamera = ResetCode::kNoCamera,
    };
    static constexpr const char* kFactoryPassword = "40731958";
    static constexpr int64_t kAfterCommandPauseMs = 150;
    static constexpr int64_t kAfterFormatEndPauseMs = 2000;
    static constexpr int64_t kBeforeFactoryLockPauseMs = 3000;

    ResetAllWorker(std::shared_ptr<CameraLink> link, std::function<void()> startRedetection);

    // resetAllDevice with its format wait and reboot; the outcome code.
    int run(const DialogTarget& target, const CommandDictionary& table);

    // Whether the model and firmware erase only on an explicit "HVB_FORMAT_1" after the reset.
    static bool needsExplicitFormat(const std::string& model, int64_t version);
    // Whether the camera keeps the factory-default lock after the reset.
    static bool matchesResetAllModels(const std::string& model, int64_t version, bool locked, bool lockable);

private:
    int checkLockableWithPassword(const std::string& uid, const std::string& password, const CommandDictionary& table);

    const std::shared_ptr<CameraLink> link_;
    const std::function<void()> startRedetection_;
};

}  // namespace hvb
