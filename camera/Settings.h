#pragma once
// The settings vocabulary: the 34 setting keys a camera is read into and written from, and the
// option enumerations whose case names double as texts (command names, analytics, time zones).
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace hvb {

// Position = field index in the camera's settings record; "HVB_" + case name = its command.
enum class EnumSettings {
    RESOLUTION, VIDEOLENGTH, BUFFERLENGTH, VIDEOSTAMP, WATERMARK, VIDEOLOOPRECORD, TIMEFORMAT,
    DATEFORMAT, MICROPHONE, LIGHTFREQ, STEALTH, EIS, IRSWITCH, BUZZERSWITCH, LED, RECORDINGMODE,
    DEFAULT_RECORD_STATUS, HWKEY_RESET, VOICE_RECORDING, VOICE_SAMPLERATE, IMAGEFLIP, GYROSTATUS,
    TEAMSYNC, TEAMSYNC_GROUP, WIFI_FREQBANDS, TIME_ZONE, BLE_TRIGGER_HOST, NETWORKMODE, STA_DHCP,
    STA_RTSP_LVIEWSIZE, STA_RTSP_LVIEWFPS, FILEFORMAT, VIBRATOR, BUFFERAUDIO,
};

// Option enumerations: raw value = position of the option in its setting's list.
enum class TIMEFORMAT : int64_t { Format_24HR, Format_AMPM };
enum class DATEFORMAT : int64_t { Format_YYYYMMDD, Format_MMDDYYYY, Format_DDMMYYYY };
enum class LIGHTFREQ : int64_t { Freq_50HZ, Freq_60HZ };
enum class IRSWITCH : int64_t { Status_Manual, Status_Auto };
enum class RECORDINGMODE : int64_t { Mode_Buffer, Mode_Record };
// Options of the setting DEFAULT_RECORD_STATUS (the two names differ).
enum class DEFAULT_RECORDING_STATUS : int64_t { STATUS_Buffer, STATUS_Record };
enum class BUFFERLENGTH : int64_t { Seconds_30, Seconds_60, Seconds_90, Seconds_120 };
enum class VIDEOLENGTH : int64_t { Minutes_3, Minutes_5, Minutes_10 };
enum class VOICE_SAMPLERATE : int64_t { SR_48000, SR_44100, SR_32000, SR_24000, SR_22050 };
enum class FILEFORMAT : int64_t { MOV, MP4 };
enum class IsEnableStatement : int64_t { DISABLE, ENABLE };
// Offset from UTC: N_hh_mm west (negative), P_hh_mm east or zero.
enum class TIME_ZONE : int64_t {
    N_12_00, N_11_00, N_10_00, N_09_30, N_09_00, N_08_00, N_07_00, N_06_00, N_05_00, N_04_00,
    N_03_30, N_03_00, N_02_00, N_01_00, P_00_00, P_01_00, P_02_00, P_03_00, P_03_30, P_04_00,
    P_04_30, P_05_00, P_05_30, P_05_45, P_06_00, P_06_30, P_07_00, P_08_00, P_08_30, P_08_45,
    P_09_00, P_09_30, P_10_00, P_10_30, P_11_00, P_12_00, P_12_45, P_13_00, P_14_00,
};

// One time zone as the Setting panel lists it and the setting writer sends it.
struct TimeZoneEntry {
    TIME_ZONE zone;
    std::string_view caseName;    // "N_09_30"
    std::string_view optionText;  // "UTC-09:30"
};

// The case names of each enumeration, in case order.
template <class E>
struct EnumCaseNames;

template <> struct EnumCaseNames<EnumSettings> {
    static constexpr std::array<std::string_view, 34> names = {
        "RESOLUTION", "VIDEOLENGTH", "BUFFERLENGTH", "VIDEOSTAMP", "WATERMARK", "VIDEOLOOPRECORD",
        "TIMEFORMAT", "DATEFORMAT", "MICROPHONE", "LIGHTFREQ", "STEALTH", "EIS", "IRSWITCH",
        "BUZZERSWITCH", "LED", "RECORDINGMODE", "DEFAULT_RECORD_STATUS", "HWKEY_RESET",
        "VOICE_RECORDING", "VOICE_SAMPLERATE", "IMAGEFLIP", "GYROSTATUS", "TEAMSYNC", "TEAMSYNC_GROUP",
        "WIFI_FREQBANDS", "TIME_ZONE", "BLE_TRIGGER_HOST", "NETWORKMODE", "STA_DHCP",
        "STA_RTSP_LVIEWSIZE", "STA_RTSP_LVIEWFPS", "FILEFORMAT", "VIBRATOR", "BUFFERAUDIO"};
};
template <> struct EnumCaseNames<TIMEFORMAT> {
    static constexpr std::array<std::string_view, 2> names = {"Format_24HR", "Format_AMPM"};
};
template <> struct EnumCaseNames<DATEFORMAT> {
    static constexpr std::array<std::string_view, 3> names = {"Format_YYYYMMDD", "Format_MMDDYYYY",
                                                              "Format_DDMMYYYY"};
};
template <> struct EnumCaseNames<LIGHTFREQ> {
    static constexpr std::array<std::string_view, 2> names = {"Freq_50HZ", "Freq_60HZ"};
};
template <> struct EnumCaseNames<IRSWITCH> {
    static constexpr std::array<std::string_view, 2> names = {"Status_Manual", "Status_Auto"};
};
template <> struct EnumCaseNames<RECORDINGMODE> {
    static constexpr std::array<std::string_view, 2> names = {"Mode_Buffer", "Mode_Record"};
};
template <> struct EnumCaseNames<DEFAULT_RECORDING_STATUS> {
    static constexpr std::array<std::string_view, 2> names = {"STATUS_Buffer", "STATUS_Record"};
};
template <> struct EnumCaseNames<BUFFERLENGTH> {
    static constexpr std::array<std::string_view, 4> names = {"Seconds_30", "Seconds_60", "Seconds_90",
                                                              "Seconds_120"};
};
template <> struct EnumCaseNames<VIDEOLENGTH> {
    static constexpr std::array<std::string_view, 3> names = {"Minutes_3", "Minutes_5", "Minutes_10"};
};
template <> struct EnumCaseNames<VOICE_SAMPLERATE> {
    static constexpr std::array<std::string_view, 5> names = {"SR_48000", "SR_44100", "SR_32000",
                                                              "SR_24000", "SR_22050"};
};
template <> struct EnumCaseNames<FILEFORMAT> {
    static constexpr std::array<std::string_view, 2> names = {"MOV", "MP4"};
};
template <> struct EnumCaseNames<IsEnableStatement> {
    static constexpr std::array<std::string_view, 2> names = {"DISABLE", "ENABLE"};
};
// The 39 time zones in case order: the Setting panel lists their texts, the setting writer sends
// them without "UTC", and the case names come from here.
inline constexpr std::array<TimeZoneEntry, 39> kTimeZones = [] {
    using enum TIME_ZONE;
    return std::array<TimeZoneEntry, 39>{{
        {N_12_00, "N_12_00", "UTC-12:00"}, {N_11_00, "N_11_00", "UTC-11:00"},
        {N_10_00, "N_10_00", "UTC-10:00"}, {N_09_30, "N_09_30", "UTC-09:30"},
        {N_09_00, "N_09_00", "UTC-09:00"}, {N_08_00, "N_08_00", "UTC-08:00"},
        {N_07_00, "N_07_00", "UTC-07:00"}, {N_06_00, "N_06_00", "UTC-06:00"},
        {N_05_00, "N_05_00", "UTC-05:00"}, {N_04_00, "N_04_00", "UTC-04:00"},
        {N_03_30, "N_03_30", "UTC-03:30"}, {N_03_00, "N_03_00", "UTC-03:00"},
        {N_02_00, "N_02_00", "UTC-02:00"}, {N_01_00, "N_01_00", "UTC-01:00"},
        {P_00_00, "P_00_00", "UTC+00:00"}, {P_01_00, "P_01_00", "UTC+01:00"},
        {P_02_00, "P_02_00", "UTC+02:00"}, {P_03_00, "P_03_00", "UTC+03:00"},
        {P_03_30, "P_03_30", "UTC+03:30"}, {P_04_00, "P_04_00", "UTC+04:00"},
        {P_04_30, "P_04_30", "UTC+04:30"}, {P_05_00, "P_05_00", "UTC+05:00"},
        {P_05_30, "P_05_30", "UTC+05:30"}, {P_05_45, "P_05_45", "UTC+05:45"},
        {P_06_00, "P_06_00", "UTC+06:00"}, {P_06_30, "P_06_30", "UTC+06:30"},
        {P_07_00, "P_07_00", "UTC+07:00"}, {P_08_00, "P_08_00", "UTC+08:00"},
        {P_08_30, "P_08_30", "UTC+08:30"}, {P_08_45, "P_08_45", "UTC+08:45"},
        {P_09_00, "P_09_00", "UTC+09:00"}, {P_09_30, "P_09_30", "UTC+09:30"},
        {P_10_00, "P_10_00", "UTC+10:00"}, {P_10_30, "P_10_30", "UTC+10:30"},
        {P_11_00, "P_11_00", "UTC+11:00"}, {P_12_00, "P_12_00", "UTC+12:00"},
        {P_12_45, "P_12_45", "UTC+12:45"}, {P_13_00, "P_13_00", "UTC+13:00"},
        {P_14_00, "P_14_00", "UTC+14:00"},
    }};
}();

template <> struct EnumCaseNames<TIME_ZONE> {
    static constexpr std::array<std::string_view, 39> names = [] {
        std::array<std::string_view, 39> n{};
        for (std::size_t i = 0; i < n.size(); ++i) n[i] = kTimeZones[i].caseName;
        return n;
    }();
};

template <class E>
constexpr std::size_t caseCount() {
    return EnumCaseNames<E>::names.size();
}

// Every case in declaration order.
template <class E>
constexpr std::array<E, caseCount<E>()> allCases() {
    std::array<E, caseCount<E>()> cases{};
    for (std::size_t i = 0; i < cases.size(); ++i) cases[i] = static_cast<E>(i);
    return cases;
}

// The case's name as text; empty for a value outside the enumeration.
template <class E>
constexpr std::string_view caseName(E value) {
    const auto i = static_cast<std::size_t>(value);
    return i < caseCount<E>() ? EnumCaseNames<E>::names[i] : std::string_view{};
}

template <class E>
constexpr std::optional<E> caseFromName(std::string_view name) {
    for (std::size_t i = 0; i < caseCount<E>(); ++i)
        if (EnumCaseNames<E>::names[i] == name) return static_cast<E>(i);
    return std::nullopt;
}

template <class E>
concept OptionEnumeration = std::is_same_v<std::underlying_type_t<E>, int64_t> && requires {
    EnumCaseNames<E>::names;
};

template <OptionEnumeration E>
constexpr int64_t rawValue(E value) {
    return static_cast<int64_t>(value);
}

// The option of that raw value; none outside 0 ... count-1 (so never for the unknown -1).
template <OptionEnumeration E>
constexpr std::optional<E> fromRawValue(int64_t raw) {
    if (raw < 0 || raw >= static_cast<int64_t>(caseCount<E>())) return std::nullopt;
    return static_cast<E>(raw);
}

constexpr std::string_view caseName(EnumSettings setting) { return caseName<EnumSettings>(setting); }
constexpr std::optional<EnumSettings> settingFromName(std::string_view name) {
    return caseFromName<EnumSettings>(name);
}
constexpr std::size_t settingIndex(EnumSettings setting) { return static_cast<std::size_t>(setting); }
// "HVB_" + the setting's name: the command that reads or writes it.
std::string settingCommandName(EnumSettings setting);

const std::array<TimeZoneEntry, 39>& timeZoneTable();
// "UTC+05:30" for P_05_30, as the settings table shows it; empty outside the enumeration. (The
// text the camera's time-zone option is written with is timeZoneOptionText in DeviceSettingWriter.h.)
std::string_view timeZoneTableText(TIME_ZONE zone);
// "+05:30" for P_05_30: the text the camera is sent; empty outside the enumeration.
std::string_view timeZoneOffsetText(TIME_ZONE zone);

}  // namespace hvb
