#pragma once
// A simulated camera on the bus with the driver loaded, time shrunk, and the program's printed
// lines collected.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SCSIDriver/HVBSCSIDriverBundle.h"
#include "camera/UserClientTransport.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "standins/camera/SimulatedUsbBus.h"

class TransportFixture : public ::testing::Test {
protected:
    void SetUp() override {
        foundation::setLogEchoEnabled(false);
        dispatch::setTimeScale(0.01);
        ASSERT_TRUE(loadHVBSCSIDriverBundle());
        token_ = foundation::addLogSink([this](foundation::LogChannel channel, const std::string& line) {
            if (channel != foundation::LogChannel::standardOutput) return;
            std::lock_guard<std::mutex> guard(linesLock_);
            printed_.push_back(line);
        });
        camera = plug("SN-A");
        service = hvb::findDriverService(0);
        ASSERT_NE(service, 0u);
    }

    void TearDown() override {
        if (service) IOObjectRelease(service);
        bus.unplugAll();
        foundation::removeLogSink(token_);
        dispatch::setTimeScale(1.0);
    }

    std::shared_ptr<hvb::sim::SimulatedCamera> plug(const std::string& serial) {
        hvb::sim::CameraIdentity identity;
        identity.serialNumber = serial;
        auto cam = std::make_shared<hvb::sim::SimulatedCamera>(identity);
        EXPECT_TRUE(bus.plug(cam));
        return cam;
    }

    std::vector<std::string> printed() {
        std::lock_guard<std::mutex> guard(linesLock_);
        return printed_;
    }

    // Printed lines compare without their trailing newlines.
    bool printedLine(const std::string& line) {
        for (std::string p : printed()) {
            while (!p.empty() && p.back() == '\n') p.pop_back();
            if (p == line) return true;
        }
        return false;
    }

    size_t count(hvb::sim::BlockKind kind) {
        auto log = camera->log();
        return static_cast<size_t>(
            std::count_if(log.begin(), log.end(), [&](const hvb::sim::BlockRecord& r) { return r.kind == kind; }));
    }

    hvb::sim::SimulatedUsbBus bus;
    std::shared_ptr<hvb::sim::SimulatedCamera> camera;
    io_service_t service = 0;

private:
    int token_ = 0;
    std::mutex linesLock_;
    std::vector<std::string> printed_;
};
