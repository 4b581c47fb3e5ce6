// Setting writers and the clock: what goes on the wire for each clock form, the computer's
// offset from UTC, the record's time zone, refusals, and cameras that vanish mid-write.
#include "CameraLinkFixture.h"
#include "camera/DeviceInfoReader.h"
#include "camera/DeviceSettingWriter.h"

using namespace camtest;

namespace {

std::vector<uint8_t> padded(std::string text, size_t size = 32) {
    std::vector<uint8_t> out(text.begin(), text.end());
    out.resize(size, 0);
    return out;
}

hvb::ClockReading at(int64_t offsetSeconds) { return {"20240131", "235959", offsetSeconds}; }

}  // namespace

class Writers : public CameraLinkFixture {
protected:
    void SetUp() override {
        CameraLinkFixture::SetUp();
        startWatcher();
    }
    void TearDown() override {
        hvb::setClockSource({});
        CameraLinkFixture::TearDown();
    }
    std::shared_ptr<SimulatedBodyCamera> bringUp(const CameraProfile& p, BodyCameraOptions options = {}) {
        auto camera = makeCamera(p, std::move(options));
        int64_t before = hvb::DeviceState::shared().PlugInDeviceCnt.load();
        EXPECT_TRUE(camera->attach(bus));
        EXPECT_TRUE(runUntil([&] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == before + 1; }));
        settle();
        camera->clearWrites();
        return camera;
    }
    hvb::CommandDictionary tableOf(const SimulatedBodyCamera& camera) {
        return *hvb::commandTable(camera.profile().tableName);
    }
};

TEST_F(Writers, DateAndTimeCommandsCarryTheNumbersAsLittleEndianWords) {
    auto camera = bringUp(profile("HVBR7", "1.6.01"));
    hvb::setClockSource([] { return at(3600); });
    ASSERT_TRUE(hvb::syncDeviceDateTime(camera->serialNumber(), tableOf(*camera), camera->serialNumber()));
    auto writes = camera->writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].name, "HVB_SYNCDATE");
    EXPECT_EQ(writes[0].payload, (std::vector<uint8_t>{0x03, 0xD7, 0x34, 0x01}));
    EXPECT_EQ(writes[1].name, "HVB_SYNCTIME");
    EXPECT_EQ(writes[1].payload, (std::vector<uint8_t>{0xB7, 0x99, 0x03, 0x00}));
    EXPECT_GE(writes[1].time - writes[0].time, dispatch::scaled(dispatch::Millis(hvb::kSyncDatePauseMs)));
    EXPECT_EQ(hvb::DeviceState::shared().settingSerialNumber(), camera->serialNumber());
    EXPECT_EQ(hvb::readDeviceDateTime(camera->serialNumber(), tableOf(*camera)), "2024/01/31 23:59:59");

    // A table with the date command alone sends the date only; its result is that write's.
    camera->clearWrites();
    hvb::CommandDictionary dateOnly{{"HVB_SYNCDATE", 0x01}};
    EXPECT_TRUE(hvb::syncDeviceDateTime(camera->serialNumber(), dateOnly, camera->serialNumber()));
    ASSERT_EQ(camera->writes().size(), 1u);
    EXPECT_EQ(camera->writes()[0].name, "HVB_SYNCDATE");
}

TEST_F(Writers, TheCombinedDateTimeCommandSendsEightBytesAndPauses) {
    auto camera = bringUp(profile("HVBS2A", "1.13.0"));
    hvb::setClockSource([] { return at(0); });
    auto started = dispatch::Clock::now();
    ASSERT_TRUE(hvb::syncDeviceDateTime(camera->serialNumber(), tableOf(*camera), camera->serialNumber()));
    EXPECT_GE(dispatch::Clock::now() - started, dispatch::scaled(dispatch::Millis(hvb::kSyncDateTimePauseMs)));
    auto writes = camera->writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].name, "HVB_SYNC_DATETIME");
    EXPECT_EQ(writes[0].payload, (std::vector<uint8_t>{0x03, 0xD7, 0x34, 0x01, 0xB7, 0x99, 0x03, 0x00}));
    EXPECT_EQ(camera->clockDate(), "20240131");
    EXPECT_EQ(camera->clockTime(), "235959");
    EXPECT_EQ(hvb::readDeviceDateTime(camera->serialNumber(), tableOf(*camera)), "2024/01/31 23:59:59");
}

