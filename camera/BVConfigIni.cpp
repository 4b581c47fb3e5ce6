#include "camera/BVConfigIni.h"

#include <cstring>

#include "camera/DeviceInfoManager.h"
#include "camera/DeviceState.h"
#include "platform/diskarb/DiskArbitration.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PinnedFolder.h"

namespace hvb {

namespace {

// Replaces the content of <volume>/SYSTEM/BVConfig.ini with `text`. The volume's root, the
// folder and the file are opened one component at a time and never followed as links: a
// volume's content must not send the write elsewhere.
std::pair<std::string, int> replaceFile(const std::filesystem::path& volume, const std::string& text) {
    const std::filesystem::path file = volume / "SYSTEM" / "BVConfig.ini";
    std::error_code ec;
    const auto root = foundation::PinnedFolder::open(volume, ec);
    if (!ec) {
        const auto folder = root.folder("SYSTEM", ec);
        if (!ec) {
            auto fd = folder.createFile("BVConfig.ini", 0644, ec);
            if (!ec) ec = foundation::writeAll(fd.get(), text);
            if (const auto closed = fd.close(); !ec) ec = closed;
        }
    }
    if (ec) return {file.string() + ": " + std::strerror(ec.value()), 1};
    return {"", 0};
}

}  // namespace

std::string bvConfigLine(const sDeviceParam& s) {
    return std::to_string(s.STEALTH()) + std::to_string(s.LED()) + std::to_string(s.BUZZERSWITCH()) +
           std::to_string(s.VIBRATOR());
}

bool modelUsesBVConfig(const std::string& model) {
    return model.find("7333") != std::string::npos || model.find("7334") != std::string::npos ||
           model.find("7360") != std::string::npos;
}

void writeBVConfigIni(const DeviceRecord& record) {
    if (!record) return;
    struct Snapshot {
        std::string model;
        std::optional<std::string> uid;
        std::optional<sDeviceParam> settings;
    };
    Snapshot snap = DeviceState::shared().readRecord(record, [](const DiskDriver_Parameter& r) {
        Snapshot s{r.ModelName.value_or(""), r.UID, std::nullopt};
        if (r.DeviceParam) s.settings = *r.DeviceParam;
        return s;
    });
    if (!modelUsesBVConfig(snap.model)) return;
    if (!snap.settings || !snap.uid) return;
    auto location = DeviceInfoManager::shared().mountPoint(*snap.uid);
    if (!location) return;
    auto path = diskarb::pathFromFileURL(*location);
    if (!path) return;
    std::string line = bvConfigLine(*snap.settings);
    auto [output, status] = replaceFile(*path, line + "\n");
    foundation::systemLog("Set " + line + " to ini result: (" + output + ", " + std::to_string(status) + ")");
}

}  // namespace hvb
