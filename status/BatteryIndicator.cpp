#include "status/BatteryIndicator.h"

#include <algorithm>

#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QVariantAnimation>

#include "platform/appkit/Assets.h"

namespace hvb {

namespace {

constexpr const char* kBodyImage = "img_battery_body";
constexpr const char* kOutlineImage = "img_battery_outline";
constexpr const char* kChargingImage = "img_battery_charging";

}  // namespace

// ---- BatteryCapacity -------------------------------------------------------------------------

std::optional<BatteryCapacity::BatteryLevel> BatteryCapacity::levelFromRaw(int64_t raw) {
    if (raw < 0 || raw > 4) return std::nullopt;
    return static_cast<BatteryLevel>(raw);
}

QString BatteryCapacity::levelWord(BatteryLevel level) {
    switch (level) {
        case BatteryLevel::full: return QStringLiteral("FULL");
        case BatteryLevel::high: return QStringLiteral("HIGH");
        case BatteryLevel::medium: return QStringLiteral("MEDIUM");
        case BatteryLevel::low: return QStringLiteral("LOW");
        case BatteryLevel::exhausted: return QStringLiteral("EXHAUSTED");
    }
    return {};
}

QString BatteryCapacity::description() const {
    if (kind_ == Kind::capacity) return QString::number(value_) + u'%';
    return levelWord(batteryLevel());
}

std::optional<std::string> BatteryCapacity::levelImageName(BatteryLevel level) {
    switch (level) {
        case BatteryLevel::full: return "img_battery_level_full";
        case BatteryLevel::high: return "img_battery_level_high";
        case BatteryLevel::medium: return "img_battery_level_medium";
        case BatteryLevel::low: return "img_battery_level_low";
        case BatteryLevel::exhausted: return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> BatteryCapacity::pulseTargetImageName(BatteryLevel level) {
    switch (level) {
        case BatteryLevel::high: return levelImageName(BatteryLevel::full);
        case BatteryLevel::medium: return levelImageName(BatteryLevel::high);
        case BatteryLevel::low: return levelImageName(BatteryLevel::medium);
        case BatteryLevel::full:
        case BatteryLevel::exhausted: return std::nullopt;
    }
    return std::nullopt;
}

// ---- BatteryIndicator ------------------------------------------------------------------------

BatteryIndicator::BatteryIndicator(QWidget* parent) : QWidget(parent) { setupSubviews(); }

BatteryIndicator::~BatteryIndicator() = default;

void BatteryIndicator::setupSubviews() {
    // Back to front: the indicator's own picture, the mask, the outline, the charging symbol.
    progressMaskView_ = new QWidget(this);
    progressMaskView_->setObjectName(QStringLiteral("progressMaskView"));
    progressMaskView_->setAutoFillBackground(true);
    QPalette white = progressMaskView_->palette();
    white.setColor(QPalette::Window, Qt::white);
    progressMaskView_->setPalette(white);

    borderImageView_ = new QLabel(this);
    borderImageView_->setObjectName(QStringLiteral("borderImageView"));
    borderImageView_->setScaledContents(true);

    chargingImageView_ = new QLabel(this);
    chargingImageView_->setObjectName(QStringLiteral("chargingImageView"));
    chargingImageView_->setScaledContents(true);
    chargingImageView_->hide();

    for (QWidget* child : {progressMaskView_, static_cast<QWidget*>(borderImageView_),
                           static_cast<QWidget*>(chargingImageView_)}) {
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    // The pulse plays forward and back for ever, one second each way, easing in both ways
    // as an autoreversing animation does.
    pulse_ = new QVariantAnimation(this);
    pulse_->setStartValue(0.0);
    pulse_->setEndValue(1.0);
    pulse_->setDuration(kPulseDurationMs);
    pulse_->setEasingCurve(QEasingCurve::InQuad);
    pulse_->setLoopCount(1);
    connect(pulse_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        pulseProgress_ = value.toDouble();
        update();
    });
    connect(pulse_, &QVariantAnimation::finished, this, [this] {
        if (!pulseActive_) return;
        pulse_->setDirection(pulse_->direction() == QAbstractAnimation::Forward
                                 ? QAbstractAnimation::Backward
                                 : QAbstractAnimation::Forward);
        pulse_->start();
    });

    layoutMask();
    refreshSubviewImages();
}

double BatteryIndicator::maskWidthFor(double boundsWidth, int64_t percent) {
    const float emptyShare = static_cast<float>(percent) / -100.0f + 1.0f;
    return boundsWidth * kBodyShare * static_cast<double>(emptyShare);
}

void BatteryIndicator::setCapacity(const BatteryCapacity& capacity) {
    const BatteryCapacity previous = capacity_;
    capacity_ = capacity;
    if (!capacity.isLevel()) {
        setImageName(kBodyImage);
        progressMaskWidth_ = maskWidthFor(width(), capacity.percent());
        // A pulse left running from the level form would keep drawing level pictures over
        // the percentage.
        removeAllAnimations();
        layoutMask();
        return;
    }
    progressMaskWidth_ = 0.0;
    layoutMask();
    // An unchanged level keeps its running pulse; anything else (re)starts it.
    if (previous.description() != capacity.description() || !isPulsing()) {
        animateLevel(capacity.batteryLevel());
    }
}

void BatteryIndicator::animateLevel(BatteryLevel level) {
    removeAllAnimations();
    switch (level) {
        case BatteryLevel::full:
            setImageName(*BatteryCapacity::levelImageName(level));
            break;
        case BatteryLevel::high:
        case BatteryLevel::medium:
        case BatteryLevel::low:
            setImageName(*BatteryCapacity::levelImageName(level));
            pulseTarget_ = *BatteryCapacity::pulseTargetImageName(level);
            pulseProgress_ = 0.0;
            pulseActive_ = true;
            pulse_->setDirection(QAbstractAnimation::Forward);
            pulse_->start();
            ++pulseStarts_;
            break;
        case BatteryLevel::exhausted:
            // Only the outline remains; the stored picture name is left as it was.
            contentsCleared_ = true;
            update();
            break;
    }
}

bool BatteryIndicator::isPulsing() const {
    return pulseActive_ && pulse_->state() == QAbstractAnimation::Running;
}

void BatteryIndicator::removeAllAnimations() {
    pulseActive_ = false;
    pulse_->stop();
    pulseTarget_.clear();
    pulseProgress_ = 0.0;
    update();
}

void BatteryIndicator::setImageName(const std::string& name) {
    imageName_ = name;
    contentsCleared_ = false;
    update();
}

void BatteryIndicator::layoutMask() {
    const double right = width() + progressMaskTrailing_;
    const double maskWidth = std::max(0.0, progressMaskWidth_);
    progressMaskView_->setGeometry(qRound(right - maskWidth), 0, qRound(maskWidth), height());
}

void BatteryIndicator::refreshSubviewImages() {
    borderImageView_->setPixmap(appkit::Assets::image(kOutlineImage, size()));
    chargingImageView_->setPixmap(appkit::Assets::image(kChargingImage, size()));
}

void BatteryIndicator::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    borderImageView_->setGeometry(rect());
    chargingImageView_->setGeometry(rect());
    refreshSubviewImages();
    layoutMask();
}

// A dissolve from one picture to the other: (1 − t) × from + t × to, pixel by pixel, so the
// parts the two pictures share stay solid all the way.
QImage BatteryIndicator::crossFade(const QPixmap& from, const QPixmap& to, double t) {
    const QPixmap& model = from.isNull() ? to : from;
    auto faded = [&model](const QPixmap& picture, double opacity) {
        QImage image(model.size(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(model.devicePixelRatio());
        image.fill(Qt::transparent);
        if (!picture.isNull()) {
            QPainter painter(&image);
            painter.setOpacity(opacity);
            painter.drawPixmap(QRectF(QPointF(0, 0), image.deviceIndependentSize()), picture,
                               QRectF(picture.rect()));
        }
        return image;
    };
    QImage out = faded(from, 1.0 - t);
    // The sum is taken at full opacity: the raster engine blends a partly opaque "plus" as an
    // ordinary draw.
    QPainter painter(&out);
    painter.setCompositionMode(QPainter::CompositionMode_Plus);
    painter.drawImage(QPointF(0, 0), faded(to, t));
    return out;
}

void BatteryIndicator::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        if (showsPicture()) {
            const QPixmap from = appkit::Assets::image(imageName_, size());
            if (isPulsing() && !pulseTarget_.empty()) {
                painter.drawImage(rect(), crossFade(from, appkit::Assets::image(pulseTarget_, size()), pulseProgress_));
            } else {
                painter.drawPixmap(rect(), from);
            }
        }
    }
    // The mask's trailing offset follows the rectangle just drawn. Moving the mask repaints
    // only part of the indicator, so the whole of it is redrawn once more to settle the offset.
    const double trailing = kTrailingInsetShare * event->rect().width();
    if (trailing != progressMaskTrailing_) {
        progressMaskTrailing_ = trailing;
        layoutMask();
        update();
    }
}

}  // namespace hvb
