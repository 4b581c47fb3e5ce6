#include "camera/VersionNumber.h"

#include <algorithm>

namespace hvb {

namespace {

// Texts with three or more dots lose their last dot and what follows it.
std::string_view cutFourthPart(std::string_view text, bool orAtUnderscore) {
    const auto dots = std::count(text.begin(), text.end(), '.');
    if (dots >= 3) return text.substr(0, text.rfind('.'));
    if (orAtUnderscore) {
        if (const auto underscore = text.rfind('_'); underscore != std::string_view::npos)
            return text.substr(0, underscore);
    }
    return text;
}

// An optional single sign followed by one or more ASCII digits, within int64.
bool readComponent(std::string_view part, int64_t& value) {
    bool negative = false;
    if (!part.empty() && (part.front() == '+' || part.front() == '-')) {
        negative = part.front() == '-';
        part.remove_prefix(1);
    }
    if (part.empty()) return false;
    int64_t v = 0;
    for (char c : part) {
        if (c < '0' || c > '9') return false;
        const int digit = c - '0';
        // Accumulate on the negative side so that INT64_MIN itself reads.
        if (__builtin_mul_overflow(v, 10, &v) || __builtin_sub_overflow(v, digit, &v)) return false;
    }
    if (!negative && __builtin_mul_overflow(v, -1, &v)) return false;
    value = v;
    return true;
}

}  // namespace

int64_t parseVersionNumber(std::string_view text) {
    text = cutFourthPart(text, true);
    int64_t sum = 0;
    int64_t weight = 10000;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        const std::string_view part =
            text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        int64_t value = 0;
        if (!readComponent(part, value)) return -1;
        int64_t weighted = 0;
        if (__builtin_mul_overflow(value, weight, &weighted) || __builtin_add_overflow(sum, weighted, &sum))
            return -1;
        weight /= 100;
        if (dot == std::string_view::npos) return sum;
        start = dot + 1;
    }
}

int commandTableIndex(const std::string& model, const std::string& versionText) {
    const int64_t v = parseVersionNumber(cutFourthPart(versionText, false));
    if (v < 1) return 0;
    const auto& thresholds = fwVersionThresholds();
    const auto it = thresholds.find(model);
    if (it == thresholds.end() || it->second.empty()) return 0;
    const auto& list = it->second;
    const int64_t first = parseVersionNumber(list[0]);
    if (first < 1 || v < first) return 0;
    for (std::size_t i = 1; i < list.size(); ++i) {
        const int64_t t = parseVersionNumber(list[i]);
        if (t < 1) return 0;
        if (t > v) return static_cast<int>(i - 1);
    }
    return static_cast<int>(list.size() - 1);
}

const std::map<std::string, std::vector<std::string>>& fwVersionThresholds() {
    static const auto& thresholds = *new const std::map<std::string, std::vector<std::string>>{
        {"HVBR4", {"0.0.01", "1.4.00", "1.5.00", "1.7.00", "1.8.00"}},
        {"HVBR7", {"0.0.01", "1.2.00", "1.3.99", "1.6.01"}},
        {"HVBS8", {"0.0.01", "1.3.00", "1.4.01", "1.7.04"}},
        {"HVBS2A", {"0.0.01", "1.0.00", "1.6.00", "1.7.00", "1.10.00", "1.10.01", "1.13.0"}},
        {"HVBR4B", {"0.0.01", "1.0.0"}},
        {"HVBT3A", {"0.0.01", "1.0.00", "1.1.00", "1.1.02", "1.3.0"}},
        {"HW7312", {"0.0.01", "1.0.00"}},
        {"HW7313", {"0.0.01", "1.0.00"}},
        {"HW7331", {"0.0.01", "1.1.0", "1.3.0"}},
        {"HW7332", {"0.0.01", "1.0.2"}},
        {"HW7333", {"0.0.01", "1.0.0"}},
        {"HW7334", {"0.0.01", "1.0.0"}},
        {"HW7351", {"0.0.01", "1.1.0"}},
        {"HW7352", {"0.0.01", "1.0.2"}},
        {"HW7360", {"0.0.01", "1.0.0"}},
    };
    return thresholds;
}

}  // namespace hvb
