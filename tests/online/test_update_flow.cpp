// The whole self-update on loopback: the start-up probe's result starts the request, the
// stand-in's appcast reaches the desktop updater, and each answer in its dialog ends as a
// "Software_Update" event at the collector.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <nlohmann/json.hpp>

#include "app/AppTestSupport.h"
#include "online/AutoUpdateManager.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/services/qt/DesktopUpdater.h"
#include "platform/services/qt/UpdateOfferDialog.h"
#include "OnlineTestSupport.h"

namespace {

using hvb::AutoUpdateManager;
using json = nlohmann::json;

class UpdateFlow : public hvbtest::StandInTest {
protected:
    void SetUp() override {
        StandInTest::SetUp();
        defaults = std::make_unique<foundation::UserDefaults>(home.path() / "defaults.json");
        services::DesktopUpdater::Options options;
        options.currentVersion = "1.0.0";
        options.appName = "Halvetor Body ToolBox";
        options.defaults = defaults.get();
        options.openURL = [this](const std::string& url) {
            desktopOpened.push_back(url);
            return desktopOpens;
        };
        updater = std::make_unique<services::DesktopUpdater>(options);
        updater->setDelegate(&AutoUpdateManager::shared());
        services::Updater::setShared(updater.get());

        AutoUpdateManager::Hooks h;
        h.preferredLanguages = {"en-US"};
        h.countryCode = "US";
        h.runAlert = [this](const std::string& title, const std::string&, const std::vector<std::string>&) {
            alertTitles.push_back(title);
            return 1000;
        };
        h.openURL = [this](const std::string& url) { browserOpened.push_back(url); };
        AutoUpdateManager::shared().setHooks(h);
    }
    void TearDown() override {
        services::Updater::setShared(nullptr);
        updater.reset();
        AutoUpdateManager::shared().setHooks({});
        StandInTest::TearDown();
    }

    // The probe found the site: the request goes out and the offer comes up.
    services::UpdateOfferDialog* launchAndWaitForOffer() {
        hvb::websiteProbeCompletion(true, std::nullopt, 200, [](bool ok) { hvb::setInternetAvailable(ok); });
        apptest::waitUntil([&] { return updater->offerDialog() != nullptr; }, 30000);
        return updater->offerDialog();
    }

    std::vector<json> updateEvents(size_t count) {
        EXPECT_TRUE(service.waitForRequests("/mp/collect", count, std::chrono::seconds(30)));
        return hvbtest::collectedEvents(service, "Software_Update");
    }

    std::unique_ptr<foundation::UserDefaults> defaults;
    std::unique_ptr<services::DesktopUpdater> updater;
    std::vector<std::string> desktopOpened, browserOpened, alertTitles;
    bool desktopOpens = true;
};

TEST_F(UpdateFlow, SkipIsReportedAndTheVersionNotOfferedAgain) {
    hvbtest::LogCapture log;
    auto* dialog = launchAndWaitForOffer();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->linkLabel()->text().toStdString(), service.baseURL() + "/download/app/app-2.1.0.tar.gz");
    QTest::mouseClick(dialog->skipButton(), Qt::LeftButton);
    EXPECT_EQ(log.count("使用者跳過此更新版本:Version 2.1.0(2.1.0)"), 1u);
    const auto events = updateEvents(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["action"], "Version 2.1.0(2.1.0)");
    EXPECT_EQ(events[0]["label"], "Skip Version");

    // The next launch's check finds nothing to offer.
    AutoUpdateManager::shared().checkForUpdate();
    ASSERT_TRUE(apptest::waitUntil([&] { return log.count("已更新到最新版本") == 1; }, 30000));
    EXPECT_EQ(updater->offerDialog(), nullptr);
    EXPECT_EQ(service.requestsTo("/v1/api/get/version").size(), 2u);
}

TEST_F(UpdateFlow, RemindMeLaterIsAUserCancel) {
    auto* dialog = launchAndWaitForOffer();
    ASSERT_NE(dialog, nullptr);
    QTest::mouseClick(dialog->laterButton(), Qt::LeftButton);
    const auto events = updateEvents(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["action"], "Cancel");
    EXPECT_EQ(events[0]["label"], "User cancel");
    EXPECT_TRUE(desktopOpened.empty());
}

TEST_F(UpdateFlow, LinkThatCannotBeOpenedIsADownloadFailureWithTheAlert) {
    desktopOpens = false;
    auto* dialog = launchAndWaitForOffer();
    ASSERT_NE(dialog, nullptr);
    QTest::mouseClick(dialog->openButton(), Qt::LeftButton);
    ASSERT_EQ(desktopOpened.size(), 1u);
    const auto events = updateEvents(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["label"], "Download Fail");
    EXPECT_NE(events[0]["action"].get<std::string>().find(desktopOpened[0]), std::string::npos)
        << "the error's text is the action";
    EXPECT_EQ(alertTitles, std::vector<std::string>{"Upgrade failed"});
    EXPECT_EQ(browserOpened, std::vector<std::string>{service.baseURL() + "/support"});
}

}  // namespace
