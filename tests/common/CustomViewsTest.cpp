#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "app/AppTestSupport.h"
#include "common/BezierPathExtension.h"
#include "common/CustomButtonCell.h"
#include "common/DynamicTextField.h"
#include "common/GraphView.h"
#include "common/NSColorExtension.h"
#include "common/PaddedTextField.h"
#include "common/TextFieldCell.h"
#include "common/VolumeProgressView.h"
#include "platform/appkit/Assets.h"
#include "platform/dispatch/Dispatch.h"

namespace hvb {
namespace {

// ---- colours from hexadecimal texts ----------------------------------------------------------

TEST(ColorFromHex, PrefixesAndCapitalsGiveTheSameColour) {
    const QColor blue = colorFromHex(QStringLiteral("#007aff"), 1.0f);
    EXPECT_EQ(colorFromHex(QStringLiteral("0x007AFF"), 1.0f), blue);
    EXPECT_EQ(blue.red(), 0);
    EXPECT_EQ(blue.green(), 122);
    EXPECT_EQ(blue.blue(), 255);
    EXPECT_EQ(blue.alpha(), 255);
    EXPECT_NEAR(colorFromHex(QStringLiteral("#007aff"), 0.5f).alphaF(), 0.5, 1e-3);
}

TEST(ColorFromHex, BitsAboveTwentyThreeAreIgnoredAndLongTextsSaturate) {
    const QColor c = colorFromHex(QStringLiteral("#12345678"), 1.0f);
    EXPECT_EQ(c.red(), 0x34);
    EXPECT_EQ(c.green(), 0x56);
    EXPECT_EQ(c.blue(), 0x78);
    // More than 32 bits read as 0xFFFFFFFF.
    EXPECT_EQ(colorFromHex(QStringLiteral("0x123456789abc"), 1.0f), QColor(255, 255, 255));
    EXPECT_EQ(colorFromHex(QStringLiteral("#1"), 1.0f), QColor(0, 0, 1));
}

TEST(ColorFromHexDeathTest, TextsWithoutPrefixOrDigitsStopTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(colorFromHex(QStringLiteral("007aff"), 1.0f), "Unable to parse color\\?");
    EXPECT_DEATH(colorFromHex(QStringLiteral("#"), 1.0f), "Unable to parse color\\?");
    EXPECT_DEATH(colorFromHex(QStringLiteral("0x"), 1.0f), "Unable to parse color\\?");
    EXPECT_DEATH(colorFromHex(QStringLiteral("#00zz00"), 1.0f), "Unable to parse color\\?");
    EXPECT_DEATH(colorFromHex(QStringLiteral("0X007aff"), 1.0f), "Unable to parse color\\?");
}

TEST(RegexMatches, TheWholeTextMustMatch) {
    EXPECT_TRUE(regexMatches(QStringLiteral("[a-f]+"), QStringLiteral("abc")));
    EXPECT_FALSE(regexMatches(QStringLiteral("[a-f]+"), QStringLiteral("abcg")));
    EXPECT_FALSE(regexMatches(QStringLiteral("b"), QStringLiteral("abc")));
    EXPECT_FALSE(regexMatches(QStringLiteral("[a-f]+"), QString()));
    EXPECT_FALSE(regexMatches(QStringLiteral("[unclosed"), QStringLiteral("[unclosed")));
}

// ---- paths and ovals -------------------------------------------------------------------------

TEST(CgPath, ClosedTriangleIsOneMoveTwoLinesAndAClose) {
    using T = PathElement::Type;
    const std::vector<PathElement> triangle = {
        {T::moveTo, {QPointF(0, 0)}},
        {T::lineTo, {QPointF(10, 0)}},
        {T::lineTo, {QPointF(0, 10)}},
        {T::closePath, {}},
    };
    const QPainterPath path = cgPath(triangle);
    ASSERT_EQ(path.elementCount(), 4);  // the close is the line back to the start
    EXPECT_TRUE(path.elementAt(0).isMoveTo());
    EXPECT_TRUE(path.elementAt(1).isLineTo());
    EXPECT_TRUE(path.elementAt(2).isLineTo());
    EXPECT_TRUE(path.elementAt(3).isLineTo());
    EXPECT_EQ(QPointF(path.elementAt(3)), QPointF(0, 0));
    EXPECT_EQ(QPointF(path.elementAt(2)), QPointF(0, 10));

    const QPainterPath open = cgPath(std::span(triangle).first(3));
    EXPECT_EQ(open.elementCount(), 3);
    EXPECT_TRUE(cgPath({}).isEmpty());
    EXPECT_EQ(cgPath({}).elementCount(), 0);
}

TEST(CgPath, CurvesGoToTheThirdPointOverTheFirstTwo) {
    using T = PathElement::Type;
    const std::vector<PathElement> curve = {
        {T::moveTo, {QPointF(0, 0)}},
        {T::curveTo, {QPointF(1, 2), QPointF(3, 4), QPointF(5, 6)}},
    };
    const QPainterPath path = cgPath(curve);
    ASSERT_EQ(path.elementCount(), 4);
    EXPECT_TRUE(path.elementAt(1).isCurveTo());
    EXPECT_EQ(QPointF(path.elementAt(1)), QPointF(1, 2));
    EXPECT_EQ(QPointF(path.elementAt(2)), QPointF(3, 4));
    EXPECT_EQ(QPointF(path.elementAt(3)), QPointF(5, 6));
}

// The painted extent (alpha above a threshold) of an image.
QRect paintedBounds(const QImage& image, int threshold = 40) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > threshold) bounds |= QRect(x, y, 1, 1);
        }
    }
    return bounds;
}

