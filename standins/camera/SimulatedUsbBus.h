#pragma once
// A USB bus that plugs simulated cameras into the kernel registry (so drivers are matched and
// terminated for real) and unplugs them again.
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "standins/camera/SimulatedCamera.h"

class IOUSBDevice;

namespace hvb::sim {

constexpr uint16_t kWebcamProductID = 0x8612;

class SimulatedUsbBus {
public:
    SimulatedUsbBus() = default;
    virtual ~SimulatedUsbBus();  // unplugs every camera
    SimulatedUsbBus(const SimulatedUsbBus&) = delete;
    SimulatedUsbBus& operator=(const SimulatedUsbBus&) = delete;

    // Publishes the camera's USB device and, in storage mode, its interface, mass-storage
    // service and SCSI nub; registering the nub matches drivers. False when already plugged.
    // Another bus (the emulated kernel one) lays the same cameras out its own way.
    virtual bool plug(const std::shared_ptr<SimulatedCamera>& camera);
    // Marks the camera gone and terminates its entries. False when it was not plugged.
    virtual bool unplug(const std::shared_ptr<SimulatedCamera>& camera);
    void unplugAll();
    virtual std::vector<std::shared_ptr<SimulatedCamera>> cameras() const;

private:
    struct Plugged {
        std::shared_ptr<SimulatedCamera> camera;
        IOUSBDevice* device = nullptr;  // retained
    };
    mutable std::mutex lock_;
    std::vector<Plugged> plugged_;
};

}  // namespace hvb::sim
