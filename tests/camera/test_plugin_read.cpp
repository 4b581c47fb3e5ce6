// The plug-in read's edge cases: identity answers the probe must refuse, reply framings, label
// fallbacks, customized firmware, and the pauses between the camera's commands.
#include "CameraLinkFixture.h"
#include "camera/DeviceInfoManager.h"
#include "camera/DeviceInfoReader.h"
#include "camera/NvUSBcmd.h"

using namespace camtest;

namespace {

size_t readsOf(const SimulatedBodyCamera& camera, uint8_t code) {
    size_t n = 0;
    for (const auto& r : camera.log())
        if (r.kind == hvb::sim::BlockKind::readPhase2 && r.code() == code) ++n;
    return n;
}

}  // namespace

class PlugInRead : public CameraLinkFixture {
protected:
    // Attaches the camera and reads it through a watcher created afterwards.
    hvb::DeviceRecord readAtStart(const std::shared_ptr<SimulatedBodyCamera>& camera) {
        EXPECT_TRUE(camera->attach(bus));
        startWatcher();
        return recordOf(camera->serialNumber());
    }
};

TEST_F(PlugInRead, AUIDOfElevenCharactersIsNotAccepted) {
    BodyCameraOptions options;
    options.uid = "HVBR7ABCDEF";  // 11 characters
    options.serialNumber = "R7SERIAL00001";
    auto camera = makeCamera(profile("HVBR7", "1.6.01"), options);
    readAtStart(camera);
    EXPECT_EQ(readsOf(*camera, 0x34), 12u);  // every table with the UID command was tried
    EXPECT_FALSE(sawLine("uid = HVBR7ABCDEF"));
    EXPECT_FALSE(sawLine("deviceUID = HVBR7ABCDEF"));
}

TEST_F(PlugInRead, AUIDWithAHyphenIsPrintedButNotAccepted) {
    BodyCameraOptions options;
    options.uid = "HVBR7-ABCDEF";
    options.serialNumber = "R7SERIAL00002";
    auto camera = makeCamera(profile("HVBR7", "1.6.01"), options);
    readAtStart(camera);
    EXPECT_TRUE(sawLine("XXXXXXX service = "));
    EXPECT_TRUE(sawLine("uid = HVBR7-ABCDEF, length = 12"));
    EXPECT_EQ(readsOf(*camera, 0x34), 12u);
    EXPECT_FALSE(sawLine("deviceUID = HVBR7-ABCDEF"));
}

TEST_F(PlugInRead, LengthPrefixedRepliesAndUnicodeLabelsDecode) {
    BodyCameraOptions prefixed;
    prefixed.identityFraming = hvb::sim::TextFraming::bytePrefix;
    prefixed.labelFraming = hvb::sim::TextFraming::bytePrefix;
    prefixed.label = "Смена 4";
    auto s2 = makeCamera(profile("HVBS2A", "1.13.0"), prefixed);
    BodyCameraOptions unicode;
    unicode.label = "Ωmega ✓ 𝄞";
    auto r7 = makeCamera(profile("HVBR7", "1.6.01"), unicode);
    ASSERT_TRUE(s2->attach(bus));
    ASSERT_TRUE(r7->attach(bus));
    startWatcher();
    auto a = recordOf(s2->serialNumber());
    auto b = recordOf(r7->serialNumber());
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->ModelName, "HVBS2A");
    EXPECT_EQ(a->FWVersion, "1.13.0");
    EXPECT_EQ(a->UID, s2->uid());
    EXPECT_EQ(a->UserLabel, "Смена 4");
    EXPECT_FALSE(a->isUserLabelUnicode);
    EXPECT_EQ(b->UserLabel, "Ωmega ✓ 𝄞");
    EXPECT_TRUE(b->isUserLabelUnicode);
}

TEST_F(PlugInRead, AnEmptyLabelGivesTheModelsDisplayName) {
    BodyCameraOptions options;
    options.label = "";
    auto camera = makeCamera(profile("HW7312", "1.0.00"), options);
    auto record = readAtStart(camera);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->UserLabel, hvb::modelDisplayNames().at("HW7312"));
}

TEST_F(PlugInRead, CustomizedFirmwareKeepsItsTable) {
    CameraProfile custom = profile("HVBT3A", "1.3.0");
    custom.firmware = "1.3.0_police";
    auto camera = makeCamera(custom);
    auto record = readAtStart(camera);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->isCustomizedFirmware);
    EXPECT_EQ(record->FWVersion, "1.3.0_police");
    EXPECT_EQ(record->FWVersionNumber, 10300);
    EXPECT_EQ(record->commandTableName(), "HVBT3ACmd_4");
}

TEST_F(PlugInRead, AnInformationAnswerOfMorePartsTakesTheFirstTheSecondAndTheLast) {
    CameraProfile odd = profile("HW7360", "1.0.0");
    odd.reportedModel = "HW7360-1.0.0";  // answers "HW7360-1.0.0-1.0.0-0-<UID>"
    auto fine = makeCamera(odd);
    auto record = readAtStart(fine);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->ModelName, "HW7360");
    EXPECT_EQ(record->FWVersion, "1.0.0");
    EXPECT_EQ(record->UID, fine->uid());
}

TEST_F(PlugInRead, EveryReadIsFollowedByItsPause) {
    dispatch::setTimeScale(0.1);
    auto camera = makeCamera(profile("HW7360", "1.0.0"));
    readAtStart(camera);
    ASSERT_EQ(hvb::DeviceState::shared().PlugInDeviceCnt.load(), 1);
    const auto log = camera->log();
    const auto phase = dispatch::scaled(dispatch::Millis(50));
    const auto after = dispatch::scaled(dispatch::Millis(hvb::kReadPauseMs));
    const auto afterEncryption = dispatch::scaled(dispatch::Millis(hvb::kEncryptionPauseMs));
    int checked = 0;
    for (size_t i = 0; i < log.size(); ++i) {
        if (log[i].kind != hvb::sim::BlockKind::readPhase2) continue;
        ASSERT_GT(i, 0u);
        EXPECT_EQ(log[i - 1].kind, hvb::sim::BlockKind::readPhase1);
        EXPECT_GE(log[i].time - log[i - 1].time, phase);
        // The next command starts no sooner than the pause after this read.
        size_t next = i + 1;
        while (next < log.size() && log[next].kind == hvb::sim::BlockKind::status) ++next;
        if (next == log.size()) break;
        auto gap = log[next].time - log[next - 1].time;
        EXPECT_GE(gap, log[i].code() == 0x64 ? afterEncryption : after) << "after code " << int(log[i].code());
        ++checked;
    }
    EXPECT_GT(checked, 20);
}

TEST_F(PlugInRead, TheCameraAnswersItsBatteryChargingAndReservedSpace) {
    auto camera = makeCamera(profile("HW7333", "1.0.0"));
    camera->setBattery(63);
    camera->setCharging(true);
    camera->setReservedSpace("512-60000");
    readAtStart(camera);
    io_service_t service = hvb::DeviceInfoManager::shared().driverService(camera->serialNumber());
    ASSERT_NE(service, 0u);
    bool ok = false;
    EXPECT_EQ(hvb::NvUSBcmd::readCommandByte(service, 0x1D, 40, &ok), 63);  // battery capacity
    EXPECT_TRUE(ok);
    EXPECT_EQ(hvb::NvUSBcmd::readCommandByte(service, 0x0F, 40, &ok), 1);  // charging
    EXPECT_EQ(hvb::NvUSBcmd::readCommandString(service, 0x39, 200, &ok), "512-60000");
    IOObjectRelease(service);
}
