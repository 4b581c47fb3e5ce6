#pragma once
// The average power of each channel of interleaved audio samples, in dB below full scale:
// 20·log10 of the root mean square, full scale being 1. Silence gives minus infinity.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace services {

enum class SampleFormat { unsigned8, signed16, signed32, float32 };

// `data` holds whole frames of `channels` interleaved samples; a trailing partial frame is
// ignored. No channels or no frames give an empty result.
std::vector<float> channelPowerDb(std::span<const std::byte> data, int channels, SampleFormat format);

}  // namespace services
