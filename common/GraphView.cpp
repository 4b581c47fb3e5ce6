#include "common/GraphView.h"

#include <QPaintEvent>
#include <QPainterPath>

namespace hvb {

GraphView::GraphView(QWidget* parent) : QWidget(parent) {}

void GraphView::setDrawHandler(DrawHandler handler) {
    drawHandler_ = handler ? std::move(handler) : [](QPainter&, const QRectF&) {};
    update();
}

void GraphView::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    drawHandler_(painter, QRectF(event->rect()));
}

void drawOvalStroke(QPainter& painter, const QRectF& rect, const QColor& color, qreal lineWidth) {
    const qreal half = lineWidth / 2;
    QPainterPath oval;
    oval.addEllipse(rect.adjusted(half, half, -half, -half));
    painter.save();
    painter.setPen(QPen(color, lineWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(oval);
    painter.restore();
}

}  // namespace hvb
