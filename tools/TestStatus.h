#pragma once
// The step the webcam test is at: the picture first, then the microphone.
#include <cstdint>

namespace hvb {

enum class TestStatus : uint8_t { videoTest = 0, audioTest = 1 };

}  // namespace hvb
