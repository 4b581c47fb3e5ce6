#pragma once
// The camera steps the password, format and reset sequences share: the password check (one
// implementation, with a profile for each dialog's pauses and logs), the driver-service lookup by
// UID with its bounded retries, the wait for a camera that re-enumerates, the hidden-storage
// test and the format wait. Qt-free; everything here blocks and belongs on a worker.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "camera/CameraLink.h"
#include "camera/CommandTables.h"

namespace hvb {

// How one dialog's copy of the check paces and logs itself, and what a reply other than 0 and 1
// means.
struct PasswordCheckProfile {
    int64_t pauseAfterWriteMs = 100;
    int64_t pauseAfterReadMs = 0;
    bool logBegin = false;
    // True: 2, 0xFF and the like count as a wrong password; false: they decide nothing.
    bool otherRepliesAreWrong = true;
};

// The password setting dialog's own check.
inline constexpr PasswordCheckProfile kPasswordSettingCheck{500, 100, true, true};
// The copies of the format, reset and reset-all dialogs.
inline constexpr PasswordCheckProfile kDialogCheck{100, 0, false, true};
// The unlock dialog's copy.
inline constexpr PasswordCheckProfile kUnlockCheck{100, 0, false, false};

// A write or read the camera did not complete gives no verdict: nothing was decided.
enum class PasswordVerdict { right, wrong, none };

// The camera a dialog was opened for, taken when it loads so that a camera plugged in or out
// while the question shows never shifts the dialog onto another one.
struct DialogTarget {
    enum class Kind { none, noRecord, camera };
    Kind kind = Kind::none;
    std::string uid;  // empty: the record has no UID
};

// The outcomes both reset dialogs number alike.
namespace ResetCode {
inline constexpr int kSuccess = 1;
inline constexpr int kNoEncryptionState = -1;
inline constexpr int kNoUID = -2;
inline constexpr int kNoRecord = -100;
inline constexpr int kNoCamera = -102;
}  // namespace ResetCode

// How one dialog numbers the failures of the reboot that ends its sequence, and how long it
// waits after the reboot before the re-detection starts.
struct RebootProfile {
    int notFound;
    int refused;
    int64_t afterRebootPauseMs = 0;
};

class FormatBlockHold;

namespace CameraSteps {

// The selected camera, as a dialog's target.
DialogTarget selectedTarget(const CameraLink& link);

inline constexpr uint32_t kReplyLength = 40;
inline constexpr int64_t kLookupPauseMs = 300;
// About 30 s of 300 ms passes: a camera unplugged while it is looked for ends the wait.
inline constexpr int kLookupPasses = 100;
inline constexpr int64_t kWaitRoundMs = 1000;
inline constexpr int kWaitRounds = 50;
inline constexpr int64_t kHiddenStoragePauseMs = 150;
inline constexpr int64_t kFormatFirstPauseMs = 1000;
inline constexpr int64_t kFormatReadPauseMs = 150;
inline constexpr int64_t kFormatPollPauseMs = 1000;
inline constexpr int kFormatPollLimit = 50;
// Off the bus for longer than a reboot takes, the camera was unplugged: its format wait fails.
inline constexpr int64_t kFormatGoneGraceMs = 15000;
inline constexpr uint8_t kFormatDone = 3;
// Attempts are used up at this many wrong passwords in a row.
inline constexpr int64_t kMaxPasswordAttempts = 5;

std::optional<uint8_t> code(const CommandDictionary& table, const char* name);
// A text's bytes as a command payload (a view of the string: it must outlive the send).
std::span<const uint8_t> bytesOf(const std::string& text);

// Two check writes (zeros, then the password block), then the verdict read.
PasswordVerdict checkPassword(CameraLink& link, io_service_t service, uint8_t setCheck, uint8_t getCheck,
                              const std::string& password, const PasswordCheckProfile& profile);
// The same with the codes from the table: a table without both check commands gives no verdict.
PasswordVerdict checkPassword(CameraLink& link, io_service_t service, const CommandDictionary& table,
                              const std::string& password, const PasswordCheckProfile& profile);

// Writes `name` with the one-byte payload 1 (a command that starts an action); none when the
// table lacks it.
std::optional<CommandOutcome> sendStart(CameraLink& link, io_service_t service, const CommandDictionary& table,
                                        const char* name);
// A start command the camera completed, then the pause that follows it (only after a send).
// False without the command, or when the camera did not complete it: one that went away
// instead of answering has not done it.
bool startCompleted(CameraLink& link, io_service_t service, const CommandDictionary& table, const char* name,
                    int64_t pauseMs);
// "HVB_REBOOT" as a start command. False only when the camera refused it: a camera that went
// away at once has rebooted, and a table without the command skips the reboot.
bool sendReboot(CameraLink& link, io_service_t service, const CommandDictionary& table);

// The camera whose serial contains the UID: one pass, then up to `passes` in all, 300 ms apart.
// Empty when it never turned up.
CameraHandle lookUp(CameraLink& link, const std::string& uid, int passes = kLookupPasses);

// After a command that makes the camera leave the bus (the caller cleared the watcher's service
// before sending it): 1 s rounds until a driver service is matched again, at most 50 (logged as
// "FindHVB timerCounter = n"), then the camera looked up by its UID. Empty when it is not back.
// With `untilRead`, the rounds go on until the camera has also been read again, so that a
// command that makes it leave once more does not cut that read short. With `hostLosses` (the
// link's count when the camera was sent away), a round that finds the driver host lost since
// ends the wait: the camera cannot come back through it.
CameraHandle waitForCameraBack(CameraLink& link, const std::string& uid, bool untilRead = false,
                               std::optional<uint64_t> hostLosses = std::nullopt);

// The camera of a reset dialog's target, its lock state known; none with `failure` set to the
// ResetCode that says why not.
std::optional<CameraLink::Camera> resetCamera(const CameraLink& link, const DialogTarget& target, int& failure);

// "Reboot begin", the camera looked up again by its UID and sent "HVB_REBOOT", its service let
// go, the profile's pause, then the re-detection started. ResetCode::kSuccess, or the profile's
// code of the step that failed.
int rebootForRedetection(CameraLink& link, const std::string& uid, const CommandDictionary& table,
                         const RebootProfile& profile, const std::function<void()>& startRedetection);

// True when "HVB_HIDDENSTORAGE" reads 0; false without the command or without an answer.
bool isHiddenStorageOff(CameraLink& link, io_service_t service, const CommandDictionary& table);

// 1 s, then at most 49 polls of "HVB_FORMAT_1" 1 s apart until the camera answers 3 (done).
// False as well once the camera has been away for kFormatGoneGraceMs of polls (each poll that
// misses it logs "format camera not found").
bool waitForFormat(CameraLink& link, const std::string& uid, const CommandDictionary& table);
// The format wait and its "return value = ..." line; once done, the pause after it and the
// block lifted.
bool finishFormat(CameraLink& link, const std::string& uid, const CommandDictionary& table, FormatBlockHold& block,
                  int64_t afterEndPauseMs);

// The camera's service, with the password the unlock dialog accepted checked (the dialogs'
// profile) when the camera is encrypted. Empty, with `failure` set to `noService` or
// `wrongPassword`, when either fails.
CameraHandle openWithPassword(CameraLink& link, const std::string& uid, const CommandDictionary& table,
                              bool encrypted, int noService, int wrongPassword, int& failure);

// One more wrong password in the record under the key: the count including it; none without a
// record.
std::optional<int64_t> countWrongPassword(CameraLink& link, const std::string& key);

// True when a password is 8 to 16 characters of A-Z, a-z and 0-9.
bool isValidNewPassword(const std::string& password);

}  // namespace CameraSteps

// Keeps the camera's entry through the re-enumerations of a format ("isFormatBlock"); lifted
// on every way out of the scope, or earlier with lift().
class FormatBlockHold {
public:
    FormatBlockHold(CameraLink& link, std::string key) : link_(link), key_(std::move(key)) {
        link_.setFormatBlock(key_, true);
    }
    ~FormatBlockHold() { lift(); }
    FormatBlockHold(const FormatBlockHold&) = delete;
    FormatBlockHold& operator=(const FormatBlockHold&) = delete;
    void lift() {
        if (held_) link_.setFormatBlock(key_, false);
        held_ = false;
    }

private:
    CameraLink& link_;
    std::string key_;
    bool held_ = true;
};

}  // namespace hvb
