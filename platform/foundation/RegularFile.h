#pragma once
// Reading a file from the user's own folders (settings, caches, downloads). Someone may have
// put a link, a FIFO, a folder or a huge file under the name: such a file is refused at once,
// never followed or waited on, and never read past its kind's size limit.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "platform/foundation/PinnedFolder.h"

namespace foundation {

enum class FileRefusal {
    none,
    missing,     // nothing under the name
    unreadable,  // there, but open or read failed (permissions, I/O)
    notRegular,  // a link, FIFO, folder, device or socket: never a file to read
    tooLarge,    // larger than the limit of its kind
};

// A refused file that should not stay under its name: of the wrong kind or too large.
inline bool isBadShape(FileRefusal refusal) {
    return refusal == FileRefusal::notRegular || refusal == FileRefusal::tooLarge;
}

struct OpenedFile {
    FileDescriptor fd;  // open for reading when refusal is none
    uint64_t size = 0;
    FileRefusal refusal = FileRefusal::none;
    std::string reason;  // "<path>: why", when refused
    explicit operator bool() const { return refusal == FileRefusal::none; }
};

// Opens `path` for reading only when its last component is a regular file (not followed when it
// is a link, not waited on when it is a FIFO) of at most `maxBytes`.
OpenedFile openRegularFile(const std::filesystem::path& path, uint64_t maxBytes);

struct FileContent {
    std::optional<std::string> content;
    FileRefusal refusal = FileRefusal::none;
    std::string reason;
};

// The whole of a regular file of at most `maxBytes` (a file that grows past it while being read
// is refused as too large).
FileContent readRegularFile(const std::filesystem::path& path, uint64_t maxBytes);

// Renames the name itself (a link stays a link, whatever it points at) to the first free one of
// "<name><suffix>", "<name><suffix>.2" ... "<name><suffix>.9", so an earlier one is never
// replaced. The new path, or nothing with `ec` set.
std::optional<std::filesystem::path> setAside(const std::filesystem::path& path, const std::string& suffix,
                                              std::error_code& ec);

}  // namespace foundation
