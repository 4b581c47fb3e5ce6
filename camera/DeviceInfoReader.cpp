#include "camera/DeviceInfoReader.h"

#include <algorithm>

#include "camera/BVConfigIni.h"
#include "camera/CameraLinkHooks.h"
#include "camera/DeviceState.h"
#include "camera/NvUSBcmd.h"
#include "platform/foundation/TextCharacters.h"
#include "camera/VersionNumber.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"

namespace hvb {

namespace {

std::optional<uint8_t> code(const CommandDictionary& table, const std::string& name) {
    auto it = table.find(name);
    if (it == table.end()) return std::nullopt;
    return it->second;
}

bool has(const CommandDictionary& table, const std::string& name) { return table.count(name) != 0; }

std::string readText(io_service_t service, uint8_t cmd, bool& success) {
    auto text = NvUSBcmd::readCommandString(service, cmd, kTextReadLength, &success);
    dispatch::pause(kReadPauseMs);
    return text.value_or("");
}

// The head of a read's log line: which service and which command.
std::string prefixLine(io_service_t service, uint8_t cmd) {
    return "service = " + std::to_string(service) + ", cmd = " + std::to_string(cmd);
}

struct Identity {
    std::optional<std::string> uid;
    std::string model;
    std::string version;
    bool oldFirmware = false;
};

void probe(io_service_t service, Identity& id, bool& success) {
    const auto& supported = supportedModels();
    for (const std::string& name : commandTableSearchOrder()) {
        auto table = cmdTables().find(name);
        if (!table || table->empty()) continue;
        if (auto uidCode = code(*table, "HVB_UID")) {
            std::string text = readText(service, *uidCode, success);
            size_t count = foundation::text::characterCount(text);
            if (count >= 12) {
                std::string line = prefixLine(service, *uidCode) + ", uid = " + foundation::escapedForLog(text) + ", length = " + std::to_string(count);
                foundation::print("XXXXXXX " + line);
                if (foundation::text::isAsciiAlphanumeric(text)) {
                    foundation::print(line);
                    id.uid = text;
                    return;
                }
            }
            continue;
        }
        if (auto infoCode = code(*table, "HVB_INFORMATION")) {
            std::string text = readText(service, *infoCode, success);
            auto parts = foundation::splitKeepingEmpty(text, '-');
            if (foundation::text::characterCount(text) >= 2 && parts.size() >= 4) {
                foundation::print(prefixLine(service, *infoCode) + ", uid = " + foundation::escapedForLog(text));
                if (!parts.back().empty()) id.uid = parts.back();
                id.version = parts[1];
                std::string model = parts[0] == "HVBS2P" ? "HVBS2A" : parts[0];
                id.model = std::find(supported.begin(), supported.end(), model) != supported.end() ? model : "";
                return;
            }
            continue;
        }
        if (has(*table, "HVB_GetPersonalStamp")) {
            if (auto oldCode = code(*table, "HVB_FWVersion_Old")) {
                auto answer = NvUSBcmd::readCommandDigitPrefixedString(service, *oldCode, kTextReadLength, &success);
                dispatch::pause(kReadPauseMs);
                if (answer && !answer->empty()) {
                    id.oldFirmware = true;
                    id.model = "HVBR4";
                    id.version = *answer;
                    id.uid.reset();
                    return;
                }
            }
        }
    }
}

}  // namespace

int64_t timeZoneRawValue(const std::string& text) {
    std::u32string chars = foundation::text::characters(text);
    std::u32string name = text.find('+') != std::string::npos ? U"P_" : U"N_";
    if (chars.size() >= 3) name += chars.substr(1, 2);
    name += U"_";
    if (chars.size() >= 6) name += chars.substr(4, 2);
    const std::string wanted = foundation::text::utf8(name);
    for (const auto& zone : timeZoneTable())
        if (zone.caseName == wanted) return static_cast<int64_t>(zone.zone);
    return -1;
}

std::string readUserLabel(io_service_t service, const CommandDictionary& table, bool& success, bool* unicode) {
    if (unicode) *unicode = false;
    std::string label;
    if (!table.empty()) {
        if (auto c = code(table, "HVB_UTF8_USERLABEL")) {
            label = NvUSBcmd::readCommandString(service, *c, kTextReadLength, &success).value_or("");
        } else if (auto c2 = code(table, "HVB_UNICODE_USERLABEL")) {
            label = NvUSBcmd::readCommandUnicodeLabel(service, *c2, kTextReadLength, &success);
            if (unicode) *unicode = true;
        } else if (auto c3 = code(table, "HVB_USERLABEL")) {
            label = NvUSBcmd::readCommandString(service, *c3, kTextReadLength, &success).value_or("");
        } else if (auto c4 = code(table, "HVB_GetPersonalStamp")) {
            label = NvUSBcmd::readCommandString(service, *c4, kTextReadLength, &success).value_or("");
        }
    }
    dispatch::pause(kReadPauseMs);
    return label;
}

std::shared_ptr<sDeviceParam> readDeviceSettings(io_service_t service, const CommandDictionary& table,
                                                 bool& success) {
    auto settings = std::make_shared<sDeviceParam>();
    for (EnumSettings key : allCases<EnumSettings>()) {
        auto c = code(table, settingCommandName(key));
        if (!c) continue;
        bool ok = false;
        if (key == EnumSettings::TIME_ZONE) {
            std::string text = NvUSBcmd::readCommandNumberPrefixedString(service, *c, kTextReadLength, &ok);
            settings->set(key, ok ? timeZoneRawValue(text) : -1);
        } else {
            int value = NvUSBcmd::readCommandByte(service, *c, kByteReadLength, &ok);
            // A read the transport failed says nothing about the setting: it stays unknown.
            settings->set(key, ok ? static_cast<int64_t>(static_cast<int8_t>(value)) : -1);
        }
        success = ok;
        dispatch::pause(kReadPauseMs);
    }
    return settings;
}

void showStorageErrorDialog(const DeviceRecord& record, const CommandDictionary& table) {
    dispatch::mainQueue().async(storageErrorDialog(record, table));
}

dispatch::Task storageErrorDialog(const DeviceRecord& record, const CommandDictionary& table) {
    return [record, table] {
        auto [error, uid] = DeviceState::shared().readRecord(record, [](const DiskDriver_Parameter& r) {
            return std::make_pair(r.isSDCardError, r.UID.value_or(""));
        });
        if (!error) return;
        auto hooks = cameraLinkHooks();
        if (!hooks.showDiskFormatDialog) return;
        hooks.showDiskFormatDialog(localizedString("Message", "SD_CARD_ERROR", kStorageErrorDefault), table, uid);
    };
}

std::pair<DeviceRecord, bool> readDeviceInfo(io_service_t service, dispatch::Task* afterRead) {
    auto record = std::make_shared<DiskDriver_Parameter>();
    auto& state = DeviceState::shared();
    bool success = false;

    Identity id;
    probe(service, id, success);

    if (id.model.empty()) {
        for (const std::string& name : commandTableNames()) {
            auto table = cmdTables().find(name);
            if (!table || table->empty()) continue;
            auto c = code(*table, "HVB_MODEL");
            if (!c) continue;
            std::string model = readText(service, *c, success);
            if (!model.empty()) {
                id.model = model;
                foundation::print(prefixLine(service, *c) + ", Get Model = " + foundation::escapedForLog(model));
                break;
            }
        }
    }
    if (!fwVersionThresholds().count(id.model)) foundation::print("Invalid");

    // Without a model no table can follow, so there is nothing to ask for a version.
    if (id.version.empty() && !id.model.empty()) {
        const std::string prefix = id.model + "Cmd";
        for (const std::string& name : commandTableNames()) {
            if (name.find(prefix) == std::string::npos) continue;
            auto table = cmdTables().find(name);
            if (!table || table->empty()) continue;
            auto c = code(*table, "HVB_FWVERSION");
            if (!c) continue;
            std::string version = readText(service, *c, success);
            if (!version.empty()) {
                id.version = version;
                foundation::print("service = " + std::to_string(service) + ",cmd = " + std::to_string(*c) +
                                  ", Get Version = " + foundation::escapedForLog(version));
                break;
            }
        }
    }

    int64_t cut = 0;
    if (!id.model.empty() && !id.version.empty()) cut = commandTableIndex(id.model, id.version);
    state.updateRecord(record, [&](DiskDriver_Parameter& r) {
        r.cut = cut;
        r.isOldFirmware = id.oldFirmware;
        r.UID = id.uid;
        r.ModelName = id.model;
        r.FWVersion = id.version;
    });
    foundation::print("deviceUID = " + foundation::escapedForLog(id.uid.value_or("")) + ", deviceModel = " +
                      foundation::escapedForLog(id.model) + ", deviceFWVersionStr = " + foundation::escapedForLog(id.version));

    auto table = cmdTables().find(commandTableName(id.model, static_cast<int>(cut)));
    if (!table) return {record, false};

    if (auto c = code(*table, "HVB_SD_CARD_STATUS")) {
        int value = NvUSBcmd::readCommandByte(service, *c, kTextReadLength, &success);
        foundation::print("SD card status = " + std::to_string(value));
        state.updateRecord(record, [&](DiskDriver_Parameter& r) { r.isSDCardError = value == 1; });
        if (afterRead) *afterRead = storageErrorDialog(record, *table);
        else showStorageErrorDialog(record, *table);
    }

    bool unicode = false;
    std::string label = readUserLabel(service, *table, success, &unicode);
    if (label.empty()) {
        auto names = modelDisplayNames();
        auto it = names.find(id.model);
        if (it == names.end()) return {record, false};
        label = it->second;
        unicode = false;
    }
    state.updateRecord(record, [&](DiskDriver_Parameter& r) {
        r.UserLabel = label;
        r.isUserLabelUnicode = unicode;
        r.isCustomizedFirmware = id.version.find('_') != std::string::npos;
        r.FWVersionNumber = parseVersionNumber(id.version);
        r.isSupportRussian = has(*table, "HVB_UTF8_USERLABEL") || has(*table, "HVB_UNICODE_USERLABEL");
    });

    bool locked = false, encrypted = false;
    if (!id.oldFirmware) {
        if (auto c = code(*table, "HVB_HIDDENSTORAGE")) {
            locked = NvUSBcmd::readCommandByte(service, *c, kByteReadLength, &success) == 1;
            dispatch::pause(kReadPauseMs);
        }
        if (auto c = code(*table, "HVB_IS_ENCRYPT")) {
            encrypted = NvUSBcmd::readCommandByte(service, *c, kByteReadLength, &success) == 1;
            dispatch::pause(kEncryptionPauseMs);
        }
    }
    state.updateRecord(record, [&](DiskDriver_Parameter& r) {
        r.isLockStatus = locked;
        r.isDeviceEncryption = encrypted;
    });

    auto settings = readDeviceSettings(service, *table, success);
    state.updateRecord(record, [&](DiskDriver_Parameter& r) { r.DeviceParam = settings; });

    writeBVConfigIni(record);
    return {record, success};
}

}  // namespace hvb
