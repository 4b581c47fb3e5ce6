#pragma once
// The firmware package: a ZIP archive under the traditional PKWARE encryption that holds one
// firmware image. Every entry is vetted and the package's limits checked before anything is
// written; then only the expected image is unpacked, into a fresh scratch folder. Qt-free.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace hvb {

enum class PackageStatus {
    ok,
    cannotOpen,     // missing or not a ZIP archive
    unsafeEntry,    // absolute, "..", backslash, drive prefix, link or special file
    wrongPassword,  // also a read or CRC error once the archive opened: the old encryption checks one byte
    imageMissing,   // the archive does not hold the expected image
    writeFailed,    // the scratch folder could not take the files
    tooLarge,       // more entries, or more bytes once unpacked, than a package may hold
};
const char* describe(PackageStatus status);

// A model's package as the download leaves it: `ok` when it is the published one, and then
// `package`, the file the upgrade unpacks.
struct FirmwareDownload {
    bool ok = false;
    std::filesystem::path package;
    explicit operator bool() const { return ok; }
};

// "FW<model>.zip".
std::string firmwarePackageName(const std::string& model);
// From the package's file name only: "FW<model>.bin", "FWHVBS2A.zip" giving "FWHVBS2.bin".
std::string firmwareImageName(const std::string& packageFileName);

// True when an entry name may be written under a folder.
bool isSafeEntryName(const std::string& name);

// A folder made fresh for one upgrade and removed with this object.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    // Empty when the folder could not be made.
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

struct UnpackResult {
    PackageStatus status = PackageStatus::cannotOpen;
    std::filesystem::path image;  // ok: the image inside the scratch folder
};

// Unpacks the image of `package` into `scratch` with `password` after vetting every entry;
// `progress` gets the fraction of the image's bytes written.
UnpackResult unpackFirmwarePackage(const std::filesystem::path& package, const std::string& password,
                                   const std::string& imageName, const std::filesystem::path& scratch,
                                   const std::function<void(double)>& progress = {});

// Copies the image to `volumeRoot`/<its name>, through a temporary name, and reads it back:
// true only when the data and size there equal the source's. The volume's root is opened once
// and everything happens relative to it; a link as the root or under either name fails the copy.
bool copyImageToVolume(const std::filesystem::path& image, const std::filesystem::path& volumeRoot);

}  // namespace hvb
