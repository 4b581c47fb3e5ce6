#include "tools/WebcamTestRules.h"

#include <algorithm>
#include <cmath>

namespace hvb {

std::optional<std::pair<size_t, size_t>> WebcamTestRules::chooseDevices(const std::vector<std::string>& videoNames,
                                                                        const std::vector<std::string>& audioNames) {
    auto firstMarked = [](const std::vector<std::string>& names) -> std::optional<size_t> {
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i].find(kDeviceNameMark) != std::string::npos) return i;
        return std::nullopt;
    };
    auto video = firstMarked(videoNames);
    auto audio = firstMarked(audioNames);
    if (!video || !audio) return std::nullopt;
    return std::make_pair(*video, *audio);
}

std::optional<double> WebcamTestRules::levelProgress(const std::vector<float>& channelPowerDb) {
    if (channelPowerDb.empty()) return std::nullopt;
    const float level = channelPowerDb.size() >= 2 ? channelPowerDb[1] : channelPowerDb[0];
    if (!std::isfinite(level)) return 0.0;
    const float progress = (level - kSilenceDb) / -kSilenceDb;
    return std::clamp(static_cast<double>(progress), 0.0, 1.0);
}

}  // namespace hvb
