#pragma once
// What the webcam test decides without a window: which of the system's capture devices belong
// to the camera, and how far the level bar reaches for a microphone level. Qt-free.
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace hvb {

class WebcamTestRules {
public:
    // The camera's devices carry this in their names (case-sensitive).
    static constexpr const char* kDeviceNameMark = "HVB";
    // Levels at or below this many dB show an empty bar, 0 dB a full one.
    static constexpr float kSilenceDb = -30.0f;

    // The indexes of the first video and the first audio device whose names carry the mark;
    // none unless both lists have one.
    static std::optional<std::pair<size_t, size_t>> chooseDevices(const std::vector<std::string>& videoNames,
                                                                  const std::vector<std::string>& audioNames);
    // The bar's fraction for one buffer's per-channel levels: the second channel when there is
    // one, else the first; none without a channel (the bar stays). Clamped to 0 ... 1; a level
    // that is not finite counts as silence.
    static std::optional<double> levelProgress(const std::vector<float>& channelPowerDb);
};

}  // namespace hvb
