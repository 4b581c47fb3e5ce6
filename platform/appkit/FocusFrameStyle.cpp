#include "platform/appkit/FocusFrameStyle.h"

#include <QApplication>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>

namespace appkit {

void FocusFrameStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                  const QWidget* widget) const {
    QProxyStyle::drawControl(element, option, painter, widget);
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    if (element != CE_PushButton || !button) return;
    const bool keyboardFocus = (button->state & State_HasFocus) && (button->state & State_KeyboardFocusChange);
    const bool unmarked = button->features & (QStyleOptionButton::DefaultButton | QStyleOptionButton::Flat);
    if (!keyboardFocus || !unmarked) return;
    QStyleOptionFocusRect frame;
    frame.QStyleOption::operator=(*button);
    frame.rect = subElementRect(SE_PushButtonFocusRect, button, widget);
    drawPrimitive(PE_FrameFocusRect, &frame, painter, widget);
}

void installFocusFrameStyle() { QApplication::setStyle(new FocusFrameStyle()); }

}  // namespace appkit
