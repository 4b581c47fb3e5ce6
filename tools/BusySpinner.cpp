#include "tools/BusySpinner.h"

#include <QPainter>

namespace hvb {

namespace {
constexpr int kSpokes = 12;
constexpr int kFrameMs = 80;
}  // namespace

BusySpinner::BusySpinner(QWidget* parent, int diameter) : QWidget(parent), diameter_(diameter) {
    setFixedSize(diameter_, diameter_);
    timer_.setInterval(kFrameMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % kSpokes;
        update();
    });
}

QSize BusySpinner::sizeHint() const { return {diameter_, diameter_}; }

void BusySpinner::startAnimation() {
    wanted_ = true;
    if (isVisible()) timer_.start();
}

void BusySpinner::stopAnimation() {
    wanted_ = false;
    timer_.stop();
}

// Only a spinner on screen costs a timer.
void BusySpinner::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (wanted_) timer_.start();
}

void BusySpinner::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    timer_.stop();
}

void BusySpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const qreal radius = std::min(width(), height()) / 2.0;
    QPen pen;
    pen.setWidthF(std::max<qreal>(2.0, radius / 5.0));
    pen.setCapStyle(Qt::RoundCap);
    for (int i = 0; i < kSpokes; ++i) {
        const int age = (step_ - i + kSpokes) % kSpokes;
        QColor color(90, 90, 90);
        color.setAlphaF(1.0 - 0.8 * age / kSpokes);
        pen.setColor(color);
        painter.setPen(pen);
        painter.save();
        painter.rotate(360.0 * i / kSpokes);
        painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.9));
        painter.restore();
    }
}

}  // namespace hvb
