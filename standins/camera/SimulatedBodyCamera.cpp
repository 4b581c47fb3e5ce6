#include "standins/camera/SimulatedBodyCamera.h"

#include <array>
#include <cstdio>

#include "platform/diskarb/DiskArbitration.h"

namespace hvb::sim {

namespace {

// The camera's settings, by the names its firmware gives their commands.
constexpr std::array<const char*, 34> kSettingCommands = {
    "HVB_RESOLUTION", "HVB_VIDEOLENGTH", "HVB_BUFFERLENGTH", "HVB_VIDEOSTAMP", "HVB_WATERMARK",
    "HVB_VIDEOLOOPRECORD", "HVB_TIMEFORMAT", "HVB_DATEFORMAT", "HVB_MICROPHONE", "HVB_LIGHTFREQ",
    "HVB_STEALTH", "HVB_EIS", "HVB_IRSWITCH", "HVB_BUZZERSWITCH", "HVB_LED", "HVB_RECORDINGMODE",
    "HVB_DEFAULT_RECORD_STATUS", "HVB_HWKEY_RESET", "HVB_VOICE_RECORDING", "HVB_VOICE_SAMPLERATE",
    "HVB_IMAGEFLIP", "HVB_GYROSTATUS", "HVB_TEAMSYNC", "HVB_TEAMSYNC_GROUP", "HVB_WIFI_FREQBANDS",
    "HVB_TIME_ZONE", "HVB_BLE_TRIGGER_HOST", "HVB_NETWORKMODE", "HVB_STA_DHCP", "HVB_STA_RTSP_LVIEWSIZE",
    "HVB_STA_RTSP_LVIEWFPS", "HVB_FILEFORMAT", "HVB_VIBRATOR", "HVB_BUFFERAUDIO"};

bool isSettingCommand(const std::string& name) {
    for (const char* s : kSettingCommands)
        if (name == s) return true;
    return false;
}

uint32_t le32(std::span<const uint8_t> p, size_t at = 0) {
    if (p.size() < at + 4) return 0;
    return uint32_t{p[at]} | (uint32_t{p[at + 1]} << 8) | (uint32_t{p[at + 2]} << 16) | (uint32_t{p[at + 3]} << 24);
}

std::string textOf(std::span<const uint8_t> payload) {
    std::string text;
    for (uint8_t b : payload) {
        if (b == 0) break;
        text.push_back(static_cast<char>(b));
    }
    return text;
}

bool digits(const std::string& s, size_t n) {
    if (s.size() != n) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string padded(uint32_t value, int width) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*u", width, value);
    return text;
}

std::vector<uint8_t> bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// UTF-8 to UTF-16 code units (the label is this camera's own; it is well formed).
std::u16string utf16(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        auto b = static_cast<unsigned char>(text[i]);
        char32_t cp = b;
        size_t n = 1;
        if (b >= 0xF0) { cp = b & 0x07; n = 4; }
        else if (b >= 0xE0) { cp = b & 0x0F; n = 3; }
        else if (b >= 0xC0) { cp = b & 0x1F; n = 2; }
        for (size_t k = 1; k < n && i + k < text.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

size_t characterCount(const std::string& text) {
    size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

}  // namespace

std::shared_ptr<SimulatedBodyCamera> SimulatedBodyCamera::make(const CameraProfile& profile, BodyCameraOptions options) {
    return std::shared_ptr<SimulatedBodyCamera>(new SimulatedBodyCamera(profile, std::move(options)));
}

SimulatedBodyCamera::SimulatedBodyCamera(const CameraProfile& profile, BodyCameraOptions options)
    : profile_(profile), options_(std::move(options)) {
    if (options_.uid.empty()) options_.uid = profile_.model + "0000A1B2C3";
    if (options_.serialNumber.empty()) options_.serialNumber = options_.uid;
    // Distinct values, none of them 0, so that a read of the wrong code shows.
    for (size_t i = 0; i < kSettingCommands.size(); ++i) {
        std::string name = kSettingCommands[i];
        if (name != "HVB_TIME_ZONE" && profile_.has(name)) settings_[name] = static_cast<int64_t>((i * 7 + 3) % 100);
    }
}

SimulatedBodyCamera::~SimulatedBodyCamera() {
    joinReturn();
    detach();
}

std::string SimulatedBodyCamera::serialNumber() const { return options_.serialNumber; }
std::string SimulatedBodyCamera::uid() const { return options_.uid; }

std::string SimulatedBodyCamera::bsdName() const {
    std::lock_guard<std::mutex> guard(lock_);
    return options_.bsdName;
}

std::string SimulatedBodyCamera::volumeBSDName() const {
    std::lock_guard<std::mutex> guard(lock_);
    return options_.volumeOnWholeDisk ? options_.bsdName : options_.bsdName + "s1";
}

std::shared_ptr<SimulatedCamera> SimulatedBodyCamera::makeSession() {
    CameraIdentity identity;
    identity.productName = profile_.productName;
    identity.productID = webcam_ ? kWebcamProductID : 0x5000;
    identity.serialNumber = options_.serialNumber;
    identity.locationID = 0x14100000u + static_cast<uint32_t>(attachCount_);
    identity.bsdNames = {options_.bsdName, options_.bsdName + "s1"};
    auto session = std::make_shared<SimulatedCamera>(identity);
    std::weak_ptr<SimulatedBodyCamera> weak = weak_from_this();
    for (const auto& [name, code] : profile_.commands) {
        session->setReadHandler(code, [weak, name](SimulatedCamera&, uint8_t) -> std::optional<std::vector<uint8_t>> {
            auto self = weak.lock();
            if (!self) return std::vector<uint8_t>{};
            return self->reply(name);
        });
        session->setWriteHandler(code, [weak, name](SimulatedCamera& s, uint8_t c, std::span<const uint8_t> p) {
            auto self = weak.lock();
            return self ? self->take(s, c, name, p) : true;
        });
    }
    return session;
}

bool SimulatedBodyCamera::attach(SimulatedUsbBus& bus) {
    std::shared_ptr<SimulatedCamera> session;
    bool mountVolume = false;
    std::string volumeName;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (current_) return false;
        if (pendingBSDName_) {
            options_.bsdName = *pendingBSDName_;
            pendingBSDName_.reset();
        }
        bus_ = &bus;
        session = makeSession();
        current_ = session;
        sessions_.push_back(session);
        ++attachCount_;
        mountVolume = !webcam_ && !hidden_ && !options_.volumeFolder.empty();
        volumeName = options_.volumeOnWholeDisk ? options_.bsdName : options_.bsdName + "s1";
    }
    if (mountVolume) diskarb::attachSimulatedVolume(volumeName, options_.volumeFolder);
    if (!bus.plug(session)) {
        std::lock_guard<std::mutex> guard(lock_);
        current_.reset();
        return false;
    }
    std::weak_ptr<SimulatedBodyCamera> weak = weak_from_this();
    std::weak_ptr<SimulatedCamera> weakSession = session;
    session->setVanishHandler([weak, weakSession] {
        auto self = weak.lock();
        auto gone = weakSession.lock();
        if (!self || !gone) return;
        int64_t downTime = -1;
        SimulatedUsbBus* bus = nullptr;
        {
            std::lock_guard<std::mutex> guard(self->lock_);
            if (self->current_ != gone) return;
            bus = self->bus_;
            if (self->pendingReturn_) downTime = self->rebootDownTimeMs_;
            self->pendingReturn_ = false;
        }
        if (bus) bus->unplug(gone);
        self->detach();
        if (downTime >= 0) self->leaveAndReturn(downTime);
    });
    return true;
}

void SimulatedBodyCamera::detach() {
    std::shared_ptr<SimulatedCamera> session;
    SimulatedUsbBus* bus = nullptr;
    std::string volumeName;
    {
        std::lock_guard<std::mutex> guard(lock_);
        session = std::move(current_);
        current_.reset();
        bus = bus_;
        volumeName = options_.volumeOnWholeDisk ? options_.bsdName : options_.bsdName + "s1";
    }
    diskarb::detachSimulatedVolume(volumeName);
    if (session && bus) bus->unplug(session);
}

bool SimulatedBodyCamera::isAttached() const {
    std::lock_guard<std::mutex> guard(lock_);
    return current_ != nullptr;
}

void SimulatedBodyCamera::leaveAndReturn(int64_t downTimeMs) {
    detach();
    joinReturn();
    std::lock_guard<std::mutex> guard(returnLock_);
    std::weak_ptr<SimulatedBodyCamera> weak = weak_from_this();
    returning_ = std::thread([weak, downTimeMs] {
        dispatch::pause(downTimeMs);
        auto self = weak.lock();
        if (!self) return;
        SimulatedUsbBus* bus = nullptr;
        {
            std::lock_guard<std::mutex> guard(self->lock_);
            bus = self->bus_;
        }
        if (bus) self->attach(*bus);
    });
}

void SimulatedBodyCamera::joinReturn() {
    std::thread pending;
    {
        std::lock_guard<std::mutex> guard(returnLock_);
        pending = std::move(returning_);
    }
    if (pending.joinable()) {
        if (pending.get_id() == std::this_thread::get_id()) pending.detach();
        else pending.join();
    }
}

void SimulatedBodyCamera::reboot(int64_t downTimeMs, std::optional<std::string> newBSDName) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        pendingBSDName_ = std::move(newBSDName);
    }
    leaveAndReturn(downTimeMs);
}

void SimulatedBodyCamera::switchMode(bool webcam, int64_t downTimeMs) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        webcam_ = webcam;
    }
    leaveAndReturn(downTimeMs);
}

