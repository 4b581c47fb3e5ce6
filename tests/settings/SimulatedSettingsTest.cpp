// The simulated cameras answer every setting the pane writes, for each code set: the camera
// takes the value, and a fresh read of the camera gives it back.
#include <algorithm>
#include <future>

#include "PanelFixture.h"
#include "camera/DeviceSettingWriter.h"
#include "settings/SettingWrite.h"

using namespace settingstest;

namespace {

// The commands the pane writes.
std::vector<std::string> writtenCommands() {
    std::vector<std::string> names;
    for (const char* name :
         {"HVB_TIMEFORMAT", "HVB_DATEFORMAT", "HVB_MICROPHONE", "HVB_LIGHTFREQ", "HVB_IRSWITCH", "HVB_BUZZERSWITCH",
          "HVB_LED", "HVB_STEALTH", "HVB_RECORDINGMODE", "HVB_DEFAULT_RECORD_STATUS", "HVB_RESOLUTION",
          "HVB_BUFFERLENGTH", "HVB_VIDEOLENGTH", "HVB_VIDEOLOOPRECORD", "HVB_VIDEOSTAMP", "HVB_WATERMARK", "HVB_EIS",
          "HVB_VOICE_RECORDING", "HVB_VOICE_SAMPLERATE", "HVB_TIME_ZONE", "HVB_FILEFORMAT", "HVB_VIBRATOR",
          "HVB_BUFFERAUDIO", "HVB_HWKEY_RESET"}) {
        names.push_back(name);
    }
    return names;
}

// Camera commands never run on the GUI thread: on a worker, while the GUI thread keeps serving.
template <class F>
auto offMainThread(F&& f) {
    auto pending = std::async(std::launch::async, std::forward<F>(f));
    apptest::waitUntil([&] { return pending.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 60000);
    return pending.get();
}

}  // namespace

class SimulatedSettings : public PanelFixture {};

TEST_F(SimulatedSettings, EveryCodeSetTakesAndReportsEveryWrittenSetting) {
    int codeSets = 0;
    for (const auto& p : hvb::sim::cameraProfiles()) {
        if (p.probe == hvb::sim::ProbeForm::oldFirmware) continue;
        SCOPED_TRACE(p.model + " " + p.firmware);
        ++codeSets;
        auto camera = plug(p.model, p.firmware);
        const std::string key = camera->serialNumber();
        const auto table = hvb::commandTable(p.tableName);
        ASSERT_TRUE(table.has_value());
        std::map<hvb::EnumSettings, int64_t> written;
        int writes = 0;
        for (const std::string& name : writtenCommands()) {
            auto code = table->find(name);
            // The application's table and the camera's firmware agree on what the camera has.
            EXPECT_EQ(code != table->end(), p.has(name)) << name;
            if (code == table->end()) continue;
            EXPECT_EQ(p.codeOf(name), code->second) << name;
            const auto field = *hvb::settingFromName(name.substr(4));
            const int64_t before = recordOf(key)->DeviceParam->get(field);
            ASSERT_GE(before, 0) << name << " starts without a value";
            if (name == "HVB_TIME_ZONE") {
                const std::string uid = camera->uid();
                const uint8_t c = code->second;
                ASSERT_TRUE(offMainThread([&] { return hvb::setDeviceString(uid, c, 23); }));
                EXPECT_EQ(camera->timeZone(), "+05:45");
                written[field] = 23;
            } else {
                const int64_t value = before == 0 ? 1 : 0;
                const std::string uid = camera->uid();
                const uint8_t c = code->second;
                ASSERT_TRUE(offMainThread([&] { return hvb::setDeviceValue(uid, c, value); })) << name;
                EXPECT_EQ(camera->setting(name), value) << name;
                written[field] = value;
            }
            ++writes;
        }
        EXPECT_GE(writes, 9);

        // Read again from the camera after a reboot: the values it took.
        auto stale = recordOf(key);
        camera->reboot(20);
        ASSERT_TRUE(apptest::waitUntil(
            [&] {
                auto now = recordOf(key);
                return now && now != stale && hvb::DeviceState::shared().PlugInDeviceCnt.load() == 1;
            },
            30000));
        for (auto [field, value] : written) EXPECT_EQ(recordOf(key)->DeviceParam->get(field), value) << hvb::caseName(field);

        camera->detach();
        ASSERT_TRUE(apptest::waitUntil([] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == 0; }, 30000));
    }
    EXPECT_GE(codeSets, 9);
}
