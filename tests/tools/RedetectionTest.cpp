// The re-detection of a rebooted camera: its tick over a device state the test writes, and a
// real simulated reboot that ends with the open dialog replaced by its result.
#include <atomic>

#include "ToolsFixture.h"
#include "ToolsTestSupport.h"
#include "online/OnlineTestSupport.h"
#include "tools/HVBToolViewController.h"
#include "tools/Redetection.h"

namespace {

using namespace toolstest;
using hvb::Redetection;
using Ending = hvb::Redetection::Ending;

class RedetectionTick : public ::testing::Test {
protected:
    void SetUp() override {
        foundation::setLogEchoEnabled(false);
        dispatch::setTimeScale(0.01);
        link = makeFakeLink();
    }

    std::shared_ptr<hvbtest::FakeCameraLink> link;
    hvbtest::LogCapture log;
};

TEST_F(RedetectionTick, GoneThenServiceThenRecordEndsFoundAndTheProgressSeesEveryTick) {
    std::vector<int64_t> seen;
    Redetection r(link, "HW7334UID01", [&](int64_t tick) { seen.push_back(tick); });
    EXPECT_EQ(r.tick(), Ending::none);  // camera away: no service
    EXPECT_FALSE(r.serviceSeen());
    link->serials = {std::nullopt, std::string("HW7334UID01")};
    EXPECT_EQ(r.tick(), Ending::none);  // the service is back; the record is not looked for yet
    EXPECT_TRUE(r.serviceSeen());
    EXPECT_TRUE(hvb::redetectionServiceSeen.load());
    EXPECT_EQ(r.tick(), Ending::none);  // no record yet
    addCamera(*link, "HW7334UID01", "HW7334", 1);
    link->adding = true;
    EXPECT_EQ(r.tick(), Ending::none);  // still being read
    link->adding = false;
    EXPECT_EQ(r.tick(), Ending::found);
    EXPECT_TRUE(hvb::redetectionDeviceFound.load());
    EXPECT_EQ(seen, (std::vector<int64_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(log.count("AsyncFind counter = 4"), 1u);
}

TEST_F(RedetectionTick, ACameraStillAttachedEndsAtTheSecondTick) {
    addCamera(*link, "HVBR7UID77", "HVBR7", 3);
    link->serials = {std::string("HVBR7UID77")};
    Redetection r(link, "HVBR7UID77");
    EXPECT_EQ(r.tick(), Ending::none);
    EXPECT_EQ(r.tick(), Ending::found);
    EXPECT_EQ(r.counter(), 1);
}

TEST_F(RedetectionTick, TheServiceMayContainTheUIDButTheRecordMustEqualIt) {
    link->serials = {std::string("XX-HVBR7UID77-YY")};
    addCamera(*link, "HVBR7UID77", "HVBR7", 3);
    link->records.begin()->second.UID = "HVBR7UID77-2";
    Redetection r(link, "HVBR7UID77");
    EXPECT_EQ(r.tick(), Ending::none);
    EXPECT_TRUE(r.serviceSeen());
    EXPECT_EQ(r.tick(), Ending::none);
    link->records.begin()->second.UID = "hvbr7uid77";
    EXPECT_EQ(r.tick(), Ending::none);  // equality is exact
    link->records.begin()->second.UID = "HVBR7UID77";
    EXPECT_EQ(r.tick(), Ending::found);
}

TEST_F(RedetectionTick, AnEmptyUIDMatchesNothingAndEndsAtTick200) {
    link->serials = {std::string("HVBR7UID77"), std::string("")};
    addCamera(*link, "HVBR7UID77", "HVBR7", 3);
    link->records.begin()->second.UID = "";
    std::vector<int64_t> seen;
    Redetection r(link, "", [&](int64_t tick) { seen.push_back(tick); });
    for (int i = 0; i < 200; ++i) ASSERT_EQ(r.tick(), Ending::none) << i;
    EXPECT_FALSE(r.serviceSeen());
    EXPECT_EQ(r.tick(), Ending::timedOut);
    EXPECT_EQ(seen.back(), 200);
    EXPECT_EQ(log.count("AsyncFind counter = 200"), 1u);
}

TEST_F(RedetectionTick, WithNoCameraTheStopAndStartLinesArePaced) {
    // The ticks below fall within the 6 s pause: 0.6 s of real time here.
    dispatch::setTimeScale(0.1);
    // A pause an earlier test in this process began runs out first, its lines logged.
    ASSERT_TRUE(apptest::waitUntil([] { return !hvb::detectionPaused.load(); }));
    const size_t stops = log.count("stopDetection"), starts = log.count("startDetection");
    link->serials = {std::string("HW7334UID01")};
    Redetection r(link, "HW7334UID01");
    r.tick();  // service seen
    for (int i = 0; i < 3; ++i) EXPECT_EQ(r.tick(), Ending::none);
    EXPECT_EQ(log.count("PlugInDeviceCnt : 0"), 3u);
    EXPECT_EQ(log.count("stopDetection"), stops + 1);
    // 1 s later "startDetection", and after 5 s more the pair may come again.
    ASSERT_TRUE(apptest::waitUntil([&] { return log.count("startDetection") == starts + 1; }));
    EXPECT_EQ(log.count("stopDetection"), stops + 1);
    ASSERT_TRUE(apptest::waitUntil([&] { return !hvb::detectionPaused.load(); }));
    r.tick();
    EXPECT_EQ(log.count("stopDetection"), stops + 2);
    ASSERT_TRUE(apptest::waitUntil([&] { return log.count("startDetection") == starts + 2; }));
    ASSERT_TRUE(apptest::waitUntil([&] { return !hvb::detectionPaused.load(); }));
}

TEST_F(RedetectionTick, TwoRedetectionsKeepTheirOwnCameraAndPhase) {
    link->serials = {std::string("CAMERA-A")};
    Redetection a(link, "CAMERA-A");
    EXPECT_EQ(a.tick(), Ending::none);
    ASSERT_TRUE(a.serviceSeen());
    // A second one starts for another camera and resets the shared flags.
    std::atomic<int> endedB{0};
    auto b = Redetection::start(link, "CAMERA-B", {}, [&](Ending) { ++endedB; });
    EXPECT_TRUE(a.serviceSeen());
    addCamera(*link, "CAMERA-A", "HW7334", 1);
    EXPECT_EQ(a.tick(), Ending::found);
    b->cancel();
    EXPECT_EQ(endedB.load(), 0);
    EXPECT_EQ(b->uid(), "CAMERA-B");
}

TEST_F(RedetectionTick, TheTimerTicksAtOnceAndEndsOnce) {
    addCamera(*link, "CAMERA-A", "HW7334", 1);
    link->serials = {std::string("CAMERA-A")};
    std::atomic<int> ended{0};
    std::atomic<int> found{0};
    auto r = Redetection::start(link, "CAMERA-A", {}, [&](Ending e) {
        ++ended;
        if (e == Ending::found) ++found;
    });
    ASSERT_TRUE(apptest::waitUntil([&] { return ended.load() == 1; }));
    apptest::waitUntil([] { return false; }, 50);
    EXPECT_EQ(ended.load(), 1);
    EXPECT_EQ(found.load(), 1);
    EXPECT_EQ(r->counter(), 1);
}

// ---- a real reboot ----

class RedetectionReboot : public ToolsFixture {
protected:
    void SetUp() override {
        ToolsFixture::SetUp();
        hvb::resetDefaultWindow = nullptr;
        registerFakeDialog(hvb::kResetDefaultWindowController, [] { return int(hvb::resetDefaultState); }, &log);
    }
    DialogLog log;
};

TEST_F(RedetectionReboot, TheCameraLeavesComesBackAndTheDialogShowsSuccess) {
    auto camera = makeCamera("HW7334", "1.0.0");
    ASSERT_TRUE(plug(camera));
    hvb::setCurrentDeviceUID(camera->uid());
    std::shared_ptr<Redetection> redetection;
    std::vector<bool> seenAtTick;
    QObject scope;
    int sessions = 0;
    onModal = [&](appkit::Window* window) {
        ++sessions;
        if (sessions == 1) {
            // The dialog's reboot: the camera goes now and comes back only when the test says.
            camera->detach();
            ASSERT_TRUE(waitUntil([] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == 0; }));
            redetection = hvb::HVBToolViewController::startRedetectionTimer(
                [&](int64_t) { seenAtTick.push_back(hvb::redetectionServiceSeen.load()); });
            whenTrue(&scope, [&] { return redetection->counter() >= 3; }, [&] { camera->attach(bus); });
            return;
        }
        window->performClose();
        appkit::abortModal();
    };
    hvb::resetDefaultState = 0;
    ASSERT_TRUE(hvb::runDialogFromStoryboard(hvb::kResetDefaultWindowController, &hvb::resetDefaultWindow));
    ASSERT_EQ(log.opened.size(), 2u);
    EXPECT_EQ(log.opened[0].second, 0);
    EXPECT_EQ(log.opened[1].second, 1);
    EXPECT_EQ(hvb::resetDefaultState, 1);
    EXPECT_GE(seenAtTick.size(), 4u);
    EXPECT_FALSE(seenAtTick[1]);  // tick 0 found no service
    EXPECT_EQ(hvb::DeviceState::shared().PlugInDeviceCnt.load(), 1);
    EXPECT_TRUE(sawLine("AsyncFind counter = 0"));
}

TEST_F(RedetectionReboot, ACameraThatNeverReturnsEndsInFailureAtTick200) {
    auto camera = makeCamera("HVBR7", "1.6.01");
    ASSERT_TRUE(plug(camera));
    hvb::setCurrentDeviceUID(camera->uid());
    int sessions = 0;
    onModal = [&](appkit::Window* window) {
        if (++sessions == 1) {
            camera->detach();  // leaves for good
            hvb::HVBToolViewController::startRedetectionTimer();
            return;
        }
        window->performClose();
        appkit::abortModal();
    };
    hvb::resetDefaultState = 0;
    ASSERT_TRUE(hvb::runDialogFromStoryboard(hvb::kResetDefaultWindowController, &hvb::resetDefaultWindow));
    ASSERT_EQ(log.opened.size(), 2u);
    EXPECT_EQ(log.opened[1].second, 2);
    EXPECT_TRUE(sawLine("AsyncFind counter = 200"));
    EXPECT_FALSE(sawLine("AsyncFind counter = 201"));
}

TEST_F(RedetectionReboot, WithNoDialogVisibleTheResultIsDropped) {
    auto camera = makeCamera("HW7334", "1.0.0");
    ASSERT_TRUE(plug(camera));
    hvb::setCurrentDeviceUID(camera->uid());
    std::atomic<bool> ended{false};
    auto r = Redetection::start(link, camera->uid(), {}, [&](Ending) {
        dispatch::mainQueue().async([&] {
            hvb::HVBToolViewController::reopenDialogWithResult(1);
            ended = true;
        });
    });
    ASSERT_TRUE(waitUntil([&] { return ended.load(); }));
    EXPECT_TRUE(log.opened.empty());
    EXPECT_EQ(appkit::modalSessionDepth(), 0);
}

}  // namespace
