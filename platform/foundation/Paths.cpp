#include "platform/foundation/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>
#include <vector>

// Fixed at configure time (cmake/HvbInstall.cmake): the installed data and helper folders as seen
// from the executable's folder, and the build's own folders, whose layout does not follow them.
#ifndef HVB_DATADIR_FROM_BINDIR
#define HVB_DATADIR_FROM_BINDIR "../share"
#endif
#ifndef HVB_LIBEXECDIR_FROM_BINDIR
#define HVB_LIBEXECDIR_FROM_BINDIR "../libexec"
#endif
#ifndef HVB_BUILD_BIN_DIR
#define HVB_BUILD_BIN_DIR ""
#endif
#ifndef HVB_BUILD_RESOURCES_DIR
#define HVB_BUILD_RESOURCES_DIR ""
#endif
#ifndef HVB_BUILD_LIBEXEC_DIR
#define HVB_BUILD_LIBEXEC_DIR ""
#endif

namespace foundation::paths {

namespace {

std::filesystem::path homeDir() {
    std::string home = env("HOME");
    if (!home.empty()) return home;
    // No HOME (a service, a stripped environment): the password database.
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd pw{};
    passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir && *result->pw_dir) {
        return result->pw_dir;
    }
    return "/tmp";
}

// An XDG base folder: the variable when it holds an absolute path (relative ones are to be
// ignored), else the given folder under $HOME.
std::filesystem::path xdgDir(const char* variable, const char* fallbackUnderHome) {
    std::filesystem::path dir = env(variable);
    if (dir.empty() || !dir.is_absolute()) dir = homeDir() / fallbackUnderHome;
    return dir / kAppName;
}

}  // namespace

std::string env(const char* name, const std::string& fallback) {
    const char* value = name ? std::getenv(name) : nullptr;
    if (!value || !*value) return fallback;
    return value;
}

std::filesystem::path executableDir() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return std::filesystem::current_path(ec);
    return exe.parent_path();
}

std::filesystem::path systemRoot() { return env("HVB_ROOT", "/"); }

std::filesystem::path extensionsDir(const std::filesystem::path& root) {
    std::string folder = root.string();
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    // A Linux system has no /Library: the driver gets a folder of its own there.
    if (folder.empty()) return std::filesystem::path("/usr/local/lib") / kAppName / "Extensions";
    return std::filesystem::path(folder) / "Library/Extensions";
}

std::filesystem::path extensionsDir() { return extensionsDir(systemRoot()); }

std::filesystem::path resourcesDir() {
    std::string fromEnv = env("HVB_RESOURCES");
    if (!fromEnv.empty()) return fromEnv;
    const std::filesystem::path exeDir = executableDir();
    std::error_code ec;
    if (*HVB_BUILD_BIN_DIR && std::filesystem::equivalent(exeDir, HVB_BUILD_BIN_DIR, ec))
        return HVB_BUILD_RESOURCES_DIR;
    return (exeDir / HVB_DATADIR_FROM_BINDIR / kAppName / "Resources").lexically_normal();
}

std::filesystem::path libexecDir() {
    std::string fromEnv = env("HVB_LIBEXEC");
    if (!fromEnv.empty()) return fromEnv;
    std::error_code ec;
    const auto installed = (executableDir() / HVB_LIBEXECDIR_FROM_BINDIR / kAppName).lexically_normal();
    if (std::filesystem::is_directory(installed, ec)) return installed;
    return HVB_BUILD_LIBEXEC_DIR;
}

std::filesystem::path configDir() { return xdgDir("XDG_CONFIG_HOME", ".config"); }

std::filesystem::path applicationSupportDir() { return xdgDir("XDG_DATA_HOME", ".local/share"); }

std::filesystem::path cacheDir() { return xdgDir("XDG_CACHE_HOME", ".cache"); }

}  // namespace foundation::paths
