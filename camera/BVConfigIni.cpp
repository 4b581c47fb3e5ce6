#include "camera/BVConfigIni.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "camera/DeviceInfoManager.h"
#include "camera/DeviceState.h"
#include "platform/diskarb/DiskArbitration.h"
#include "platform/foundation/Log.h"

namespace hvb {

namespace {

// Replaces the content of <volume>/SYSTEM/BVConfig.ini with `text`. The folder and the file are
// opened one component at a time from the volume's root and never followed as links: a
// volume's content must not send the write elsewhere.
std::pair<std::string, int> replaceFile(const std::filesystem::path& volume, const std::string& text) {
    const std::filesystem::path file = volume / "SYSTEM" / "BVConfig.ini";
    auto failure = [&](int error) { return std::pair<std::string, int>{file.string() + ": " + std::strerror(error), 1}; };
    const int root = ::open(volume.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) return failure(errno);
    const int folder = ::openat(root, "SYSTEM", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int error = errno;
    ::close(root);
    if (folder < 0) return failure(error);
    const int fd = ::openat(folder, "BVConfig.ini", O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    error = errno;
    ::close(folder);
    if (fd < 0) return failure(error);
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            ::close(fd);
            return failure(error);
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) return failure(errno);
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
