#include "app/StatusStorageTable.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace hvb {

namespace {

using ReserveRule = StatusStorageTable::ReserveRule;
using DivisorRule = StatusStorageTable::DivisorRule;

ReserveRule fixedReserve(double mb) {
    ReserveRule rule;
    rule.always = mb;
    return rule;
}

// Without settings the full reserve; in recording mode 0 it follows the resolution.
ReserveRule byResolution(std::map<int64_t, double> table, bool usesCameraReserve = false) {
    ReserveRule rule;
    rule.withoutSettings = 2300;
    rule.usesCameraReserve = usesCameraReserve;
    rule.byResolution = std::move(table);
    rule.otherResolution = 2300;
    return rule;
}

DivisorRule divisors(double withoutSettings, std::map<int64_t, double> table, bool usesCameraSize = false) {
    return DivisorRule{usesCameraSize, withoutSettings, std::move(table)};
}

std::vector<StatusStorageTable::Row> makeRows() {
    ReserveRule hw7312;  // no reserve in recording mode 0, nor without settings
    hw7312.withoutSettings = 0;
    hw7312.otherResolution = 0;
    return {
        {{"HVBR4"}, fixedReserve(600), divisors(282, {{0, 282}, {1, 167}})},
        {{"HVBR4B"}, fixedReserve(600), divisors(260, {{0, 260}, {1, 145}})},
        {{"HVBR7"}, fixedReserve(600), divisors(273.7, {{0, 273.7}, {1, 158.7}})},
        {{"HVBS8"}, fixedReserve(600), divisors(355, {{0, 355}, {1, 181}})},
        {{"HW7312", "HW7313"}, hw7312, divisors(346, {{0, 346}, {1, 214}, {2, 153}, {3, 82.7}, {4, 78}}, true)},
        {{"HVBS2A"}, byResolution({{1, 1800}, {2, 1300}}), divisors(181, {{0, 181}, {1, 150}, {2, 78}})},
        {{"HVBT3A", "HW7351", "HW7352"}, byResolution({{1, 1800}, {2, 1300}}),
         divisors(171, {{0, 171}, {1, 150}, {2, 78}})},
        {{"HW7331", "HW7332"}, byResolution({{2, 1800}, {3, 1800}, {4, 1300}}),
         divisors(219, {{0, 219}, {1, 219}, {2, 156}, {3, 86.2}, {4, 78}})},
        {{"HW7333", "HW7334"}, byResolution({{3, 1300}, {4, 1300}}, true),
         divisors(252, {{0, 252}, {1, 252}, {2, 252}, {3, 84}, {4, 32}}, true)},
        {{"HW7360"}, byResolution({{2, 1300}, {3, 1300}}, true),
         divisors(252, {{0, 252}, {1, 252}, {2, 84}, {3, 32}}, true)},
    };
}

}  // namespace

const std::vector<StatusStorageTable::Row>& StatusStorageTable::rows() {
    static const std::vector<Row> table = makeRows();
    return table;
}

const std::vector<StatusStorageTable::CameraFigures>& StatusStorageTable::cameraFigures() {
    // HW7312 and HW7334 share their neighbours' rows but not the query.
    static const std::vector<CameraFigures> figures = {
        {"HW7313", 10009, false, true},
        {"HW7333", 10501, true, true},
        {"HW7360", 10301, true, true},
    };
    return figures;
}

const StatusStorageTable::Row* StatusStorageTable::rowFor(const std::string& model) {
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
    auto it = rule.byResolution.find(settings->resolution);
    return it != rule.byResolution.end() ? it->second : rule.otherResolution;
}

std::optional<double> StatusStorageTable::divisorMB(const std::string& model,
                                                    const std::optional<StorageSettings>& settings,
                                                    const ReservedSpace& camera) {
    const Row* row = rowFor(model);
    if (!row) return std::nullopt;
    const DivisorRule& rule = row->divisor;
    if (rule.usesCameraSize && camera.size > 0) return camera.size;
    if (!settings) return rule.withoutSettings;
    auto it = rule.byResolution.find(settings->resolution);
    if (it == rule.byResolution.end()) return std::nullopt;
    return it->second;
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
