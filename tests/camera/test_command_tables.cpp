// The command tables checked against their published description, written here independently
// of the table data: the three numberings, each table's contents (mostly as "as X, plus ...,
// without ..."), its command count, and the model aliases of the global dictionary.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "camera/CommandTables.h"
#include "camera/HVBCommand.h"

namespace {

using Commands = std::map<std::string, uint8_t>;  // name -> code
using Rows = std::vector<std::pair<uint8_t, std::vector<std::string>>>;

// The numberings: first code of a run, then one name per consecutive code.
const Rows kSetA = {
    {0x01, {"HVB_SYNCDATE", "HVB_SYNCTIME"}},
    {0x04, {"HVB_FWVersion_Old", "HVB_REBOOT"}},
    {0x08, {"HVB_GetPersonalStamp"}},
    {0x19, {"HVB_FORMAT_AND_REBOOT"}},
    {0x1D, {"HVB_UNLOCK_READONLY", "HVB_IS_ENCRYPT"}},
    {0x28, {"HVB_MODEL", "HVB_STATUS", "HVB_HIDDENSTORAGE", "HVB_GET_PWDCHECK", "HVB_IS_PAIRED", "HVB_LOCK_CARD"}},
    {0x2F, {"HVB_CLEAN"}},
    {0x31, {"HVB_FORMAT"}},
    {0x33, {"HVB_SET_PWDCHECK", "HVB_UID", "HVB_FWVERSION", "HVB_RESOLUTION", "HVB_VIDEOSTAMP", "HVB_USERLABEL",
            "HVB_MICROPHONE", "HVB_DATEFORMAT", "HVB_TIMEFORMAT", "HVB_LIGHTFREQ", "HVB_ISCHARGING", "HVB_FORMAT_1",
            "HVB_RESETALL", "HVB_FINDDEVICE", "HVB_LED", "HVB_IRSWITCH", "HVB_VIDEOLOOPRECORD", "HVB_VIDEOLENGTH",
            "HVB_UNICODE_USERLABEL", "HVB_RESETPWDMODEL", "HVB_CUSTOMIZEDPWDCHECK", "HVB_BUZZERSWITCH", "HVB_RESET"}},
    {0x4B, {"HVB_META_CATEGORY", "HVB_META_USERID"}},
    {0x4F, {"HVB_WATERMARK", "HVB_VOICE_RECORDING", "HVB_VOICE_SAMPLERATE", "HVB_LOCKABLE"}},
    {0x55, {"HVB_BATTERYLEVEL"}},
};
const Rows kSetB = {
    {0x50, {"HVB_RESOLUTION", "HVB_VIDEOLOOPRECORD", "HVB_VIDEOLENGTH", "HVB_BUFFERLENGTH", "HVB_MICROPHONE",
            "HVB_STEALTH", "HVB_IRSWITCH", "HVB_VIDEOSTAMP", "HVB_UTF8_USERLABEL", "HVB_LIGHTFREQ", "HVB_EIS",
            "HVB_SYNC_DATETIME", "HVB_DATEFORMAT", "HVB_TIMEFORMAT", "HVB_INFORMATION", "HVB_ISCHARGING",
            "HVB_STATUS", "HVB_FWVERSION", "HVB_WATERMARK", "WaterMark_Width", "WaterMark_Height",
            "WaterMark_Width_second", "WaterMark_Height_second", "WaterMark_Raw", "HVB_RECORDINGMODE",
            "HVB_HWKEY_RESET"}},
    {0x6C, {"HVB_IMAGEFLIP", "HVB_BATTERYCAPACITY"}},
    {0x6F, {"HVB_META_CATEGORY", "HVB_META_USERID"}},
    {0x73, {"HVB_GYROSTATUS", "HVB_TEAMSYNC", "HVB_TEAMSYNC_GROUP", "HVB_VOICE_RECORDING", "HVB_VOICE_SAMPLERATE",
            "HVB_FORMAT_1", "HVB_RESET", "HVB_RESETALL", "HVB_REBOOT", "HVB_FINDDEVICE", "STM8SUpgrade"}},
    {0x82, {"HVB_LOCKABLE", "HVB_GET_PWDCHECK", "HVB_SET_PASSWORD", "HVB_HIDDENSTORAGE", "HVB_UNLOCK_READONLY",
            "RestoreFormatLockVersion", "HVB_CUSTOMIZEDPWDCHECK"}},
    {0x8C, {"HVB_LED", "HVB_BUZZERSWITCH", "HVB_VIBRATOR", "HVB_BUFFERAUDIO"}},
    {0x96, {"HVB_CMDLOCK"}},
    {0xAC, {"HVB_PRODUCT_UUID"}},
    {0xE1, {"HVB_WEBCAMMODE"}},
};
const Rows kSetC = {
    {0x00, {"HVB_RESOLUTION", "HVB_VIDEOLOOPRECORD", "HVB_VIDEOLENGTH", "HVB_BUFFERLENGTH", "HVB_MICROPHONE",
            "HVB_STEALTH", "HVB_IRSWITCH", "HVB_VIDEOSTAMP", "HVB_UTF8_USERLABEL", "HVB_LIGHTFREQ", "HVB_EIS",
            "HVB_SYNC_DATETIME_STRING", "HVB_DATEFORMAT", "HVB_TIMEFORMAT", "HVB_INFORMATION", "HVB_ISCHARGING",
            "HVB_STATUS", "HVB_FWVERSION", "HVB_WATERMARK"}},
    {0x16, {"HVB_FILEFORMAT"}},
    {0x18, {"HVB_RECORDINGMODE", "HVB_HWKEY_RESET"}},
    {0x1D, {"HVB_BATTERYCAPACITY", "HVB_TIME_ZONE", "HVB_META_CATEGORY", "HVB_META_USERID"}},
    {0x24, {"HVB_TEAMSYNC", "HVB_TEAMSYNC_GROUP", "HVB_VOICE_RECORDING", "HVB_VOICE_SAMPLERATE",
            "HVB_WIFI_FREQBANDS", "HVB_GPS_FUNCTION", "HVB_BLE_TRIGGER_HOST", "HVB_LOWLIGHT_FUNCTION",
            "HVB_PROGRAMABLE_KEY_FUNCTION"}},
    {0x2E, {"HVB_BUFFERAUDIO", "HVB_LED", "HVB_BUZZERSWITCH", "HVB_VIBRATOR"}},
    {0x34, {"HVB_BATTERYLEVEL"}},
    {0x36, {"HVB_SD_CARD_STATUS", "HVB_DEFAULT_RECORD_STATUS"}},
    {0x39, {"HVB_GET_RESERVEDSPACEANDSIZE"}},
    {0x46, {"HVB_FORMAT_1", "HVB_RESET", "HVB_RESETALL", "HVB_REBOOT", "HVB_FINDDEVICE"}},
    {0x4D, {"HVB_FW_UPGRADE"}},
    {0x64, {"HVB_LOCKABLE", "HVB_GET_PWDCHECK", "HVB_SET_PASSWORD", "HVB_HIDDENSTORAGE", "HVB_UNLOCK_READONLY"}},
    {0x70, {"HVB_NETWORKMODE", "HVB_STA_HOSTSSID", "HVB_STA_HOSTPWD", "HVB_STA_DHCP", "HVB_STA_STATIC_IPADDR",
            "HVB_STA_RTSP_LVIEWSIZE", "HVB_STA_RTSP_LVIEWFPS"}},
    {0xE1, {"HVB_WEBCAMMODE"}},
};

Commands expand(const Rows& rows) {
    Commands all;
    for (const auto& [first, names] : rows)
        for (std::size_t i = 0; i < names.size(); ++i) all[names[i]] = static_cast<uint8_t>(first + i);
    return all;
}

// The named commands of a numbering, with their codes.
Commands pick(const Rows& rows, const std::vector<std::string>& names) {
    const Commands all = expand(rows);
    Commands out;
    for (const auto& n : names) {
        EXPECT_TRUE(all.count(n)) << n;
        if (all.count(n)) out[n] = all.at(n);
    }
    return out;
}

// "first cc to last cc": every command of the numbering from first to last.
Commands span(const Rows& rows, const std::string& first, const std::string& last) {
    const Commands all = expand(rows);
    Commands out;
    for (const auto& [n, c] : all)
        if (c >= all.at(first) && c <= all.at(last)) out[n] = c;
    return out;
}

Commands join(std::initializer_list<Commands> parts) {
    Commands out;
    for (const auto& p : parts) out.insert(p.begin(), p.end());
    return out;
}

Commands as(const Commands& base, const std::vector<std::string>& without, const Commands& plus) {
    Commands out = base;
    for (const auto& n : without) EXPECT_EQ(out.erase(n), 1u) << n;
    for (const auto& [n, c] : plus) EXPECT_TRUE(out.emplace(n, c).second) << n;
    return out;
}

std::map<std::string, Commands> describedTables() {
    std::map<std::string, Commands> t;
    // Code set A.
    t["HVBR4Cmd_0"] = {{"HVB_SYNCDATE", 0x01}, {"HVB_SYNCTIME", 0x02}, {"HVB_FWVersion_Old", 0x04},
                       {"HVB_REBOOT", 0x05}, {"HVB_GetPersonalStamp", 0x08}};
    t["HVBR7Cmd_0"] = pick(kSetA, {"HVB_SYNCDATE", "HVB_SYNCTIME", "HVB_FWVersion_Old", "HVB_REBOOT",
                                   "HVB_FORMAT_AND_REBOOT", "HVB_UNLOCK_READONLY", "HVB_IS_ENCRYPT", "HVB_MODEL",
                                   "HVB_STATUS", "HVB_HIDDENSTORAGE", "HVB_GET_PWDCHECK", "HVB_IS_PAIRED",
                                   "HVB_LOCK_CARD", "HVB_CLEAN", "HVB_FORMAT", "HVB_SET_PWDCHECK", "HVB_UID",
                                   "HVB_FWVERSION", "HVB_RESOLUTION", "HVB_VIDEOSTAMP", "HVB_USERLABEL",
                                   "HVB_MICROPHONE", "HVB_DATEFORMAT", "HVB_TIMEFORMAT", "HVB_LIGHTFREQ",
                                   "HVB_ISCHARGING", "HVB_FORMAT_1", "HVB_RESETALL", "HVB_FINDDEVICE",
                                   "HVB_VIDEOLOOPRECORD", "HVB_VIDEOLENGTH"});
    t["HVBS8Cmd_0"] = t["HVBR7Cmd_0"];
    t["HVBR4Cmd_1"] = as(t["HVBR7Cmd_0"], {"HVB_LOCK_CARD"}, {{"HVB_IRSWITCH", 0x42}});
    t["HVBR7Cmd_1"] = as(t["HVBR7Cmd_0"], {"HVB_USERLABEL"},
                         {{"HVB_LED", 0x41}, {"HVB_UNICODE_USERLABEL", 0x45}, {"HVB_RESETPWDMODEL", 0x46},
                          {"HVB_CUSTOMIZEDPWDCHECK", 0x47}, {"HVB_BUZZERSWITCH", 0x48}, {"HVB_RESET", 0x49},
                          {"HVB_META_CATEGORY", 0x4B}, {"HVB_META_USERID", 0x4C}});
    t["HVBS8Cmd_1"] = as(t["HVBR7Cmd_1"], {"HVB_META_CATEGORY", "HVB_META_USERID"}, {});
    t["HVBR4Cmd_2"] = as(t["HVBS8Cmd_1"], {"HVB_LOCK_CARD", "HVB_SET_PWDCHECK"},
                         {{"GET_SET_PWDCHECK", 0x33}, {"HVB_IRSWITCH", 0x42}});
    t["HVBR4Cmd_3"] = as(t["HVBR4Cmd_2"], {}, {{"HVB_META_CATEGORY", 0x4B}, {"HVB_META_USERID", 0x4C}});
    t["HVBR4Cmd_4"] = as(t["HVBR4Cmd_3"], {}, {{"HVB_VOICE_RECORDING", 0x50}, {"HVB_VOICE_SAMPLERATE", 0x51}});
    t["HVBR7Cmd_2"] = as(t["HVBR7Cmd_1"], {},
                         {{"HVB_WATERMARK", 0x4F}, {"HVB_VOICE_RECORDING", 0x50}, {"HVB_VOICE_SAMPLERATE", 0x51},
                          {"HVB_LOCKABLE", 0x52}});
    t["HVBS8Cmd_2"] = t["HVBR7Cmd_2"];
    t["HVBR7Cmd_3"] = as(t["HVBR7Cmd_2"], {}, {{"HVB_BATTERYLEVEL", 0x55}});
    t["HVBS8Cmd_3"] = t["HVBR7Cmd_3"];

    // Code set B (HVB_FILEFORMAT, also excepted, is not among the numbering's first names).
    t["HVBS2ACmd_1"] = as(expand(kSetB),
                          {"HVB_GYROSTATUS", "HVB_TEAMSYNC", "HVB_TEAMSYNC_GROUP", "HVB_LOCKABLE", "HVB_LED",
                           "HVB_BUZZERSWITCH", "HVB_VIBRATOR", "HVB_BUFFERAUDIO", "HVB_CMDLOCK", "HVB_PRODUCT_UUID",
                           "HVB_WEBCAMMODE"},
                          {});
    t["HVBS2ACmd_2"] =
        as(t["HVBS2ACmd_1"], {}, {{"HVB_GYROSTATUS", 0x73}, {"HVB_CMDLOCK", 0x96}, {"HVB_PRODUCT_UUID", 0xAC}});
    t["HVBS2ACmd_3"] =
        as(t["HVBS2ACmd_2"], {}, {{"HVB_TEAMSYNC", 0x74}, {"HVB_TEAMSYNC_GROUP", 0x75}, {"HVB_LOCKABLE", 0x82}});
    t["HVBS2ACmd_4"] = as(t["HVBS2ACmd_3"], {"WaterMark_Height_second"}, {{"HVB_FILEFORMAT", 0x66}});
    t["HVBS2ACmd_5"] = as(t["HVBS2ACmd_4"], {},
                          {{"HVB_LED", 0x8C}, {"HVB_BUZZERSWITCH", 0x8D}, {"HVB_VIBRATOR", 0x8E},
                           {"HVB_BUFFERAUDIO", 0x8F}});
    t["HVBS2ACmd_6"] = as(t["HVBS2ACmd_5"], {}, {{"HVB_WEBCAMMODE", 0xE1}});

    // Code set C.
    t["HVBR4BCmd_0"] = {
        {"HVB_RESOLUTION", 0x00}, {"HVB_VIDEOLOOPRECORD", 0x01}, {"HVB_VIDEOLENGTH", 0x02},
        {"HVB_MICROPHONE", 0x04}, {"HVB_IRSWITCH", 0x06}, {"HVB_VIDEOSTAMP", 0x07},
        {"HVB_UTF8_USERLABEL", 0x08}, {"HVB_LIGHTFREQ", 0x09}, {"HVB_SYNC_DATETIME_STRING", 0x0B},
        {"HVB_DATEFORMAT", 0x0C}, {"HVB_TIMEFORMAT", 0x0D}, {"HVB_INFORMATION", 0x0E},
        {"HVB_ISCHARGING", 0x0F}, {"HVB_STATUS", 0x10}, {"HVB_FWVERSION", 0x11}, {"HVB_WATERMARK", 0x12},
        {"HVB_HWKEY_RESET", 0x19}, {"HVB_BATTERYADCVALUE", 0x1D}, {"HVB_META_CATEGORY", 0x1F},
        {"HVB_META_USERID", 0x20}, {"HVB_LED", 0x21}, {"HVB_BUZZERSWITCH", 0x22}, {"HVB_VOICE_RECORDING", 0x26},
        {"HVB_VOICE_SAMPLERATE", 0x27}, {"HVB_FORMAT_1", 0x46}, {"HVB_RESETALL", 0x48}, {"HVB_REBOOT", 0x49},
        {"HVB_FINDDEVICE", 0x4A}};
    t["HVBR4BCmd_1"] = as(t["HVBR4BCmd_0"], {}, {{"HVB_RESET", 0x47}});
    t["HW7312Cmd_0"] = as(t["HVBR4BCmd_1"], {}, {{"HVB_BATTERYLEVEL", 0x34}});
    t["HW7312Cmd_1"] = as(t["HW7312Cmd_0"], {}, {{"HVB_WEBCAMMODE", 0xE1}});
    t["HW7313Cmd_0"] = as(t["HW7312Cmd_0"], {}, {{"HVB_GET_RESERVEDSPACEANDSIZE", 0x39}});
    t["HW7313Cmd_1"] = as(t["HW7313Cmd_0"], {}, {{"HVB_WEBCAMMODE", 0xE1}});
    t["HVBT3ACmd_0"] = join({span(kSetC, "HVB_RESOLUTION", "HVB_STEALTH"),
                             {{"HVB_VIDEOSTAMP", 0x07}, {"HVB_UTF8_USERLABEL", 0x08}, {"HVB_LIGHTFREQ", 0x09}},
                             span(kSetC, "HVB_SYNC_DATETIME_STRING", "HVB_WATERMARK"),
                             {{"HVB_RECORDINGMODE", 0x18}, {"HVB_HWKEY_RESET", 0x19}, {"HVB_BATTERYCAPACITY", 0x1D},
                              {"HVB_TIME_ZONE", 0x1E}, {"HVB_META_CATEGORY", 0x1F}, {"HVB_META_USERID", 0x20},
                              {"HVB_TEAMSYNC", 0x24}, {"HVB_TEAMSYNC_GROUP", 0x25}, {"HVB_VOICE_SAMPLERATE", 0x27},
                              {"HVB_WIFI_FREQBANDS", 0x28}},
                             span(kSetC, "HVB_FORMAT_1", "HVB_FINDDEVICE"),
                             span(kSetC, "HVB_LOCKABLE", "HVB_UNLOCK_READONLY")});
    t["HVBT3ACmd_1"] = as(t["HVBT3ACmd_0"], {"HVB_TEAMSYNC", "HVB_TEAMSYNC_GROUP"},
                          {{"HVB_GPS_FUNCTION", 0x29}, {"HVB_LOWLIGHT_FUNCTION", 0x2A},
                           {"HVB_PROGRAMABLE_KEY_FUNCTION", 0x2B}});
    t["HVBT3ACmd_2"] = as(t["HVBT3ACmd_0"], {},
                          join({{{"HVB_GPS_FUNCTION", 0x29}, {"HVB_BLE_TRIGGER_HOST", 0x2A},
                                 {"HVB_LOWLIGHT_FUNCTION", 0x2B}, {"HVB_PROGRAMABLE_KEY_FUNCTION", 0x2C}},
                                span(kSetC, "HVB_NETWORKMODE", "HVB_STA_RTSP_LVIEWFPS")}));
    t["HVBT3ACmd_3"] = as(t["HVBT3ACmd_2"], {},
                          {{"HVB_BUFFERAUDIO", 0x2E}, {"HVB_LED", 0x2F}, {"HVB_BUZZERSWITCH", 0x30},
                           {"HVB_VIBRATOR", 0x31}});
    t["HW7351Cmd_0"] = t["HW7352Cmd_0"] = t["HVBT3ACmd_3"];
    t["HVBT3ACmd_4"] = as(t["HVBT3ACmd_3"], {}, {{"HVB_WEBCAMMODE", 0xE1}});
    t["HW7351Cmd_1"] = t["HW7352Cmd_1"] = t["HVBT3ACmd_4"];
    t["HW7360Cmd_0"] = as(t["HVBT3ACmd_4"], {"HVB_WIFI_FREQBANDS", "HVB_BLE_TRIGGER_HOST"},
                          {{"HVB_FILEFORMAT", 0x16}, {"HVB_DEFAULT_RECORD_STATUS", 0x37},
                           {"HVB_GET_RESERVEDSPACEANDSIZE", 0x39}});
    t["HW7360Cmd_1"] = t["HW7360Cmd_0"];
    t["HW7331Cmd_0"] = join({span(kSetC, "HVB_RESOLUTION", "HVB_LIGHTFREQ"),
                             span(kSetC, "HVB_SYNC_DATETIME_STRING", "HVB_WATERMARK"),
                             {{"HVB_FILEFORMAT", 0x16}, {"HVB_RECORDINGMODE", 0x18}, {"HVB_HWKEY_RESET", 0x19},
                              {"HVB_BATTERYCAPACITY", 0x1D}, {"HVB_META_CATEGORY", 0x1F}, {"HVB_META_USERID", 0x20}},
                             span(kSetC, "HVB_TEAMSYNC", "HVB_VOICE_SAMPLERATE"),
                             span(kSetC, "HVB_BUFFERAUDIO", "HVB_VIBRATOR"),
                             span(kSetC, "HVB_FORMAT_1", "HVB_FINDDEVICE"),
                             {{"HVB_FW_UPGRADE", 0x4D}},
                             span(kSetC, "HVB_LOCKABLE", "HVB_UNLOCK_READONLY")});
    t["HW7332Cmd_0"] = t["HW7331Cmd_0"];
    t["HW7331Cmd_1"] = as(t["HW7331Cmd_0"], {}, {{"HVB_BLE_TRIGGER_HOST", 0x2A}});
    t["HW7331Cmd_2"] = as(t["HW7331Cmd_1"], {}, {{"HVB_WEBCAMMODE", 0xE1}});
    t["HW7332Cmd_1"] = as(t["HW7332Cmd_0"], {}, {{"HVB_SD_CARD_STATUS", 0x36}, {"HVB_WEBCAMMODE", 0xE1}});
    t["HW7333Cmd_0"] = t["HW7333Cmd_1"] = as(
        t["HW7332Cmd_1"], {}, {{"HVB_DEFAULT_RECORD_STATUS", 0x37}, {"HVB_GET_RESERVEDSPACEANDSIZE", 0x39}});
    t["HW7334Cmd_0"] = t["HW7334Cmd_1"] =
        as(t["HW7333Cmd_0"], {"HVB_GET_RESERVEDSPACEANDSIZE"}, {{"HVB_EIS", 0x0A}});
    return t;
}

// Every table with its command count, in declaration order.
const std::vector<std::pair<std::string, std::size_t>> kCounts = {
    {"HVBR4Cmd_0", 5},   {"HVBR4Cmd_1", 31},  {"HVBR4Cmd_2", 36},  {"HVBR4Cmd_3", 38},  {"HVBR4Cmd_4", 40},
    {"HVBR7Cmd_0", 31},  {"HVBR7Cmd_1", 38},  {"HVBR7Cmd_2", 42},  {"HVBR7Cmd_3", 43},  {"HVBS8Cmd_0", 31},
    {"HVBS8Cmd_1", 36},  {"HVBS8Cmd_2", 42},  {"HVBS8Cmd_3", 43},  {"HVBS2ACmd_1", 44}, {"HVBS2ACmd_2", 47},
    {"HVBS2ACmd_3", 50}, {"HVBS2ACmd_4", 50}, {"HVBS2ACmd_5", 54}, {"HVBS2ACmd_6", 55}, {"HVBT3ACmd_0", 37},
    {"HVBT3ACmd_1", 38}, {"HVBT3ACmd_2", 48}, {"HVBT3ACmd_3", 52}, {"HVBT3ACmd_4", 53}, {"HVBR4BCmd_0", 28},
    {"HVBR4BCmd_1", 29}, {"HW7312Cmd_0", 30}, {"HW7312Cmd_1", 31}, {"HW7313Cmd_0", 31}, {"HW7313Cmd_1", 32},
    {"HW7331Cmd_0", 43}, {"HW7331Cmd_1", 44}, {"HW7331Cmd_2", 45}, {"HW7332Cmd_0", 43}, {"HW7332Cmd_1", 45},
    {"HW7333Cmd_0", 47}, {"HW7333Cmd_1", 47}, {"HW7334Cmd_0", 47}, {"HW7334Cmd_1", 47}, {"HW7351Cmd_0", 52},
    {"HW7351Cmd_1", 53}, {"HW7352Cmd_0", 52}, {"HW7352Cmd_1", 53}, {"HW7360Cmd_0", 54}, {"HW7360Cmd_1", 54},
};

Commands asMap(const hvb::HVBCommand::Entries& entries) { return Commands(entries.begin(), entries.end()); }

std::string modelOf(const std::string& tableName) { return tableName.substr(0, tableName.find("Cmd_")); }

TEST(CommandTables, NamesCountsAndOrderingInvariants) {
    const auto& names = hvb::HVBCommand::tableNames();
    ASSERT_EQ(names.size(), kCounts.size());
    EXPECT_EQ(hvb::commandTableNames(), names);
    std::size_t pairs = 0;
    std::set<std::string> distinct;
    for (std::size_t i = 0; i < kCounts.size(); ++i) {
        const auto& [name, count] = kCounts[i];
        EXPECT_EQ(names[i], name);
        const auto* entries = hvb::HVBCommand::tableEntries(name);
        ASSERT_NE(entries, nullptr) << name;
        EXPECT_EQ(entries->size(), count) << name;
        std::set<std::string> namesInTable;
        for (std::size_t k = 0; k < entries->size(); ++k) {
            if (k > 0) {
                EXPECT_LT((*entries)[k - 1].second, (*entries)[k].second) << name << " at " << k;
            }
            EXPECT_TRUE(namesInTable.insert((*entries)[k].first).second) << name << " " << (*entries)[k].first;
            distinct.insert((*entries)[k].first);
        }
        pairs += entries->size();
    }
    EXPECT_EQ(pairs, 1891u);
    EXPECT_EQ(distinct.size(), 93u);
    std::set<std::string> unprefixed;
    for (const auto& n : distinct)
        if (n.rfind("HVB_", 0) != 0) unprefixed.insert(n);
    EXPECT_EQ(unprefixed, (std::set<std::string>{"GET_SET_PWDCHECK", "WaterMark_Width", "WaterMark_Height",
                                                 "WaterMark_Width_second", "WaterMark_Height_second",
                                                 "WaterMark_Raw", "STM8SUpgrade", "RestoreFormatLockVersion"}));
}

TEST(CommandTables, EveryTableHoldsExactlyWhatItsDescriptionSays) {
    const auto described = describedTables();
    ASSERT_EQ(described.size(), 45u);
    for (const auto& [name, count] : kCounts) {
        ASSERT_TRUE(described.count(name)) << name;
        const Commands& want = described.at(name);
        EXPECT_EQ(want.size(), count) << "description of " << name;
        const auto* entries = hvb::HVBCommand::tableEntries(name);
        ASSERT_NE(entries, nullptr) << name;
        const Commands got = asMap(*entries);
        for (const auto& [n, c] : want) {
            auto it = got.find(n);
            if (it == got.end())
                ADD_FAILURE() << name << " lacks " << n;
            else
                EXPECT_EQ(int(it->second), int(c)) << name << " " << n;
        }
        for (const auto& [n, c] : got)
            if (!want.count(n)) ADD_FAILURE() << name << " has extra " << n << " = " << int(c);
    }
}

TEST(CommandTables, NamesPerNumberingAndEqualTables) {
    std::set<std::string> a, b, c;
    for (const auto& name : hvb::HVBCommand::tableNames()) {
        const std::string model = modelOf(name);
        auto& set = (model == "HVBR4" || model == "HVBR7" || model == "HVBS8") ? a : model == "HVBS2A" ? b : c;
        for (const auto& [n, code] : *hvb::HVBCommand::tableEntries(name)) set.insert(n);
    }
    EXPECT_EQ(a.size(), 47u);
    EXPECT_EQ(b.size(), 56u);
    EXPECT_EQ(c.size(), 63u);

    // Exactly these groups hold the same commands; no two other tables do.
    const std::vector<std::set<std::string>> groups = {
        {"HVBR7Cmd_0", "HVBS8Cmd_0"},  {"HVBR7Cmd_2", "HVBS8Cmd_2"},
        {"HVBR7Cmd_3", "HVBS8Cmd_3"},  {"HVBT3ACmd_3", "HW7351Cmd_0", "HW7352Cmd_0"},
        {"HVBT3ACmd_4", "HW7351Cmd_1", "HW7352Cmd_1"}, {"HW7331Cmd_0", "HW7332Cmd_0"},
        {"HW7333Cmd_0", "HW7333Cmd_1"}, {"HW7334Cmd_0", "HW7334Cmd_1"}, {"HW7360Cmd_0", "HW7360Cmd_1"}};
    const auto& names = hvb::HVBCommand::tableNames();
    for (const auto& x : names)
        for (const auto& y : names) {
            if (x >= y) continue;
            const bool grouped = std::any_of(groups.begin(), groups.end(),
                                             [&](const auto& g) { return g.count(x) && g.count(y); });
            EXPECT_EQ(hvb::HVBCommand::table(x)->sameCommands(*hvb::HVBCommand::table(y)), grouped) << x << " " << y;
        }
    EXPECT_NE(&hvb::HVBCommand::HVBR7Cmd_0(), &hvb::HVBCommand::HVBS8Cmd_0());
    EXPECT_EQ(hvb::HVBCommand::HVBS8Cmd_0().name(), "HVBS8Cmd_0");
}

TEST(CommandTables, CasesOfATable) {
    using namespace hvb::HVBCommand;
    // 00 is a real code.
    auto resolution = HVBT3ACmd_0().caseForCode(0x00);
    ASSERT_TRUE(resolution.has_value());
    EXPECT_EQ(resolution->name(), "HVB_RESOLUTION");
    EXPECT_EQ(resolution->rawValue(), 0x00);
    EXPECT_FALSE(HVBT3ACmd_0().caseForCode(0x06).has_value());  // no IRSWITCH on this firmware
    EXPECT_FALSE(HVBR4Cmd_0().caseForCode(0x00).has_value());

    const auto cases = HVBR4Cmd_0().allCases();
    ASSERT_EQ(cases.size(), 5u);
    std::vector<std::string> names;
    for (const auto& c : cases) names.push_back(c.name());
    EXPECT_EQ(names, (std::vector<std::string>{"HVB_SYNCDATE", "HVB_SYNCTIME", "HVB_FWVersion_Old", "HVB_REBOOT",
                                               "HVB_GetPersonalStamp"}));
    for (const char* absent : {"HVB_UID", "HVB_MODEL", "HVB_FWVERSION"})
        EXPECT_FALSE(HVBR4Cmd_0().code(absent).has_value()) << absent;

    // A case is its table's: same name and code in an equal table is still another case.
    EXPECT_EQ(HVBR7Cmd_0().caseNamed("HVB_UID"), HVBR7Cmd_0().caseForCode(0x34));
    EXPECT_NE(*HVBR7Cmd_0().caseNamed("HVB_UID"), *HVBS8Cmd_0().caseNamed("HVB_UID"));
    EXPECT_EQ(std::hash<Case>()(*HVBR7Cmd_0().caseNamed("HVB_UID")),
              std::hash<Case>()(*HVBR7Cmd_0().caseForCode(0x34)));
    EXPECT_FALSE(HVBR7Cmd_0().caseNamed("hvb_uid").has_value());  // names are case-sensitive

    EXPECT_EQ(table("HVBS2ACmd_0"), nullptr);
    EXPECT_EQ(tableEntries("HVBS2ACmd_0"), nullptr);
    EXPECT_EQ(tableEntries("hvbr4cmd_0"), nullptr);
    EXPECT_EQ(tableEntries(""), nullptr);
}

TEST(CommandTables, SameNameAcrossNumberingsAndFirmwares) {
    using namespace hvb::HVBCommand;
    EXPECT_EQ(HVBR7Cmd_0().code("HVB_REBOOT"), 0x05);
    EXPECT_EQ(HVBS2ACmd_1().code("HVB_REBOOT"), 0x7B);
    EXPECT_EQ(HW7331Cmd_0().code("HVB_REBOOT"), 0x49);
    EXPECT_EQ(HVBR4BCmd_0().code("HVB_LED"), 0x21);
    EXPECT_EQ(HVBT3ACmd_3().code("HVB_LED"), 0x2F);
    EXPECT_EQ(HVBS2ACmd_5().code("HVB_LED"), 0x8C);
    EXPECT_EQ(HVBR7Cmd_1().code("HVB_LED"), 0x41);
    EXPECT_EQ(HVBT3ACmd_1().code("HVB_LOWLIGHT_FUNCTION"), 0x2A);
    EXPECT_EQ(HVBT3ACmd_2().code("HVB_LOWLIGHT_FUNCTION"), 0x2B);
    EXPECT_EQ(HW7313Cmd_0().caseForCode(0x1D)->name(), "HVB_BATTERYADCVALUE");
    EXPECT_EQ(HVBT3ACmd_0().caseForCode(0x1D)->name(), "HVB_BATTERYCAPACITY");

    // Same codes, one name apart at 66.
    std::vector<uint8_t> codes3, codes4;
    for (const auto& c : HVBS2ACmd_3().allCases()) codes3.push_back(c.rawValue());
    for (const auto& c : HVBS2ACmd_4().allCases()) codes4.push_back(c.rawValue());
    EXPECT_EQ(codes3, codes4);
    EXPECT_EQ(HVBS2ACmd_3().caseForCode(0x66)->name(), "WaterMark_Height_second");
    EXPECT_EQ(HVBS2ACmd_4().caseForCode(0x66)->name(), "HVB_FILEFORMAT");
    EXPECT_FALSE(HVBS2ACmd_4().code("WaterMark_Height_second").has_value());
}

class GlobalTables : public ::testing::Test {
protected:
    void SetUp() override { hvb::buildAllCommandTables(); }
};

// Aliases per model, from first to last matching row.
Commands aliasesOf(const std::string& model) {
    if (model == "HVBR4") return {{"HVB_FW_UPGRADE", 0x05}};
    if (model == "HVBR7" || model == "HVBS8") return {{"HVB_SET_PASSWORD", 0x2B}, {"HVB_FW_UPGRADE", 0x05}};
    if (model == "HVBS2A") return {{"HVB_IS_ENCRYPT", 0x82}, {"HVB_SET_PWDCHECK", 0x83}, {"HVB_FW_UPGRADE", 0x7F}};
    if (model == "HVBT3A" || model == "HW7351" || model == "HW7352" || model == "HW7360")
        return {{"HVB_IS_ENCRYPT", 0x64}, {"HVB_SET_PWDCHECK", 0x65}, {"HVB_FW_UPGRADE", 0x4D}};
    if (model == "HVBR4B" || model == "HW7312" || model == "HW7313") return {{"HVB_FW_UPGRADE", 0x4D}};
    return {{"HVB_IS_ENCRYPT", 0x64}, {"HVB_SET_PWDCHECK", 0x65}};  // HW7331 ... HW7334
}

TEST_F(GlobalTables, EveryEntryIsItsTablePlusItsModelsAliases) {
    auto& tables = hvb::cmdTables();
    EXPECT_EQ(tables.size(), 45u);
    const std::set<std::string> locked = {"HVBR4Cmd_2", "HVBR4Cmd_3", "HVBR4Cmd_4"};
    std::size_t withoutPwdAlias = 0;
    for (const auto& [name, count] : kCounts) {
        const auto dictionary = hvb::commandTable(name);
        ASSERT_TRUE(dictionary.has_value()) << name;
        Commands want = asMap(*hvb::HVBCommand::tableEntries(name));
        const Commands aliases = aliasesOf(modelOf(name));
        for (const auto& [n, c] : aliases) EXPECT_TRUE(want.emplace(n, c).second) << name << " " << n;
        const std::size_t partSize = count + aliases.size();
        if (locked.count(name)) want.emplace("HVB_SET_PWDCHECK", 0x33);
        EXPECT_EQ(Commands(dictionary->begin(), dictionary->end()), want) << name;
        EXPECT_EQ(dictionary->size(), partSize + (locked.count(name) ? 1 : 0)) << name;
        withoutPwdAlias += partSize;
    }
    EXPECT_EQ(withoutPwdAlias, 1987u);
    EXPECT_EQ(tables.entryCount(), 1990u);
    EXPECT_EQ(hvb::commandTable("HVBR4Cmd_0")->size(), 6u);
    EXPECT_EQ(hvb::commandTable("HVBS2ACmd_6")->size(), 58u);
    EXPECT_EQ(hvb::commandTable("HW7360Cmd_1")->size(), 57u);
}

TEST_F(GlobalTables, LookupsFromTheEdgeList) {
    using hvb::lookupCommand;
    EXPECT_EQ(*hvb::commandTable("HVBR4Cmd_0"),
              (hvb::CommandDictionary{{"HVB_SYNCDATE", 0x01}, {"HVB_SYNCTIME", 0x02}, {"HVB_FWVersion_Old", 0x04},
                                      {"HVB_REBOOT", 0x05}, {"HVB_GetPersonalStamp", 0x08}, {"HVB_FW_UPGRADE", 0x05}}));
    // A locked camera on these tables must still have its password checked.
    for (const char* name : {"HVBR4Cmd_2", "HVBR4Cmd_3", "HVBR4Cmd_4"}) {
        EXPECT_EQ(lookupCommand(name, "HVB_SET_PWDCHECK"), 0x33) << name;
        EXPECT_EQ(lookupCommand(name, "GET_SET_PWDCHECK"), 0x33) << name;
        EXPECT_FALSE(hvb::HVBCommand::table(name)->code("HVB_SET_PWDCHECK").has_value()) << name;
    }
    EXPECT_FALSE(lookupCommand("HVBR4Cmd_1", "HVB_SET_PASSWORD").has_value());
    EXPECT_EQ(lookupCommand("HVBR7Cmd_0", "HVB_SET_PASSWORD"), 0x2B);
    EXPECT_EQ(lookupCommand("HVBR7Cmd_0", "HVB_GET_PWDCHECK"), 0x2B);
    EXPECT_EQ(lookupCommand("HVBS2ACmd_1", "HVB_IS_ENCRYPT"), 0x82);
    EXPECT_EQ(lookupCommand("HVBS2ACmd_1", "HVB_FW_UPGRADE"), 0x7F);
    EXPECT_FALSE(lookupCommand("HVBS2ACmd_1", "HVB_LOCKABLE").has_value());
    EXPECT_EQ(lookupCommand("HW7331Cmd_0", "HVB_FW_UPGRADE"), 0x4D);
    EXPECT_EQ(lookupCommand("HW7331Cmd_0", "HVB_IS_ENCRYPT"), 0x64);
    EXPECT_EQ(lookupCommand("HW7331Cmd_0", "HVB_SET_PWDCHECK"), 0x65);
    EXPECT_EQ(lookupCommand("HVBR4BCmd_0", "HVB_FW_UPGRADE"), 0x4D);
    EXPECT_FALSE(lookupCommand("HVBR4BCmd_0", "HVB_IS_ENCRYPT").has_value());
    // Code 0 is found; a missing name or table is not supported, never 0.
    EXPECT_EQ(lookupCommand("HW7360Cmd_0", "HVB_RESOLUTION"), 0x00);
    EXPECT_FALSE(lookupCommand("HW7360Cmd_0", "HVB_NO_SUCH_COMMAND").has_value());
    EXPECT_FALSE(lookupCommand("HVBS2ACmd_0", "HVB_RESOLUTION").has_value());
    EXPECT_FALSE(hvb::commandTable("HVBS2ACmd_0").has_value());
    EXPECT_FALSE(lookupCommand("HVBS2PCmd_0", "HVB_FW_UPGRADE").has_value());
}

TEST_F(GlobalTables, BuildingReplacesAndNeverInventsTables) {
    auto& tables = hvb::cmdTables();
    // A name that is no table gets no entry, not one made of aliases alone.
    hvb::buildCommandTable("HVBS2ACmd_0");
    hvb::buildCommandTable("HVBR4Cmd_9");
    EXPECT_FALSE(tables.contains("HVBS2ACmd_0"));
    EXPECT_FALSE(tables.contains("HVBR4Cmd_9"));

    tables.store("HVBR7Cmd_1", {{"HVB_BOGUS", 1}});
    tables.store("Stray", {{"HVB_REBOOT", 2}});
    hvb::buildCommandTable("HVBR7Cmd_1");
    EXPECT_FALSE(hvb::lookupCommand("HVBR7Cmd_1", "HVB_BOGUS").has_value());
    EXPECT_EQ(hvb::commandTable("HVBR7Cmd_1")->size(), 40u);
    hvb::buildAllCommandTables();
    EXPECT_FALSE(tables.contains("Stray"));
    EXPECT_EQ(tables.size(), 45u);
    EXPECT_EQ(tables.entryCount(), 1990u);

    // A copy handed out does not write through.
    auto copy = hvb::commandTable("HVBR7Cmd_1");
    copy->erase("HVB_REBOOT");
    EXPECT_EQ(hvb::lookupCommand("HVBR7Cmd_1", "HVB_REBOOT"), 0x05);
}

TEST_F(GlobalTables, ReadersOnOtherThreadsNeverSeeAHalfBuiltDictionary) {
    std::atomic<bool> stop{false};
    std::atomic<int> misses{0}, reads{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 4; ++r)
        readers.emplace_back([&, r] {
            const auto& order = hvb::commandTableSearchOrder();
            for (std::size_t i = r; !stop.load(); i = (i + 1) % order.size()) {
                if (!hvb::lookupCommand(order[i], "HVB_FWVERSION").has_value() && order[i] != "HVBR4Cmd_0") ++misses;
                if (!hvb::commandTable(order[i]).has_value()) ++misses;
                ++reads;
            }
        });
    for (int i = 0; i < 50; ++i) hvb::buildAllCommandTables();
    while (reads.load() < 1000) std::this_thread::yield();
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(misses.load(), 0);
}

TEST_F(GlobalTables, Catalogues) {
    EXPECT_EQ(hvb::supportedModels(),
              (std::vector<std::string>{"HVBR4", "HVBR7", "HVBS8", "HVBS2A", "HVBR4B", "HVBT3A", "HW7312", "HW7313",
                                        "HW7331", "HW7332", "HW7333", "HW7334", "HW7351", "HW7352", "HW7360"}));
    const auto& display = hvb::modelDisplayNames();
    EXPECT_EQ(display.size(), 15u);
    const std::map<std::string, std::vector<std::string>> byName = {
        {"Brevantis HVBR4", {"HVBR4", "HVBR4B", "HW7312", "HW7313"}},
        {"Brevantis HVBR7", {"HVBR7"}},
        {"Brevantis HVBS8", {"HVBS8"}},
        {"Brevantis HVBS2", {"HVBS2A", "HW7331", "HW7332", "HW7333", "HW7334"}},
        {"Brevantis HVBT3", {"HVBT3A", "HW7351", "HW7352"}},
        {"Brevantis HVBT9", {"HW7360"}}};
    for (const auto& [shown, models] : byName)
        for (const auto& m : models) EXPECT_EQ(display.count(m) ? display.at(m) : "", shown) << m;
    for (const char* other : {"HVBS2P", "HVBS2", "HVBT3", "HVBT9", "hvbr4"}) EXPECT_EQ(display.count(other), 0u);

    const auto& packages = hvb::firmwarePackageNames();
    EXPECT_EQ(packages.size(), 15u);
    EXPECT_EQ(packages.at("HVBR4"), "FWHVBR4.zip");
    EXPECT_EQ(packages.at("HVBS2A"), "FWHVBS2A.zip");
    EXPECT_EQ(packages.at("HW7360"), "FWHW7360.zip");
    for (const auto& m : hvb::supportedModels()) EXPECT_EQ(packages.count(m), 1u) << m;

    // The probe order: every table once, the oldest HVBR4 firmware last.
    const auto& order = hvb::commandTableSearchOrder();
    ASSERT_EQ(order.size(), 45u);
    EXPECT_EQ(std::set<std::string>(order.begin(), order.end()),
              std::set<std::string>(hvb::commandTableNames().begin(), hvb::commandTableNames().end()));
    EXPECT_EQ(order.front(), "HVBR4BCmd_0");
    EXPECT_EQ(order[6], "HVBS2ACmd_1");
    EXPECT_EQ(order[32], "HVBR4Cmd_1");
    EXPECT_EQ(order.back(), "HVBR4Cmd_0");
    for (const auto& name : order) EXPECT_TRUE(hvb::cmdTables().contains(name)) << name;

    EXPECT_EQ(hvb::commandTableName("HVBT3A", 4), "HVBT3ACmd_4");
    EXPECT_EQ(hvb::commandTableName("HW7360", 0), "HW7360Cmd_0");
}

}  // namespace