TEST_F(Writers, TheTextClockSendsTheOffsetThenTheDigitsAndStoresTheZone) {
    auto camera = bringUp(profile("HVBT3A", "1.3.0"));
    const std::string key = camera->serialNumber();
    struct Zone {
        int64_t seconds;
        const char* text;
        const char* option;
    };
    for (Zone zone : {Zone{-5 * 3600, "-05:00", "N_05_00"}, Zone{5 * 3600 + 1800, "+05:30", "P_05_30"},
                      Zone{0, "+00:00", "P_00_00"}}) {
        camera->clearWrites();
        hvb::setClockSource([zone] { return at(zone.seconds); });
        ASSERT_TRUE(hvb::syncDeviceDateTime(camera->serialNumber(), tableOf(*camera), key)) << zone.text;
        auto writes = camera->writes();
        ASSERT_EQ(writes.size(), 2u);
        EXPECT_EQ(writes[0].name, "HVB_TIME_ZONE");
        EXPECT_EQ(writes[0].payload, padded(zone.text));
        EXPECT_EQ(writes[1].name, "HVB_SYNC_DATETIME_STRING");
        EXPECT_EQ(writes[1].payload, padded("20240131235959"));
        EXPECT_EQ(camera->timeZone(), zone.text);
        auto option = hvb::caseFromName<hvb::TIME_ZONE>(zone.option);
        ASSERT_TRUE(option.has_value());
        EXPECT_EQ(recordOf(key)->DeviceParam->TIME_ZONE(), static_cast<int64_t>(*option));
        EXPECT_TRUE(sawLine(zone.text));
    }
    EXPECT_EQ(hvb::readDeviceDateTime(camera->serialNumber(), tableOf(*camera)), "2024/01/31 23:59:59");

    // A time-zone write the camera never finishes fails and stops the sequence.
    camera->clearWrites();
    camera->session()->setPollsBeforeCompletion(0x1E, 100000);
    EXPECT_FALSE(hvb::syncDeviceDateTime(camera->serialNumber(), tableOf(*camera), key));
    ASSERT_EQ(camera->writes().size(), 1u);
    EXPECT_EQ(camera->writes()[0].name, "HVB_TIME_ZONE");
    EXPECT_TRUE(sawLine("Command is still running 1 min!"));
}

TEST_F(Writers, ATableWithoutAZoneCommandSendsTheClockTextAlone) {
    auto camera = bringUp(profile("HW7312", "1.0.00"));
    const std::string key = camera->serialNumber();
    hvb::DeviceState::shared().updateRecord(key, [](hvb::DiskDriver_Parameter& r) { r.DeviceParam->TIME_ZONE() = 7; });
    hvb::setClockSource([] { return at(-3600); });
    ASSERT_TRUE(hvb::syncDeviceDateTime(camera->serialNumber(), tableOf(*camera), key));
    auto writes = camera->writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].name, "HVB_SYNC_DATETIME_STRING");
    EXPECT_EQ(writes[0].payload, padded("20240131235959"));
    EXPECT_EQ(recordOf(key)->DeviceParam->TIME_ZONE(), 7);
}

