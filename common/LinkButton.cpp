#include "common/LinkButton.h"

#include <QKeyEvent>

namespace hvb {

LinkButton::LinkButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setFlat(true);
    setAutoDefault(false);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
}

void LinkButton::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !event->isAutoRepeat()) {
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

}  // namespace hvb
