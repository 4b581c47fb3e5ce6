#pragma once
// Disks and their volumes: where a disk named by its BSD name is mounted, and mounting or
// unmounting it. The system names disks the BSD way ("disk4", "disk4s1" for its first slice);
// the Linux node behind such a name ("sdb", "sdb1") is worked out here. Simulated cameras
// register their volume folders here under their BSD names; the table lives in a folder named
// by HVB_SIMULATED_DISKS so that helper programs see the same volumes.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace diskarb {

// "/dev/disk4s1" -> "disk4s1".
std::string_view withoutDevPrefix(std::string_view nameOrNode);

// The Linux node name for a BSD-style name: "disk4s1" -> "sdb1" when "disk4" is known as "sdb";
// "sdbs1" -> "sdb1" and "nvme0n1s1" -> "nvme0n1p1" for disks present on this machine; any other
// name unchanged.
std::string linuxNodeName(std::string_view bsdName);
void setDiskAlias(const std::string& bsdDisk, const std::string& linuxDisk);
void removeDiskAlias(const std::string& bsdDisk);

// The folder at which the disk's volume is mounted; none when it is not mounted.
std::optional<std::filesystem::path> volumePath(std::string_view bsdNameOrNode);
// The same as a file URL ("file:///media/user/NAME/", percent-encoded, with a trailing "/").
std::optional<std::string> volumeURL(std::string_view bsdNameOrNode);

std::string fileURLForPath(const std::filesystem::path& path);
// The path of a "file://" URL with its percent escapes decoded and a trailing "/" dropped; none
// for anything else (or an escape that decodes to a zero byte).
std::optional<std::filesystem::path> pathFromFileURL(std::string_view url);

// ---- simulated volumes ----
// The volume folder of a simulated disk, mounted from now on.
void attachSimulatedVolume(const std::string& bsdName, const std::filesystem::path& folder);
// The simulated disk leaves (mounted or not).
void detachSimulatedVolume(const std::string& bsdName);
std::filesystem::path simulatedDiskTable();

// ---- mount and unmount ----
struct Outcome {
    bool ok = false;
    std::string message;  // what the command says to its user
};
// A BSD name, a device node or a volume folder.
Outcome mount(std::string_view target);
Outcome unmount(std::string_view target);

// Mount points of /proc/self/mountinfo by source node ("/dev/sdb1" -> folder); escapes decoded.
std::optional<std::filesystem::path> mountPointOfNode(const std::string& devicePath);
std::optional<std::string> nodeMountedAt(const std::filesystem::path& folder);
// One mountinfo line's source and mount point; none when the line is malformed.
struct MountInfoLine {
    std::string source;
    std::string mountPoint;
};
std::optional<MountInfoLine> parseMountInfoLine(std::string_view line);

}  // namespace diskarb
