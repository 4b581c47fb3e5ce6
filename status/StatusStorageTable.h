#pragma once
// The recording time a camera's free space still holds, by model and recording setting: per
// model a reserve R the camera keeps for itself and a divisor D, the megabytes that 180 seconds
// of recording take. Some firmware reports its own reserve (Q) and size (P) through the
// reserved-space query. The table is data; the rules that read it are below.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hvb {

// The two settings the table reads; absent as a whole for a record without settings.
struct StorageSettings {
    int64_t resolution = -1;
    int64_t recordingMode = -1;
};

// The camera's own reserve Q and size P in megabytes; 0 means "not given".
struct ReservedSpace {
    double reserve = 0;
    double size = 0;
};

class StatusStorageTable {
public:
    static constexpr double kSecondsPerDivisor = 180.0;

    // Megabytes for one resolution setting.
    struct ByResolution {
        int64_t resolution = 0;
        double megabytes = 0;
    };
    struct ReserveRule {
        std::optional<double> always;             // the same reserve whatever the settings
        double modeNotZero = 600;                 // RECORDINGMODE other than 0
        double withoutSettings = 0;               // a record without settings
        bool usesCameraReserve = false;           // Q, when given, before the resolution
        std::span<const ByResolution> byResolution;  // RECORDINGMODE 0
        double otherResolution = 0;
    };
    struct DivisorRule {
        bool usesCameraSize = false;              // P, when given, before anything else
        std::optional<double> withoutSettings;
        std::span<const ByResolution> byResolution;  // a resolution not listed has no divisor
    };
    struct Row {
        std::array<std::string_view, 3> models;  // unused places empty
        ReserveRule reserve;
        DivisorRule divisor;
    };
    // Which firmware answers the reserved-space query, and which of its two parts count.
    struct CameraFigures {
        std::string_view model;
        int64_t minimumVersionNumber = 0;
        bool reportsReserve = false;
        bool reportsSize = false;
    };

    // Constant data: read by camera workers, so nothing here may be destroyed at exit.
    static std::span<const Row> rows();
    static std::span<const CameraFigures> cameraFigures();
    static const Row* rowFor(const std::string& model);

    static std::optional<double> reserveMB(const std::string& model, const std::optional<StorageSettings>& settings,
                                           const ReservedSpace& camera);
    static std::optional<double> divisorMB(const std::string& model, const std::optional<StorageSettings>& settings,
                                           const ReservedSpace& camera);
    // Seconds of recording that `availableMB` megabytes hold: max(A - R, 0) / D * 180; 0 for a
    // model outside the table or a setting without divisor.
    static double recordingSeconds(const std::string& model, const std::optional<StorageSettings>& settings,
                                   double availableMB, const ReservedSpace& camera);

    // Whether this model and firmware is asked for its reserved space.
    static bool readsReservedSpace(const std::string& model, std::optional<int64_t> fwVersionNumber);
    // Q and P from the reply's parts ("<reserve>-<size>"); both 0 unless there are exactly two.
    // A part that is not a finite, non-negative decimal number counts as 0.
    static ReservedSpace reservedSpaceFromParts(const std::string& model, const std::vector<std::string>& parts);
    static double figureValue(const std::string& text);
};

}  // namespace hvb
