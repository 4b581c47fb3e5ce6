// Launch order of the application delegate and its launch events.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "online/OnlineTestSupport.h"
#include "platform/foundation/Log.h"

namespace {

using hvb::AppDelegate;

struct Recorder {
    std::vector<std::string> calls;
    std::vector<std::pair<std::string, std::optional<std::map<std::string, std::string>>>> events;
    std::optional<std::string> region;

    AppDelegate::Steps steps() {
        AppDelegate::Steps s;
        s.pause = [this](int64_t ms) { calls.push_back("pause " + std::to_string(ms)); };
        s.createWatcher = [this] { calls.push_back("watcher"); };
        s.startCrashReporting = [this](const std::string& secret, const std::vector<std::string>& services) {
            calls.push_back("crash " + secret + " " + services.at(0) + "," + services.at(1));
        };
        s.sendEvent = [this](const std::string& name, const std::optional<std::map<std::string, std::string>>& p) {
            calls.push_back("event " + name);
            events.emplace_back(name, p);
        };
        s.regionCode = [this] { return region; };
        s.regionNameInTraditionalChinese = [](const std::string& code) {
            return AppDelegate::displayRegionName(code, "zh_Hant");
        };
        s.setUpdaterDelegate = [this] { calls.push_back("updater delegate"); };
        return s;
    }
};

TEST(Startup, DidFinishLaunchingRunsTheWatcherBeforeCrashReportingBeforeTheEvents) {
    Recorder r;
    r.region = "TW";
    AppDelegate delegate(r.steps());
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(r.calls, (std::vector<std::string>{"updater delegate", "pause 500", "watcher",
                                                 "crash 4d7e2a90-b1c3-4f58-9e06-7a2c5b8d1f34 Analytics,Crashes",
                                                 "event User_Region", "event User_Mac_Model"}));
    ASSERT_EQ(r.events.size(), 2u);
    ASSERT_TRUE(r.events[0].second);
    // The region's name in Traditional Chinese, not its code.
    EXPECT_EQ(r.events[0].second->at("action"), "台灣");
    EXPECT_EQ(r.events[0].second->size(), 1u);
    EXPECT_FALSE(r.events[1].second);  // the reporter adds the machine's facts itself
}

TEST(Startup, RegionEventOnlyForARegionWithAName) {
    for (std::optional<std::string> region : {std::optional<std::string>(), std::optional<std::string>("QX"),
                                              std::optional<std::string>("")}) {
        Recorder r;
        r.region = region;
        AppDelegate delegate(r.steps());
        delegate.applicationDidFinishLaunching();
        ASSERT_EQ(r.events.size(), 1u) << region.value_or("(none)");
        EXPECT_EQ(r.events[0].first, "User_Mac_Model");
    }
    EXPECT_EQ(AppDelegate::displayRegionName("JP", "zh_Hant").value_or(""), "日本");
    EXPECT_EQ(AppDelegate::displayRegionName("US", "zh_Hant").value_or(""), "美國");
}

TEST(Startup, TerminatePrintsItsLine) {
    hvbtest::LogCapture log;
    Recorder r;
    AppDelegate delegate(r.steps());
    EXPECT_EQ(AppDelegate::shared(), &delegate);
    delegate.applicationWillTerminate();
    EXPECT_EQ(log.lines(), std::vector<std::string>{"terminate"});
}

}  // namespace
