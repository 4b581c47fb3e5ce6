#pragma once
// A bundle: a folder with resources and an information dictionary read from an XML plist.
// The application's main bundle has its resources in paths::resourcesDir() and its Info.plist
// beside that folder; a driver bundle ("*.kext") is laid out as Contents/Info.plist and
// Contents/Resources.
#include <filesystem>
#include <optional>
#include <string>

#include "platform/foundation/Plist.h"

namespace foundation {

class Bundle {
public:
    static Bundle& main();
    // A bundle folder in the "<name>.kext/Contents/..." layout.
    static std::optional<Bundle> at(const std::filesystem::path& bundlePath);
    Bundle(std::filesystem::path bundlePath, std::filesystem::path resourcePath,
           std::filesystem::path infoPlistPath);

    const std::filesystem::path& bundlePath() const { return bundlePath_; }
    const std::filesystem::path& resourcePath() const { return resourcePath_; }
    // "<resources>/<name>.<type>" (or "<name>" when type is empty) when that file exists.
    std::optional<std::filesystem::path> pathForResource(const std::string& name,
                                                         const std::string& type) const;
    // The Info.plist dictionary; empty when missing or malformed.
    const plist::Dictionary& infoDictionary() const;
    // A string member of the information dictionary ("CFBundleVersion", ...).
    std::optional<std::string> infoString(const std::string& key) const;

private:
    std::filesystem::path bundlePath_;
    std::filesystem::path resourcePath_;
    std::filesystem::path infoPlistPath_;
    mutable std::optional<plist::Dictionary> info_;
};

}  // namespace foundation
