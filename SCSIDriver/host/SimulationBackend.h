#pragma once
// The host's simulated cameras: plugged in at start from the camera list, and plugged in or
// out later by control requests.
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SCSIDriver/host/HostOptions.h"
#include "platform/iokit/kern/IOTypes.h"
#include "standins/camera/SimulatedBodyCamera.h"
#include "standins/camera/SimulatedUsbBus.h"

namespace hvb::driverhost {

class SimulationBackend {
public:
    // At most this many cameras at once, whoever asks.
    static constexpr size_t kMaxCameras = 16;

    // Volume folders must lie inside `root` (the host's system root), links resolved.
    explicit SimulationBackend(std::filesystem::path root);
    // The cameras join `bus` (which outlives this) instead of a bus of its own.
    SimulationBackend(std::filesystem::path root, hvb::sim::SimulatedUsbBus& bus);
    ~SimulationBackend();  // unplugs every camera
    SimulationBackend(const SimulationBackend&) = delete;
    SimulationBackend& operator=(const SimulationBackend&) = delete;

    // Plugs a camera in; its serial number on success, the reason otherwise.
    IOReturn plug(const CameraDescription& description, std::string* reply);
    IOReturn unplug(const std::string& serialNumber, std::string* reply);
    void unplugAll();
    // "serial model firmware" per camera, one a line.
    std::string list() const;
    // The command blocks the plugged cameras hold on record, all together.
    size_t recordedBlockCount() const;

    // A control request: "plug MODEL key=value...", "unplug SERIAL", "list".
    IOReturn control(const std::vector<std::string>& arguments, std::string* reply);

private:
    std::filesystem::path root_;
    mutable std::mutex lock_;
    hvb::sim::SimulatedUsbBus ownBus_;
    hvb::sim::SimulatedUsbBus& bus_;
    std::map<std::string, std::shared_ptr<hvb::sim::SimulatedBodyCamera>> cameras_;  // by serial
};

}  // namespace hvb::driverhost
