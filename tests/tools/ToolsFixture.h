#pragma once
// The Tool panel's tests: the camera link embedded with simulated cameras on a simulated bus,
// the driver loaded in this process, time shrunk a hundredfold, the Qt loop serving the main
// queue, and a link that records what the panel and dialogs report instead of sending it.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>

#include "../app/AppTestSupport.h"
#include "SCSIDriver/HVBSCSIDriverBundle.h"
#include "app/AppStartup.h"
#include "app/MsgDialog.h"
#include "camera/CommandTables.h"
#include "camera/DeviceState.h"
#include "camera/USBWatcher.h"
#include "camera/USBWatcherHandler.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Storyboard.h"
#include "platform/appkit/Window.h"
#include "platform/diskarb/DiskArbitration.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "standins/camera/SimulatedBodyCamera.h"
#include "tools/DialogRegistry.h"
#include "tools/LiveToolsCameraLink.h"
#include "tools/ToolsStoryboard.h"

namespace toolstest {

using hvb::sim::BodyCameraOptions;
using hvb::sim::SimulatedBodyCamera;

// The live link, with the reports kept for the test.
class RecordingLink : public hvb::LiveToolsCameraLink {
public:
    using Event = std::pair<std::string, std::map<std::string, std::string>>;

    void sendEvent(const std::string& name, const std::map<std::string, std::string>& params) override {
        std::lock_guard<std::mutex> guard(lock_);
        events_.emplace_back(name, params);
    }
    void logScreen(const std::string& name, const std::string& className) override {
        std::lock_guard<std::mutex> guard(lock_);
        screens_.emplace_back(name, className);
    }
    std::vector<Event> events() const {
        std::lock_guard<std::mutex> guard(lock_);
        return events_;
    }
    std::vector<std::pair<std::string, std::string>> screens() const {
        std::lock_guard<std::mutex> guard(lock_);
        return screens_;
    }

private:
    mutable std::mutex lock_;
    std::vector<Event> events_;
    std::vector<std::pair<std::string, std::string>> screens_;
};

// What the message dialog showed while it was open.
struct ShownMessage {
    bool success = false;
    QString title;
    QString text;
};

class ToolsFixture : public ::testing::Test {
protected:
    static constexpr double kScale = 0.01;

    void SetUp() override {
        foundation::setLogEchoEnabled(false);
        diskarb::simulatedDiskTable();
        dispatch::setTimeScale(kScale);
        ASSERT_TRUE(loadHVBSCSIDriverBundle());
        hvb::buildAllCommandTables();
        hvb::DeviceState::shared().reset();
        hvb::USBWatcherHandler::shared().reset();
        logToken_ = foundation::addLogSink([this](foundation::LogChannel, const std::string& line) {
            std::lock_guard<std::mutex> guard(logLock_);
            lines_.push_back(line);
        });
        link = std::make_shared<RecordingLink>();
        hvb::setToolsCameraLink(link);
        hvb::registerAppControllers();
        hvb::registerToolControllers();
        // Every message dialog is noted and answered at once, unless a test answers itself.
        previousHook_ = appkit::setModalSessionHook([this](appkit::Window* window) { answer(window); });
        hvb::isUnlockOnly = false;
        hvb::isUnlockForUpgrade = false;
        hvb::isPasswordVerified = false;
        hvb::setCurrentDeviceUID("");
    }

    void TearDown() override {
        appkit::setModalSessionHook(previousHook_);
        watcher.reset();
        for (auto& camera : cameras) {
            camera->waitForReturn();
            camera->detach();
        }
        cameras.clear();
        settle(50);
        hvb::setToolsCameraLink(nullptr);
        foundation::removeLogSink(logToken_);
        hvb::USBWatcherHandler::shared().reset();
        hvb::DeviceState::shared().reset();
        EXPECT_EQ(appkit::modalSessionDepth(), 0);
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
        const auto* profile = hvb::sim::findCameraProfile(model, firmware);
        if (!profile) throw std::runtime_error("no simulated profile " + model + " " + firmware);
        if (options.bsdName == "disk4") options.bsdName = "disk" + std::to_string(4 + cameras.size());
        auto camera = SimulatedBodyCamera::make(*profile, std::move(options));
        cameras.push_back(camera);
        return camera;
    }

    // Attaches the camera and waits until its record is published.
    bool plug(const std::shared_ptr<SimulatedBodyCamera>& camera) {
        if (!watcher) watcher = std::make_unique<hvb::USBWatcher>(hvb::USBWatcherHandler::sharedPointer());
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

    hvb::DeviceRecord recordOf(const std::shared_ptr<SimulatedBodyCamera>& camera) {
        for (const auto& entry : hvb::DeviceState::shared().deviceEntryList())
            if (entry.serialNumber == camera->serialNumber()) return hvb::DeviceState::shared().record(entry.key());
        return nullptr;
    }

    bool sawLine(const std::string& text) const {
        std::lock_guard<std::mutex> guard(logLock_);
        for (const auto& line : lines_)
            if (line.find(text) != std::string::npos) return true;
        return false;
    }
    size_t countLines(const std::string& text) const {
        std::lock_guard<std::mutex> guard(logLock_);
        size_t n = 0;
        for (const auto& line : lines_)
            if (line.find(text) != std::string::npos) ++n;
        return n;
    }
    void clearLines() {
        std::lock_guard<std::mutex> guard(logLock_);
        lines_.clear();
    }

    // The names of the commands the camera took, in order.
    static std::vector<std::string> writeNames(const SimulatedBodyCamera& camera) {
        std::vector<std::string> names;
        for (const auto& write : camera.writes()) names.push_back(write.name);
        return names;
    }

    hvb::sim::SimulatedUsbBus bus;
    std::vector<std::shared_ptr<SimulatedBodyCamera>> cameras;
    std::unique_ptr<hvb::USBWatcher> watcher;
    std::shared_ptr<RecordingLink> link;
    std::vector<ShownMessage> messages;
    std::function<void(appkit::Window*)> onModal;

private:
    appkit::ModalHook previousHook_;
    mutable std::mutex logLock_;
    std::vector<std::string> lines_;
    int logToken_ = 0;
};

}  // namespace toolstest
