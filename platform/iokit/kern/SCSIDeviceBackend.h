#pragma once
// What a SCSI peripheral nub talks to: a simulated camera, or a real device node.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

enum SCSIServiceResponse : uint32_t {
    kSCSIServiceResponse_Request_In_Process = 0,
    kSCSIServiceResponse_SERVICE_DELIVERY_OR_TARGET_FAILURE = 1,
    kSCSIServiceResponse_TASK_COMPLETE = 2,
};

enum SCSITaskStatus : uint32_t {
    kSCSITaskStatus_GOOD = 0x00,
    kSCSITaskStatus_CHECK_CONDITION = 0x02,
    kSCSITaskStatus_BUSY = 0x08,
    // Not SCSI status bytes: outcomes of the transport.
    kSCSITaskStatus_TaskTimeoutOccurred = 0x100,
    kSCSITaskStatus_DeviceNotPresent = 0x101,
    kSCSITaskStatus_DeliveryFailure = 0x102,
    kSCSITaskStatus_No_Status = 0x1FF,
};

enum : uint8_t {
    kSCSIDataTransfer_NoDataTransfer = 0,
    kSCSIDataTransfer_FromInitiatorToTarget = 1,
    kSCSIDataTransfer_FromTargetToInitiator = 2,
};

using SCSICommandDescriptorBlock = std::array<uint8_t, 16>;

struct SCSIExecuteResult {
    SCSIServiceResponse response = kSCSIServiceResponse_SERVICE_DELIVERY_OR_TARGET_FAILURE;
    SCSITaskStatus status = kSCSITaskStatus_No_Status;
    uint64_t realized = 0;  // bytes moved in the data phase
};

class SCSIDeviceBackend {
public:
    virtual ~SCSIDeviceBackend() = default;
    // One command, synchronous. `buffer` holds the data to send (to the target) or receives the
    // data (from the target); its size is the requested transfer count. Called concurrently.
    virtual SCSIExecuteResult execute(const SCSICommandDescriptorBlock& cdb, uint8_t direction,
                                      std::span<uint8_t> buffer, uint32_t timeoutMs) = 0;
    // BSD names of the media: the whole disk first, then its partitions.
    virtual std::vector<std::string> mediaBSDNames() const { return {}; }
};
