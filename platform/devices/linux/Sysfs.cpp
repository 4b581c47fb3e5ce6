#include "platform/devices/linux/Sysfs.h"

#include <algorithm>
#include <fstream>

namespace devices {

namespace fs = std::filesystem;

namespace {

std::optional<uint32_t> parseHex16(const std::optional<std::string>& text) {
    if (!text || text->empty() || text->size() > 4) return std::nullopt;
    uint32_t value = 0;
    for (char c : *text) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return std::nullopt;
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return value;
}

std::optional<uint32_t> parseDecimal(const std::optional<std::string>& text) {
    if (!text || text->empty() || text->size() > 9) return std::nullopt;
    uint32_t value = 0;
    for (char c : *text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value;
}

bool isDirectory(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(fs::symlink_status(path, ec)) && !ec;
}

std::vector<std::string> childDirectories(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        // sysfs class links (block/sdb) may be symlinks to the real folder.
        std::error_code statError;
        if (fs::is_directory(it->path(), statError)) names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::optional<std::string> readAttribute(const fs::path& dir, const char* name, size_t limit) {
    std::ifstream in(dir / name, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(limit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<size_t>(in.gcount()));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
    return text;
}

uint32_t makeLocationID(uint32_t busNumber, const std::string& portPath) {
    uint32_t location = (busNumber & 0xFF) << 24;
    int shift = 20;
    size_t start = 0;
    while (start <= portPath.size() && shift >= 0) {
        size_t end = portPath.find('.', start);
        std::string part = portPath.substr(start, end == std::string::npos ? std::string::npos : end - start);
        auto port = parseDecimal(part);
        if (!port) break;
        location |= (std::min<uint32_t>(*port, 15) & 0xF) << shift;
        shift -= 4;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return location;
}

std::optional<UsbDeviceInfo> readUsbDevice(const fs::path& sysPath) {
    auto vendor = parseHex16(readAttribute(sysPath, "idVendor"));
    auto product = parseHex16(readAttribute(sysPath, "idProduct"));
    if (!vendor || !product) return std::nullopt;
    UsbDeviceInfo info;
    info.sysPath = sysPath;
    info.vendorID = static_cast<uint16_t>(*vendor);
    info.productID = static_cast<uint16_t>(*product);
    info.serialNumber = readAttribute(sysPath, "serial").value_or("");
    info.productName = readAttribute(sysPath, "product").value_or("");
    info.vendorName = readAttribute(sysPath, "manufacturer").value_or("");
    info.busNumber = parseDecimal(readAttribute(sysPath, "busnum")).value_or(0);
    info.portPath = readAttribute(sysPath, "devpath").value_or("");
    info.locationID = makeLocationID(info.busNumber, info.portPath);
    return info;
}

std::optional<ScsiNodes> findScsiNodes(const fs::path& usbSysPath) {
    // Below the device: interface / hostN / targetN:C:T / H:C:T:L / scsi_generic / sgN. The
    // walk never follows links (sysfs links lead back up the tree) and stays shallow.
    std::error_code ec;
    fs::recursive_directory_iterator it(usbSysPath, fs::directory_options::skip_permission_denied, ec), end;
    std::vector<fs::path> candidates;
    for (; !ec && it != end; it.increment(ec)) {
        if (it.depth() > 6) {
            it.disable_recursion_pending();
            continue;
        }
        if (it->path().filename() == "scsi_generic" && isDirectory(it->path())) {
            candidates.push_back(it->path().parent_path());
            it.disable_recursion_pending();
        }
    }
    std::sort(candidates.begin(), candidates.end());
    for (const fs::path& scsiDevice : candidates) {
        auto generic = childDirectories(scsiDevice / "scsi_generic");
        if (generic.empty()) continue;
        // The camera's storage is a direct-access LUN; a device may carry others (a CD-ROM
        // first), which answer no vendor command.
        auto type = parseDecimal(readAttribute(scsiDevice, "type"));
        if (!type || *type != 0) continue;
        ScsiNodes nodes;
        nodes.scsiDeviceDir = scsiDevice;
        nodes.genericName = generic.front();
        nodes.peripheralType = static_cast<int>(*type);
        return nodes;
    }
    return std::nullopt;
}

std::vector<std::string> blockDeviceNames(const fs::path& scsiDeviceDir) {
    std::vector<std::string> names;
    for (const std::string& disk : childDirectories(scsiDeviceDir / "block")) {
        names.push_back(disk);
        for (const std::string& child : childDirectories(scsiDeviceDir / "block" / disk)) {
            if (readAttribute(scsiDeviceDir / "block" / disk / child, "partition")) names.push_back(child);
        }
        break;  // one disk per SCSI device
    }
    return names;
}

std::optional<fs::path> usbDeviceAncestor(const fs::path& path, const fs::path& sysRoot) {
    fs::path current = path.lexically_normal();
    fs::path root = sysRoot.lexically_normal();
    for (int depth = 0; depth < 32 && !current.empty(); ++depth) {
        if (readAttribute(current, "idVendor", 8) && readAttribute(current, "idProduct", 8)) return current;
        if (current == root || current == current.parent_path()) break;
        current = current.parent_path();
    }
    return std::nullopt;
}

}  // namespace devices
