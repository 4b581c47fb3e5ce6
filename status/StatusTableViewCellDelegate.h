#pragma once
// What a Status panel row asks of the panel: the device actions behind its buttons, the camera
// reads of its refresh tick, and a controller to present its windows from.
#include <cstdint>
#include <functional>
#include <optional>

#include "camera/StatusModel.h"

namespace appkit {
class ViewController;
}

namespace hvb {

class EditViewControllerDelegate;

// The battery as the camera reports it: charging absent when no reading was possible; the value
// is a percentage, or a level 0..4 (full, high, medium, low, exhausted) when isLevel.
struct BatteryReading {
    std::optional<bool> charging;
    int64_t value = 0;
    bool isLevel = false;
    friend bool operator==(const BatteryReading&, const BatteryReading&) = default;
};

// The free bytes of the camera's volume and the recording time they hold, in seconds; or, with
// `mounted` false, that there is no volume to count them on.
struct StorageReading {
    int64_t availableBytes = 0;
    double seconds = 0;
    bool mounted = true;
};

class StatusTableViewCellDelegate {
public:
    using ReadingsDone = std::function<void(const BatteryReading&, const std::optional<StorageReading>&)>;

    virtual ~StatusTableViewCellDelegate() = default;

    virtual void findDeviceBuzzer(const StatusModel& status) = 0;
    virtual void openDeviceFolder(const StatusModel& status) = 0;
    virtual void startFirmwareUpgrade(const StatusModel& status) = 0;
    // The tick's battery and storage reads, made off the GUI thread; `done` gets both results
    // on the main queue, exactly once.
    virtual void readDeviceState(const StatusModel& status, ReadingsDone done) = 0;
    // Runs camera work off the GUI thread, one job at a time with the reads above.
    virtual void performCameraWork(std::function<void()> work) = 0;
    // The controller the row's windows are presented from.
    virtual appkit::ViewController* presentingController() = 0;
    // The edit sheet's delegate.
    virtual EditViewControllerDelegate* editDelegate() = 0;
};

}  // namespace hvb
