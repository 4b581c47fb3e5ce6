#include "SCSIDriver/host/SimulationBackend.h"

#include <optional>

#include "platform/iokit/kern/IOLib.h"
#include "standins/camera/CameraProfile.h"

namespace hvb::driverhost {

namespace {

const hvb::sim::CameraProfile* profileFor(const CameraDescription& description) {
    std::string firmware = description.field("firmware");
    if (!firmware.empty()) return hvb::sim::findCameraProfile(description.model, firmware);
    for (const auto& profile : hvb::sim::cameraProfiles()) {
        if (profile.model == description.model) return &profile;
    }
    return nullptr;
}

// The folder with every link resolved, when it lies inside the root; nullopt otherwise.
std::optional<std::filesystem::path> folderInside(const std::filesystem::path& root, const std::string& folder) {
    namespace fs = std::filesystem;
    if (folder.empty() || fs::path(folder).is_relative()) return std::nullopt;
    std::error_code ec;
    const fs::path base = fs::weakly_canonical(root.empty() ? fs::path("/") : root, ec);
    if (ec) return std::nullopt;
    const fs::path resolved = fs::weakly_canonical(folder, ec);
    if (ec) return std::nullopt;
    auto b = base.begin();
    auto r = resolved.begin();
    for (; b != base.end() && !b->empty(); ++b, ++r)
        if (r == resolved.end() || *r != *b) return std::nullopt;
    return resolved;
}

}  // namespace

SimulationBackend::SimulationBackend(std::filesystem::path root) : root_(std::move(root)), bus_(ownBus_) {}

SimulationBackend::SimulationBackend(std::filesystem::path root, hvb::sim::SimulatedUsbBus& bus)
    : root_(std::move(root)), bus_(bus) {}

SimulationBackend::~SimulationBackend() { unplugAll(); }

IOReturn SimulationBackend::plug(const CameraDescription& description, std::string* reply) {
    const hvb::sim::CameraProfile* profile = profileFor(description);
    if (!profile) {
        if (reply) *reply = "no simulated camera of model " + description.model + " firmware " + description.field("firmware", "(any)");
        return kIOReturnBadArgument;
    }
    hvb::sim::BodyCameraOptions options;
    options.serialNumber = description.field("serial");
    options.uid = description.field("uid");
    options.bsdName = description.field("bsd", options.bsdName);
    if (const std::string volume = description.field("volume"); !volume.empty()) {
        auto inside = folderInside(root_, volume);
        if (!inside) {
            if (reply) *reply = "the volume folder must lie inside " + root_.string();
            return kIOReturnBadArgument;
        }
        options.volumeFolder = *inside;
    }
    options.label = description.field("label", options.label);
    options.personalStamp = description.field("stamp", options.personalStamp);
    options.timeZone = description.field("timezone", options.timeZone);
    options.password = description.field("password");
    auto camera = hvb::sim::SimulatedBodyCamera::make(*profile, options);
    std::string serial = camera->serialNumber();
    std::lock_guard<std::mutex> guard(lock_);
    if (cameras_.size() >= kMaxCameras) {
        if (reply) *reply = "no more than " + std::to_string(kMaxCameras) + " simulated cameras";
        return kIOReturnNoResources;
    }
    if (serial.empty() || cameras_.count(serial)) {
        if (reply) *reply = "a camera with serial number \"" + serial + "\" is plugged in already";
        return kIOReturnExclusiveAccess;
    }
    if (!camera->attach(bus_)) {
        if (reply) *reply = "the camera could not join the bus";
        return kIOReturnError;
    }
    cameras_[serial] = camera;
    IOLog("simulation: plugged %s %s %s\n", profile->model.c_str(), profile->firmware.c_str(), serial.c_str());
    if (reply) *reply = serial;
    return kIOReturnSuccess;
}

IOReturn SimulationBackend::unplug(const std::string& serialNumber, std::string* reply) {
    std::shared_ptr<hvb::sim::SimulatedBodyCamera> camera;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = cameras_.find(serialNumber);
        if (it == cameras_.end()) {
            if (reply) *reply = "no camera with serial number \"" + serialNumber + "\"";
            return kIOReturnNotFound;
        }
        camera = it->second;
        cameras_.erase(it);
    }
    camera->detach();
    IOLog("simulation: unplugged %s\n", serialNumber.c_str());
    if (reply) *reply = serialNumber;
    return kIOReturnSuccess;
}

void SimulationBackend::unplugAll() {
    std::map<std::string, std::shared_ptr<hvb::sim::SimulatedBodyCamera>> all;
    {
        std::lock_guard<std::mutex> guard(lock_);
        all.swap(cameras_);
    }
    for (auto& [serial, camera] : all) camera->detach();
}

std::string SimulationBackend::list() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::string text;
    for (auto& [serial, camera] : cameras_) {
        // The firmware it runs: an upgrade changes it while the camera stays plugged.
        text += serial + " " + camera->profile().model + " " + camera->firmwareVersion() + "\n";
    }
    return text;
}

size_t SimulationBackend::recordedBlockCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    size_t count = 0;
    for (auto& [serial, camera] : cameras_) count += camera->recordedBlockCount();
    return count;
}

IOReturn SimulationBackend::control(const std::vector<std::string>& arguments, std::string* reply) {
    if (arguments.empty()) {
        if (reply) *reply = "empty request";
        return kIOReturnBadArgument;
    }
    const std::string& verb = arguments[0];
    if (verb == "plug") {
        std::string error;
        auto description = parseCameraDescription(std::vector<std::string>(arguments.begin() + 1, arguments.end()), &error);
        if (!description) {
            if (reply) *reply = error;
            return kIOReturnBadArgument;
        }
        return plug(*description, reply);
    }
    if (verb == "unplug") {
        if (arguments.size() != 2) {
            if (reply) *reply = "unplug needs one serial number";
            return kIOReturnBadArgument;
        }
        return unplug(arguments[1], reply);
    }
    if (verb == "list" && arguments.size() == 1) {
        if (reply) *reply = list();
        return kIOReturnSuccess;
    }
    if (reply) *reply = "unknown request \"" + verb + "\"";
    return kIOReturnUnsupported;
}

}  // namespace hvb::driverhost
