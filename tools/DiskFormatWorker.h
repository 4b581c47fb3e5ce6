#pragma once
// The camera side of the disk-format dialog: check the kept password on a locked camera, start
// the format, poll until the camera reports it done, reboot the camera (except three models that
// stay), rewrite its configuration file, and start the re-detection. The camera's record is held
// (isFormatBlock) from the format command until 2 s after the format ended. Qt-free; run() blocks.
#include <functional>
#include <memory>
#include <string>

#include "camera/CameraLink.h"
#include "camera/CommandTables.h"
#include "tools/CameraSteps.h"

namespace hvb {

class DiskFormatWorker {
public:
    enum Code : int {
        kSuccess = 1,
        kNoRecord = -1,         // no record for the camera, or its lock state unknown
        kNoUID = -2,
        kNoService = -3,
        kSendFailed = -4,       // no "HVB_FORMAT_1", or the camera did not take it
        kNotFinished = -5,      // the camera never reported the end of the format
        kWrongPassword = -6,    // locked, and the kept password does not pass
        kRebootNotFound = -7,   // not found again for the reboot
        kRebootRefused = -8,    // the camera refused the reboot
        kNoTarget = -101,
    };
    static constexpr int64_t kAfterFormatPauseMs = 150;
    static constexpr int64_t kAfterFormatEndPauseMs = 2000;

    DiskFormatWorker(std::shared_ptr<CameraLink> link, std::function<void()> startRedetection);

    // formatDevice with its wait and reboot step; the outcome code.
    int run(const DialogTarget& target, const CommandDictionary& table);

    // Models that stay on the bus after a format (their name contains 7332, 7333 or 7334).
    static bool staysAfterFormat(const std::string& model);

private:
    const std::shared_ptr<CameraLink> link_;
    const std::function<void()> startRedetection_;
};

}  // namespace hvb
