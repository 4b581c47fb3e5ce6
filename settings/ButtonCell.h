#pragma once
// The control cell of the clock row: one push button.
#include <QPointer>
#include <QString>
#include <QWidget>

class QPushButton;

namespace hvb {

class TableViewButtonDelegate;

class ButtonCell : public QWidget {
    Q_OBJECT
public:
    explicit ButtonCell(QWidget* parent = nullptr);

    QString btnTitle;
    TableViewButtonDelegate* delegate = nullptr;
    bool buttonEnabled = false;
    QPointer<QPushButton> btnSyncTime;

    double buttonWidth() const;
    void setButtonWidth(double width);
    // Shows the title and the enabled state.
    void apply();
    // The button's action: tells the delegate, after the click has been handled (the delegate
    // opens a modal dialog, and a rebuild meanwhile may replace this cell).
    void BtnSyncTime_Click();
};

}  // namespace hvb
