#pragma once
// A read-only text that, when it wraps, is as high as its text needs at its current width and
// grows or shrinks with each change of text. Without wrapping it is a plain label.
#include <QLabel>

namespace hvb {

class DynamicTextField : public QLabel {
    Q_OBJECT
public:
    explicit DynamicTextField(QWidget* parent = nullptr);
    explicit DynamicTextField(const QString& text, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
};

}  // namespace hvb
