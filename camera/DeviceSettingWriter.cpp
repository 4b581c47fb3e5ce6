#include "camera/DeviceSettingWriter.h"

#include <ctime>
#include <mutex>

#include "camera/DeviceInfoReader.h"
#include "camera/DeviceState.h"
#include "camera/CameraLink.h"
#include "camera/NvUSBcmd.h"
#include "camera/RegistryReader.h"
#include "camera/SerialMatch.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TextCharacters.h"

namespace hvb {

namespace {

std::mutex& clockLock() {
    static std::mutex m;
    return m;
}
ClockSource& clockSource() {
    static auto* source = new ClockSource;  // read by workers: never destroyed
    return *source;
}

ClockReading systemClock() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char date[16], time[16];
    std::strftime(date, sizeof date, "%Y%m%d", &local);
    std::strftime(time, sizeof time, "%H%M%S", &local);
    return {date, time, static_cast<int64_t>(local.tm_gmtoff)};
}

std::optional<uint8_t> code(const CommandDictionary& table, const std::string& name) {
    auto it = table.find(name);
    if (it == table.end()) return std::nullopt;
    return it->second;
}

bool digitsOnly(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

uint32_t asNumber(const std::string& digits) {
    uint64_t value = 0;
    for (char c : digits) value = value * 10 + static_cast<uint64_t>(c - '0');
    return static_cast<uint32_t>(value);
}

// The camera a setting goes to, held as every service is.
CameraHandle openForSetting(const std::string& serial) { return CameraHandle(nullptr, driverServiceForSetting(serial)); }

// A camera that left before confirming did not take the write.
bool confirmed(CommandOutcome outcome) { return outcome == CommandOutcome::completed; }

std::string clockText(std::u32string digits) {
    if (digits.size() <= 8)
        return foundation::text::utf8(digits.substr(0, 4) + U"/" + digits.substr(std::min<size_t>(4, digits.size()), 2) + U"/" +
                          digits.substr(std::min<size_t>(6, digits.size()), 2));
    std::u32string out = digits.substr(0, 4) + U"/" + digits.substr(std::min<size_t>(4, digits.size()), 2) + U"/" +
                         digits.substr(std::min<size_t>(6, digits.size()), 2) + U" " +
                         digits.substr(std::min<size_t>(8, digits.size()), 2) + U":" +
                         digits.substr(std::min<size_t>(10, digits.size()), 2) + U":" +
                         digits.substr(std::min<size_t>(12, digits.size()), 2);
    return foundation::text::utf8(out);
}

std::u32string cut(const std::string& answer, size_t front, size_t back) {
    std::u32string chars = foundation::text::characters(answer);
    if (chars.size() <= front + back) return {};
    return chars.substr(front, chars.size() - front - back);
}

}  // namespace

void setClockSource(ClockSource source) {
    std::lock_guard<std::mutex> guard(clockLock());
    clockSource() = std::move(source);
}

ClockReading currentClockReading() {
    ClockSource source;
    {
        std::lock_guard<std::mutex> guard(clockLock());
        source = clockSource();
    }
    return source ? source() : systemClock();
}

std::string utcOffsetText(int64_t seconds) {
    int64_t magnitude = seconds < 0 ? -seconds : seconds;
    char text[32];
    std::snprintf(text, sizeof text, "%c%02lld:%02lld", seconds < 0 ? '-' : '+',
                  static_cast<long long>(magnitude / 3600), static_cast<long long>((magnitude / 60) % 60));
    return text;
}

std::string utcOffsetText() {
    std::string text = utcOffsetText(currentClockReading().utcOffsetSeconds);
    foundation::print(text);
    return text;
}

std::string timeZoneOptionText(int64_t raw) {
    auto zone = fromRawValue<TIME_ZONE>(raw);
    if (!zone) return {};
    return std::string(timeZoneOffsetText(*zone));
}

io_service_t driverServiceForSetting(const std::string& serial) {
    DeviceState::shared().setSettingSerialNumber(serial);
    auto services = RegistryReader::driverServices();
    io_service_t found = IO_OBJECT_NULL;
    for (io_service_t& service : services) {
        if (found) break;
        std::string text = RegistryReader::serialNumber(service).value_or("");
        if (serialContains(text, serial, MatchCase::sensitive)) {
            found = service;
            service = IO_OBJECT_NULL;
        }
    }
    for (io_service_t service : services)
        if (service) IOObjectRelease(service);
    return found;
}

bool setDeviceValue(const std::string& serial, uint8_t cmd, int64_t value) {
    if (value < 0 || value > 4294967295LL) return false;
    const CameraHandle hold = openForSetting(serial);
    if (!hold) return false;
    const uint32_t word = static_cast<uint32_t>(value);
    return confirmed(NvUSBcmd::sendCommandWordsOutcome(hold.get(), cmd, std::span<const uint32_t>(&word, 1)));
}

bool setDeviceString(const std::string& serial, uint8_t cmd, int64_t timeZoneRaw) {
    const CameraHandle hold = openForSetting(serial);
    if (!hold) return false;
    std::string text = timeZoneOptionText(timeZoneRaw);
    if (text.empty()) return false;
    return confirmed(NvUSBcmd::sendCommandDataOutcome(
        hold.get(), cmd, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size())));
}

