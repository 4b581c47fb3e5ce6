#pragma once
// A link-like label: the pointing hand over it while it is enabled, the arrow otherwise, and a
// click signal.
#include <QLabel>

namespace hvb {

class HandCursorNSTextField : public QLabel {
    Q_OBJECT
public:
    explicit HandCursorNSTextField(QWidget* parent = nullptr);
    explicit HandCursorNSTextField(const QString& text, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void resetCursorRects();
};

}  // namespace hvb
