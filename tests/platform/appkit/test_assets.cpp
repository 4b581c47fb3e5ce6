// Images and named colours from a resources folder made for this process (HVB_RESOURCES is
// read once, when the main bundle is first asked for).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include <QApplication>
#include <QImage>
#include <QPalette>
#include <QScreen>
#include <QStyleHints>

#include "platform/appkit/Assets.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/TempDir.h"

namespace fs = std::filesystem;

namespace {

fs::path g_resources;

const char* kSquareSvg =
    "<svg xmlns='http://www.w3.org/2000/svg' width='20' height='10' viewBox='0 0 20 10'>"
    "<rect x='0' y='0' width='20' height='10' fill='#ff0000'/></svg>";

class ResourcesEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        folder_ = std::make_unique<TempDir>();
        g_resources = folder_->path();
        ::setenv("HVB_RESOURCES", g_resources.c_str(), 1);
        ASSERT_EQ(foundation::Bundle::main().resourcePath(), g_resources);
    }
    void TearDown() override { folder_.reset(); }

private:
    std::unique_ptr<TempDir> folder_;  // the whole run's, not one test's
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ResourcesEnvironment);

class AssetsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(g_resources, ec)) fs::remove_all(entry.path(), ec);
        appkit::Assets::reset();
    }
    void TearDown() override {
        appkit::Assets::reset();
        QApplication::setPalette(QPalette());
    }
};

}  // namespace

TEST_F(AssetsTest, AMissingImageIsNull) {
    EXPECT_FALSE(appkit::Assets::hasImage("Status_DeSelect"));
    EXPECT_TRUE(appkit::Assets::image("Status_DeSelect", QSize(40, 40)).isNull());
    EXPECT_TRUE(appkit::Assets::icon("Status_DeSelect").isNull());
    // Names never lead out of the images folder.
    TempDir::write(g_resources / "secret.svg", kSquareSvg);
    EXPECT_FALSE(appkit::Assets::hasImage("../secret"));
    EXPECT_TRUE(appkit::Assets::image("../secret").isNull());
    EXPECT_FALSE(appkit::Assets::hasImage(""));
    // A file that is not an SVG draws nothing.
    TempDir::write(g_resources / "images" / "failIcon.svg", "<svg this is not");
    EXPECT_TRUE(appkit::Assets::image("failIcon", QSize(10, 10)).isNull());
}

TEST_F(AssetsTest, AnSvgIsDrawnAtTheAskedSizeForTheScreen) {
    TempDir::write(g_resources / "images" / "successIcon.svg", kSquareSvg);
    ASSERT_TRUE(appkit::Assets::hasImage("successIcon"));
    const qreal scale = QGuiApplication::primaryScreen()->devicePixelRatio();

    QPixmap asked = appkit::Assets::image("successIcon", QSize(56, 28));
    ASSERT_FALSE(asked.isNull());
    EXPECT_EQ(asked.deviceIndependentSize().toSize(), QSize(56, 28));
    EXPECT_EQ(asked.size(), (QSize(56, 28) * scale));
    EXPECT_EQ(asked.toImage().pixelColor(asked.width() / 2, asked.height() / 2), QColor(255, 0, 0));

    // Without a size: the drawing's own.
    QPixmap natural = appkit::Assets::image("successIcon");
    EXPECT_EQ(natural.deviceIndependentSize().toSize(), QSize(20, 10));
    EXPECT_FALSE(appkit::Assets::icon("successIcon").isNull());
}

TEST_F(AssetsTest, ANameWithATrailingBlankAndAliasesResolve) {
    TempDir::write(g_resources / "images" / "bg_machvb_proposal2.svg", kSquareSvg);
    EXPECT_TRUE(appkit::Assets::hasImage("bg_machvb_proposal2 "));
    EXPECT_FALSE(appkit::Assets::image("bg_machvb_proposal2 ", QSize(8, 8)).isNull());

    TempDir::write(g_resources / "images" / "tile.svg", kSquareSvg);
    TempDir::write(g_resources / "images" / "aliases.json",
              R"({"Home Pattern": "tile", "escape": "../secret", "number": 5})");
    appkit::Assets::reset();
    EXPECT_TRUE(appkit::Assets::hasImage("Home Pattern"));
    EXPECT_FALSE(appkit::Assets::image("Home Pattern", QSize(8, 8)).isNull());
    EXPECT_FALSE(appkit::Assets::hasImage("escape"));
    EXPECT_FALSE(appkit::Assets::hasImage("number"));
}

TEST_F(AssetsTest, ImagesAreKeptOnceRead) {
    TempDir::write(g_resources / "images" / "logo.svg", kSquareSvg);
    QPixmap first = appkit::Assets::image("logo", QSize(16, 16));
    fs::remove(g_resources / "images" / "logo.svg");
    QPixmap again = appkit::Assets::image("logo", QSize(16, 16));
    EXPECT_EQ(first.cacheKey(), again.cacheKey());
    appkit::Assets::reset();
    EXPECT_TRUE(appkit::Assets::image("logo", QSize(16, 16)).isNull());
}

TEST_F(AssetsTest, NamedColoursForEachAppearance) {
    TempDir::write(g_resources / "colors.json",
              R"({"Background": {"light": "#f0f0f0", "dark": "#1e1e1e"},
                  "OnlyLight": {"light": "#102030"},
                  "Bad": {"light": "red", "dark": 7},
                  "NotAnObject": "#ffffff"})");
    EXPECT_EQ(appkit::Assets::color("Background", appkit::Appearance::light), QColor(0xf0, 0xf0, 0xf0));
    EXPECT_EQ(appkit::Assets::color("Background", appkit::Appearance::dark), QColor(0x1e, 0x1e, 0x1e));
    EXPECT_EQ(appkit::Assets::color("OnlyLight", appkit::Appearance::dark), QColor(0x10, 0x20, 0x30));
    EXPECT_FALSE(appkit::Assets::color("Bad", appkit::Appearance::light).has_value());
    EXPECT_FALSE(appkit::Assets::color("NotAnObject", appkit::Appearance::light).has_value());
    EXPECT_FALSE(appkit::Assets::color("Missing", appkit::Appearance::light).has_value());
}

TEST_F(AssetsTest, AMalformedColourFileGivesNoColours) {
    for (const char* text : {"{\"Background\": {\"light\": \"#f0f0f0\"", "[1, 2, 3]", "", "\xff\xfe"}) {
        TempDir::write(g_resources / "colors.json", text);
        appkit::Assets::reset();
        EXPECT_FALSE(appkit::Assets::color("Background", appkit::Appearance::light).has_value()) << text;
    }
}

TEST_F(AssetsTest, TheAppearanceFollowsThePlatform) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    const bool dark = QGuiApplication::styleHints()->colorScheme() == Qt::ColorScheme::Dark;
    EXPECT_EQ(appkit::Assets::currentAppearance(), dark ? appkit::Appearance::dark : appkit::Appearance::light);
#else
    QPalette light;
    light.setColor(QPalette::Window, QColor(236, 236, 236));
    QApplication::setPalette(light);
    EXPECT_EQ(appkit::Assets::currentAppearance(), appkit::Appearance::light);
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    QApplication::setPalette(dark);
    EXPECT_EQ(appkit::Assets::currentAppearance(), appkit::Appearance::dark);
#endif
}
