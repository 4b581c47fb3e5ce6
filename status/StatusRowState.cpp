#include "status/StatusRowState.h"

#include <cmath>

#include <QLocale>
#include <QStringList>

#include "camera/CameraLink.h"
#include "common/LocalizedString.h"
#include "online/FirmwareManager.h"
#include "status/BatteryIndicator.h"

namespace hvb {

namespace {

using namespace LocalizedString;

QString withoutBlanks(const std::string& text) {
    QString out = QString::fromStdString(text);
    out.remove(QLatin1Char(' '));
    return out;
}

struct RecordFields {
    std::optional<std::string> model, uid, firmware, label;
    std::optional<bool> locked;
    bool sdCardError = false;
    int64_t teamSyncGroup = 0;
};

RecordFields fieldsOf(const DeviceRecord& record) {
    if (!record) return {};
    const DiskDriver_Parameter r = cameraLink()->recordFields(record);
    RecordFields f;
    f.model = r.ModelName;
    f.uid = r.UID;
    f.firmware = r.FWVersion;
    f.label = r.UserLabel;
    f.locked = r.isLockStatus;
    f.sdCardError = r.isSDCardError;
    f.teamSyncGroup = r.DeviceParam ? r.DeviceParam->TEAMSYNC_GROUP() : 0;
    return f;
}

}  // namespace

std::string upperCaseUID(const DeviceRecord& record) {
    const std::string uid = cameraLink()->recordFields(record).UID.value_or("");
    return QString::fromStdString(uid).toUpper().toStdString();
}

bool StatusRowState::firmwareAllowsWebcam(const QString& firmwareText) {
    const QStringList parts = firmwareText.split(QLatin1Char('.'));
    if (parts.size() != 2) return false;
    bool majorOk = false, minorOk = false;
    for (const QString& part : parts)
        for (QChar c : part)
            if (!c.isDigit() || c.unicode() > 0x7F) return false;
    const qlonglong major = parts[0].toLongLong(&majorOk);
    const qlonglong minor = parts[1].toLongLong(&minorOk);
    if (!majorOk || !minorOk) return false;
    return major > 1 || (major == 1 && minor > 3);
}

StatusRowState StatusRowState::make(const HVBModel* model, const std::optional<StatusModel>& status,
                                    bool firmwareCurrent) {
    StatusRowState state;
    state.webcamMode = model && model->isWebcamMode.load();
    const std::optional<StatusModel> S = model ? status : std::nullopt;
    const bool hasRecord = S && S->parameters;
    const RecordFields R = hasRecord ? fieldsOf(S->parameters) : RecordFields{};
    const auto usb = model ? model->usbInfo() : nullptr;

    state.cardErrorShown = hasRecord && R.sdCardError;
    state.formatShown = state.cardErrorShown;

    if (S) state.imageName = HVBModel::statusImageName(familyName(R.model.value_or("")));
    if (!state.imageName && usb) state.imageName = HVBModel::statusImageName(withoutBlanks(usb->name).toStdString());

    if (S) {
        state.deviceName = QString::fromStdString(R.label.value_or(""));
        state.productName = QString::fromStdString(familyName(R.model.value_or("")));
        state.uid = QString::fromStdString(R.uid.value_or("")).toUpper();
    } else if (usb) {
        state.deviceName = QString::fromStdString(usb->shortLabel().value_or(""));
        state.productName = withoutBlanks(usb->name);
        state.uid = QString::fromStdString(usb->serialNr.value_or("")).left(12);
    }
    if (usb) state.webcamName = QString::fromStdString(usb->name);

    if (!model || !S) return state;

    Details d;
    d.locked = R.locked.value_or(false);
    d.editShown = !d.locked;
    d.webcamButtonShown = S->commands.count("HVB_WEBCAMMODE") && !d.locked && !R.sdCardError;
    d.firmwareText = R.firmware ? QString::fromStdString(FirmwareManager::formatFirmwareVersionText(*R.firmware))
                                : Msg::pleaseUpdateFirmware();
    if (R.model.value_or("") == "HW7312" && R.firmware && firmwareAllowsWebcam(d.firmwareText))
        d.webcamButtonShown = true;
    d.folderShown = !R.sdCardError;
    const std::optional<bool> teamSync = S->teamSync();
    d.teamSyncShown = teamSync.has_value();
    if (!teamSync.value_or(false)) {
        d.teamSyncText = Str::off();
    } else {
        d.teamSyncText = QString::number(R.teamSyncGroup);
        if (S->bleTriggerHost().value_or(false))
            d.teamSyncText += QStringLiteral(" (") + Str::leader() + QStringLiteral(")");
    }
    d.firmwareCurrent = firmwareCurrent;
    d.upgradeShown = !firmwareCurrent && !state.webcamMode;
    state.details = d;
    return state;
}

QString StatusRowState::batteryText(const BatteryReading& reading) {
    if (!reading.isLevel) return QString::number(reading.value) + QStringLiteral("%");
    switch (BatteryCapacity::levelFromRaw(reading.value).value_or(BatteryCapacity::BatteryLevel::exhausted)) {
        case BatteryCapacity::BatteryLevel::high:
        case BatteryCapacity::BatteryLevel::medium:
        case BatteryCapacity::BatteryLevel::low:
            return Msg::batteryCharging();
        case BatteryCapacity::BatteryLevel::full:
            return Msg::batteryFull();
        default:
            return Msg::batteryExhausted();
    }
}

QString StatusRowState::durationText(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0 || seconds > 1e12) return {};
    const auto minutesTotal = static_cast<int64_t>(std::floor(seconds / 60.0));
    const int64_t hours = minutesTotal / 60;
    const int64_t minutes = minutesTotal % 60;
    if (hours == 0) return QString::number(minutes) + QStringLiteral("m");
    if (minutes == 0) return QString::number(hours) + QStringLiteral("h");
    return QString::number(hours) + QStringLiteral("h ") + QString::number(minutes) + QStringLiteral("m");
}

QString StatusRowState::storageText(const StorageReading& reading) {
    if (!reading.mounted) return Msg::storageNotMounted();
    const QString bytes = QLocale().formattedDataSize(reading.availableBytes, 1, QLocale::DataSizeSIFormat);
    const QString time = durationText(reading.seconds);
    if (time.isEmpty()) return bytes;
    return bytes + QStringLiteral(" (") + time + QStringLiteral(")");
}

}  // namespace hvb
