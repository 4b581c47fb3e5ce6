// The pop-up and button cells, the link-like label, the separator row and the table view that
// makes them.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QImage>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>

#include "app/AppTestSupport.h"
#include "common/HandCursorNSTextField.h"
#include "common/SettingOptions.h"
#include "settings/ButtonCell.h"
#include "settings/PopUpButtonCell.h"
#include "settings/SettingsRowView.h"
#include "settings/SettingsTableView.h"
#include "settings/TableViewButtonDelegate.h"
#include "settings/TableViewComboBoxDelegate.h"

using namespace hvb;

namespace {

struct Choices : TableViewComboBoxDelegate {
    struct Choice {
        int index;
        QString identifier, title;
        bool operator==(const Choice&) const = default;
    };
    std::vector<Choice> made;
    void applySetting(int index, const QString& identifier, const QString& title) override {
        made.push_back({index, identifier, title});
    }
};

struct Clicks : TableViewButtonDelegate {
    int count = 0;
    void openSyncTimeWindow() override { ++count; }
};

bool rowHidden(QComboBox* box, int row) { return qobject_cast<QListView*>(box->view())->isRowHidden(row); }
bool itemEnabled(QComboBox* box, int row) {
    return qobject_cast<QStandardItemModel*>(box->model())->item(row)->isEnabled();
}

}  // namespace

TEST(PopUpButtonCell, ShowsItsItemsAndReportsEveryUserChoice) {
    Choices choices;
    PopUpButtonCell cell;
    cell.items = SettingOptions::ledOptions();
    cell.selectedIndex = 1;
    cell.popUpButtonIdentifier = QStringLiteral("HVB_LED");
    cell.popUpButtonEnable = false;
    cell.delegate = &choices;
    cell.loadItems();
    EXPECT_EQ(cell.popUpButton->count(), 2);
    EXPECT_EQ(cell.popUpButton->currentText(), "ON");
    EXPECT_EQ(cell.popUpButton->objectName(), "HVB_LED");
    EXPECT_FALSE(cell.popUpButton->isEnabled());
    EXPECT_TRUE(choices.made.empty());  // filling reports nothing

    cell.popUpButtonEnable = true;
    cell.loadItems();
    EXPECT_TRUE(cell.popUpButton->isEnabled());
    // The option already shown, chosen again, is reported too.
    emit cell.popUpButton->activated(1);
    cell.popUpButton->setCurrentIndex(0);
    emit cell.popUpButton->activated(0);
    EXPECT_EQ(choices.made, (std::vector<Choices::Choice>{{1, "HVB_LED", "ON"}, {0, "HVB_LED", "OFF"}}));

    // No option selected: position -1 and no title.
    cell.popUpButton->setCurrentIndex(-1);
    cell.didChange();
    EXPECT_EQ(choices.made.back(), (Choices::Choice{-1, "HVB_LED", ""}));

    // Without items the pop-up is empty; without a delegate nothing is reported.
    cell.items.reset();
    cell.loadItems();
    EXPECT_EQ(cell.popUpButton->count(), 0);
    cell.delegate = nullptr;
    cell.items = SettingOptions::ledOptions();
    cell.loadItems();
    emit cell.popUpButton->activated(0);
    EXPECT_EQ(choices.made.size(), 3u);
}

TEST(PopUpButtonCell, HidesTheThirdFrameRateOnlyInTheFiveEntryList) {
    Choices choices;
    PopUpButtonCell cell;
    cell.delegate = &choices;
    cell.popUpButtonIdentifier = QStringLiteral("HVB_RESOLUTION");
    cell.popUpButtonEnable = true;
    cell.items = QStringList{"1080P/60FPS", "1080P/30FPS", "720P/60FPS", "720P/30FPS", "480P/30FPS"};
    cell.selectedIndex = 1;
    cell.loadItems();
    ASSERT_EQ(cell.popUpButton->count(), 5);
    EXPECT_TRUE(rowHidden(cell.popUpButton, 2));
    EXPECT_FALSE(itemEnabled(cell.popUpButton, 2));
    EXPECT_FALSE(rowHidden(cell.popUpButton, 3));
    // The keyboard steps over it, and the position reported is the camera's.
    cell.show();
    QTest::keyClick(cell.popUpButton, Qt::Key_Down);
    ASSERT_FALSE(choices.made.empty());
    EXPECT_EQ(choices.made.back(), (Choices::Choice{3, "HVB_RESOLUTION", "720P/30FPS"}));

    for (const QStringList& other : {SettingOptions::resolutionFpsOptions(), SettingOptions::resolution1440FpsOptions(),
                                     QStringList{"1080P/60FPS", "1080P/30FPS", "720P/60FPS", "720P/30FPS"}}) {
        cell.items = other;
        cell.loadItems();
        for (int row = 0; row < cell.popUpButton->count(); ++row) {
            EXPECT_FALSE(rowHidden(cell.popUpButton, row)) << row;
            EXPECT_TRUE(itemEnabled(cell.popUpButton, row)) << row;
        }
    }
}