TEST(DrawOvalStroke, StrokeStaysInsideTheRectangle) {
    QImage image(120, 120, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        drawOvalStroke(painter, QRectF(10, 10, 100, 100), Qt::red, 4);
    }
    // An oval of 96 × 96 centred in the rectangle, stroked 4 wide: 100 × 100 of paint.
    EXPECT_EQ(paintedBounds(image), QRect(10, 10, 100, 100));
    EXPECT_EQ(qAlpha(image.pixel(60, 60)), 0);
    EXPECT_EQ(image.pixel(12, 60), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(107, 60), qRgb(255, 0, 0));
    EXPECT_EQ(qAlpha(image.pixel(16, 60)), 0);
}

TEST(GraphView, HandlerDrawsAfterTheViewWithTheDirtyRectangle) {
    GraphView view;
    view.resize(80, 60);
    view.setAutoFillBackground(true);
    QPalette palette = view.palette();
    palette.setColor(QPalette::Window, Qt::blue);
    view.setPalette(palette);
    std::vector<QRectF> rects;
    view.setDrawHandler([&rects](QPainter& painter, const QRectF& dirty) {
        rects.push_back(dirty);
        painter.fillRect(QRectF(0, 0, 10, 10), Qt::red);
    });
    QPixmap pixmap(view.size());
    view.render(&pixmap);
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_EQ(rects[0], QRectF(0, 0, 80, 60));
    const QImage image = pixmap.toImage();
    EXPECT_EQ(image.pixel(5, 5), qRgb(255, 0, 0));   // over the background
    EXPECT_EQ(image.pixel(40, 30), qRgb(0, 0, 255));

    view.render(&pixmap, QPoint(), QRegion(20, 10, 30, 20));
    ASSERT_EQ(rects.size(), 2u);
    EXPECT_EQ(rects[1], QRectF(20, 10, 30, 20));

    view.setDrawHandler(nullptr);  // back to drawing nothing
    view.render(&pixmap);
    EXPECT_EQ(rects.size(), 2u);
}

TEST(GraphView, RecoveryCircleScreenshot) {
    // As the storage-mode recovery view places it: over the camera picture, 0.2 of its width
    // across, 35 points below its centre.
    QLabel picture;
    picture.setPixmap(appkit::Assets::image("img_hvb_homepage_hvbs2", QSize(300, 300)));
    picture.resize(300, 300);
    GraphView circle(&picture);
    circle.setGeometry(150 - 30, 150 + 35 - 30, 60, 60);
    circle.setDrawHandler([](QPainter& painter, const QRectF& dirty) {
        drawOvalStroke(painter, dirty, QColor(255, 59, 48), 5.0);
    });
    picture.show();
    EXPECT_TRUE(apptest::saveScreenshot(&picture, "graph_view_recovery_circle"));
}

// ---- button cell -----------------------------------------------------------------------------

// The pixels a title adds to a button, as the bounding box and the strongest colour.
struct TitleInk {
    QRect bounds;
    QRgb strongest = 0;
};

TitleInk titleInk(QPushButton& withTitle, QPushButton& withoutTitle) {
    const QImage a = withTitle.grab().toImage();
    const QImage b = withoutTitle.grab().toImage();
    TitleInk ink;
    int best = -1;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            const int d = std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                          std::abs(qBlue(p) - qBlue(q));
            if (d == 0) continue;
            ink.bounds |= QRect(x, y, 1, 1);
            if (d > best) {
                best = d;
                ink.strongest = p;
            }
        }
    }
    return ink;
}

