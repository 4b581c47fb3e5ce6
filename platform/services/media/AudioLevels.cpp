#include "platform/services/media/AudioLevels.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace services {

namespace {

size_t sampleSize(SampleFormat format) {
    switch (format) {
        case SampleFormat::unsigned8: return 1;
        case SampleFormat::signed16: return 2;
        case SampleFormat::signed32:
        case SampleFormat::float32: return 4;
    }
    return 1;
}

// One sample scaled to -1 ... 1.
double sampleAt(const std::byte* p, SampleFormat format) {
    switch (format) {
        case SampleFormat::unsigned8: return (static_cast<double>(std::to_integer<uint8_t>(*p)) - 128.0) / 128.0;
        case SampleFormat::signed16: {
            int16_t v;
            std::memcpy(&v, p, sizeof v);
            return v / 32768.0;
        }
        case SampleFormat::signed32: {
            int32_t v;
            std::memcpy(&v, p, sizeof v);
            return v / 2147483648.0;
        }
        case SampleFormat::float32: {
            float v;
            std::memcpy(&v, p, sizeof v);
            return std::isfinite(v) ? static_cast<double>(v) : 0.0;
        }
    }
    return 0.0;
}

}  // namespace

std::vector<float> channelPowerDb(std::span<const std::byte> data, int channels, SampleFormat format) {
    if (channels <= 0) return {};
    const size_t size = sampleSize(format);
    const size_t frameBytes = size * static_cast<size_t>(channels);
    const size_t frames = data.size() / frameBytes;
    if (frames == 0) return {};
    std::vector<double> sums(static_cast<size_t>(channels), 0.0);
    for (size_t f = 0; f < frames; ++f) {
        const std::byte* frame = data.data() + f * frameBytes;
        for (int c = 0; c < channels; ++c) {
            const double v = sampleAt(frame + static_cast<size_t>(c) * size, format);
            sums[static_cast<size_t>(c)] += v * v;
        }
    }
    std::vector<float> levels;
    levels.reserve(sums.size());
    for (double sum : sums) {
        const double rms = std::sqrt(sum / static_cast<double>(frames));
        levels.push_back(rms > 0 ? static_cast<float>(20.0 * std::log10(rms)) : -std::numeric_limits<float>::infinity());
    }
    return levels;
}

}  // namespace services
