#include "tools/DiskFormatWorker.h"

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "tools/CurrentDeviceUID.h"

namespace hvb {

DiskFormatWorker::DiskFormatWorker(std::shared_ptr<CameraLink> link, std::function<void()> startRedetection)
    : link_(std::move(link)), startRedetection_(std::move(startRedetection)) {}

bool DiskFormatWorker::staysAfterFormat(const std::string& model) {
    for (const char* part : {"7332", "7333", "7334"})
        if (model.find(part) != std::string::npos) return true;
    return false;
}

int DiskFormatWorker::run(const DialogTarget& target, const CommandDictionary& table) {
    if (target.kind == DialogTarget::Kind::none) return kNoTarget;
    if (target.kind == DialogTarget::Kind::noRecord) return kNoRecord;
    if (target.uid.empty()) return kNoUID;
    auto camera = link_->cameraWithUID(target.uid);
    if (!camera || !camera->record.isDeviceEncryption) return kNoRecord;
    const std::string uid = target.uid;
    const std::string key = camera->entry.key();
    setCurrentDeviceUID(uid);
    foundation::print("format UID = " + uid);

    int failure = 0;
    CameraHandle service = CameraSteps::openWithPassword(*link_, uid, table, *camera->record.isDeviceEncryption,
                                                         kNoService, kWrongPassword, failure);
    if (!service) return failure;

    FormatBlockHold block(*link_, key);
    if (!CameraSteps::startCompleted(*link_, service.get(), table, "HVB_FORMAT_1", kAfterFormatPauseMs))
        return kSendFailed;
    service.reset();
    // rebootDevice
    if (!CameraSteps::finishFormat(*link_, uid, table, block, kAfterFormatEndPauseMs)) return kNotFinished;
    if (!staysAfterFormat(camera->record.ModelName.value_or(""))) {
        const int rebooted = CameraSteps::rebootForRedetection(*link_, uid, table, {kRebootNotFound, kRebootRefused},
                                                               startRedetection_);
        if (rebooted != kSuccess) return rebooted;
    }
    if (camera->record.DeviceParam) link_->writeBVConfigIni(key);
    return kSuccess;
}

}  // namespace hvb
