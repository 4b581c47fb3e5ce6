// The holders with the application's own tables for a user in Taiwan. The language and the
// resources folder are fixed before anything reads them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "app/About.h"
#include "app/AppStartup.h"
#include "app/AppTestSupport.h"
#include "app/MainSplitView.h"
#include "app/MainWindow.h"
#include "app/RightSplitViewController.h"
#include "app/UserPermissionViewController.h"
#include "app/WarningPageViewController.h"
#include "camera/DeviceState.h"
#include "camera/FakeCameraLink.h"
#include "common/LocalizedString.h"
#include "common/MsgDialog.h"
#include "common/StringCatalog.h"
#include "common/StringTableTranslator.h"
#include "platform/appkit/Alert.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/FocusFrameStyle.h"
#include "platform/appkit/MainQueueDriver.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Paths.h"
#include "platform/services/qt/UpdateOfferDialog.h"
#include "status/StatusRowState.h"
#include "status/StatusViewController.h"
#include "tools/DialogRegistry.h"
#include "tools/FWUpgradeViewController.h"
#include "tools/PasswordEnterViewControl.h"
#include "tools/PasswordSettingViewControl.h"

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
    EXPECT_EQ(Msg::storageNotMounted(), QString::fromUtf8("\xE5\x84\xB2\xE5\xAD\x98\xE7\xA9\xBA\xE9\x96\x93"
                                                          "\xE6\x9C\xAA\xE6\x8E\x9B\xE8\xBC\x89"));
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

// ---- every screen, walked: no English outside what the tables themselves carry ----

// The Latin words the Traditional Chinese tables use themselves (product names, units, the
// opener's name), and those of the application's name.
std::set<QString> latinWordsOfTheTables() {
    static const QRegularExpression word(QStringLiteral("[A-Za-z]{2,}"));
    std::set<QString> words;
    auto add = [&](const QString& text) {
        for (auto it = word.globalMatch(text); it.hasNext();) words.insert(it.next().captured());
    };
    const QDir folder(QStringLiteral(HVB_TEST_SOURCE_DIR "/resources/zh-Hant.lproj"));
    for (const QString& name : folder.entryList({QStringLiteral("*.strings")})) {
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) continue;
        const StringsTable table = parseStrings(file.readAll());
        for (auto it = table.entries.cbegin(); it != table.entries.cend(); ++it) add(it.value());
    }
    add(QString::fromStdString(foundation::Bundle::main().infoString("CFBundleName").value_or("")));
    add(QString::fromLatin1(foundation::paths::kAppName).replace(QLatin1Char('_'), QLatin1Char(' ')));
    return words;
}

// Every text a visible widget of `root` shows, its menus' too.
QStringList visibleTexts(QWidget* root) {
    QStringList texts{root->windowTitle()};
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(root)) continue;
        if (auto* label = qobject_cast<QLabel*>(widget)) texts << label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) texts << button->text();
    }
    if (auto* window = qobject_cast<QMainWindow*>(root)) {
        for (QAction* menu : window->menuBar()->actions()) {
            texts << menu->text();
            if (menu->menu())
                for (QAction* item : menu->menu()->actions()) texts << item->text();
        }
    }
    texts.removeAll(QString());
    return texts;
}

// The texts holding a Latin word that no table value holds: English left in the screen's code.
QStringList englishOutsideTheTables(const QStringList& texts) {
    static const std::set<QString> allowed = latinWordsOfTheTables();
    static const QRegularExpression word(QStringLiteral("[A-Za-z]{2,}"));
    QStringList english;
    for (const QString& text : texts) {
        for (auto it = word.globalMatch(text); it.hasNext();) {
            if (allowed.count(it.next().captured()) == 0) {
                english << text;
                break;
            }
        }
    }
    return english;
}

