#include "common/TextFieldCell.h"

#include <QHBoxLayout>
#include <QPainter>

namespace hvb {

TextFieldCell::TextFieldCell(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
}

// The field goes with the cell's children, after this part of the cell is gone, and may still
// end an edit (losing focus) on its way out.
TextFieldCell::~TextFieldCell() { QObject::disconnect(endEditing_); }

void TextFieldCell::setText(const QString& text) {
    text_ = text;
    update();
}

void TextFieldCell::setMyTextField(QLineEdit* field) {
    QObject::disconnect(endEditing_);
    myTextField_ = field;
    if (!field) return;
    if (!field->parentWidget()) {
        field->setParent(this);
        layout()->addWidget(field);
    }
    update();
}

void TextFieldCell::controlTextDidEndEditing(QObject* object) {
    auto* field = qobject_cast<QLineEdit*>(object);
    if (field && delegate_) delegate_->textFieldCellDidEndEditing(field->text());
}

void TextFieldCell::showTextInField() {
    QLineEdit* field = myTextField_;
    if (!field) return;
    if (!endEditing_) {
        endEditing_ = connect(field, &QLineEdit::editingFinished, this,
                              [this, field] { controlTextDidEndEditing(field); });
    }
    if (text_.isEmpty()) {
        field->setPlaceholderText(QString::fromLatin1(kPlaceholder));
        return;
    }
    // Parent repaints also come while the user types in the field: an edit in progress is
    // not overwritten.
    if (field->hasFocus() || field->text() == text_) return;
    field->setText(text_);
}

void TextFieldCell::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    showTextInField();
}

}  // namespace hvb
