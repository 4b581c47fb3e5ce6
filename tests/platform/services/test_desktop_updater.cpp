// The desktop updater: reads the appcast file, offers a newer version in its dialog and turns
// the user's answer into the delegate's callbacks.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <thread>

#include "app/AppTestSupport.h"
#include "online/OnlineTestSupport.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/services/qt/DesktopUpdater.h"
#include "platform/services/qt/UpdateOfferDialog.h"

namespace {

using services::AppcastItem;
using services::DesktopUpdater;
using services::UpdateOfferDialog;

// A main bundle of the test's own (read once, before anything asks for it).
class BundleEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::filesystem::create_directories(bundle.path() / "Resources");
        hvbtest::writeFile(bundle.path() / "Info.plist",
                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                           "<key>CFBundleName</key><string>Test &lt;b&gt;Tool</string>"
                           "<key>CFBundleShortVersionString</key><string>1.9.3</string></dict></plist>");
        ::setenv("HVB_RESOURCES", (bundle.path() / "Resources").c_str(), 1);
    }
    hvbtest::TempDir bundle;
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new BundleEnvironment);

struct Call {
    std::string what;
    AppcastItem item;
    std::string error;
};

class RecordingDelegate : public services::UpdaterDelegate {
public:
    void updaterDidNotFindUpdate(services::Updater&) override { calls.push_back({"notFound", {}, {}}); }
    void updaterUserDidSkipThisVersion(services::Updater&, const AppcastItem& item) override {
        calls.push_back({"skip", item, {}});
    }
    void updaterFailedToDownloadUpdate(services::Updater&, const AppcastItem& item, const std::string& error) override {
        calls.push_back({"failed", item, error});
    }
    void userDidCancelDownload(services::Updater&) override { calls.push_back({"cancel", {}, {}}); }
    void updaterWillRelaunchApplication(services::Updater&) override { calls.push_back({"willRelaunch", {}, {}}); }
    void updaterDidRelaunchApplication(services::Updater&) override { calls.push_back({"didRelaunch", {}, {}}); }
    std::vector<Call> calls;
};

std::string feedWith(const std::string& items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\" "
           "xmlns:sparkle=\"http://www.brevantis.example/xml-namespaces/appcast\"><channel>" +
           items + "</channel></rss>";
}

std::string item(const std::string& version, const std::string& link) {
    return "<item><title>Version " + version + "</title><sparkle:version>" + version +
           "</sparkle:version><enclosure url=\"" + link + "\" sparkle:version=\"" + version + "\"/></item>";
}

class DesktopUpdaterTest : public ::testing::Test {
protected:
    DesktopUpdaterTest() : defaults(home.path() / "defaults.json") {}

    void SetUp() override { ASSERT_NE(QApplication::instance(), nullptr); }

    std::unique_ptr<DesktopUpdater> makeUpdater(std::optional<std::string> current = "1.0.0") {
        DesktopUpdater::Options options;
        options.currentVersion = std::move(current);
        if (options.currentVersion) options.appName = "Halvetor Body ToolBox";
        options.openURL = [this](const std::string& url) {
            opened.push_back(url);
            return openSucceeds;
        };
        options.defaults = &defaults;
        auto updater = std::make_unique<DesktopUpdater>(options);
        updater->setDelegate(&delegate);
        updater->setFeedURL(feedFile());
        return updater;
    }

    std::filesystem::path feedFile() const { return home.path() / "appcast.xml"; }
    void writeFeed(const std::string& xml) { hvbtest::writeFile(feedFile(), xml); }

    // Runs one check until it has reported or offered; returns the offer, if any.
    UpdateOfferDialog* check(DesktopUpdater& updater) {
        const size_t before = delegate.calls.size();
        updater.checkForUpdatesInBackground();
        apptest::waitUntil([&] { return delegate.calls.size() != before || updater.offerDialog(); }, 20000);
        return updater.offerDialog();
    }

    hvbtest::TempDir home;
    foundation::UserDefaults defaults;
    RecordingDelegate delegate;
    std::vector<std::string> opened;
    bool openSucceeds = true;
};

TEST_F(DesktopUpdaterTest, NothingNewerIsReportedAsNotFound) {
    auto updater = makeUpdater("2.1.0");
    writeFeed(feedWith(item("2.1.0", "https://dl.example/a") + item("1.9", "https://dl.example/b")));
    EXPECT_EQ(check(*updater), nullptr);
    ASSERT_EQ(delegate.calls.size(), 1u);
    EXPECT_EQ(delegate.calls[0].what, "notFound");

    // Not decimal fractions: 2.10 is newer than 2.9.
    auto older = makeUpdater("2.9");
    writeFeed(feedWith(item("2.10", "https://dl.example/c")));
    EXPECT_NE(check(*older), nullptr);
}

