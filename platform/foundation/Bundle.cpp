#include "platform/foundation/Bundle.h"

#include <system_error>

#include "platform/foundation/Paths.h"

namespace foundation {

namespace {

const plist::Dictionary& emptyDictionary() {
    static const auto* empty = new const plist::Dictionary;  // never destroyed
    return *empty;
}

// A resource name is a file name (or a relative path below the resources folder), never a
// way out of it.
bool isSafeRelative(const std::filesystem::path& p) {
    if (p.empty() || p.is_absolute() || p.has_root_name()) return false;
    for (const auto& part : p) {
        if (part == "..") return false;
    }
    return true;
}

}  // namespace

Bundle& Bundle::main() {
    static Bundle* bundle = [] {
        std::filesystem::path resources = paths::resourcesDir();
        std::filesystem::path top = (resources / "..").lexically_normal();
        return new Bundle(top, resources, top / "Info.plist");
    }();
    return *bundle;
}

std::optional<Bundle> Bundle::at(const std::filesystem::path& bundlePath) {
    std::error_code ec;
    if (!std::filesystem::is_directory(bundlePath, ec)) return std::nullopt;
    std::filesystem::path contents = bundlePath / "Contents";
    return Bundle(bundlePath, contents / "Resources", contents / "Info.plist");
}

// The information dictionary is read at once: bundles are shared between threads and a lazy
// read would race.
Bundle::Bundle(std::filesystem::path bundlePath, std::filesystem::path resourcePath,
               std::filesystem::path infoPlistPath)
    : bundlePath_(std::move(bundlePath)),
      resourcePath_(std::move(resourcePath)),
      infoPlistPath_(std::move(infoPlistPath)) {
    info_.emplace();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(infoPlistPath_, ec)) return;
    plist::ParseResult parsed = plist::parseFile(infoPlistPath_.string());
    if (parsed.value) {
        if (const plist::Dictionary* dict = parsed.value->asDictionary()) *info_ = *dict;
    }
}

std::optional<std::filesystem::path> Bundle::pathForResource(const std::string& name,
                                                             const std::string& type) const {
    std::string fileName = name;
    std::string_view ext = type;
    if (!ext.empty() && ext.front() == '.') ext.remove_prefix(1);
    if (!ext.empty()) fileName += "." + std::string(ext);
    std::filesystem::path relative(fileName);
    if (name.empty() || !isSafeRelative(relative)) return std::nullopt;
    std::filesystem::path full = resourcePath_ / relative;
    std::error_code ec;
    if (!std::filesystem::exists(full, ec)) return std::nullopt;
    return full;
}

const plist::Dictionary& Bundle::infoDictionary() const {
    return info_ ? *info_ : emptyDictionary();
}

std::optional<std::string> Bundle::infoString(const std::string& key) const {
    auto it = infoDictionary().find(key);
    if (it == infoDictionary().end()) return std::nullopt;
    const std::string* s = it->second.asString();
    if (!s) return std::nullopt;
    return *s;
}

}  // namespace foundation
