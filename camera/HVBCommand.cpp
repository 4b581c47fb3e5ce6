#include "camera/HVBCommand.h"

#include <cassert>
#include <memory>
#include <unordered_map>

namespace hvb::HVBCommand {

namespace {

// The three command numberings: A for HVBR4/HVBR7/HVBS8, B for HVBS2A, C for HVBT3A, HVBR4B
// and the HW73 series. Within a numbering a name keeps its code, except for the few names a
// table gives itself (Spec::ownNames).
enum class CodeSet { A, B, C };

// A run of consecutive codes: the first name has `first`, each further name the next code.
struct Run {
    uint8_t first;
    std::vector<std::string_view> names;
};

const std::vector<Run>& runs(CodeSet set) {
    static const std::vector<Run>& a = *new const std::vector<Run>{
        {0x01, {"HVB_SYNCDATE", "HVB_SYNCTIME"}},
        {0x04, {"HVB_FWVersion_Old", "HVB_REBOOT"}},
        {0x08, {"HVB_GetPersonalStamp"}},
        {0x19, {"HVB_FORMAT_AND_REBOOT"}},
        {0x1D, {"HVB_UNLOCK_READONLY", "HVB_IS_ENCRYPT"}},
        {0x28, {"HVB_MODEL", "HVB_STATUS", "HVB_HIDDENSTORAGE", "HVB_GET_PWDCHECK", "HVB_IS_PAIRED",
                "HVB_LOCK_CARD"}},
        {0x2F, {"HVB_CLEAN"}},
        {0x31, {"HVB_FORMAT"}},
        {0x33, {"HVB_SET_PWDCHECK", "HVB_UID", "HVB_FWVERSION", "HVB_RESOLUTION", "HVB_VIDEOSTAMP",
                "HVB_USERLABEL", "HVB_MICROPHONE", "HVB_DATEFORMAT", "HVB_TIMEFORMAT", "HVB_LIGHTFREQ",
                "HVB_ISCHARGING", "HVB_FORMAT_1", "HVB_RESETALL", "HVB_FINDDEVICE", "HVB_LED",
                "HVB_IRSWITCH", "HVB_VIDEOLOOPRECORD", "HVB_VIDEOLENGTH", "HVB_UNICODE_USERLABEL",
                "HVB_RESETPWDMODEL", "HVB_CUSTOMIZEDPWDCHECK", "HVB_BUZZERSWITCH", "HVB_RESET"}},
        {0x4B, {"HVB_META_CATEGORY", "HVB_META_USERID"}},
        {0x4F, {"HVB_WATERMARK", "HVB_VOICE_RECORDING", "HVB_VOICE_SAMPLERATE", "HVB_LOCKABLE"}},
        {0x55, {"HVB_BATTERYLEVEL"}},
    };
    static const std::vector<Run>& b = *new const std::vector<Run>{
        {0x50, {"HVB_RESOLUTION", "HVB_VIDEOLOOPRECORD", "HVB_VIDEOLENGTH", "HVB_BUFFERLENGTH",
                "HVB_MICROPHONE", "HVB_STEALTH", "HVB_IRSWITCH", "HVB_VIDEOSTAMP", "HVB_UTF8_USERLABEL",
                "HVB_LIGHTFREQ", "HVB_EIS", "HVB_SYNC_DATETIME", "HVB_DATEFORMAT", "HVB_TIMEFORMAT",
                "HVB_INFORMATION", "HVB_ISCHARGING", "HVB_STATUS", "HVB_FWVERSION", "HVB_WATERMARK",
                "WaterMark_Width", "WaterMark_Height", "WaterMark_Width_second",
                "WaterMark_Height_second", "WaterMark_Raw", "HVB_RECORDINGMODE", "HVB_HWKEY_RESET"}},
        {0x6C, {"HVB_IMAGEFLIP", "HVB_BATTERYCAPACITY"}},
        {0x6F, {"HVB_META_CATEGORY", "HVB_META_USERID"}},
        {0x73, {"HVB_GYROSTATUS", "HVB_TEAMSYNC", "HVB_TEAMSYNC_GROUP", "HVB_VOICE_RECORDING",
                "HVB_VOICE_SAMPLERATE", "HVB_FORMAT_1", "HVB_RESET", "HVB_RESETALL", "HVB_REBOOT",
                "HVB_FINDDEVICE", "STM8SUpgrade"}},
        {0x82, {"HVB_LOCKABLE", "HVB_GET_PWDCHECK", "HVB_SET_PASSWORD", "HVB_HIDDENSTORAGE",
                "HVB_UNLOCK_READONLY", "RestoreFormatLockVersion", "HVB_CUSTOMIZEDPWDCHECK"}},
        {0x8C, {"HVB_LED", "HVB_BUZZERSWITCH", "HVB_VIBRATOR", "HVB_BUFFERAUDIO"}},
        {0x96, {"HVB_CMDLOCK"}},
        {0xAC, {"HVB_PRODUCT_UUID"}},
        {0xE1, {"HVB_WEBCAMMODE"}},
    };
    static const std::vector<Run>& c = *new const std::vector<Run>{
        {0x00, {"HVB_RESOLUTION", "HVB_VIDEOLOOPRECORD", "HVB_VIDEOLENGTH", "HVB_BUFFERLENGTH",
                "HVB_MICROPHONE", "HVB_STEALTH", "HVB_IRSWITCH", "HVB_VIDEOSTAMP", "HVB_UTF8_USERLABEL",
                "HVB_LIGHTFREQ", "HVB_EIS", "HVB_SYNC_DATETIME_STRING", "HVB_DATEFORMAT",
                "HVB_TIMEFORMAT", "HVB_INFORMATION", "HVB_ISCHARGING", "HVB_STATUS", "HVB_FWVERSION",
                "HVB_WATERMARK"}},
        {0x16, {"HVB_FILEFORMAT"}},
        {0x18, {"HVB_RECORDINGMODE", "HVB_HWKEY_RESET"}},
        {0x1D, {"HVB_BATTERYCAPACITY", "HVB_TIME_ZONE", "HVB_META_CATEGORY", "HVB_META_USERID"}},
        {0x24, {"HVB_TEAMSYNC", "HVB_TEAMSYNC_GROUP", "HVB_VOICE_RECORDING", "HVB_VOICE_SAMPLERATE",
                "HVB_WIFI_FREQBANDS", "HVB_GPS_FUNCTION", "HVB_BLE_TRIGGER_HOST",
                "HVB_LOWLIGHT_FUNCTION", "HVB_PROGRAMABLE_KEY_FUNCTION"}},
        {0x2E, {"HVB_BUFFERAUDIO", "HVB_LED", "HVB_BUZZERSWITCH", "HVB_VIBRATOR"}},
        {0x34, {"HVB_BATTERYLEVEL"}},
        {0x36, {"HVB_SD_CARD_STATUS", "HVB_DEFAULT_RECORD_STATUS"}},
        {0x39, {"HVB_GET_RESERVEDSPACEANDSIZE"}},
        {0x46, {"HVB_FORMAT_1", "HVB_RESET", "HVB_RESETALL", "HVB_REBOOT", "HVB_FINDDEVICE"}},
        {0x4D, {"HVB_FW_UPGRADE"}},
        {0x64, {"HVB_LOCKABLE", "HVB_GET_PWDCHECK", "HVB_SET_PASSWORD", "HVB_HIDDENSTORAGE",
                "HVB_UNLOCK_READONLY"}},
        {0x70, {"HVB_NETWORKMODE", "HVB_STA_HOSTSSID", "HVB_STA_HOSTPWD", "HVB_STA_DHCP",
                "HVB_STA_STATIC_IPADDR", "HVB_STA_RTSP_LVIEWSIZE", "HVB_STA_RTSP_LVIEWFPS"}},
        {0xE1, {"HVB_WEBCAMMODE"}},
    };
    switch (set) {
    case CodeSet::A: return a;
    case CodeSet::B: return b;
    case CodeSet::C: break;
    }
    return c;
}

// A table's codes written as ascending hex codes and ranges, "01-02 04-05 08". Checked while
// compiling: a malformed or unordered list does not build.
class CodeList {
public:
    consteval CodeList(const char* text) : text_(text) {  // implicit: specs are written as literals
        if (!walk(text_, nullptr)) throw "malformed or unordered code list";
    }

