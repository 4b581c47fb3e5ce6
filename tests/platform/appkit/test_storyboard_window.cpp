// A storyboard dialog run modally: the storyboard's controller gives the window, a fresh
// controller holds it through the session, and what is missing opens nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <QPointer>

#include "AppkitTestSupport.h"
#include "platform/appkit/StoryboardWindow.h"
#include "platform/foundation/Log.h"

using namespace appkit_test;

namespace {

class DialogController : public appkit::WindowController {
public:
    using appkit::WindowController::WindowController;
    appkit::Window* makeWindow() override { return new appkit::Window(new RecordingController(log)); }
    std::shared_ptr<Log> log = std::make_shared<Log>();
};

class OtherController : public appkit::WindowController {
public:
    using appkit::WindowController::WindowController;
};

class StoryboardWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        sink_ = foundation::addLogSink([this](foundation::LogChannel, const std::string& line) { lines.push_back(line); });
    }
    void TearDown() override {
        foundation::removeLogSink(sink_);
        appkit::Storyboard::main().registerController(kId, nullptr);
    }
    bool sawLine(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }

    static constexpr const char* kId = "TestDialogWindowController";
    std::vector<std::string> lines;

private:
    int sink_ = 0;
    SessionWatchdog watchdog_;
};

TEST_F(StoryboardWindowTest, RunsTheWindowUnderAFreshControllerAndThenLetsItGo) {
    QPointer<DialogController> fromStoryboard;
    std::shared_ptr<Log> log;
    appkit::Storyboard::main().registerController(kId, [&] {
        auto* controller = new DialogController();
        fromStoryboard = controller;
        log = controller->log;
        return controller;
    });
    QPointer<appkit::Window> slot;
    QPointer<appkit::Window> shown;
    appkit::WindowController* holder = nullptr;
    ModalHookScope hook([&](appkit::Window* w) {
        shown = w;
        holder = w->windowController();
        EXPECT_EQ(slot.data(), w);
        EXPECT_FALSE(fromStoryboard.isNull());  // kept through the session
        w->userClose();
    });
    EXPECT_TRUE(appkit::runModalWindowFromStoryboard(kId, "missing", &slot, [&] { log->push_back("prepared"); }));
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(*log, Log{"prepared"} + loadLog() + appearLog() + disappearLog());
    ASSERT_NE(holder, nullptr);
    EXPECT_NE(holder, static_cast<appkit::WindowController*>(fromStoryboard.data()));
    EXPECT_TRUE(fromStoryboard.isNull());
    flushDeferredDeletes();
    EXPECT_TRUE(shown.isNull());  // made by the storyboard's controller, gone with it
    EXPECT_EQ(appkit::modalSessionDepth(), 0);
    EXPECT_FALSE(sawLine("missing"));
}

TEST_F(StoryboardWindowTest, WhatIsMissingOpensNothingAndSaysSo) {
    ModalHookScope hook([](appkit::Window*) {
        ADD_FAILURE() << "nothing should open";
        appkit::abortModal();
    });
    appkit::Window stale;
    QPointer<appkit::Window> slot(&stale);
    bool prepared = false;
    EXPECT_FALSE(appkit::runModalWindowFromStoryboard(kId, "No controller for it", &slot, [&] { prepared = true; }));
    EXPECT_TRUE(slot.isNull());
    EXPECT_FALSE(prepared);
    EXPECT_TRUE(sawLine("No controller for it"));

    // A controller of another class than the one asked for counts as missing, and goes.
    QPointer<appkit::WindowController> made;
    appkit::Storyboard::main().registerController(kId, [&] {
        auto* controller = new DialogController();
        made = controller;
        return controller;
    });
    EXPECT_FALSE(appkit::runModalWindowFromStoryboard<OtherController>(kId, "not that one"));
    EXPECT_TRUE(made.isNull());
    EXPECT_TRUE(sawLine("not that one"));
}

}  // namespace
