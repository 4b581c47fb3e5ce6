#include "tools/ResetAllWorker.h"

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "tools/CurrentDeviceUID.h"

namespace hvb {

ResetAllWorker::ResetAllWorker(std::shared_ptr<CameraLink> link, std::function<void()> startRedetection)
    : link_(std::move(link)), startRedetection_(std::move(startRedetection)) {}

bool ResetAllWorker::needsExplicitFormat(const std::string& model, int64_t version) {
    return (model == "HVBR4" && version < 10500) || (model == "HVBR7" && version < 10200) ||
           (model == "HVBS8" && version < 10300);
}

bool ResetAllWorker::matchesResetAllModels(const std::string& model, int64_t version, bool locked, bool lockable) {
    if (!locked || !lockable) return false;
    return (model == "HVBR7" && version < 10501) || (model == "HVBS8" && version < 10603) ||
           (model == "HVBS2A" && version < 10701);
}

int ResetAllWorker::run(const DialogTarget& target, const CommandDictionary& table) {
    int failure = 0;
    auto camera = CameraSteps::resetCamera(*link_, target, failure);
    if (!camera) return failure;
    const DiskDriver_Parameter& record = camera->record;
    if (!record.ModelName) return kNoModel;
    if (!record.FWVersionNumber) return kNoVersion;
    const bool locked = *record.isDeviceEncryption;
    const bool lockable = table.count("HVB_LOCKABLE") != 0;
    const std::string model = *record.ModelName;
    const int64_t version = *record.FWVersionNumber;
    const std::string uid = target.uid;
    const std::string key = camera->entry.key();
    setCurrentDeviceUID(uid);
    foundation::print("resetAll UID = " + uid);

    CameraHandle service = link_->open(uid);
    if (!service) return kNoService;
    FormatBlockHold block(*link_, key);
    if (!CameraSteps::startCompleted(*link_, service.get(), table, "HVB_RESETALL", kAfterCommandPauseMs))
        return kSendFailed;
    // formatByModel
    if (needsExplicitFormat(model, version) &&
        !CameraSteps::startCompleted(*link_, service.get(), table, "HVB_FORMAT_1", kAfterCommandPauseMs))
        return kFormatFailed;
    service.reset();
    // rebootAndClearDefaultPassword
    if (!CameraSteps::finishFormat(*link_, uid, table, block, kAfterFormatEndPauseMs)) return kNotFinished;
    if (matchesResetAllModels(model, version, locked, lockable)) {
        dispatch::pause(kBeforeFactoryLockPauseMs);
        return checkLockableWithPassword(uid, kFactoryPassword, table);
    }
    return CameraSteps::rebootForRedetection(*link_, uid, table, {kRebootNotFound, kRebootRefused}, startRedetection_);
}

int ResetAllWorker::checkLockableWithPassword(const std::string& uid, const std::string& password,
                                              const CommandDictionary& table) {
    CameraHandle service = CameraSteps::lookUp(*link_, uid);
    if (!service) return kLockNotFound;
    if (table.empty() ||
        CameraSteps::checkPassword(*link_, service.get(), table, password, kDialogCheck) != PasswordVerdict::right)
        return kDefaultPasswordFailed;
    auto lockable = CameraSteps::code(table, "HVB_LOCKABLE");
    if (!lockable || link_->modelList().empty()) return kDefaultPasswordFailed;
    // Forgotten before the command, so only a match after it counts as the camera coming back.
    link_->clearDeviceService();
    if (!carried(link_->sendCommandData(service.get(), *lockable, CameraSteps::bytesOf(password))))
        return kDefaultPasswordFailed;
    service.reset();
    // The reboot that follows must not cut the camera's new read short.
    CameraHandle back = CameraSteps::waitForCameraBack(*link_, uid, true);
    const bool off = back && CameraSteps::isHiddenStorageOff(*link_, back.get(), table);
    if (!off) return kDefaultPasswordFailed;
    back.reset();
    return CameraSteps::rebootForRedetection(*link_, uid, table, {kLockRebootNotFound, kRebootRefused},
                                             startRedetection_);
}

}  // namespace hvb
