#include "SCSIDriver/HVBSCSIDriver.h"

#include "platform/iokit/kern/IOLib.h"
#include "platform/iokit/kern/IOUSBFamily.h"

typedef IOSCSIPeripheralDeviceType00 super;

namespace {
constexpr const char* kSourcePath = "SCSIDriver/HVBSCSIDriver";
constexpr const char* kAssertFormat = "AssertMacros: %s, %s file: %s, line: %d, value: %ld\n";
}  // namespace

M37Command vendorCdb(M37Kind kind, UInt8 requestType, UInt8 iCmd, UInt32 length, UInt8 functionCallMessage) {
    UInt8 vendorFunctionMessage = 0x00;
    UInt8 callMessage = 0x00;
    UInt8 direction = kSCSIDataTransfer_NoDataTransfer;
    switch (kind) {
        case M37KindRead:
            direction = kSCSIDataTransfer_FromTargetToInitiator;
            if (requestType == kM37RequestStatus) {
                vendorFunctionMessage = 0xFF;
                callMessage = functionCallMessage;
            } else if (requestType == kM37RequestRead) {
                vendorFunctionMessage = 0x02;
                callMessage = functionCallMessage;
            }
            break;
        case M37KindWrite:
            direction = kSCSIDataTransfer_FromInitiatorToTarget;
            vendorFunctionMessage = 0x02;
            callMessage = 0x03;
            break;
        case M37KindInit:
            break;
    }
    M37Command command{};
    command.cdb = {0xC5,
                   0x07,
                   0x00,
                   0x00,
                   0x00,
                   0x00,
                   static_cast<UInt8>(length >> 24),
                   static_cast<UInt8>(length >> 16),
                   static_cast<UInt8>(length >> 8),
                   static_cast<UInt8>(length),
                   vendorFunctionMessage,
                   callMessage,
                   iCmd,
                   0x00,
                   0x00,
                   0x00};
    command.direction = direction;
    return command;
}

OSDefineMetaClassAndStructors(com_brevantis_driver_HVBSCSIDriver, IOSCSIPeripheralDeviceType00);

IOService* com_brevantis_driver_HVBSCSIDriver::probe(IOService* provider, SInt32* score) {
    IOService* result = super::probe(provider, score);
    auto* vendor = OSDynamicCast(OSNumber, getParentProperty(kUSBVendorID));
    auto* product = OSDynamicCast(OSNumber, getParentProperty(kUSBProductID));
    if (!vendor || !product) return nullptr;
    UInt32 productID = product->unsigned32BitValue();
    if (vendor->unsigned32BitValue() != kHVBVendorID || productID < kHVBFirstStorageProductID ||
        productID > kHVBLastStorageProductID) {
        return nullptr;
    }
    return result;
}

bool com_brevantis_driver_HVBSCSIDriver::start(IOService* provider) {
    if (!super::start(provider)) {
        IOLog(kAssertFormat, "super::start ( provider )", "", kSourcePath, 23, 0L);
        return false;
    }
    registerService(0);
    return true;
}

bool com_brevantis_driver_HVBSCSIDriver::InitializeDeviceSupport() { return super::InitializeDeviceSupport(); }

OSObject* com_brevantis_driver_HVBSCSIDriver::getParentProperty(const char* name) {
    // Providers stay attached while we are, so the borrowed pointers below stay valid.
    for (IOService* provider = getProvider(); provider; provider = provider->getProvider()) {
        if (OSObject* value = provider->getProperty(name)) return value;
    }
    return nullptr;
}

IOReturn com_brevantis_driver_HVBSCSIDriver::M37Read(IOMemoryDescriptor* buffer, UInt8 iCmd, UInt32 length,
                                                     UInt8 functionCallMessage, UInt8 requestType) {
    return M37SyncIO(M37KindRead, buffer, iCmd, length, functionCallMessage, requestType);
}

IOReturn com_brevantis_driver_HVBSCSIDriver::M37Write(IOMemoryDescriptor* buffer, UInt8 iCmd, UInt32 length,
                                                      UInt8 functionCallMessage, UInt8 requestType) {
    return M37SyncIO(M37KindWrite, buffer, iCmd, length, functionCallMessage, requestType);
}

IOReturn com_brevantis_driver_HVBSCSIDriver::M37Init() {
    return M37SyncIO(M37KindInit, nullptr, 0, 0, 0, kM37RequestInit);
}

