#pragma once
// One row of a settings table: its title, its options, the option selected and the command
// that reads and writes it. A separator row has no title and no command.
#include <cstdint>

#include <QString>
#include <QStringList>

namespace hvb {

struct Settings {
    QString settingTitle;
    QStringList comboxBoxValue;
    int64_t selectedIndex = 0;
    QString identifier;

    bool isSeparator() const { return settingTitle.isEmpty(); }
    static Settings separator();
    bool operator==(const Settings&) const = default;
};

}  // namespace hvb
