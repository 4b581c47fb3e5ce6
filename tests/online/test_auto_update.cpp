// The self-update manager against the web-service stand-in: the appcast request, the stored
// "appcast.xml", the shared updater's start, and the delegate's log lines and events.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <strings.h>

#include <nlohmann/json.hpp>

#include "online/AutoUpdateManager.h"
#include "online/OnlineConfig.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Paths.h"
#include "OnlineTestSupport.h"

namespace {

using hvb::AutoUpdateManager;
using json = nlohmann::json;

constexpr auto kWait = std::chrono::seconds(30);

class FakeUpdater : public services::Updater {
public:
    void setFeedURL(const std::filesystem::path& feed) override {
        feed_ = feed;
        ++feedSets;
    }
    std::optional<std::filesystem::path> feedURL() const override { return feed_; }
    void checkForUpdatesInBackground() override {
        // The file is read where the check starts: it must be complete by then.
        feedAtCheck = feed_ ? hvbtest::readFile(*feed_) : std::string();
        ++checks;
    }
    std::atomic<int> feedSets{0};
    std::atomic<int> checks{0};
    std::string feedAtCheck;

private:
    std::optional<std::filesystem::path> feed_;
};

// Lines that the transfer itself puts on every request, whoever makes it.
bool isTransportHeader(const std::string& name) {
    for (const char* t : {"Host", "User-Agent", "Content-Length", "Accept-Encoding", "REMOTE_ADDR", "REMOTE_PORT",
                          "LOCAL_ADDR", "LOCAL_PORT"})
        if (strcasecmp(name.c_str(), t) == 0) return true;
    return false;
}

class AutoUpdate : public hvbtest::StandInTest {
protected:
    void SetUp() override {
        StandInTest::SetUp();
        setHooks({"en-US"}, "US");
        services::Updater::setShared(&updater);
    }
    void TearDown() override {
        services::Updater::setShared(nullptr);
        AutoUpdateManager::shared().setHooks({});
        StandInTest::TearDown();
    }

    void setHooks(std::vector<std::string> languages, std::string country) {
        AutoUpdateManager::Hooks h;
        h.preferredLanguages = std::move(languages);
        h.countryCode = std::move(country);
        h.runAlert = [this](const std::string& title, const std::string& text, const std::vector<std::string>& buttons) {
            alerts.push_back({title, text, buttons});
            return alertAnswer;
        };
        h.openURL = [this](const std::string& url) { openedURLs.push_back(url); };
        AutoUpdateManager::shared().setHooks(std::move(h));
    }

    std::filesystem::path appcastFile() const { return home.path() / "data" / "HalvetorBody_ToolBox" / "appcast.xml"; }

    // The reply of one real request, as the HTTP client hands it over.
    net::DataResult fetchReply() {
        const auto req = AutoUpdateManager::shared().makeAppcastRequest();
        EXPECT_TRUE(req);
        return req ? net::Session::shared().perform(*req) : net::DataResult{};
    }

    bool pumpUntil(const std::function<bool()>& pred) { return dispatch::RunLoop::main().runUntil(pred, kWait); }

    // "Software_Update" events that reached the collector.
    std::vector<json> updateEvents(size_t atLeast) {
        EXPECT_TRUE(service.waitForRequests("/mp/collect", atLeast, kWait));
        return hvbtest::collectedEvents(service, "Software_Update");
    }

    struct Alert {
        std::string title, text;
        std::vector<std::string> buttons;
    };
    FakeUpdater updater;
    std::vector<Alert> alerts;
    std::vector<std::string> openedURLs;
    int alertAnswer = 1000;
};

TEST_F(AutoUpdate, RequestOnTheWireAndTheAppcastStored) {
    hvbtest::LogCapture log;
    AutoUpdateManager::shared().checkForUpdate();
    ASSERT_TRUE(service.waitForRequests("/v1/api/get/version", 1, kWait));
    const auto r = service.requestsTo("/v1/api/get/version").at(0);
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.body, R"({"tag":"macos","category":"HVB","lang":"en"})");
    EXPECT_EQ(r.header("Authorization"), "k-quellmarsh-vexor");
    EXPECT_FALSE(r.hasHeader("Content-Type"));
    EXPECT_FALSE(r.hasHeader("Accept"));
    std::set<std::string> own;
    for (const auto& [name, value] : r.headers)
        if (!isTransportHeader(name)) own.insert(name);
    EXPECT_EQ(own, std::set<std::string>{"Authorization"});

