#include "standins/camera/SimulatedBodyCamera.h"

#include <fstream>

#include <array>
#include <cstdio>

#include "platform/diskarb/DiskArbitration.h"
#include "platform/foundation/TextCharacters.h"

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

// The options a camera leaves the factory with, for the settings its owner picks from a list:
// each is a valid position of that setting's list on every model.
constexpr std::array<std::pair<const char*, int64_t>, 23> kFactoryOptions = {{
    {"HVB_RESOLUTION", 1}, {"HVB_VIDEOLENGTH", 1}, {"HVB_BUFFERLENGTH", 1}, {"HVB_VIDEOSTAMP", 1},
    {"HVB_WATERMARK", 0}, {"HVB_VIDEOLOOPRECORD", 1}, {"HVB_TIMEFORMAT", 0}, {"HVB_DATEFORMAT", 0},
    {"HVB_MICROPHONE", 1}, {"HVB_LIGHTFREQ", 1}, {"HVB_STEALTH", 0}, {"HVB_EIS", 0}, {"HVB_IRSWITCH", 1},
    {"HVB_BUZZERSWITCH", 1}, {"HVB_LED", 1}, {"HVB_RECORDINGMODE", 0}, {"HVB_DEFAULT_RECORD_STATUS", 0},
    {"HVB_HWKEY_RESET", 1}, {"HVB_VOICE_RECORDING", 1}, {"HVB_VOICE_SAMPLERATE", 1}, {"HVB_FILEFORMAT", 1},
    {"HVB_VIBRATOR", 0}, {"HVB_BUFFERAUDIO", 1},
}};

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

// "a.b.c" as a * 10000 + b * 100 + c; -1 when it is not of that form.
int64_t versionNumber(const std::string& text) {
    int64_t parts[3] = {0, 0, 0};
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t end = i < 2 ? text.find('.', start) : text.size();
        if (end == std::string::npos || end == start) return -1;
        for (size_t k = start; k < end; ++k) {
            if (text[k] < '0' || text[k] > '9') return -1;
            parts[i] = parts[i] * 10 + (text[k] - '0');
        }
        start = end + 1;
    }
    return parts[0] * 10000 + parts[1] * 100 + parts[2];
}

size_t characterCount(const std::string& text) {
    size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

// A label written in the hex form: the count of UTF-16 code units in decimal, then four hex
// digits per unit. None when the text is not of that form.
std::optional<std::string> labelFromUnicodeForm(const std::string& text) {
    for (size_t digitsLength = 1; digitsLength <= 2 && digitsLength <= text.size(); ++digitsLength) {
        if (!digits(text.substr(0, digitsLength), digitsLength)) break;
        const size_t count = std::stoul(text.substr(0, digitsLength));
        if (digitsLength + 4 * count != text.size()) continue;
        std::u16string units;
        for (size_t i = 0; i < count; ++i) {
            const std::string group = text.substr(digitsLength + 4 * i, 4);
            if (group.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return std::nullopt;
            units.push_back(static_cast<char16_t>(std::stoul(group, nullptr, 16)));
        }
        std::string label;
        for (size_t i = 0; i < units.size(); ++i) {
            char32_t cp = units[i];
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF)
                cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
            else if (cp >= 0xD800 && cp <= 0xDFFF)
                return std::nullopt;
            foundation::text::appendUtf8(label, cp);
        }
        return label;
    }
    return std::nullopt;
}

}  // namespace

std::shared_ptr<SimulatedBodyCamera> SimulatedBodyCamera::make(const CameraProfile& profile, BodyCameraOptions options) {
    return std::shared_ptr<SimulatedBodyCamera>(new SimulatedBodyCamera(profile, std::move(options)));
}

