#pragma once
// A button drawn as a link: flat, with the pointing hand over it. It takes the focus from the
// keyboard only (a click leaves the focus where it was) and is pressed by Return as well as by
// Space, as links are; its look (colour, underline) is the caller's.
#include <QPushButton>

namespace hvb {

class LinkButton : public QPushButton {
    Q_OBJECT
public:
    explicit LinkButton(const QString& text, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace hvb