    EXPECT_EQ(log.count("HVB_TOOLBOX " + service.baseURL() + "/v1/api/get/version"), 1u);
    EXPECT_EQ(log.count(R"(HVB_TOOLBOX {"tag":"macos","category":"HVB","lang":"en"})"), 1u);

    ASSERT_TRUE(pumpUntil([&] { return updater.checks.load() == 1; }));
    EXPECT_EQ(updater.feedURL(), appcastFile());
    EXPECT_EQ(AutoUpdateManager::appcastFile(), appcastFile());
    const std::string stored = hvbtest::readFile(appcastFile());
    EXPECT_NE(stored.find("<title>Version 2.1.0</title>"), std::string::npos) << stored;
    EXPECT_NE(stored.find(service.baseURL() + "/download/app/app-2.1.0.tar.gz"), std::string::npos);
    EXPECT_EQ(updater.feedAtCheck, stored);
}

TEST_F(AutoUpdate, LanguageOfTheRequest) {
    using hvb::makeLanguageText;
    EXPECT_EQ(makeLanguageText({"en-US", "fr-FR"}, "US"), "en");
    EXPECT_EQ(makeLanguageText({"fr-CA"}, "FR"), "fr-CA");
    EXPECT_EQ(makeLanguageText({"zh-Hant-TW", "en-US"}, "TW"), "zh-Hant");
    EXPECT_EQ(makeLanguageText({}, "US"), "en");
    EXPECT_EQ(makeLanguageText({""}, "US"), "en");
    EXPECT_EQ(makeLanguageText({"de"}, "DE"), "de");
    // A language-only locale has no country to strip: the language goes as it is.
    EXPECT_EQ(makeLanguageText({"zh-Hant-TW"}, ""), "zh-Hant-TW");

    setHooks({"zh-Hant-TW"}, "TW");
    const auto req = AutoUpdateManager::shared().makeAppcastRequest();
    ASSERT_TRUE(req);
    EXPECT_EQ(*req->body, R"({"tag":"macos","category":"HVB","lang":"zh-Hant"})");
    EXPECT_EQ(req->timeoutMs, 60000);

    setHooks({}, "");
    AutoUpdateManager::shared().checkForUpdate();
    ASSERT_TRUE(service.waitForRequests("/v1/api/get/version", 1, kWait));
    EXPECT_EQ(json::parse(service.requestsTo("/v1/api/get/version").at(0).body)["lang"], "en");
    // The reply is handled here, not in a later test.
    EXPECT_TRUE(pumpUntil([&] { return updater.checks.load() == 1; }));
}

TEST_F(AutoUpdate, OldFileReplacedAtomically) {
    std::filesystem::create_directories(appcastFile().parent_path());
    hvbtest::writeFile(appcastFile(), "previous launch");
    AutoUpdateManager::shared().handleAppcastResponse(fetchReply());
    EXPECT_NE(hvbtest::readFile(appcastFile()).find("<rss"), std::string::npos);
    EXPECT_EQ(hvbtest::filesIn(appcastFile().parent_path()), std::vector<std::filesystem::path>{"appcast.xml"})
        << "no temporary file left beside it";
    EXPECT_EQ(updater.checks.load(), 1);
}

