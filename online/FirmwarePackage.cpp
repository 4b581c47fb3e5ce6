#include "online/FirmwarePackage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <system_error>
#include <vector>

#include <zip.h>

#include "online/OnlineConfig.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PinnedFolder.h"
#include "platform/foundation/RegularFile.h"

namespace hvb {

namespace fs = std::filesystem;

const char* describe(PackageStatus status) {
    switch (status) {
    case PackageStatus::ok: return "ok";
    case PackageStatus::cannotOpen: return "cannot open the package";
    case PackageStatus::unsafeEntry: return "unsafe entry in the package";
    case PackageStatus::wrongPassword: return "wrong password or damaged entry";
    case PackageStatus::imageMissing: return "image not in the package";
    case PackageStatus::writeFailed: return "cannot write the unpacked files";
    case PackageStatus::tooLarge: return "package larger than its limits";
    }
    return "?";
}

std::string firmwarePackageName(const std::string& model) { return "FW" + model + ".zip"; }

std::string firmwareImageName(const std::string& packageFileName) {
    std::string name = packageFileName;
    if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".zip") == 0) name.replace(name.size() - 4, 4, ".bin");
    // One image serves the whole S2A family.
    if (name == "FWHVBS2A.bin") name = "FWHVBS2.bin";
    return name;
}

bool isSafeEntryName(const std::string& name) {
    if (name.empty() || name.front() == '/') return false;
    if (name.find('\\') != std::string::npos || name.find('\0') != std::string::npos) return false;
    if (name.size() >= 2 && name[1] == ':') return false;
    size_t start = 0;
    while (start <= name.size()) {
        const size_t end = name.find('/', start);
        const std::string part = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part == "..") return false;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return true;
}

ScratchFolder::ScratchFolder() {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string pattern = (base / "hvb-upgrade-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data())) path_ = buffer.data();
}

ScratchFolder::~ScratchFolder() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
}

namespace {

struct ZipCloser {
    void operator()(zip_t* za) const { zip_discard(za); }
};
struct FileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

bool isLinkOrSpecial(zip_t* za, zip_uint64_t index) {
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(za, index, 0, &opsys, &attributes) != 0) return true;
    if (opsys != ZIP_OPSYS_UNIX) return false;
    const mode_t mode = static_cast<mode_t>(attributes >> 16);
    // Permission bits without a file type are what many writers record for a plain file.
    if ((mode & S_IFMT) == 0) return false;
    return !S_ISREG(mode) && !S_ISDIR(mode);
}

}  // namespace

