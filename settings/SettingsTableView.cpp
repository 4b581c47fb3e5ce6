#include "settings/SettingsTableView.h"

#include <QHeaderView>

#include "settings/ButtonCell.h"
#include "settings/PopUpButtonCell.h"
#include "settings/SettingsCellDelegate.h"
#include "settings/SettingsRowView.h"

namespace hvb {

SettingsTableView::SettingsTableView(TableViewComboBoxDelegate* comboBoxDelegate,
                                     TableViewButtonDelegate* buttonDelegate, QWidget* parent)
    : QTableView(parent), model_(new SettingsTableModel(this)) {
    setModel(model_);
    setItemDelegate(new SettingsCellDelegate(comboBoxDelegate, buttonDelegate, this));
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus);
    // Tab goes from one cell's control to the next, not from cell to cell of the table.
    setTabKeyNavigation(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setFrameShape(QFrame::NoFrame);
    setWordWrap(false);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    horizontalHeader()->setMinimumSectionSize(0);
    horizontalHeader()->setStretchLastSection(true);
    setColumnWidth(SettingsTableModel::titleColumn, kTitleColumnWidth);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
}

void SettingsTableView::reloadData(const std::vector<Settings>& rows, const std::vector<SettingsCell>& cells,
                                   double popUpWidth, double buttonWidth) {
    clearSpans();
    model_->popUpWidth = popUpWidth;
    model_->buttonWidth = buttonWidth;
    model_->setRows(rows, cells);
    setColumnWidth(SettingsTableModel::titleColumn, kTitleColumnWidth);
    for (int row = 0; row < model_->rowCount(); ++row) {
        for (int column : {int(SettingsTableModel::titleColumn), int(SettingsTableModel::controlColumn)}) {
            const QModelIndex index = model_->index(row, column);
            if (!SettingsCellDelegate::hasCellWidget(index)) continue;
            if (column == SettingsTableModel::titleColumn) setSpan(row, 0, 1, 2);
            openPersistentEditor(index);
        }
    }
}

PopUpButtonCell* SettingsTableView::popUpCell(int row) const {
    return qobject_cast<PopUpButtonCell*>(indexWidget(model_->index(row, SettingsTableModel::controlColumn)));
}

ButtonCell* SettingsTableView::buttonCell(int row) const {
    return qobject_cast<ButtonCell*>(indexWidget(model_->index(row, SettingsTableModel::controlColumn)));
}

SettingsRowView* SettingsTableView::rowView(int row) const {
    return qobject_cast<SettingsRowView*>(indexWidget(model_->index(row, SettingsTableModel::titleColumn)));
}

QWidget* SettingsTableView::lastControl() const {
    for (int row = model_->rowCount() - 1; row >= 0; --row) {
        for (int column : {int(SettingsTableModel::controlColumn), int(SettingsTableModel::titleColumn)}) {
            QWidget* cell = indexWidget(model_->index(row, column));
            if (!cell) continue;
            QList<QWidget*> controls = cell->findChildren<QWidget*>();
            controls.prepend(cell);
            for (auto it = controls.crbegin(); it != controls.crend(); ++it)
                if ((*it)->focusPolicy() & Qt::TabFocus) return *it;
        }
    }
    return nullptr;
}

QString SettingsTableView::titleAt(int row) const {
    return model_->data(model_->index(row, SettingsTableModel::titleColumn), Qt::DisplayRole).toString();
}

}  // namespace hvb
