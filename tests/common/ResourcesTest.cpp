#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QLabel>
#include <QPixmap>

#include "app/AppTestSupport.h"
#include "platform/appkit/Assets.h"

namespace hvb {
namespace {

// Every image the screens name, by the name they use.
const char* const kImageNames[] = {
    "successIcon", "failIcon",
    "Status_Select", "Status_DeSelect", "Setting_Select", "Setting_DeSelect", "Tool_Select",
    "Tool_DeSelect",
    "img_battery_body", "img_battery_outline", "img_battery_charging", "img_battery_level_full",
    "img_battery_level_high", "img_battery_level_medium", "img_battery_level_low",
    "bg_machvb_proposal2 ",
    "img_Status_HVBR4", "img_Status_HVBR7", "img_Status_HVBS2", "img_Status_HVBS8",
    "img_Status_HVBT3", "img_Status_HVBT9", "img_hvb_homepage_hvbs2",
    "pencilIcon", "buzzerIcon", "folderIcon", "lockIconStatus", "unlockIconStatus",
    "webcamIcon", "lockIconPasswordEnter", "password_on", "password_off", "mic",
};

int opaquePixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) n += qAlpha(image.pixel(x, y)) > 0;
    }
    return n;
}

TEST(ApplicationResources, EveryImageTheScreensNameIsThereAndDraws) {
    const int columns = 6, cell = 110;
    const int rows = (std::size(kImageNames) + columns - 1) / columns;
    QPixmap sheet(columns * cell, rows * cell);
    sheet.fill(QColor(236, 236, 236));
    QPainter painter(&sheet);
    int i = 0;
    for (const char* name : kImageNames) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(appkit::Assets::hasImage(name));
        const QPixmap image = appkit::Assets::image(name, QSize(88, 88));
        ASSERT_FALSE(image.isNull());
        EXPECT_GT(opaquePixels(image.toImage()), 200);
        const QRect place((i % columns) * cell + 11, (i / columns) * cell + 4, 88, 88);
        painter.drawPixmap(place, image);
        painter.drawText(QRect(place.x() - 10, place.bottom() + 2, 108, 16), Qt::AlignCenter,
                         QString::fromLatin1(name).trimmed());
        ++i;
    }
    painter.end();
    QLabel label;
    label.setPixmap(sheet);
    label.resize(sheet.size());
    EXPECT_TRUE(apptest::saveScreenshot(&label, "images_contact_sheet"));
}

TEST(ApplicationResources, NamedColoursForBothAppearances) {
    for (const char* name : {"AboutViewControllerBgColor", "BrevantisRed"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(appkit::Assets::color(name, appkit::Appearance::light).has_value());
        EXPECT_TRUE(appkit::Assets::color(name, appkit::Appearance::dark).has_value());
    }
    EXPECT_EQ(appkit::Assets::color("AboutViewControllerBgColor", appkit::Appearance::light),
              QColor(255, 255, 255));
    EXPECT_EQ(appkit::Assets::color("AboutViewControllerBgColor", appkit::Appearance::dark),
              QColor(0x1e, 0x1e, 0x1e));
    const QColor red = *appkit::Assets::color("BrevantisRed", appkit::Appearance::light);
    EXPECT_GT(red.red(), 150);
    EXPECT_LT(red.green(), 80);
}

TEST(ApplicationResources, StatementIsAWordDocument) {
    QFile file(QStringLiteral(HVB_TEST_SOURCE_DIR "/resources/Statement.docx"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray zip = file.readAll();
    EXPECT_TRUE(zip.startsWith("PK\x03\x04"));
    EXPECT_TRUE(zip.contains("PK\x05\x06"));  // the end of the central directory
    for (const char* part : {"[Content_Types].xml", "_rels/.rels", "word/document.xml"}) {
        EXPECT_TRUE(zip.contains(part)) << part;
    }
}

}  // namespace
}  // namespace hvb
