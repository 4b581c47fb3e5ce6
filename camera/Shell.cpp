#include "camera/Shell.h"

#include <filesystem>
#include <unistd.h>

#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Process.h"

#ifndef HVB_BUILD_LIBEXEC_DIR
#define HVB_BUILD_LIBEXEC_DIR ""
#endif

namespace hvb {

namespace {

bool validUtf8(const std::string& bytes) {
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        auto b = static_cast<unsigned char>(bytes[i]);
        size_t need = 0;
        if (b < 0x80) {
            ++i;
            continue;
        }
        if (b >= 0xC2 && b <= 0xDF) need = 1;
        else if (b >= 0xE0 && b <= 0xEF) need = 2;
        else if (b >= 0xF0 && b <= 0xF4) need = 3;
        else return false;
        if (i + need >= n) return false;
        for (size_t k = 1; k <= need; ++k) {
            auto c = static_cast<unsigned char>(bytes[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            if (k == 1 && ((b == 0xE0 && c < 0xA0) || (b == 0xED && c > 0x9F) || (b == 0xF0 && c < 0x90) ||
                           (b == 0xF4 && c > 0x8F)))
                return false;
        }
        i += need + 1;
    }
    return true;
}

}  // namespace

Shell& Shell::shared() {
    static Shell shell;
    return shell;
}

std::string Shell::helperDirectory() {
    std::string dir = foundation::paths::env("HVB_LIBEXEC");
    if (!dir.empty()) return dir;
    return HVB_BUILD_LIBEXEC_DIR;
}

ShellResult Shell::run(const std::vector<std::string>& argv) const {
    ShellResult result;
    if (argv.empty()) return result;
    std::vector<std::string> args = argv;
    if (args[0].find('/') == std::string::npos) {
        std::string dir = helperDirectory();
        if (!dir.empty()) {
            auto candidate = std::filesystem::path(dir) / args[0];
            if (::access(candidate.c_str(), X_OK) == 0) args[0] = candidate.string();
        }
    }
    std::string line = "CMD Send:";
    for (const auto& word : argv) line += " " + word;
    foundation::systemLog(line);
    foundation::ProcessOptions options;
    options.mergeStandardError = true;
    foundation::ProcessResult run = foundation::runProcess(args, options);
    if (!run.launched) {
        result.output = run.error;
        result.status = 127;
        return result;
    }
    if (validUtf8(run.standardOutput)) result.output = run.standardOutput;
    result.status = run.exitStatus;
    return result;
}

}  // namespace hvb