bool SimulatedBodyCamera::isWebcamMode() const {
    std::lock_guard<std::mutex> guard(lock_);
    return webcam_;
}

void SimulatedBodyCamera::waitForReturn() { joinReturn(); }

int SimulatedBodyCamera::attachCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return attachCount_;
}

int64_t SimulatedBodyCamera::setting(const std::string& command) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = settings_.find(command);
    return it == settings_.end() ? -1 : it->second;
}

void SimulatedBodyCamera::setSetting(const std::string& command, int64_t value) {
    std::lock_guard<std::mutex> guard(lock_);
    settings_[command] = value;
}

std::map<std::string, int64_t> SimulatedBodyCamera::settings() const {
    std::lock_guard<std::mutex> guard(lock_);
    return settings_;
}

std::string SimulatedBodyCamera::label() const {
    std::lock_guard<std::mutex> guard(lock_);
    return profile_.label == LabelForm::personalStamp ? options_.personalStamp : options_.label;
}

void SimulatedBodyCamera::setLabel(std::string label) {
    std::lock_guard<std::mutex> guard(lock_);
    if (profile_.label == LabelForm::personalStamp) options_.personalStamp = std::move(label);
    else options_.label = std::move(label);
}

std::string SimulatedBodyCamera::timeZone() const {
    std::lock_guard<std::mutex> guard(lock_);
    return options_.timeZone;
}

