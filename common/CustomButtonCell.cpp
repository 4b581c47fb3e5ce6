#include "common/CustomButtonCell.h"

#include <QApplication>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace hvb {

QColor CustomButtonCell::titleColor() const {
    return isEnabled() ? enabledTitleColor() : disabledTitleColor();
}

void CustomButtonCell::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString title = option.text;
    option.text.clear();  // the style draws the bezel and any icon, the title is ours
    painter.drawControl(QStyle::CE_PushButton, option);

    option.text = title;
    const QRect area = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    painter.setFont(QApplication::font());
    painter.setPen(titleColor());
    painter.drawText(area, Qt::AlignCenter | Qt::TextShowMnemonic, title);
}

}  // namespace hvb
