#include "common/DynamicTextField.h"

#include <QResizeEvent>

namespace hvb {

DynamicTextField::DynamicTextField(QWidget* parent) : DynamicTextField(QString(), parent) {}

DynamicTextField::DynamicTextField(const QString& text, QWidget* parent) : QLabel(parent) {
    // Its texts come from the web service: never rich text.
    setTextFormat(Qt::PlainText);
    setText(text);
}

QSize DynamicTextField::sizeHint() const {
    if (!wordWrap()) return QLabel::sizeHint();
    // As wide as the field is now, as high as the wrapped text needs at that width.
    const int w = width();
    return QSize(w, heightForWidth(w));
}

void DynamicTextField::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    // A new width wraps the text anew, so the height it asks for changes with it.
    if (wordWrap() && event->size().width() != event->oldSize().width()) updateGeometry();
}

}  // namespace hvb
