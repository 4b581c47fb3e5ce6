#include "standins/camera/CameraProfile.h"

#include <sstream>

namespace hvb::sim {

namespace {

// "CC:NAME CC:NAME ...", code in hex. Written out per firmware, from the camera's own manual
// of commands, never derived from the application's tables.
std::vector<std::pair<std::string, uint8_t>> commandList(const char* text) {
    std::vector<std::pair<std::string, uint8_t>> out;
    std::istringstream in(text);
    std::string item;
    while (in >> item) {
        auto colon = item.find(':');
        out.emplace_back(item.substr(colon + 1), static_cast<uint8_t>(std::stoul(item.substr(0, colon), nullptr, 16)));
    }
    return out;
}

std::vector<CameraProfile> makeProfiles() {
    std::vector<CameraProfile> p;

    // Old HVBR4 firmware: five commands, no UID.
    p.push_back({"HVBR4", "1.3.05", "HVBR4", "HVB R4 Camera", "HVBR4Cmd_0", ProbeForm::oldFirmware,
                 LabelForm::personalStamp, ClockForm::dateAndTime, false,
                 commandList("01:HVB_SYNCDATE 02:HVB_SYNCTIME 04:HVB_FWVersion_Old 05:HVB_REBOOT "
                             "08:HVB_GetPersonalStamp")});

    p.push_back({"HVBR4", "1.4.00", "HVBR4", "HVB R4 Camera", "HVBR4Cmd_1", ProbeForm::uid, LabelForm::userLabel,
                 ClockForm::dateAndTime, false,
                 commandList("01:HVB_SYNCDATE 02:HVB_SYNCTIME 04:HVB_FWVersion_Old 05:HVB_REBOOT "
                             "19:HVB_FORMAT_AND_REBOOT 1D:HVB_UNLOCK_READONLY 1E:HVB_IS_ENCRYPT 28:HVB_MODEL "
                             "29:HVB_STATUS 2A:HVB_HIDDENSTORAGE 2B:HVB_GET_PWDCHECK 2C:HVB_IS_PAIRED 2F:HVB_CLEAN "
                             "31:HVB_FORMAT 33:HVB_SET_PWDCHECK 34:HVB_UID 35:HVB_FWVERSION 36:HVB_RESOLUTION "
                             "37:HVB_VIDEOSTAMP 38:HVB_USERLABEL 39:HVB_MICROPHONE 3A:HVB_DATEFORMAT "
                             "3B:HVB_TIMEFORMAT 3C:HVB_LIGHTFREQ 3D:HVB_ISCHARGING 3E:HVB_FORMAT_1 "
                             "3F:HVB_RESETALL 40:HVB_FINDDEVICE 42:HVB_IRSWITCH 43:HVB_VIDEOLOOPRECORD "
                             "44:HVB_VIDEOLENGTH")});

    p.push_back({"HVBR7", "1.6.01", "HVBR7", "HVB R7 Camera", "HVBR7Cmd_3", ProbeForm::uid, LabelForm::unicode,
                 ClockForm::dateAndTime, false,
                 commandList("01:HVB_SYNCDATE 02:HVB_SYNCTIME 04:HVB_FWVersion_Old 05:HVB_REBOOT "
                             "19:HVB_FORMAT_AND_REBOOT 1D:HVB_UNLOCK_READONLY 1E:HVB_IS_ENCRYPT 28:HVB_MODEL "
                             "29:HVB_STATUS 2A:HVB_HIDDENSTORAGE 2B:HVB_GET_PWDCHECK 2C:HVB_IS_PAIRED "
                             "2D:HVB_LOCK_CARD 2F:HVB_CLEAN 31:HVB_FORMAT 33:HVB_SET_PWDCHECK 34:HVB_UID "
                             "35:HVB_FWVERSION 36:HVB_RESOLUTION 37:HVB_VIDEOSTAMP 39:HVB_MICROPHONE "
                             "3A:HVB_DATEFORMAT 3B:HVB_TIMEFORMAT 3C:HVB_LIGHTFREQ 3D:HVB_ISCHARGING "
                             "3E:HVB_FORMAT_1 3F:HVB_RESETALL 40:HVB_FINDDEVICE 41:HVB_LED 43:HVB_VIDEOLOOPRECORD "
                             "44:HVB_VIDEOLENGTH 45:HVB_UNICODE_USERLABEL 46:HVB_RESETPWDMODEL "
                             "47:HVB_CUSTOMIZEDPWDCHECK 48:HVB_BUZZERSWITCH 49:HVB_RESET 4B:HVB_META_CATEGORY "
                             "4C:HVB_META_USERID 4F:HVB_WATERMARK 50:HVB_VOICE_RECORDING 51:HVB_VOICE_SAMPLERATE "
                             "52:HVB_LOCKABLE 55:HVB_BATTERYLEVEL")});

    // Older HVBR7 firmware: no battery level; a reset-all keeps a lock with the factory password.
    p.push_back({"HVBR7", "1.5.00", "HVBR7", "HVB R7 Camera", "HVBR7Cmd_2", ProbeForm::uid, LabelForm::unicode,
                 ClockForm::dateAndTime, false,
                 commandList("01:HVB_SYNCDATE 02:HVB_SYNCTIME 04:HVB_FWVersion_Old 05:HVB_REBOOT "
                             "19:HVB_FORMAT_AND_REBOOT 1D:HVB_UNLOCK_READONLY 1E:HVB_IS_ENCRYPT 28:HVB_MODEL "
                             "29:HVB_STATUS 2A:HVB_HIDDENSTORAGE 2B:HVB_GET_PWDCHECK 2C:HVB_IS_PAIRED "
                             "2D:HVB_LOCK_CARD 2F:HVB_CLEAN 31:HVB_FORMAT 33:HVB_SET_PWDCHECK 34:HVB_UID "
                             "35:HVB_FWVERSION 36:HVB_RESOLUTION 37:HVB_VIDEOSTAMP 39:HVB_MICROPHONE "
                             "3A:HVB_DATEFORMAT 3B:HVB_TIMEFORMAT 3C:HVB_LIGHTFREQ 3D:HVB_ISCHARGING "
                             "3E:HVB_FORMAT_1 3F:HVB_RESETALL 40:HVB_FINDDEVICE 41:HVB_LED 43:HVB_VIDEOLOOPRECORD "
                             "44:HVB_VIDEOLENGTH 45:HVB_UNICODE_USERLABEL 46:HVB_RESETPWDMODEL "
                             "47:HVB_CUSTOMIZEDPWDCHECK 48:HVB_BUZZERSWITCH 49:HVB_RESET 4B:HVB_META_CATEGORY "
                             "4C:HVB_META_USERID 4F:HVB_WATERMARK 50:HVB_VOICE_RECORDING 51:HVB_VOICE_SAMPLERATE "
                             "52:HVB_LOCKABLE")});

    p.push_back({"HVBS2A", "1.13.0", "HVBS2P", "HVB S2 Camera", "HVBS2ACmd_6", ProbeForm::information,
                 LabelForm::utf8, ClockForm::dateTime, false,
                 commandList("50:HVB_RESOLUTION 51:HVB_VIDEOLOOPRECORD 52:HVB_VIDEOLENGTH 53:HVB_BUFFERLENGTH "
                             "54:HVB_MICROPHONE 55:HVB_STEALTH 56:HVB_IRSWITCH 57:HVB_VIDEOSTAMP "
                             "58:HVB_UTF8_USERLABEL 59:HVB_LIGHTFREQ 5A:HVB_EIS 5B:HVB_SYNC_DATETIME "
                             "5C:HVB_DATEFORMAT 5D:HVB_TIMEFORMAT 5E:HVB_INFORMATION 5F:HVB_ISCHARGING "
                             "60:HVB_STATUS 61:HVB_FWVERSION 62:HVB_WATERMARK 63:WaterMark_Width "
                             "64:WaterMark_Height 65:WaterMark_Width_second 66:HVB_FILEFORMAT 67:WaterMark_Raw "
                             "68:HVB_RECORDINGMODE 69:HVB_HWKEY_RESET 6C:HVB_IMAGEFLIP 6D:HVB_BATTERYCAPACITY "
                             "6F:HVB_META_CATEGORY 70:HVB_META_USERID 73:HVB_GYROSTATUS 74:HVB_TEAMSYNC "
                             "75:HVB_TEAMSYNC_GROUP 76:HVB_VOICE_RECORDING 77:HVB_VOICE_SAMPLERATE "
                             "78:HVB_FORMAT_1 79:HVB_RESET 7A:HVB_RESETALL 7B:HVB_REBOOT 7C:HVB_FINDDEVICE "
                             "7D:STM8SUpgrade 7F:HVB_FW_UPGRADE 82:HVB_LOCKABLE 83:HVB_GET_PWDCHECK "
                             "84:HVB_SET_PASSWORD 85:HVB_HIDDENSTORAGE 86:HVB_UNLOCK_READONLY "
                             "87:RestoreFormatLockVersion 88:HVB_CUSTOMIZEDPWDCHECK 8C:HVB_LED 8D:HVB_BUZZERSWITCH "
                             "8E:HVB_VIBRATOR 8F:HVB_BUFFERAUDIO 96:HVB_CMDLOCK AC:HVB_PRODUCT_UUID "
                             "E1:HVB_WEBCAMMODE")});

    p.push_back({"HVBT3A", "1.3.0", "HVBT3A", "HVB T3 Camera", "HVBT3ACmd_4", ProbeForm::information,
                 LabelForm::utf8, ClockForm::zoneAndString, false,
                 commandList("00:HVB_RESOLUTION 01:HVB_VIDEOLOOPRECORD 02:HVB_VIDEOLENGTH 03:HVB_BUFFERLENGTH "
                             "04:HVB_MICROPHONE 05:HVB_STEALTH 07:HVB_VIDEOSTAMP 08:HVB_UTF8_USERLABEL "
                             "09:HVB_LIGHTFREQ 0B:HVB_SYNC_DATETIME_STRING 0C:HVB_DATEFORMAT 0D:HVB_TIMEFORMAT "
                             "0E:HVB_INFORMATION 0F:HVB_ISCHARGING 10:HVB_STATUS 11:HVB_FWVERSION 12:HVB_WATERMARK "
                             "18:HVB_RECORDINGMODE 19:HVB_HWKEY_RESET 1D:HVB_BATTERYCAPACITY 1E:HVB_TIME_ZONE "
                             "1F:HVB_META_CATEGORY 20:HVB_META_USERID 24:HVB_TEAMSYNC 25:HVB_TEAMSYNC_GROUP "
                             "27:HVB_VOICE_SAMPLERATE 28:HVB_WIFI_FREQBANDS 29:HVB_GPS_FUNCTION "
                             "2A:HVB_BLE_TRIGGER_HOST 2B:HVB_LOWLIGHT_FUNCTION 2C:HVB_PROGRAMABLE_KEY_FUNCTION "
                             "2E:HVB_BUFFERAUDIO 2F:HVB_LED 30:HVB_BUZZERSWITCH 31:HVB_VIBRATOR 46:HVB_FORMAT_1 "
                             "47:HVB_RESET 48:HVB_RESETALL 49:HVB_REBOOT 4A:HVB_FINDDEVICE 4D:HVB_FW_UPGRADE "
                             "64:HVB_LOCKABLE 65:HVB_GET_PWDCHECK 66:HVB_SET_PASSWORD 67:HVB_HIDDENSTORAGE "
                             "68:HVB_UNLOCK_READONLY 70:HVB_NETWORKMODE 71:HVB_STA_HOSTSSID 72:HVB_STA_HOSTPWD "
                             "73:HVB_STA_DHCP 74:HVB_STA_STATIC_IPADDR 75:HVB_STA_RTSP_LVIEWSIZE "
                             "76:HVB_STA_RTSP_LVIEWFPS E1:HVB_WEBCAMMODE")});

    // The first HVBT3A firmware numbers low light and the programmable key one lower and has
    // no BLE trigger.
    p.push_back({"HVBT3A", "1.0.00", "HVBT3A", "HVB T3 Camera", "HVBT3ACmd_1", ProbeForm::information,
                 LabelForm::utf8, ClockForm::zoneAndString, false,
                 commandList("00:HVB_RESOLUTION 01:HVB_VIDEOLOOPRECORD 02:HVB_VIDEOLENGTH 03:HVB_BUFFERLENGTH "
                             "04:HVB_MICROPHONE 05:HVB_STEALTH 07:HVB_VIDEOSTAMP 08:HVB_UTF8_USERLABEL "
                             "09:HVB_LIGHTFREQ 0B:HVB_SYNC_DATETIME_STRING 0C:HVB_DATEFORMAT 0D:HVB_TIMEFORMAT "
                             "0E:HVB_INFORMATION 0F:HVB_ISCHARGING 10:HVB_STATUS 11:HVB_FWVERSION 12:HVB_WATERMARK "
                             "18:HVB_RECORDINGMODE 19:HVB_HWKEY_RESET 1D:HVB_BATTERYCAPACITY 1E:HVB_TIME_ZONE "
                             "1F:HVB_META_CATEGORY 20:HVB_META_USERID 27:HVB_VOICE_SAMPLERATE "
                             "28:HVB_WIFI_FREQBANDS 29:HVB_GPS_FUNCTION 2A:HVB_LOWLIGHT_FUNCTION "
                             "2B:HVB_PROGRAMABLE_KEY_FUNCTION 46:HVB_FORMAT_1 47:HVB_RESET 48:HVB_RESETALL "
                             "49:HVB_REBOOT 4A:HVB_FINDDEVICE 4D:HVB_FW_UPGRADE 64:HVB_LOCKABLE "
                             "65:HVB_GET_PWDCHECK 66:HVB_SET_PASSWORD 67:HVB_HIDDENSTORAGE 68:HVB_UNLOCK_READONLY")});

    p.push_back({"HW7312", "1.0.00", "HW7312", "HVB 7312 Camera", "HW7312Cmd_1", ProbeForm::information,
                 LabelForm::utf8, ClockForm::stringOnly, false,
                 commandList("00:HVB_RESOLUTION 01:HVB_VIDEOLOOPRECORD 02:HVB_VIDEOLENGTH 04:HVB_MICROPHONE "
                             "06:HVB_IRSWITCH 07:HVB_VIDEOSTAMP 08:HVB_UTF8_USERLABEL 09:HVB_LIGHTFREQ "
                             "0B:HVB_SYNC_DATETIME_STRING 0C:HVB_DATEFORMAT 0D:HVB_TIMEFORMAT 0E:HVB_INFORMATION "
                             "0F:HVB_ISCHARGING 10:HVB_STATUS 11:HVB_FWVERSION 12:HVB_WATERMARK 19:HVB_HWKEY_RESET "
                             "1D:HVB_BATTERYADCVALUE 1F:HVB_META_CATEGORY 20:HVB_META_USERID 21:HVB_LED "
                             "22:HVB_BUZZERSWITCH 26:HVB_VOICE_RECORDING 27:HVB_VOICE_SAMPLERATE "
                             "34:HVB_BATTERYLEVEL 46:HVB_FORMAT_1 47:HVB_RESET 48:HVB_RESETALL 49:HVB_REBOOT "
                             "4A:HVB_FINDDEVICE 4D:HVB_FW_UPGRADE E1:HVB_WEBCAMMODE")});

    const char* hw7333 =
        "00:HVB_RESOLUTION 01:HVB_VIDEOLOOPRECORD 02:HVB_VIDEOLENGTH 03:HVB_BUFFERLENGTH 04:HVB_MICROPHONE "
        "05:HVB_STEALTH 06:HVB_IRSWITCH 07:HVB_VIDEOSTAMP 08:HVB_UTF8_USERLABEL 09:HVB_LIGHTFREQ "
        "0B:HVB_SYNC_DATETIME_STRING 0C:HVB_DATEFORMAT 0D:HVB_TIMEFORMAT 0E:HVB_INFORMATION 0F:HVB_ISCHARGING "
        "10:HVB_STATUS 11:HVB_FWVERSION 12:HVB_WATERMARK 16:HVB_FILEFORMAT 18:HVB_RECORDINGMODE "
        "19:HVB_HWKEY_RESET 1D:HVB_BATTERYCAPACITY 1F:HVB_META_CATEGORY 20:HVB_META_USERID 24:HVB_TEAMSYNC "
        "25:HVB_TEAMSYNC_GROUP 26:HVB_VOICE_RECORDING 27:HVB_VOICE_SAMPLERATE 2E:HVB_BUFFERAUDIO 2F:HVB_LED "
        "30:HVB_BUZZERSWITCH 31:HVB_VIBRATOR 36:HVB_SD_CARD_STATUS 37:HVB_DEFAULT_RECORD_STATUS "
        "39:HVB_GET_RESERVEDSPACEANDSIZE 46:HVB_FORMAT_1 47:HVB_RESET 48:HVB_RESETALL 49:HVB_REBOOT "
        "4A:HVB_FINDDEVICE 4D:HVB_FW_UPGRADE 64:HVB_LOCKABLE 65:HVB_GET_PWDCHECK 66:HVB_SET_PASSWORD "
        "67:HVB_HIDDENSTORAGE 68:HVB_UNLOCK_READONLY E1:HVB_WEBCAMMODE";
    p.push_back({"HW7333", "1.0.0", "HW7333", "HVB 7333 Camera", "HW7333Cmd_1", ProbeForm::information,
                 LabelForm::utf8, ClockForm::stringOnly, true, commandList(hw7333)});

    // HW7334: as HW7333 with image stabilisation and without the reserved-space query.
    p.push_back({"HW7334", "1.0.0", "HW7334", "HVB 7334 Camera", "HW7334Cmd_1", ProbeForm::information,
                 LabelForm::utf8, ClockForm::stringOnly, true,
                 commandList("00:HVB_RESOLUTION 01:HVB_VIDEOLOOPRECORD 02:HVB_VIDEOLENGTH 03:HVB_BUFFERLENGTH "
                             "04:HVB_MICROPHONE 05:HVB_STEALTH 06:HVB_IRSWITCH 07:HVB_VIDEOSTAMP "
                             "08:HVB_UTF8_USERLABEL 09:HVB_LIGHTFREQ 0A:HVB_EIS 0B:HVB_SYNC_DATETIME_STRING "
                             "0C:HVB_DATEFORMAT 0D:HVB_TIMEFORMAT 0E:HVB_INFORMATION 0F:HVB_ISCHARGING 10:HVB_STATUS "
                             "11:HVB_FWVERSION 12:HVB_WATERMARK 16:HVB_FILEFORMAT 18:HVB_RECORDINGMODE "
                             "19:HVB_HWKEY_RESET 1D:HVB_BATTERYCAPACITY 1F:HVB_META_CATEGORY 20:HVB_META_USERID "
                             "24:HVB_TEAMSYNC 25:HVB_TEAMSYNC_GROUP 26:HVB_VOICE_RECORDING 27:HVB_VOICE_SAMPLERATE "
                             "2E:HVB_BUFFERAUDIO 2F:HVB_LED 30:HVB_BUZZERSWITCH 31:HVB_VIBRATOR "
                             "36:HVB_SD_CARD_STATUS 37:HVB_DEFAULT_RECORD_STATUS 46:HVB_FORMAT_1 47:HVB_RESET "
                             "48:HVB_RESETALL 49:HVB_REBOOT 4A:HVB_FINDDEVICE 4D:HVB_FW_UPGRADE 64:HVB_LOCKABLE "
                             "65:HVB_GET_PWDCHECK 66:HVB_SET_PASSWORD 67:HVB_HIDDENSTORAGE 68:HVB_UNLOCK_READONLY "
                             "E1:HVB_WEBCAMMODE")});

    p.push_back({"HW7360", "1.0.0", "HW7360", "HVB 7360 Camera", "HW7360Cmd_1", ProbeForm::information,
                 LabelForm::utf8, ClockForm::zoneAndString, true,
                 commandList("00:HVB_RESOLUTION 01:HVB_VIDEOLOOPRECORD 02:HVB_VIDEOLENGTH 03:HVB_BUFFERLENGTH "
                             "04:HVB_MICROPHONE 05:HVB_STEALTH 07:HVB_VIDEOSTAMP 08:HVB_UTF8_USERLABEL "
                             "09:HVB_LIGHTFREQ 0B:HVB_SYNC_DATETIME_STRING 0C:HVB_DATEFORMAT 0D:HVB_TIMEFORMAT "
                             "0E:HVB_INFORMATION 0F:HVB_ISCHARGING 10:HVB_STATUS 11:HVB_FWVERSION 12:HVB_WATERMARK "
                             "16:HVB_FILEFORMAT 18:HVB_RECORDINGMODE 19:HVB_HWKEY_RESET 1D:HVB_BATTERYCAPACITY "
                             "1E:HVB_TIME_ZONE 1F:HVB_META_CATEGORY 20:HVB_META_USERID 24:HVB_TEAMSYNC "
                             "25:HVB_TEAMSYNC_GROUP 27:HVB_VOICE_SAMPLERATE 29:HVB_GPS_FUNCTION "
                             "2B:HVB_LOWLIGHT_FUNCTION 2C:HVB_PROGRAMABLE_KEY_FUNCTION 2E:HVB_BUFFERAUDIO "
                             "2F:HVB_LED 30:HVB_BUZZERSWITCH 31:HVB_VIBRATOR 37:HVB_DEFAULT_RECORD_STATUS "
                             "39:HVB_GET_RESERVEDSPACEANDSIZE 46:HVB_FORMAT_1 47:HVB_RESET 48:HVB_RESETALL "
                             "49:HVB_REBOOT 4A:HVB_FINDDEVICE 4D:HVB_FW_UPGRADE 64:HVB_LOCKABLE "
                             "65:HVB_GET_PWDCHECK 66:HVB_SET_PASSWORD 67:HVB_HIDDENSTORAGE 68:HVB_UNLOCK_READONLY "
                             "70:HVB_NETWORKMODE 71:HVB_STA_HOSTSSID 72:HVB_STA_HOSTPWD 73:HVB_STA_DHCP "
                             "74:HVB_STA_STATIC_IPADDR 75:HVB_STA_RTSP_LVIEWSIZE 76:HVB_STA_RTSP_LVIEWFPS "
                             "E1:HVB_WEBCAMMODE")});
    return p;
}

}  // namespace

std::optional<uint8_t> CameraProfile::codeOf(const std::string& name) const {
    for (const auto& [n, c] : commands)
        if (n == name) return c;
    return std::nullopt;
}

std::optional<std::string> CameraProfile::nameOf(uint8_t code) const {
    for (const auto& [n, c] : commands)
        if (c == code) return n;
    return std::nullopt;
}

const std::vector<CameraProfile>& cameraProfiles() {
    static const std::vector<CameraProfile> profiles = makeProfiles();
    return profiles;
}

const CameraProfile* findCameraProfile(const std::string& model, const std::string& firmware) {
    for (const auto& profile : cameraProfiles())
        if (profile.model == model && profile.firmware == firmware) return &profile;
    return nullptr;
}

}  // namespace hvb::sim
