#pragma once
// Child processes run with an argument vector (never through a shell line built from data).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace foundation {

struct ProcessOptions {
    std::optional<std::string> standardInput;    // bytes written to the child's stdin, then closed
    bool mergeStandardError = false;             // stderr into the same bytes as stdout
    std::vector<std::string> extraEnvironment;   // "NAME=value" entries added to the environment
    std::optional<std::string> workingDirectory;
    int64_t timeoutMs = -1;                      // real time; killed (SIGKILL) when exceeded
};

struct ProcessResult {
    bool launched = false;       // false: the program could not be started (see error)
    int exitStatus = -1;         // exit code, or 128 + signal number
    bool timedOut = false;
    std::string standardOutput;
    std::string standardError;   // empty when merged
    std::string error;           // launch error text
    bool programNotFound = false;  // not launched because the program is not there (PATH, no such file)
};

// argv[0] is the program: a path, or a name looked up on PATH.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

}  // namespace foundation
