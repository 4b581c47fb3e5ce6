#include "status/ReleaseNotesTableViewCell.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "common/DynamicTextField.h"

namespace hvb {

namespace {

void setPixelFont(QLabel* label, int size, bool bold) {
    QFont font = label->font();
    font.setPixelSize(size);
    font.setBold(bold);
    label->setFont(font);
}

}  // namespace

ReleaseNotesTableViewCell::ReleaseNotesTableViewCell(QWidget* parent) : QWidget(parent) {
    setObjectName("ReleaseNotesTableViewCell");
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
    setupLayout();
}

void ReleaseNotesTableViewCell::setupLayout() {
    versionLabel_ = new QLabel(this);
    versionLabel_->setTextFormat(Qt::PlainText);
    setPixelFont(versionLabel_, 16, true);
    dateLabel_ = new QLabel(this);
    dateLabel_->setTextFormat(Qt::PlainText);
    setPixelFont(dateLabel_, 14, false);
    notesLabel_ = new DynamicTextField(this);
    notesLabel_->setWordWrap(true);
    notesLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setPixelFont(notesLabel_, 14, false);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(12, 12, 12, 12);
    outer->setSpacing(10);
    auto* top = new QHBoxLayout();
    top->setSpacing(12);
    top->addWidget(versionLabel_, 0, Qt::AlignBottom);
    top->addStretch(1);
    top->addWidget(dateLabel_, 0, Qt::AlignBottom);
    outer->addLayout(top);
    outer->addWidget(notesLabel_);
}

}  // namespace hvb
