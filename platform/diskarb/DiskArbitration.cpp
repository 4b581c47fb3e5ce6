#include "platform/diskarb/DiskArbitration.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "platform/foundation/Paths.h"
#include "platform/foundation/Process.h"

namespace fs = std::filesystem;

namespace diskarb {

namespace {

constexpr std::string_view kUnmountedSuffix = ".unmounted";

std::mutex& lock() {
    static std::mutex m;
    return m;
}

std::map<std::string, std::string>& aliases() {
    static auto* a = new std::map<std::string, std::string>;  // read by workers: never destroyed
    return *a;
}

bool allDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Plain names only: a BSD name never holds a path separator or a dot-name.
bool plainName(std::string_view name) {
    return !name.empty() && name.find('/') == std::string_view::npos && name != "." && name != ".." &&
           name.find('\0') == std::string_view::npos;
}

std::string partitionName(const std::string& disk, std::string_view number) {
    bool endsWithDigit = !disk.empty() && disk.back() >= '0' && disk.back() <= '9';
    return disk + (endsWithDigit ? "p" : "") + std::string(number);
}

bool blockDeviceExists(const std::string& disk) {
    std::error_code ec;
    return plainName(disk) && fs::exists(fs::path("/sys/block") / disk, ec);
}

std::string decodeMountInfoField(std::string_view field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            auto octal = field.substr(i + 1, 3);
            bool ok = octal.size() == 3;
            for (char c : octal) ok = ok && c >= '0' && c <= '7';
            if (ok) {
                out.push_back(static_cast<char>((octal[0] - '0') * 64 + (octal[1] - '0') * 8 + (octal[2] - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::optional<fs::path> simulatedLookup(std::string_view name) {
    if (!plainName(name)) return std::nullopt;
    const char* table = std::getenv("HVB_SIMULATED_DISKS");
    if (!table || !*table) return std::nullopt;
    std::error_code ec;
    fs::path link = fs::path(table) / std::string(name);
    if (!fs::is_symlink(link, ec)) return std::nullopt;
    fs::path target = fs::read_symlink(link, ec);
    if (ec) return std::nullopt;
    return target;
}

bool simulatedKnown(std::string_view name, fs::path* folder, bool* mounted) {
    if (!plainName(name)) return false;
    const char* table = std::getenv("HVB_SIMULATED_DISKS");
    if (!table || !*table) return false;
    std::error_code ec;
    for (bool on : {true, false}) {
        fs::path link = fs::path(table) / (std::string(name) + (on ? "" : std::string(kUnmountedSuffix)));
        if (fs::is_symlink(link, ec)) {
            if (folder) *folder = fs::read_symlink(link, ec);
            if (mounted) *mounted = on;
            return true;
        }
    }
    return false;
}

// The simulated disk whose mounted folder is `folder`.
std::optional<std::string> simulatedDiskAt(const fs::path& folder) {
    const char* table = std::getenv("HVB_SIMULATED_DISKS");
    if (!table || !*table) return std::nullopt;
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(table, ec)) {
        std::string name = item.path().filename().string();
        if (name.size() > kUnmountedSuffix.size() &&
            name.compare(name.size() - kUnmountedSuffix.size(), kUnmountedSuffix.size(), kUnmountedSuffix) == 0)
            continue;
        std::error_code ec2;
        if (!fs::is_symlink(item.path(), ec2)) continue;
        if (fs::read_symlink(item.path(), ec2) == folder) return name;
    }
    return std::nullopt;
}

bool programAvailable(const std::string& name) {
    std::string path = foundation::paths::env("PATH", "/usr/bin:/bin");
    size_t start = 0;
    while (start <= path.size()) {
        size_t colon = path.find(':', start);
        std::string dir = path.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!dir.empty() && ::access((fs::path(dir) / name).c_str(), X_OK) == 0) return true;
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return false;
}

Outcome runOutcome(const std::vector<std::string>& argv) {
    foundation::ProcessOptions options;
    options.mergeStandardError = true;
    options.timeoutMs = 60000;
    auto result = foundation::runProcess(argv, options);
    if (!result.launched) return {false, result.error};
    return {result.exitStatus == 0, result.standardOutput};
}

}  // namespace

std::string_view withoutDevPrefix(std::string_view nameOrNode) {
    constexpr std::string_view dev = "/dev/";
    if (nameOrNode.substr(0, dev.size()) == dev) nameOrNode.remove_prefix(dev.size());
    return nameOrNode;
}

std::string linuxNodeName(std::string_view bsdName) {
    std::string name(withoutDevPrefix(bsdName));
    // "<disk>s<n>": a slice of a disk.
    size_t s = name.rfind('s');
    std::string disk = name, number;
    if (s != std::string::npos && s > 0 && allDigits(std::string_view(name).substr(s + 1))) {
        disk = name.substr(0, s);
        number = name.substr(s + 1);
    }
    {
        std::lock_guard<std::mutex> guard(lock());
        auto it = aliases().find(disk);
        if (it != aliases().end()) return number.empty() ? it->second : partitionName(it->second, number);
    }
    if (!number.empty() && blockDeviceExists(disk)) return partitionName(disk, number);
    return name;
}

void setDiskAlias(const std::string& bsdDisk, const std::string& linuxDisk) {
    std::lock_guard<std::mutex> guard(lock());
    aliases()[bsdDisk] = linuxDisk;
}

void removeDiskAlias(const std::string& bsdDisk) {
    std::lock_guard<std::mutex> guard(lock());
    aliases().erase(bsdDisk);
}

std::optional<MountInfoLine> parseMountInfoLine(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (start < line.size()) {
        size_t space = line.find(' ', start);
        if (space == std::string_view::npos) space = line.size();
        if (space > start) fields.push_back(line.substr(start, space - start));
        start = space + 1;
    }
    // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
    size_t dash = 0;
    for (size_t i = 6; i < fields.size(); ++i) {
        if (fields[i] == "-") {
            dash = i;
            break;
        }
    }
    if (fields.size() < 10 || dash == 0 || dash + 2 >= fields.size()) return std::nullopt;
    return MountInfoLine{decodeMountInfoField(fields[dash + 2]), decodeMountInfoField(fields[4])};
}

std::optional<fs::path> mountPointOfNode(const std::string& devicePath) {
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    std::error_code ec;
    fs::path wanted = fs::weakly_canonical(devicePath, ec);
    if (ec) wanted = devicePath;
    while (std::getline(in, line)) {
        auto parsed = parseMountInfoLine(line);
        if (!parsed || parsed->source.empty() || parsed->source[0] != '/') continue;
        std::error_code ec2;
        fs::path source = fs::weakly_canonical(parsed->source, ec2);
        if (ec2) source = parsed->source;
        if (source == wanted) return fs::path(parsed->mountPoint);
    }
    return std::nullopt;
}

std::optional<std::string> nodeMountedAt(const fs::path& folder) {
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    std::optional<std::string> found;
    while (std::getline(in, line)) {
        auto parsed = parseMountInfoLine(line);
        if (parsed && fs::path(parsed->mountPoint) == folder && !parsed->source.empty() && parsed->source[0] == '/')
            found = parsed->source;  // the last mount on a folder is the visible one
    }
    return found;
}

std::optional<fs::path> volumePath(std::string_view bsdNameOrNode) {
    std::string_view name = withoutDevPrefix(bsdNameOrNode);
    if (!plainName(name)) return std::nullopt;
    if (auto simulated = simulatedLookup(name)) return simulated;
    return mountPointOfNode("/dev/" + linuxNodeName(name));
}

std::optional<std::string> volumeURL(std::string_view bsdNameOrNode) {
    auto path = volumePath(bsdNameOrNode);
    if (!path) return std::nullopt;
    return fileURLForPath(*path);
}

std::string fileURLForPath(const fs::path& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string out = "file://";
    for (unsigned char c : path.string()) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    if (out.back() != '/') out.push_back('/');
    return out;
}

std::optional<fs::path> pathFromFileURL(std::string_view url) {
    constexpr std::string_view scheme = "file://";
    if (url.substr(0, scheme.size()) != scheme) return std::nullopt;
    url.remove_prefix(scheme.size());
    // An authority, when present, must be empty or "localhost".
    if (url.substr(0, 9) == "localhost") url.remove_prefix(9);
    if (url.empty() || url[0] != '/') return std::nullopt;
    auto hexValue = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < url.size(); ++i) {
        if (url[i] == '%') {
            if (i + 2 >= url.size()) return std::nullopt;
            int hi = hexValue(url[i + 1]), lo = hexValue(url[i + 2]);
            if (hi < 0 || lo < 0) return std::nullopt;
            char c = static_cast<char>(hi * 16 + lo);
            if (c == '\0') return std::nullopt;
            out.push_back(c);
            i += 2;
        } else if (url[i] == '?' || url[i] == '#') {
            break;
        } else {
            out.push_back(url[i]);
        }
    }
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return fs::path(out);
}

fs::path simulatedDiskTable() {
    std::lock_guard<std::mutex> guard(lock());
    const char* table = std::getenv("HVB_SIMULATED_DISKS");
    if (table && *table) {
        std::error_code ec;
        fs::create_directories(table, ec);
        return table;
    }
    std::string pattern = (fs::temp_directory_path() / "hvb-simulated-disks-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) return {};
    ::setenv("HVB_SIMULATED_DISKS", buffer.data(), 1);  // children see the same table
    // A table this process made goes when the process ends.
    static struct Remover {
        fs::path folder;
        ~Remover() {
            std::error_code ec;
            if (!folder.empty()) fs::remove_all(folder, ec);
        }
    } remover;
    remover.folder = buffer.data();
    return fs::path(buffer.data());
}

void attachSimulatedVolume(const std::string& bsdName, const fs::path& folder) {
    if (!plainName(bsdName)) return;
    fs::path table = simulatedDiskTable();
    if (table.empty()) return;
    std::error_code ec;
    fs::remove(table / (bsdName + std::string(kUnmountedSuffix)), ec);
    fs::remove(table / bsdName, ec);
    fs::create_directory_symlink(folder, table / bsdName, ec);
}

void detachSimulatedVolume(const std::string& bsdName) {
    if (!plainName(bsdName)) return;
    const char* table = std::getenv("HVB_SIMULATED_DISKS");
    if (!table || !*table) return;
    std::error_code ec;
    fs::remove(fs::path(table) / bsdName, ec);
    fs::remove(fs::path(table) / (bsdName + std::string(kUnmountedSuffix)), ec);
}

Outcome mount(std::string_view target) {
    std::string_view name = withoutDevPrefix(target);
    std::error_code ec;
    if (!target.empty() && target[0] == '/' && target.substr(0, 5) != "/dev/") {
        // A folder: already a volume when something is mounted there.
        fs::path folder(target);
        if (simulatedDiskAt(folder) || nodeMountedAt(folder))
            return {true, "Volume already mounted at " + folder.string()};
        return {false, "Unable to find disk for " + folder.string()};
    }
    if (!plainName(name)) return {false, "Unable to find disk for " + std::string(target)};
    fs::path folder;
    bool mounted = false;
    if (simulatedKnown(name, &folder, &mounted)) {
        if (!mounted) {
            const fs::path table = std::getenv("HVB_SIMULATED_DISKS");
            fs::rename(table / (std::string(name) + std::string(kUnmountedSuffix)), table / std::string(name), ec);
            if (ec) return {false, "Volume on " + std::string(name) + " failed to mount"};
        }
        return {true, "Volume mounted at " + folder.string()};
    }
    std::string node = "/dev/" + linuxNodeName(name);
    if (auto at = mountPointOfNode(node)) return {true, "Volume already mounted at " + at->string()};
    if (!fs::exists(node, ec)) return {false, "Unable to find disk for " + std::string(target)};
    if (!programAvailable("udisksctl")) return {false, "Volume on " + node + " failed to mount: no udisksctl"};
    return runOutcome({"udisksctl", "mount", "--no-user-interaction", "-b", node});
}

Outcome unmount(std::string_view target) {
    std::string_view name = withoutDevPrefix(target);
    std::error_code ec;
    std::string node;
    if (!target.empty() && target[0] == '/' && target.substr(0, 5) != "/dev/") {
        fs::path folder(target);
        if (auto simulated = simulatedDiskAt(folder)) {
            const fs::path table = std::getenv("HVB_SIMULATED_DISKS");
            fs::rename(table / *simulated, table / (*simulated + std::string(kUnmountedSuffix)), ec);
            if (ec) return {false, "Failed to unmount " + folder.string()};
            return {true, "Volume unmounted"};
        }
        auto source = nodeMountedAt(folder);
        if (!source) return {false, "Unable to find disk for " + folder.string()};
        node = *source;
    } else {
        if (!plainName(name)) return {false, "Unable to find disk for " + std::string(target)};
        fs::path folder;
        bool mounted = false;
        if (simulatedKnown(name, &folder, &mounted)) {
            if (mounted) {
                const fs::path table = std::getenv("HVB_SIMULATED_DISKS");
                fs::rename(table / std::string(name), table / (std::string(name) + std::string(kUnmountedSuffix)), ec);
                if (ec) return {false, "Failed to unmount " + std::string(name)};
            }
            return {true, "Volume unmounted"};
        }
        node = "/dev/" + linuxNodeName(name);
        if (!mountPointOfNode(node)) return {false, "Volume on " + node + " is not mounted"};
    }
    if (programAvailable("udisksctl"))
        return runOutcome({"udisksctl", "unmount", "--no-user-interaction", "-b", node});
    return runOutcome({"umount", node});
}

}  // namespace diskarb