TEST(LocalizedStringWithTables, EveryScreenShowsOnlyTextsOfTheTables) {
    appkit::installMainQueueDriver(qApp);
    registerAppControllers();
    auto link = std::make_shared<hvbtest::FakeCameraLink>();
    setCameraLink(link);
    {
        // The main window with the insertion page and its application menu.
        MainWindow window{LaunchEnvironment{}};
        window.showWindow();
        window.resize(1040, 680);
        auto shown = std::make_shared<bool>(false);  // after what showing the window queued
        dispatch::mainQueue().async([shown] { *shown = true; });
        EXPECT_TRUE(apptest::waitUntil([&] { return *shown; }));
        EXPECT_TRUE(apptest::saveScreenshot(&window, "zh-main-window-no-camera"));
        EXPECT_EQ(englishOutsideTheTables(visibleTexts(&window)), QStringList());

        // The insertion page's texts break only between words (at spaces, after a comma), and no
        // line is wider than its label, so word wrap breaks none of them inside a word.
        const std::pair<const char*, QString> broken[] = {{"insertDeviceLabel", Str::insertDeviceFirst()},
                                                          {"securityReminderLabel", Msg::allowSystemSoftware()}};
        for (const auto& [name, text] : broken) {
            auto* label = window.findChild<QLabel*>(QString::fromLatin1(name));
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(QString(label->text()).remove(QLatin1Char('\n')).remove(QLatin1Char(' ')),
                      QString(text).remove(QLatin1Char(' ')));
            for (const QString& line : label->text().split(QLatin1Char('\n'))) {
                EXPECT_LE(label->fontMetrics().horizontalAdvance(line), label->width()) << line.toStdString();
                EXPECT_FALSE(line.startsWith(QString::fromUtf8("\xE7\xBD\xAE"))) << line.toStdString();  // "置"
            }
        }

        // The driver known to be stopped, and being started: in the user's language too.
        EXPECT_EQ(apptest::showEachDriverHostState(&window, "zh-", [&](QLabel* line) {
                      EXPECT_EQ(englishOutsideTheTables(visibleTexts(&window)), QStringList());
                      for (const QString& text : line->text().split(QLatin1Char('\n')))
                          EXPECT_LE(line->fontMetrics().horizontalAdvance(text), line->width()) << text.toStdString();
                  }),
                  QStringList());

        int pictureButtons = 0;
        EXPECT_EQ(apptest::unnamedPictureButtons(&window, pictureButtons, "zh-Hant"), QStringList());

        // One camera, then the same one locked: the Status row's picture buttons (rename,
        // speaker, folder or lock, webcam) each say what they do.
        // What the camera tells of itself (its label and model) is no text of the program's.
        auto each = [&] {
            QStringList texts = visibleTexts(&window);
            for (const char* own : {"Unit 7", "HVBS2A"}) texts.removeAll(QLatin1String(own));
            EXPECT_EQ(englishOutsideTheTables(texts), QStringList());
        };
        EXPECT_EQ(apptest::showEachCameraRow(&window, link->models, "zh-", "zh-Hant", each), QStringList());
        link->models.clear();
    }

    // The About page, its statement link among its texts.
    {
        appkit::Window window(new About());
        window.aboutToShow();
        window.show();
        window.didShow();
        window.adjustSize();
        EXPECT_TRUE(apptest::saveScreenshot(&window, "zh-about"));
        EXPECT_EQ(englishOutsideTheTables(visibleTexts(&window)), QStringList());
        window.performClose();
    }
    // The pages and dialogs; the password dialogs' eyes are picture buttons too.
    int dialogPictureButtons = 0;
    fwUpgradeState = 2;  // the upgrade's failure after its wait, with the cause
    resultCause = Msg::upgradeCameraGone();
    for (appkit::ViewController* page : std::initializer_list<appkit::ViewController*>{
             new UserPermissionViewController(), new WarningPageViewController(), new MsgDialogViewController(),
             new PasswordEnterViewControl(), new PasswordSettingViewControl(), new FWUpgradeViewController()}) {
        appkit::Window window(page);
        window.aboutToShow();
        window.show();
        window.didShow();
        EXPECT_TRUE(apptest::saveScreenshot(&window, "zh-" + page->objectName().toStdString()));
        EXPECT_EQ(englishOutsideTheTables(visibleTexts(&window)), QStringList()) << page->objectName().toStdString();
        EXPECT_EQ(apptest::unnamedPictureButtons(&window, dialogPictureButtons, "zh-Hant"), QStringList())
            << page->objectName().toStdString();
        const std::string eye = "zh-" + page->objectName().toStdString() + "-eye";
        EXPECT_EQ(apptest::keyboardFaults(&window, {{"QToolButton \"\"", eye}}), QStringList());
        window.performClose();
    }
    EXPECT_GE(dialogPictureButtons, 2);
    setCameraLink(nullptr);

    // The battery texts of every level.
    QStringList battery;
    for (int raw = 0; raw < 10; ++raw) battery << StatusRowState::batteryText({true, raw, true});
    EXPECT_EQ(englishOutsideTheTables(battery), QStringList());

    // The launch check's alerts: the button too.
    QStringList alertTexts;
    appkit::Alert::setResponder([&](const appkit::Alert& alert) {
        alertTexts << alert.messageText << alert.informativeText << alert.buttons;
        return appkit::NSAlertFirstButtonReturn;
    });
    bool shown = false;
    std::thread check([&] {
        LaunchEnvironment::system().showAlertAndWait(Str::error().toStdString(), Msg::driverLoadedError().toStdString());
        shown = true;
    });
    apptest::waitUntil([&] { return !alertTexts.isEmpty(); }, 5000);
    check.join();
    appkit::Alert::setResponder({});
    EXPECT_TRUE(shown);
    EXPECT_TRUE(alertTexts.contains(Str::ok()));
    // An alert given no button, and the second toolbox's message.
    installStringTableTranslator();
    EXPECT_EQ(QCoreApplication::translate("appkit::Alert", "OK"), Str::ok());
    alertTexts << localizedMessage(QStringLiteral("The Halvetor Body ToolBox is already running."));
    // The upgrade's failure causes.
    alertTexts << Msg::upgradeNoVolume() << Msg::upgradeCameraGone();
    EXPECT_EQ(englishOutsideTheTables(alertTexts), QStringList());
}

}  // namespace
}  // namespace hvb

int main(int argc, char** argv) {
    ::setenv("HVB_RESOURCES", HVB_TEST_SOURCE_DIR "/resources", 1);
    ::setenv("LANGUAGE", "zh_TW:en", 1);
    ::setenv("LC_ALL", "zh_TW.UTF-8", 1);
    if (!::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The screens keep defaults and caches: in a home of the test's own.
    std::string home = (std::filesystem::temp_directory_path() / "hvb-zh-test-XXXXXX").string();
    if (::mkdtemp(home.data())) {
        ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
    }
    QApplication application(argc, argv);
    appkit::installFocusFrameStyle();
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    return result;
}
