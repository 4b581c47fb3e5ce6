#pragma once
// The control cell of a setting row: a pop-up with the setting's options. It knows nothing of
// cameras: it shows what it is given and reports each user choice, a repeated one too.
#include <optional>

#include <QPointer>
#include <QStringList>
#include <QWidget>

class QComboBox;

namespace hvb {

class TableViewComboBoxDelegate;

class PopUpButtonCell : public QWidget {
    Q_OBJECT
public:
    explicit PopUpButtonCell(QWidget* parent = nullptr);

    std::optional<QStringList> items;
    int selectedIndex = 0;
    TableViewComboBoxDelegate* delegate = nullptr;
    std::optional<QString> popUpButtonIdentifier;
    std::optional<bool> popUpButtonEnable;
    QPointer<QComboBox> popUpButton;

    // The pop-up's width.
    double popUpButtonWidth() const;
    void setPopUpButtonWidth(double width);

    // Fills the pop-up from the fields (hiding "720P/60FPS" of the five-entry frame-rate list,
    // whose positions must still match the camera's values) and applies the enabled state.
    void loadItems();
    // The pop-up's action: reports the selected position and text.
    void didChange();
};

}  // namespace hvb
