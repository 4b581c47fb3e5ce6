// The firmware package reader and the copy of its image: entry vetting, wrong passwords and
// damaged images, the image's name, the copy to a volume whose path holds shell characters.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <zip.h>

#include "online/FirmwarePackage.h"
#include "platform/foundation/TempDir.h"
#include "standins/webservice/Content.h"

namespace {

namespace fs = std::filesystem;
using hvb::PackageStatus;

constexpr const char* kPassword = "gRAVELMOORkestHILLpin";

struct Entry {
    std::string name;
    std::string data;
    uint32_t mode = 0100644;
    uint64_t zeros = 0;  // instead of data: this many zero bytes, made while the archive is written
};

// A source of zero bytes that never holds them all.
zip_int64_t zeroSource(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto* left = static_cast<std::pair<uint64_t, uint64_t>*>(state);  // size, bytes still to give
    switch (command) {
        case ZIP_SOURCE_OPEN: left->second = left->first; return 0;
        case ZIP_SOURCE_READ: {
            const uint64_t n = std::min<uint64_t>(length, left->second);
            std::memset(data, 0, n);
            left->second -= n;
            return static_cast<zip_int64_t>(n);
        }
        case ZIP_SOURCE_STAT: {
            auto* st = static_cast<zip_stat_t*>(data);
            zip_stat_init(st);
            st->size = left->first;
            // The traditional encryption's check byte is taken from the time.
            st->mtime = 1700000000;
            st->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_FREE: delete left; return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
        default: return 0;
    }
}

// A package with the traditional encryption on every entry.
void makeArchive(const fs::path& path, const std::vector<Entry>& entries) {
    int error = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(za, nullptr);
    for (const auto& e : entries) {
        zip_source_t* source = e.zeros ? zip_source_function(za, zeroSource, new std::pair<uint64_t, uint64_t>(e.zeros, 0))
                                       : zip_source_buffer(za, e.data.data(), e.data.size(), 0);
        ASSERT_NE(source, nullptr);
        const zip_int64_t index = zip_file_add(za, e.name.c_str(), source, ZIP_FL_ENC_RAW);
        ASSERT_GE(index, 0) << e.name;
        ASSERT_EQ(zip_file_set_encryption(za, static_cast<zip_uint64_t>(index), ZIP_EM_TRAD_PKWARE, kPassword), 0);
        ASSERT_EQ(zip_file_set_external_attributes(za, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                                                   e.mode << 16),
                  0);
    }
    ASSERT_EQ(zip_close(za), 0);
}

class UpgradePackage : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(scratch); }

    hvb::UnpackResult unpack(const std::vector<Entry>& entries, const std::string& image = "FWHVBR7.bin",
                             const std::string& password = kPassword) {
        const fs::path package = root / "FWHVBR7.zip";
        makeArchive(package, entries);
        return hvb::unpackFirmwarePackage(package, password, image, scratch);
    }
    // Nothing was written outside the scratch folder.
    void expectNothingEscaped() {
        for (const auto& item : fs::directory_iterator(root)) {
            const auto name = item.path().filename().string();
            EXPECT_TRUE(name == "scratch" || name == "FWHVBR7.zip") << name;
        }
        EXPECT_FALSE(fs::exists("/tmp/hvb-escaped.bin"));
    }

    TempDir dir;
    const fs::path root = dir.path(), scratch = root / "scratch";
};

TEST_F(UpgradePackage, StandInPackageGivesItsImage) {
    for (const std::string model : {"HVBR7", "HVBS2A"}) {
        const std::string packageName = hvb::firmwarePackageName(model);
        const fs::path package = root / packageName;
        TempDir::write(package, standin::firmwarePackage(model, "1.6.02"));
        fs::remove_all(scratch);
        fs::create_directories(scratch);
        double last = 0;
        auto result = hvb::unpackFirmwarePackage(package, kPassword, hvb::firmwareImageName(packageName), scratch,
                                                 [&](double f) { last = f; });
        ASSERT_EQ(result.status, PackageStatus::ok) << model;
        EXPECT_EQ(result.image.parent_path(), scratch);
        EXPECT_EQ(TempDir::read(result.image), standin::firmwareImage(model, "1.6.02"));
        EXPECT_DOUBLE_EQ(last, 1.0);
    }
}

