#include "platform/foundation/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace foundation {

std::optional<std::string> writeFileAtomically(const std::filesystem::path& file, const std::string& bytes,
                                               std::optional<mode_t> mode) {
    std::error_code ec;
    if (!file.parent_path().empty()) std::filesystem::create_directories(file.parent_path(), ec);
    if (ec) return "cannot create " + file.parent_path().string() + ": " + ec.message();
    std::string pattern = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return "cannot create a temporary file for " + file.string() + ": " + std::strerror(errno);
    const std::filesystem::path temp = pattern;
    const char* data = bytes.data();
    size_t left = bytes.size();
    int error = 0;
    while (left > 0) {
        const ssize_t w = ::write(fd, data, left);
        if (w < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        data += w;
        left -= static_cast<size_t>(w);
    }
    if (!error && mode && ::fchmod(fd, *mode) != 0) error = errno;
    if (!error && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && !error) error = errno;
    if (!error) {
        std::filesystem::rename(temp, file, ec);
        if (!ec) return std::nullopt;
        error = ec.value();
    }
    std::filesystem::remove(temp, ec);
    return "cannot write " + file.string() + ": " + std::strerror(error ? error : EIO);
}

}  // namespace foundation
