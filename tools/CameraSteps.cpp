#include "tools/CameraSteps.h"

#include <array>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TextCharacters.h"

namespace hvb {

namespace CameraSteps {

DialogTarget selectedTarget(const CameraLink& link) {
    DialogTarget target;
    const int64_t index = link.selectedDeviceIndex();
    const auto entries = link.deviceEntries();
    if (index < 0 || index >= static_cast<int64_t>(entries.size())) return target;
    auto record = link.record(entries[static_cast<size_t>(index)].key());
    if (!record) {
        target.kind = DialogTarget::Kind::noRecord;
        return target;
    }
    target.kind = DialogTarget::Kind::camera;
    target.uid = record->UID.value_or("");
    return target;
}

std::optional<uint8_t> code(const CommandDictionary& table, const char* name) {
    auto it = table.find(name);
    if (it == table.end()) return std::nullopt;
    return it->second;
}

std::span<const uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

PasswordVerdict checkPassword(CameraLink& link, io_service_t service, uint8_t setCheck, uint8_t getCheck,
                              const std::string& password, const PasswordCheckProfile& profile) {
    if (profile.logBegin) foundation::print("checkPassword begin");
    // Anything short of the camera's completion leaves the check undecided.
    const std::array<uint8_t, 32> zeros{};
    if (link.sendCommandData(service, setCheck, zeros) != CommandOutcome::completed) return PasswordVerdict::none;
    dispatch::pause(profile.pauseAfterWriteMs);
    if (link.sendCommandData(service, setCheck, bytesOf(password)) != CommandOutcome::completed)
        return PasswordVerdict::none;
    dispatch::pause(profile.pauseAfterWriteMs);
    std::vector<uint8_t> reply;
    const CommandOutcome read = link.readCommand(service, getCheck, reply, kReplyLength);
    if (profile.pauseAfterReadMs > 0) dispatch::pause(profile.pauseAfterReadMs);
    if (read != CommandOutcome::completed || reply.empty()) return PasswordVerdict::none;
    const int result = static_cast<int8_t>(reply[0]);
    foundation::print("result = " + std::to_string(result));
    if (result == 1) return PasswordVerdict::right;
    if (result == 0 || profile.otherRepliesAreWrong) return PasswordVerdict::wrong;
    return PasswordVerdict::none;
}

PasswordVerdict checkPassword(CameraLink& link, io_service_t service, const CommandDictionary& table,
                              const std::string& password, const PasswordCheckProfile& profile) {
    auto setCheck = code(table, "HVB_SET_PWDCHECK");
    auto getCheck = code(table, "HVB_GET_PWDCHECK");
    if (!service || !setCheck || !getCheck) return PasswordVerdict::none;
    return checkPassword(link, service, *setCheck, *getCheck, password, profile);
}

std::optional<CommandOutcome> sendStart(CameraLink& link, io_service_t service, const CommandDictionary& table,
                                        const char* name) {
    auto c = code(table, name);
    if (!c) return std::nullopt;
    const uint8_t start = 1;
    return link.sendCommandData(service, *c, std::span<const uint8_t>(&start, 1));
}

bool startCompleted(CameraLink& link, io_service_t service, const CommandDictionary& table, const char* name,
                    int64_t pauseMs) {
    auto sent = sendStart(link, service, table, name);
    if (sent) dispatch::pause(pauseMs);
    return sent && *sent == CommandOutcome::completed;
}

bool sendReboot(CameraLink& link, io_service_t service, const CommandDictionary& table) {
    auto sent = sendStart(link, service, table, "HVB_REBOOT");
    return !sent || *sent != CommandOutcome::refused;
}

CameraHandle lookUp(CameraLink& link, const std::string& uid, int passes) {
    for (int pass = 1;; ++pass) {
        if (CameraHandle service = link.open(uid)) return service;
        if (pass >= passes) return {};
        dispatch::pause(kLookupPauseMs);
    }
}

CameraHandle waitForCameraBack(CameraLink& link, const std::string& uid, bool untilRead,
                               std::optional<uint64_t> hostLosses) {
    for (int round = 1;; ++round) {
        dispatch::pause(kWaitRoundMs);
        foundation::print("FindHVB timerCounter = " + std::to_string(round));
        if (round >= kWaitRounds) return {};
        if (hostLosses && link.driverHostLosses() != *hostLosses) {
            foundation::print("the driver host went away: the camera cannot come back through it");
            return {};
        }
        if (!link.hasDeviceService()) continue;
        if (untilRead && (link.isAddingDevice() || !link.cameraWithUID(uid))) continue;
        // Whichever camera was matched, only this one's service counts as back.
        return link.open(uid);
    }
}

std::optional<CameraLink::Camera> resetCamera(const CameraLink& link, const DialogTarget& target, int& failure) {
    auto fail = [&failure](int code) {
        failure = code;
        return std::nullopt;
    };
    if (target.kind == DialogTarget::Kind::none) return fail(ResetCode::kNoCamera);
    if (target.kind == DialogTarget::Kind::noRecord) return fail(ResetCode::kNoRecord);
    if (target.uid.empty()) return fail(ResetCode::kNoUID);
    auto camera = link.cameraWithUID(target.uid);
    if (!camera) return fail(ResetCode::kNoRecord);
    if (!camera->record.isDeviceEncryption) return fail(ResetCode::kNoEncryptionState);
    return camera;
}

int rebootForRedetection(CameraLink& link, const std::string& uid, const CommandDictionary& table,
                         const RebootProfile& profile, const std::function<void()>& startRedetection) {
    foundation::print("Reboot begin");
    CameraHandle service = lookUp(link, uid);
    if (!service) return profile.notFound;
    const bool rebooting = sendReboot(link, service.get(), table);
    service.reset();
    if (!rebooting) return profile.refused;
    dispatch::pause(profile.afterRebootPauseMs);
    if (startRedetection) startRedetection();
    return ResetCode::kSuccess;
}

bool isHiddenStorageOff(CameraLink& link, io_service_t service, const CommandDictionary& table) {
    auto c = code(table, "HVB_HIDDENSTORAGE");
    if (!c) return false;
    std::vector<uint8_t> reply;
    const CommandOutcome read = link.readCommand(service, *c, reply, kReplyLength);
    dispatch::pause(kHiddenStoragePauseMs);
    return read == CommandOutcome::completed && !reply.empty() && reply[0] == 0;
}

bool waitForFormat(CameraLink& link, const std::string& uid, const CommandDictionary& table) {
    dispatch::pause(kFormatFirstPauseMs);
    int64_t awayMs = 0;  // the pauses since the camera was last found
    for (int counter = 1;; ++counter) {
        if (counter >= kFormatPollLimit) return false;
        auto c = code(table, "HVB_FORMAT_1");
        CameraHandle service = link.open(uid);
        if (service) {
            awayMs = 0;
        } else {
            foundation::print("format camera not found");
            if (awayMs >= kFormatGoneGraceMs) return false;
            awayMs += kFormatPollPauseMs;
        }
        if (service && c) {
            std::vector<uint8_t> reply;
            link.readCommand(service.get(), *c, reply, kReplyLength);
            dispatch::pause(kFormatReadPauseMs);
            const uint8_t progress = reply.empty() ? 0 : reply[0];
            if (progress == kFormatDone) return true;
            foundation::print("format result = " + std::to_string(static_cast<int8_t>(progress)));
        }
        dispatch::pause(kFormatPollPauseMs);
    }
}

std::optional<int64_t> countWrongPassword(CameraLink& link, const std::string& key) {
    int64_t count = 0;
    const bool found = link.updateRecord(key, [&count](DiskDriver_Parameter& r) { count = ++r.passwordErrorCnt; });
    if (!found) return std::nullopt;
    return count;
}

bool isValidNewPassword(const std::string& password) {
    return password.size() >= 8 && password.size() <= 16 && foundation::text::isAsciiAlphanumeric(password);
}

bool finishFormat(CameraLink& link, const std::string& uid, const CommandDictionary& table, FormatBlockHold& block,
                  int64_t afterEndPauseMs) {
    const bool done = waitForFormat(link, uid, table);
    foundation::print(std::string("return value = ") + (done ? "true" : "false"));
    if (!done) return false;
    dispatch::pause(afterEndPauseMs);
    block.lift();
    return true;
}

CameraHandle openWithPassword(CameraLink& link, const std::string& uid, const CommandDictionary& table,
                              bool encrypted, int noService, int wrongPassword, int& failure) {
    CameraHandle service = link.open(uid);
    if (!service) {
        failure = noService;
        return {};
    }
    if (encrypted && checkPassword(link, service.get(), table, link.enteredPassword(), kDialogCheck) !=
                         PasswordVerdict::right) {
        failure = wrongPassword;
        return {};
    }
    return service;
}

}  // namespace CameraSteps

}  // namespace hvb
