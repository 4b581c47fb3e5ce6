#include "settings/HWKeyReset.h"

#include "camera/CameraLink.h"
#include "camera/Settings.h"
#include "online/UsageReports.h"
#include "settings/SettingWrite.h"

namespace hvb {

std::string HWKeyReset::action(int tag) {
    auto value = fromRawValue<IsEnableStatement>(tag);
    return "Reset Using Function Buttons " + (value ? std::string(caseName(*value)) : std::string());
}

HWKeyResetResult HWKeyReset::perform(CameraLink& link, UsageReports& reports, const HWKeyResetRequest& request) {
    HWKeyResetResult result;
    const auto camera = link.camera(request.selectedDeviceIndex);
    if (!camera) return result;
    result.key = camera->entry.key();
    if (!camera->record.DeviceParam) return result;

    auto failed = [&](std::string action, std::string label) {
        result.kind = HWKeyResetResult::Kind::failed;
        result.action = std::move(action);
        result.label = std::move(label);
        reports.sendEvent("Settings_Failed", {{"action", result.action}, {"label", result.label}});
        return result;
    };
    auto code = request.cmdDic.find("HVB_HWKEY_RESET");
    if (code == request.cmdDic.end()) return failed("", "");
    const std::string action = HWKeyReset::action(request.tag);
    auto now = link.record(result.key);
    const std::string label = now ? now->ModelName.value_or("") : std::string();
    if (!link.setDeviceValue(request.uid, code->second, request.tag)) return failed(action, label);
    result.kind = HWKeyResetResult::Kind::written;
    result.action = action;
    result.label = label;
    reports.sendEvent("Settings", {{"action", action}, {"label", label}});
    storeSetting(link, result.key, EnumSettings::HWKEY_RESET, request.tag);
    return result;
}

}  // namespace hvb
