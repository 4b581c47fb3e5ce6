// The clock-sync dialog, opened the way the Setting panel opens it, with simulated cameras.
#include <QLabel>
#include <QPushButton>

#include "ToolsFixture.h"
#include "ToolsTestSupport.h"
#include "camera/DeviceSettingWriter.h"
#include "common/WindowShells.h"
#include "tools/BusySpinner.h"
#include "tools/SyncTimeViewController.h"

namespace {

using namespace toolstest;
using hvb::SyncTimeViewController;

// The live link; the camera can be pulled off the bus right before the sync or the read-back.
class ClockLink : public hvb::LiveCameraLink {
public:
    std::function<void()> beforeSync;
    std::function<void()> beforeRead;
    bool syncDeviceDateTime(const std::string& uid, const hvb::CommandDictionary& table,
                            const std::string& key) override {
        if (beforeSync) beforeSync();
        return LiveCameraLink::syncDeviceDateTime(uid, table, key);
    }
    std::string readDeviceDateTime(const std::string& uid, const hvb::CommandDictionary& table) override {
        if (beforeRead) beforeRead();
        return LiveCameraLink::readDeviceDateTime(uid, table);
    }
};

struct Outcome {
    QString windowTitle, title, message, image;
    bool okShown = false;
    bool spinning = false;
};

class SyncTimeDialog : public ToolsFixture {
protected:
    void SetUp() override {
        ToolsFixture::SetUp();
        clockLink = std::make_shared<ClockLink>();
        link = clockLink;
        hvb::setCameraLink(clockLink);
        hvb::setClockSource([] { return hvb::ClockReading{"20250314", "092653", 3600}; });
    }
    void TearDown() override {
        hvb::setClockSource({});
        ToolsFixture::TearDown();
    }

    // Opens the dialog as the Setting panel's clock button does and answers it once it shows
    // its outcome.
    Outcome run() {
        Outcome outcome;
        bool waited = false;
        onModal = [&](appkit::Window* window) {
            auto* d = dynamic_cast<SyncTimeViewController*>(window->contentViewController());
            if (!d) {
                window->performClose();
                appkit::abortModal();
                return;
            }
            outcome.windowTitle = window->windowTitle();
            waited = d->SyncTimeTitle->text() == "Sync time with PC" && !d->buttonOK->isVisible();
            whenTrue(d, [d] { return d->buttonOK->isVisible(); }, [d, &outcome] {
                outcome = {outcome.windowTitle, d->SyncTimeTitle->text(), d->SyncTimeMessage->text(), d->imageName(),
                           true, d->SyncTimeProgress->isAnimating()};
                d->buttonOK->click();
            });
        };
        auto* fromStoryboard =
            appkit::Storyboard::main().instantiateController<hvb::SyncTimeWindowController>("SyncTimeWindowController");
        EXPECT_NE(fromStoryboard, nullptr);
        if (!fromStoryboard) return outcome;
        appkit::Window* window = fromStoryboard->window();
        {
            hvb::SyncTimeWindowController controller(window);
            delete fromStoryboard;
            appkit::runModalForWindow(window);
        }
        settle();
        EXPECT_TRUE(waited);
        return outcome;
    }