TEST(CustomButtonCell, TitleIsCentredBlackOrGreyWhateverTheButtonSays) {
    // Full blocks: their inside is drawn in the pen colour itself.
    const QString title = QStringLiteral("\u2588\u2588\u2588");
    CustomButtonCell button(title);
    CustomButtonCell blank;
    for (CustomButtonCell* b : {&button, &blank}) {
        b->resize(140, 40);
        b->show();
    }
    TitleInk ink = titleInk(button, blank);
    ASSERT_FALSE(ink.bounds.isEmpty());
    EXPECT_EQ(QColor(ink.strongest), QColor(Qt::black));
    const QPointF centre = QRectF(ink.bounds).center();
    EXPECT_NEAR(centre.x(), 70, 2.0);
    EXPECT_NEAR(centre.y(), 20, 2.0);

    button.setEnabled(false);
    blank.setEnabled(false);
    ink = titleInk(button, blank);
    EXPECT_EQ(QColor(ink.strongest), QColor(0x8E, 0x8E, 0x93));
    EXPECT_NEAR(QRectF(ink.bounds).center().x(), 70, 2.0);
    EXPECT_TRUE(apptest::saveScreenshot(&button, "custom_button_disabled"));

    // A font or colours of its own make no difference to the title.
    button.setEnabled(true);
    CustomButtonCell styled(title);
    styled.resize(140, 40);
    QFont big = styled.font();
    big.setPointSize(30);
    big.setBold(true);
    styled.setFont(big);
    QPalette red = styled.palette();
    red.setColor(QPalette::ButtonText, Qt::red);
    styled.setPalette(red);
    styled.show();
    EXPECT_EQ(styled.grab().toImage(), button.grab().toImage());

    CustomButtonCell ok(QStringLiteral("OK"));
    ok.resize(90, 32);
    ok.show();
    EXPECT_TRUE(apptest::saveScreenshot(&ok, "custom_button"));
    ok.setEnabled(false);
    EXPECT_TRUE(apptest::saveScreenshot(&ok, "custom_button_disabled_text"));
}

// ---- text fields -----------------------------------------------------------------------------

class RecordingDelegate : public TableViewTextFieldDelegate {
public:
    void textFieldCellDidEndEditing(const QString& text) override { texts.push_back(text); }
    std::vector<QString> texts;
};

TEST(TextFieldCell, EmptyTextShowsTheHintOtherwiseTheText) {
    TextFieldCell cell;
    auto* field = new QLineEdit;
    cell.setMyTextField(field);
    EXPECT_EQ(field->parentWidget(), &cell);
    cell.resize(260, 32);
    cell.show();
    cell.grab();
    EXPECT_EQ(field->placeholderText(), QStringLiteral("SSID is between 8 ~ 32 characters"));
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_TRUE(apptest::saveScreenshot(&cell, "text_field_cell_empty"));

    cell.setText(QStringLiteral("Office-5G"));
    cell.grab();
    EXPECT_EQ(field->text(), QStringLiteral("Office-5G"));
    // Every redraw shows the cell's text again.
    field->setText(QStringLiteral("changed elsewhere"));
    cell.grab();
    EXPECT_EQ(field->text(), QStringLiteral("Office-5G"));
    EXPECT_TRUE(apptest::saveScreenshot(&cell, "text_field_cell_text"));
}

TEST(TextFieldCell, EndOfEditIsReportedToTheDelegate) {
    TextFieldCell cell;
    auto* field = new QLineEdit;
    cell.setMyTextField(field);
    cell.show();
    cell.grab();  // the cell takes the field's edits from its first draw on

    field->setText(QStringLiteral("no delegate yet"));
    emit field->editingFinished();  // nobody to tell: nothing happens

    auto delegate = std::make_shared<RecordingDelegate>();
    cell.setDelegate(delegate);
    field->setText(QStringLiteral("HomeNetwork"));
    emit field->editingFinished();
    ASSERT_EQ(delegate->texts.size(), 1u);
    EXPECT_EQ(delegate->texts[0], QStringLiteral("HomeNetwork"));

    QObject notAField;
    cell.controlTextDidEndEditing(&notAField);
    EXPECT_EQ(delegate->texts.size(), 1u);
}

TEST(TextFieldCell, AnEditInProgressIsNotOverwrittenByARedraw) {
    TextFieldCell cell;
    auto* field = new QLineEdit;
    cell.setMyTextField(field);
    cell.setText(QStringLiteral("Office-5G"));
    cell.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&cell));
    field->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(field->hasFocus());
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("Lab"));
    cell.grab();
    EXPECT_EQ(field->text(), QStringLiteral("Lab"));
}

