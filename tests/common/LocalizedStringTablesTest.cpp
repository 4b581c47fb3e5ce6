// The holders with the application's own tables for a user in Taiwan. The language and the
// resources folder are fixed before anything reads them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include "app/UserPermissionViewController.h"
#include "common/LocalizedString.h"
#include "common/StringCatalog.h"
#include "common/StringTableTranslator.h"
#include "platform/services/qt/UpdateOfferDialog.h"
#include "status/StatusViewController.h"

namespace hvb {
namespace {

using namespace LocalizedString;

TEST(LocalizedStringWithTables, TextsComeFromThePreferredLocalisation) {
    EXPECT_EQ(StringCatalog::main().searchOrder().value(0), QStringLiteral("zh-Hant"));
    EXPECT_EQ(Str::cancel(), QString::fromUtf8("\xE5\x8F\x96\xE6\xB6\x88"));
    EXPECT_EQ(Str::passwordSettingUnlock(), QString::fromUtf8("\xE8\xA7\xA3\xE9\x8E\x96"));
    EXPECT_EQ(Msg::sdCardError(), QString::fromUtf8("\xE5\x84\xB2\xE5\xAD\x98\xE7\xA9\xBA\xE9\x96\x93"
                                                    "\xE9\x8C\xAF\xE8\xAA\xA4\xEF\xBC\x8C\xE8\xAB\x8B"
                                                    "\xE6\xA0\xBC\xE5\xBC\x8F\xE5\x8C\x96\xE8\xA3\x9D"
                                                    "\xE7\xBD\xAE\xE3\x80\x82"));
    EXPECT_EQ(Webcam::Btn::testWebcam(), QString::fromUtf8("\xE6\xB8\xAC\xE8\xA9\xA6\xE7\xB6\xB2\xE8"
                                                           "\xB7\xAF\xE6\x94\x9D\xE5\xBD\xB1\xE6\xA9\x9F"));
    EXPECT_TRUE(Copyright::notice().startsWith(QString::fromUtf8("Copyright \xC2\xA9 2026 Brevantis.")));
    EXPECT_NE(Copyright::notice(), QString::fromUtf8("Copyright \xC2\xA9 2026 Brevantis. All rights reserved."));
    EXPECT_EQ(localizedCommonString(QStringLiteral("OK")), QString::fromUtf8("\xE7\xA2\xBA\xE5\xAE\x9A"));
    // A key that no table has is shown as it is.
    EXPECT_EQ(localizedMessage(QStringLiteral("Not in any table")), QStringLiteral("Not in any table"));
}

// Every text a window shows, buttons and labels alike.
QStringList shownTexts(QWidget* window) {
    QStringList texts{window->windowTitle()};
    for (auto* label : window->findChildren<QLabel*>()) texts << label->text();
    for (auto* button : window->findChildren<QPushButton*>()) texts << button->text();
    texts.removeAll(QString());
    return texts;
}

// Texts of the platform's own windows and of the driver-permission page are in the user's
// language too: none of them is left in English.
TEST(LocalizedStringWithTables, TheUpdateOfferAndThePermissionPageSpeakTheUsersLanguage) {
    installStringTableTranslator();
    services::UpdateOfferDialog offer(QStringLiteral("HalvetorBody_ToolBox"), QStringLiteral("2.0.0"), QString(),
                                      QStringLiteral("https://example.invalid/get"));
    const QStringList offerTexts = shownTexts(&offer);
    EXPECT_TRUE(offerTexts.contains(Msg::softwareUpdate()));
    EXPECT_TRUE(offerTexts.contains(Msg::newVersionAvailable().arg(QStringLiteral("HalvetorBody_ToolBox"))));
    EXPECT_TRUE(offerTexts.contains(Msg::newVersionDetails().arg(QStringLiteral("HalvetorBody_ToolBox"),
                                                                 QStringLiteral("2.0.0"), Msg::unknownVersion())));
    EXPECT_EQ(offer.openButton()->text(), Msg::openDownloadPage());
    EXPECT_EQ(offer.skipButton()->text(), Msg::skipThisVersion());
    EXPECT_EQ(offer.laterButton()->text(), Msg::remindMeLater());
    EXPECT_EQ(offer.laterButton()->text(), QString::fromUtf8("\xE7\xA8\x8D\xE5\xBE\x8C\xE6\x8F\x90\xE9\x86\x92\xE6\x88\x91"));

    UserPermissionViewController page;
    page.view();
    const QStringList pageTexts = shownTexts(&page);
    EXPECT_TRUE(pageTexts.contains(Msg::permissionTitle()));
    EXPECT_TRUE(pageTexts.contains(Msg::permissionPassword()));
    EXPECT_TRUE(pageTexts.contains(Str::ok()));

    // Not one text of either is still English (the product names and the link aside).
    const QStringList english = {"Software Update", "A new version", "is now available", "Open Download Page",
                                 "Skip This Version", "Remind Me Later", "unknown version", "wants to make changes",
                                 "Enter your password", "User Name:", "Password:", "Cancel", "OK"};
    for (const QString& text : offerTexts + pageTexts)
        for (const QString& words : english) EXPECT_FALSE(text.contains(words)) << text.toStdString();

    // The driver help page the Status panel opens is the one in the user's language.
    EXPECT_EQ(StatusViewController::securityHelpPage().parent_path().filename(), "zh-Hant.lproj");
}

}  // namespace
}  // namespace hvb

int main(int argc, char** argv) {
    ::setenv("HVB_RESOURCES", HVB_TEST_SOURCE_DIR "/resources", 1);
    ::setenv("LANGUAGE", "zh_TW:en", 1);
    ::setenv("LC_ALL", "zh_TW.UTF-8", 1);
    if (!::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
