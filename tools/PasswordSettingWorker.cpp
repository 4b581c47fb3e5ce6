#include "tools/PasswordSettingWorker.h"

#include <array>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "tools/CurrentDeviceUID.h"

namespace hvb {

namespace {

using CameraSteps::bytesOf;
using CameraSteps::code;

bool isRight(CameraLink& link, io_service_t service, const CommandDictionary& commands,
             const std::string& password) {
    return CameraSteps::checkPassword(link, service, commands, password, kPasswordSettingCheck) ==
           PasswordVerdict::right;
}

}  // namespace

PasswordSettingWorker::PasswordSettingWorker(std::shared_ptr<CameraLink> link,
                                             std::function<void()> startRedetection)
    : link_(std::move(link)), startRedetection_(std::move(startRedetection)) {}

std::string PasswordSettingWorker::uid() const { return currentDeviceUID(); }

void PasswordSettingWorker::run(const PasswordSettingRequest& request, const Listener& listener) {
    auto finish = [&listener](int code, PasswordErrorStatus status = PasswordErrorStatus::OTHER_ERR) {
        if (listener.finished) listener.finished(code, status);
    };
    if (request.target.kind == DialogTarget::Kind::none) return finish(kNoCamera);
    if (request.target.kind == DialogTarget::Kind::noRecord) return finish(kNoRecord);
    if (request.target.uid.empty()) return finish(kNoUID);
    auto camera = link_->cameraWithUID(request.target.uid);
    if (!camera) return finish(kNoRecord);
    const std::string uid = request.target.uid;
    const std::string key = camera->entry.key();
    setCurrentDeviceUID(uid);
    foundation::print("PasswordSetting UID = " + uid);
    const bool withNew = request.mode != 2;
    // The form's rule again: whatever reached the worker, nothing else is ever written.
    if (withNew && !CameraSteps::isValidNewPassword(request.newPassword)) return finish(kInvalidNewPassword);

    CameraHandle service = link_->open(uid);
    if (!service) return finish(kNoService);

    if (request.mode != 0) {
        const PasswordVerdict verdict = CameraSteps::checkPassword(*link_, service.get(), request.commands,
                                                                   request.original, kPasswordSettingCheck);
        // A check the camera never answered says nothing about the password: nothing is counted.
        if (verdict == PasswordVerdict::none) return finish(kNoVerdict);
        if (verdict == PasswordVerdict::wrong) {
            auto attempts = CameraSteps::countWrongPassword(*link_, key);
            if (!attempts) return finish(kNoRecord);
            if (listener.attemptsWarning) listener.attemptsWarning(*attempts);
            return finish(kWrongOriginal, PasswordErrorStatus::ORIGINAL_PASSWORD_ERR);
        }
        link_->updateRecord(key, [](DiskDriver_Parameter& r) { r.passwordErrorCnt = 0; });
        if (listener.originalAccepted) listener.originalAccepted();
        if (request.passwordErrorBefore && request.mode == 1) {
            if (listener.passwordCorrect) listener.passwordCorrect();
            return finish(kArmedAgain);
        }
    }
    if (withNew && request.newPassword != request.confirm)
        return finish(kConfirmDiffers, PasswordErrorStatus::CONFIRM_PASSWORD_ERR);

    switch (request.mode) {
        case 0:
            return finish(setPassword(service.get(), request.newPassword, request.commands));
        case 1: {
            service.reset();
            int notFound = 0;
            if (!changeDevicePassword(request.original, request.newPassword, request.commands, notFound))
                return finish(notFound != 0 ? notFound : kChangeFailed);
            return finish(rebootAfterChange(request.commands));
        }
        default:
            service.reset();
            return finish(disablePassword(request.original, request.commands));
    }
}

bool PasswordSettingWorker::changeDevicePassword(const std::string& original, const std::string& newPassword,
                                                 const CommandDictionary& commands, int& notFoundCode) {
    CameraHandle service = CameraSteps::lookUp(*link_, uid());
    if (!service) {
        notFoundCode = kChangeNotFound;
        return false;
    }
    if (!isRight(*link_, service.get(), commands, original)) return false;
    if (auto clean = code(commands, "HVB_CLEAN")) {
        // As many zeros as the new password has characters; the block carries 32 either way.
        const std::vector<uint8_t> zeros(newPassword.size(), 0);
        const CommandOutcome sent = link_->sendCommandData(service.get(), *clean, zeros);
        dispatch::pause(kAfterWritePauseMs);
        if (sent != CommandOutcome::completed) return false;
    }
    auto setPassword = code(commands, "HVB_SET_PASSWORD");
    if (!setPassword) return false;
    const CommandOutcome stored = link_->sendCommandData(service.get(), *setPassword, bytesOf(newPassword));
    dispatch::pause(kAfterWritePauseMs);
    if (stored != CommandOutcome::completed) return false;
    if (auto lockCard = code(commands, "HVB_LOCK_CARD")) {
        const CommandOutcome locked = link_->sendCommandData(service.get(), *lockCard, bytesOf(newPassword));
        dispatch::pause(kAfterWritePauseMs);
        if (locked != CommandOutcome::completed) return false;
    }
    return isRight(*link_, service.get(), commands, newPassword);
}

int PasswordSettingWorker::rebootAfterChange(const CommandDictionary& commands) {
    foundation::print("Reboot begin");
    CameraHandle service = CameraSteps::lookUp(*link_, uid());
    if (!service) return kRebootNotFound;
    if (!commands.empty() && !CameraSteps::sendReboot(*link_, service.get(), commands)) return kRebootRefused;
    if (startRedetection_) startRedetection_();
    return kSuccess;
}

int PasswordSettingWorker::setPassword(io_service_t service, const std::string& newPassword,
                                       const CommandDictionary& commands) {
    auto lockable = code(commands, "HVB_LOCKABLE");
    if (!service || !lockable) return kSetFailed;
    // Forgotten before the command, so only a match after it counts as the camera coming back.
    link_->clearDeviceService();
    const CommandOutcome sent = link_->sendCommandData(service, *lockable, bytesOf(newPassword));
    dispatch::pause(kAfterWritePauseMs);
    if (!carried(sent)) return kSetFailed;
    CameraHandle back = CameraSteps::waitForCameraBack(*link_, uid());
    bool ok = false;
    if (back) {
        dispatch::pause(kBeforeNewCheckPauseMs);
        ok = isRight(*link_, back.get(), commands, newPassword);
    }
    // finishPasswordSet
    if (!ok) return kSetFailed;
    foundation::print("Reboot begin");
    if (startRedetection_) startRedetection_();
    return kSuccess;
}

int PasswordSettingWorker::disablePassword(const std::string& password, const CommandDictionary& commands) {
    CameraHandle service = CameraSteps::lookUp(*link_, uid());
    if (!service) return kDisableNotFound;
    const bool right = isRight(*link_, service.get(), commands, password);
    auto lockable = code(commands, "HVB_LOCKABLE");
    if (!right || !lockable) return kDisableFailed;
    link_->clearDeviceService();
    const CommandOutcome sent = link_->sendCommandData(service.get(), *lockable, bytesOf(password));
    // A refused removal leaves the camera where it is: no point waiting for it to come back.
    if (!carried(sent)) return kDisableFailed;
    dispatch::pause(kAfterDisablePauseMs);
    service.reset();
    CameraHandle back = CameraSteps::waitForCameraBack(*link_, uid());
    const bool off = back && CameraSteps::isHiddenStorageOff(*link_, back.get(), commands);
    // finishPasswordDisable
    if (!off) return kDisableFailed;
    foundation::print("Reboot begin");
    if (startRedetection_) startRedetection_();
    return kSuccess;
}

}  // namespace hvb
