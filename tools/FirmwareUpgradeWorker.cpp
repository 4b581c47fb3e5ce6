#include "tools/FirmwareUpgradeWorker.h"

#include <time.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>

#include "camera/UserClientTransport.h"
#include "online/FirmwareManager.h"
#include "online/FirmwarePackage.h"
#include "online/UsageReports.h"
#include "platform/diskarb/DiskArbitration.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Log.h"
#include "tools/CameraSteps.h"
#include "tools/DialogRegistry.h"

namespace hvb {

namespace fs = std::filesystem;

namespace {

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

// The locked branch's copy of the check: 100 ms after each check write, none after the read.
bool upgradeCheckPassword(CameraLink& link, io_service_t service, const CommandDictionary& table,
                          const std::string& password) {
    return CameraSteps::checkPassword(link, service, table, password, kDialogCheck) == PasswordVerdict::right;
}

}  // namespace

UpgradeServices UpgradeServices::defaults() {
    UpgradeServices services;
    services.downloadFirmware = [](const std::string& model) { return firmwareManager().downloadFirmware(model); };
    services.deviceModels = firmwareManager().deivceModel;
    services.volumeOf = [](const std::string& uid) -> std::optional<fs::path> {
        auto location = cameraLink()->mountPoint(uid);
        if (!location) return std::nullopt;
        return diskarb::pathFromFileURL(*location);
    };
    services.checkPassword = upgradeCheckPassword;
    return services;
}

FirmwareUpgradeWorker::FirmwareUpgradeWorker(std::shared_ptr<CameraLink> link, UpgradeServices services,
                                             CommandDictionary table, std::string enteredPassword, Listener listener)
    : link_(std::move(link)),
      services_(std::move(services)),
      table_(std::move(table)),
      enteredPassword_(std::move(enteredPassword)),
      listener_(std::move(listener)) {}

std::string FirmwareUpgradeWorker::makeUpgradeUID(std::chrono::system_clock::time_point now) {
    const auto sinceEpoch = now.time_since_epoch();
    const time_t seconds = static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count());
    const int64_t millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() - int64_t(seconds) * 1000;
    struct tm local {};
    if (!localtime_r(&seconds, &local)) return {};
    std::array<char, 32> text{};
    const int n = std::snprintf(text.data(), text.size(), "%04d%02d%02d%02d%02d%02d%03d", local.tm_year + 1900,
                                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                                static_cast<int>(millis));
    if (n != 17) return {};
    int64_t number = 0;
    auto parsed = std::from_chars(text.data(), text.data() + n, number);
    if (parsed.ec != std::errc() || parsed.ptr != text.data() + n) return {};
    std::array<char, 32> hex{};
    const int h = std::snprintf(hex.data(), hex.size(), "%llX", static_cast<unsigned long long>(number));
    if (h <= 0) return {};
    std::string uid(hex.data(), static_cast<size_t>(h));
    // Sunday "A" … Saturday "G".
    uid[0] = (local.tm_wday >= 0 && local.tm_wday <= 6) ? static_cast<char>('A' + local.tm_wday) : 'a';
    return uid + "0";
}

bool FirmwareUpgradeWorker::cameraIsThere() const { return !serialNumber_.empty() && link_->open(serialNumber_); }

bool FirmwareUpgradeWorker::hostLost() const { return link_->driverHostLosses() != hostLosses_; }

void FirmwareUpgradeWorker::tellCause(UpgradeCause cause) {
    if (causeTold_) return;
    causeTold_ = true;
    if (listener_.failedBecause) listener_.failedBecause(cause);
}

int FirmwareUpgradeWorker::reportUpgradeResult(int code) {
    // A step that failed because the camera left (unplugged, or its driver stopped) says so.
    if (code < 0 && !serialNumber_.empty() && (hostLost() || !cameraIsThere())) {
        foundation::print("the camera went away during the upgrade");
        tellCause(UpgradeCause::cameraGone);
    }
    foundation::print("upgradeResult = " + std::to_string(code));
    foundation::print("upgrade UID = " + currentDeviceUID() + ", upgradeResult = " + std::to_string(code));
    if (listener_.finished) listener_.finished(code);
    return code;
}

bool FirmwareUpgradeWorker::sendStart(io_service_t service, const std::string& command) {
    if (!service) return false;
    // The camera may leave the bus as soon as it took a command that reboots it.
    auto sent = CameraSteps::sendStart(*link_, service, table_, command.c_str());
    return sent && carried(*sent);
}