TEST_F(UpgradePackage, ImageNameComesFromThePackageNameOnly) {
    EXPECT_EQ(hvb::firmwareImageName("FWHVBR7.zip"), "FWHVBR7.bin");
    EXPECT_EQ(hvb::firmwareImageName("FWHVBS2A.zip"), "FWHVBS2.bin");
    EXPECT_EQ(hvb::firmwareImageName("FWHW7334.zip"), "FWHW7334.bin");
    EXPECT_EQ(hvb::firmwareImageName(hvb::firmwarePackageName("HVBT3A")), "FWHVBT3A.bin");
}

TEST_F(UpgradePackage, UnsafeEntriesFailBeforeAnythingIsWritten) {
    const std::string image = standin::firmwareImage("HVBR7", "1.6.02");
    const std::vector<std::string> names = {"../hvb-escaped.bin", "/tmp/hvb-escaped.bin", "a/../../hvb-escaped.bin",
                                            "dir\\FWHVBR7.bin",  "C:FWHVBR7.bin",         ".."};
    for (const auto& name : names) {
        fs::remove_all(scratch);
        fs::create_directories(scratch);
        auto result = unpack({{"FWHVBR7.bin", image}, {name, "x"}});
        EXPECT_EQ(result.status, PackageStatus::unsafeEntry) << name;
        EXPECT_TRUE(fs::is_empty(scratch)) << name;
        expectNothingEscaped();
    }
}

TEST_F(UpgradePackage, LinkAndSpecialEntriesFail) {
    const std::string image = standin::firmwareImage("HVBR7", "1.6.02");
    auto link = unpack({{"FWHVBR7.bin", "/etc/passwd", 0120777}});
    EXPECT_EQ(link.status, PackageStatus::unsafeEntry);
    auto fifo = unpack({{"FWHVBR7.bin", image}, {"pipe", "", 0010644}});
    EXPECT_EQ(fifo.status, PackageStatus::unsafeEntry);
    EXPECT_TRUE(fs::is_empty(scratch));
    // Permission bits without a file type, as many writers record them, are a plain file; of
    // the entries only the image is written.
    auto plain = unpack({{"FWHVBR7.bin", image, 0644}, {"notes.txt", "x", 0644}});
    ASSERT_EQ(plain.status, PackageStatus::ok);
    EXPECT_EQ(TempDir::read(plain.image), image);
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch), fs::directory_iterator()), 1);
}

TEST_F(UpgradePackage, OversizedOrCrowdedPackagesFailBeforeAnythingIsWritten) {
    const std::string image = standin::firmwareImage("HVBR7", "1.6.02");
    // A small package whose image would unpack to 300 MB.
    auto bomb = unpack({{"FWHVBR7.bin", "", 0100644, 300ull << 20}});
    EXPECT_LT(fs::file_size(root / "FWHVBR7.zip"), 2u << 20);
    EXPECT_EQ(bomb.status, PackageStatus::tooLarge);
    EXPECT_TRUE(fs::is_empty(scratch));
    // Small entries, but thousands of them.
    std::vector<Entry> crowd{{"FWHVBR7.bin", image}};
    for (int i = 0; i < 5000; ++i) crowd.push_back({"junk/" + std::to_string(i), "x"});
    EXPECT_EQ(unpack(crowd).status, PackageStatus::tooLarge);
    EXPECT_TRUE(fs::is_empty(scratch));
    expectNothingEscaped();
}

