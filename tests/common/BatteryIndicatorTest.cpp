#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QRegion>
#include <QVariantAnimation>

#include <string>

#include "app/AppTestSupport.h"
#include "status/BatteryIndicator.h"

namespace hvb {
namespace {

using Level = BatteryCapacity::BatteryLevel;

// ---- the value shown -------------------------------------------------------------------------

TEST(BatteryCapacity, TextualFormIsPercentOrLevelWord) {
    EXPECT_EQ(BatteryCapacity::capacity(57).description(), QStringLiteral("57%"));
    EXPECT_EQ(BatteryCapacity::capacity(-3).description(), QStringLiteral("-3%"));
    EXPECT_EQ(BatteryCapacity::level(Level::full).description(), QStringLiteral("FULL"));
    EXPECT_EQ(BatteryCapacity::level(Level::high).description(), QStringLiteral("HIGH"));
    EXPECT_EQ(BatteryCapacity::level(Level::medium).description(), QStringLiteral("MEDIUM"));
    EXPECT_EQ(BatteryCapacity::level(Level::low).description(), QStringLiteral("LOW"));
    EXPECT_EQ(BatteryCapacity::level(Level::exhausted).description(), QStringLiteral("EXHAUSTED"));
    EXPECT_EQ(BatteryCapacity::capacity(1), BatteryCapacity::capacity(1));
    EXPECT_NE(BatteryCapacity::capacity(1), BatteryCapacity::level(Level::high));  // both carry 1
}

TEST(BatteryCapacity, LevelsComeFromRawValuesZeroToFour) {
    EXPECT_EQ(BatteryCapacity::levelFromRaw(0), Level::full);
    EXPECT_EQ(BatteryCapacity::levelFromRaw(1), Level::high);
    EXPECT_EQ(BatteryCapacity::levelFromRaw(2), Level::medium);
    EXPECT_EQ(BatteryCapacity::levelFromRaw(3), Level::low);
    EXPECT_EQ(BatteryCapacity::levelFromRaw(4), Level::exhausted);
    EXPECT_EQ(BatteryCapacity::levelFromRaw(5), std::nullopt);
    EXPECT_EQ(BatteryCapacity::levelFromRaw(-1), std::nullopt);
    EXPECT_EQ(BatteryCapacity::pulseTargetImageName(Level::low), "img_battery_level_medium");
    EXPECT_EQ(BatteryCapacity::pulseTargetImageName(Level::high), "img_battery_level_full");
    EXPECT_EQ(BatteryCapacity::pulseTargetImageName(Level::full), std::nullopt);
}

// ---- the gauge -------------------------------------------------------------------------------

class BatteryIndicatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        indicator.resize(100, 59);
        indicator.show();
    }
    QImage render(const QRegion& region = {}) {
        QPixmap pixmap(indicator.size());
        pixmap.fill(Qt::white);
        indicator.render(&pixmap, QPoint(), region);
        return pixmap.toImage();
    }
    static bool isGreen(QRgb c) { return qGreen(c) > 150 && qRed(c) < 120 && qBlue(c) < 140; }
    static bool isWhite(QRgb c) { return qRed(c) > 245 && qGreen(c) > 245 && qBlue(c) > 245; }

    BatteryIndicator indicator;
};

TEST_F(BatteryIndicatorTest, ANewIndicatorShowsNoPictureUntilTheFirstWrite) {
    EXPECT_EQ(indicator.capacity(), BatteryCapacity::capacity(100));
    EXPECT_FALSE(indicator.showsPicture());
    EXPECT_EQ(indicator.progressMaskWidth(), 0.0);
    EXPECT_FALSE(indicator.isCharging());
    EXPECT_TRUE(indicator.chargingImageView()->isHidden());
    QImage picture = render();
    EXPECT_FALSE(isGreen(picture.pixel(20, 29)));
}

