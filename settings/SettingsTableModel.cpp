#include "settings/SettingsTableModel.h"

namespace hvb {

SettingsTableModel::SettingsTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void SettingsTableModel::setRows(const std::vector<Settings>& rows, const std::vector<SettingsCell>& cells) {
    beginResetModel();
    rows_.clear();
    rows_.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) rows_.push_back(Row{rows[i], i < cells.size() ? cells[i] : SettingsCell{}});
    endResetModel();
}

const SettingsTableModel::Row* SettingsTableModel::rowAt(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return nullptr;
    return &rows_[static_cast<size_t>(row)];
}

int SettingsTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int SettingsTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant SettingsTableModel::data(const QModelIndex& index, int role) const {
    const Row* row = rowAt(index.row());
    if (!row || index.column() != titleColumn) return {};
    switch (role) {
        case Qt::DisplayRole: return row->cell.showsTitle ? row->settings.settingTitle : QString();
        case Qt::TextAlignmentRole: return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        default: return {};
    }
}

Qt::ItemFlags SettingsTableModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;
}

}  // namespace hvb
