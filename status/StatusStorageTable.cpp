#include "status/StatusStorageTable.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace hvb {

namespace {

using ByResolution = StatusStorageTable::ByResolution;
using ReserveRule = StatusStorageTable::ReserveRule;
using DivisorRule = StatusStorageTable::DivisorRule;
using Row = StatusStorageTable::Row;

constexpr ReserveRule fixedReserve(double mb) {
    ReserveRule rule;
    rule.always = mb;
    return rule;
}

// Without settings the full reserve; in recording mode 0 it follows the resolution.
constexpr ReserveRule byResolution(std::span<const ByResolution> table, bool usesCameraReserve = false) {
    ReserveRule rule;
    rule.withoutSettings = 2300;
    rule.usesCameraReserve = usesCameraReserve;
    rule.byResolution = table;
    rule.otherResolution = 2300;
    return rule;
}

constexpr DivisorRule divisors(double withoutSettings, std::span<const ByResolution> table,
                               bool usesCameraSize = false) {
    return DivisorRule{usesCameraSize, withoutSettings, table};
}

constexpr ReserveRule kHW7312Reserve = [] {
    ReserveRule rule;  // no reserve in recording mode 0, nor without settings
    rule.withoutSettings = 0;
    rule.otherResolution = 0;
    return rule;
}();

constexpr ByResolution kR4Divisors[] = {{0, 282}, {1, 167}};
constexpr ByResolution kR4BDivisors[] = {{0, 260}, {1, 145}};
constexpr ByResolution kR7Divisors[] = {{0, 273.7}, {1, 158.7}};
constexpr ByResolution kS8Divisors[] = {{0, 355}, {1, 181}};
constexpr ByResolution kHW7312Divisors[] = {{0, 346}, {1, 214}, {2, 153}, {3, 82.7}, {4, 78}};
constexpr ByResolution kS2AReserves[] = {{1, 1800}, {2, 1300}};
constexpr ByResolution kS2ADivisors[] = {{0, 181}, {1, 150}, {2, 78}};
constexpr ByResolution kT3ADivisors[] = {{0, 171}, {1, 150}, {2, 78}};
constexpr ByResolution kHW7331Reserves[] = {{2, 1800}, {3, 1800}, {4, 1300}};
constexpr ByResolution kHW7331Divisors[] = {{0, 219}, {1, 219}, {2, 156}, {3, 86.2}, {4, 78}};
constexpr ByResolution kHW7333Reserves[] = {{3, 1300}, {4, 1300}};
constexpr ByResolution kHW7333Divisors[] = {{0, 252}, {1, 252}, {2, 252}, {3, 84}, {4, 32}};
constexpr ByResolution kHW7360Reserves[] = {{2, 1300}, {3, 1300}};
constexpr ByResolution kHW7360Divisors[] = {{0, 252}, {1, 252}, {2, 84}, {3, 32}};

constexpr Row kRows[] = {
    {{"HVBR4"}, fixedReserve(600), divisors(282, kR4Divisors)},
    {{"HVBR4B"}, fixedReserve(600), divisors(260, kR4BDivisors)},
    {{"HVBR7"}, fixedReserve(600), divisors(273.7, kR7Divisors)},
    {{"HVBS8"}, fixedReserve(600), divisors(355, kS8Divisors)},
    {{"HW7312", "HW7313"}, kHW7312Reserve, divisors(346, kHW7312Divisors, true)},
    {{"HVBS2A"}, byResolution(kS2AReserves), divisors(181, kS2ADivisors)},
    {{"HVBT3A", "HW7351", "HW7352"}, byResolution(kS2AReserves), divisors(171, kT3ADivisors)},
    {{"HW7331", "HW7332"}, byResolution(kHW7331Reserves), divisors(219, kHW7331Divisors)},
    {{"HW7333", "HW7334"}, byResolution(kHW7333Reserves, true), divisors(252, kHW7333Divisors, true)},
    {{"HW7360"}, byResolution(kHW7360Reserves, true), divisors(252, kHW7360Divisors, true)},
};

// HW7312 and HW7334 share their neighbours' rows but not the query.
constexpr StatusStorageTable::CameraFigures kCameraFigures[] = {
    {"HW7313", 10009, false, true},
    {"HW7333", 10501, true, true},
    {"HW7360", 10301, true, true},
};

std::optional<double> figureFor(std::span<const ByResolution> table, int64_t resolution) {
    for (const ByResolution& figure : table)
        if (figure.resolution == resolution) return figure.megabytes;
    return std::nullopt;
}

}  // namespace

