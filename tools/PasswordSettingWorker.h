#pragma once
// The camera side of the password setting dialog: set a first password, change it or remove it
// with the camera's command sequences, count wrong original passwords in the camera's record,
// and start the re-detection once the camera reboots. Qt-free; run() blocks (checks, pauses,
// the wait for a re-enumerating camera) and belongs on a worker.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "camera/CameraLink.h"
#include "camera/CommandTables.h"
#include "tools/CameraSteps.h"

namespace hvb {

// The kind of the last failure, which decides the screen that shows it.
enum class PasswordErrorStatus { ORIGINAL_PASSWORD_ERR = 0, CONFIRM_PASSWORD_ERR = 1, OTHER_ERR = 2 };

struct PasswordSettingRequest {
    // 0 set, 1 change, 2 disable.
    uint8_t mode = 0;
    // The camera the dialog was opened for.
    DialogTarget target;
    std::string original;
    std::string newPassword;
    std::string confirm;
    CommandDictionary commands;
    // An original password was wrong earlier in this dialog.
    bool passwordErrorBefore = false;
};

class PasswordSettingWorker {
public:
    // Outcome codes; the negative ones are failures.
    enum Code : int {
        kSuccess = 1,
        kArmedAgain = 0,            // change: the original was right after a wrong one
        kNoUID = -1,
        kWrongOriginal = -2,
        kConfirmDiffers = -3,
        kSetFailed = -4,
        kChangeFailed = -5,
        kDisableFailed = -6,
        kNoService = -7,
        kNoVerdict = -8,            // the camera decided nothing on the original password
        kChangeNotFound = -9,       // not found again before the change
        kRebootNotFound = -10,      // not found again for the reboot after the change
        kDisableNotFound = -11,     // not found again before the removal
        kInvalidNewPassword = -12,  // the new password breaks the character rule
        kRebootRefused = -13,       // the camera refused the reboot after the change
        kNoRecord = -100,
        kNoCamera = -102,
    };

    static constexpr int64_t kAfterWritePauseMs = 200;
    static constexpr int64_t kAfterDisablePauseMs = 20;
    static constexpr int64_t kBeforeNewCheckPauseMs = 3000;

    // What the worker reports, on its own thread.
    struct Listener {
        // A wrong original password; the count including it.
        std::function<void(int64_t attempts)> attemptsWarning;
        // Change mode: the original was right after an earlier wrong one; nothing was changed.
        std::function<void()> passwordCorrect;
        // The original password passed the check.
        std::function<void()> originalAccepted;
        // The end of the run, with its code and the kind of failure.
        std::function<void(int code, PasswordErrorStatus status)> finished;
    };

    PasswordSettingWorker(std::shared_ptr<CameraLink> link, std::function<void()> startRedetection);

    // applyPasswordSetting: the whole run for one OK.
    void run(const PasswordSettingRequest& request, const Listener& listener);

    // The command sequences, each on the camera of currentDeviceUID.
    bool changeDevicePassword(const std::string& original, const std::string& newPassword,
                              const CommandDictionary& commands, int& notFoundCode);
    // The reboot after a change: 1, or kRebootNotFound.
    int rebootAfterChange(const CommandDictionary& commands);
    // Set on the camera found by its UID: 1 or kSetFailed.
    int setPassword(io_service_t service, const std::string& newPassword, const CommandDictionary& commands);
    // sendLockableWithPassword: 1, kDisableFailed or kDisableNotFound.
    int disablePassword(const std::string& password, const CommandDictionary& commands);

private:
    std::string uid() const;

    const std::shared_ptr<CameraLink> link_;
    const std::function<void()> startRedetection_;
};

}  // namespace hvb
