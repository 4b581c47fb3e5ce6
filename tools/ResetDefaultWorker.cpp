#include "tools/ResetDefaultWorker.h"

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "tools/CurrentDeviceUID.h"

namespace hvb {

ResetDefaultWorker::ResetDefaultWorker(std::shared_ptr<CameraLink> link, std::function<void()> startRedetection)
    : link_(std::move(link)), startRedetection_(std::move(startRedetection)) {}

int ResetDefaultWorker::run(const DialogTarget& target, const CommandDictionary& table) {
    int failure = 0;
    auto camera = CameraSteps::resetCamera(*link_, target, failure);
    if (!camera) return failure;
    const std::string uid = target.uid;
    setCurrentDeviceUID(uid);
    foundation::print("resetDefault UID = " + uid);

    CameraHandle service = CameraSteps::openWithPassword(*link_, uid, table, *camera->record.isDeviceEncryption,
                                                         kNoService, kWrongPassword, failure);
    if (!service) return failure;
    if (!CameraSteps::startCompleted(*link_, service.get(), table, "HVB_RESET", kAfterResetPauseMs))
        return kSendFailed;
    service.reset();

    dispatch::pause(kBeforeRebootPauseMs);
    return CameraSteps::rebootForRedetection(*link_, uid, table, {kRebootNotFound, kRebootRefused, kAfterRebootPauseMs},
                                             startRedetection_);
}

}  // namespace hvb
