#include "tools/FirmwarePackage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

#include <zip.h>

#include "platform/foundation/Log.h"

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
    if (mode == 0) return false;  // no mode recorded: a plain file
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
    int error = 0;
    std::unique_ptr<zip_t, ZipCloser> za(zip_open(package.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!za) return result;
    const zip_int64_t count = zip_get_num_entries(za.get(), 0);
    if (count < 0) return result;

    // Vet every entry before anything is written.
    zip_uint64_t totalBytes = 0;
    std::vector<zip_stat_t> entries(static_cast<size_t>(count));
    for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
        zip_stat_t& st = entries[i];
        zip_stat_init(&st);
        if (zip_stat_index(za.get(), i, 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME)) {
            result.status = PackageStatus::cannotOpen;
            return result;
        }
        const std::string name = st.name;
        if (!isSafeEntryName(name) || isLinkOrSpecial(za.get(), i)) {
            foundation::print("unsafe package entry: " + name);
            result.status = PackageStatus::unsafeEntry;
            return result;
        }
        if (st.valid & ZIP_STAT_SIZE) totalBytes += st.size;
    }

    zip_uint64_t written = 0;
    std::array<char, 64 * 1024> buffer{};
    for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
        const std::string name = entries[i].name;
        std::error_code ec;
        const fs::path target = scratch / name;
        if (name.back() == '/') {
            fs::create_directories(target, ec);
            if (ec) {
                result.status = PackageStatus::writeFailed;
                return result;
            }
            continue;
        }
        fs::create_directories(target.parent_path(), ec);
        std::unique_ptr<zip_file_t, FileCloser> file(
            zip_fopen_index_encrypted(za.get(), i, 0, password.empty() ? nullptr : password.c_str()));
        if (!file) {
            result.status = PackageStatus::wrongPassword;
            return result;
        }
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        if (!out) {
            result.status = PackageStatus::writeFailed;
            return result;
        }
        for (;;) {
            const zip_int64_t n = zip_fread(file.get(), buffer.data(), buffer.size());
            if (n < 0) {
                // Past the one-byte check a wrong key shows as a CRC or inflate error.
                result.status = PackageStatus::wrongPassword;
                return result;
            }
            if (n == 0) break;
            out.write(buffer.data(), n);
            written += static_cast<zip_uint64_t>(n);
            if (progress && totalBytes) progress(static_cast<double>(written) / static_cast<double>(totalBytes));
        }
        if (zip_fclose(file.release()) != 0) {
            result.status = PackageStatus::wrongPassword;
            return result;
        }
        out.close();
        if (!out) {
            result.status = PackageStatus::writeFailed;
            return result;
        }
    }

    const fs::path image = scratch / imageName;
    std::error_code ec;
    if (!isSafeEntryName(imageName) || !fs::is_regular_file(fs::symlink_status(image, ec))) {
        result.status = PackageStatus::imageMissing;
        return result;
    }
    result.status = PackageStatus::ok;
    result.image = image;
    return result;
}

namespace {

bool sameContents(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    const auto sizeA = fs::file_size(a, ec);
    if (ec) return false;
    const auto sizeB = fs::file_size(b, ec);
    if (ec || sizeA != sizeB) return false;
    std::ifstream inA(a, std::ios::binary), inB(b, std::ios::binary);
    if (!inA || !inB) return false;
    std::vector<char> bufA(64 * 1024), bufB(64 * 1024);
    while (inA && inB) {
        inA.read(bufA.data(), static_cast<std::streamsize>(bufA.size()));
        inB.read(bufB.data(), static_cast<std::streamsize>(bufB.size()));
        if (inA.gcount() != inB.gcount()) return false;
        if (!std::equal(bufA.begin(), bufA.begin() + inA.gcount(), bufB.begin())) return false;
    }
    return inA.eof() && inB.eof();
}

}  // namespace

bool copyImageToVolume(const fs::path& image, const fs::path& volumeRoot) {
    std::error_code ec;
    if (volumeRoot.empty() || !fs::is_directory(volumeRoot, ec)) return false;
    const fs::path target = volumeRoot / image.filename();
    const fs::path partial = volumeRoot / (image.filename().string() + ".part");
    // Plain data copy: the camera's file system keeps neither owners nor times.
    fs::copy_file(image, partial, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        foundation::print("copy failed: " + ec.message());
        fs::remove(partial, ec);
        return false;
    }
    fs::rename(partial, target, ec);
    if (ec) {
        foundation::print("copy failed: " + ec.message());
        fs::remove(partial, ec);
        return false;
    }
    if (!sameContents(image, target)) {
        foundation::print("copy failed: the copy differs from the image");
        return false;
    }
    return true;
}

}  // namespace hvb
