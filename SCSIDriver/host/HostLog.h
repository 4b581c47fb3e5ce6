#pragma once
// The driver host's own log: every line of the process with its time. When the file reaches its
// limit it is moved aside to "<name>.1" (replacing the one before), so the host never keeps
// more than about twice the limit, however long it serves. It tells camera serials, USB paths
// and peers: readable by its owner and its group only (0640).
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include "SCSIDriver/host/HostFolders.h"

namespace hvb::driverhost {

// One of the lines the driver and its user client write for every command or connection (a
// status poll writes several): written at the debug level only. Lines that tell of a fault (an
// assertion, a refused close, a failed terminate), a client that died and a camera that left
// are not among them.
bool isCallTrace(std::string_view line);

class HostLog {
public:
    static constexpr uint64_t kDefaultLimitBytes = 1u << 20;

    // `debug`: the call trace is written too.
    explicit HostLog(bool debug = false, uint64_t limitBytes = kDefaultLimitBytes);
    ~HostLog();
    HostLog(const HostLog&) = delete;
    HostLog& operator=(const HostLog&) = delete;

    // Opens (never through a link) and takes every log line from now on. The file must be a
    // plain file of this user's with no other name; the folder is opened once and the file is
    // always found through it, so the path may change afterwards without moving the log.
    bool open(const std::filesystem::path& path);
    // The same for the file `name` in an open folder.
    bool open(FolderHandle folder, const std::string& name);

private:
    void write(const std::string& line);
    bool openFileLocked();
    void rotateLocked();

    const bool debug_;
    const uint64_t limit_;
    FolderHandle folder_;
    std::string name_;
    std::mutex lock_;
    int fd_ = -1;
    uint64_t size_ = 0;
    int token_ = 0;
};

}  // namespace hvb::driverhost
