#pragma once
// A settings table as a person reads it, one line per row: "Title : shown option/count",
// "!" after a disabled control, "[title]" for a button, "---" for a separator, "(blank)" for a
// row that keeps its place but shows neither title nor control.
#include <string>
#include <vector>

#include "settings/Settings.h"
#include "settings/SettingsCellRules.h"

namespace settingstest {

inline std::vector<std::string> describe(const std::vector<hvb::Settings>& rows,
                                         const std::vector<hvb::SettingsCell>& cells) {
    std::vector<std::string> out;
    for (size_t i = 0; i < rows.size(); ++i) {
        const hvb::Settings& row = rows[i];
        const hvb::SettingsCell cell = i < cells.size() ? cells[i] : hvb::SettingsCell{};
        if (row.isSeparator()) {
            out.push_back("---");
            continue;
        }
        std::string line = cell.showsTitle ? row.settingTitle.toStdString() : std::string();
        switch (cell.control) {
            case hvb::SettingsCell::Control::none: line += line.empty() ? "(blank)" : " (no control)"; break;
            case hvb::SettingsCell::Control::button:
                line += " [" + row.comboxBoxValue.value(0).toStdString() + "]";
                break;
            case hvb::SettingsCell::Control::popUp:
                line += " " + row.comboxBoxValue.value(static_cast<int>(cell.shownIndex)).toStdString() + "/" +
                        std::to_string(row.comboxBoxValue.size());
                break;
        }
        if (cell.control != hvb::SettingsCell::Control::none && !cell.enabled) line += " !";
        out.push_back(line);
    }
    return out;
}

}  // namespace settingstest
