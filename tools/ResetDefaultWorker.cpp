#include "tools/ResetDefaultWorker.h"

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "tools/CurrentDeviceUID.h"

namespace hvb {

ResetDefaultWorker::ResetDefaultWorker(std::shared_ptr<CameraLink> link, std::function<void()> startRedetection)
    : link_(std::move(link)), startRedetection_(std::move(startRedetection)) {}

int ResetDefaultWorker::run(const DialogTarget& target, const CommandDictionary& table) {
    if (target.kind == DialogTarget::Kind::none) return kNoCamera;
    if (target.kind == DialogTarget::Kind::noRecord) return kNoRecord;
    if (target.uid.empty()) return kNoUID;
    auto camera = link_->cameraWithUID(target.uid);
    if (!camera) return kNoRecord;
    if (!camera->record.isDeviceEncryption) return kNoEncryptionState;
    const std::string uid = target.uid;
    setCurrentDeviceUID(uid);
    foundation::print("resetDefault UID = " + uid);

    CameraHandle service = link_->open(uid);
    if (!service) return kNoService;
    if (*camera->record.isDeviceEncryption &&
        CameraSteps::checkPassword(*link_, service.get(), table, link_->enteredPassword(), kDialogCheck) !=
            PasswordVerdict::right)
        return kWrongPassword;
    if (!CameraSteps::startCompleted(*link_, service.get(), table, "HVB_RESET", kAfterResetPauseMs))
        return kSendFailed;
    service.reset();

    dispatch::pause(kBeforeRebootPauseMs);
    foundation::print("Reboot begin");
    CameraHandle again = CameraSteps::lookUp(*link_, uid);
    if (!again) return kRebootNotFound;
    const bool rebooting = CameraSteps::sendReboot(*link_, again.get(), table);
    again.reset();
    if (!rebooting) return kRebootRefused;
    dispatch::pause(kAfterRebootPauseMs);
    if (startRedetection_) startRedetection_();
    return kSuccess;
}

}  // namespace hvb