std::span<const StatusStorageTable::Row> StatusStorageTable::rows() { return kRows; }

std::span<const StatusStorageTable::CameraFigures> StatusStorageTable::cameraFigures() { return kCameraFigures; }

const StatusStorageTable::Row* StatusStorageTable::rowFor(const std::string& model) {
    if (model.empty()) return nullptr;
    for (const Row& row : rows())
        if (std::find(row.models.begin(), row.models.end(), model) != row.models.end()) return &row;
    return nullptr;
}

std::optional<double> StatusStorageTable::reserveMB(const std::string& model,
                                                    const std::optional<StorageSettings>& settings,
                                                    const ReservedSpace& camera) {
    const Row* row = rowFor(model);
    if (!row) return std::nullopt;
    const ReserveRule& rule = row->reserve;
    if (rule.always) return *rule.always;
    const bool cameraReserve = rule.usesCameraReserve && camera.reserve > 0;
    if (!settings) return cameraReserve ? camera.reserve : rule.withoutSettings;
    if (settings->recordingMode != 0) return rule.modeNotZero;
    if (cameraReserve) return camera.reserve;
    return figureFor(rule.byResolution, settings->resolution).value_or(rule.otherResolution);
}

std::optional<double> StatusStorageTable::divisorMB(const std::string& model,
                                                    const std::optional<StorageSettings>& settings,
                                                    const ReservedSpace& camera) {
    const Row* row = rowFor(model);
    if (!row) return std::nullopt;
    const DivisorRule& rule = row->divisor;
    if (rule.usesCameraSize && camera.size > 0) return camera.size;
    if (!settings) return rule.withoutSettings;
    return figureFor(rule.byResolution, settings->resolution);
}

double StatusStorageTable::recordingSeconds(const std::string& model, const std::optional<StorageSettings>& settings,
                                            double availableMB, const ReservedSpace& camera) {
    auto reserve = reserveMB(model, settings, camera);
    auto divisor = divisorMB(model, settings, camera);
    if (!reserve || !divisor || !(*divisor > 0)) return 0;
    const double usable = std::max(availableMB - *reserve, 0.0);
    return usable / *divisor * kSecondsPerDivisor;
}

bool StatusStorageTable::readsReservedSpace(const std::string& model, std::optional<int64_t> fwVersionNumber) {
    if (!fwVersionNumber) return false;
    for (const CameraFigures& figures : cameraFigures())
        if (figures.model == model) return *fwVersionNumber >= figures.minimumVersionNumber;
    return false;
}

double StatusStorageTable::figureValue(const std::string& text) {
    double value = 0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    auto [ptr, ec] = std::from_chars(begin, end, value, std::chars_format::general);
    if (ec != std::errc() || ptr != end) return 0;
    if (!std::isfinite(value) || value < 0) return 0;
    return value;
}

ReservedSpace StatusStorageTable::reservedSpaceFromParts(const std::string& model,
                                                         const std::vector<std::string>& parts) {
    ReservedSpace space;
    if (parts.size() != 2) return space;
    for (const CameraFigures& figures : cameraFigures()) {
        if (figures.model != model) continue;
        if (figures.reportsReserve) space.reserve = figureValue(parts[0]);
        if (figures.reportsSize) space.size = figureValue(parts[1]);
    }
    return space;
}

}  // namespace hvb
