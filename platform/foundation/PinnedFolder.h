#pragma once
// A folder opened once, its own path not followed when it is a link, and the files in it opened,
// created and renamed relative to that handle, never through a link. For folders whose content
// someone else controls (a camera's volume): a link placed there must not send a write elsewhere.
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace foundation {

// An owned file descriptor.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Hands the descriptor over to its new owner.
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes now and reports close's own failure (a write can fail only there).
    std::error_code close();

private:
    int fd_ = -1;
};

class PinnedFolder {
public:
    // Fails when the path is a link, not a folder, or cannot be opened.
    static PinnedFolder open(const std::filesystem::path& path, std::error_code& ec);

    // `name` is one component (no "/", not "." or ".."); a link under that name fails them all.
    PinnedFolder folder(const std::string& name, std::error_code& ec) const;
    // Created, or emptied when it is a plain file with no other name (never a file elsewhere
    // that was linked in), and opened for writing.
    FileDescriptor createFile(const std::string& name, mode_t mode, std::error_code& ec) const;
    FileDescriptor openForReading(const std::string& name, std::error_code& ec) const;
    // Replaces `to` with `from`; fails when `to` is a link.
    void rename(const std::string& from, const std::string& to, std::error_code& ec) const;
    // Removes the name itself (a link, not what it names).
    void remove(const std::string& name, std::error_code& ec) const;

    bool isOpen() const { return static_cast<bool>(fd_); }

private:
    FileDescriptor fd_;
};

// Writes all of `bytes`, going on after interrupted writes.
std::error_code writeAll(int fd, std::string_view bytes);

}  // namespace foundation
