#pragma once
// What a pop-up cell reports: the user chose the option at `index` (-1: none) of the pop-up
// whose identifier is the row's command name; `title` is the chosen option's text.
#include <QString>

namespace hvb {

class TableViewComboBoxDelegate {
public:
    virtual ~TableViewComboBoxDelegate() = default;
    virtual void applySetting(int index, const QString& identifier, const QString& title) = 0;
};

}  // namespace hvb
