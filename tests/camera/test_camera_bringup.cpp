// Bring-up of every simulated camera model: the record the plug-in read builds, the state it is
// published in, and the exact commands the camera saw.
#include <algorithm>
#include <fstream>

#include "camera/VersionNumber.h"

#include "CameraLinkFixture.h"
#include "camera/Settings.h"

using namespace camtest;

namespace {

struct Case {
    const char* model;
    const char* firmware;
};

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    std::string name = std::string(info.param.model) + "_" + info.param.firmware;
    std::replace(name.begin(), name.end(), '.', '_');
    return name;
}

// What the plug-in read must find, worked out from the camera itself.
struct Expected {
    std::optional<std::string> uid;
    std::string model, version, label;
    bool oldFirmware = false, russian = false, unicode = false;
    int64_t cut = 0;
    std::array<int64_t, 34> settings{};
};

int64_t zoneRaw(const std::string& text) {
    for (const auto& zone : hvb::timeZoneTable())
        if (std::string(zone.optionText) == "UTC" + text) return static_cast<int64_t>(zone.zone);
    return -1;
}

Expected expectedFor(const SimulatedBodyCamera& camera) {
    const CameraProfile& p = camera.profile();
    Expected e;
    e.model = p.model;
    e.version = p.firmware;
    e.oldFirmware = p.probe == hvb::sim::ProbeForm::oldFirmware;
    if (!e.oldFirmware) e.uid = camera.uid();
    e.label = camera.label();
    e.russian = p.label == hvb::sim::LabelForm::utf8 || p.label == hvb::sim::LabelForm::unicode;
    e.unicode = p.label == hvb::sim::LabelForm::unicode;
    e.cut = std::stoll(p.tableName.substr(p.tableName.rfind('_') + 1));
    for (auto key : hvb::allCases<hvb::EnumSettings>()) {
        std::string command = hvb::settingCommandName(key);
        int64_t value = -1;
        if (p.has(command))
            value = key == hvb::EnumSettings::TIME_ZONE ? zoneRaw(camera.timeZone()) : camera.setting(command);
        e.settings[hvb::settingIndex(key)] = value;
    }
    return e;
}

// The codes read (phase 2) in order.
std::vector<uint8_t> readCodes(const std::vector<hvb::sim::BlockRecord>& log) {
    std::vector<uint8_t> codes;
    for (const auto& r : log)
        if (r.kind == hvb::sim::BlockKind::readPhase2) codes.push_back(r.code());
    return codes;
}

// The reads the protocol probe makes on each kind of camera before it knows it.
std::vector<uint8_t> probeReads(const CameraProfile& p) {
    std::vector<uint8_t> codes;
    if (p.probe == hvb::sim::ProbeForm::information && p.model != "HVBS2A") return {0x0E};
    if (p.model == "HVBS2A") {
        codes.assign(6, 0x0E);
        codes.push_back(0x5E);
        return codes;
    }
    // The six HVBR4B/HW7312/HW7313 tables, the six HVBS2A tables, the twenty later code-set-C
    // tables, each asking for its information command.
    codes.assign(6, 0x0E);
    codes.insert(codes.end(), 6, 0x5E);
    codes.insert(codes.end(), 20, 0x0E);
    if (p.probe == hvb::sim::ProbeForm::uid) {
        codes.insert(codes.end(), {0x34, 0x28, 0x35});  // UID, then model and version
        return codes;
    }
    codes.insert(codes.end(), 12, 0x34);
    codes.push_back(0x04);
    return codes;
}

// The camera's own codes of what follows the identity, in the order the read makes them.
std::vector<uint8_t> restReads(const SimulatedBodyCamera& camera) {
    const CameraProfile& p = camera.profile();
    std::vector<uint8_t> codes;
    if (auto sd = p.codeOf("HVB_SD_CARD_STATUS")) codes.push_back(*sd);
    for (const char* label : {"HVB_UTF8_USERLABEL", "HVB_UNICODE_USERLABEL", "HVB_USERLABEL", "HVB_GetPersonalStamp"}) {
        if (auto c = p.codeOf(label)) {
            codes.push_back(*c);
            break;
        }
    }
    if (p.probe != hvb::sim::ProbeForm::oldFirmware) {
        if (auto c = p.codeOf("HVB_HIDDENSTORAGE")) codes.push_back(*c);
        // The encryption state: the camera's own command, or its lock command that answers it.
        if (auto c = p.codeOf("HVB_IS_ENCRYPT")) codes.push_back(*c);
        else if (auto l = p.codeOf("HVB_LOCKABLE")) codes.push_back(*l);
    }
    for (auto key : hvb::allCases<hvb::EnumSettings>())
        if (auto c = p.codeOf(hvb::settingCommandName(key))) codes.push_back(*c);
    return codes;
}

}  // namespace