SimulatedBodyCamera::SimulatedBodyCamera(const CameraProfile& profile, BodyCameraOptions options)
    : profile_(profile), options_(std::move(options)), firmware_(profile.firmware) {
    // A camera's UID is its USB serial number; one made without either gets one from its model.
    if (options_.uid.empty()) options_.uid = options_.serialNumber.empty() ? profile_.model + "0000A1B2C3" : options_.serialNumber;
    if (options_.serialNumber.empty()) options_.serialNumber = options_.uid;
    if (!options_.password.empty()) {
        password_ = options_.password;
        encrypted_ = true;
        hidden_ = true;
    }
    // Distinct values, none of them 0, so that a read of the wrong code shows.
    for (size_t i = 0; i < kSettingCommands.size(); ++i) {
        std::string name = kSettingCommands[i];
        if (name != "HVB_TIME_ZONE" && profile_.has(name)) settings_[name] = static_cast<int64_t>((i * 7 + 3) % 100);
    }
    // Settings shown as option lists start at real options (the read's code order is checked
    // on the command log, so the values need not tell the codes apart).
    for (const auto& [name, value] : kFactoryOptions)
        if (profile_.has(name)) settings_[name] = value;
    defaultSettings_ = settings_;
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

std::shared_ptr<SimulatedCamera> SimulatedBodyCamera::makeSession() {
    CameraIdentity identity;
    identity.productName = profile_.productName;
    identity.productID = webcam_ ? kWebcamProductID : 0x5000;
    identity.serialNumber = options_.serialNumber;
    identity.locationID = 0x14100000u + static_cast<uint32_t>(attachCount_);
    identity.bsdNames = {options_.bsdName, options_.bsdName + "s1"};
    return std::make_shared<SimulatedCamera>(identity);
}

// Called without lock_ held: a command answers with the session's lock held and then takes
// lock_ (reply, take), so lock_ must never be held while the session's lock is taken.
void SimulatedBodyCamera::installHandlers(SimulatedCamera& session) {
    std::weak_ptr<SimulatedBodyCamera> weak = weak_from_this();
    for (const auto& command : profile_.commands) {
        const std::string name = command.first;
        session.setReadHandler(command.second,
                               [weak, name](SimulatedCamera&, uint8_t) -> std::optional<std::vector<uint8_t>> {
                                   auto self = weak.lock();
                                   if (!self) return std::vector<uint8_t>{};
                                   return self->reply(name);
                               });
        session.setWriteHandler(command.second, [weak, name](SimulatedCamera& s, uint8_t c, std::span<const uint8_t> p) {
            auto self = weak.lock();
            return self ? self->take(s, c, name, p) : true;
        });
    }
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
    installHandlers(*session);
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
            if (self->pendingReturn_) {
                downTime = self->staysAway_ ? -1 : self->rebootDownTimeMs_;
                // Only a restart of the firmware looks at the volume, not a re-enumeration.
                if (self->firmwareRestart_) self->applyUpgradeFiles();
                self->firmwareRestart_ = false;
                if (self->bsdNameAfterReboot_) {
                    self->pendingBSDName_ = std::move(self->bsdNameAfterReboot_);
                    self->bsdNameAfterReboot_.reset();
                }
            }
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

void SimulatedBodyCamera::setPassword(std::optional<std::string> password) {
    std::lock_guard<std::mutex> guard(lock_);
    encrypted_ = password.has_value();
    hidden_ = password.has_value();
    password_ = std::move(password);
    passwordCandidate_.reset();
}

std::optional<std::string> SimulatedBodyCamera::password() const {
    std::lock_guard<std::mutex> guard(lock_);
    return password_;
}

bool SimulatedBodyCamera::isStorageLocked() const {
    std::lock_guard<std::mutex> guard(lock_);
    return hidden_;
}

void SimulatedBodyCamera::setPasswordCheckReply(std::optional<uint8_t> byte) {
    std::lock_guard<std::mutex> guard(lock_);
    passwordCheckReply_ = byte;
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

size_t SimulatedBodyCamera::recordedBlockCount() const {
    std::vector<std::shared_ptr<SimulatedCamera>> sessions;
    {
        std::lock_guard<std::mutex> guard(lock_);
        sessions = sessions_;
    }
    size_t count = 0;
    for (const auto& session : sessions) count += session->recordedBlockCount();
    return count;
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
        return framed(profile_.reportedModel + "-" + firmware_ + "-0-" + options_.uid, options_.identityFraming);
    if (name == "HVB_MODEL") return framed(profile_.reportedModel, options_.identityFraming);
    if (name == "HVB_FWVERSION") return framed(firmware_, options_.identityFraming);
    if (name == "HVB_FWVersion_Old") {
        std::string version = firmware_;
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
    if (name == "HVB_FORMAT_1") return std::vector<uint8_t>{formatProgress()};
    if (name == "HVB_GET_PWDCHECK") {
        if (passwordCheckReply_) return std::vector<uint8_t>{*passwordCheckReply_};
        return std::vector<uint8_t>{static_cast<uint8_t>(password_ && passwordCandidate_ == password_ ? 1 : 0)};
    }
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
    // The upgrade's start form (one byte 1 in the block): "HVB_UNLOCK_READONLY" lifts the
    // read-only lock, "HVB_HIDDENSTORAGE" hides the storage again; both after the right password
    // was checked, and the camera re-enumerates. What was copied while open stays on the card.
    if ((name == "HVB_HIDDENSTORAGE" || name == "HVB_UNLOCK_READONLY") && payload.size() == 32 && payload[0] == 1) {
        if (password_ && passwordCandidate_ != password_) return false;
        hidden_ = name == "HVB_HIDDENSTORAGE";
        pendingReturn_ = true;
        session.vanishAfterCommand(code);
        return true;
    }
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
    if (name == "HVB_UNICODE_USERLABEL") {
        auto label = labelFromUnicodeForm(textOf(payload));
        if (!label) return false;
        options_.label = std::move(*label);
        return true;
    }
    // Code set A: a write to the verdict's code stages a new password (HVB_SET_PASSWORD is its
    // alias there), once "HVB_CLEAN" armed a change.
    if (name == "HVB_GET_PWDCHECK" && profile_.has("HVB_SET_PWDCHECK")) {
        std::string text = textOf(payload);
        if (!changeArmed_ || text.empty()) return false;
        stagedPassword_ = std::move(text);
        return true;
    }
    // The check's candidate; tables that alias the check to the verdict's code write it there.
    if (name == "HVB_SET_PWDCHECK" || name == "HVB_GET_PWDCHECK") {
        std::string text = textOf(payload);
        if (text.empty()) passwordCandidate_.reset();
        else passwordCandidate_ = std::move(text);
        return true;
    }
    // Sets the password on an open camera, removes it with the right one; a reboot either way.
    if (name == "HVB_LOCKABLE") {
        std::string text = textOf(payload);
        if (text.empty() || (password_ && *password_ != text)) return false;
        const bool protect = !password_;
        password_ = protect ? std::optional<std::string>(text) : std::nullopt;
        encrypted_ = protect;
        hidden_ = protect;
        passwordCandidate_.reset();
        pendingReturn_ = true;
        session.vanishAfterCommand(code);
        return true;
    }
    // Word 0 opens the storage, once the right password was checked; the camera re-enumerates.
    if ((name == "HVB_HIDDENSTORAGE" || name == "HVB_UNLOCK_READONLY") && payload.size() == 4 && le32(payload) == 0) {
        if (password_ && passwordCandidate_ != password_) return false;
        hidden_ = false;
        pendingReturn_ = true;
        session.vanishAfterCommand(code);
        return true;
    }
    // A change needs the current password checked right before it.
    if (name == "HVB_CLEAN") {
        changeArmed_ = password_ && passwordCandidate_ == password_;
        stagedPassword_.reset();
        return changeArmed_;
    }
    if (name == "HVB_LOCK_CARD") {
        const std::string text = textOf(payload);
        if (!changeArmed_ || !stagedPassword_ || *stagedPassword_ != text) return false;
        password_ = text;
        changeArmed_ = false;
        stagedPassword_.reset();
        passwordCandidate_.reset();
        return true;
    }
    // Code sets B and C store the new password at once.
    if (name == "HVB_SET_PASSWORD") {
        std::string text = textOf(payload);
        if (text.empty() || !password_ || passwordCandidate_ != password_) return false;
        password_ = std::move(text);
        passwordCandidate_.reset();
        return true;
    }
    const bool startForm = !payload.empty() && payload[0] == 1;
    if (name == "HVB_FORMAT_1") {
        if (!startForm) return false;
        eraseVolume();
        startFormat();
        return true;
    }
    if (name == "HVB_RESET") {
        if (!startForm) return false;
        settings_ = defaultSettings_;
        return true;
    }
    if (name == "HVB_RESETALL") {
        if (!startForm) return false;
        settings_ = defaultSettings_;
        // Older firmware of three models keeps a lock with the factory password.
        const int64_t version = versionNumber(firmware_);
        const bool keepsFactoryLock = password_ && ((profile_.model == "HVBR7" && version < 10501) ||
                                                    (profile_.model == "HVBS8" && version < 10603) ||
                                                    (profile_.model == "HVBS2A" && version < 10701));
        password_ = keepsFactoryLock ? std::optional<std::string>("40731958") : std::nullopt;
        encrypted_ = keepsFactoryLock;
        hidden_ = keepsFactoryLock;
        passwordCandidate_.reset();
        changeArmed_ = false;
        stagedPassword_.reset();
        // Older firmware of three models erases only on the explicit format command.
        const bool explicitFormat = (profile_.model == "HVBR4" && version < 10500) ||
                                    (profile_.model == "HVBR7" && version < 10200) ||
                                    (profile_.model == "HVBS8" && version < 10300);
        if (!explicitFormat) {
            eraseVolume();
            startFormat();
        }
        return true;
    }
    if (name == "HVB_REBOOT" || name == "HVB_FW_UPGRADE" || name == "HVB_WEBCAMMODE") {
        if (name == "HVB_WEBCAMMODE") webcam_ = true;
        else firmwareRestart_ = true;
        pendingReturn_ = true;
        session.vanishAfterCommand(code);
        return true;
    }
    return true;
}

// ---- format and reset ----

void SimulatedBodyCamera::setBSDNameAfterReboot(std::optional<std::string> name) {
    std::lock_guard<std::mutex> guard(lock_);
    bsdNameAfterReboot_ = std::move(name);
}

void SimulatedBodyCamera::setFormatPolls(unsigned polls) {
    std::lock_guard<std::mutex> guard(lock_);
    formatPolls_ = polls;
}

void SimulatedBodyCamera::setFormatNeverFinishes(bool never) {
    std::lock_guard<std::mutex> guard(lock_);
    formatNeverFinishes_ = never;
}

std::map<std::string, int64_t> SimulatedBodyCamera::defaultSettings() const {
    std::lock_guard<std::mutex> guard(lock_);
    return defaultSettings_;
}

void SimulatedBodyCamera::eraseVolume() {
    if (options_.volumeFolder.empty()) return;
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(options_.volumeFolder, ec)) entries.push_back(entry.path());
    for (const auto& path : entries) fs::remove_all(path, ec);
    // Cameras that read a configuration file lay out its folder again.
    if (profile_.bvConfig) fs::create_directories(options_.volumeFolder / "SYSTEM", ec);
}

void SimulatedBodyCamera::startFormat() {
    format_ = FormatState::working;
    formatPollsLeft_ = formatPolls_;
    formatReplies_ = 0;
}

// 0 before any format, 1 and 2 while it runs, 3 once it is done.
uint8_t SimulatedBodyCamera::formatProgress() {
    if (format_ == FormatState::idle) return 0;
    if (format_ == FormatState::done) return 3;
    if (!formatNeverFinishes_ && formatPollsLeft_ == 0) {
        format_ = FormatState::done;
        return 3;
    }
    if (!formatNeverFinishes_) --formatPollsLeft_;
    return ++formatReplies_ % 2 ? 1 : 2;
}

// ---- firmware upgrade ----

std::string SimulatedBodyCamera::firmwareVersion() const {
    std::lock_guard<std::mutex> guard(lock_);
    return firmware_;
}

void SimulatedBodyCamera::setStaysAwayAfterReboot(bool stays) {
    std::lock_guard<std::mutex> guard(lock_);
    staysAway_ = stays;
}

void SimulatedBodyCamera::setIgnoresImage(bool ignores) {
    std::lock_guard<std::mutex> guard(lock_);
    ignoresImage_ = ignores;
}

void SimulatedBodyCamera::applyUpgradeFiles() {
    if (options_.volumeFolder.empty() || ignoresImage_) return;
    namespace fs = std::filesystem;
    std::error_code ec;
    const std::string family = profile_.model == "HVBS2A" ? std::string("HVBS2") : profile_.model;
    const fs::path image = options_.volumeFolder / ("FW" + family + ".bin");
    const bool oldFirmware = profile_.probe == ProbeForm::oldFirmware;
    if (fs::is_regular_file(image, ec)) {
        std::ifstream in(image, std::ios::binary);
        std::string header[2];
        std::getline(in, header[0]);
        std::getline(in, header[1]);
        in.seekg(0, std::ios::end);
        const auto size = static_cast<int64_t>(in.tellg());
        const std::string version = header[0].rfind("VERSION=", 0) == 0 ? header[0].substr(8) : std::string();
        const bool ours = header[1] == "MODEL=" + profile_.model;
        // The images carry 96 KiB behind their two header lines; anything else is damaged.
        const int64_t expected = static_cast<int64_t>(header[0].size() + header[1].size() + 2 + 96 * 1024);
        if (ours && !version.empty() && size == expected) {
            firmware_ = version;
            // The new firmware speaks its own commands when the simulation knows them.
            if (const CameraProfile* newer = findCameraProfile(profile_.model, version)) profile_ = *newer;
        }
        in.close();
        fs::remove(image, ec);
    }
    const fs::path uidFile = options_.volumeFolder / "HVBR4UID";
    if (fs::is_regular_file(uidFile, ec)) {
        std::ifstream in(uidFile, std::ios::binary);
        std::string uid;
        std::getline(in, uid);
        in.close();
        if (oldFirmware && !uid.empty()) {
            options_.uid = uid;
            options_.serialNumber = uid;
        }
        fs::remove(uidFile, ec);
    }
}

}  // namespace hvb::sim