TEST_F(DesktopUpdaterTest, MissingOrBrokenFeedIsNotFound) {
    auto updater = makeUpdater();
    EXPECT_EQ(check(*updater), nullptr) << "no file yet";
    writeFeed("<rss><channel><item>");
    EXPECT_EQ(check(*updater), nullptr);
    writeFeed(std::string(64, '\0'));
    EXPECT_EQ(check(*updater), nullptr);
    ASSERT_EQ(delegate.calls.size(), 3u);
    for (const auto& c : delegate.calls) EXPECT_EQ(c.what, "notFound");
}

TEST_F(DesktopUpdaterTest, NewestItemIsOfferedWithItsLinkAsPlainText) {
    auto updater = makeUpdater();
    writeFeed(feedWith(item("1.9", "https://dl.example/old") + item("1.10.2", "https://dl.example/<b>new</b>") +
                       item("1.10", "https://dl.example/mid")));
    UpdateOfferDialog* dialog = check(*updater);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(delegate.calls.empty()) << "nothing is reported before the user answers";
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->linkLabel()->text(), "https://dl.example/<b>new</b>");
    EXPECT_EQ(dialog->linkLabel()->textFormat(), Qt::PlainText);
    auto* headline = dialog->findChild<QLabel*>("headline");
    ASSERT_NE(headline, nullptr);
    EXPECT_EQ(headline->text(), "A new version of Halvetor Body ToolBox is available");
    auto* versionLine = dialog->findChild<QLabel*>("versionLine");
    ASSERT_NE(versionLine, nullptr);
    EXPECT_TRUE(versionLine->text().contains("1.10.2"));
    EXPECT_TRUE(versionLine->text().contains("1.0.0"));
    EXPECT_EQ(dialog->skipButton()->text(), "Skip This Version");
    EXPECT_EQ(dialog->laterButton()->text(), "Remind Me Later");

    // A second check while the offer is open opens no second dialog and reports nothing.
    updater->checkForUpdatesInBackground();
    for (int i = 0; i < 50; ++i) {
        dispatch::RunLoop::main().runPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(updater->offerDialog(), dialog);
    EXPECT_TRUE(delegate.calls.empty());
}

TEST_F(DesktopUpdaterTest, OpenHandsOnlyWebLinksToTheDesktop) {
    auto updater = makeUpdater();
    writeFeed(feedWith(item("2.1.0", "https://dl.example/app-2.1.0.tar.gz")));
    ASSERT_NE(check(*updater), nullptr);
    QTest::mouseClick(updater->offerDialog()->openButton(), Qt::LeftButton);
    EXPECT_EQ(opened, std::vector<std::string>{"https://dl.example/app-2.1.0.tar.gz"});
    EXPECT_TRUE(delegate.calls.empty()) << "opened: nothing to report";
    EXPECT_EQ(updater->offerDialog(), nullptr);
    EXPECT_EQ(updater->skippedVersion(), "");

    // The desktop cannot open it: a download failure naming the address.
    openSucceeds = false;
    ASSERT_NE(check(*updater), nullptr);
    QTest::mouseClick(updater->offerDialog()->openButton(), Qt::LeftButton);
    ASSERT_EQ(delegate.calls.size(), 1u);
    EXPECT_EQ(delegate.calls[0].what, "failed");
    EXPECT_EQ(delegate.calls[0].item.versionString, "2.1.0");
    EXPECT_NE(delegate.calls[0].error.find("https://dl.example/app-2.1.0.tar.gz"), std::string::npos);

    // A feed cannot make the desktop open a local file.
    openSucceeds = true;
    opened.clear();
    writeFeed(feedWith(item("2.1.0", "file:///etc/passwd")));
    ASSERT_NE(check(*updater), nullptr);
    QTest::mouseClick(updater->offerDialog()->openButton(), Qt::LeftButton);
    EXPECT_TRUE(opened.empty());
    ASSERT_EQ(delegate.calls.size(), 2u);
    EXPECT_EQ(delegate.calls[1].what, "failed");
}

