#pragma once
// A camera's SCSI generic node (/dev/sgN) as the device backend of its SCSI nub: each command
// is one SG_IO request with a 16-byte command block. The node stays open between commands; a
// command that fails on it drops it, and the next one opens the node again.
#include <scsi/sg.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/iokit/kern/SCSIDeviceBackend.h"

namespace devices {

// Linux host and driver bytes of an sg_io_hdr that matter here.
constexpr uint16_t kSgHostOk = 0x00;
constexpr uint16_t kSgHostNoConnect = 0x01;
constexpr uint16_t kSgHostTimeOut = 0x03;
constexpr uint16_t kSgHostBadTarget = 0x04;
constexpr uint16_t kSgDriverTimeout = 0x06;
constexpr uint16_t kSgDriverSense = 0x08;
constexpr size_t kSgSenseSize = 32;

// What one SG_IO request means to the SCSI task: `ioctlResult` and `ioctlErrno` as the ioctl
// left them, `hdr` as the kernel filled it in, `requested` the data-phase length.
SCSIExecuteResult mapSgIoResult(int ioctlResult, int ioctlErrno, const sg_io_hdr_t& hdr, size_t requested);

// The request for one command; `sense` must hold kSgSenseSize bytes and outlive the call.
sg_io_hdr_t makeSgIoRequest(const SCSICommandDescriptorBlock& cdb, uint8_t direction, std::span<uint8_t> buffer,
                            uint32_t timeoutMs, uint8_t* sense);

class SgIoBackend : public SCSIDeviceBackend {
public:
    using OpenFunction = std::function<int(const std::string& path)>;  // fd, or -1 with errno set
    using IoctlFunction = std::function<int(int fd, sg_io_hdr_t* request)>;  // as ioctl(fd, SG_IO, ...)
    using CloseFunction = std::function<void(int fd)>;

    // `scsiDeviceDir` is the sysfs folder of the SCSI device (".../host6/target6:0:0/6:0:0:0"),
    // from which the block device names are read; empty: none.
    explicit SgIoBackend(std::string devicePath, std::filesystem::path scsiDeviceDir = {});
    ~SgIoBackend() override;
    SgIoBackend(const SgIoBackend&) = delete;
    SgIoBackend& operator=(const SgIoBackend&) = delete;

    const std::string& devicePath() const { return devicePath_; }
    // Tests replace the system calls.
    void setSystemCalls(OpenFunction open, IoctlFunction ioctl, CloseFunction close);
    // The device left: commands answer "device not present" without touching the node, and the
    // node is closed.
    void markGone();
    bool isGone() const { return gone_.load(); }
    // Sense bytes of the last command that returned any.
    std::vector<uint8_t> lastSense() const;

    SCSIExecuteResult execute(const SCSICommandDescriptorBlock& cdb, uint8_t direction, std::span<uint8_t> buffer,
                              uint32_t timeoutMs) override;
    std::vector<std::string> mediaBSDNames() const override;

private:
    std::string devicePath_;
    std::filesystem::path scsiDeviceDir_;
    std::atomic<bool> gone_{false};
    mutable std::mutex lock_;
    OpenFunction open_;
    IoctlFunction ioctl_;
    CloseFunction close_;
    std::vector<uint8_t> lastSense_;
    int idleFd_ = -1;  // the node, open, when no command is using it
};

}  // namespace devices
