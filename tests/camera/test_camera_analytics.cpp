// The bring-up reports each camera to the analytics collector (the stand-in on loopback)
// through the hook the application installs at start-up.
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "CameraLinkFixture.h"
#include "online/Google4Analytics.h"
#include "standins/webservice/WebService.h"

using namespace camtest;

class DeviceEvent : public CameraLinkFixture {};

TEST_F(DeviceEvent, EachBringUpSendsOneDeviceEventToTheCollector) {
    standin::WebService service;
    ASSERT_GT(service.start(), 0);
    ::setenv("HVB_ANALYTICS_BASE", service.baseURL().c_str(), 1);
    auto hooks = hvb::cameraLinkHooks();
    hooks.sendEvent = [](const std::string& name, const std::map<std::string, std::string>& params) {
        hvb::Google4Analytics::sendEvent(name, hvb::Google4Analytics::Params(params.begin(), params.end()));
    };
    hvb::setCameraLinkHooks(hooks);

    startWatcher();
    auto camera = makeCamera(profile("HVBS2A", "1.13.0"));
    ASSERT_TRUE(camera->attach(bus));
    ASSERT_TRUE(runUntil([] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == 1; }));
    ASSERT_TRUE(service.waitForRequests("/mp/collect", 1, std::chrono::seconds(30)));
    auto body = nlohmann::json::parse(service.requestsTo("/mp/collect").at(0).body);
    ASSERT_EQ(body["events"].size(), 1u);
    EXPECT_EQ(body["events"][0]["name"], "Device");
    EXPECT_EQ(body["events"][0]["params"]["action"], "HVBS2A");

    // A repeated match is not a new camera: nothing more is reported.
    io_service_t service2 = hvb::USBWatcherHandler::shared().copyDeviceService();
    ASSERT_NE(service2, 0u);
    hvb::USBWatcherHandler::shared().driverServiceMatched(service2);
    IOObjectRelease(service2);
    ASSERT_TRUE(waitForArrivals());
    settle();
    EXPECT_FALSE(service.waitForRequests("/mp/collect", 2, std::chrono::milliseconds(300)));
    service.stop();
    ::unsetenv("HVB_ANALYTICS_BASE");
}