// Without a hook the desktop's opener runs; when it opens nothing the delegate hears why, with
// the address, so the offer never just closes in silence.
TEST_F(DesktopUpdaterTest, TheDesktopsOpenerThatOpensNothingSaysWhy) {
    const std::string path = ::getenv("PATH") ? ::getenv("PATH") : "";
    ::setenv("PATH", (home.path().string() + ":" + path).c_str(), 1);
    struct Case {
        const char* script;
        std::string why;
    };
    const std::string link = "https://dl.example/app-2.1.0.tar.gz";
    const Case cases[] = {
        {"exit 3", link + " could not be opened: no program is set up to open it."},
        {"echo 'gio: no browser here' >&2; exit 4", link + " could not be opened: gio: no browser here"},
        {"exit 5", link + " could not be opened: xdg-open ended with exit status 5."},
        {"exit 0", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        hvbtest::writeFile(home.path() / "xdg-open", std::string("#!/bin/sh\n") + c.script + "\n");
        std::filesystem::permissions(home.path() / "xdg-open", std::filesystem::perms::owner_all);
        DesktopUpdater::Options options;
        options.currentVersion = "1.0.0";
        options.defaults = &defaults;
        DesktopUpdater updater(options);
        updater.setDelegate(&delegate);
        updater.setFeedURL(feedFile());
        writeFeed(feedWith(item("2.1.0", link)));
        delegate.calls.clear();
        ASSERT_NE(check(updater), nullptr);
        QTest::mouseClick(updater.offerDialog()->openButton(), Qt::LeftButton);
        apptest::waitUntil([&] { return !delegate.calls.empty(); }, c.why.empty() ? 300 : 20000);
        if (c.why.empty()) {
            EXPECT_TRUE(delegate.calls.empty());
            continue;
        }
        ASSERT_EQ(delegate.calls.size(), 1u);
        EXPECT_EQ(delegate.calls[0].what, "failed");
        EXPECT_EQ(delegate.calls[0].error, c.why);
    }
    ::setenv("PATH", path.c_str(), 1);
}

TEST_F(DesktopUpdaterTest, SkippedVersionIsRememberedAndNotOfferedAgain) {
    auto updater = makeUpdater();
    writeFeed(feedWith(item("2.1.0", "https://dl.example/a")));
    ASSERT_NE(check(*updater), nullptr);
    QTest::mouseClick(updater->offerDialog()->skipButton(), Qt::LeftButton);
    ASSERT_EQ(delegate.calls.size(), 1u);
    EXPECT_EQ(delegate.calls[0].what, "skip");
    EXPECT_EQ(delegate.calls[0].item.title, "Version 2.1.0");
    EXPECT_EQ(delegate.calls[0].item.versionString, "2.1.0");
    EXPECT_TRUE(opened.empty());

    // Remembered in the user defaults, also by a new updater (a new launch).
    foundation::UserDefaults reread(defaults.file());
    EXPECT_EQ(reread.string(DesktopUpdater::kSkippedVersionKey).value, "2.1.0");
    auto next = makeUpdater();
    EXPECT_EQ(check(*next), nullptr);
    EXPECT_EQ(delegate.calls.back().what, "notFound");

    // A version beyond the skipped one is offered again.
    writeFeed(feedWith(item("2.1.0", "https://dl.example/a") + item("2.1.1", "https://dl.example/b")));
    EXPECT_NE(check(*next), nullptr);
}

TEST_F(DesktopUpdaterTest, RemindMeLaterAndClosingAreACancel) {
    auto updater = makeUpdater();
    writeFeed(feedWith(item("2.1.0", "https://dl.example/a")));
    ASSERT_NE(check(*updater), nullptr);
    QTest::mouseClick(updater->offerDialog()->laterButton(), Qt::LeftButton);
    ASSERT_EQ(delegate.calls.size(), 1u);
    EXPECT_EQ(delegate.calls[0].what, "cancel");
    EXPECT_EQ(updater->skippedVersion(), "") << "later is not skip";

    UpdateOfferDialog* again = check(*updater);
    ASSERT_NE(again, nullptr) << "offered again at the next check";
    QTest::keyClick(again, Qt::Key_Escape);
    ASSERT_EQ(delegate.calls.size(), 2u);
    EXPECT_EQ(delegate.calls[1].what, "cancel");
    EXPECT_TRUE(opened.empty());
}

TEST_F(DesktopUpdaterTest, CurrentVersionAndNameComeFromTheMainBundle) {
    auto updater = makeUpdater(std::nullopt);  // the bundle says 1.9.3, "Test <b>Tool"
    writeFeed(feedWith(item("1.9.3", "https://dl.example/a")));
    EXPECT_EQ(check(*updater), nullptr);
    writeFeed(feedWith(item("1.10.0", "https://dl.example/a")));
    UpdateOfferDialog* dialog = check(*updater);
    ASSERT_NE(dialog, nullptr);
    auto* headline = dialog->findChild<QLabel*>("headline");
    EXPECT_EQ(headline->text(), "A new version of Test <b>Tool is available");
    EXPECT_EQ(headline->textFormat(), Qt::PlainText);
}

TEST(UpdaterShared, InstalledUntilItGoesAway) {
    EXPECT_EQ(services::Updater::shared(), nullptr);
    {
        DesktopUpdater updater;
        services::Updater::setShared(&updater);
        EXPECT_EQ(services::Updater::shared(), &updater);
        updater.setFeedURL("/tmp/x/appcast.xml");
        EXPECT_EQ(updater.feedURL(), std::filesystem::path("/tmp/x/appcast.xml"));
    }
    EXPECT_EQ(services::Updater::shared(), nullptr) << "a destroyed updater is never handed out";
}

}  // namespace