TEST_F(AutoUpdate, UnusableRepliesWriteNothingAndLeaveTheUpdaterAlone) {
    std::vector<standin::Fault> faults{
        {.missingMember = "appcast"},
        {.missingMember = "result"},
        {.wrongTypeMember = "appcast"},
        {.wrongTypeMember = "result"},
        {.notJson = true},
        {.emptyBody = true},
    };
    hvbtest::LogCapture log;
    for (const auto& fault : faults) {
        service.setFault(standin::Route::version, fault);
        const net::DataResult reply = fetchReply();
        ASSERT_FALSE(reply.error);
        AutoUpdateManager::shared().handleAppcastResponse(reply);
        EXPECT_FALSE(std::filesystem::exists(appcastFile()));
    }
    // A JSON array and a refused request (401 with a JSON body) are no appcast either.
    service.clearFaults();
    net::DataResult array;
    array.body = "[1,2]";
    AutoUpdateManager::shared().handleAppcastResponse(array);
    net::DataResult refused;
    refused.response.emplace().statusCode = 401;
    refused.body = R"({"code":401})";
    AutoUpdateManager::shared().handleAppcastResponse(refused);
    AutoUpdateManager::shared().handleAppcastResponse(net::DataResult{});
    EXPECT_FALSE(std::filesystem::exists(appcastFile()));
    EXPECT_EQ(updater.feedSets.load(), 0);
    EXPECT_EQ(updater.checks.load(), 0);
    EXPECT_FALSE(log.contains("HVB_TOOLBOX")) << "these are dropped without a log";
}

TEST_F(AutoUpdate, NetworkFailureIsLogged) {
    standin::WebService closed;
    ASSERT_GT(closed.start(), 0);
    const std::string deadBase = closed.baseURL();
    closed.stop();
    ::setenv("HVB_API_BASE", deadBase.c_str(), 1);
    hvbtest::LogCapture log;
    AutoUpdateManager::shared().checkForUpdate();
    ASSERT_TRUE(pumpUntil([&] { return log.lines().size() >= 3; }));
    const auto lines = log.lines();
    EXPECT_EQ(lines[0], "HVB_TOOLBOX " + deadBase + "/v1/api/get/version");
    EXPECT_EQ(lines[2].rfind("HVB_TOOLBOX ", 0), 0u);
    EXPECT_NE(lines[2].find("(code "), std::string::npos) << lines[2];
    EXPECT_FALSE(std::filesystem::exists(appcastFile()));
    EXPECT_EQ(updater.checks.load(), 0);
}

