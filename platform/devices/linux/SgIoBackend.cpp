#include "platform/devices/linux/SgIoBackend.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/devices/linux/Sysfs.h"

namespace devices {

namespace {

SCSIExecuteResult failure(SCSITaskStatus status) {
    SCSIExecuteResult result;
    result.response = kSCSIServiceResponse_SERVICE_DELIVERY_OR_TARGET_FAILURE;
    result.status = status;
    result.realized = 0;
    return result;
}

bool isGoneErrno(int error) { return error == ENODEV || error == ENXIO || error == ENOENT; }

}  // namespace

SCSIExecuteResult mapSgIoResult(int ioctlResult, int ioctlErrno, const sg_io_hdr_t& hdr, size_t requested) {
    if (ioctlResult < 0) {
        if (ioctlErrno == ETIMEDOUT) return failure(kSCSITaskStatus_TaskTimeoutOccurred);
        if (isGoneErrno(ioctlErrno)) return failure(kSCSITaskStatus_DeviceNotPresent);
        return failure(kSCSITaskStatus_DeliveryFailure);
    }
    const uint16_t host = hdr.host_status;
    const uint16_t driver = hdr.driver_status & 0x0F;  // the high nibble only suggests a retry
    if (host == kSgHostTimeOut || driver == kSgDriverTimeout) return failure(kSCSITaskStatus_TaskTimeoutOccurred);
    if (host == kSgHostNoConnect || host == kSgHostBadTarget) return failure(kSCSITaskStatus_DeviceNotPresent);
    // DRIVER_SENSE only says sense data came with the status (a CHECK CONDITION): the task
    // completed and the target answered.
    if (host != kSgHostOk || (driver != 0 && driver != kSgDriverSense)) {
        return failure(kSCSITaskStatus_DeliveryFailure);
    }
    SCSIExecuteResult result;
    result.response = kSCSIServiceResponse_TASK_COMPLETE;
    result.status = static_cast<SCSITaskStatus>(hdr.status & 0xFF);
    if (hdr.dxfer_direction == SG_DXFER_NONE) {
        result.realized = 0;
    } else {
        // A residue outside [0, requested] is the kernel's or the device's error; clamp it.
        int resid = std::clamp<int>(hdr.resid, 0, static_cast<int>(std::min<size_t>(requested, INT32_MAX)));
        result.realized = requested - static_cast<size_t>(resid);
    }
    return result;
}

sg_io_hdr_t makeSgIoRequest(const SCSICommandDescriptorBlock& cdb, uint8_t direction, std::span<uint8_t> buffer,
                            uint32_t timeoutMs, uint8_t* sense) {
    sg_io_hdr_t hdr{};
    hdr.interface_id = 'S';
    hdr.cmd_len = static_cast<unsigned char>(cdb.size());
    hdr.cmdp = const_cast<unsigned char*>(cdb.data());
    hdr.mx_sb_len = kSgSenseSize;
    hdr.sbp = sense;
    hdr.timeout = timeoutMs;
    // An empty buffer has no data phase, whatever direction the task names.
    if (buffer.empty() || direction == kSCSIDataTransfer_NoDataTransfer) {
        hdr.dxfer_direction = SG_DXFER_NONE;
    } else {
        hdr.dxfer_direction =
            direction == kSCSIDataTransfer_FromInitiatorToTarget ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
        hdr.dxfer_len = static_cast<unsigned int>(buffer.size());
        hdr.dxferp = buffer.data();
    }
    return hdr;
}

SgIoBackend::SgIoBackend(std::string devicePath, std::filesystem::path scsiDeviceDir)
    : devicePath_(std::move(devicePath)), scsiDeviceDir_(std::move(scsiDeviceDir)) {
    open_ = [](const std::string& path) { return ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC); };
    ioctl_ = [](int fd, sg_io_hdr_t* request) { return ::ioctl(fd, SG_IO, request); };
    close_ = [](int fd) { ::close(fd); };
}

SgIoBackend::~SgIoBackend() {
    if (idleFd_ >= 0) close_(idleFd_);
}

void SgIoBackend::setSystemCalls(OpenFunction open, IoctlFunction ioctl, CloseFunction close) {
    std::unique_lock<std::mutex> guard(lock_);
    // A node opened through the old calls is closed through them.
    const int idle = std::exchange(idleFd_, -1);
    CloseFunction oldClose = std::move(close_);
    open_ = std::move(open);
    ioctl_ = std::move(ioctl);
    close_ = std::move(close);
    guard.unlock();
    if (idle >= 0) oldClose(idle);
}

void SgIoBackend::markGone() {
    gone_.store(true);
    int idle;
    CloseFunction close;
    {
        std::lock_guard<std::mutex> guard(lock_);
        idle = std::exchange(idleFd_, -1);
        close = close_;
    }
    if (idle >= 0) close(idle);
}

std::vector<uint8_t> SgIoBackend::lastSense() const {
    std::lock_guard<std::mutex> guard(lock_);
    return lastSense_;
}

SCSIExecuteResult SgIoBackend::execute(const SCSICommandDescriptorBlock& cdb, uint8_t direction,
                                       std::span<uint8_t> buffer, uint32_t timeoutMs) {
    if (gone_.load()) return failure(kSCSITaskStatus_DeviceNotPresent);
    if (buffer.size() > UINT32_MAX) return failure(kSCSITaskStatus_DeliveryFailure);
    OpenFunction open;
    IoctlFunction ioctl;
    CloseFunction close;
    int fd;
    {
        std::lock_guard<std::mutex> guard(lock_);
        open = open_;
        ioctl = ioctl_;
        close = close_;
        // Taken while in use: a command issued meanwhile opens a node of its own.
        fd = std::exchange(idleFd_, -1);
    }
    if (fd < 0) {
        fd = open(devicePath_);
        if (fd < 0) {
            int error = errno;
            return failure(isGoneErrno(error) ? kSCSITaskStatus_DeviceNotPresent : kSCSITaskStatus_DeliveryFailure);
        }
    }
    uint8_t sense[kSgSenseSize] = {};
    sg_io_hdr_t hdr = makeSgIoRequest(cdb, direction, buffer, timeoutMs, sense);
    errno = 0;
    int rc = ioctl(fd, &hdr);
    int error = errno;
    size_t requested = hdr.dxfer_direction == SG_DXFER_NONE ? 0 : buffer.size();
    SCSIExecuteResult result = mapSgIoResult(rc, error, hdr, requested);
    // Only a node that carried its command through is kept; after any failure (the device gone,
    // a stale or bad descriptor, a time-out) the next command opens it afresh.
    if (result.response == kSCSIServiceResponse_TASK_COMPLETE) {
        std::lock_guard<std::mutex> guard(lock_);
        if (idleFd_ < 0 && !gone_.load()) fd = std::exchange(idleFd_, fd);
    }
    if (fd >= 0) close(fd);
    if (rc >= 0 && hdr.sb_len_wr > 0) {
        size_t n = std::min<size_t>(hdr.sb_len_wr, kSgSenseSize);
        std::lock_guard<std::mutex> guard(lock_);
        lastSense_.assign(sense, sense + n);
    }
    return result;
}

std::vector<std::string> SgIoBackend::mediaBSDNames() const {
    if (scsiDeviceDir_.empty()) return {};
    return blockDeviceNames(scsiDeviceDir_);
}

}  // namespace devices