UnpackResult unpackFirmwarePackage(const fs::path& package, const std::string& password, const std::string& imageName,
                                   const fs::path& scratch, const std::function<void(double)>& progress) {
    UnpackResult result;
    if (scratch.empty()) {
        result.status = PackageStatus::writeFailed;
        return result;
    }
    // The package lies in the user's cache: a link there is not followed, a FIFO not waited on.
    foundation::OpenedFile opened = foundation::openRegularFile(package, onlineconfig::kMaxFirmwarePackageBytes);
    if (!opened) {
        foundation::print("package: " + opened.reason);
        return result;
    }
    int error = 0;
    // The archive owns the descriptor once it opened (and closes it); not before.
    std::unique_ptr<zip_t, ZipCloser> za(zip_fdopen(opened.fd.get(), ZIP_CHECKCONS, &error));
    if (!za) return result;
    opened.fd.release();
    const zip_int64_t count = zip_get_num_entries(za.get(), 0);
    if (count < 0) return result;
    if (static_cast<uint64_t>(count) > onlineconfig::kMaxPackageEntries) {
        foundation::print("package entries: " + std::to_string(count));
        result.status = PackageStatus::tooLarge;
        return result;
    }

    // Vet every entry and the sizes they record before anything is written.
    uint64_t totalBytes = 0;
    std::optional<zip_uint64_t> imageIndex;
    zip_uint64_t imageBytes = 0;
    for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(za.get(), i, 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME) || !(st.valid & ZIP_STAT_SIZE)) {
            result.status = PackageStatus::cannotOpen;
            return result;
        }
        const std::string name = st.name;
        if (!isSafeEntryName(name) || isLinkOrSpecial(za.get(), i)) {
            foundation::print("unsafe package entry: " + name);
            result.status = PackageStatus::unsafeEntry;
            return result;
        }
        if (st.size > onlineconfig::kMaxUnpackedPackageBytes - totalBytes) {
            foundation::print("package entries larger than " + std::to_string(onlineconfig::kMaxUnpackedPackageBytes) +
                              " bytes");
            result.status = PackageStatus::tooLarge;
            return result;
        }
        totalBytes += st.size;
        if (name == imageName && !imageIndex) {
            imageIndex = i;
            imageBytes = st.size;
        }
    }
    if (!isSafeEntryName(imageName) || imageName.find('/') != std::string::npos || !imageIndex) {
        result.status = PackageStatus::imageMissing;
        return result;
    }

    std::unique_ptr<zip_file_t, FileCloser> file(
        zip_fopen_index_encrypted(za.get(), *imageIndex, 0, password.empty() ? nullptr : password.c_str()));
    if (!file) {
        result.status = PackageStatus::wrongPassword;
        return result;
    }
    const fs::path target = scratch / imageName;
    // A fresh file in the scratch folder: an existing name there is not written through.
    foundation::FileDescriptor out(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out) {
        result.status = PackageStatus::writeFailed;
        return result;
    }
    auto fail = [&](PackageStatus status) {
        out.close();
        std::error_code ec;
        fs::remove(target, ec);
        result.status = status;
        return result;
    };
    zip_uint64_t written = 0;
    std::array<char, 64 * 1024> buffer{};
    for (;;) {
        const zip_int64_t n = zip_fread(file.get(), buffer.data(), buffer.size());
        // Past the one-byte check a wrong key shows as a CRC or inflate error.
        if (n < 0) return fail(PackageStatus::wrongPassword);
        if (n == 0) break;
        // The data may not run past the size its entry recorded (which the limits were checked on).
        if (static_cast<zip_uint64_t>(n) > imageBytes - written) return fail(PackageStatus::tooLarge);
        if (foundation::writeAll(out.get(), std::string_view(buffer.data(), static_cast<size_t>(n))))
            return fail(PackageStatus::writeFailed);
        written += static_cast<zip_uint64_t>(n);
        if (progress && imageBytes) progress(static_cast<double>(written) / static_cast<double>(imageBytes));
    }
    if (zip_fclose(file.release()) != 0) return fail(PackageStatus::wrongPassword);
    if (written != imageBytes) return fail(PackageStatus::wrongPassword);
    if (out.close()) return fail(PackageStatus::writeFailed);
    result.status = PackageStatus::ok;
    result.image = target;
    return result;
}

namespace {

// Reads up to buffer.size() bytes, going on after short reads; the count, or -1.
ssize_t readFull(int fd, std::vector<char>& buffer) {
    size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::read(fd, buffer.data() + done, buffer.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

bool sameContents(int a, int b) {
    std::vector<char> bufA(64 * 1024), bufB(64 * 1024);
    for (;;) {
        const ssize_t n = readFull(a, bufA);
        const ssize_t m = readFull(b, bufB);
        if (n < 0 || m < 0 || n != m) return false;
        if (n == 0) return true;
        if (!std::equal(bufA.begin(), bufA.begin() + n, bufB.begin())) return false;
    }
}

bool copyFailed(const std::string& why) {
    foundation::print("copy failed: " + why);
    return false;
}

}  // namespace

bool copyImageToVolume(const fs::path& image, const fs::path& volumeRoot) {
    std::error_code ec;
    const auto root = foundation::PinnedFolder::open(volumeRoot, ec);
    if (ec) return copyFailed(volumeRoot.string() + ": " + ec.message());
    const std::string name = image.filename().string();
    const std::string partial = name + ".part";
    foundation::FileDescriptor source(::open(image.c_str(), O_RDONLY | O_CLOEXEC));
    if (!source) return copyFailed(image.string() + ": " + std::strerror(errno));

    // Plain data copy: the camera's file system keeps neither owners nor times.
    foundation::FileDescriptor out = root.createFile(partial, 0644, ec);
    if (ec) return copyFailed(partial + ": " + ec.message());
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t n = readFull(source.get(), buffer);
        if (n < 0) {
            ec = std::error_code(errno, std::generic_category());
            break;
        }
        if (n == 0) break;
        ec = foundation::writeAll(out.get(), std::string_view(buffer.data(), static_cast<size_t>(n)));
        if (ec) break;
    }
    if (const auto closed = out.close(); !ec) ec = closed;
    if (!ec) root.rename(partial, name, ec);
    if (ec) {
        std::error_code ignored;
        root.remove(partial, ignored);
        return copyFailed(name + ": " + ec.message());
    }
    foundation::FileDescriptor copy = root.openForReading(name, ec);
    if (ec || ::lseek(source.get(), 0, SEEK_SET) != 0 || !sameContents(source.get(), copy.get()))
        return copyFailed("the copy differs from the image");
    return true;
}

}  // namespace hvb