bool syncDeviceDateTime(const std::string& serial, const CommandDictionary& table, const std::string& recordKey) {
    const CameraHandle hold = openForSetting(serial);
    if (!hold) return false;
    ClockReading clock = currentClockReading();
    if (table.empty()) {
        foundation::print("Not support device");
        return false;
    }
    if (auto dateCode = code(table, "HVB_SYNCDATE")) {
        if (!digitsOnly(clock.date)) return false;
        const uint32_t date = asNumber(clock.date);
        bool ok = confirmed(NvUSBcmd::sendCommandWordsOutcome(hold.get(), *dateCode, std::span<const uint32_t>(&date, 1)));
        dispatch::pause(kSyncDatePauseMs);
        auto timeCode = code(table, "HVB_SYNCTIME");
        if (ok && timeCode) {
            if (!digitsOnly(clock.time)) return false;
            const uint32_t time = asNumber(clock.time);
            ok = confirmed(NvUSBcmd::sendCommandWordsOutcome(hold.get(), *timeCode, std::span<const uint32_t>(&time, 1)));
            dispatch::pause(kSyncTimePauseMs);
        }
        return ok;
    }
    if (auto dateTimeCode = code(table, "HVB_SYNC_DATETIME")) {
        if (!digitsOnly(clock.date) || !digitsOnly(clock.time)) return false;
        const uint32_t words[2] = {asNumber(clock.date), asNumber(clock.time)};
        bool ok = confirmed(NvUSBcmd::sendCommandWordsOutcome(hold.get(), *dateTimeCode, words));
        dispatch::pause(kSyncDateTimePauseMs);
        return ok;
    }
    if (auto stringCode = code(table, "HVB_SYNC_DATETIME_STRING")) {
        const std::string digits = clock.date + clock.time;
        if (!digitsOnly(digits)) return false;
        auto send = [&](uint8_t c, const std::string& text) {
            return confirmed(NvUSBcmd::sendCommandDataOutcome(
                hold.get(), c, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size())));
        };
        // Tables without a time-zone command take the clock text alone.
        auto zoneCode = code(table, "HVB_TIME_ZONE");
        std::string offset;
        if (zoneCode) {
            offset = utcOffsetText();
            if (!send(*zoneCode, offset)) return false;
        }
        if (!send(*stringCode, digits)) return false;
        if (zoneCode) {
            const int64_t raw = timeZoneRawValue(offset);
            DeviceState::shared().updateRecord(recordKey, [&](DiskDriver_Parameter& r) {
                if (r.DeviceParam) r.DeviceParam->set(EnumSettings::TIME_ZONE, raw);
            });
        }
        return true;
    }
    foundation::print("Not support device");
    return false;
}

std::string readDeviceDateTime(const std::string& serial, const CommandDictionary& table) {
    const CameraHandle hold = openForSetting(serial);
    if (!hold) return {};
    auto readText = [&](uint8_t c) {
        bool ok = false;
        auto text = NvUSBcmd::readCommandString(hold.get(), c, kClockReadLength, &ok);
        dispatch::pause(kReadPauseMs);
        return text.value_or("");
    };
    if (auto dateCode = code(table, "HVB_SYNCDATE")) {
        std::u32string digits = cut(readText(*dateCode), 1, 0);
        if (auto timeCode = code(table, "HVB_SYNCTIME")) digits += cut(readText(*timeCode), 1, 2);
        return clockText(digits);
    }
    for (const char* name : {"HVB_SYNC_DATETIME", "HVB_SYNC_DATETIME_STRING"}) {
        if (auto c = code(table, name)) return clockText(cut(readText(*c), 2, 2));
    }
    foundation::print("Not support device");
    return {};
}

}  // namespace hvb
