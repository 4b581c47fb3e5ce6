#pragma once
// A push button whose title is always drawn centred in the application's plain font, black
// when enabled and grey (#8E8E93) when disabled, whatever font or colours the button was given.
#include <QColor>
#include <QPushButton>

namespace hvb {

class CustomButtonCell : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

    // The colour the title is drawn in for the button's current enabled state.
    QColor titleColor() const;
    static QColor enabledTitleColor() { return QColor(Qt::black); }
    static QColor disabledTitleColor() {
        return QColor::fromRgbF(0.5568627450980392f, 0.5568627450980392f, 0.5764705882352941f, 1.0f);
    }

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace hvb
