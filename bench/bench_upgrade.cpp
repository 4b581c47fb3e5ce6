// The firmware package work of the upgrade on a 64 MB package (traditional encryption, an
// image that barely compresses, as firmware does): the whole-file MD5 of the download check and
// the vetted extraction into a fresh scratch folder, each next to the system's md5sum and
// unzip -P on the same file. Compare the pairs: "ours" over "tool" is the ratio.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include <zip.h>

#include "online/FirmwareManager.h"
#include "online/FirmwarePackage.h"
#include "platform/foundation/Process.h"
#include "tools/FirmwareUpgradeWorker.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kImageBytes = 64u * 1024 * 1024;
const char* const kImage = "FWHVBR7.bin";

struct Package {
    fs::path folder;
    fs::path file;
    std::string image;
    Package() {
        char pattern[] = "/tmp/hvb-bench-upgrade-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        folder = pattern;
        file = folder / "FWHVBR7.zip";
        image.resize(kImageBytes);
        uint32_t x = 2166136261u;
        for (size_t i = 0; i < image.size(); ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            // One byte in eight repeats: a little for deflate to find.
            image[i] = static_cast<char>((i & 7) == 0 ? 0 : (x & 0xFF));
        }
        int error = 0;
        zip_t* za = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        if (!za) std::abort();
        zip_source_t* source = zip_source_buffer(za, image.data(), image.size(), 0);
        const zip_int64_t index = zip_file_add(za, kImage, source, ZIP_FL_ENC_UTF_8);
        if (index < 0 ||
            zip_file_set_encryption(za, static_cast<zip_uint64_t>(index), ZIP_EM_TRAD_PKWARE,
                                    hvb::FirmwareUpgradeWorker::kPackagePassword) != 0 ||
            zip_close(za) != 0)
            std::abort();
    }
    ~Package() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
};

Package& package() {
    static Package p;
    return p;
}

void BM_Md5_Ours(benchmark::State& state) {
    const auto& p = package();
    for (auto _ : state) {
        auto sum = hvb::FirmwareManager::calculateChecksum(p.file);
        if (!sum) state.SkipWithError("no checksum");
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(p.file)));
}

void BM_Md5_md5sum(benchmark::State& state) {
    const auto& p = package();
    for (auto _ : state) {
        auto r = foundation::runProcess({"md5sum", p.file.string()});
        if (!r.launched || r.exitStatus != 0) state.SkipWithError("md5sum failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(p.file)));
}

void BM_Unpack_Ours(benchmark::State& state) {
    const auto& p = package();
    for (auto _ : state) {
        hvb::ScratchFolder scratch;
        auto r = hvb::unpackFirmwarePackage(p.file, hvb::FirmwareUpgradeWorker::kPackagePassword, kImage,
                                            scratch.path());
        if (r.status != hvb::PackageStatus::ok) state.SkipWithError("unpack failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImageBytes));
}

void BM_Unpack_unzip(benchmark::State& state) {
    const auto& p = package();
    for (auto _ : state) {
        hvb::ScratchFolder scratch;
        auto r = foundation::runProcess({"unzip", "-o", "-q", "-P", hvb::FirmwareUpgradeWorker::kPackagePassword,
                                         p.file.string(), "-d", scratch.path().string()});
        if (!r.launched || r.exitStatus != 0) state.SkipWithError("unzip failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImageBytes));
}

BENCHMARK(BM_Md5_Ours)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Md5_md5sum)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Unpack_Ours)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Unpack_unzip)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace
