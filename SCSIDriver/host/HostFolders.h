#pragma once
// The host's own folders: its run folder (socket, pid file) and its log folder. The host makes
// them itself, so that no one else decides what they are. A folder's parent may be one that a
// group of the distribution may write (Ubuntu's /var/log, 0775 root:syslog): the folder is made
// there and opened through the parent's descriptor, never through a link, and what was opened is
// what is checked and used.
#include <sys/types.h>

#include <filesystem>
#include <string>

#include "platform/foundation/PinnedFolder.h"

namespace hvb::driverhost {

constexpr mode_t kRunFolderMode = 0755;  // the socket inside is reached by the admitted group
constexpr mode_t kLogFolderMode = 0750;  // the log tells camera serials, USB paths and peers

// An open folder; closes its descriptor when it goes.
using FolderHandle = foundation::FileDescriptor;

// Opens the folder at `path`, made with exactly `mode` when it is missing (the folders above it
// too, as this user's umask gives them). Run as root, a folder that is there already must be a
// real folder of root's whose mode is 0755 or 0750; anything else is refused with the reason.
// A link at `path` is refused for every user.
FolderHandle openHostFolder(const std::filesystem::path& path, mode_t mode, std::string* error);

}  // namespace hvb::driverhost
