#pragma once
// A view whose drawing is a closure, run after the view's own painting with the area to draw.
#include <functional>

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <QWidget>

namespace hvb {

class GraphView : public QWidget {
    Q_OBJECT
public:
    using DrawHandler = std::function<void(QPainter& painter, const QRectF& dirtyRect)>;

    explicit GraphView(QWidget* parent = nullptr);

    const DrawHandler& drawHandler() const { return drawHandler_; }
    void setDrawHandler(DrawHandler handler);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    DrawHandler drawHandler_ = [](QPainter&, const QRectF&) {};
};

// Strokes the oval inside `rect` with a line of `lineWidth`, inset by half the line width so
// the stroke stays within the rectangle.
void drawOvalStroke(QPainter& painter, const QRectF& rect, const QColor& color, qreal lineWidth);

}  // namespace hvb
