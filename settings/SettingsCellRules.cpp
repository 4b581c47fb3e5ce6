#include "settings/SettingsCellRules.h"

namespace hvb {

namespace {

bool is(const Settings& row, const char* identifier) { return row.identifier == QLatin1String(identifier); }

}  // namespace

std::vector<SettingsCell> SettingsCellRules::cells(const std::vector<Settings>& rows, bool lockFlag,
                                                   SettingsRuleState& state) {
    std::vector<SettingsCell> out;
    out.reserve(rows.size());
    for (const Settings& row : rows) {
        SettingsCell cell;
        if (row.isSeparator()) {
            cell.showsTitle = false;
            out.push_back(cell);
            continue;
        }
        const bool buffering = is(row, "HVB_BUFFERLENGTH") || is(row, "HVB_BUFFERAUDIO");
        cell.showsTitle = !(buffering && state.defaultRecordingModeIndex == 1);
        if (is(row, "HVB_SYNCTIME")) {
            cell.control = SettingsCell::Control::button;
            cell.enabled = !lockFlag;
            out.push_back(cell);
            continue;
        }
        int64_t i = row.selectedIndex;
        bool e = !lockFlag;
        bool shown = true;
        if (is(row, "HVB_STEALTH")) {
            state.stealthIndex = i;
        } else if (is(row, "HVB_LED") || is(row, "HVB_BUZZERSWITCH") || is(row, "HVB_VIBRATOR")) {
            if (state.stealthIndex == 1) e = false, i = 0;
        } else if (is(row, "HVB_MICROPHONE")) {
            state.micIndex = i;
        } else if (is(row, "HVB_RECORDINGMODE")) {
            state.defaultRecordingModeIndex = i;
        } else if (is(row, "HVB_BUFFERLENGTH")) {
            if (state.defaultRecordingModeIndex == 1) shown = false;
        } else if (is(row, "HVB_BUFFERAUDIO")) {
            if (state.micIndex == 0) e = false, i = 0;
            if (state.defaultRecordingModeIndex == 1) shown = false;
        } else if (is(row, "HVB_VIDEOSTAMP")) {
            state.videoStampIndex = i;
        } else if (is(row, "HVB_WATERMARK")) {
            if (state.videoStampIndex == 0) e = false, i = 0;
        } else if (is(row, "HVB_DATEFORMAT") || is(row, "HVB_TIMEFORMAT")) {
            if (state.videoStampIndex == 0) e = false;
        }
        if (shown) {
            cell.control = SettingsCell::Control::popUp;
            cell.enabled = e && !lockFlag;
            cell.shownIndex = i;
        }
        out.push_back(cell);
    }
    return out;
}

}  // namespace hvb
