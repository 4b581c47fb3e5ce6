// The analytics reporter: payloads, the Mac facts read through real processes, and the request
// the stand-in collector records.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <mutex>
#include <regex>
#include <thread>

#include <nlohmann/json.hpp>

#include "online/Google4Analytics.h"
#include "online/OnlineConfig.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/services/HardwareOverview.h"
#include "OnlineTestSupport.h"

using hvb::Google4Analytics;
using json = nlohmann::json;

namespace {

// A system_profiler of the test's own, printing whatever overview.txt holds. The facts read
// before it are forgotten, so the next payload reads them from it.
class FakeProfiler {
public:
    FakeProfiler() {
        const auto script = dir.path() / "system_profiler";
        hvbtest::writeFile(script, "#!/bin/sh\ncat \"$(dirname \"$0\")/overview.txt\"\n");
        ::chmod(script.c_str(), 0755);
        ::setenv("HVB_LIBEXEC", dir.path().c_str(), 1);
        ::setenv("LC_ALL", "C", 1);
        Google4Analytics::setPipelineRunner({});
    }
    ~FakeProfiler() { ::unsetenv("HVB_LIBEXEC"); }
    void print(const std::string& text) { hvbtest::writeFile(dir.path() / "overview.txt", text); }

    hvbtest::TempDir dir;
};

std::string overview(const std::string& model, const std::string& processor, const std::string& uuid) {
    return "Hardware:\n\n    Hardware Overview:\n\n      Model Name: MacBook Pro\n      Model Identifier: " + model +
           "\n      Processor Name: " + processor + "\n      Hardware UUID: " + uuid + "\n";
}

TEST(AnalyticsFacts, ReadFromTheHardwareOverview) {
    FakeProfiler fake;
    fake.print(overview("MacBookPro16,1", "8-Core Intel Core i9", "0A1B2C3D-0000-1111-2222-333344445555"));
    Google4Analytics::readSystemInfo();
    EXPECT_EQ(Google4Analytics::macModel(), "MacBookPro16,1");
    EXPECT_EQ(Google4Analytics::chip(), "Intel");
    EXPECT_EQ(Google4Analytics::uuid(), "0A1B2C3D-0000-1111-2222-333344445555");
    EXPECT_TRUE(std::regex_match(Google4Analytics::osVersion(), std::regex(R"(\d+\.\d+\.\d+)")));

    // Anything without "Intel" in the last "Name" line is reported as the other chip.
    fake.print(overview("Mac14,2", "AMD Ryzen 7", "U"));
    Google4Analytics::readSystemInfo();
    EXPECT_EQ(Google4Analytics::chip(), "M1");

    // Undecodable output: model and uuid fall back, the chip stays as it was.
    fake.print(overview("Intel", "Intel Core i5", "X"));
    Google4Analytics::readSystemInfo();
    ASSERT_EQ(Google4Analytics::chip(), "Intel");
    fake.print(overview("Mac\xff\xfe", "Chip\xff", "\xfe\xff"));
    Google4Analytics::readSystemInfo();
    EXPECT_EQ(Google4Analytics::macModel(), "unknown");
    EXPECT_EQ(Google4Analytics::uuid(), "unknown uuid");
    EXPECT_EQ(Google4Analytics::chip(), "Intel");
}

TEST(AnalyticsFacts, OverlongSurrogateAndOutOfRangeFormsAreNotUtf8) {
    FakeProfiler fake;
    // Each line's lead bytes are of the right kind, but the sequence is ill-formed.
    for (const std::string bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF0\x80\x80\xAF"}) {
        fake.print(overview("Mac" + bad, "Intel", "U" + bad));
        Google4Analytics::readSystemInfo();
        EXPECT_EQ(Google4Analytics::macModel(), "unknown");
        EXPECT_EQ(Google4Analytics::uuid(), "unknown uuid");
    }
    fake.print(overview("Mac\xE2\x82\xAC", "Intel", "U\xF0\x9F\x98\x80"));  // well-formed
    Google4Analytics::readSystemInfo();
    EXPECT_EQ(Google4Analytics::macModel(), "Mac\xE2\x82\xAC");
    EXPECT_EQ(Google4Analytics::uuid(), "U\xF0\x9F\x98\x80");
}

TEST(AnalyticsFacts, NoProfilerGivesEmptyFacts) {
    hvbtest::TempDir empty;
    ::setenv("HVB_LIBEXEC", empty.path().c_str(), 1);
    ::setenv("PATH", "/usr/bin:/bin", 1);
    Google4Analytics::readSystemInfo();
    EXPECT_EQ(Google4Analytics::macModel(), "");
    EXPECT_EQ(Google4Analytics::uuid(), "");
    EXPECT_EQ(Google4Analytics::chip(), "M1");
}

TEST(AnalyticsFacts, OurOwnProfilerIsFoundFirstOnPath) {
    ::unsetenv("HVB_LIBEXEC");
    Google4Analytics::readSystemInfo();
    const auto facts = services::readHardwareOverview();
    EXPECT_EQ(Google4Analytics::uuid(), facts.hardwareUUID);
    EXPECT_EQ(Google4Analytics::macModel(), facts.modelIdentifier);
    EXPECT_EQ(Google4Analytics::chip(), facts.processorName.find("Intel") != std::string::npos ? "Intel" : "M1");
}

TEST(ProcessInOut, PipesTheFirstIntoTheSecond) {
    EXPECT_EQ(hvb::processInOut({"printf", "alpha\\nbeta\\ngamma\\n"}, {"grep", "beta"}), "beta\n");
    EXPECT_EQ(hvb::processInOut({"printf", "x"}, {"grep", "nothing"}), "");
    EXPECT_EQ(hvb::processInOut({"no-such-program-hvb"}, {"cat"}), "");
    // Arguments are never read by a shell.
    hvbtest::TempDir dir;
    const std::string marker = (dir.path() / "touched").string();
    const std::string hostile = "$(touch " + marker + "); `touch " + marker + "`; | ; & > " + marker;
    EXPECT_EQ(hvb::processInOut({"printf", "%s", hostile}, {"cat"}), hostile);
    EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST(AnalyticsPayload, EventParameters) {
    FakeProfiler fake;
    fake.print(overview("MacBookAir10,1", "Apple M1", "UUID-1"));
    hvbtest::LogCapture log;
    const json p = Google4Analytics::makeEventPayload("Settings", {{"action", "LED"}, {"label", "ON"}});
    EXPECT_EQ(p["client_id"], "UUID-1");
    ASSERT_EQ(p["events"].size(), 1u);
    EXPECT_EQ(p["events"][0]["name"], "Settings");
    EXPECT_EQ(p["events"][0]["params"],
              (json{{"engagement_time_msec", 10}, {"session_id", "UUID-1"}, {"action", "LED"}, {"label", "ON"}}));
    EXPECT_TRUE(p["events"][0]["params"]["engagement_time_msec"].is_number_integer());
    EXPECT_EQ(p.size(), 2u);
    EXPECT_EQ(log.count("action:LED"), 1u);
    EXPECT_EQ(log.count("label:ON"), 1u);
    EXPECT_TRUE(log.contains("\"client_id\":\"UUID-1\""));

    // A caller's session_id replaces the uuid in the event only.
    const json s = Google4Analytics::makeEventPayload("Device", {{"session_id", "mine"}, {"engagement_time_msec", "5"}});
    EXPECT_EQ(s["client_id"], "UUID-1");
    EXPECT_EQ(s["events"][0]["params"]["session_id"], "mine");
    EXPECT_EQ(s["events"][0]["params"]["engagement_time_msec"], "5");
}

TEST(AnalyticsPayload, MacFactsEvent) {
    FakeProfiler fake;
    fake.print(overview("iMac20,1", "10-Core Intel Core i9", "UUID-2"));
    const json p = Google4Analytics::sendMacInfo();
    EXPECT_EQ(p["client_id"], "UUID-2");
    EXPECT_EQ(p["events"][0]["name"], "User_Mac_Model");
    const json& params = p["events"][0]["params"];
    EXPECT_EQ(params.size(), 5u);
    EXPECT_EQ(params["engagement_time_msec"], 10);
    EXPECT_EQ(params["session_id"], "UUID-2");
    EXPECT_EQ(params["User_Mac_Model"], "iMac20,1");
    EXPECT_EQ(params["User_Mac_Chip"], "Intel");
    EXPECT_EQ(params["User_OS_Version"], Google4Analytics::osVersion());
}

TEST(AnalyticsConfig, CollectorFromConfigurationPlaceholdersNeverContacted) {
    ::unsetenv("HVB_ANALYTICS_BASE");
    EXPECT_TRUE(hvb::onlineconfig::isPlaceholder(Google4Analytics::collectURL())) << Google4Analytics::collectURL();
    ::setenv("HVB_ANALYTICS_BASE", "http://127.0.0.1:8080/", 1);
    EXPECT_EQ(Google4Analytics::collectURL(),
              "http://127.0.0.1:8080/mp/collect?measurement_id=G-PW4NTQ7XCB&api_secret=Rm3vK9_pQwZt2Lh-8NcYfE");
    EXPECT_FALSE(hvb::onlineconfig::isPlaceholder(Google4Analytics::collectURL()));
    EXPECT_TRUE(hvb::onlineconfig::isPlaceholder("https://a.b.example:8443/x"));
    EXPECT_FALSE(hvb::onlineconfig::isPlaceholder("https://example.com/"));
    EXPECT_FALSE(hvb::onlineconfig::isPlaceholder("https://host.example.org/"));
    ::unsetenv("HVB_API_BASE");
    EXPECT_TRUE(hvb::onlineconfig::isPlaceholder(hvb::onlineconfig::apiBase()));
    ::unsetenv("HVB_SITE_URL");
    EXPECT_TRUE(hvb::onlineconfig::isPlaceholder(hvb::onlineconfig::siteURL()));
}

class AnalyticsWire : public hvbtest::StandInTest {};

TEST_F(AnalyticsWire, ScreenViewReachesTheCollector) {
    FakeProfiler fake;
    fake.print(overview("Mac13,1", "Apple M1 Max", "UUID-3"));
    Google4Analytics::logScreen("Release Notes", "ReleaseNotesViewController");
    ASSERT_TRUE(service.waitForRequests("/mp/collect", 1, std::chrono::seconds(30)));
    const auto r = service.requestsTo("/mp/collect").at(0);
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.queryValue("measurement_id"), "G-PW4NTQ7XCB");
    EXPECT_EQ(r.queryValue("api_secret"), "Rm3vK9_pQwZt2Lh-8NcYfE");
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    EXPECT_EQ(r.body.find_first_of("\n"), std::string::npos) << "compact JSON";
    const json body = json::parse(r.body);
    EXPECT_EQ(body["client_id"], "UUID-3");
    EXPECT_EQ(body["events"][0]["name"], "screen_view");
    EXPECT_EQ(body["events"][0]["params"],
              (json{{"engagement_time_msec", 10}, {"session_id", "UUID-3"}, {"screen_name", "Release Notes"},
                    {"MainBack", "ReleaseNotesViewController"}}));
}

TEST_F(AnalyticsWire, AbsentParametersSendTheMacFacts) {
    FakeProfiler fake;
    fake.print(overview("Mac13,1", "Apple M1 Max", "UUID-4"));
    Google4Analytics::sendEvent("User_Region", std::nullopt);
    ASSERT_TRUE(service.waitForRequests("/mp/collect", 1, std::chrono::seconds(30)));
    const json body = json::parse(service.requestsTo("/mp/collect").at(0).body);
    EXPECT_EQ(body["events"][0]["name"], "User_Mac_Model");
    EXPECT_EQ(body["events"][0]["params"]["User_Mac_Chip"], "M1");
}

TEST_F(AnalyticsWire, RefusedRequestsChangeNothing) {
    FakeProfiler fake;
    fake.print(overview("Mac13,1", "Apple M1", "UUID-5"));
    service.setFault(standin::Route::collect, standin::Fault{.status = 500});
    hvbtest::LogCapture log;
    Google4Analytics::sendEvent("Buzzer", Google4Analytics::Params{{"action", "HVBR4"}});
    ASSERT_TRUE(service.waitForRequests("/mp/collect", 1, std::chrono::seconds(30)));
    // The next event still goes out.
    service.clearFaults();
    Google4Analytics::sendEvent("Buzzer", Google4Analytics::Params{{"action", "HVBR4"}});
    EXPECT_TRUE(service.waitForRequests("/mp/collect", 2, std::chrono::seconds(30)));
}

TEST_F(AnalyticsWire, FactsAreReadOnceOnTheReportersQueueAndEventsKeepTheirOrder) {
    FakeProfiler fake;
    fake.print(overview("Mac13,1", "Apple M1", "UUID-6"));
    struct Runs {
        std::mutex mutex;
        std::vector<std::thread::id> threads;
    };
    auto runs = std::make_shared<Runs>();
    Google4Analytics::setPipelineRunner([runs](const std::vector<std::string>& in, const std::vector<std::string>& out) {
        {
            std::lock_guard lock(runs->mutex);
            runs->threads.push_back(std::this_thread::get_id());
        }
        return hvb::processInOut(in, out);
    });
    // The GUI thread before its event loop runs, as while the main window is first shown.
    dispatch::RunLoop::main().adoptCurrentThread();
    ASSERT_TRUE(dispatch::isMainThread());
    ASSERT_FALSE(dispatch::mainEventLoopRunning());
    Google4Analytics::logScreen("Main", "StatusViewController");
    Google4Analytics::sendEvent("User_Region", Google4Analytics::Params{{"action", "TW"}});
    Google4Analytics::sendEvent("User_Mac_Model", std::nullopt);
    Google4Analytics::sendEvent("Device", Google4Analytics::Params{{"action", "HVBR7"}});
    ASSERT_TRUE(service.waitForRequests("/mp/collect", 4, std::chrono::seconds(30)));
    {
        std::lock_guard lock(runs->mutex);
        EXPECT_EQ(runs->threads.size(), 3u) << "one read of the three facts for every event";
        for (const auto& id : runs->threads) EXPECT_NE(id, std::this_thread::get_id()) << "a helper ran on the caller's thread";
    }
    // The collector gets them in the order they happened, each with the facts.
    std::vector<std::string> names;
    for (const auto& r : service.requestsTo("/mp/collect")) {
        const json body = json::parse(r.body);
        EXPECT_EQ(body["client_id"], "UUID-6");
        names.push_back(body["events"][0]["name"]);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"screen_view", "User_Region", "User_Mac_Model", "Device"}));
    Google4Analytics::setPipelineRunner({});
}

}  // namespace
