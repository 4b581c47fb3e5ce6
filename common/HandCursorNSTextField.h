#pragma once
// A link-like label: the pointing hand over it while it is enabled, the arrow otherwise, and a
// click signal. Tab reaches it, the style's focus frame shows it, and Return or Space clicks it.
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
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void resetCursorRects();
};

}  // namespace hvb
