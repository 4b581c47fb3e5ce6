#pragma once
// The SCSI peripheral nub, the direct-access peripheral driver base with its task pool, and
// the block-storage entries it publishes.
#include <memory>
#include <mutex>
#include <vector>

#include "platform/iokit/kern/IOMemoryDescriptor.h"
#include "platform/iokit/kern/IOService.h"
#include "platform/iokit/kern/SCSIDeviceBackend.h"

constexpr const char* kIOPropertySCSIPeripheralDeviceType = "Peripheral Device Type";
constexpr const char* kIOBSDNameKey = "BSD Name";

// A SCSI device as its transport found it; it carries the backend commands go to.
class IOSCSIPeripheralDeviceNub : public IOService {
    OSDeclareDefaultStructors(IOSCSIPeripheralDeviceNub)
public:
    void setBackend(std::shared_ptr<SCSIDeviceBackend> backend);
    std::shared_ptr<SCSIDeviceBackend> backend() const;
    // Compares "Peripheral Device Type" when the personality names one.
    bool matchPropertyTable(OSDictionary* table, SInt32* score) override;

private:
    mutable std::mutex backendLock_;
    std::shared_ptr<SCSIDeviceBackend> backend_;
};

class IOBlockStorageServices : public IOService {
    OSDeclareDefaultStructors(IOBlockStorageServices)
};
class IOBlockStorageDriver : public IOService {
    OSDeclareDefaultStructors(IOBlockStorageDriver)
};
class IOMedia : public IOService {
    OSDeclareDefaultStructors(IOMedia)
};

using SCSITaskIdentifier = struct SCSITask*;

class IOSCSIPeripheralDeviceType00 : public IOService {
    OSDeclareDefaultStructors(IOSCSIPeripheralDeviceType00)
public:
    static constexpr unsigned kDefaultTaskPoolSize = 8;

    IOService* probe(IOService* provider, SInt32* score) override;
    bool start(IOService* provider) override;
    void stop(IOService* provider) override;

    // Test hooks: the next probe answers null, the next start fails; the pool's size.
    static void failNextStart();
    void setTaskPoolSize(unsigned size);

protected:
    virtual bool InitializeDeviceSupport();

    // Null when every task of the pool is in use.
    SCSITaskIdentifier GetSCSITask();
    void ReleaseSCSITask(SCSITaskIdentifier task);
    bool SetCommandDescriptorBlock(SCSITaskIdentifier task, UInt8 b0, UInt8 b1, UInt8 b2, UInt8 b3, UInt8 b4,
                                   UInt8 b5, UInt8 b6, UInt8 b7, UInt8 b8, UInt8 b9, UInt8 b10, UInt8 b11,
                                   UInt8 b12, UInt8 b13, UInt8 b14, UInt8 b15);
    bool SetTimeoutDuration(SCSITaskIdentifier task, UInt32 timeoutMs);
    bool SetDataTransferDirection(SCSITaskIdentifier task, UInt8 direction);
    bool SetDataBuffer(SCSITaskIdentifier task, IOMemoryDescriptor* buffer);
    bool SetRequestedDataTransferCount(SCSITaskIdentifier task, UInt64 count);
    // Synchronous; a device that is gone answers a delivery failure at once.
    SCSIServiceResponse SendCommand(SCSITaskIdentifier task, UInt32 timeoutMs);
    SCSITaskStatus GetTaskStatus(SCSITaskIdentifier task);
    UInt64 GetRealizedDataTransferCount(SCSITaskIdentifier task);

    void free() override;

private:
    void publishMedia(const std::vector<std::string>& bsdNames);

    mutable std::mutex poolLock_;
    std::vector<std::unique_ptr<SCSITask>> pool_;
    unsigned poolSize_ = kDefaultTaskPoolSize;
    std::shared_ptr<SCSIDeviceBackend> backend_;  // guarded by poolLock_
};
