#pragma once
// The battery gauge of a Status panel row. Two forms, chosen by the owner on every update: a
// percentage, drawn as the battery body whose empty share is covered by a white mask, or one
// of five coarse levels, drawn as a level picture that pulses toward the next higher level
// (the look of a charging battery). The charging symbol on top is shown by the owner. The
// indicator holds no timer of its own and reads nothing from the camera.
#include <cstdint>
#include <optional>
#include <string>

#include <QImage>
#include <QPixmap>
#include <QString>
#include <QWidget>

class QLabel;
class QVariantAnimation;

namespace hvb {

// The value a battery indicator shows.
class BatteryCapacity {
public:
    enum class BatteryLevel : int { full = 0, high = 1, medium = 2, low = 3, exhausted = 4 };
    enum class Kind : uint8_t { capacity = 0, level = 1 };

    // A percentage (100 is full); values outside 0..100 are kept as they come.
    static BatteryCapacity capacity(int64_t percent) { return {Kind::capacity, percent}; }
    static BatteryCapacity level(BatteryLevel level) {
        return {Kind::level, static_cast<int64_t>(level)};
    }
    // The level of a raw value 0..4; none otherwise.
    static std::optional<BatteryLevel> levelFromRaw(int64_t raw);
    static int rawValue(BatteryLevel level) { return static_cast<int>(level); }

    Kind kind() const { return kind_; }
    bool isLevel() const { return kind_ == Kind::level; }
    int64_t percent() const { return kind_ == Kind::capacity ? value_ : 0; }
    BatteryLevel batteryLevel() const {
        return kind_ == Kind::level ? static_cast<BatteryLevel>(value_) : BatteryLevel::full;
    }

    // "57%" for a percentage; "FULL", "HIGH", "MEDIUM", "LOW" or "EXHAUSTED" for a level.
    QString description() const;
    static QString levelWord(BatteryLevel level);
    // The picture of a level, and the one it pulses toward; none where the level has none.
    static std::optional<std::string> levelImageName(BatteryLevel level);
    static std::optional<std::string> pulseTargetImageName(BatteryLevel level);

    friend bool operator==(const BatteryCapacity&, const BatteryCapacity&) = default;

private:
    BatteryCapacity(Kind kind, int64_t value) : kind_(kind), value_(value) {}
    Kind kind_;
    int64_t value_;
};

class BatteryIndicator : public QWidget {
    Q_OBJECT
public:
    using BatteryLevel = BatteryCapacity::BatteryLevel;

    // The body image spans 75 % of the width; the mask stops 15 % of the drawn width short of
    // the trailing edge so the battery's tip stays uncovered.
    static constexpr double kBodyShare = 0.75;
    static constexpr double kTrailingInsetShare = -0.15;
    static constexpr int kPulseDurationMs = 1000;

    explicit BatteryIndicator(QWidget* parent = nullptr);
    ~BatteryIndicator() override;

    // Stored for the owner, which shows chargingImageView() exactly when it is true.
    bool isCharging() const { return isCharging_; }
    void setCharging(bool charging) { isCharging_ = charging; }

    const BatteryCapacity& capacity() const { return capacity_; }
    // Every write updates the picture, the mask and the pulse.
    void setCapacity(const BatteryCapacity& capacity);

    QWidget* progressMaskView() const { return progressMaskView_; }
    QLabel* borderImageView() const { return borderImageView_; }
    QLabel* chargingImageView() const { return chargingImageView_; }

    // The mask's width and its trailing-edge offset (negative: inside the trailing edge).
    double progressMaskWidth() const { return progressMaskWidth_; }
    double progressMaskTrailing() const { return progressMaskTrailing_; }
    // The mask width for a percentage on a given width: width × 0.75 × (1 − n ÷ 100), the
    // factor taken in single precision as the gauge always has.
    static double maskWidthFor(double boundsWidth, int64_t percent);

    // The picture shown ("" before the first write); false once the picture is cleared.
    const std::string& imageName() const { return imageName_; }
    bool showsPicture() const { return !imageName_.empty() && !contentsCleared_; }
    // Whether the level pulse runs, and how often it has been started.
    bool isPulsing() const;
    int pulseStartCount() const { return pulseStarts_; }
    const QVariantAnimation* pulseAnimation() const { return pulse_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    virtual void animateLevel(BatteryLevel level);

private:
    void setupSubviews();
    void setImageName(const std::string& name);
    void removeAllAnimations();
    void layoutMask();
    void refreshSubviewImages();
    static QImage crossFade(const QPixmap& from, const QPixmap& to, double t);

    bool isCharging_ = false;
    BatteryCapacity capacity_ = BatteryCapacity::capacity(100);
    QWidget* progressMaskView_ = nullptr;
    QLabel* borderImageView_ = nullptr;
    QLabel* chargingImageView_ = nullptr;
    double progressMaskTrailing_ = 0.0;
    double progressMaskWidth_ = 0.0;

    std::string imageName_;
    bool contentsCleared_ = false;
    QVariantAnimation* pulse_ = nullptr;
    bool pulseActive_ = false;
    std::string pulseTarget_;
    double pulseProgress_ = 0.0;
    int pulseStarts_ = 0;
};

}  // namespace hvb
