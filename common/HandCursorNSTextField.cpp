#include "common/HandCursorNSTextField.h"

#include <QEvent>
#include <QMouseEvent>

namespace hvb {

HandCursorNSTextField::HandCursorNSTextField(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
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

void HandCursorNSTextField::resetCursorRects() {
    if (isEnabled()) setCursor(Qt::PointingHandCursor);
    else setCursor(Qt::ArrowCursor);
}

}  // namespace hvb