void SimulatedBodyCamera::setTimeZone(std::string text) {
    std::lock_guard<std::mutex> guard(lock_);
    options_.timeZone = std::move(text);
}

void SimulatedBodyCamera::setHidden(bool hidden) {
    std::lock_guard<std::mutex> guard(lock_);
    hidden_ = hidden;
}

void SimulatedBodyCamera::setEncrypted(bool encrypted) {
    std::lock_guard<std::mutex> guard(lock_);
    encrypted_ = encrypted;
}

void SimulatedBodyCamera::setSDCardStatus(uint8_t status) {
    std::lock_guard<std::mutex> guard(lock_);
    sdCardStatus_ = status;
}

void SimulatedBodyCamera::setBattery(uint8_t level) {
    std::lock_guard<std::mutex> guard(lock_);
    battery_ = level;
}

void SimulatedBodyCamera::setCharging(bool charging) {
    std::lock_guard<std::mutex> guard(lock_);
    charging_ = charging;
}

void SimulatedBodyCamera::setReservedSpace(std::string text) {
    std::lock_guard<std::mutex> guard(lock_);
    reservedSpace_ = std::move(text);
}

std::string SimulatedBodyCamera::clockDate() const {
    std::lock_guard<std::mutex> guard(lock_);
    return clockDate_;
}

