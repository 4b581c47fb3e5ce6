#pragma once
// The rows of one settings table, as the table view shows them: two columns, the title and the
// control. Each row carries its cell (whether it has a title, which control, enabled, the
// option shown) worked out when the panel was built.
#include <vector>

#include <QAbstractTableModel>

#include "settings/Settings.h"
#include "settings/SettingsCellRules.h"

namespace hvb {

class SettingsTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { titleColumn = 0, controlColumn = 1 };

    struct Row {
        Settings settings;
        SettingsCell cell;
    };

    explicit SettingsTableModel(QObject* parent = nullptr);

    // Replaces every row (cells without a row get the default cell).
    void setRows(const std::vector<Settings>& rows, const std::vector<SettingsCell>& cells);
    const Row* rowAt(int row) const;
    const std::vector<Row>& rows() const { return rows_; }

    // The widths of this table's pop-ups and of the clock button.
    double popUpWidth = 0;
    double buttonWidth = 0;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    std::vector<Row> rows_;
};

}  // namespace hvb