TEST(ButtonCell, ReportsClicksOnlyWhileEnabled) {
    Clicks clicks;
    ButtonCell cell;
    cell.delegate = &clicks;
    cell.btnTitle = "Set";
    cell.buttonEnabled = false;
    cell.setButtonWidth(180);
    cell.apply();
    cell.show();
    EXPECT_EQ(cell.btnSyncTime->text(), "Set");
    EXPECT_EQ(cell.btnSyncTime->width(), 180);
    QTest::mouseClick(cell.btnSyncTime, Qt::LeftButton);
    apptest::waitUntil([] { return false; }, 50);
    EXPECT_EQ(clicks.count, 0);

    cell.buttonEnabled = true;
    cell.apply();
    QTest::mouseClick(cell.btnSyncTime, Qt::LeftButton);
    EXPECT_TRUE(apptest::waitUntil([&] { return clicks.count == 1; }));
}

TEST(HandCursorNSTextField, ShowsTheHandOnlyWhileEnabled) {
    HandCursorNSTextField field("Forgot Password?");
    QSignalSpy clicked(&field, &HandCursorNSTextField::clicked);
    field.show();
    EXPECT_EQ(field.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(field.textFormat(), Qt::PlainText);
    QTest::mouseClick(&field, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
    field.setEnabled(false);
    EXPECT_EQ(field.cursor().shape(), Qt::ArrowCursor);
    QTest::mouseClick(&field, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
    field.setEnabled(true);
    EXPECT_EQ(field.cursor().shape(), Qt::PointingHandCursor);
}

TEST(SettingsRowView, ASeparatorDrawsItsLineAndAPlainRowNothing) {
    SettingsRowView row;
    row.resize(700, 36);
    row.isSeparator = true;
    QImage picture(row.size(), QImage::Format_ARGB32);
    picture.fill(Qt::white);
    row.render(&picture, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_EQ(picture.pixelColor(137, 15), QColor(245, 245, 210));
    EXPECT_EQ(picture.pixelColor(596, 15), QColor(245, 245, 210));
    EXPECT_EQ(picture.pixelColor(136, 15), QColor(Qt::white));
    EXPECT_EQ(picture.pixelColor(597, 15), QColor(Qt::white));
    EXPECT_EQ(picture.pixelColor(300, 14), QColor(Qt::white));
    EXPECT_EQ(picture.pixelColor(300, 16), QColor(Qt::white));

    row.isSeparator = false;
    picture.fill(Qt::white);
    row.render(&picture, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_EQ(picture.pixelColor(300, 15), QColor(Qt::white));
}

TEST(SettingsTableView, MakesOneCellPerRowFromItsModel) {
    Choices choices;
    Clicks clicks;
    SettingsTableView table(&choices, &clicks);
    table.resize(800, 400);
    table.show();
    std::vector<Settings> rows = {
        Settings{"Sync time with PC :", {"Set"}, 0, "HVB_SYNCTIME"},
        Settings::separator(),
        Settings{"LED Indicator :", {"OFF", "ON"}, 1, "HVB_LED"},
        Settings{"Buffered Video Length :", {"30 Seconds", "60 Seconds"}, 1, "HVB_BUFFERLENGTH"},
    };
    SettingsCell button{true, SettingsCell::Control::button, true, 0};
    SettingsCell forcedOff{true, SettingsCell::Control::popUp, false, 0};
    SettingsCell blank{false, SettingsCell::Control::none, false, 0};
    table.reloadData(rows, {button, SettingsCell{false}, forcedOff, blank}, 200, 190);
    ASSERT_EQ(table.settingsModel()->rowCount(), 4);

    ASSERT_NE(table.buttonCell(0), nullptr);
    EXPECT_EQ(table.buttonCell(0)->btnSyncTime->text(), "Set");
    EXPECT_EQ(table.buttonCell(0)->btnSyncTime->width(), 190);
    EXPECT_EQ(table.titleAt(0), "Sync time with PC :");
    ASSERT_NE(table.rowView(1), nullptr);
    EXPECT_TRUE(table.rowView(1)->isSeparator);
    EXPECT_EQ(table.popUpCell(1), nullptr);
    ASSERT_NE(table.popUpCell(2), nullptr);
    EXPECT_EQ(table.popUpCell(2)->popUpButton->currentText(), "OFF");
    EXPECT_FALSE(table.popUpCell(2)->popUpButton->isEnabled());
    EXPECT_EQ(table.popUpCell(2)->popUpButton->width(), 200);
    EXPECT_EQ(table.popUpCell(3), nullptr);
    EXPECT_EQ(table.titleAt(3), "");

    // A reload replaces every cell; an empty list leaves no row.
    table.reloadData({}, {}, 200, 190);
    EXPECT_EQ(table.settingsModel()->rowCount(), 0);
    EXPECT_EQ(table.settingsModel()->rowCount(table.settingsModel()->index(0, 0)), 0);
}
