#pragma once
// A whole simulated camera: a model and firmware (CameraProfile), its identity, label, lock,
// storage, settings, battery and clock, and a volume folder that is mounted while the camera is
// attached in storage mode. Each time it joins the bus it appears as a fresh USB device (a new
// SimulatedCamera answering the vendor command blocks); reboots and webcam-mode switches leave
// the bus and come back after a down time.
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "standins/camera/CameraProfile.h"
#include "standins/camera/SimulatedCamera.h"
#include "standins/camera/SimulatedUsbBus.h"

namespace hvb::sim {

// How a reply text is framed on the wire.
enum class TextFraming { plain, bytePrefix };

struct BodyCameraOptions {
    std::string serialNumber;          // USB serial; empty: the UID
    std::string uid;                   // empty: the USB serial, else made from the model
    std::string bsdName = "disk4";     // whole disk; the volume is on "<bsd>s1"
    std::filesystem::path volumeFolder;  // empty: no volume
    bool volumeOnWholeDisk = false;    // the volume is on "<bsd>" instead of "<bsd>s1"
    std::string label = "Officer 7";
    std::string personalStamp = "PS-0042";
    std::string timeZone = "+05:30";
    std::string password;              // not empty: protected by it, storage locked
    TextFraming identityFraming = TextFraming::plain;
    TextFraming labelFraming = TextFraming::plain;
};

// One command the camera took, decoded by its own command names.
struct CameraWrite {
    std::string name;
    uint8_t code = 0;
    std::vector<uint8_t> payload;
    dispatch::Clock::time_point time;
};

class SimulatedBodyCamera : public std::enable_shared_from_this<SimulatedBodyCamera> {
public:
    static std::shared_ptr<SimulatedBodyCamera> make(const CameraProfile& profile, BodyCameraOptions options = {});
    ~SimulatedBodyCamera();

    const CameraProfile& profile() const { return profile_; }
    std::string serialNumber() const;
    std::string uid() const;
    std::string bsdName() const;

    // ---- bus ----
    bool attach(SimulatedUsbBus& bus);
    void detach();
    // Leaves the bus now and comes back after `downTimeMs` (scaled), with a new BSD name when
    // one is given.
    void reboot(int64_t downTimeMs, std::optional<std::string> newBSDName = std::nullopt);
    // Leaves and comes back as a webcam (product 0x8612, no storage) or as storage again.
    void switchMode(bool webcam, int64_t downTimeMs = 0);
    bool isWebcamMode() const;
    // Waits (real time) for a pending come-back to finish.
    void waitForReturn();
    // How often the camera joined the bus.
    int attachCount() const;

    // ---- state ----
    // The option index of a setting command ("HVB_LED"); -1 when the camera stores none.
    int64_t setting(const std::string& command) const;
    void setSetting(const std::string& command, int64_t value);
    // Every setting command of the profile with the value it starts with.
    std::map<std::string, int64_t> settings() const;
    std::string label() const;
    void setLabel(std::string label);
    std::string timeZone() const;
    void setTimeZone(std::string text);
    void setHidden(bool hidden);
    void setEncrypted(bool encrypted);
    // The password protection: a password locks the storage; none removes both.
    void setPassword(std::optional<std::string> password);
    std::optional<std::string> password() const;
    bool isStorageLocked() const;
    // The byte the password check answers instead of its verdict (none: the verdict).
    void setPasswordCheckReply(std::optional<uint8_t> byte);
    void setSDCardStatus(uint8_t status);
    void setBattery(uint8_t level);
    void setCharging(bool charging);
    // The reserved-space answer, "<reserved>-<size>" in megabytes.
    void setReservedSpace(std::string text);
    // The clock as set: "yyyyMMdd", "HHmmss".
    std::string clockDate() const;
    std::string clockTime() const;
    void setRebootDownTime(int64_t ms);
    // ---- firmware upgrade ----
    // The version the camera reports (the profile's until an image was applied).
    std::string firmwareVersion() const;
    // Fault knobs: after its next reboot the camera stays away; an image on the volume root is
    // ignored at the reboot.
    void setStaysAwayAfterReboot(bool stays);
    void setIgnoresImage(bool ignores);
    // ---- format and reset ----
    // The next time a command makes the camera re-enumerate, it comes back under this BSD name.
    void setBSDNameAfterReboot(std::optional<std::string> name);
    // How many reads of "HVB_FORMAT_1" answer "working" (1, 2) before "done" (3); never: the
    // format never ends.
    void setFormatPolls(unsigned polls);
    void setFormatNeverFinishes(bool never);
    // The settings the camera left the factory with (what "HVB_RESET" restores).
    std::map<std::string, int64_t> defaultSettings() const;