TEST_F(Writers, UnsupportedTablesAndUnknownCamerasSendNothing) {
    auto camera = bringUp(profile("HVBR7", "1.6.01"));
    EXPECT_FALSE(hvb::syncDeviceDateTime(camera->serialNumber(), {}, camera->serialNumber()));
    EXPECT_FALSE(hvb::syncDeviceDateTime(camera->serialNumber(), {{"HVB_LED", 0x41}}, camera->serialNumber()));
    EXPECT_EQ(countLines("Not support device"), 2u);
    EXPECT_EQ(hvb::readDeviceDateTime(camera->serialNumber(), {{"HVB_LED", 0x41}}), "");
    EXPECT_FALSE(hvb::syncDeviceDateTime("NOSUCHCAMERA", tableOf(*camera), ""));
    EXPECT_FALSE(hvb::setDeviceValue("NOSUCHCAMERA", 0x41, 1));
    EXPECT_FALSE(hvb::setDeviceValue("", 0x41, 1));  // an empty serial matches no camera
    EXPECT_EQ(hvb::readDeviceDateTime("", tableOf(*camera)), "");
    EXPECT_TRUE(camera->writes().empty());
}

TEST_F(Writers, SettingValuesAreOneWordWithinTheirRange) {
    auto camera = bringUp(profile("HW7360", "1.0.0"));
    ASSERT_TRUE(hvb::setDeviceValue(camera->serialNumber(), 0x2F, 1));
    ASSERT_EQ(camera->writes().size(), 1u);
    EXPECT_EQ(camera->writes()[0].name, "HVB_LED");
    EXPECT_EQ(camera->writes()[0].payload, (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(camera->setting("HVB_LED"), 1);
    EXPECT_TRUE(hvb::setDeviceValue(camera->serialNumber(), 0x2F, 4294967295LL));
    EXPECT_EQ(camera->writes().back().payload, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    camera->clearWrites();
    EXPECT_FALSE(hvb::setDeviceValue(camera->serialNumber(), 0x2F, 4294967296LL));
    EXPECT_FALSE(hvb::setDeviceValue(camera->serialNumber(), 0x2F, -1));
    EXPECT_TRUE(camera->writes().empty());
    // The lookup is a case-sensitive substring test.
    std::string tail = camera->serialNumber().substr(3);
    EXPECT_TRUE(hvb::setDeviceValue(tail, 0x30, 0));
    std::string lower = camera->serialNumber();
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_FALSE(hvb::setDeviceValue(lower, 0x30, 0));
}

TEST_F(Writers, TheTimeZoneIsSentAsItsOptionText) {
    auto camera = bringUp(profile("HW7360", "1.0.0"));
    auto zone = static_cast<int64_t>(hvb::TIME_ZONE::P_05_45);
    ASSERT_TRUE(hvb::setDeviceString(camera->serialNumber(), 0x1E, zone));
    ASSERT_EQ(camera->writes().size(), 1u);
    EXPECT_EQ(camera->writes()[0].payload, padded("+05:45"));
    EXPECT_TRUE(hvb::setDeviceString(camera->serialNumber(), 0x1E, 0));
    EXPECT_EQ(camera->writes().back().payload, padded("-12:00"));
    camera->clearWrites();
    EXPECT_FALSE(hvb::setDeviceString(camera->serialNumber(), 0x1E, 39));
    EXPECT_FALSE(hvb::setDeviceString(camera->serialNumber(), 0x1E, -1));
    EXPECT_TRUE(camera->writes().empty());
}

TEST_F(Writers, ACameraThatVanishesDuringTheWaitDidNotTakeTheWrite) {
    auto camera = bringUp(profile("HW7360", "1.0.0"));
    camera->session()->vanishAtPoll(1);
    EXPECT_FALSE(hvb::setDeviceValue(camera->serialNumber(), 0x2F, 0));
    ASSERT_TRUE(runUntil([&] { return hvb::DeviceState::shared().PlugInDeviceCnt.load() == 0; }));

    auto clocked = bringUp(profile("HVBS2A", "1.13.0"));
    clocked->session()->vanishAtPoll(1);
    hvb::setClockSource([] { return at(0); });
    EXPECT_FALSE(hvb::syncDeviceDateTime(clocked->serialNumber(), tableOf(*clocked), clocked->serialNumber()));
}
