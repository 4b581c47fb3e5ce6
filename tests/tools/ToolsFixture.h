#pragma once
// The Tool panel's tests: the camera link's fixture (simulated cameras, the driver in this
// process, time shrunk tenfold) with the Qt loop serving the main queue, the live link, and
// usage reports kept for the test instead of sent.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>

#include "../app/AppTestSupport.h"
#include "app/AppStartup.h"
#include "camera/CameraLinkFixture.h"
#include "camera/FakeCameraLink.h"
#include "camera/LiveCameraLink.h"
#include "common/MsgDialog.h"
#include "platform/appkit/AppkitTestSupport.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Storyboard.h"
#include "platform/appkit/Window.h"
#include "tools/DialogRegistry.h"
#include "tools/ToolsStoryboard.h"

namespace toolstest {

using hvb::sim::BodyCameraOptions;
using hvb::sim::SimulatedBodyCamera;

// What the message dialog showed while it was open.
struct ShownMessage {
    bool success = false;
    QString title;
    QString text;
};

class ToolsFixture : public camtest::CameraLinkFixture {
protected:
    // The dialogs wait for a rebooting camera within fixed windows (the unlock's 35 ticks, the
    // 50 rounds of the wait for its return, the re-detection's 200 ticks), and a return ends with
    // the camera's plug-in read, CPU-bound work that a loaded machine stretches to seconds. At
    // this scale the shortest of those windows is 3.5 s of real time.
    static constexpr double kToolsScale = 0.1;
    double timeScale() const override { return kToolsScale; }

    void SetUp() override {
        CameraLinkFixture::SetUp();
        if (HasFatalFailure()) return;
        link = std::make_shared<hvb::LiveCameraLink>();
        hvb::setCameraLink(link);
        reports = std::make_shared<hvbtest::RecordingReports>();
        previousReports_ = hvb::usageReports();
        hvb::setUsageReports(reports);
        hvb::registerAppControllers();
        hvb::registerToolControllers();
        // Every message dialog is noted and answered at once, unless a test answers itself.
        modalHook_.emplace([this](appkit::Window* window) { answer(window); });
        hvb::isUnlockOnly = false;
        hvb::isUnlockForUpgrade = false;
        hvb::isPasswordVerified = false;
        hvb::setCurrentDeviceUID("");
    }

    void TearDown() override {
        modalHook_.reset();
        CameraLinkFixture::TearDown();
        EXPECT_EQ(appkit::modalSessionDepth(), 0);
    }
    // The dialogs' last work runs from the Qt loop.
    void afterCamerasLeft() override {
        settle(50);
        hvb::setCameraLink(nullptr);
        hvb::setUsageReports(previousReports_);
    }

    // Answers a modal session: the message dialog is read and closed; other windows go to
    // `onModal` (which must end their session) or are closed.
    void answer(appkit::Window* window) {
        if (auto* message = dynamic_cast<hvb::MsgDialogViewController*>(window->contentViewController())) {
            messages.push_back({hvb::msgDialogIsSuccess, message->MsgTitle->text(), message->MsgText->text()});
            message->ButtonOK_Click();
            return;
        }
        if (onModal) {
            onModal(window);
            return;
        }
        window->performClose();
        appkit::abortModal();
    }

    std::shared_ptr<SimulatedBodyCamera> makeCamera(const std::string& model, const std::string& firmware,
                                                    BodyCameraOptions options = {}) {
        return CameraLinkFixture::makeCamera(camtest::profile(model, firmware), std::move(options));
    }

    // Attaches the camera and waits until its record is published.
    bool plug(const std::shared_ptr<SimulatedBodyCamera>& camera) {
        if (!watcher) startWatcher();
        const int64_t before = hvb::DeviceState::shared().PlugInDeviceCnt.load();
        if (!camera->attach(bus)) return false;
        return waitUntil([&] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == before + 1; });
    }

    // Serves the Qt loop and the main queue until the condition holds (generous real time).
    static bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 30000) {
        return apptest::waitUntil(condition, timeoutMs);
    }
    static void settle(int ms = 30) {
        apptest::waitUntil([] { return false; }, ms);
    }

    using CameraLinkFixture::recordOf;
    hvb::DeviceRecord recordOf(const std::shared_ptr<SimulatedBodyCamera>& camera) {
        for (const auto& entry : hvb::DeviceState::shared().deviceEntryList())
            if (entry.serialNumber == camera->serialNumber()) return recordOf(entry.key());
        return nullptr;
    }
    // The failed password checks the camera's record counts (-1: no record).
    int64_t attempts(const std::shared_ptr<SimulatedBodyCamera>& camera) {
        auto record = recordOf(camera);
        return record ? record->passwordErrorCnt : -1;
    }
    static uint8_t code(const std::shared_ptr<SimulatedBodyCamera>& camera, const char* name) {
        return hvb::cmdTables().lookup(camera->profile().tableName, name).value();
    }

    // The names of the commands the camera took, in order.
    static std::vector<std::string> writeNames(const SimulatedBodyCamera& camera) {
        std::vector<std::string> names;
        for (const auto& write : camera.writes()) names.push_back(write.name);
        return names;
    }

    std::shared_ptr<hvb::LiveCameraLink> link;
    std::shared_ptr<hvbtest::RecordingReports> reports;
    std::vector<ShownMessage> messages;
    std::function<void(appkit::Window*)> onModal;

private:
    std::optional<appkit_test::ModalHookScope> modalHook_;
    std::shared_ptr<hvb::UsageReports> previousReports_;
};

}  // namespace toolstest