bool FirmwareUpgradeWorker::checkThenCommand(io_service_t service, const std::string& command) {
    if (!services_.checkPassword || !services_.checkPassword(*link_, service, table_, enteredPassword_)) return false;
    const bool ok = sendStart(service, command);
    dispatch::pause(kAfterUnlockPauseMs);
    return ok;
}

CameraHandle FirmwareUpgradeWorker::commandAndWait(io_service_t service, const std::string& command, bool& commandOk) {
    // Forgotten before the command makes the camera re-enumerate, so only a match after it counts.
    link_->clearDeviceService();
    commandOk = checkThenCommand(service, command);
    if (!commandOk) return {};
    return CameraSteps::waitForCameraBack(*link_, currentDeviceUID(), false, hostLosses_);
}

void FirmwareUpgradeWorker::setUpgradeBlock(const std::string& uid, bool on) {
    for (const auto& entry : link_->deviceEntries()) {
        bool same = false;
        link_->updateRecord(entry.key(), [&](DiskDriver_Parameter& r) {
            same = r.UID == uid;
            if (same) r.isFWUpgradeBlock = on;
        });
        if (!same) continue;
        // The block kept the entry of a camera that left meanwhile; without it the camera would
        // stay listed, and come back to its stale record when plugged in again.
        if (!on) link_->withdrawIfGone(entry.key());
    }
}

int FirmwareUpgradeWorker::runFirmwareUpgrade(int64_t selectedDeviceIndex) {
    foundation::print("selectedDeviceIndex = " + std::to_string(selectedDeviceIndex));
    hostLosses_ = link_->driverHostLosses();
    auto camera = link_->camera(selectedDeviceIndex);
    // A record without a model, or without the UID the path needs, is treated as no record.
    const bool hasUID = camera && camera->record.UID && !camera->record.UID->empty();
    if (!camera || !camera->record.ModelName || camera->record.ModelName->empty() ||
        (!hasUID && !camera->record.isOldFirmware))
        return reportUpgradeResult(UpgradeResult::noCamera);
    const std::string model = *camera->record.ModelName;
    serialNumber_ = camera->entry.serialNumber;
    const FirmwareDownload download = services_.downloadFirmware ? services_.downloadFirmware(model) : FirmwareDownload{};
    if (!download) return reportUpgradeResult(UpgradeResult::downloadFailed);
    usageReports()->sendEvent("FW_Upgrade", {{"action", model}});
    auto it = std::find(services_.deviceModels.begin(), services_.deviceModels.end(), model);
    if (it == services_.deviceModels.end()) return reportUpgradeResult(UpgradeResult::unknownModel);
    const size_t position = static_cast<size_t>(it - services_.deviceModels.begin());

    if (camera->record.isDeviceEncryption.value_or(false)) {
        if (!hasUID) return reportUpgradeResult(UpgradeResult::noCamera);
        return runLockedBranch(*camera, position, download.package);
    }

    // The volume is looked up by the camera's own serial (its UID when it has one).
    const std::string volumeUID = upper(hasUID ? *camera->record.UID : camera->entry.serialNumber);
    CameraHandle service;
    if (camera->record.isOldFirmware) {
        const std::string uid = makeUpgradeUID();
        // Without a new UID the re-detection could never match.
        if (uid.empty()) return reportUpgradeResult(UpgradeResult::prepareFailed);
        setCurrentDeviceUID(uid);
        const int driverIndex = static_cast<int>(static_cast<uint32_t>(camera->entry.driverIndex));
        service = link_->openAt(driverIndex);
    } else {
        setCurrentDeviceUID(*camera->record.UID);
        service = link_->open(*camera->record.UID);
        if (!service) return reportUpgradeResult(UpgradeResult::noService);
    }

    const std::string uid = currentDeviceUID();
    foundation::print("currentDeviceUID = " + uid);
    if (!prepareFirmwarePackage(camera->record.isOldFirmware, uid, position, volumeUID, download.package))
        return reportUpgradeResult(UpgradeResult::prepareFailed);
    foundation::print("Reboot begin");
    if (!sendStart(service.get(), "HVB_FW_UPGRADE")) return reportUpgradeResult(UpgradeResult::commandFailed);
    dispatch::pause(kBeforeRedetectionPauseMs);
    startCountdown(camera->record.FWVersion);
    return reportUpgradeResult(UpgradeResult::started);
}

