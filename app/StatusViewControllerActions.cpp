// The Status panel's device actions: label, team sync, buzzer, folder, firmware upgrade, and the
// battery and storage reads of the row ticks.
#include "app/StatusViewController.h"

#include <cstdio>
#include <filesystem>
#include <map>

#include "app/DeviceDialogGlobals.h"
#include "app/LocalizedString.h"
#include "app/MsgDialog.h"
#include "app/StatusRowState.h"
#include "app/StatusStorageTable.h"
#include "app/StatusTableViewCell.h"
#include "camera/DeviceInfoManager.h"
#include "camera/DeviceInfoReader.h"
#include "camera/DeviceState.h"
#include "camera/NvUSBcmd.h"
#include "camera/Shell.h"
#include "online/FirmwareManager.h"
#include "online/Google4Analytics.h"
#include "platform/appkit/Alert.h"
#include "platform/appkit/Storyboard.h"
#include "platform/appkit/StoryboardWindow.h"
#include "platform/diskarb/DiskArbitration.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"

namespace hvb {

namespace {

using namespace LocalizedString;

constexpr size_t kPayloadLimit = NvUSBcmd::kDataPayloadSize;

// What the actions need of a snapshot, read once on the calling thread.
struct Target {
    std::string uid;    // upper case; empty when the record has none
    std::string model;  // empty when the record has none
    DeviceRecord record;
    CommandDictionary commands;
};

Target targetOf(const StatusModel& status) {
    Target t;
    t.record = status.parameters;
    t.commands = status.commands;
    t.uid = upperCaseUID(status.parameters);
    if (status.parameters) {
        t.model = DeviceState::shared().readRecord(status.parameters,
                                                   [](const DiskDriver_Parameter& r) { return r.ModelName.value_or(""); });
    }
    return t;
}

std::optional<uint8_t> codeOf(const CommandDictionary& table, const char* name) {
    auto it = table.find(name);
    if (it == table.end()) return std::nullopt;
    return it->second;
}

void sendEvent(const char* name, const std::string& action, const std::string& label) {
    Google4Analytics::sendEvent(name, Google4Analytics::Params{{"action", action}, {"label", label}});
}

bool sendByte(io_service_t service, uint8_t code, uint8_t value) {
    return NvUSBcmd::sendCommandData(service, code, std::span<const uint8_t>(&value, 1));
}

// A successful write changes the record and tells every panel.
void storeSetting(const DeviceRecord& record, EnumSettings key, int64_t value) {
    DeviceState::shared().updateRecord(record, [key, value](DiskDriver_Parameter& r) {
        if (r.DeviceParam) r.DeviceParam->set(key, value);
    });
    postStatusDidGet();
}

void failureMessageOnMain() {
    dispatch::mainQueue().async([] { StatusViewController::showMessageDialog(); });
}

// A label cut to whole characters within the command block.
std::string utf8Within(const QString& label, size_t limit) {
    std::string bytes = label.toStdString();
    if (bytes.size() <= limit) return bytes;
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) --cut;
    bytes.resize(cut);
    return bytes;
}

}  // namespace

// ---- payloads ---------------------------------------------------------------------------------

std::vector<std::string> StatusViewController::unicodeHexScalars(const QString& label) {
    std::vector<std::string> groups;
    for (QChar unit : label) {
        char group[8];
        std::snprintf(group, sizeof group, "%04x", static_cast<unsigned>(unit.unicode()));
        groups.emplace_back(group);
    }
    return groups;
}

