#pragma once
// One settings table: no header, no grid, no selection; a title column and a control column
// whose cells are made from the model on every reload.
#include <QTableView>

#include "settings/SettingsTableModel.h"

namespace hvb {

class ButtonCell;
class PopUpButtonCell;
class SettingsRowView;
class TableViewButtonDelegate;
class TableViewComboBoxDelegate;

class SettingsTableView : public QTableView {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 36;
    static constexpr int kTitleColumnWidth = 260;

    SettingsTableView(TableViewComboBoxDelegate* comboBoxDelegate, TableViewButtonDelegate* buttonDelegate,
                      QWidget* parent = nullptr);

    SettingsTableModel* settingsModel() const { return model_; }
    // Shows new rows: the model is replaced and every cell made again.
    void reloadData(const std::vector<Settings>& rows, const std::vector<SettingsCell>& cells, double popUpWidth,
                    double buttonWidth);

    // The cells made for a row (none when the row has no such cell).
    PopUpButtonCell* popUpCell(int row) const;
    ButtonCell* buttonCell(int row) const;
    SettingsRowView* rowView(int row) const;
    // The last control of the cells that Tab stops at, or none.
    QWidget* lastControl() const;
    QString titleAt(int row) const;

private:
    SettingsTableModel* model_;
};

}  // namespace hvb
