#include "common/VolumeProgressView.h"

#include <algorithm>

#include <QPainter>
#include <QPointer>

#include "common/NSColorExtension.h"
#include "platform/appkit/Assets.h"
#include "platform/dispatch/Dispatch.h"

namespace hvb {

namespace {

// The bar's border lies above the blue part, as a layer border does over its sublayers.
class BorderOverlay : public QWidget {
public:
    explicit BorderOverlay(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(QPen(Qt::black, 1.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }
};

}  // namespace

VolumeProgressView::VolumeProgressView(QWidget* parent) : QWidget(parent) {
    progressView_ = new QWidget(this);
    progressView_->setObjectName(QStringLiteral("progressView"));
    progressView_->setAutoFillBackground(true);
    QPalette blue = progressView_->palette();
    blue.setColor(QPalette::Window, colorFromHex(QString::fromLatin1(kProgressColorHex), 1.0f));
    progressView_->setPalette(blue);
    setupSubviews();
}

void VolumeProgressView::setupSubviews() {
    border_ = new BorderOverlay(this);
    widthConstraint_ = 0.0;
    layoutProgress();
}

void VolumeProgressView::setProgress(double progress) {
    progress_ = progress;
    updateProgress();
}

void VolumeProgressView::updateProgress() {
    QPointer<VolumeProgressView> self(this);
    dispatch::mainQueue().async([self] {
        if (!self) return;
        self->widthConstraint_ = self->width() * self->progress_;
        self->layoutProgress();
    });
}

void VolumeProgressView::layoutProgress() {
    const int w = qRound(std::max(0.0, widthConstraint_.value_or(0.0)));
    progressView_->setGeometry(0, 0, w, height());
    border_->setGeometry(rect());
    border_->raise();
}

void VolumeProgressView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutProgress();
}

void VolumeProgressView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), appkit::colors::lightGray());
}

}  // namespace hvb
