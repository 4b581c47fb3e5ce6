#include "platform/foundation/RegularFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace foundation {
namespace {

std::string describeType(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISLNK(mode)) return "a link";
    return "not a regular file";
}

}  // namespace

OpenedFile openRegularFile(const std::filesystem::path& path, uint64_t maxBytes) {
    OpenedFile file;
    auto refuse = [&](FileRefusal refusal, const std::string& why) {
        file.fd = FileDescriptor();
        file.refusal = refusal;
        file.reason = path.string() + ": " + why;
        return std::move(file);
    };
    // O_NONBLOCK: a FIFO opens at once instead of waiting for a writer (and is refused below).
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        const int error = errno;
        if (error == ENOENT) return refuse(FileRefusal::missing, std::strerror(error));
        if (error == ELOOP) return refuse(FileRefusal::notRegular, "a link, not followed");
        // A name that cannot be opened at all for its kind (a socket) is no file either.
        if (error == ENXIO || error == EOPNOTSUPP) return refuse(FileRefusal::notRegular, std::strerror(error));
        return refuse(FileRefusal::unreadable, std::strerror(error));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return refuse(FileRefusal::unreadable, std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return refuse(FileRefusal::notRegular, describeType(st.st_mode));
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > maxBytes)
        return refuse(FileRefusal::tooLarge, std::to_string(st.st_size) + " bytes, more than the " +
                                                 std::to_string(maxBytes) + " bytes such a file may have");
    // Back to blocking reads for the regular file it is.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    file.fd = std::move(fd);
    file.size = static_cast<uint64_t>(st.st_size);
    return file;
}

FileContent readRegularFile(const std::filesystem::path& path, uint64_t maxBytes) {
    FileContent result;
    OpenedFile file = openRegularFile(path, maxBytes);
    if (!file) {
        result.refusal = file.refusal;
        result.reason = std::move(file.reason);
        return result;
    }
    std::string bytes;
    bytes.reserve(static_cast<size_t>(file.size));
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(file.fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            result.refusal = FileRefusal::unreadable;
            result.reason = path.string() + ": " + std::strerror(errno);
            return result;
        }
        if (n == 0) break;
        if (static_cast<uint64_t>(n) > maxBytes - bytes.size()) {
            result.refusal = FileRefusal::tooLarge;
            result.reason = path.string() + ": grew past the " + std::to_string(maxBytes) +
                            " bytes such a file may have";
            return result;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    result.content = std::move(bytes);
    return result;
}

std::optional<std::filesystem::path> setAside(const std::filesystem::path& path, const std::string& suffix,
                                              std::error_code& ec) {
    ec.clear();
    for (int n = 1; n <= 9; ++n) {
        std::filesystem::path aside = path;
        aside += suffix;
        if (n > 1) aside += "." + std::to_string(n);
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) return aside;
        // A file system without the no-replace rename: look first, then rename.
        if (errno == EINVAL) {
            struct stat st {};
            if (::lstat(aside.c_str(), &st) == 0) continue;
            if (::rename(path.c_str(), aside.c_str()) == 0) return aside;
        }
        if (errno != EEXIST) {
            ec = std::error_code(errno, std::generic_category());
            return std::nullopt;
        }
    }
    ec = std::make_error_code(std::errc::file_exists);
    return std::nullopt;
}

}  // namespace foundation
