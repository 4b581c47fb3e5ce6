#pragma once
// The firmware upgrade of the selected camera: the package made current, unpacked safely, its
// image copied to exactly that camera's volume, the upgrade command sent and the re-detection
// started. A locked camera first has its read-only state lifted and its hidden storage shown,
// each time waiting for it to come back. Every step that fails ends with its own code. Qt-free;
// run() blocks and belongs on a worker.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "camera/CameraLink.h"
#include "camera/CommandTables.h"
#include "online/FirmwarePackage.h"
#include "tools/Redetection.h"

namespace hvb {

struct UpgradeResult {
    static constexpr int started = 1;
    static constexpr int noCamera = -1;
    static constexpr int unknownModel = -2;
    static constexpr int unlockFailed = -3;      // locked: the check or the read-only unlock
    static constexpr int prepareFailed = -4;     // unlocked: the package; locked: first wait
    static constexpr int commandFailed = -5;     // unlocked: the upgrade command; locked: the package
    static constexpr int hiddenStorageFailed = -6;
    static constexpr int secondWaitFailed = -7;
    static constexpr int lockedCommandFailed = -8;
    static constexpr int noService = -100;
    static constexpr int downloadFailed = -500;
};

// Why a run failed, where the user can do something about it: the camera is there but its
// storage is not mounted, or the camera (or its driver) went away during the run.
enum class UpgradeCause { noVolume, cameraGone };

// What the upgrade needs besides the camera link; defaults() wires the application's own.
struct UpgradeServices {
    // Makes the model's package current (downloads it when outdated) and hands over its file.
    std::function<FirmwareDownload(const std::string& model)> downloadFirmware;
    std::vector<std::string> deviceModels;
    // The volume root of the camera with the UID; none when it has none mounted.
    std::function<std::optional<std::filesystem::path>(const std::string& uid)> volumeOf;
    // Starts the wait for the camera of currentDeviceUID with the countdown as its progress; a
    // camera that came back counts as upgraded only when `upgraded` holds. The wait ends at once
    // when the link's count of driver host losses is no longer `hostLosses`.
    std::function<void(Redetection::Progress, std::function<bool()> upgraded, uint64_t hostLosses)>
        startRedetection;
    // The password check of the locked branch (100 ms after each check write, none after the read).
    std::function<bool(CameraLink&, io_service_t, const CommandDictionary&, const std::string&)> checkPassword;

    static UpgradeServices defaults();
};

class FirmwareUpgradeWorker {
public:
    static constexpr const char* kPackagePassword = "gRAVELMOORkestHILLpin";
    static constexpr int64_t kAfterUnlockPauseMs = 150;
    static constexpr int64_t kAfterUnpackPauseMs = 1500;
    static constexpr int64_t kVolumePauseMs = 3000;
    static constexpr int64_t kBeforeRedetectionPauseMs = 3000;
    static constexpr int64_t kCountdownTicks = 200;

    struct Listener {
        // The seconds left of the re-detection, from its timer's queue.
        std::function<void(int64_t secondsLeft)> countdown;
        // The run's code, once, from the worker's thread.
        std::function<void(int code)> finished;
        // Why it is about to fail, before `finished`, from the worker's thread (once at most).
        std::function<void(UpgradeCause cause)> failedBecause;
    };

    FirmwareUpgradeWorker(std::shared_ptr<CameraLink> link, UpgradeServices services, CommandDictionary table,
                          std::string enteredPassword, Listener listener);

    // The whole run for the camera at `selectedDeviceIndex`; returns its code (also reported).
    int runFirmwareUpgrade(int64_t selectedDeviceIndex);

    // A fresh UID for a camera on old firmware; empty when the clock cannot be read.
    static std::string makeUpgradeUID(std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

    // True when the record of the camera with `uid` carries a firmware version other than
    // `before`: a camera that refused the image comes back on its old firmware.
    static bool isOnNewFirmware(const CameraLink& link, const std::string& uid,
                                const std::optional<std::string>& before);

    // `package` (the file the download handed over) unpacked and its image (and, on old firmware,
    // "HVBR4UID") on the volume of the camera whose UID is `volumeUID`.
    bool prepareFirmwarePackage(bool oldFirmware, const std::string& uid, size_t modelPosition,
                                const std::string& volumeUID, const std::filesystem::path& package);

private:
    int runLockedBranch(const CameraLink::Camera& camera, size_t modelPosition,
                        const std::filesystem::path& package);
    // Sends `code` [1] after starting the wait for the camera (so the service it reports can only
    // be one that came after the command); on return the camera's service looked up again.
    CameraHandle commandAndWait(io_service_t service, const std::string& command, bool& commandOk);
    bool sendStart(io_service_t service, const std::string& command);
    bool checkThenCommand(io_service_t service, const std::string& command);
    void setUpgradeBlock(const std::string& uid, bool on);
    void startCountdown(const std::optional<std::string>& versionBefore);
    int reportUpgradeResult(int code);
    // The camera of the run still has its driver service (it was not unplugged, and its driver
    // runs).
    bool cameraIsThere() const;
    // The driver host went away since the run began: nothing comes back through it.
    bool hostLost() const;
    void tellCause(UpgradeCause cause);

    const std::shared_ptr<CameraLink> link_;
    const UpgradeServices services_;
    const CommandDictionary table_;
    const std::string enteredPassword_;
    const Listener listener_;
    // The run's camera, by the serial its driver service carries; whether a cause was told; the
    // link's count of driver host losses when the run began.
    std::string serialNumber_;
    bool causeTold_ = false;
    uint64_t hostLosses_ = 0;
};

}  // namespace hvb