std::optional<StatusViewController::LabelPayload> StatusViewController::userLabelPayload(const CommandDictionary& table,
                                                                                          const QString& label) {
    if (table.empty()) return std::nullopt;
    LabelPayload payload;
    if (auto code = codeOf(table, "HVB_UTF8_USERLABEL")) {
        payload.command = "HVB_UTF8_USERLABEL";
        payload.code = *code;
    } else if (auto code2 = codeOf(table, "HVB_UNICODE_USERLABEL")) {
        payload.command = "HVB_UNICODE_USERLABEL";
        payload.code = *code2;
        // The count of code units, then four hex digits per unit, cut at a whole group (and
        // never between the two halves of a surrogate pair) so the count says what was sent.
        const std::vector<std::string> groups = unicodeHexScalars(label);
        size_t units = groups.size();
        while (units > 0 && std::to_string(units).size() + 4 * units > kPayloadLimit) --units;
        if (units > 0 && units < static_cast<size_t>(label.size()) && label.at(static_cast<qsizetype>(units) - 1).isHighSurrogate())
            --units;
        payload.bytes = std::to_string(units);
        for (size_t i = 0; i < units; ++i) payload.bytes += groups[i];
        payload.sentLabel = label.left(static_cast<qsizetype>(units));
        return payload;
    } else if (auto code3 = codeOf(table, "HVB_USERLABEL")) {
        payload.command = "HVB_USERLABEL";
        payload.code = *code3;
    } else {
        return std::nullopt;
    }
    payload.bytes = utf8Within(label, kPayloadLimit);
    payload.sentLabel = QString::fromStdString(payload.bytes);
    return payload;
}

void StatusViewController::showMessageDialog(const QString& text) {
    hvb::showMessageDialog(false, Str::fail(), text);
}

// ---- edit sheet -------------------------------------------------------------------------------

void StatusViewController::editUserLabel(const StatusModel& status, const QString& label) {
    const Target t = targetOf(status);
    const std::optional<LabelPayload> payload = userLabelPayload(t.commands, label);
    queue_->async([t, payload] {
        io_service_t service = DeviceInfoManager::shared().driverService(t.uid);
        if (!service) return failureMessageOnMain();
        bool sent = false;
        if (payload) {
            sent = NvUSBcmd::sendCommandData(service, payload->code, payload->bytes);
        }
        IOObjectRelease(service);
        sendEvent("Edit_User_Label", t.model, sent ? "Success" : "Failed");
        if (!sent) return;
        const std::string stored = payload->sentLabel.toStdString();
        DeviceState::shared().updateRecord(t.record, [&stored](DiskDriver_Parameter& r) { r.UserLabel = stored; });
        postStatusDidGet();
    });
}

void StatusViewController::setTeamSyncGroup(const StatusModel& status, int64_t group) {
    const Target t = targetOf(status);
    if (group < 0 || group > 255) {
        // One byte carries the group: anything else would reach the camera as another group.
        sendEvent("Team_Sync_Group", "Failed", t.model);
        showMessageDialog();
        return;
    }
    queue_->async([t, group] {
        io_service_t service = DeviceInfoManager::shared().driverService(t.uid);
        if (!service) return failureMessageOnMain();
        if (!t.commands.empty()) {
            const auto value = static_cast<uint8_t>(group);
            auto step = [&](const char* command, EnumSettings key, uint8_t byte, const std::string& action) {
                auto code = codeOf(t.commands, command);
                if (!code) return;
                const bool sent = sendByte(service, *code, byte);
                sendEvent("Team_Sync_Group", action, t.model);
                if (sent) storeSetting(t.record, key, byte);
            };
            if (group != 0) {
                step("HVB_TEAMSYNC", EnumSettings::TEAMSYNC, 1, "true");
                step("HVB_TEAMSYNC_GROUP", EnumSettings::TEAMSYNC_GROUP, value, std::to_string(group));
            } else {
                step("HVB_TEAMSYNC", EnumSettings::TEAMSYNC, 0, "false");
                step("HVB_TEAMSYNC_GROUP", EnumSettings::TEAMSYNC_GROUP, 0, "0");
                step("HVB_BLE_TRIGGER_HOST", EnumSettings::BLE_TRIGGER_HOST, 0, "Leader false");
            }
        }
        IOObjectRelease(service);
    });
}

void StatusViewController::setTeamSyncLeader(const StatusModel& status, bool leader) {
    const Target t = targetOf(status);
    queue_->async([t, leader] {
        io_service_t service = DeviceInfoManager::shared().driverService(t.uid);
        if (!service) return failureMessageOnMain();
        if (auto code = codeOf(t.commands, "HVB_BLE_TRIGGER_HOST")) {
            const bool sent = sendByte(service, *code, leader ? 1 : 0);
            sendEvent("Team_Sync_Group", leader ? "Leader true" : "Leader false", t.model);
            if (sent) storeSetting(t.record, EnumSettings::BLE_TRIGGER_HOST, leader ? 1 : 0);
        }
        IOObjectRelease(service);
    });
}