void FirmwareUpgradeWorker::startCountdown(const std::optional<std::string>& versionBefore) {
    if (!services_.startRedetection) return;
    auto countdown = listener_.countdown;
    std::shared_ptr<const CameraLink> link = link_;
    services_.startRedetection(
        [countdown](int64_t tick) {
            if (countdown) countdown(kCountdownTicks - tick);
        },
        [link, uid = currentDeviceUID(), versionBefore] { return isOnNewFirmware(*link, uid, versionBefore); },
        hostLosses_);
}

bool FirmwareUpgradeWorker::isOnNewFirmware(const CameraLink& link, const std::string& uid,
                                            const std::optional<std::string>& before) {
    auto camera = link.cameraWithUID(uid);
    const std::optional<std::string> now = camera ? camera->record.FWVersion : std::nullopt;
    if (now && !now->empty() && now != before) return true;
    foundation::print("upgrade UID = " + uid + " came back on firmware " + now.value_or("?") + ", was " +
                      before.value_or("?"));
    return false;
}

int FirmwareUpgradeWorker::runLockedBranch(const CameraLink::Camera& camera, size_t position,
                                           const fs::path& package) {
    const std::string uid = *camera.record.UID;
    const std::string volumeUID = upper(uid);
    setCurrentDeviceUID(uid);
    CameraHandle service = link_->open(uid);
    if (!service) return reportUpgradeResult(UpgradeResult::noService);
    setUpgradeBlock(uid, true);
    auto fail = [&](int code) {
        service.reset();
        setUpgradeBlock(uid, false);
        return reportUpgradeResult(code);
    };

    // Each wait hands over the service of the camera that came back; the old one goes.
    bool commandOk = false;
    service = commandAndWait(service.get(), "HVB_UNLOCK_READONLY", commandOk);
    if (!commandOk) return fail(UpgradeResult::unlockFailed);
    if (!service) return fail(UpgradeResult::prepareFailed);

    if (!prepareFirmwarePackage(false, "", position, volumeUID, package)) return fail(UpgradeResult::commandFailed);

    service = commandAndWait(service.get(), "HVB_HIDDENSTORAGE", commandOk);
    if (!commandOk) return fail(UpgradeResult::hiddenStorageFailed);
    if (!service) return fail(UpgradeResult::secondWaitFailed);

    setUpgradeBlock(uid, false);
    const bool sent = sendStart(service.get(), "HVB_FW_UPGRADE");
    service.reset();
    if (!sent) return reportUpgradeResult(UpgradeResult::lockedCommandFailed);
    startCountdown(camera.record.FWVersion);
    return reportUpgradeResult(UpgradeResult::started);
}

bool FirmwareUpgradeWorker::prepareFirmwarePackage(bool oldFirmware, const std::string& uid, size_t position,
                                                   const std::string& volumeUID, const fs::path& package) {
    foundation::print(uid);
    if (position >= services_.deviceModels.size()) return false;
    // The camera must have a known command table (the one the upgrade command comes from).
    if (table_.empty()) return false;
    const std::string packageName = package.filename().string();
    if (oldFirmware && uid.empty()) return false;

    ScratchFolder scratch;
    const std::string imageName = firmwareImageName(packageName);
    UnpackResult unpacked = unpackFirmwarePackage(package, kPackagePassword, imageName, scratch.path(),
                                                  [](double fraction) {
                                                      foundation::print("progress = " + std::to_string(fraction));
                                                  });
    if (unpacked.status != PackageStatus::ok) {
        foundation::print(packageName + ": " + describe(unpacked.status));
        return false;
    }
    dispatch::pause(kAfterUnpackPauseMs);

    // waitForDeviceVolume: the selected camera's own volume, never another one's.
    dispatch::pause(kVolumePauseMs);
    std::optional<fs::path> volume = services_.volumeOf ? services_.volumeOf(volumeUID) : std::nullopt;
    if (!volume || volume->empty()) {
        foundation::print("no volume for " + volumeUID);
        // Gone with its camera or the camera's driver, the storage is not the cause.
        if (serialNumber_.empty() || cameraIsThere()) tellCause(UpgradeCause::noVolume);
        return false;
    }
    if (!copyImageToVolume(unpacked.image, *volume)) return false;
    foundation::print("copied " + imageName + " to " + volume->string());
    if (oldFirmware) {
        if (auto error = foundation::writeFileAtomically(*volume / "HVBR4UID", uid)) {
            foundation::print(*error);
            return false;
        }
    }
    return true;
}

}  // namespace hvb
