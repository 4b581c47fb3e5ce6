#include "settings/SettingsRowView.h"

#include <QPainter>

namespace hvb {

SettingsRowView::SettingsRowView(QWidget* parent) : QWidget(parent) {
    setObjectName("RowView");
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SettingsRowView::paintEvent(QPaintEvent*) {
    if (!isSeparator) return;
    QPainter painter(this);
    painter.fillRect(kSeparatorLine, separatorColor());
}

}  // namespace hvb
