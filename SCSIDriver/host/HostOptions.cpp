#include "SCSIDriver/host/HostOptions.h"

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/foundation/Paths.h"
#include "platform/foundation/Strings.h"

namespace hvb::driverhost {

namespace fs = std::filesystem;

namespace {

const std::set<std::string> kCameraKeys = {"model", "firmware", "serial", "uid",      "label",
                                           "bsd",   "volume",   "stamp",  "timezone", "password"};

bool printable(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

}  // namespace

std::string CameraDescription::field(const std::string& key, const std::string& fallback) const {
    auto it = fields.find(key);
    return it == fields.end() || it->second.empty() ? fallback : it->second;
}

std::optional<CameraDescription> parseCameraDescription(const std::vector<std::string>& words, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<CameraDescription> {
        if (error) *error = why;
        return std::nullopt;
    };
    CameraDescription description;
    for (size_t i = 0; i < words.size(); ++i) {
        std::string word(foundation::trimmed(words[i]));
        if (word.empty()) continue;
        if (!printable(word) || word.size() > 256) return fail("camera: unreadable item");
        size_t eq = word.find('=');
        if (eq == std::string::npos) {
            if (i != 0 || !description.model.empty()) return fail("camera: \"" + word + "\" is not key=value");
            description.model = word;
            continue;
        }
        std::string key = word.substr(0, eq);
        std::string value = word.substr(eq + 1);
        if (!kCameraKeys.count(key)) return fail("camera: unknown key \"" + key + "\"");
        if (key == "model") description.model = value;
        else description.fields[key] = value;
    }
    if (description.model.empty()) return fail("camera: no model");
    return description;
}

std::optional<CameraDescription> parseCameraDescription(const std::string& text, std::string* error) {
    std::vector<std::string> words;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) words.push_back(item);
    return parseCameraDescription(words, error);
}

fs::path HostOptions::socketPath() const { return root / "run/halvetor/iokit.sock"; }
fs::path HostOptions::pidFile() const { return root / "run/halvetor" / (std::string(kHostName) + ".pid"); }
fs::path HostOptions::effectiveLogFile() const {
    return logFile.empty() ? root / "var/log/halvetor" / (std::string(kHostName) + ".log") : logFile;
}
fs::path HostOptions::effectiveConfigFile() const {
    return configFile.empty() ? root / "etc/halvetor/driver.conf" : configFile;
}
Backend HostOptions::effectiveBackend() const {
    if (backend) return *backend;
    return root.lexically_normal() == "/" ? Backend::linux : Backend::simulation;
}

std::optional<HostOptions> parseArguments(const std::vector<std::string>& arguments, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<HostOptions> {
        if (error) *error = why;
        return std::nullopt;
    };
    HostOptions options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        auto next = [&](std::string* out) {
            if (i + 1 >= arguments.size()) return false;
            *out = arguments[++i];
            return true;
        };
        std::string value;
        if (a == "--help" || a == "-h") {
            options.mode = Mode::help;
        } else if (a == "--root") {
            if (!next(&value) || value.empty()) return fail("--root needs a folder");
            options.root = value;
        } else if (a == "--backend") {
            if (!next(&value)) return fail("--backend needs linux or simulation");
            if (value == "linux") options.backend = Backend::linux;
            else if (value == "simulation") options.backend = Backend::simulation;
            else return fail("--backend needs linux or simulation");
        } else if (a == "--camera") {
            if (!next(&value)) return fail("--camera needs a description");
            auto description = parseCameraDescription(value, error);
            if (!description) return std::nullopt;
            options.cameras.push_back(*description);
        } else if (a == "--group") {
            if (!next(&value)) return fail("--group needs a name");
            options.group = value;
        } else if (a == "--log") {
            if (!next(&value) || value.empty()) return fail("--log needs a file");
            options.logFile = value;
        } else if (a == "--config") {
            if (!next(&value) || value.empty()) return fail("--config needs a file");
            options.configFile = value;
        } else if (a == "--daemon") {
            options.daemon = true;
        } else if (a == "--debug") {
            options.debug = true;
        } else if (a == "--ping") {
            options.mode = Mode::ping;
        } else if (a == "--control") {
            options.mode = Mode::control;
            options.controlArguments.assign(arguments.begin() + static_cast<long>(i) + 1, arguments.end());
            if (options.controlArguments.empty()) return fail("--control needs a request (plug, unplug, list, stats)");
            break;
        } else {
            return fail("unknown argument \"" + a + "\"");
        }
    }
    if (const char* debug = std::getenv("HVB_HOST_DEBUG"); debug && *debug && std::string(debug) != "0") {
        options.debug = true;
    }
    if (options.root.empty()) options.root = foundation::paths::systemRoot();
    // The daemon leaves the working folder; every path is made absolute before it does.
    std::error_code ec;
    options.root = fs::absolute(options.root, ec).lexically_normal();
    // A root whose real path is "/" is the real system, as the installer and the socket's
    // admission take it.
    if (fs::weakly_canonical(options.root, ec) == "/" && !ec) options.root = "/";
    if (!options.logFile.empty()) options.logFile = fs::absolute(options.logFile, ec);
    if (!options.configFile.empty()) options.configFile = fs::absolute(options.configFile, ec);
    return options;
}

bool applyConfigFile(HostOptions& options, std::string* error) {
    std::ifstream in(options.effectiveConfigFile());
    if (!in) return true;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return applyConfigText(options, text, error);
}

bool applyConfigText(HostOptions& options, const std::string& text, std::string* error) {
    std::istringstream in(text);
    bool camerasGiven = !options.cameras.empty();
    std::string line;
    int number = 0;
    while (std::getline(in, line) && number < 10000) {
        ++number;
        line = std::string(foundation::trimmed(line));
        if (line.empty() || line[0] == '#') continue;
        size_t space = line.find_first_of(" \t");
        std::string key = line.substr(0, space);
        std::string value = space == std::string::npos ? std::string() : std::string(foundation::trimmed(line.substr(space)));
        auto fail = [&](const std::string& why) {
            if (error) *error = options.effectiveConfigFile().string() + ":" + std::to_string(number) + ": " + why;
            return false;
        };
        if (key == "backend") {
            if (value != "linux" && value != "simulation") return fail("backend is linux or simulation");
            if (!options.backend) options.backend = value == "linux" ? Backend::linux : Backend::simulation;
        } else if (key == "group") {
            if (value.empty()) return fail("group needs a name");
            options.group = value;
        } else if (key == "camera") {
            std::string why;
            auto description = parseCameraDescription(value, &why);
            if (!description) return fail(why);
            if (!camerasGiven) options.cameras.push_back(*description);
        } else {
            return fail("unknown setting \"" + key + "\"");
        }
    }
    return true;
}

std::string usage() {
    return std::string("usage: ") + kHostName +
           " [--root DIR] [--backend linux|simulation] [--camera CAMERA]... [--group NAME]\n"
           "       [--log FILE] [--config FILE] [--daemon] [--debug]\n"
           "   or: " + kHostName + " [--root DIR] --ping\n"
           "   or: " + kHostName + " [--root DIR] --control plug MODEL [key=value]...\n"
           "   or: " + kHostName + " [--root DIR] --control unplug SERIAL\n"
           "   or: " + kHostName + " [--root DIR] --control list\n"
           "   or: " + kHostName + " [--root DIR] --control stats\n"
           "CAMERA: model=MODEL,firmware=VERSION,serial=SERIAL[,uid=..][,label=..][,bsd=..][,volume=DIR]"
           "[,stamp=..][,timezone=..][,password=..]\n";
}

}  // namespace hvb::driverhost
