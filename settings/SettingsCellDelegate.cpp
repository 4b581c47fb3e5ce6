#include "settings/SettingsCellDelegate.h"

#include "settings/ButtonCell.h"
#include "settings/PopUpButtonCell.h"
#include "settings/SettingsRowView.h"
#include "settings/SettingsTableModel.h"

namespace hvb {

namespace {

const SettingsTableModel::Row* rowOf(const QModelIndex& index) {
    auto* model = qobject_cast<const SettingsTableModel*>(index.model());
    return model ? model->rowAt(index.row()) : nullptr;
}

}  // namespace

SettingsCellDelegate::SettingsCellDelegate(TableViewComboBoxDelegate* comboBoxDelegate,
                                           TableViewButtonDelegate* buttonDelegate, QObject* parent)
    : QStyledItemDelegate(parent), comboBoxDelegate_(comboBoxDelegate), buttonDelegate_(buttonDelegate) {}

bool SettingsCellDelegate::hasCellWidget(const QModelIndex& index) {
    const auto* row = rowOf(index);
    if (!row) return false;
    if (index.column() == SettingsTableModel::titleColumn) return row->settings.isSeparator();
    return index.column() == SettingsTableModel::controlColumn && !row->settings.isSeparator() &&
           row->cell.control != SettingsCell::Control::none;
}

QWidget* SettingsCellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                            const QModelIndex& index) const {
    const auto* row = rowOf(index);
    if (!row || !hasCellWidget(index)) return nullptr;
    auto* model = qobject_cast<const SettingsTableModel*>(index.model());
    if (index.column() == SettingsTableModel::titleColumn) {
        auto* view = new SettingsRowView(parent);
        view->isSeparator = true;
        return view;
    }
    if (row->cell.control == SettingsCell::Control::button) {
        auto* cell = new ButtonCell(parent);
        cell->buttonEnabled = row->cell.enabled;
        cell->btnTitle = row->settings.comboxBoxValue.value(0);
        cell->setButtonWidth(model->buttonWidth);
        cell->delegate = buttonDelegate_;
        cell->apply();
        return cell;
    }
    auto* cell = new PopUpButtonCell(parent);
    cell->setPopUpButtonWidth(model->popUpWidth);
    cell->popUpButtonEnable = row->cell.enabled;
    cell->popUpButtonIdentifier = row->settings.identifier;
    cell->selectedIndex = static_cast<int>(row->cell.shownIndex);
    cell->items = row->settings.comboxBoxValue;
    cell->loadItems();
    cell->delegate = comboBoxDelegate_;
    return cell;
}

// The cells are filled once, when made; a reload makes new ones.
void SettingsCellDelegate::setEditorData(QWidget*, const QModelIndex&) const {}
void SettingsCellDelegate::setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const {}

void SettingsCellDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                                const QModelIndex&) const {
    editor->setGeometry(option.rect);
}

}  // namespace hvb
