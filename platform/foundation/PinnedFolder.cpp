#include "platform/foundation/PinnedFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace foundation {
namespace {

std::error_code lastError() { return std::error_code(errno, std::generic_category()); }

bool isOneComponent(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

}  // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
}

std::error_code FileDescriptor::close() {
    if (fd_ < 0) return {};
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? std::error_code() : lastError();
}

PinnedFolder PinnedFolder::open(const std::filesystem::path& path, std::error_code& ec) {
    PinnedFolder folder;
    ec.clear();
    if (path.empty()) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return folder;
    }
    folder.fd_ = FileDescriptor(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.fd_) ec = lastError();
    return folder;
}

PinnedFolder PinnedFolder::folder(const std::string& name, std::error_code& ec) const {
    PinnedFolder inner;
    ec.clear();
    if (!isOneComponent(name)) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return inner;
    }
    inner.fd_ = FileDescriptor(::openat(fd_.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!inner.fd_) ec = lastError();
    return inner;
}

FileDescriptor PinnedFolder::createFile(const std::string& name, mode_t mode, std::error_code& ec) const {
    ec.clear();
    if (!isOneComponent(name)) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return {};
    }
    // Not truncated at open: a second name of the file would make it a file elsewhere. A pipe
    // without a reader fails at once instead of blocking.
    FileDescriptor fd(::openat(fd_.get(), name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode));
    if (!fd) {
        ec = lastError();
        return {};
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        ec = lastError();
        return {};
    }
    if (!S_ISREG(st.st_mode)) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return {};
    }
    if (st.st_nlink != 1) {
        ec = std::make_error_code(std::errc::too_many_links);
        return {};
    }
    if (::ftruncate(fd.get(), 0) != 0) {
        ec = lastError();
        return {};
    }
    return fd;
}

FileDescriptor PinnedFolder::openForReading(const std::string& name, std::error_code& ec) const {
    ec.clear();
    if (!isOneComponent(name)) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return {};
    }
    FileDescriptor fd(::openat(fd_.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) ec = lastError();
    return fd;
}

void PinnedFolder::rename(const std::string& from, const std::string& to, std::error_code& ec) const {
    ec.clear();
    if (!isOneComponent(from) || !isOneComponent(to)) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return;
    }
    struct stat st {};
    if (::fstatat(fd_.get(), to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
        ec = std::make_error_code(std::errc::too_many_symbolic_link_levels);
        return;
    }
    if (::renameat(fd_.get(), from.c_str(), fd_.get(), to.c_str()) != 0) ec = lastError();
}

void PinnedFolder::remove(const std::string& name, std::error_code& ec) const {
    ec.clear();
    if (!isOneComponent(name)) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return;
    }
    if (::unlinkat(fd_.get(), name.c_str(), 0) != 0) ec = lastError();
}

std::error_code writeAll(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return lastError();
        }
        done += static_cast<size_t>(n);
    }
    return {};
}

}  // namespace foundation
