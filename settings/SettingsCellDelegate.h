#pragma once
// Makes the cells of a settings table from its model: the separator line across a separator
// row, a pop-up cell or the clock button cell in the control column.
#include <QStyledItemDelegate>

namespace hvb {

class TableViewButtonDelegate;
class TableViewComboBoxDelegate;

class SettingsCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    SettingsCellDelegate(TableViewComboBoxDelegate* comboBoxDelegate, TableViewButtonDelegate* buttonDelegate,
                         QObject* parent = nullptr);

    // True when the model's row at index has a widget of its own in that column.
    static bool hasCellWidget(const QModelIndex& index);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

private:
    TableViewComboBoxDelegate* comboBoxDelegate_;
    TableViewButtonDelegate* buttonDelegate_;
};

}  // namespace hvb