    std::vector<uint8_t> codes() const {
        std::vector<uint8_t> out;
        walk(text_, &out);
        return out;
    }

private:
    static constexpr int hex(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    static constexpr int byteAt(std::string_view s, std::size_t i) {
        if (i + 2 > s.size()) return -1;
        const int hi = hex(s[i]), lo = hex(s[i + 1]);
        return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
    }
    // Appends each code in order to *out (when given); false when the text is malformed or not
    // strictly ascending. Not a template, so that every compiler can evaluate it while it
    // checks the literal.
    static constexpr bool walk(std::string_view s, std::vector<uint8_t>* out) {
        int previous = -1;
        std::size_t i = 0;
        if (s.empty()) return false;
        while (i < s.size()) {
            const int from = byteAt(s, i);
            if (from < 0) return false;
            i += 2;
            int to = from;
            if (i < s.size() && s[i] == '-') {
                to = byteAt(s, i + 1);
                if (to < 0) return false;
                i += 3;
            }
            if (from <= previous || to < from) return false;
            if (out)
                for (int code = from; code <= to; ++code) out->push_back(static_cast<uint8_t>(code));
            previous = to;
            if (i < s.size()) {
                if (s[i] != ' ' || i + 1 == s.size()) return false;
                ++i;
            }
        }
        return true;
    }

    std::string_view text_;
};

using OwnNames = std::vector<std::pair<uint8_t, std::string_view>>;

struct Spec {
    std::string_view name;
    CodeSet set;
    CodeList codes;
    OwnNames ownNames;  // names this table gives a code instead of its code set's name
};

// Names the HVBR4B, HW7312 and HW7313 firmware gives its own codes.
const OwnNames& r4bNames() {
    static const OwnNames& n =
        *new const OwnNames{{0x1D, "HVB_BATTERYADCVALUE"}, {0x21, "HVB_LED"}, {0x22, "HVB_BUZZERSWITCH"}};
    return n;
}

const std::vector<Spec>& specs() {
    using enum CodeSet;
    static const OwnNames& pwdCheck = *new const OwnNames{{0x33, "GET_SET_PWDCHECK"}};
    static const OwnNames& fileFormat = *new const OwnNames{{0x66, "HVB_FILEFORMAT"}};
    static const OwnNames& t3a1 =
        *new const OwnNames{{0x2A, "HVB_LOWLIGHT_FUNCTION"}, {0x2B, "HVB_PROGRAMABLE_KEY_FUNCTION"}};
    static const std::vector<Spec>& s = *new const std::vector<Spec>{
        {"HVBR4Cmd_0", A, "01-02 04-05 08", {}},
        {"HVBR4Cmd_1", A, "01-02 04-05 19 1D-1E 28-2C 2F 31 33-40 42-44", {}},
        {"HVBR4Cmd_2", A, "01-02 04-05 19 1D-1E 28-2C 2F 31 33-37 39-49", pwdCheck},
        {"HVBR4Cmd_3", A, "01-02 04-05 19 1D-1E 28-2C 2F 31 33-37 39-49 4B-4C", pwdCheck},
        {"HVBR4Cmd_4", A, "01-02 04-05 19 1D-1E 28-2C 2F 31 33-37 39-49 4B-4C 50-51", pwdCheck},
        {"HVBR7Cmd_0", A, "01-02 04-05 19 1D-1E 28-2D 2F 31 33-40 43-44", {}},
        {"HVBR7Cmd_1", A, "01-02 04-05 19 1D-1E 28-2D 2F 31 33-37 39-41 43-49 4B-4C", {}},
        {"HVBR7Cmd_2", A, "01-02 04-05 19 1D-1E 28-2D 2F 31 33-37 39-41 43-49 4B-4C 4F-52", {}},
        {"HVBR7Cmd_3", A, "01-02 04-05 19 1D-1E 28-2D 2F 31 33-37 39-41 43-49 4B-4C 4F-52 55", {}},
        {"HVBS8Cmd_0", A, "01-02 04-05 19 1D-1E 28-2D 2F 31 33-40 43-44", {}},
        {"HVBS8Cmd_1", A, "01-02 04-05 19 1D-1E 28-2D 2F 31 33-37 39-41 43-49", {}},
        {"HVBS8Cmd_2", A, "01-02 04-05 19 1D-1E 28-2D 2F 31 33-37 39-41 43-49 4B-4C 4F-52", {}},
        {"HVBS8Cmd_3", A, "01-02 04-05 19 1D-1E 28-2D 2F 31 33-37 39-41 43-49 4B-4C 4F-52 55", {}},

        {"HVBS2ACmd_1", B, "50-69 6C-6D 6F-70 76-7D 83-88", {}},
        {"HVBS2ACmd_2", B, "50-69 6C-6D 6F-70 73 76-7D 83-88 96 AC", {}},
        {"HVBS2ACmd_3", B, "50-69 6C-6D 6F-70 73-7D 82-88 96 AC", {}},
        {"HVBS2ACmd_4", B, "50-69 6C-6D 6F-70 73-7D 82-88 96 AC", fileFormat},
        {"HVBS2ACmd_5", B, "50-69 6C-6D 6F-70 73-7D 82-88 8C-8F 96 AC", fileFormat},
        {"HVBS2ACmd_6", B, "50-69 6C-6D 6F-70 73-7D 82-88 8C-8F 96 AC E1", fileFormat},

        {"HVBT3ACmd_0", C, "00-05 07-09 0B-12 18-19 1D-20 24-25 27-28 46-4A 64-68", {}},
        {"HVBT3ACmd_1", C, "00-05 07-09 0B-12 18-19 1D-20 27-2B 46-4A 64-68", t3a1},
        {"HVBT3ACmd_2", C, "00-05 07-09 0B-12 18-19 1D-20 24-25 27-2C 46-4A 64-68 70-76", {}},
        {"HVBT3ACmd_3", C, "00-05 07-09 0B-12 18-19 1D-20 24-25 27-2C 2E-31 46-4A 64-68 70-76", {}},
        {"HVBT3ACmd_4", C, "00-05 07-09 0B-12 18-19 1D-20 24-25 27-2C 2E-31 46-4A 64-68 70-76 E1", {}},

        {"HVBR4BCmd_0", C, "00-02 04 06-09 0B-12 19 1D 1F-22 26-27 46 48-4A", r4bNames()},
        {"HVBR4BCmd_1", C, "00-02 04 06-09 0B-12 19 1D 1F-22 26-27 46-4A", r4bNames()},
        {"HW7312Cmd_0", C, "00-02 04 06-09 0B-12 19 1D 1F-22 26-27 34 46-4A", r4bNames()},
        {"HW7312Cmd_1", C, "00-02 04 06-09 0B-12 19 1D 1F-22 26-27 34 46-4A E1", r4bNames()},
        {"HW7313Cmd_0", C, "00-02 04 06-09 0B-12 19 1D 1F-22 26-27 34 39 46-4A", r4bNames()},
        {"HW7313Cmd_1", C, "00-02 04 06-09 0B-12 19 1D 1F-22 26-27 34 39 46-4A E1", r4bNames()},

        {"HW7331Cmd_0", C, "00-09 0B-12 16 18-19 1D 1F-20 24-27 2E-31 46-4A 4D 64-68", {}},
        {"HW7331Cmd_1", C, "00-09 0B-12 16 18-19 1D 1F-20 24-27 2A 2E-31 46-4A 4D 64-68", {}},
        {"HW7331Cmd_2", C, "00-09 0B-12 16 18-19 1D 1F-20 24-27 2A 2E-31 46-4A 4D 64-68 E1", {}},
        {"HW7332Cmd_0", C, "00-09 0B-12 16 18-19 1D 1F-20 24-27 2E-31 46-4A 4D 64-68", {}},
        {"HW7332Cmd_1", C, "00-09 0B-12 16 18-19 1D 1F-20 24-27 2E-31 36 46-4A 4D 64-68 E1", {}},
        {"HW7333Cmd_0", C, "00-09 0B-12 16 18-19 1D 1F-20 24-27 2E-31 36-37 39 46-4A 4D 64-68 E1", {}},
        {"HW7333Cmd_1", C, "00-09 0B-12 16 18-19 1D 1F-20 24-27 2E-31 36-37 39 46-4A 4D 64-68 E1", {}},
        {"HW7334Cmd_0", C, "00-12 16 18-19 1D 1F-20 24-27 2E-31 36-37 46-4A 4D 64-68 E1", {}},
        {"HW7334Cmd_1", C, "00-12 16 18-19 1D 1F-20 24-27 2E-31 36-37 46-4A 4D 64-68 E1", {}},
        {"HW7351Cmd_0", C, "00-05 07-09 0B-12 18-19 1D-20 24-25 27-2C 2E-31 46-4A 64-68 70-76", {}},
        {"HW7351Cmd_1", C, "00-05 07-09 0B-12 18-19 1D-20 24-25 27-2C 2E-31 46-4A 64-68 70-76 E1", {}},
        {"HW7352Cmd_0", C, "00-05 07-09 0B-12 18-19 1D-20 24-25 27-2C 2E-31 46-4A 64-68 70-76", {}},
        {"HW7352Cmd_1", C, "00-05 07-09 0B-12 18-19 1D-20 24-25 27-2C 2E-31 46-4A 64-68 70-76 E1", {}},
        {"HW7360Cmd_0", C, "00-05 07-09 0B-12 16 18-19 1D-20 24-25 27 29 2B-2C 2E-31 37 39 46-4A 64-68 70-76 E1", {}},
        {"HW7360Cmd_1", C, "00-05 07-09 0B-12 16 18-19 1D-20 24-25 27 29 2B-2C 2E-31 37 39 46-4A 64-68 70-76 E1", {}},
    };
    return s;
}

using NameByCode = std::array<std::string_view, 256>;

NameByCode namesOf(CodeSet set) {
    NameByCode names{};
    for (const Run& run : runs(set)) {
        unsigned code = run.first;
        for (std::string_view name : run.names) names[code++] = name;
    }
    return names;
}

Entries entriesOf(const Spec& spec, const NameByCode& setNames) {
    Entries entries;
    for (uint8_t code : spec.codes.codes()) {
        std::string_view name = setNames[code];
        for (const auto& [ownCode, ownName] : spec.ownNames)
            if (ownCode == code) name = ownName;
        assert(!name.empty() && "a table code without a name");
        if (!name.empty()) entries.emplace_back(std::string(name), code);
    }
    return entries;
}

struct Catalogue {
    std::vector<std::unique_ptr<Table>> tables;
    std::vector<std::string> names;
    std::unordered_map<std::string_view, const Table*> byName;
};

const Catalogue& catalogue() {
    static const Catalogue& cat = *new const Catalogue([] {
        Catalogue c;
        const NameByCode setNames[] = {namesOf(CodeSet::A), namesOf(CodeSet::B), namesOf(CodeSet::C)};
        for (const Spec& spec : specs()) {
            const auto& names = setNames[static_cast<int>(spec.set)];
            c.tables.push_back(std::make_unique<Table>(std::string(spec.name), entriesOf(spec, names)));
            c.names.emplace_back(spec.name);
        }
        for (const auto& t : c.tables) c.byName.emplace(t->name(), t.get());
        return c;
    }());
    return cat;
}

}  // namespace

const std::string& Case::name() const { return table_->entries()[index_].first; }
uint8_t Case::rawValue() const { return table_->entries()[index_].second; }

Table::Table(std::string name, Entries entries) : name_(std::move(name)), entries_(std::move(entries)) {
    byCode_.fill(-1);
    for (std::size_t i = 0; i < entries_.size(); ++i) byCode_[entries_[i].second] = static_cast<int16_t>(i);
}

std::vector<Case> Table::allCases() const {
    std::vector<Case> out;
    out.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) out.push_back(Case(this, static_cast<uint16_t>(i)));
    return out;
}

std::optional<Case> Table::caseForCode(uint8_t code) const {
    const int16_t i = byCode_[code];
    if (i < 0) return std::nullopt;
    return Case(this, static_cast<uint16_t>(i));
}

std::optional<Case> Table::caseNamed(std::string_view commandName) const {
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].first == commandName) return Case(this, static_cast<uint16_t>(i));
    return std::nullopt;
}

std::optional<uint8_t> Table::code(std::string_view commandName) const {
    if (auto c = caseNamed(commandName)) return c->rawValue();
    return std::nullopt;
}

const std::vector<std::string>& tableNames() { return catalogue().names; }

const Table* table(std::string_view tableName) {
    const auto& byName = catalogue().byName;
    auto it = byName.find(tableName);
    return it == byName.end() ? nullptr : it->second;
}

const Entries* tableEntries(std::string_view tableName) {
    const Table* t = table(tableName);
    return t ? &t->entries() : nullptr;
}

#define HVB_DEFINE_COMMAND_TABLE(name) \
    const Table& name() { return *table(#name); }
HVB_COMMAND_TABLE_LIST(HVB_DEFINE_COMMAND_TABLE)
#undef HVB_DEFINE_COMMAND_TABLE

}  // namespace hvb::HVBCommand
