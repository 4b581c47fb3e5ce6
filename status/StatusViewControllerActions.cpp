// The Status panel's device actions: label, team sync, buzzer, folder, firmware upgrade, and the
// battery and storage reads of the row ticks.
#include "status/StatusViewController.h"

#include <cstdio>
#include <filesystem>
#include <map>

#include "camera/CameraLink.h"
#include "camera/DeviceInfoReader.h"
#include "camera/NvUSBcmd.h"
#include "camera/Shell.h"
#include "common/DeviceDialogGlobals.h"
#include "common/LocalizedString.h"
#include "common/MsgDialog.h"
#include "online/FirmwareManager.h"
#include "online/UsageReports.h"
#include "platform/appkit/Alert.h"
#include "platform/appkit/Storyboard.h"
#include "platform/appkit/StoryboardWindow.h"
#include "platform/diskarb/DiskArbitration.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"
#include "status/StatusRowState.h"
#include "status/StatusStorageTable.h"
#include "status/StatusTableViewCell.h"

namespace hvb {

namespace {

using namespace LocalizedString;

constexpr size_t kPayloadLimit = NvUSBcmd::kDataPayloadSize;
// xdg-open's exit status when no program to open the folder with was found.
constexpr int kOpenerFoundNoTool = 3;

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
    t.model = cameraLink()->recordFields(status.parameters).ModelName.value_or("");
    return t;
}

std::optional<uint8_t> codeOf(const CommandDictionary& table, const char* name) {
    auto it = table.find(name);
    if (it == table.end()) return std::nullopt;
    return it->second;
}

void sendEvent(const char* name, const std::string& action, const std::string& label) {
    usageReports()->sendEvent(name, {{"action", action}, {"label", label}});
}

// A one-byte read: its value as the camera's byte, and whether the read got through.
int readByte(CameraLink& link, const CameraHandle& service, uint8_t code, bool* ok) {
    std::vector<uint8_t> reply;
    *ok = carried(link.readCommand(service.get(), code, reply, kByteReadLength));
    return NvUSBcmd::decodeByte(reply);
}

// A successful write changes the record and tells every panel.
void storeSetting(CameraLink& link, const DeviceRecord& record, EnumSettings key, int64_t value) {
    link.updateRecord(record, [key, value](DiskDriver_Parameter& r) {
        if (r.DeviceParam) r.DeviceParam->set(key, value);
    });
    link.recordsChanged();
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
    queue_->async([t, payload, link = cameraLink()] {
        CameraHandle service = link->open(t.uid);
        if (!service) return failureMessageOnMain();
        bool sent = false;
        if (payload) {
            const auto* bytes = reinterpret_cast<const uint8_t*>(payload->bytes.data());
            sent = carried(link->sendCommandData(service.get(), payload->code,
                                                 std::span<const uint8_t>(bytes, payload->bytes.size())));
        }
        service.reset();
        sendEvent("Edit_User_Label", t.model, sent ? "Success" : "Failed");
        if (!sent) return;
        const std::string stored = payload->sentLabel.toStdString();
        link->updateRecord(t.record, [&stored](DiskDriver_Parameter& r) { r.UserLabel = stored; });
        link->recordsChanged();
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
    queue_->async([t, group, link = cameraLink()] {
        CameraHandle service = link->open(t.uid);
        if (!service) return failureMessageOnMain();
        if (!t.commands.empty()) {
            const auto value = static_cast<uint8_t>(group);
            auto step = [&](const char* command, EnumSettings key, uint8_t byte, const std::string& action) {
                auto code = codeOf(t.commands, command);
                if (!code) return;
                const bool sent = carried(link->sendByte(service.get(), *code, byte));
                sendEvent("Team_Sync_Group", action, t.model);
                if (sent) storeSetting(*link, t.record, key, byte);
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
    });
}

void StatusViewController::setTeamSyncLeader(const StatusModel& status, bool leader) {
    const Target t = targetOf(status);
    queue_->async([t, leader, link = cameraLink()] {
        CameraHandle service = link->open(t.uid);
        if (!service) return failureMessageOnMain();
        if (auto code = codeOf(t.commands, "HVB_BLE_TRIGGER_HOST")) {
            const bool sent = carried(link->sendByte(service.get(), *code, leader ? 1 : 0));
            sendEvent("Team_Sync_Group", leader ? "Leader true" : "Leader false", t.model);
            if (sent) storeSetting(*link, t.record, EnumSettings::BLE_TRIGGER_HOST, leader ? 1 : 0);
        }
    });
}

// ---- row buttons ------------------------------------------------------------------------------

void StatusViewController::findDeviceBuzzer(const StatusModel& status) {
    const Target t = targetOf(status);
    queue_->async([t, link = cameraLink()] {
        CameraHandle service = link->open(t.uid);
        if (!service) {
            foundation::print("service not found");
            return;
        }
        auto code = codeOf(t.commands, "HVB_FINDDEVICE");
        if (!code) {
            foundation::print("cmd is nil");
            return;
        }
        const bool sent = carried(link->sendByte(service.get(), *code, 1));
        service.reset();
        sendEvent("Buzzer", t.model, sent ? "Success" : "Failed");
    });
}

void StatusViewController::openDeviceFolder(const StatusModel& status) {
    const Target t = targetOf(status);
    const bool locked = cameraLink()->recordFields(t.record).isLockStatus.value_or(false);
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
    queue_->async([t, self, link = cameraLink()] {
        auto location = link->mountPoint(t.uid);
        if (!location) {
            sendEvent("Open_Dir", t.model, "mount point not exist");
            dispatch::mainQueue().async([self] {
                if (!self) return;
                appkit::Alert alert;
                alert.messageText = Str::error();
                alert.informativeText = Msg::folderNotMounted();
                alert.addButtonWithTitle(Str::ok());
                alert.runModal();
            });
            return;
        }
        // The folder goes to the opener as one argument, whatever its name holds.
        auto folder = diskarb::pathFromFileURL(*location);
        const ShellResult opened = folder ? Shell::shared().run({"xdg-open", folder->string()}) : ShellResult{};
        sendEvent("Open_Dir", t.model, opened.status == 0 ? "Success" : "Failed");
        if (opened.status == 0) return;
        // The user asked for a window: without one, say why and where the folder is.
        const QString where = QString::fromStdString(folder ? folder->string() : *location);
        QString why;
        if (opened.status == kOpenerFoundNoTool) {
            why = Msg::openFolderNoFileManager().arg(where);
        } else {
            const std::string line = foundation::lastNonEmptyLine(opened.output.value_or(""));
            why = Msg::openFolderFailed().arg(where, line.empty() ? Msg::openerEndedWithStatus().arg(opened.status)
                                                                  : QString::fromStdString(line));
        }
        dispatch::mainQueue().async([self, why] {
            if (!self) return;
            appkit::Alert alert;
            alert.messageText = Str::error();
            alert.informativeText = why;
            alert.addButtonWithTitle(Str::ok());
            alert.runModal();
        });
    });
}

void StatusViewController::startFirmwareUpgrade(const StatusModel& status) {
    const Target t = targetOf(status);
    activeCommandTable = t.commands;
    const bool encrypted = cameraLink()->recordFields(t.record).isDeviceEncryption.value_or(false);
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
    const std::shared_ptr<CameraLink> link = cameraLink();
    const CameraHandle service = link->open(t.uid);
    if (!service) {
        foundation::print("service not found");
        return {};
    }
    if (t.commands.empty()) {
        foundation::print("cmd not found");
        return {};
    }
    // Any read that fails makes the whole reading absent: its zeros would read as a battery.
    bool charging = true;
    if (auto code = codeOf(t.commands, "HVB_ISCHARGING")) {
        bool ok = false;
        const int value = readByte(*link, service, *code, &ok);
        if (!ok) return {};
        charging = value == 1;
    }
    if (auto code = codeOf(t.commands, "HVB_BATTERYCAPACITY")) {
        bool ok = false;
        const int value = readByte(*link, service, *code, &ok);
        if (!ok) return {};
        return {charging, value, false};
    }
    if (auto code = codeOf(t.commands, "HVB_BATTERYLEVEL")) {
        bool ok = false;
        const int value = readByte(*link, service, *code, &ok) & 0xFF;
        if (!ok) return {};
        return {charging, value < 5 ? value : 0, true};
    }
    foundation::print("cmd not found");
    return {};
}

std::vector<std::string> StatusViewController::readString(const StatusModel& status) {
    const Target t = targetOf(status);
    auto code = codeOf(t.commands, "HVB_GET_RESERVEDSPACEANDSIZE");
    if (!code) return {};
    const std::shared_ptr<CameraLink> link = cameraLink();
    const CameraHandle service = link->open(t.uid);
    if (!service) return {};
    std::vector<uint8_t> reply;
    const bool ok =
        carried(link->readCommand(service.get(), *code, reply, static_cast<uint32_t>(kReservedSpaceReadLength)));
    const auto text = NvUSBcmd::decodePrintedString(*code, reply);
    dispatch::pause(kReservedSpacePauseMs);
    if (!ok || !text || text->empty()) return {};
    foundation::print("service = " + std::to_string(service.get()) + ", cmd = " + std::to_string(*code) +
                      ", Get String = " + *text);
    return foundation::splitKeepingEmpty(*text, '-');
}

std::optional<StorageReading> StatusViewController::storageFigure(const StatusModel& status) {
    const Target t = targetOf(status);
    const std::shared_ptr<CameraLink> link = cameraLink();
    auto location = link->mountPoint(t.uid);
    // A camera without a mounted volume (none is mounted on the emulated bus) has no free space
    // to show: the row says why, as its folder and upgrade buttons do.
    if (!location) return t.uid.empty() ? std::nullopt : std::optional<StorageReading>(StorageReading{0, 0, false});
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
        const DiskDriver_Parameter r = link->recordFields(t.record);
        if (r.DeviceParam) settings = StorageSettings{r.DeviceParam->RESOLUTION(), r.DeviceParam->RECORDINGMODE()};
        versionNumber = r.FWVersionNumber;
    }
    ReservedSpace camera;
    if (StatusStorageTable::readsReservedSpace(t.model, versionNumber))
        camera = StatusStorageTable::reservedSpaceFromParts(t.model, readString(status));
    return StorageReading{available, StatusStorageTable::recordingSeconds(t.model, settings, megabytes, camera)};
}

}  // namespace hvb
