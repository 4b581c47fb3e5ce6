#include "SCSIDriver/host/HostLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/foundation/Log.h"

namespace hvb::driverhost {

namespace fs = std::filesystem;

bool isCallTrace(std::string_view line) {
    if (line.starts_with("HIWORD_HIBYTE = ") || line.starts_with("sWrite argument = ")) return true;
    // "<registry name>[<address>]::<method>(...)"
    const size_t open = line.find('[');
    const size_t mark = line.find("]::");
    if (open == 0 || open == std::string_view::npos || mark == std::string_view::npos || open > mark ||
        line.substr(0, open).find(' ') != std::string_view::npos) {
        return false;
    }
    const std::string_view rest = line.substr(mark + 3);
    const size_t paren = rest.find('(');
    if (paren == std::string_view::npos) return false;
    static constexpr std::array<std::string_view, 11> kPerCall = {
        "initWithTask", "start",          "stop",  "terminate", "finalize",  "clientClose",
        "externalMethod", "openUserClient", "closeUserClient", "M37IO", "M37SyncIO"};
    const std::string_view method = rest.substr(0, paren);
    bool perCall = false;
    for (std::string_view m : kPerCall) perCall = perCall || m == method;
    if (!perCall) return false;
    // What follows "(): " tells how the call ended: a fault worth keeping, except the result that
    // every command logs.
    const size_t outcome = rest.find("(): ");
    return outcome == std::string_view::npos || rest.substr(outcome + 4).starts_with("service response: ");
}

HostLog::HostLog(bool debug, uint64_t limitBytes) : debug_(debug), limit_(limitBytes) {}

HostLog::~HostLog() {
    if (token_) foundation::removeLogSink(token_);
    std::lock_guard<std::mutex> guard(lock_);
    if (fd_ >= 0) ::close(fd_);
}

bool HostLog::open(const fs::path& path) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    FolderHandle folder(::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder && open(std::move(folder), path.filename().string());
}

bool HostLog::open(FolderHandle folder, const std::string& name) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        folder_ = std::move(folder);
        name_ = name;
        if (!openFileLocked()) return false;
    }
    token_ = foundation::addLogSink([this](foundation::LogChannel, const std::string& line) { write(line); });
    return true;
}

bool HostLog::openFileLocked() {
    // Never through a link: as root, a link planted in the log's folder would redirect it.
    fd_ = ::openat(folder_.get(), name_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0640);
    if (fd_ < 0) return false;
    struct stat st {};
    // Nor into a file another user owns, or one with a second name elsewhere.
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::geteuid()) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    // A log written before it was kept from other users.
    if ((st.st_mode & 0137) != 0) ::fchmod(fd_, st.st_mode & 0640);
    size_ = static_cast<uint64_t>(st.st_size);
    return true;
}

void HostLog::rotateLocked() {
    ::close(fd_);
    fd_ = -1;
    const std::string previous = name_ + ".1";
    // A rename moves the entry itself, links included; the new file is opened as before.
    const bool moved = ::renameat(folder_.get(), name_.c_str(), folder_.get(), previous.c_str()) == 0;
    if (!openFileLocked()) return;
    // Could not be moved aside: start it again rather than let it grow.
    if (!moved && ::ftruncate(fd_, 0) == 0) size_ = 0;
}

void HostLog::write(const std::string& line) {
    if (!debug_ && isCallTrace(line)) return;
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char millisText[8];
    std::snprintf(millisText, sizeof millisText, ".%03d ", static_cast<int>(millis));
    const std::string entry = std::string(stamp) + millisText + line + "\n";

    std::lock_guard<std::mutex> guard(lock_);
    if (fd_ < 0) return;
    if (size_ > 0 && size_ + entry.size() > limit_) {
        rotateLocked();
        if (fd_ < 0) return;
    }
    // One write per line: the file is opened for appending, so lines never mix.
    const ssize_t written = ::write(fd_, entry.data(), entry.size());
    if (written > 0) size_ += static_cast<uint64_t>(written);
}

}  // namespace hvb::driverhost
