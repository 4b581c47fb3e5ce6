#pragma once
// A text field whose text keeps `leftPadding` points of space on both sides.
#include <QLineEdit>
#include <QRectF>

namespace hvb {

class PaddedTextField : public QLineEdit {
    Q_OBJECT
public:
    static constexpr double kDefaultPadding = 2.0;

    explicit PaddedTextField(QWidget* parent = nullptr);
    explicit PaddedTextField(const QString& text, QWidget* parent = nullptr);

    double leftPadding() const { return leftPadding_; }
    void setLeftPadding(double padding);

    // The text's drawing rectangle for bounds (x, y, w, h): (x + p, y, w − 2p, h).
    static QRectF drawingRectForBounds(const QRectF& bounds, double leftPadding);

private:
    double leftPadding_ = kDefaultPadding;
};

}  // namespace hvb
