#include "camera/Shell.h"

#include <filesystem>
#include <unistd.h>

#include "platform/foundation/TextCharacters.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Process.h"

namespace hvb {

Shell& Shell::shared() {
    static Shell shell;
    return shell;
}

std::string Shell::helperDirectory() { return foundation::paths::libexecDir().string(); }

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
    if (foundation::text::isValidUtf8(run.standardOutput)) result.output = run.standardOutput;
    result.status = run.exitStatus;
    return result;
}

}  // namespace hvb