TEST_F(BatteryIndicatorTest, MaskCoversTheEmptyShareInSinglePrecision) {
    indicator.setCapacity(BatteryCapacity::capacity(57));
    const float factor = 57 / -100.0f + 1.0f;
    EXPECT_EQ(indicator.progressMaskWidth(), 100 * 0.75 * static_cast<double>(factor));
    // The same share in double precision is a different number: the float step is kept.
    EXPECT_NE(indicator.progressMaskWidth(), 100 * 0.75 * (1.0 - 57 / 100.0));
    EXPECT_EQ(indicator.imageName(), "img_battery_body");

    indicator.setCapacity(BatteryCapacity::capacity(100));
    EXPECT_EQ(indicator.progressMaskWidth(), 0.0);
    indicator.setCapacity(BatteryCapacity::capacity(0));
    EXPECT_EQ(indicator.progressMaskWidth(), 75.0);
    indicator.setCapacity(BatteryCapacity::capacity(-20));
    EXPECT_GT(indicator.progressMaskWidth(), 75.0);  // used as it comes
    EXPECT_EQ(BatteryIndicator::maskWidthFor(100, -20), 100 * 0.75 * static_cast<double>(1.2f));
}

TEST_F(BatteryIndicatorTest, PercentageShowsTheBodyFilledUpToItsShare) {
    indicator.setCapacity(BatteryCapacity::capacity(57));
    QImage picture = render();
    render();  // the mask settles on the first full draw
    picture = render();
    EXPECT_TRUE(isGreen(picture.pixel(20, 29)));   // filled share
    EXPECT_TRUE(isWhite(picture.pixel(75, 29)));   // empty share under the mask
    const QRect mask = indicator.progressMaskView()->geometry();
    EXPECT_NEAR(mask.x() + mask.width(), 100 - 15.0, 1.0);  // the tip stays uncovered
    EXPECT_NEAR(mask.width(), indicator.progressMaskWidth(), 1.0);
}

TEST_F(BatteryIndicatorTest, TrailingInsetFollowsTheDrawnRectangle) {
    render(QRegion(0, 0, 20, 59));
    EXPECT_DOUBLE_EQ(indicator.progressMaskTrailing(), -3.0);
    render();
    EXPECT_DOUBLE_EQ(indicator.progressMaskTrailing(), -15.0);
    indicator.resize(40, 24);
    render();
    EXPECT_DOUBLE_EQ(indicator.progressMaskTrailing(), -6.0);
}

TEST_F(BatteryIndicatorTest, SameLevelTwiceStartsThePulseOnce) {
    indicator.setCapacity(BatteryCapacity::level(Level::high));
    indicator.setCapacity(BatteryCapacity::level(Level::high));
    EXPECT_TRUE(indicator.isPulsing());
    EXPECT_EQ(indicator.pulseStartCount(), 1);
    EXPECT_EQ(indicator.imageName(), "img_battery_level_high");
    EXPECT_EQ(indicator.progressMaskWidth(), 0.0);

    const QVariantAnimation* pulse = indicator.pulseAnimation();
    EXPECT_EQ(pulse->duration(), 1000);
    EXPECT_EQ(pulse->easingCurve().type(), QEasingCurve::InQuad);
}

TEST_F(BatteryIndicatorTest, PulseRestartsAfterAChangeOfForm) {
    indicator.setCapacity(BatteryCapacity::capacity(57));
    indicator.setCapacity(BatteryCapacity::level(Level::high));
    EXPECT_TRUE(indicator.isPulsing());
    EXPECT_EQ(indicator.pulseStartCount(), 1);

    // Back to a percentage: the level pulse must not go on drawing over the body.
    indicator.setCapacity(BatteryCapacity::capacity(57));
    EXPECT_FALSE(indicator.isPulsing());
    EXPECT_EQ(indicator.imageName(), "img_battery_body");

    indicator.setCapacity(BatteryCapacity::level(Level::high));
    EXPECT_TRUE(indicator.isPulsing());
    EXPECT_EQ(indicator.pulseStartCount(), 2);

    indicator.setCapacity(BatteryCapacity::level(Level::medium));
    EXPECT_EQ(indicator.pulseStartCount(), 3);
    EXPECT_EQ(indicator.imageName(), "img_battery_level_medium");
}

TEST_F(BatteryIndicatorTest, PulsePlaysBackAndForthForEver) {
    indicator.setCapacity(BatteryCapacity::level(Level::low));
    auto* pulse = const_cast<QVariantAnimation*>(indicator.pulseAnimation());
    ASSERT_EQ(pulse->direction(), QAbstractAnimation::Forward);
    pulse->setCurrentTime(pulse->duration());  // end of the way out
    EXPECT_TRUE(indicator.isPulsing());
    EXPECT_EQ(pulse->direction(), QAbstractAnimation::Backward);
    pulse->setCurrentTime(0);  // end of the way back
    EXPECT_TRUE(indicator.isPulsing());
    EXPECT_EQ(pulse->direction(), QAbstractAnimation::Forward);
    EXPECT_EQ(indicator.pulseStartCount(), 1);  // one pulse, still the first
}

