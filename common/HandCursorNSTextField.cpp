#include "common/HandCursorNSTextField.h"

#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace hvb {

HandCursorNSTextField::HandCursorNSTextField(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setFocusPolicy(Qt::TabFocus);
    resetCursorRects();
}

HandCursorNSTextField::HandCursorNSTextField(const QString& text, QWidget* parent) : HandCursorNSTextField(parent) {
    setText(text);
}

void HandCursorNSTextField::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) resetCursorRects();
}

void HandCursorNSTextField::mousePressEvent(QMouseEvent* event) {
    QLabel::mousePressEvent(event);
    if (isEnabled() && event->button() == Qt::LeftButton) emit clicked();
}

void HandCursorNSTextField::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
        if (!event->isAutoRepeat()) emit clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

void HandCursorNSTextField::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus()) return;
    QStylePainter painter(this);
    QStyleOptionFocusRect frame;
    frame.initFrom(this);
    frame.backgroundColor = palette().color(backgroundRole());
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, frame);
}

void HandCursorNSTextField::resetCursorRects() {
    if (isEnabled()) setCursor(Qt::PointingHandCursor);
    else setCursor(Qt::ArrowCursor);
}

}  // namespace hvb
