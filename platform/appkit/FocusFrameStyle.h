#pragma once
// The application's widget style: the platform's own, with the style's focus frame drawn on a
// push button that has the keyboard focus where the platform's style shows none: it marks a
// default button alike with the focus and without it, and draws no focus on a flat one (a link).
#include <QProxyStyle>

namespace appkit {

class FocusFrameStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
};

// Makes it the application's style; after the QApplication is made.
void installFocusFrameStyle();

}  // namespace appkit