TEST_F(BatteryIndicatorTest, PulseFadesTowardTheNextHigherLevel) {
    indicator.setCapacity(BatteryCapacity::level(Level::full));
    render();
    const QImage full = render();

    indicator.setCapacity(BatteryCapacity::level(Level::high));
    const QImage high = render();
    auto* pulse = const_cast<QVariantAnimation*>(indicator.pulseAnimation());
    pulse->setCurrentTime(pulse->duration() - 1);
    const QImage almostFull = render();

    auto distance = [](const QImage& a, const QImage& b) {
        int worst = 0;
        for (int y = 0; y < a.height(); ++y) {
            for (int x = 0; x < a.width(); ++x) {
                QRgb p = a.pixel(x, y), q = b.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                  std::abs(qBlue(p) - qBlue(q))});
            }
        }
        return worst;
    };
    EXPECT_GT(distance(high, full), 60);        // the fourth bar is missing at rest
    EXPECT_LE(distance(almostFull, full), 3);   // and almost there at the end of the way out

    // Half way the three bars the pictures share stay solid; only the fourth is half there.
    pulse->setCurrentTime(707);  // eased in: 0.707² ≈ 0.5
    const QImage halfWay = render();
    EXPECT_LE(distance(halfWay.copy(0, 0, 60, 59), full.copy(0, 0, 60, 59)), 3);
    const QRgb fourth = halfWay.pixel(72, 29);
    EXPECT_GT(qRed(fourth), 100);  // green over white, half way
    EXPECT_LT(qRed(fourth), 200);
}

TEST_F(BatteryIndicatorTest, ExhaustedClearsThePictureAndFullIsStill) {
    indicator.setCapacity(BatteryCapacity::level(Level::high));
    indicator.setCapacity(BatteryCapacity::level(Level::exhausted));
    EXPECT_FALSE(indicator.isPulsing());
    EXPECT_FALSE(indicator.showsPicture());
    EXPECT_EQ(indicator.imageName(), "img_battery_level_high");  // only the layer was cleared
    EXPECT_FALSE(isGreen(render().pixel(20, 29)));

    indicator.setCapacity(BatteryCapacity::level(Level::high));
    EXPECT_TRUE(indicator.isPulsing());
    indicator.setCapacity(BatteryCapacity::level(Level::full));
    EXPECT_FALSE(indicator.isPulsing());
    EXPECT_TRUE(indicator.showsPicture());
    EXPECT_EQ(indicator.imageName(), "img_battery_level_full");
    indicator.setCapacity(BatteryCapacity::level(Level::full));
    EXPECT_FALSE(indicator.isPulsing());
    EXPECT_TRUE(isGreen(render().pixel(20, 29)));
}

TEST(BatteryIndicatorScreenshots, StatesAsARowShowsThem) {
    struct State {
        const char* name;
        BatteryCapacity value;
        bool charging;
    };
    const State states[] = {
        {"battery_100", BatteryCapacity::capacity(100), false},
        {"battery_57", BatteryCapacity::capacity(57), false},
        {"battery_15", BatteryCapacity::capacity(15), false},
        {"battery_0", BatteryCapacity::capacity(0), false},
        {"battery_57_charging", BatteryCapacity::capacity(57), true},
        {"battery_level_full", BatteryCapacity::level(Level::full), false},
        {"battery_level_high_charging", BatteryCapacity::level(Level::high), true},
        {"battery_level_medium_charging", BatteryCapacity::level(Level::medium), true},
        {"battery_level_low_charging", BatteryCapacity::level(Level::low), true},
        {"battery_level_exhausted", BatteryCapacity::level(Level::exhausted), false},
    };
    for (QSize size : {QSize(42, 25), QSize(126, 75)}) {
        for (const State& state : states) {
            BatteryIndicator indicator;
            indicator.resize(size);
            indicator.show();
            indicator.setCharging(state.charging);
            indicator.chargingImageView()->setHidden(!state.charging);
            indicator.setCapacity(state.value);
            indicator.grab();  // settles the mask on a full draw
            const std::string name = std::string(state.name) + (size.width() > 42 ? "_large" : "");
            EXPECT_TRUE(apptest::saveScreenshot(&indicator, name));
        }
    }
}

}  // namespace
}  // namespace hvb