    std::shared_ptr<ClockLink> clockLink;
};

TEST_F(SyncTimeDialog, SyncsAndShowsTheClockTheCameraReadsBack) {
    for (auto [model, firmware] : {std::pair{"HW7334", "1.0.0"}, std::pair{"HVBR7", "1.6.01"}}) {
        SCOPED_TRACE(model);
        auto camera = makeCamera(model, firmware);
        ASSERT_TRUE(plug(camera));
        hvb::DeviceState::shared().selectedDeviceIndex = static_cast<int64_t>(cameras.size()) - 1;
        const size_t eventsBefore = reports->events().size();
        Outcome outcome = run();
        EXPECT_TRUE(outcome.windowTitle.trimmed().isEmpty());
        EXPECT_EQ(outcome.title, "Success");
        EXPECT_EQ(outcome.image, "successIcon");
        EXPECT_FALSE(outcome.spinning);
        EXPECT_EQ(outcome.message, "Sync time with PC\n2025/03/14 09:26:53");
        EXPECT_EQ(camera->clockDate(), "20250314");
        EXPECT_EQ(camera->clockTime(), "092653");
        auto events = reports->events();
        ASSERT_EQ(events.size(), eventsBefore + 1);
        EXPECT_EQ(events.back().first, "Settings");
        EXPECT_EQ(events.back().second,
                  (std::map<std::string, std::string>{{"action", "Sync time with PC"}, {"label", model}}));
    }
    EXPECT_EQ(reports->screens().front(),
              std::make_pair(std::string("Sync Time"), std::string("SyncTimeViewController")));
}

TEST_F(SyncTimeDialog, NoClockBackIsSuccessWithAnEmptyMessage) {
    auto camera = makeCamera("HW7334", "1.0.0");
    ASSERT_TRUE(plug(camera));
    hvb::DeviceState::shared().selectedDeviceIndex = 0;
    clockLink->beforeRead = [camera] { camera->detach(); };
    Outcome outcome = run();
    EXPECT_EQ(outcome.title, "Success");
    EXPECT_EQ(outcome.image, "successIcon");
    EXPECT_EQ(outcome.message, "");
    ASSERT_EQ(reports->events().size(), 1u);
    EXPECT_EQ(reports->events()[0].first, "Settings");
}

TEST_F(SyncTimeDialog, ATableWithoutClockCommandsFails) {
    auto camera = makeCamera("HW7334", "1.0.0");
    ASSERT_TRUE(plug(camera));
    hvb::DeviceState::shared().selectedDeviceIndex = 0;
    auto table = *hvb::cmdTables().find(camera->profile().tableName);
    for (const char* clock : {"HVB_SYNCDATE", "HVB_SYNCTIME", "HVB_SYNC_DATETIME", "HVB_TIME_ZONE",
                              "HVB_SYNC_DATETIME_STRING"})
        table.erase(clock);
    hvb::cmdTables().store(camera->profile().tableName, table);
    camera->clearWrites();
    Outcome outcome = run();
    EXPECT_EQ(outcome.title, "Fail");
    EXPECT_EQ(outcome.image, "failIcon");
    EXPECT_EQ(outcome.message, "");
    EXPECT_TRUE(sawLine("Not support device"));
    EXPECT_TRUE(camera->writes().empty());
    ASSERT_EQ(reports->events().size(), 1u);
    EXPECT_EQ(reports->events()[0].first, "Settings_Failed");
    EXPECT_EQ(reports->events()[0].second.at("label"), "HW7334");
}

TEST_F(SyncTimeDialog, WithoutACameraItFailsAndCanBeClosed) {
    hvb::DeviceState::shared().selectedDeviceIndex = -1;
    Outcome outcome = run();
    EXPECT_TRUE(outcome.okShown);
    EXPECT_EQ(outcome.title, "Fail");
    EXPECT_EQ(outcome.image, "failIcon");
    EXPECT_TRUE(reports->events().empty());

    // A selection beyond the list is no camera either.
    auto camera = makeCamera("HW7334", "1.0.0");
    ASSERT_TRUE(plug(camera));
    hvb::DeviceState::shared().selectedDeviceIndex = 1;
    EXPECT_EQ(run().title, "Fail");
    EXPECT_TRUE(reports->events().empty());
}

TEST_F(SyncTimeDialog, ACameraGoneBeforeTheSyncIsAFailure) {
    auto camera = makeCamera("HVBR7", "1.6.01");
    ASSERT_TRUE(plug(camera));
    hvb::DeviceState::shared().selectedDeviceIndex = 0;
    clockLink->beforeSync = [camera] { camera->detach(); };
    Outcome outcome = run();
    EXPECT_EQ(outcome.title, "Fail");
    ASSERT_EQ(reports->events().size(), 1u);
    EXPECT_EQ(reports->events()[0].first, "Settings_Failed");
}

}  // namespace