std::string SimulatedBodyCamera::clockTime() const {
    std::lock_guard<std::mutex> guard(lock_);
    return clockTime_;
}

void SimulatedBodyCamera::setClock(std::string date, std::string time) {
    std::lock_guard<std::mutex> guard(lock_);
    clockDate_ = std::move(date);
    clockTime_ = std::move(time);
}

void SimulatedBodyCamera::setRebootDownTime(int64_t ms) {
    std::lock_guard<std::mutex> guard(lock_);
    rebootDownTimeMs_ = ms;
}

std::vector<CameraWrite> SimulatedBodyCamera::writes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return writes_;
}

void SimulatedBodyCamera::clearWrites() {
    std::lock_guard<std::mutex> guard(lock_);
    writes_.clear();
}

std::vector<BlockRecord> SimulatedBodyCamera::log() const {
    std::vector<std::shared_ptr<SimulatedCamera>> sessions;
    {
        std::lock_guard<std::mutex> guard(lock_);
        sessions = sessions_;
    }
    std::vector<BlockRecord> all;
    for (const auto& session : sessions) {
        auto part = session->log();
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

void SimulatedBodyCamera::clearLog() {
    std::vector<std::shared_ptr<SimulatedCamera>> sessions;
    {
        std::lock_guard<std::mutex> guard(lock_);
        sessions = sessions_;
    }
    for (const auto& session : sessions) session->clearLog();
}

std::shared_ptr<SimulatedCamera> SimulatedBodyCamera::session() const {
    std::lock_guard<std::mutex> guard(lock_);
    return current_;
}

std::vector<uint8_t> SimulatedBodyCamera::framed(const std::string& text, TextFraming framing) const {
    std::vector<uint8_t> out;
    out.reserve(text.size() + 1);
    size_t count = characterCount(text);
    if (framing == TextFraming::bytePrefix && count > 0 && count < 0x100) out.push_back(static_cast<uint8_t>(count));
    for (char c : text) out.push_back(static_cast<uint8_t>(c));
    return out;
}

std::optional<std::vector<uint8_t>> SimulatedBodyCamera::reply(const std::string& name) {
    std::lock_guard<std::mutex> guard(lock_);
    if (name == "HVB_UID") return framed(options_.uid, options_.identityFraming);
    if (name == "HVB_INFORMATION")
        return framed(profile_.reportedModel + "-" + profile_.firmware + "-0-" + options_.uid, options_.identityFraming);
    if (name == "HVB_MODEL") return framed(profile_.reportedModel, options_.identityFraming);
    if (name == "HVB_FWVERSION") return framed(profile_.firmware, options_.identityFraming);
    if (name == "HVB_FWVersion_Old") {
        std::string version = profile_.firmware;
        return bytes(version.size() <= 9 ? std::to_string(version.size()) + version : version);
    }
    if (name == "HVB_GetPersonalStamp") return framed(options_.personalStamp, options_.labelFraming);
    if (name == "HVB_UTF8_USERLABEL" || name == "HVB_USERLABEL") return framed(options_.label, options_.labelFraming);
    if (name == "HVB_UNICODE_USERLABEL") {
        char count[8];
        std::snprintf(count, sizeof count, "%02zu", std::min<size_t>(characterCount(options_.label), 99));
        std::string text = count;
        for (char16_t unit : utf16(options_.label)) {
            char group[8];
            std::snprintf(group, sizeof group, "%04X", static_cast<unsigned>(unit));
            text += group;
        }
        return bytes(text);
    }
    if (name == "HVB_HIDDENSTORAGE") return std::vector<uint8_t>{static_cast<uint8_t>(hidden_ ? 1 : 0)};
    if (name == "HVB_IS_ENCRYPT" || name == "HVB_LOCKABLE")
        return std::vector<uint8_t>{static_cast<uint8_t>(encrypted_ ? 1 : 0)};
    if (name == "HVB_SD_CARD_STATUS") return std::vector<uint8_t>{sdCardStatus_};
    if (name == "HVB_BATTERYLEVEL" || name == "HVB_BATTERYCAPACITY" || name == "HVB_BATTERYADCVALUE")
        return std::vector<uint8_t>{battery_};
    if (name == "HVB_ISCHARGING") return std::vector<uint8_t>{static_cast<uint8_t>(charging_ ? 1 : 0)};
    if (name == "HVB_GET_RESERVEDSPACEANDSIZE") return bytes(reservedSpace_);
    if (name == "HVB_TIME_ZONE") {
        char prefix[8];
        std::snprintf(prefix, sizeof prefix, "%02zu", std::min<size_t>(options_.timeZone.size(), 99));
        return bytes(prefix + options_.timeZone);
    }
    if (name == "HVB_SYNCDATE") return bytes("D" + clockDate_);
    if (name == "HVB_SYNCTIME") return bytes("T" + clockTime_ + "ok");
    if (name == "HVB_SYNC_DATETIME" || name == "HVB_SYNC_DATETIME_STRING") return bytes("DT" + clockDate_ + clockTime_ + "ok");
    if (isSettingCommand(name)) {
        auto it = settings_.find(name);
        int64_t value = it == settings_.end() ? -1 : it->second;
        return std::vector<uint8_t>{static_cast<uint8_t>(static_cast<int8_t>(value))};
    }
    return std::vector<uint8_t>{};
}

bool SimulatedBodyCamera::take(SimulatedCamera& session, uint8_t code, const std::string& name,
                               std::span<const uint8_t> payload) {
    std::lock_guard<std::mutex> guard(lock_);
    writes_.push_back({name, code, std::vector<uint8_t>(payload.begin(), payload.end()), dispatch::Clock::now()});
    if (name == "HVB_TIME_ZONE") {
        options_.timeZone = textOf(payload);
        return true;
    }
    if (isSettingCommand(name)) {
        settings_[name] = payload.size() == 4 ? static_cast<int64_t>(le32(payload)) : (payload.empty() ? -1 : payload[0]);
        return true;
    }
    if (name == "HVB_SYNCDATE") {
        if (payload.size() != 4) return false;
        clockDate_ = padded(le32(payload), 8);
        return true;
    }
    if (name == "HVB_SYNCTIME") {
        if (payload.size() != 4) return false;
        clockTime_ = padded(le32(payload), 6);
        return true;
    }
    if (name == "HVB_SYNC_DATETIME") {
        if (payload.size() != 8) return false;
        clockDate_ = padded(le32(payload), 8);
        clockTime_ = padded(le32(payload, 4), 6);
        return true;
    }
    if (name == "HVB_SYNC_DATETIME_STRING") {
        std::string text = textOf(payload);
        if (!digits(text, 14)) return false;
        clockDate_ = text.substr(0, 8);
        clockTime_ = text.substr(8);
        return true;
    }
    if (name == "HVB_UTF8_USERLABEL" || name == "HVB_USERLABEL") {
        options_.label = textOf(payload);
        return true;
    }
    if (name == "HVB_REBOOT" || name == "HVB_FW_UPGRADE" || name == "HVB_WEBCAMMODE") {
        if (name == "HVB_WEBCAMMODE") webcam_ = true;
        pendingReturn_ = true;
        session.vanishAfterCommand(code);
        return true;
    }
    return true;
}

}  // namespace hvb::sim