TEST_F(UpgradePackage, WrongPasswordAndDamagedImageCountAsWrongPassword) {
    const std::string image = standin::firmwareImage("HVBR7", "1.6.02");
    EXPECT_EQ(unpack({{"FWHVBR7.bin", image}}, "FWHVBR7.bin", "not-the-password").status,
              PackageStatus::wrongPassword);

    // Damage the stored data in the middle: the archive still opens, the read fails its check.
    const fs::path package = root / "FWHVBR7.zip";
    makeArchive(package, {{"FWHVBR7.bin", image}});
    std::string bytes = TempDir::read(package);
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x5A);
    TempDir::write(package, bytes);
    auto damaged = hvb::unpackFirmwarePackage(package, kPassword, "FWHVBR7.bin", scratch);
    EXPECT_EQ(damaged.status, PackageStatus::wrongPassword);
}

TEST_F(UpgradePackage, MissingImageOrArchiveFails) {
    EXPECT_EQ(unpack({{"FWOTHER.bin", "x"}}).status, PackageStatus::imageMissing);
    EXPECT_EQ(hvb::unpackFirmwarePackage(root / "absent.zip", kPassword, "FWHVBR7.bin", scratch).status,
              PackageStatus::cannotOpen);
    TempDir::write(root / "plain.zip", "not a zip archive at all");
    EXPECT_EQ(hvb::unpackFirmwarePackage(root / "plain.zip", kPassword, "FWHVBR7.bin", scratch).status,
              PackageStatus::cannotOpen);
    // The package's own name must be the file: a link to a good package elsewhere is not followed.
    TempDir::write(root / "elsewhere.zip", standin::firmwarePackage("HVBR7", "1.6.02"));
    fs::create_symlink(root / "elsewhere.zip", root / "linked.zip");
    EXPECT_EQ(hvb::unpackFirmwarePackage(root / "linked.zip", kPassword, "FWHVBR7.bin", scratch).status,
              PackageStatus::cannotOpen);
    EXPECT_EQ(hvb::unpackFirmwarePackage(root / "elsewhere.zip", kPassword, "FWHVBR7.bin", scratch).status,
              PackageStatus::ok);
}

TEST_F(UpgradePackage, ScratchFolderIsFreshAndRemoved) {
    fs::path kept;
    {
        hvb::ScratchFolder a, b;
        ASSERT_FALSE(a.path().empty());
        EXPECT_NE(a.path(), b.path());
        EXPECT_TRUE(fs::is_directory(a.path()));
        TempDir::write(a.path() / "FWHVBR7.bin", "x");
        kept = a.path();
    }
    EXPECT_FALSE(fs::exists(kept));
}

TEST_F(UpgradePackage, CopyLandsAtTheVolumeWhateverItsPathHolds) {
    const fs::path volume = root / "Cam 1 'q' \"dq\" $(touch pwned) `touch pwned2`";
    fs::create_directories(volume);
    const fs::path image = scratch / "FWHVBR7.bin";
    TempDir::write(image, standin::firmwareImage("HVBR7", "1.6.02"));
    ASSERT_TRUE(hvb::copyImageToVolume(image, volume));
    EXPECT_EQ(TempDir::read(volume / "FWHVBR7.bin"), TempDir::read(image));
    EXPECT_FALSE(fs::exists(volume / "FWHVBR7.bin.part"));
    EXPECT_FALSE(fs::exists("pwned"));
    EXPECT_FALSE(fs::exists(root / "pwned"));
    // No volume, or an unwritable one, fails the copy.
    EXPECT_FALSE(hvb::copyImageToVolume(image, root / "absent"));
    EXPECT_FALSE(hvb::copyImageToVolume(image, fs::path()));
    if (geteuid() != 0) {
        fs::permissions(volume, fs::perms::owner_read | fs::perms::owner_exec);
        TempDir::write(image, "changed");
        EXPECT_FALSE(hvb::copyImageToVolume(image, volume));
        fs::permissions(volume, fs::perms::owner_all);
    }
}

}  // namespace