IOReturn com_brevantis_driver_HVBSCSIDriver::M37SyncIO(M37Kind kind, IOMemoryDescriptor* buffer, UInt8 iCmd,
                                                       UInt32 length, UInt8 functionCallMessage,
                                                       UInt8 requestType) {
    IOLog("%s[%p]::%s(%d, %p)\n", getName(), static_cast<void*>(this), "M37SyncIO", static_cast<int>(kind),
          static_cast<void*>(buffer));
    IOReturn result = kIOReturnBadArgument;
    if ((kind == M37KindRead || kind == M37KindWrite) && buffer == nullptr) {
        IOLog(kAssertFormat, "buffer != NULL", "", kSourcePath, 129, 0L);
        return result;
    }
    SCSITaskIdentifier req = GetSCSITask();
    if (req == nullptr) {
        IOLog(kAssertFormat, "req != NULL", "", kSourcePath, 133, 0L);
        return result;
    }
    M37Command command = vendorCdb(kind, requestType, iCmd, length, functionCallMessage);
    // An empty transfer has no data phase, whatever its kind.
    if (buffer && buffer->getLength() == 0) command.direction = kSCSIDataTransfer_NoDataTransfer;
    const auto& b = command.cdb;
    IOLog("HIWORD_HIBYTE = %d, HIWORD_LOBYTE = %d, LOWORD_HIBYTE = %d, LOWORD_LOBYTE = %d, "
          "vendorFunctionMessage = %d, functionCallMessage = %d, iCmd = %d\n",
          b[6], b[7], b[8], b[9], b[10], b[11], b[12]);
    SetCommandDescriptorBlock(req, b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12],
                              b[13], b[14], b[15]);
    SetTimeoutDuration(req, kM37CommandTimeoutMs);
    SetDataTransferDirection(req, command.direction);
    if (buffer) {
        // Nothing is sent over memory that could not be prepared.
        if (buffer->prepare() != kIOReturnSuccess) {
            IOLog("%s[%p]::%s(): prepare failed, nothing sent.\n", getName(), static_cast<void*>(this), "M37SyncIO");
            ReleaseSCSITask(req);
            return kIOReturnError;
        }
        SetDataBuffer(req, buffer);
        SetRequestedDataTransferCount(req, buffer->getLength());
    }
    SCSIServiceResponse serviceResponse = SendCommand(req, kM37CommandTimeoutMs);
    if (buffer) buffer->complete();
    SCSITaskStatus taskStatus = GetTaskStatus(req);
    UInt64 count = GetRealizedDataTransferCount(req);
    IOLog("%s[%p]::%s(): service response: %u, task status: %u, transfer count: %llu\n", getName(),
          static_cast<void*>(this), "M37SyncIO", static_cast<unsigned>(serviceResponse),
          static_cast<unsigned>(taskStatus), static_cast<unsigned long long>(count));
    // A camera that answered CHECK CONDITION refused the command; anything else that is not GOOD
    // may have been cut short by the camera itself (a reboot), so the two stay apart.
    if (serviceResponse == kSCSIServiceResponse_TASK_COMPLETE)
        result = taskStatus == kSCSITaskStatus_GOOD              ? kIOReturnSuccess
                 : taskStatus == kSCSITaskStatus_CHECK_CONDITION ? kIOReturnNotPermitted
                                                                 : kIOReturnError;
    else
        result = kIOReturnError;
    ReleaseSCSITask(req);
    return result;
}

OSMetaClassDefineReservedUnused(com_brevantis_driver_HVBSCSIDriver, 0);
OSMetaClassDefineReservedUnused(com_brevantis_driver_HVBSCSIDriver, 1);
OSMetaClassDefineReservedUnused(com_brevantis_driver_HVBSCSIDriver, 2);
OSMetaClassDefineReservedUnused(com_brevantis_driver_HVBSCSIDriver, 3);
OSMetaClassDefineReservedUnused(com_brevantis_driver_HVBSCSIDriver, 4);
OSMetaClassDefineReservedUnused(com_brevantis_driver_HVBSCSIDriver, 5);
OSMetaClassDefineReservedUnused(com_brevantis_driver_HVBSCSIDriver, 6);
OSMetaClassDefineReservedUnused(com_brevantis_driver_HVBSCSIDriver, 7);
OSMetaClassDefineReservedUnused(com_brevantis_driver_HVBSCSIDriver, 8);
OSMetaClassDefineReservedUnused(com_brevantis_driver_HVBSCSIDriver, 9);
