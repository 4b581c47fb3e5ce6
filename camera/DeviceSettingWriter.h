#pragma once
// Writing one setting, the time zone and the clock of a camera addressed by its serial number,
// and reading its clock back.
#include <cstdint>
#include <functional>
#include <string>

#include "camera/CommandTables.h"
#include "platform/iokit/user/IOKitLib.h"

namespace hvb {

constexpr int64_t kSyncDatePauseMs = 50;
constexpr int64_t kSyncTimePauseMs = 50;
constexpr int64_t kSyncDateTimePauseMs = 800;
constexpr uint32_t kClockReadLength = 20;

// The computer's clock as the clock sync reads it: "yyyyMMdd", "HHmmss" (24-hour, local time)
// and the offset from UTC in seconds.
struct ClockReading {
    std::string date;
    std::string time;
    int64_t utcOffsetSeconds = 0;
};
using ClockSource = std::function<ClockReading()>;
// Tests put a fixed clock here; an empty source restores the computer's.
void setClockSource(ClockSource source);
ClockReading currentClockReading();

// "+05:30" / "-05:00" / "+00:00": sign, then hours and minutes as two digits each.
std::string utcOffsetText(int64_t seconds);
// The computer's current offset, printed as one line.
std::string utcOffsetText();
// "+05:30" for the raw value of P_05_30; empty for a raw value that names no option.
std::string timeZoneOptionText(int64_t raw);

// The first driver service whose serial contains `serial` (case-sensitive); the serial is first
// stored in settingSerialNumber. The caller releases the service; 0 when none matches.
io_service_t driverServiceForSetting(const std::string& serial);

// One setting as a single 32-bit number; false (nothing sent) outside 0 ... 4294967295, when no
// camera matches, or when the camera failed or vanished before confirming.
bool setDeviceValue(const std::string& serial, uint8_t code, int64_t value);
// The time-zone option's text; false without sending when the raw value names no option.
bool setDeviceString(const std::string& serial, uint8_t code, int64_t timeZoneRaw);
// Sets the camera's clock with the sync commands its table holds.
bool syncDeviceDateTime(const std::string& serial, const CommandDictionary& table, const std::string& recordKey);
// "yyyy/MM/dd HH:mm:ss" from the camera; empty when no camera matches or none of the clock
// commands is in the table.
std::string readDeviceDateTime(const std::string& serial, const CommandDictionary& table);

}  // namespace hvb
