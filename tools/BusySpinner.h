#pragma once
// A small round activity indicator: twelve spokes whose brightness turns while it animates.
#include <QTimer>
#include <QWidget>

namespace hvb {

class BusySpinner : public QWidget {
    Q_OBJECT
public:
    explicit BusySpinner(QWidget* parent = nullptr, int diameter = 32);

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return timer_.isActive(); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    int diameter_;
    int step_ = 0;
    bool wanted_ = false;
    QTimer timer_;
};

}  // namespace hvb