    // ---- what it saw ----
    std::vector<CameraWrite> writes() const;
    void clearWrites();
    // The blocks of every attachment, in order.
    std::vector<BlockRecord> log() const;
    size_t recordedBlockCount() const;  // what log() holds, over every session
    void clearLog();
    // The SCSI side of the current attachment (knobs), or null while off the bus.
    std::shared_ptr<SimulatedCamera> session() const;

private:
    SimulatedBodyCamera(const CameraProfile& profile, BodyCameraOptions options);
    std::shared_ptr<SimulatedCamera> makeSession();
    void installHandlers(SimulatedCamera& session);
    std::optional<std::vector<uint8_t>> reply(const std::string& name);
    bool take(SimulatedCamera& session, uint8_t code, const std::string& name, std::span<const uint8_t> payload);
    void leaveAndReturn(int64_t downTimeMs);
    void joinReturn();
    std::vector<uint8_t> framed(const std::string& text, TextFraming framing) const;
    // With lock_ held.
    void eraseVolume();
    void startFormat();
    uint8_t formatProgress();

    CameraProfile profile_;  // replaced when an applied image has a known profile
    BodyCameraOptions options_;
    mutable std::mutex lock_;
    std::map<std::string, int64_t> settings_;
    bool hidden_ = false;
    bool encrypted_ = false;
    std::optional<std::string> password_;
    std::optional<std::string> passwordCandidate_;  // what the last check was given
    std::optional<uint8_t> passwordCheckReply_;
    // Code set A changes in three writes: "HVB_CLEAN" arms, the new password is staged, then
    // "HVB_LOCK_CARD" commits it.
    bool changeArmed_ = false;
    std::optional<std::string> stagedPassword_;
    std::map<std::string, int64_t> defaultSettings_;
    enum class FormatState { idle, working, done };
    FormatState format_ = FormatState::idle;
    unsigned formatPolls_ = 3;
    unsigned formatPollsLeft_ = 0;
    unsigned formatReplies_ = 0;
    bool formatNeverFinishes_ = false;
    std::optional<std::string> bsdNameAfterReboot_;
    uint8_t sdCardStatus_ = 0;
    uint8_t battery_ = 80;
    bool charging_ = false;
    std::string reservedSpace_ = "600-30436";
    bool webcam_ = false;
    std::string clockDate_ = "20240101";
    std::string clockTime_ = "000000";
    int64_t rebootDownTimeMs_ = 300;
    std::string firmware_;
    bool staysAway_ = false;
    bool ignoresImage_ = false;
    bool firmwareRestart_ = false;  // the pending return is a reboot of the firmware
    // At a firmware reboot, hidden storage or not (hiding only keeps the volume from the host):
    // an image "FW<model>.bin" on the volume root becomes the firmware, and
    // "HVBR4UID" the UID of a camera on old firmware; both files are consumed. Under lock_.
    void applyUpgradeFiles();
    bool pendingReturn_ = false;  // the camera leaves because it reboots, and comes back
    std::optional<std::string> pendingBSDName_;
    std::vector<CameraWrite> writes_;
    std::vector<std::shared_ptr<SimulatedCamera>> sessions_;
    std::shared_ptr<SimulatedCamera> current_;
    SimulatedUsbBus* bus_ = nullptr;
    int attachCount_ = 0;
    std::thread returning_;
    std::mutex returnLock_;
};

}  // namespace hvb::sim
