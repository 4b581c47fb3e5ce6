#pragma once
// Where things are on this machine (configuration and overrides by environment variable).
#include <filesystem>
#include <string>

namespace foundation::paths {

inline constexpr const char* kAppName = "HalvetorBody_ToolBox";

// The running executable's folder.
std::filesystem::path executableDir();
// System root that stands for "/" (the driver's folder, the host's socket): HVB_ROOT or "/".
std::filesystem::path systemRoot();
// Where the driver bundle is installed below `root`: on the real system ("/")
// /usr/local/lib/HalvetorBody_ToolBox/Extensions, in any other root <root>/Library/Extensions
// (as installKext.sh has it).
std::filesystem::path extensionsDir(const std::filesystem::path& root);
// extensionsDir(systemRoot()).
std::filesystem::path extensionsDir();
// The application's resources: HVB_RESOURCES, else <datadir>/HalvetorBody_ToolBox/Resources found from
// the executable (../share/... by default), or the build's resources for the program in the build.
std::filesystem::path resourcesDir();
// What the program runs: the system's helper programs ("diskutil", "system_profiler" stand-ins),
// the driver bundle copy and its installer. HVB_LIBEXEC, else <libexecdir>/HalvetorBody_ToolBox
// found from the executable (../libexec/... by default) when it exists, else the folder the build
// puts them in.
std::filesystem::path libexecDir();
// $XDG_CONFIG_HOME/HalvetorBody_ToolBox (or ~/.config/...): user defaults.
std::filesystem::path configDir();
// $XDG_DATA_HOME/HalvetorBody_ToolBox (or ~/.local/share/...): the Application Support folder.
std::filesystem::path applicationSupportDir();
// $XDG_CACHE_HOME/HalvetorBody_ToolBox (or ~/.cache/...): files that can be fetched again.
std::filesystem::path cacheDir();
// A value from the environment, or `fallback` when unset or empty.
std::string env(const char* name, const std::string& fallback = {});

}  // namespace foundation::paths
