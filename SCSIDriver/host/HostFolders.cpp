#include "SCSIDriver/host/HostFolders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hvb::driverhost {

namespace fs = std::filesystem;

FolderHandle openHostFolder(const fs::path& path, mode_t mode, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = "\"" + path.string() + "\" " + why;
        return FolderHandle();
    };
    const fs::path parent = path.parent_path();
    const std::string name = path.filename().string();
    if (name.empty() || name == "." || name == "..") return fail("is not a folder's name");
    std::error_code ec;
    fs::create_directories(parent, ec);
    FolderHandle above(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!above) return fail(std::string("cannot be made: ") + std::strerror(errno));
    // Made with its mode whatever the umask (a service's UMask= would close the run folder to
    // the group the socket admits); this runs before the host starts any thread.
    const mode_t old = ::umask(0);
    const bool made = ::mkdirat(above.get(), name.c_str(), mode) == 0;
    const int mkdirError = errno;
    ::umask(old);
    if (!made && mkdirError != EEXIST) return fail(std::string("cannot be made: ") + std::strerror(mkdirError));
    FolderHandle folder(::openat(above.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder) {
        if (errno == ELOOP || errno == ENOTDIR) return fail("is a link or not a folder");
        return fail(std::string("cannot be opened: ") + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(folder.get(), &st) != 0) return fail(std::string("cannot be read: ") + std::strerror(errno));
    if (::geteuid() == 0) {
        const mode_t permissions = st.st_mode & 07777;
        if (st.st_uid != 0 || (permissions != 0755 && permissions != 0750))
            return fail("is not root's with mode 0755 or 0750");
    }
    return folder;
}

}  // namespace hvb::driverhost
