#pragma once
// Turns driver matches and unplugs into changes of the device state: a new camera is read and
// published, a camera that left is withdrawn.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "camera/DeviceState.h"
#include "platform/iokit/user/IOKitLib.h"

namespace hvb {

class USBEventManager {
public:
    static USBEventManager& shared();

    dispatch::Semaphore trDevice_Block{1};
    dispatch::Semaphore SNBSD2DevicePar_Block{1};
    dispatch::Semaphore PlugInDeviceCnt_Block{1};

    // Brings up the camera behind the driver service (main thread): the camera is read on the
    // camera queue, and what the read gives is published on the main queue in one step, after
    // which `done` runs there. `isAddingDevice` holds from the call until then. When the service
    // cannot be taken up, nothing is read and `done` runs before the call returns.
    void addDevice(io_service_t service, int64_t driverIndex, const std::string& serialNumber,
                   std::function<void()> done = {});
    // Withdraws the camera whose USB device left (main thread).
    void removeDevice(io_object_t object, const std::string& serialNumber);

    // An entry kept through a format or an upgrade while its camera left is withdrawn once its
    // block is lifted, unless the camera is on the bus again (main thread).
    void withdrawIfGone(const std::string& key);
    // The same for a camera whose departure was handled and that is back on the bus: its kept
    // entry is stale once the block is lifted (main thread).
    void withdrawIfReleased(const std::string& key);
    // Whether a driver service carries this serial number now.
    bool isOnBus(const std::string& serialNumber);

    std::vector<std::string> listPlaceholderBSDNames();
    std::vector<std::string> listDriverSerialNumbers();

private:
    // What the camera queue learnt of an arriving camera.
    struct Arrival {
        std::string bsdName;
        DeviceRecord record;
        bool success = false;
        dispatch::Task afterRead;  // for the main queue once the record is published
    };
    // The waits on the camera: its disk's name, the plug-in read (camera queue).
    Arrival readArrival(io_service_t service, const std::string& serialNumber);
    // The entry, the record, "statusDidGet", the count and the "Device" event (main queue).
    void publish(Arrival arrival, int64_t driverIndex, const std::string& serialNumber);
    // Drops the entry and its record, counts it out and renumbers the ones after it.
    void withdrawEntry(const DeviceEntry& gone);
    // The listed entry of that key whose record no block holds; none otherwise.
    std::optional<DeviceEntry> releasedEntry(const std::string& key);

    // Arriving cameras are read here, one at a time.
    dispatch::SerialQueue cameraQueue_{dispatch::QoS::userInitiated};
};

// "BSD Name" below the entry; a few attempts with short pauses (about one second in all) while
// the disk is still being published. Empty when not found.
std::string readBSDName(io_registry_entry_t entry, int attempts = 20);

}  // namespace hvb
