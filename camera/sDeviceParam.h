#pragma once
// A camera's settings: one signed value per setting key, -1 while unknown or unsupported.
#include <array>
#include <cstdint>
#include <memory>

#include "camera/Settings.h"

namespace hvb {

class sDeviceParam {
public:
    static constexpr std::size_t kCount = caseCount<EnumSettings>();

    sDeviceParam() { values.fill(-1); }

    int64_t& operator[](EnumSettings key) { return values[settingIndex(key)]; }
    int64_t operator[](EnumSettings key) const { return values[settingIndex(key)]; }
    int64_t get(EnumSettings key) const { return values[settingIndex(key)]; }
    void set(EnumSettings key, int64_t value) { values[settingIndex(key)] = value; }

    // Named accessors, as the settings are named.
#define HVB_SETTING_ACCESSOR(name) \
    int64_t& name() { return (*this)[EnumSettings::name]; } \
    int64_t name() const { return (*this)[EnumSettings::name]; }
    HVB_SETTING_ACCESSOR(RESOLUTION) HVB_SETTING_ACCESSOR(VIDEOLENGTH) HVB_SETTING_ACCESSOR(BUFFERLENGTH)
    HVB_SETTING_ACCESSOR(VIDEOSTAMP) HVB_SETTING_ACCESSOR(WATERMARK) HVB_SETTING_ACCESSOR(VIDEOLOOPRECORD)
    HVB_SETTING_ACCESSOR(TIMEFORMAT) HVB_SETTING_ACCESSOR(DATEFORMAT) HVB_SETTING_ACCESSOR(MICROPHONE)
    HVB_SETTING_ACCESSOR(LIGHTFREQ) HVB_SETTING_ACCESSOR(STEALTH) HVB_SETTING_ACCESSOR(EIS)
    HVB_SETTING_ACCESSOR(IRSWITCH) HVB_SETTING_ACCESSOR(BUZZERSWITCH) HVB_SETTING_ACCESSOR(LED)
    HVB_SETTING_ACCESSOR(RECORDINGMODE) HVB_SETTING_ACCESSOR(DEFAULT_RECORD_STATUS)
    HVB_SETTING_ACCESSOR(HWKEY_RESET) HVB_SETTING_ACCESSOR(VOICE_RECORDING)
    HVB_SETTING_ACCESSOR(VOICE_SAMPLERATE) HVB_SETTING_ACCESSOR(IMAGEFLIP) HVB_SETTING_ACCESSOR(GYROSTATUS)
    HVB_SETTING_ACCESSOR(TEAMSYNC) HVB_SETTING_ACCESSOR(TEAMSYNC_GROUP) HVB_SETTING_ACCESSOR(WIFI_FREQBANDS)
    HVB_SETTING_ACCESSOR(TIME_ZONE) HVB_SETTING_ACCESSOR(BLE_TRIGGER_HOST) HVB_SETTING_ACCESSOR(NETWORKMODE)
    HVB_SETTING_ACCESSOR(STA_DHCP) HVB_SETTING_ACCESSOR(STA_RTSP_LVIEWSIZE)
    HVB_SETTING_ACCESSOR(STA_RTSP_LVIEWFPS) HVB_SETTING_ACCESSOR(FILEFORMAT) HVB_SETTING_ACCESSOR(VIBRATOR)
    HVB_SETTING_ACCESSOR(BUFFERAUDIO)
#undef HVB_SETTING_ACCESSOR

    std::array<int64_t, kCount> values{};
};

}  // namespace hvb
