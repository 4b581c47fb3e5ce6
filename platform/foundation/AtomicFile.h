#pragma once
// Replacing a file whole: the bytes go to a fresh temporary file beside it (created exclusively,
// so no link is written through), are synced, and the temporary is renamed over the target, so
// readers see the old file or the new one, never half of one.
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

namespace foundation {

// Creates the parent folder when missing. `mode` is applied to the new file when given (the
// temporary starts as 0600; a volume whose file system keeps no modes is written without one).
// Returns the error's text, or nothing on success; a failed write leaves no temporary behind.
std::optional<std::string> writeFileAtomically(const std::filesystem::path& file, const std::string& bytes,
                                               std::optional<mode_t> mode = std::nullopt);

}  // namespace foundation
