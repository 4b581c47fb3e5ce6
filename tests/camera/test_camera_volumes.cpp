// Camera volumes: the configuration file on volumes with hostile names, the whole-disk
// fallback, the 127-byte location limit, and the program runner.
#include <cstring>
#include <fstream>

#include "CameraLinkFixture.h"
#include "camera/BVConfigIni.h"
#include "camera/DeviceInfoManager.h"
#include "camera/Shell.h"
#include "platform/diskarb/DiskArbitration.h"

using namespace camtest;

namespace {
std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
}  // namespace

class Volumes : public CameraLinkFixture {};

TEST_F(Volumes, TheConfigurationFileIsWrittenOnAVolumeWithAHostileName) {
    TempDir root;
    auto volume = root.path() / "Cam 1 \"q\" 'x' $HOME ;rm -rf x; `id`";
    std::filesystem::create_directories(volume / "SYSTEM");
    auto bait = root.path() / "Cam";  // where a split command line would write
    BodyCameraOptions options;
    options.volumeFolder = volume;
    auto camera = makeCamera(profile("HW7334", "1.0.0"), options);
    camera->setSetting("HVB_STEALTH", -1);
    camera->setSetting("HVB_LED", 0);
    camera->setSetting("HVB_BUZZERSWITCH", 1);
    camera->setSetting("HVB_VIBRATOR", 0);
    ASSERT_TRUE(camera->attach(bus));
    startWatcher();
    ASSERT_EQ(hvb::DeviceState::shared().PlugInDeviceCnt.load(), 1);
    EXPECT_EQ(readFile(volume / "SYSTEM" / "BVConfig.ini"), "-1010\n");
    EXPECT_TRUE(sawLine("Set -1010 to ini result: "));
    EXPECT_FALSE(std::filesystem::exists(bait));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.path()), {}), 1);
    // The model learnt the node its volume is on.
    EXPECT_EQ(hvb::DeviceState::shared().findModel(camera->serialNumber())->mountPoint(),
              "/dev/" + camera->bsdName() + "s1");

    // Rewritten, not appended, after a setting changed.
    auto record = recordOf(camera->serialNumber());
    hvb::DeviceState::shared().updateRecord(record, [](hvb::DiskDriver_Parameter& r) { r.DeviceParam->LED() = 1; });
    hvb::writeBVConfigIni(record);
    EXPECT_EQ(readFile(volume / "SYSTEM" / "BVConfig.ini"), "-1110\n");
}

TEST_F(Volumes, TheFileIsNeverFollowedOutOfTheVolume) {
    TempDir root;
    auto volume = root.path() / "vol";
    std::filesystem::create_directories(volume / "SYSTEM");
    auto outside = root.path() / "outside.txt";
    { std::ofstream(outside) << "keep"; }
    std::filesystem::create_symlink(outside, volume / "SYSTEM" / "BVConfig.ini");
    BodyCameraOptions options;
    options.volumeFolder = volume;
    auto camera = makeCamera(profile("HW7360", "1.0.0"), options);
    ASSERT_TRUE(camera->attach(bus));
    startWatcher();
    ASSERT_EQ(hvb::DeviceState::shared().PlugInDeviceCnt.load(), 1);
    EXPECT_EQ(readFile(outside), "keep");
    EXPECT_TRUE(sawLine("to ini result: "));
}

TEST_F(Volumes, AFolderOnTheVolumeThatIsALinkIsRefused) {
    TempDir root;
    auto volume = root.path() / "vol";
    auto elsewhere = root.path() / "elsewhere";
    std::filesystem::create_directories(volume);
    std::filesystem::create_directories(elsewhere);
    std::filesystem::create_directory_symlink(elsewhere, volume / "SYSTEM");
    BodyCameraOptions options;
    options.volumeFolder = volume;
    auto camera = makeCamera(profile("HW7334", "1.0.0"), options);
    ASSERT_TRUE(camera->attach(bus));
    startWatcher();
    ASSERT_EQ(hvb::DeviceState::shared().PlugInDeviceCnt.load(), 1);
    EXPECT_FALSE(std::filesystem::exists(elsewhere / "BVConfig.ini"));
    EXPECT_TRUE(sawLine("to ini result: (" + (volume / "SYSTEM" / "BVConfig.ini").string() + ": "));
}

TEST_F(Volumes, AVolumeOnTheWholeDiskIsFoundOnTheSecondAttempt) {
    TempDir root;
    std::filesystem::create_directories(root.path() / "SYSTEM");
    BodyCameraOptions options;
    options.volumeFolder = root.path();
    options.volumeOnWholeDisk = true;
    auto camera = makeCamera(profile("HW7333", "1.0.0"), options);
    ASSERT_TRUE(camera->attach(bus));
    startWatcher();
    ASSERT_EQ(hvb::DeviceState::shared().PlugInDeviceCnt.load(), 1);
    auto location = hvb::DeviceInfoManager::shared().volumePath(camera->uid());
    ASSERT_TRUE(location.has_value());
    EXPECT_EQ(diskarb::pathFromFileURL(*location), root.path());
    EXPECT_EQ(hvb::DeviceState::shared().findModel(camera->serialNumber())->mountPoint(), "/dev/" + camera->bsdName());
    EXPECT_EQ(readFile(root.path() / "SYSTEM" / "BVConfig.ini"),
              hvb::bvConfigLine(*recordOf(camera->serialNumber())->DeviceParam) + "\n");
    EXPECT_FALSE(hvb::DeviceInfoManager::shared().volumePath("").has_value());
    EXPECT_FALSE(hvb::DeviceInfoManager::shared().volumePath("NOSUCHCAMERA").has_value());
}

TEST_F(Volumes, ALocationLongerThanTheBufferCountsAsNotFound) {
    TempDir root;
    auto longFolder = root.path() / std::string(100, 'v');
    std::filesystem::create_directories(longFolder);
    diskarb::attachSimulatedVolume("disk90s1", longFolder);
    char buffer[128];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(hvb::volumePathForBSDName("/dev/disk90s1", buffer));
    EXPECT_EQ(buffer[0], 'x');  // untouched
    diskarb::detachSimulatedVolume("disk90s1");

    diskarb::attachSimulatedVolume("disk91s1", root.path());
    ASSERT_TRUE(hvb::volumePathForBSDName("disk91s1", buffer));
    EXPECT_EQ(std::string(buffer), diskarb::fileURLForPath(root.path()));
    EXPECT_FALSE(hvb::volumePathForBSDName("disk92s1", buffer));
    diskarb::detachSimulatedVolume("disk91s1");
}

TEST_F(Volumes, TheRunnerMergesOutputAndKeepsArgumentsWhole) {
    auto result = hvb::Shell::shared().run({"/bin/sh", "-c", "echo out; echo err >&2; exit 3"});
    ASSERT_TRUE(result.output.has_value());
    EXPECT_NE(result.output->find("out"), std::string::npos);
    EXPECT_NE(result.output->find("err"), std::string::npos);
    EXPECT_EQ(result.status, 3);
    EXPECT_TRUE(sawLine("CMD Send: /bin/sh -c echo out;"));

    auto word = hvb::Shell::shared().run({"printf", "%s", "a b; $(id) `id`"});
    EXPECT_EQ(word.output, "a b; $(id) `id`");
    EXPECT_EQ(word.status, 0);

    auto binary = hvb::Shell::shared().run({"printf", "\\377\\376"});
    EXPECT_FALSE(binary.output.has_value());
    EXPECT_EQ(binary.status, 0);

    auto missing = hvb::Shell::shared().run({"/nonexistent/program"});
    EXPECT_NE(missing.status, 0);
}

TEST_F(Volumes, TheWatcherMountsAKnownVolumeThroughTheDiskutilStandIn) {
    TempDir root;
    BodyCameraOptions options;
    options.volumeFolder = root.path();
    auto camera = makeCamera(profile("HW7360", "1.0.0"), options);
    ASSERT_TRUE(camera->attach(bus));
    startWatcher();
    auto model = hvb::DeviceState::shared().findModel(camera->serialNumber());
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->mountPoint(), "/dev/" + camera->bsdName() + "s1");
    // Unmounted meanwhile: the next arrival of the camera mounts it again.
    auto out = hvb::Shell::shared().run({"diskutil", "umount", root.path().string()});
    EXPECT_EQ(out.status, 0) << out.output.value_or("");
    EXPECT_FALSE(diskarb::volumePath(camera->bsdName() + "s1").has_value());
    out = hvb::Shell::shared().run({"diskutil", "mount", "/dev/" + camera->bsdName() + "s1"});
    EXPECT_EQ(out.status, 0) << out.output.value_or("");
    EXPECT_EQ(diskarb::volumePath(camera->bsdName() + "s1"), root.path());
    model->isModeChanging = true;  // keep the model (and its mount point) across the re-plug
    // The mount above is logged too: the watcher's own makes the second line.
    const std::string mountLine = "CMD Send: diskutil mount /dev/" + camera->bsdName() + "s1";
    ASSERT_EQ(countLines(mountLine), 1u);
    camera->reboot(10);
    // Until the unplug is served the old bring-up still counts, so wait for the whole round.
    ASSERT_TRUE(runUntil([&] {
        return camera->attachCount() == 2 && sawLine("Teriminate event serial number = ") &&
               countLines(mountLine) == 2 && hvb::DeviceState::shared().PlugInDeviceCnt.load() == 1;
    }));
    EXPECT_EQ(diskarb::volumePath(camera->bsdName() + "s1"), root.path());
}