// ---- row buttons ------------------------------------------------------------------------------

void StatusViewController::findDeviceBuzzer(const StatusModel& status) {
    const Target t = targetOf(status);
    queue_->async([t] {
        io_service_t service = DeviceInfoManager::shared().driverService(t.uid);
        if (!service) {
            foundation::print("service not found");
            return;
        }
        auto code = codeOf(t.commands, "HVB_FINDDEVICE");
        if (!code) {
            foundation::print("cmd is nil");
            IOObjectRelease(service);
            return;
        }
        const bool sent = sendByte(service, *code, 1);
        IOObjectRelease(service);
        sendEvent("Buzzer", t.model, sent ? "Success" : "Failed");
    });
}

void StatusViewController::openDeviceFolder(const StatusModel& status) {
    const Target t = targetOf(status);
    const bool locked = t.record && DeviceState::shared().readRecord(t.record, [](const DiskDriver_Parameter& r) {
        return r.isLockStatus.value_or(false);
    });
    if (locked) {
        auto* entry = appkit::Storyboard::main().instantiateController<appkit::ViewController>(
            "PasswordEnterViewController");
        if (!entry) {
            foundation::print("No controller for PasswordEnterViewController");
            return;
        }
        passwordEnterFromPanel = true;
        presentViewControllerAsModalWindow(entry);
        return;
    }
    QPointer<StatusViewController> self(this);
    queue_->async([t, self] {
        auto location = DeviceInfoManager::shared().mountPoint(t.uid);
        if (!location) {
            sendEvent("Open_Dir", t.model, "mount point not exist");
            dispatch::mainQueue().async([self] {
                if (!self) return;
                appkit::Alert alert;
                alert.messageText = Str::error();
                alert.addButtonWithTitle(Str::ok());
                alert.runModal();
            });
            return;
        }
        // The folder goes to the opener as one argument, whatever its name holds.
        auto folder = diskarb::pathFromFileURL(*location);
        const int status = folder ? Shell::shared().run({"xdg-open", folder->string()}).status : -1;
        sendEvent("Open_Dir", t.model, status == 0 ? "Success" : "Failed");
    });
}

void StatusViewController::startFirmwareUpgrade(const StatusModel& status) {
    const Target t = targetOf(status);
    activeCommandTable = t.commands;
    const bool encrypted = t.record && DeviceState::shared().readRecord(t.record, [](const DiskDriver_Parameter& r) {
        return r.isDeviceEncryption.value_or(false);
    });
    if (!encrypted) {
        openFirmwareUpgrade(t.model, false);
        return;
    }
    const bool ran = appkit::runModalWindowFromStoryboard(
        "PasswordEnterWindowController", "No controller for PasswordEnterWindowController", nullptr, [] {
            // The unlock dialog removes nothing here: it unlocks for the upgrade, not "unlock only".
            passwordEnterFromPanel = false;
            passwordEnterForUpgrade = true;
        });
    if (ran && passwordEnterUnlocked) openFirmwareUpgrade(t.model, true);
}

void StatusViewController::openFirmwareUpgrade(const std::string& model, bool afterUnlock) {
    if (upgradeOpening_) return;
    upgradeOpening_ = true;
    QPointer<StatusViewController> self(this);
    // Asking the web service for the latest version may take a while: not on the GUI thread.
    dispatch::globalQueue(dispatch::QoS::userInitiated).async([model, afterUnlock, self] {
        std::string latest = firmwareManager().getLatestFirmwareVersion(model);
        dispatch::mainQueue().async([latest = std::move(latest), afterUnlock, self] {
            if (!self) return;
            self->upgradeOpening_ = false;
            if (afterUnlock) foundation::print(latest);
            latestFirmwareVersion = latest;
            firmwareUpgradeState = 0;
            appkit::runModalWindowFromStoryboard("FWUpgradeWindowController",
                                                 "No controller for FWUpgradeWindowController", &firmwareUpgradeWindow);
        });
    });
}

