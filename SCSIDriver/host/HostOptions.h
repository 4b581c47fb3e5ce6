#pragma once
// The driver host's command line and its configuration file.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace hvb::driverhost {

constexpr const char* kHostName = "com_brevantis_driver_HVBSCSIDriver";

// A simulated camera to plug in: "HVBR7 firmware=1.6.01 serial=..." as words, or one text
// "model=HVBR7,firmware=1.6.01,serial=...".
struct CameraDescription {
    std::string model;
    std::map<std::string, std::string> fields;  // firmware, serial, uid, label, ...

    std::string field(const std::string& key, const std::string& fallback = {}) const;
};

// Parses a camera from words (each "key=value", the first may be the bare model). Unknown
// keys, a missing model, empty or control characters fail with the reason.
std::optional<CameraDescription> parseCameraDescription(const std::vector<std::string>& words, std::string* error);
// The same from one text whose items are separated by commas.
std::optional<CameraDescription> parseCameraDescription(const std::string& text, std::string* error);

enum class Backend { linux, simulation };
enum class Mode { serve, control, ping, help };

struct HostOptions {
    Mode mode = Mode::serve;
    std::filesystem::path root;  // the system root; HVB_ROOT or "/" when not given
    std::optional<Backend> backend;
    std::vector<CameraDescription> cameras;
    std::string group = "halvetor";
    std::filesystem::path logFile;     // empty: <root>/var/log/halvetor/<host>.log
    std::filesystem::path configFile;  // empty: <root>/etc/halvetor/driver.conf
    bool daemon = false;
    bool debug = false;  // the driver's lines for every call go to the log as well
    std::vector<std::string> controlArguments;

    std::filesystem::path socketPath() const;
    std::filesystem::path pidFile() const;
    std::filesystem::path effectiveLogFile() const;
    std::filesystem::path effectiveConfigFile() const;
    // The backend in use: as given, else simulation in a sandbox root and Linux on "/".
    Backend effectiveBackend() const;
};

// Parses argv; nullopt with the reason on a usage error. HVB_HOST_DEBUG set (not "0") is as
// --debug.
std::optional<HostOptions> parseArguments(const std::vector<std::string>& arguments, std::string* error);
// Reads "backend", "group" and "camera" lines; settings given on the command line win. A
// missing file is no error.
bool applyConfigFile(HostOptions& options, std::string* error);
// The same from the file's text; errors name the file all the same.
bool applyConfigText(HostOptions& options, const std::string& text, std::string* error);

std::string usage();

}  // namespace hvb::driverhost
