#include "tools/UnlockWorker.h"

#include <array>

#include "camera/SerialMatch.h"
#include "tools/CameraSteps.h"
#include "platform/foundation/Log.h"

namespace hvb {

namespace {

std::optional<uint8_t> codeOf(const CommandDictionary& table, const char* name) {
    auto it = table.find(name);
    if (it == table.end()) return std::nullopt;
    return it->second;
}

// Writes that make the camera reboot end with the camera gone, which is their success.
bool delivered(CommandOutcome outcome) { return carried(outcome); }

}  // namespace

UnlockWorker::UnlockWorker(std::shared_ptr<ToolsCameraLink> link, Listener listener)
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

int64_t UnlockWorker::timerCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return timerCnt_;
}

UnlockWorker::Verdict UnlockWorker::checkPassword(ToolsCameraLink& link, io_service_t service, uint8_t setCheck,
                                                  uint8_t getCheck, const std::string& password) {
    switch (CameraSteps::checkPassword(link, service, setCheck, getCheck, password, kUnlockCheck)) {
        case PasswordVerdict::right: return Verdict::right;
        case PasswordVerdict::wrong: return Verdict::wrong;
        case PasswordVerdict::none: break;
    }
    return Verdict::none;
}

bool UnlockWorker::isPasswordAttemptsExhausted(const ToolsCameraLink& link, int64_t selectedDeviceIndex) {
    auto camera = link.camera(selectedDeviceIndex);
    return camera && camera->record.passwordErrorCnt >= kMaxAttempts;
}

std::string UnlockWorker::storageUnlockCommand(const std::string& modelName) {
    if (modelName.find("7333") != std::string::npos || modelName.find("7334") != std::string::npos)
        return "HVB_UNLOCK_READONLY";
    return "HVB_HIDDENSTORAGE";
}

bool UnlockWorker::isUnlockedCameraBack(const ToolsCameraLink& link, const std::string& uid) {
    const int64_t count = link.plugInDeviceCount();
    const auto entries = link.deviceEntries();
    for (int64_t i = 0; i < count && i < static_cast<int64_t>(entries.size()); ++i) {
        auto record = link.record(entries[static_cast<size_t>(i)].key());
        if (record && record->UID && serialEquals(*record->UID, uid)) return true;
    }
    return false;
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
    auto setCheck = codeOf(camera->table, "HVB_SET_PWDCHECK");
    auto getCheck = codeOf(camera->table, "HVB_GET_PWDCHECK");
    auto next = request.unlockOnly
                    ? codeOf(camera->table, storageUnlockCommand(camera->record.ModelName.value_or("")).c_str())
                    : codeOf(camera->table, "HVB_LOCKABLE");
    if (!setCheck || !getCheck || !next) return report(Event::noVerdict);
    io_service_t service = link_->driverService(uid);
    if (!service) return report(Event::noVerdict);
    struct Hold {
        ToolsCameraLink& link;
        io_service_t service;
        ~Hold() { link.releaseService(service); }
    } hold{*link_, service};

    const Verdict verdict = checkPassword(*link_, service, *setCheck, *getCheck, request.password);
    if (verdict == Verdict::none) return report(Event::noVerdict);
    if (verdict == Verdict::wrong) {
        auto attempts = link_->changePasswordErrorCount(key, [](int64_t n) { return n + 1; });
        if (!attempts) return report(Event::noVerdict);
        foundation::print("Error password");
        return report(Event::wrongPassword, *attempts);
    }

    link_->changePasswordErrorCount(key, [](int64_t) { return 0; });
    foundation::print("Correct password");
    report(Event::passwordVerified);
    if (!request.unlockOnly) {
        if (!link_->modelListEmpty()) {
            const auto* bytes = reinterpret_cast<const uint8_t*>(request.password.data());
            if (!delivered(link_->sendCommandData(service, *next,
                                                  std::span<const uint8_t>(bytes, request.password.size()))))
                return report(Event::disableFailed);
            auto semaphore = std::make_shared<dispatch::Semaphore>(0);
            auto found = std::make_shared<std::atomic<bool>>(false);
            auto link = link_;
            link_->findDeviceInBackground([semaphore, found, link](bool ok, io_service_t back) {
                if (back) link->releaseService(back);
                found->store(ok);
                semaphore->signal();
            });
            semaphore->wait();
            if (!found->load()) return report(Event::disableFailed);
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
    if (!delivered(link_->sendCommandWords(service, unlockCode, word))) return report(Event::unlockFailed);
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
        if (io_service_t service = link_->driverService(uid)) {
            link_->releaseService(service);
            std::lock_guard<std::mutex> guard(lock_);
            isDeviceFound_ = true;
        }
        return;
    }
    if (link_->isAddingDevice() || !isUnlockedCameraBack(*link_, uid)) return;
    stopTimer();
    foundation::print("Show storage");
    report(Event::storageShown);
}

}  // namespace hvb
