#include "settings/SettingWrite.h"

#include <array>

#include "camera/CameraLink.h"
#include "online/UsageReports.h"

namespace hvb {

namespace {

template <class E>
std::string caseOf(int64_t index, const std::string&) {
    auto value = fromRawValue<E>(index);
    return value ? std::string(caseName(*value)) : std::string();
}

std::string titleSuffix(int64_t, const std::string& title) { return title; }

std::string snapshotButtonAction(int64_t index, const std::string&) {
    if (index == 0) return "Snapshot Button IR";
    if (index == 1) return "Snapshot Button Voice";
    return {};
}

using enum EnumSettings;

constexpr auto kOnOff = &caseOf<IsEnableStatement>;

// Every writable setting, its writer and how analytics names a choice of it.
const std::array<SettingWriteRow, 23> kRows = {{
    {"HVB_TIMEFORMAT", TIMEFORMAT, false, "Time Format ", &caseOf<hvb::TIMEFORMAT>},
    {"HVB_DATEFORMAT", DATEFORMAT, false, "Date Format ", &caseOf<hvb::DATEFORMAT>},
    {"HVB_MICROPHONE", MICROPHONE, false, "Microphone ", kOnOff},
    {"HVB_LIGHTFREQ", LIGHTFREQ, false, "Light Frequency ", &caseOf<hvb::LIGHTFREQ>},
    {"HVB_IRSWITCH", IRSWITCH, false, "Infrared LED ", &caseOf<hvb::IRSWITCH>},
    {"HVB_BUZZERSWITCH", BUZZERSWITCH, false, "Buzzer ", kOnOff},
    {"HVB_LED", LED, false, "LED Indicator ", kOnOff},
    {"HVB_STEALTH", STEALTH, false, "Stealth Mode ", kOnOff},
    {"HVB_RECORDINGMODE", RECORDINGMODE, false, "Default Recording Mode ", &caseOf<hvb::RECORDINGMODE>},
    {"HVB_DEFAULT_RECORD_STATUS", DEFAULT_RECORD_STATUS, false, "Default Recording Mode ",
     &caseOf<DEFAULT_RECORDING_STATUS>},
    {"HVB_RESOLUTION", RESOLUTION, false, "Resolution ", titleSuffix},
    {"HVB_BUFFERLENGTH", BUFFERLENGTH, false, "Buffered Video Length ", &caseOf<hvb::BUFFERLENGTH>},
    {"HVB_VIDEOLENGTH", VIDEOLENGTH, false, "Video Length ", &caseOf<hvb::VIDEOLENGTH>},
    {"HVB_VIDEOLOOPRECORD", VIDEOLOOPRECORD, false, "Loop Recording ", kOnOff},
    {"HVB_VIDEOSTAMP", VIDEOSTAMP, false, "Video Stamp ", kOnOff},
    {"HVB_WATERMARK", WATERMARK, false, "Watermark ", kOnOff},
    {"HVB_EIS", EIS, false, "Image Stabilization ", kOnOff},
    {"HVB_VOICE_RECORDING", VOICE_RECORDING, false, "", snapshotButtonAction},
    {"HVB_VOICE_SAMPLERATE", VOICE_SAMPLERATE, false, "Audio Sample Rate ", &caseOf<hvb::VOICE_SAMPLERATE>},
    {"HVB_TIME_ZONE", TIME_ZONE, true, "Time Zone ", &caseOf<hvb::TIME_ZONE>},
    {"HVB_FILEFORMAT", FILEFORMAT, false, "Video Format ", &caseOf<hvb::FILEFORMAT>},
    {"HVB_VIBRATOR", VIBRATOR, false, "Vibrator ", kOnOff},
    {"HVB_BUFFERAUDIO", BUFFERAUDIO, false, "Buffer Audio ", kOnOff},
}};

std::optional<uint8_t> codeIn(const CommandDictionary& table, const std::string& name) {
    auto it = table.find(name);
    if (it == table.end()) return std::nullopt;
    return it->second;
}

SettingWriteResult fail(UsageReports& reports, SettingWriteResult result, std::string action, std::string label) {
    result.kind = SettingWriteResult::Kind::failed;
    result.action = std::move(action);
    result.label = std::move(label);
    reports.sendEvent("Settings_Failed", {{"action", result.action}, {"label", result.label}});
    return result;
}

}  // namespace

const SettingWriteRow* SettingWrite::row(std::string_view identifier) {
    for (const auto& r : kRows)
        if (r.identifier == identifier) return &r;
    return nullptr;
}

std::string SettingWrite::action(const SettingWriteRow& row, int64_t index, const std::string& title) {
    return std::string(row.prefix) + row.suffix(index, title);
}

SettingWriteResult SettingWrite::perform(CameraLink& link, UsageReports& reports, const SettingWriteRequest& request) {
    SettingWriteResult result;
    const auto camera = link.camera(request.selectedDeviceIndex);
    if (!camera) return result;
    result.key = camera->entry.key();
    if (!camera->record.DeviceParam) return result;

    // A pop-up without a chosen option has nothing to write.
    if (request.index < 0) {
        result.kind = SettingWriteResult::Kind::rebuildOnly;
        return result;
    }
    const SettingWriteRow* row = SettingWrite::row(request.identifier);
    if (!row) return fail(reports, result, "", "");
    if (camera->record.DeviceParam->get(row->field) == request.index) {
        result.kind = SettingWriteResult::Kind::rebuildOnly;
        return result;
    }
    auto modelNow = [&] {
        auto now = link.record(result.key);
        return now ? now->ModelName.value_or("") : std::string();
    };
    const auto code = codeIn(request.cmdDic, request.identifier);
    if (!code) {
        if (row->field == EnumSettings::RECORDINGMODE || row->field == EnumSettings::DEFAULT_RECORD_STATUS)
            return fail(reports, result, std::string(row->prefix), modelNow());
        return fail(reports, result, "", "");
    }
    const std::string action = SettingWrite::action(*row, request.index, request.title);
    const std::string label = modelNow();

    const bool accepted = row->timeZoneText ? link.setDeviceString(request.uid, *code, request.index)
                                            : link.setDeviceValue(request.uid, *code, request.index);
    if (!accepted) return fail(reports, result, action, label);

    result.kind = SettingWriteResult::Kind::written;
    result.action = action;
    result.label = label;
    reports.sendEvent("Settings", {{"action", action}, {"label", label}});
    storeSetting(link, result.key, row->field, request.index);

    // The interlocks read the record as it is now.
    const auto now = link.record(result.key);
    if (!now || !now->DeviceParam) return result;
    const sDeviceParam& settings = *now->DeviceParam;
    if (row->field == EnumSettings::RESOLUTION && now->ModelName.value_or("").find("7334") != std::string::npos &&
        request.index != 1 && settings.EIS() == 1) {
        result.interlock = SettingInterlock{0, "HVB_EIS", "res2eis_disable"};
    } else if (row->field == EnumSettings::EIS && request.index == 1 && settings.RESOLUTION() != 1 && settings.RESOLUTION() != -1) {
        result.interlock = SettingInterlock{1, "HVB_RESOLUTION", "eis2res_1080p60fps"};
    }
    return result;
}

bool storeSetting(CameraLink& link, const std::string& key, EnumSettings field, int64_t value) {
    bool stored = false;
    link.updateRecord(key, [&](DiskDriver_Parameter& record) {
        if (!record.DeviceParam) return;
        record.DeviceParam->set(field, value);
        stored = true;
    });
    return stored;
}

}  // namespace hvb