struct CursorProbe : QLineEdit {
    using QLineEdit::cursorRect;
};
struct PaddedCursorProbe : PaddedTextField {
    using QLineEdit::cursorRect;
};

TEST(PaddedTextField, TextRectIsInsetByThePaddingOnBothSides) {
    EXPECT_EQ(PaddedTextField::drawingRectForBounds(QRectF(0, 0, 100, 22), 2.0),
              QRectF(2, 0, 96, 22));
    EXPECT_EQ(PaddedTextField::drawingRectForBounds(QRectF(10, 5, 100, 22), 6.0),
              QRectF(16, 5, 88, 22));

    PaddedCursorProbe padded;
    EXPECT_EQ(padded.leftPadding(), 2.0);
    EXPECT_EQ(padded.textMargins(), QMargins(2, 0, 2, 0));
    CursorProbe plain;
    for (QLineEdit* f : {static_cast<QLineEdit*>(&padded), static_cast<QLineEdit*>(&plain)}) {
        f->resize(150, 26);
        f->show();
    }
    EXPECT_EQ(padded.cursorRect().left(), plain.cursorRect().left() + 2);

    padded.setLeftPadding(8.0);
    EXPECT_EQ(padded.textMargins(), QMargins(8, 0, 8, 0));
    EXPECT_EQ(padded.cursorRect().left(), plain.cursorRect().left() + 8);
}

TEST(DynamicTextField, WrappedTextGrowsWithItsText) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* field = new DynamicTextField(QStringLiteral("Version 1.4"));
    field->setWordWrap(true);
    layout->addWidget(field);
    layout->addStretch();
    window.setFixedWidth(220);
    window.show();
    layout->activate();
    const int oneLine = field->height();
    const int width = field->width();
    EXPECT_EQ(field->sizeHint(), QSize(width, field->heightForWidth(width)));

    field->setText(QStringLiteral(
        "Improves the battery read-out, fixes the clock after a time-zone change, and makes the "
        "buzzer louder. Cameras keep their settings through the upgrade."));
    layout->activate();
    EXPECT_GT(field->height(), 2 * oneLine);
    EXPECT_EQ(field->height(), field->heightForWidth(field->width()));
    EXPECT_TRUE(apptest::saveScreenshot(&window, "dynamic_text_field"));

    field->setText(QStringLiteral("Short again"));
    layout->activate();
    EXPECT_EQ(field->height(), oneLine);
}

TEST(DynamicTextField, WithoutWrappingItIsAPlainLabelOfPlainText) {
    const QString text = QStringLiteral("<b>Release</b> notes");
    DynamicTextField field(text);
    QLabel plain(text);
    plain.setTextFormat(Qt::PlainText);
    EXPECT_FALSE(field.wordWrap());
    EXPECT_EQ(field.sizeHint(), plain.sizeHint());
    EXPECT_EQ(field.textFormat(), Qt::PlainText);
}

// ---- level bar -------------------------------------------------------------------------------

TEST(VolumeProgressView, WidthIsSetOnTheMainQueue) {
    VolumeProgressView bar;
    bar.resize(200, 30);
    bar.show();
    EXPECT_EQ(bar.progressView()->palette().color(QPalette::Window), QColor(0, 122, 255));

    bar.setProgress(0.5);
    EXPECT_EQ(bar.progressView()->width(), 0);  // not before the main queue runs
    dispatch::RunLoop::main().runPending();
    EXPECT_EQ(bar.widthConstraint(), 100.0);
    EXPECT_EQ(bar.progressView()->geometry(), QRect(0, 0, 100, 30));

    const QImage image = bar.grab().toImage();
    EXPECT_EQ(image.pixel(50, 15), qRgb(0, 122, 255));
    EXPECT_EQ(image.pixel(150, 15), QColor(170, 170, 170).rgb());
    EXPECT_EQ(image.pixel(0, 15), qRgb(0, 0, 0));  // the border lies over the blue part
    EXPECT_EQ(image.pixel(199, 15), qRgb(0, 0, 0));
    EXPECT_TRUE(apptest::saveScreenshot(&bar, "volume_progress_half"));

    std::thread writer([&bar] { bar.setProgress(0.0); });
    writer.join();
    dispatch::RunLoop::main().runPending();
    EXPECT_EQ(bar.progressView()->width(), 0);
}

TEST(VolumeProgressView, AnUpdateForABarThatIsGoneDoesNothing) {
    auto* bar = new VolumeProgressView;
    bar->resize(200, 30);
    bar->setProgress(0.7);
    delete bar;
    EXPECT_GE(dispatch::RunLoop::main().runPending(), 1u);
}

}  // namespace
}  // namespace hvb
