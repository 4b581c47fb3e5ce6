#pragma once
// Simulated cameras on a simulated bus, the driver loaded in this process, the command tables
// built, and the camera link's hooks recording what they are asked. Tests drive the main run
// loop themselves.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SCSIDriver/HVBSCSIDriverBundle.h"
#include "camera/CameraLinkHooks.h"
#include "camera/CommandTables.h"
#include "camera/DeviceState.h"
#include "camera/USBWatcher.h"
#include "camera/USBWatcherHandler.h"
#include "platform/diskarb/DiskArbitration.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/TempDir.h"
#include "standins/camera/SimulatedBodyCamera.h"

namespace camtest {

using hvb::sim::BodyCameraOptions;
using hvb::sim::CameraProfile;
using hvb::sim::SimulatedBodyCamera;

inline const CameraProfile& profile(const std::string& model, const std::string& firmware) {
    const CameraProfile* p = hvb::sim::findCameraProfile(model, firmware);
    if (!p) throw std::runtime_error("no simulated profile " + model + " " + firmware);
    return *p;
}

class CameraLinkFixture : public ::testing::Test {
protected:
    static constexpr double kScale = 0.01;

    // The pause scale the test runs with.
    virtual double timeScale() const { return kScale; }

    void SetUp() override {
        foundation::setLogEchoEnabled(false);
        diskarb::simulatedDiskTable();  // names the volume table before any other thread runs
        dispatch::setTimeScale(timeScale());
        dispatch::RunLoop::main().adoptCurrentThread();
        ASSERT_TRUE(loadHVBSCSIDriverBundle());
        hvb::buildAllCommandTables();
        hvb::DeviceState::shared().reset();
        hvb::USBWatcherHandler::shared().reset();
        logToken_ = foundation::addLogSink([this](foundation::LogChannel, const std::string& line) {
            std::lock_guard<std::mutex> guard(logLock_);
            lines_.push_back(line);
        });
        statusToken_ = foundation::NotificationCenter::defaultCenter().addObserver(
            hvb::kStatusDidGet, [this](const foundation::Notification&) {
                EXPECT_TRUE(dispatch::isMainThread());
                ++statusPosts;
            });
        hvb::CameraLinkHooks hooks;
        hooks.sendEvent = [this](const std::string& name, const std::map<std::string, std::string>& params) {
            std::lock_guard<std::mutex> guard(logLock_);
            events.emplace_back(name, params);
        };
        hooks.showDiskFormatDialog = [this](const std::string& title, const hvb::CommandDictionary& table,
                                            const std::string&) {
            EXPECT_TRUE(dispatch::isMainThread());
            dialogs.emplace_back(title, table);
        };
        hvb::setCameraLinkHooks(hooks);
    }

    void TearDown() override {
        watcher.reset();
        for (auto& camera : cameras) {
            camera->waitForReturn();
            camera->detach();
        }
        cameras.clear();
        afterCamerasLeft();
        // A failed test shows the system's log, which the sink kept from the console.
        if (HasFailure()) {
            std::lock_guard<std::mutex> guard(logLock_);
            const size_t from = lines_.size() > 300 ? lines_.size() - 300 : 0;
            for (size_t i = from; i < lines_.size(); ++i) std::fprintf(stderr, "log: %s\n", lines_[i].c_str());
        }
        foundation::NotificationCenter::defaultCenter().removeObserver(statusToken_);
        foundation::removeLogSink(logToken_);
        hvb::setCameraLinkHooks({});
        hvb::USBWatcherHandler::shared().reset();
        hvb::DeviceState::shared().reset();
    }

    // Between the cameras leaving and the state being reset: what they set off finishes.
    virtual void afterCamerasLeft() {
        dispatch::RunLoop::main().runUntil([] { return false; }, std::chrono::milliseconds(20));
    }

    std::shared_ptr<SimulatedBodyCamera> makeCamera(const CameraProfile& p, BodyCameraOptions options = {}) {
        if (options.bsdName == "disk4") options.bsdName = "disk" + std::to_string(4 + cameras.size());
        auto camera = SimulatedBodyCamera::make(p, std::move(options));
        cameras.push_back(camera);
        return camera;
    }

    // The watcher reports the cameras attached already; this waits until they are read.
    void startWatcher() {
        watcher = std::make_unique<hvb::USBWatcher>(hvb::USBWatcherHandler::sharedPointer());
        EXPECT_TRUE(waitForArrivals());
    }
    // Arrivals are read off the main thread and published on the main queue: serves the main
    // loop until no camera is being brought up.
    bool waitForArrivals() { return runUntil([] { return !hvb::DeviceState::shared().isAddingDevice.load(); }); }

    // Runs the main loop until the condition holds (or a generous real-time limit passes).
    bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        return dispatch::RunLoop::main().runUntil(condition, limit);
    }
    void settle() { dispatch::RunLoop::main().runUntil([] { return false; }, std::chrono::milliseconds(50)); }

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

    hvb::DeviceRecord recordOf(const std::string& key) { return hvb::DeviceState::shared().record(key); }

    hvb::sim::SimulatedUsbBus bus;
    std::vector<std::shared_ptr<SimulatedBodyCamera>> cameras;
    std::unique_ptr<hvb::USBWatcher> watcher;
    int statusPosts = 0;
    std::vector<std::pair<std::string, std::map<std::string, std::string>>> events;
    std::vector<std::pair<std::string, hvb::CommandDictionary>> dialogs;

private:
    mutable std::mutex logLock_;
    std::vector<std::string> lines_;
    int logToken_ = 0;
    foundation::NotificationCenter::Token statusToken_ = 0;
};

}  // namespace camtest