TEST_F(AutoUpdate, NoURLNothingSent) {
    ::setenv("HVB_API_BASE", "not a base", 1);
    hvbtest::LogCapture log;
    EXPECT_FALSE(AutoUpdateManager::shared().makeAppcastRequest());
    AutoUpdateManager::shared().checkForUpdate();
    EXPECT_FALSE(log.contains("HVB_TOOLBOX"));
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(AutoUpdate, UnwritableFolderIsLoggedAndTheUpdaterStillPointed) {
    // A file where the Application Support folder should be.
    std::filesystem::create_directories(home.path() / "data");
    hvbtest::writeFile(home.path() / "data" / "HalvetorBody_ToolBox", "in the way");
    hvbtest::LogCapture log;
    AutoUpdateManager::shared().handleAppcastResponse(fetchReply());
    EXPECT_TRUE(log.contains("HVB_TOOLBOX cannot"));
    EXPECT_EQ(updater.feedURL(), appcastFile());
    EXPECT_EQ(updater.checks.load(), 1);
}

TEST_F(AutoUpdate, InternetFlagStartsTheCheck) {
    hvb::setInternetAvailable(false);
    EXPECT_FALSE(hvb::isInternetAvailable());
    hvb::setInternetAvailable(true);
    EXPECT_TRUE(hvb::isInternetAvailable());
    ASSERT_TRUE(service.waitForRequests("/v1/api/get/version", 1, kWait));
    ASSERT_TRUE(pumpUntil([&] { return updater.checks.load() == 1; }));
    hvb::setInternetAvailable(false);
    EXPECT_FALSE(hvb::isInternetAvailable());
    EXPECT_EQ(service.requestsTo("/v1/api/get/version").size(), 1u) << "false sends nothing";
}

TEST(WebsiteProbe, TrueOnlyForData200AndNoError) {
    auto outcome = [](bool hasData, std::optional<net::Error> error, long status) {
        std::optional<bool> got;
        hvb::websiteProbeCompletion(hasData, error, status, [&](bool ok) { got = ok; });
        EXPECT_TRUE(got.has_value());
        return got.value_or(true);
    };
    EXPECT_TRUE(outcome(true, std::nullopt, 200));
    EXPECT_FALSE(outcome(false, std::nullopt, 200));
    EXPECT_FALSE(outcome(true, net::Error{7, "refused"}, 200));
    EXPECT_FALSE(outcome(true, std::nullopt, 404));
    EXPECT_FALSE(outcome(true, std::nullopt, 204));
    EXPECT_FALSE(outcome(true, std::nullopt, 0)) << "not an HTTP response";
}

TEST_F(AutoUpdate, DelegateLinesAndEvents) {
    auto& m = AutoUpdateManager::shared();
    hvbtest::LogCapture log;
    services::AppcastItem item;
    item.title = "Version 2.1.0";
    item.versionString = "2.1.0";
    services::AppcastItem untitled;
    untitled.versionString = "3.0";
    m.updaterDidNotFindUpdate(updater);
    m.updaterUserDidSkipThisVersion(updater, item);
    m.userDidCancelDownload(updater);
    m.updaterWillRelaunchApplication(updater);
    m.updaterDidRelaunchApplication(updater);
    m.updaterUserDidSkipThisVersion(updater, untitled);

    EXPECT_EQ(log.count("已更新到最新版本"), 1u);
    EXPECT_EQ(log.count("使用者跳過此更新版本:Version 2.1.0(2.1.0)"), 1u);
    EXPECT_EQ(log.count("使用者取消更新"), 1u);
    EXPECT_EQ(log.count("App即將重新啟動"), 1u);
    EXPECT_EQ(log.count("更新完成，App成功重新啟動"), 1u);
    EXPECT_EQ(log.count("使用者跳過此更新版本:(3.0)"), 1u) << "no title counts as empty";

    const auto events = updateEvents(5);
    std::multiset<std::pair<std::string, std::string>> got;
    for (const auto& p : events) got.insert({p.value("action", ""), p.value("label", "")});
    const std::multiset<std::pair<std::string, std::string>> expected{
        {"Version 2.1.0(2.1.0)", "Skip Version"}, {"Cancel", "User cancel"}, {"Success", "Upgrade Success"},
        {"Restart", "App Restart"}, {"(3.0)", "Skip Version"}};
    EXPECT_EQ(got, expected) << "not-found sends no event";
    EXPECT_TRUE(alerts.empty());
}

TEST_F(AutoUpdate, DownloadFailureAlertOkOpensTheSupportPage) {
    hvbtest::LogCapture log;
    AutoUpdateManager::shared().updaterFailedToDownloadUpdate(updater, {}, "The network connection was lost.");
    const auto lines = log.lines();
    const auto at = std::find(lines.begin(), lines.end(), "下載更新檔案失敗");
    ASSERT_NE(at, lines.end());
    ASSERT_NE(at + 1, lines.end());
    EXPECT_EQ(*(at + 1), "The network connection was lost.");

    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "Upgrade failed");
    // The message, then the cause.
    EXPECT_EQ(alerts[0].text, "Get the latest software version from Brevantis website.\n\n"
                              "The network connection was lost.");
    EXPECT_EQ(alerts[0].buttons, (std::vector<std::string>{"OK", "Cancel"}));
    ASSERT_EQ(openedURLs, std::vector<std::string>{service.baseURL() + "/support"});
    // It is the page the site serves.
    net::Request page;
    page.url = openedURLs[0];
    const auto r = net::Session::shared().perform(page);
    ASSERT_TRUE(r.response);
    EXPECT_EQ(r.response->statusCode, 200);

    const auto events = updateEvents(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["action"], "The network connection was lost.");
    EXPECT_EQ(events[0]["label"], "Download Fail");
}

TEST_F(AutoUpdate, DownloadFailureAlertCancelOpensNothing) {
    alertAnswer = 1001;
    AutoUpdateManager::Hooks h = AutoUpdateManager::shared().hooks();
    h.localized = [](const std::string& table, const std::string& key) { return table + ":" + key; };
    AutoUpdateManager::shared().setHooks(h);
    AutoUpdateManager::shared().updaterFailedToDownloadUpdate(updater, {}, "x");
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "CommonString:Upgrade failed");
    EXPECT_EQ(alerts[0].text, "Message:Get the latest software version from Brevantis website.\n\nx");
    EXPECT_EQ(alerts[0].buttons, (std::vector<std::string>{"CommonString:OK", "CommonString:Cancel"}));
    EXPECT_TRUE(openedURLs.empty());
}

}  // namespace
