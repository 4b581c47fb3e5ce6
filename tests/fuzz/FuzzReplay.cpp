// The plain-test form of a fuzz target: replays the corpus kept beside it (seeds and every input
// that once crashed) and a fixed-seed run of mutations of those inputs, so `make test` runs
// each parser on hostile bytes without a fuzzing engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr size_t kMutations = 4000;
constexpr size_t kMaxInput = 64 * 1024;

std::vector<Bytes> corpus() {
    std::vector<Bytes> inputs;
    std::vector<fs::path> files;
    for (const char* sub : {"seeds", "crashes"}) {
        const fs::path dir = fs::path(HVB_FUZZ_CORPUS) / sub;
        std::error_code ec;
        if (!fs::is_directory(dir, ec)) continue;
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());  // the same order, so the same mutations, every run
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        inputs.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    return inputs;
}

void run(const Bytes& input) {
    // A copy of exactly its size, so that a read past the end is caught by the sanitizers.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[std::max<size_t>(input.size(), 1)]);
    std::copy(input.begin(), input.end(), copy.get());
    LLVMFuzzerTestOneInput(input.empty() ? nullptr : copy.get(), input.size());
}

// One mutation of the kinds a fuzzing engine starts with: bit flips, interesting values, bytes
// inserted, erased or repeated, and splices of two inputs.
Bytes mutate(const Bytes& base, const Bytes& other, std::mt19937_64& random) {
    Bytes out = base;
    const int steps = 1 + static_cast<int>(random() % 4);
    for (int s = 0; s < steps; ++s) {
        const size_t at = out.empty() ? 0 : random() % out.size();
        switch (random() % 7) {
            case 0:
                if (!out.empty()) out[at] ^= static_cast<uint8_t>(1u << (random() % 8));
                break;
            case 1: {
                static const uint8_t interesting[] = {0x00, 0x01, 0x7F, 0x80, 0xFF, '\n', '=', '-', '<', '"', 0xC0, 0xED};
                if (!out.empty()) out[at] = interesting[random() % sizeof interesting];
                break;
            }
            case 2:
                out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), static_cast<uint8_t>(random()));
                break;
            case 3:
                if (!out.empty()) out.erase(out.begin() + static_cast<std::ptrdiff_t>(at));
                break;
            case 4: {
                if (out.empty()) break;
                const size_t length = std::min<size_t>(1 + random() % 16, out.size() - at);
                Bytes chunk(out.begin() + static_cast<std::ptrdiff_t>(at),
                            out.begin() + static_cast<std::ptrdiff_t>(at + length));
                out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), chunk.begin(), chunk.end());
                break;
            }
            case 5: {
                if (other.empty()) break;
                const size_t from = random() % other.size();
                out.resize(at);
                out.insert(out.end(), other.begin() + static_cast<std::ptrdiff_t>(from), other.end());
                break;
            }
            default: {
                // A 32-bit field overwritten with a boundary value (lengths and counts).
                static const uint32_t values[] = {0, 1, 2, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu, 16, 256, 4096};
                const uint32_t v = values[random() % (sizeof values / sizeof values[0])];
                for (int k = 0; k < 4 && at + static_cast<size_t>(k) < out.size(); ++k)
                    out[at + static_cast<size_t>(k)] = static_cast<uint8_t>(v >> (8 * k));
                break;
            }
        }
        if (out.size() > kMaxInput) out.resize(kMaxInput);
    }
    return out;
}

}  // namespace

TEST(HVB_FUZZ_SUITE, TheCorpusReplaysWithoutAFault) {
    const auto inputs = corpus();
    ASSERT_FALSE(inputs.empty()) << "no corpus in " << HVB_FUZZ_CORPUS;
    for (const auto& input : inputs) run(input);
    run({});
}

TEST(HVB_FUZZ_SUITE, AFixedSeedMutationRunFindsNoFault) {
    const auto inputs = corpus();
    ASSERT_FALSE(inputs.empty());
    std::mt19937_64 random(0x48564246);  // fixed: a failure repeats exactly
    for (size_t i = 0; i < kMutations; ++i) {
        const Bytes& base = inputs[random() % inputs.size()];
        const Bytes& other = inputs[random() % inputs.size()];
        run(mutate(base, other, random));
    }
}
