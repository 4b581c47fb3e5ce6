// Disks and volumes: BSD names to Linux nodes, mountinfo lines, file URLs both ways, simulated
// volumes, and the diskutil stand-in run as a program with one argument per target.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/diskarb/DiskArbitration.h"
#include "platform/foundation/Process.h"

namespace fs = std::filesystem;

namespace {
struct Folder {
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "hvb-diskarb-XXXXXX").string();
        std::vector<char> b(pattern.begin(), pattern.end());
        b.push_back('\0');
        path = ::mkdtemp(b.data());
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};
}  // namespace

TEST(DiskNames, BSDSlicesBecomeLinuxPartitions) {
    diskarb::setDiskAlias("disk4", "sdb");
    diskarb::setDiskAlias("disk5", "nvme0n1");
    EXPECT_EQ(diskarb::linuxNodeName("disk4"), "sdb");
    EXPECT_EQ(diskarb::linuxNodeName("disk4s1"), "sdb1");
    EXPECT_EQ(diskarb::linuxNodeName("/dev/disk4s2"), "sdb2");
    EXPECT_EQ(diskarb::linuxNodeName("disk5s1"), "nvme0n1p1");
    EXPECT_EQ(diskarb::linuxNodeName("disk6s1"), "disk6s1");  // unknown: unchanged
    EXPECT_EQ(diskarb::linuxNodeName("sdb1"), "sdb1");
    diskarb::removeDiskAlias("disk4");
    EXPECT_EQ(diskarb::linuxNodeName("disk4s1"), "disk4s1");
    diskarb::removeDiskAlias("disk5");
    EXPECT_EQ(diskarb::withoutDevPrefix("/dev/disk4s1"), "disk4s1");
}

TEST(MountInfo, LinesAreParsedWithTheirEscapes) {
    auto line = diskarb::parseMountInfoLine(
        "36 35 8:17 / /media/me/CAM\\040ONE rw,noatime shared:1 - vfat /dev/sdb1 rw,uid=1000");
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->source, "/dev/sdb1");
    EXPECT_EQ(line->mountPoint, "/media/me/CAM ONE");
    auto noOptional = diskarb::parseMountInfoLine("1 0 8:1 / / rw - ext4 /dev/sda1 rw");
    ASSERT_TRUE(noOptional.has_value());
    EXPECT_EQ(noOptional->mountPoint, "/");
    EXPECT_FALSE(diskarb::parseMountInfoLine("garbage").has_value());
    EXPECT_FALSE(diskarb::parseMountInfoLine("1 2 3 4 5 6 7 8 9 10").has_value());  // no separator
    EXPECT_FALSE(diskarb::parseMountInfoLine("").has_value());
    auto dangling = diskarb::parseMountInfoLine("36 35 8:17 / /m\\04 rw - vfat /dev/x\\ rw");
    ASSERT_TRUE(dangling.has_value());
    EXPECT_EQ(dangling->mountPoint, "/m\\04");
}

TEST(FileURLs, PathsSurviveTheRoundTrip) {
    fs::path odd = "/media/me/Cam 1 \"q\" 'x' $HOME ;rm `id` 100%/Ä";
    std::string url = diskarb::fileURLForPath(odd);
    EXPECT_EQ(url.substr(0, 8), "file:///");
    EXPECT_EQ(url.back(), '/');
    EXPECT_EQ(url.find(' '), std::string::npos);
    EXPECT_EQ(diskarb::pathFromFileURL(url), odd);
    EXPECT_EQ(diskarb::pathFromFileURL("file:///Volumes/NO%20NAME/"), fs::path("/Volumes/NO NAME"));
    EXPECT_EQ(diskarb::pathFromFileURL("file://localhost/a"), fs::path("/a"));
    EXPECT_FALSE(diskarb::pathFromFileURL("http://x/a").has_value());
    EXPECT_FALSE(diskarb::pathFromFileURL("file:///a%2").has_value());
    EXPECT_FALSE(diskarb::pathFromFileURL("file:///a%zz").has_value());
    EXPECT_FALSE(diskarb::pathFromFileURL("file:///a%00b").has_value());
    EXPECT_FALSE(diskarb::pathFromFileURL("file://host/a").has_value());
    EXPECT_FALSE(diskarb::pathFromFileURL("").has_value());
}

TEST(SimulatedVolumes, AttachedVolumesAreMountedUntilTheyLeave) {
    Folder folder;
    diskarb::attachSimulatedVolume("disk40s1", folder.path);
    EXPECT_EQ(diskarb::volumePath("/dev/disk40s1"), folder.path);
    EXPECT_EQ(diskarb::volumeURL("disk40s1"), diskarb::fileURLForPath(folder.path));
    EXPECT_FALSE(diskarb::volumePath("disk40").has_value());
    EXPECT_FALSE(diskarb::volumePath("../disk40s1").has_value());
    EXPECT_FALSE(diskarb::volumePath("").has_value());

    auto out = diskarb::unmount(folder.path.string());
    EXPECT_TRUE(out.ok) << out.message;
    EXPECT_FALSE(diskarb::volumePath("disk40s1").has_value());
    out = diskarb::mount("/dev/disk40s1");
    EXPECT_TRUE(out.ok) << out.message;
    EXPECT_EQ(diskarb::volumePath("disk40s1"), folder.path);
    out = diskarb::unmount("disk40s1");
    EXPECT_TRUE(out.ok);
    EXPECT_FALSE(diskarb::volumePath("disk40s1").has_value());
    diskarb::detachSimulatedVolume("disk40s1");
    EXPECT_FALSE(diskarb::mount("disk40s1").ok);
    EXPECT_FALSE(diskarb::mount("../../etc").ok);
    EXPECT_FALSE(diskarb::unmount("/no/such/folder").ok);
}

TEST(DiskutilStandIn, TakesEachTargetAsOneArgument) {
    Folder folder;
    auto volume = folder.path / "Vol $(id) ; x";
    fs::create_directories(volume);
    diskarb::attachSimulatedVolume("disk41s1", volume);  // also names the table for the child
    auto run = [](std::vector<std::string> args) {
        args.insert(args.begin(), HVB_DISKUTIL_PATH);
        foundation::ProcessOptions options;
        options.mergeStandardError = true;
        return foundation::runProcess(args, options);
    };
    auto result = run({"umount", volume.string()});
    EXPECT_EQ(result.exitStatus, 0) << result.standardOutput;
    EXPECT_FALSE(diskarb::volumePath("disk41s1").has_value());
    result = run({"mount", "/dev/disk41s1"});
    EXPECT_EQ(result.exitStatus, 0) << result.standardOutput;
    EXPECT_EQ(diskarb::volumePath("disk41s1"), volume);
    EXPECT_NE(run({"mount"}).exitStatus, 0);
    EXPECT_NE(run({"erase", "disk41s1"}).exitStatus, 0);
    EXPECT_NE(run({"mount", "/dev/disk99s9"}).exitStatus, 0);
    diskarb::detachSimulatedVolume("disk41s1");
}

TEST(RealDisks, AMountedFileSystemIsFoundThroughMountInfo) {
    // Whatever is mounted at "/" on this machine is found by its source node.
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        auto parsed = diskarb::parseMountInfoLine(line);
        if (!parsed || parsed->source.rfind("/dev/", 0) != 0 || !fs::exists(parsed->source)) continue;
        auto found = diskarb::mountPointOfNode(parsed->source);
        ASSERT_TRUE(found.has_value()) << parsed->source;
        EXPECT_EQ(diskarb::nodeMountedAt(*found).has_value(), true);
        return;
    }
    GTEST_SKIP() << "no block device is mounted here";
}
