#include "camera/Settings.h"

namespace hvb {

std::string settingCommandName(EnumSettings setting) { return "HVB_" + std::string(caseName(setting)); }

// Each row stands at its case's position and its text spells the case name's offset.
static_assert([] {
    for (std::size_t i = 0; i < kTimeZones.size(); ++i) {
        const TimeZoneEntry& e = kTimeZones[i];
        const std::string_view n = e.caseName, t = e.optionText;
        if (static_cast<std::size_t>(e.zone) != i || n.size() != 7 || t.size() != 9) return false;
        if (t.substr(0, 3) != "UTC" || t[3] != (n[0] == 'P' ? '+' : '-') || (n[0] != 'P' && n[0] != 'N'))
            return false;
        if (t.substr(4, 2) != n.substr(2, 2) || t[6] != ':' || t.substr(7, 2) != n.substr(5, 2)) return false;
    }
    return true;
}());

const std::array<TimeZoneEntry, 39>& timeZoneTable() { return kTimeZones; }

std::string_view timeZoneTableText(TIME_ZONE zone) {
    const auto raw = rawValue(zone);
    if (raw < 0 || raw >= static_cast<int64_t>(timeZoneTable().size())) return {};
    return timeZoneTable()[static_cast<std::size_t>(raw)].optionText;
}

std::string_view timeZoneOffsetText(TIME_ZONE zone) {
    std::string_view text = timeZoneTableText(zone);
    if (text.size() > 3) text.remove_prefix(3);  // drop "UTC"
    return text;
}

}  // namespace hvb