class BringUp : public CameraLinkFixture, public ::testing::WithParamInterface<Case> {};

TEST_P(BringUp, PluggingACameraPublishesItsFullRecordOnce) {
    const CameraProfile& p = profile(GetParam().model, GetParam().firmware);
    TempDir volume;
    std::filesystem::create_directories(volume.path() / "SYSTEM");
    BodyCameraOptions options;
    options.volumeFolder = volume.path();
    auto camera = makeCamera(p, options);
    startWatcher();
    ASSERT_TRUE(camera->attach(bus));
    auto& state = hvb::DeviceState::shared();
    ASSERT_TRUE(runUntil([&] { return state.PlugInDeviceCnt.load() == 1 && statusPosts > 0; }));
    settle();

    const std::string key = camera->serialNumber();
    auto record = recordOf(key);
    ASSERT_NE(record, nullptr);
    Expected e = expectedFor(*camera);
    EXPECT_EQ(record->UID, e.uid);
    EXPECT_EQ(record->ModelName, e.model);
    EXPECT_EQ(record->FWVersion, e.version);
    EXPECT_EQ(record->cut, e.cut);
    EXPECT_EQ(record->commandTableName(), p.tableName);
    EXPECT_EQ(record->FWVersionNumber, hvb::parseVersionNumber(e.version));
    EXPECT_EQ(record->isOldFirmware, e.oldFirmware);
    EXPECT_EQ(record->UserLabel, e.label);
    EXPECT_EQ(record->isUserLabelUnicode, e.unicode);
    EXPECT_EQ(record->isSupportRussian, e.russian);
    EXPECT_FALSE(record->isCustomizedFirmware);
    EXPECT_EQ(record->isLockStatus, false);
    EXPECT_EQ(record->isDeviceEncryption, false);
    EXPECT_FALSE(record->isSDCardError);
    ASSERT_NE(record->DeviceParam, nullptr);
    for (auto k : hvb::allCases<hvb::EnumSettings>())
        EXPECT_EQ(record->DeviceParam->get(k), e.settings[hvb::settingIndex(k)]) << hvb::caseName(k);

    auto entries = state.deviceEntryList();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0], (hvb::DeviceEntry{key, "", 0}));
    EXPECT_EQ(state.PlugInDeviceCnt.load(), 1);
    EXPECT_FALSE(state.isAddingDevice.load());
    ASSERT_NE(state.findModel(key), nullptr);
    EXPECT_EQ(hvb::USBWatcherHandler::shared().deviceCnt.load(), 0);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].first, "Device");
    EXPECT_EQ(events[0].second, (std::map<std::string, std::string>{{"action", e.model}}));
    EXPECT_TRUE(dialogs.empty());

    // The camera heard exactly the identity probe and then only its own commands.
    std::vector<uint8_t> expected = probeReads(p);
    auto rest = restReads(*camera);
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(readCodes(camera->log()), expected);
    EXPECT_TRUE(camera->writes().empty());
    // Texts and the SD card are read with 200 bytes, single state and setting bytes with 20.
    for (const auto& block : camera->log()) {
        if (block.kind != hvb::sim::BlockKind::readPhase2) continue;
        auto name = p.nameOf(block.code()).value_or("");
        bool byte = name == "HVB_HIDDENSTORAGE" || name == "HVB_IS_ENCRYPT" || name == "HVB_LOCKABLE" ||
                    (name != "HVB_TIME_ZONE" && hvb::settingFromName(name.size() > 4 ? name.substr(4) : "") &&
                     name.rfind("HVB_", 0) == 0);
        EXPECT_EQ(block.length(), byte ? 20u : 200u) << name;
    }

    // The configuration file, on the three models that read it.
    auto ini = volume.path() / "SYSTEM" / "BVConfig.ini";
    if (p.bvConfig) {
        std::ifstream in(ini);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto& s = *record->DeviceParam;
        EXPECT_EQ(content, std::to_string(s.STEALTH()) + std::to_string(s.LED()) + std::to_string(s.BUZZERSWITCH()) +
                               std::to_string(s.VIBRATOR()) + "\n");
        EXPECT_TRUE(sawLine("to ini result: "));
    } else {
        EXPECT_FALSE(std::filesystem::exists(ini));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Models, BringUp,
    ::testing::Values(Case{"HVBR4", "1.3.05"}, Case{"HVBR4", "1.4.00"}, Case{"HVBR7", "1.6.01"},
                      Case{"HVBS2A", "1.13.0"}, Case{"HVBT3A", "1.3.0"}, Case{"HVBT3A", "1.0.00"},
                      Case{"HW7312", "1.0.00"}, Case{"HW7333", "1.0.0"}, Case{"HW7334", "1.0.0"},
                      Case{"HW7360", "1.0.0"}),
    caseName);
