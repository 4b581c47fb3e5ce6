#pragma once
// How each row of a settings table is shown: whether it has a title, which control, whether the
// control is enabled and which option it shows. One setting's choice governs others (stealth
// mode over the indicators, the microphone and the recording mode over buffering, the video
// stamp over its formats); the rules are worked out once per build, in row order.
#include <cstdint>
#include <vector>

#include "settings/Settings.h"

namespace hvb {

struct SettingsCell {
    enum class Control { none, popUp, button };

    bool showsTitle = true;
    Control control = Control::none;
    bool enabled = false;
    int64_t shownIndex = 0;  // the option the control shows (may differ from the row's)

    bool operator==(const SettingsCell&) const = default;
};

// The options last shown for the governing rows; -1: that row was not shown in this build.
struct SettingsRuleState {
    int64_t stealthIndex = -1;
    int64_t micIndex = -1;
    int64_t defaultRecordingModeIndex = -1;
    int64_t videoStampIndex = -1;

    bool operator==(const SettingsRuleState&) const = default;
};

class SettingsCellRules {
public:
    // The cells of one table's rows, in row order; the governing rows update `state` as they
    // are met. A locked camera gets no enabled control.
    static std::vector<SettingsCell> cells(const std::vector<Settings>& rows, bool lockFlag, SettingsRuleState& state);
};

}  // namespace hvb
