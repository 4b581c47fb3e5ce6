#include "common/PaddedTextField.h"

#include <QMargins>

namespace hvb {

PaddedTextField::PaddedTextField(QWidget* parent) : QLineEdit(parent) {
    setLeftPadding(kDefaultPadding);
}

PaddedTextField::PaddedTextField(const QString& text, QWidget* parent) : QLineEdit(text, parent) {
    setLeftPadding(kDefaultPadding);
}

QRectF PaddedTextField::drawingRectForBounds(const QRectF& bounds, double leftPadding) {
    return QRectF(bounds.x() + leftPadding, bounds.y(), bounds.width() - 2 * leftPadding,
                  bounds.height());
}

void PaddedTextField::setLeftPadding(double padding) {
    leftPadding_ = padding;
    // The field's text rectangle is its contents less the text margins, so equal margins on
    // both sides give the padded drawing rectangle.
    const int p = qRound(padding);
    setTextMargins(p, 0, p, 0);
}

}  // namespace hvb
