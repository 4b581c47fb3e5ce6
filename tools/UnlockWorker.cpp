#include "tools/UnlockWorker.h"

#include <array>

#include "platform/foundation/Log.h"
#include "tools/CameraSteps.h"

namespace hvb {

UnlockWorker::UnlockWorker(std::shared_ptr<CameraLink> link, Listener listener)
    : link_(std::move(link)), listener_(std::move(listener)) {}

UnlockWorker::~UnlockWorker() { cancel(); }

void UnlockWorker::report(Event event, int64_t attempts) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (cancelled_) return;
    }
    if (listener_) listener_(event, attempts);
}

void UnlockWorker::cancel() {
    std::shared_ptr<dispatch::Timer> timer;
    {
        std::lock_guard<std::mutex> guard(lock_);
        cancelled_ = true;
        timer = std::move(timer_);
    }
    if (timer) timer->cancel();
}

bool UnlockWorker::isPasswordAttemptsExhausted(const CameraLink& link, int64_t selectedDeviceIndex) {
    auto camera = link.camera(selectedDeviceIndex);
    return camera && camera->record.passwordErrorCnt >= CameraSteps::kMaxPasswordAttempts;
}

std::string UnlockWorker::storageUnlockCommand(const std::string& modelName) {
    if (modelName.find("7333") != std::string::npos || modelName.find("7334") != std::string::npos)
        return "HVB_UNLOCK_READONLY";
    return "HVB_HIDDENSTORAGE";
}

void UnlockWorker::run(const UnlockRequest& request) {
    auto camera = link_->camera(request.selectedDeviceIndex);
    if (!camera || !camera->record.UID || camera->record.UID->empty() || camera->table.empty())
        return report(Event::noVerdict);
    const std::string uid = *camera->record.UID;
    const std::string key = camera->entry.key();
    foundation::print(uid);
    {
        std::lock_guard<std::mutex> guard(lock_);
        curUID_ = uid;
    }
    // Every command the path needs is looked up before anything is sent.
    auto setCheck = CameraSteps::code(camera->table, "HVB_SET_PWDCHECK");
    auto getCheck = CameraSteps::code(camera->table, "HVB_GET_PWDCHECK");
    const std::string nextName =
        request.unlockOnly ? storageUnlockCommand(camera->record.ModelName.value_or("")) : "HVB_LOCKABLE";
    auto next = CameraSteps::code(camera->table, nextName.c_str());
    if (!setCheck || !getCheck || !next) return report(Event::noVerdict);
    CameraHandle hold = link_->open(uid);
    if (!hold) return report(Event::noVerdict);
    const io_service_t service = hold.get();

    const PasswordVerdict verdict =
        CameraSteps::checkPassword(*link_, service, *setCheck, *getCheck, request.password, kUnlockCheck);
    if (verdict == PasswordVerdict::none) return report(Event::noVerdict);
    if (verdict == PasswordVerdict::wrong) {
        auto attempts = CameraSteps::countWrongPassword(*link_, key);
        if (!attempts) return report(Event::noVerdict);
        foundation::print("Error password");
        return report(Event::wrongPassword, *attempts);
    }

    link_->updateRecord(key, [](DiskDriver_Parameter& r) { r.passwordErrorCnt = 0; });
    foundation::print("Correct password");
    report(Event::passwordVerified);
    if (!request.unlockOnly) {
        if (!link_->modelList().empty()) {
            // Forgotten before the command, not after: a camera that reboots quickly may be
            // matched again before the command returns, and that match must count.
            link_->clearDeviceService();
            // The removal reboots the camera: one gone afterwards took it.
            if (!carried(link_->sendCommandData(service, *next, CameraSteps::bytesOf(request.password))))
                return report(Event::disableFailed);
            CameraHandle back = CameraSteps::waitForCameraBack(*link_, uid);
            if (!back) return report(Event::disableFailed);
        }
        link_->setEnteredPassword(request.password);
        report(Event::passwordCorrect);
        return report(Event::finished);
    }
    link_->setEnteredPassword(request.password);
    report(Event::passwordCorrect);
    dispatch::pause(kBeforeUnlockPauseMs);
    report(Event::pleaseWait);
    unlockAfterCorrectPassword(service, *next);
}

void UnlockWorker::unlockAfterCorrectPassword(io_service_t service, uint8_t unlockCode) {
    foundation::print(curUID_ + " show storage");
    const std::array<uint32_t, 1> word{0};
    // A refused command leaves the storage locked; waiting for the camera would report it open.
    if (!carried(link_->sendCommandWords(service, unlockCode, word))) return report(Event::unlockFailed);
    dispatch::pause(kAfterUnlockPauseMs);
    startUnlockTimer();
}

void UnlockWorker::startUnlockTimer() {
    std::weak_ptr<UnlockWorker> weak = weak_from_this();
    auto timer = dispatch::Timer::make(
        dispatch::globalQueue(dispatch::QoS::defaultQoS), kTimerIntervalMs,
        [weak] {
            if (auto self = weak.lock()) self->unlockTimerTick();
        },
        0);
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (cancelled_) return;
        timer_ = timer;
    }
    timer->resume();
}

void UnlockWorker::unlockTimerTick() {
    int64_t count = 0;
    bool deviceFound = false;
    std::string uid;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (cancelled_) return;
        count = ++timerCnt_;
        deviceFound = isDeviceFound_;
        uid = curUID_;
    }
    foundation::print("timerCnt = " + std::to_string(count));
    auto stopTimer = [this] {
        std::shared_ptr<dispatch::Timer> timer;
        {
            std::lock_guard<std::mutex> guard(lock_);
            timer = std::move(timer_);
        }
        if (timer) timer->cancel();
    };
    if (count == kTimeoutTick) {
        stopTimer();
        {
            std::lock_guard<std::mutex> guard(lock_);
            isDeviceFound_ = false;
        }
        return report(Event::unlockFailed);
    }
    if (!deviceFound) {
        if (link_->open(uid)) {
            std::lock_guard<std::mutex> guard(lock_);
            isDeviceFound_ = true;
        }
        return;
    }
    if (link_->isAddingDevice() || !link_->cameraWithUID(uid)) return;
    stopTimer();
    foundation::print("Show storage");
    report(Event::storageShown);
}

}  // namespace hvb
