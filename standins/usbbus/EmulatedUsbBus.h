#pragma once
// The simulated cameras as the Linux kernel shows a USB mass-storage camera, emulated with
// umockdev: sysfs devices and their uevents, and a /dev/sgN node whose SG_IO calls the camera
// answers. A process that runs under umockdev's preload library with this bus's UMOCKDEV_DIR
// (the driver host on its Linux backend) sees them through libudev, sysfs, open() and ioctl()
// as it would see real ones. The bus must be made in a process that runs under the preload
// itself (see UmockdevPreload.h).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "standins/camera/SimulatedUsbBus.h"

struct _UMockdevIoctlClient;

namespace hvb::sim {

class EmulatedUsbBus : public SimulatedUsbBus {
public:
    // What the kernel would do to the next SG_IO calls on a camera's node.
    enum class Fault {
        hold,            // the command never completes until the camera is unplugged
        hostTimeOut,     // host byte DID_TIME_OUT, as after the command's time-out
        ioctlTimedOut,   // the ioctl itself fails with ETIMEDOUT
        checkCondition,  // CHECK CONDITION with sense data, nothing transferred
        ioctlFails,      // the ioctl fails with EIO
    };
    // How a camera appears on the bus, by its USB serial number.
    struct Quirks {
        bool noSerial = false;      // the USB device has no serial attribute
        bool secondLun = false;     // a CD-ROM at LUN 0 (N:0:0:0) before the storage at N:0:0:1, each with its sg node
        bool scsiNever = false;     // the SCSI nodes never come
        std::optional<int64_t> scsiDelayMs;  // instead of the bus's delay
    };

    // Why umockdev cannot run in this process; empty when it can.
    static std::string unavailableReason();

    // `scsiDelayMs`: from a plug's USB device to its SCSI nodes, through dispatch::pause (the
    // kernel's usb-storage waits about a second).
    explicit EmulatedUsbBus(int64_t scsiDelayMs = 1000);
    ~EmulatedUsbBus() override;

    bool ok() const { return testbed_ != nullptr; }
    // The testbed folder: UMOCKDEV_DIR of the processes that see this bus.
    std::string directory() const;

    bool plug(const std::shared_ptr<SimulatedCamera>& camera) override;
    bool unplug(const std::shared_ptr<SimulatedCamera>& camera) override;
    std::vector<std::shared_ptr<SimulatedCamera>> cameras() const override;

    void setQuirks(const std::string& serial, Quirks quirks);
    // The next `count` SG_IO calls on the camera with this serial meet `fault`.
    void injectFault(const std::string& serial, Fault fault, unsigned count = 1);
    void clearFaults(const std::string& serial);
    // SG_IO calls held by Fault::hold right now.
    size_t heldCommands() const;
    // A USB device of the camera vendor that is not a camera (a vendor-class interface, no
    // SCSI nodes); its sysfs path. removeForeignDevice unplugs it.
    std::string addForeignDevice(uint16_t productID, const std::string& serial);
    void removeForeignDevice(const std::string& sysPath);

    // Where a plugged camera's sg node is ("/dev/sg3"; empty before its SCSI nodes are there).
    std::optional<std::string> genericNode(const std::string& serial) const;
    // Why the testbed refused a device (umockdev's own words), the first time it did; empty
    // while it has taken every one. A plug or a foreign device it refuses is not on the bus.
    std::string failure() const;
    // The probe threads kept: each plug's SCSI probe, until it has finished and a later plug
    // has joined it.
    size_t probeThreads() const;

    struct Device;
    struct Held;
    struct IoctlCall;

private:
    struct Testbed;
    struct Probe {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };
    // One SG_IO call on a node (a UMockdevIoctlClient), on umockdev's thread.
    bool answer(_UMockdevIoctlClient* client);
    // The steps of an answer: the device behind the node and the fault its next call meets;
    // the fault's outcome; the camera's own.
    std::shared_ptr<Device> deviceOfNode(const std::string& node, bool* otherLun, std::optional<Fault>* fault);
    void meetFault(IoctlCall& call, const std::shared_ptr<Device>& device, Fault fault);
    void execute(IoctlCall& call, Device& device);
    bool add(const std::string& path, const std::vector<std::pair<std::string, std::string>>& properties,
             const std::vector<std::pair<std::string, std::string>>& attributes, const std::string& node = {});
    void addScsiNodes(const std::shared_ptr<Device>& device);
    void startProbe(const std::shared_ptr<Device>& device, int64_t delayMs);
    void removeDevice(const std::shared_ptr<Device>& device);
    int nextPort() const;
    void finishHeld(std::vector<std::shared_ptr<Held>> held);

    Testbed* testbed_ = nullptr;
    int64_t scsiDelayMs_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::map<std::string, Quirks> quirks_;
    std::vector<std::shared_ptr<Device>> devices_;
    std::map<std::string, std::shared_ptr<Device>> foreign_;
    int nextHost_ = 6;
    int nextGeneric_ = 2;
    int nextDisk_ = 1;  // "sdb"
    std::vector<Probe> probes_;
    std::string failure_;
};

}  // namespace hvb::sim