// ---- tick reads -------------------------------------------------------------------------------

BatteryReading StatusViewController::readBatteryState(const StatusModel& status) {
    const Target t = targetOf(status);
    io_service_t service = DeviceInfoManager::shared().driverService(t.uid);
    if (!service) {
        foundation::print("service not found");
        return {};
    }
    BatteryReading reading;
    auto done = [service](BatteryReading result) {
        IOObjectRelease(service);
        return result;
    };
    if (t.commands.empty()) {
        foundation::print("cmd not found");
        return done({});
    }
    // Any read that fails makes the whole reading absent: its zeros would read as a battery.
    bool charging = true;
    if (auto code = codeOf(t.commands, "HVB_ISCHARGING")) {
        bool ok = false;
        const int value = NvUSBcmd::readCommandByte(service, *code, kByteReadLength, &ok);
        if (!ok) return done({});
        charging = value == 1;
    }
    if (auto code = codeOf(t.commands, "HVB_BATTERYCAPACITY")) {
        bool ok = false;
        const int value = NvUSBcmd::readCommandByte(service, *code, kByteReadLength, &ok);
        if (!ok) return done({});
        return done({charging, value, false});
    }
    if (auto code = codeOf(t.commands, "HVB_BATTERYLEVEL")) {
        bool ok = false;
        const int value = NvUSBcmd::readCommandByte(service, *code, kByteReadLength, &ok) & 0xFF;
        if (!ok) return done({});
        return done({charging, value < 5 ? value : 0, true});
    }
    foundation::print("cmd not found");
    return done(reading);
}

std::vector<std::string> StatusViewController::readString(const StatusModel& status) {
    const Target t = targetOf(status);
    auto code = codeOf(t.commands, "HVB_GET_RESERVEDSPACEANDSIZE");
    if (!code) return {};
    io_service_t service = DeviceInfoManager::shared().driverService(t.uid);
    if (!service) return {};
    bool ok = false;
    const auto text =
        NvUSBcmd::readCommandString(service, *code, static_cast<uint32_t>(kReservedSpaceReadLength), &ok);
    dispatch::pause(kReservedSpacePauseMs);
    if (!ok || !text || text->empty()) {
        IOObjectRelease(service);
        return {};
    }
    foundation::print("service = " + std::to_string(service) + ", cmd = " + std::to_string(*code) +
                      ", Get String = " + *text);
    IOObjectRelease(service);
    return foundation::splitKeepingEmpty(*text, '-');
}

std::optional<StorageReading> StatusViewController::storageFigure(const StatusModel& status) {
    const Target t = targetOf(status);
    auto location = DeviceInfoManager::shared().mountPoint(t.uid);
    if (!location) return std::nullopt;
    auto folder = diskarb::pathFromFileURL(*location);
    if (!folder) return std::nullopt;
    std::error_code ec;
    const std::filesystem::space_info space = std::filesystem::space(*folder, ec);
    if (ec || space.available == static_cast<std::uintmax_t>(-1)) return std::nullopt;
    const auto available = static_cast<int64_t>(space.available);
    const double megabytes = static_cast<double>(available) / 1024.0 / 1024.0;

    std::optional<StorageSettings> settings;
    std::optional<int64_t> versionNumber;
    if (t.record) {
        DeviceState::shared().readRecord(t.record, [&](const DiskDriver_Parameter& r) {
            if (r.DeviceParam) settings = StorageSettings{r.DeviceParam->RESOLUTION(), r.DeviceParam->RECORDINGMODE()};
            versionNumber = r.FWVersionNumber;
            return 0;
        });
    }
    ReservedSpace camera;
    if (StatusStorageTable::readsReservedSpace(t.model, versionNumber))
        camera = StatusStorageTable::reservedSpaceFromParts(t.model, readString(status));
    return StorageReading{available, StatusStorageTable::recordingSeconds(t.model, settings, megabytes, camera)};
}

}  // namespace hvb
