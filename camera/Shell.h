#pragma once
// Runs one program with an argument vector (never a shell line built from data) and gives its
// standard output and standard error together, with its exit status.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hvb {

struct ShellResult {
    std::optional<std::string> output;  // none when the bytes are not valid UTF-8
    int32_t status = -1;
};

class Shell {
public:
    static Shell& shared();
    // argv[0] is a path, or a name looked up first among the system's helper programs (where
    // the "diskutil" stand-in lives), then on PATH. Logs "CMD Send: " and the words.
    ShellResult run(const std::vector<std::string>& argv) const;
    // The helper-program folder (foundation::paths::libexecDir()).
    static std::string helperDirectory();
};

}  // namespace hvb
