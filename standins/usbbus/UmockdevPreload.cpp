#include "standins/usbbus/UmockdevPreload.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <fstream>
#include <vector>

namespace hvb::sim {

namespace {

constexpr const char* kRestarted = "HVB_UMOCKDEV_RESTARTED";

// The first library mapped into this process whose file name starts with one of `prefixes`.
std::string mappedLibrary(std::initializer_list<const char*> prefixes) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        const size_t slash = line.find('/');
        if (slash == std::string::npos) continue;
        const std::string path = line.substr(slash);
        const std::string name = std::filesystem::path(path).filename().string();
        for (const char* prefix : prefixes) {
            if (name.rfind(prefix, 0) == 0) return path;
        }
    }
    return {};
}

std::string sanitizerRuntime() { return mappedLibrary({"libasan.so", "libtsan.so"}); }

}  // namespace

bool underUmockdevPreload() { return !mappedLibrary({"libumockdev-preload.so"}).empty(); }

std::optional<std::string> umockdevPreloadLibrary() {
    std::error_code ec;
    for (const char* dir : {HVB_UMOCKDEV_LIBDIR, "/usr/lib/x86_64-linux-gnu", "/usr/lib64", "/usr/lib"}) {
        for (const char* name : {"libumockdev-preload.so.0", "libumockdev-preload.so"}) {
            std::filesystem::path path = std::filesystem::path(dir) / name;
            if (std::filesystem::is_regular_file(path, ec)) return path.string();
        }
    }
    return std::nullopt;
}

std::string umockdevPreloadList(const std::string& library) {
    std::string list;
    if (std::string runtime = sanitizerRuntime(); !runtime.empty()) list = runtime + " ";
    list += library;
    if (const char* before = ::getenv("LD_PRELOAD"); before && *before) list += std::string(" ") + before;
    return list;
}

bool restartUnderUmockdev() {
    if (underUmockdevPreload()) return true;
    if (::getenv(kRestarted)) return false;  // tried once already: the library did not load
    auto library = umockdevPreloadLibrary();
    if (!library) return false;
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::vector<std::string> words;
    for (std::string word; std::getline(in, word, '\0');) words.push_back(word);
    if (words.empty()) return false;
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    ::setenv("LD_PRELOAD", umockdevPreloadList(*library).c_str(), 1);
    ::setenv(kRestarted, "1", 1);
    ::execv("/proc/self/exe", argv.data());
    return false;
}

}  // namespace hvb::sim
