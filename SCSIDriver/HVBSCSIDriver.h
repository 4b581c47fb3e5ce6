#pragma once
// The pass-through driver: sends one vendor command block to the camera, with an optional
// data phase, and waits for it. Everything else is the direct-access base's behaviour.
#include "platform/iokit/kern/IOSCSIPeripheralDeviceType00.h"

// Module identity.
constexpr const char* kHVBSCSIDriverModuleID = "com.yourcompany.driver.MIRbrook37";

// Transfer kind.
enum M37Kind : UInt8 {
    M37KindInit = 0,   // no data phase
    M37KindRead = 1,   // data from the camera
    M37KindWrite = 2,  // data to the camera
};

// Request types: the user-client selector that asked for the transfer.
enum : UInt8 {
    kM37RequestInit = 2,
    kM37RequestRead = 3,
    kM37RequestWrite = 4,
    kM37RequestStatus = 5,
};

constexpr UInt32 kM37CommandTimeoutMs = 30000;
constexpr UInt32 kHVBVendorID = 0x6D21;
constexpr UInt32 kHVBFirstStorageProductID = 0x5000;
constexpr UInt32 kHVBLastStorageProductID = 0x54FF;

struct M37Command {
    SCSICommandDescriptorBlock cdb;
    UInt8 direction;
};

// The 16-byte vendor block and the data direction for one transfer.
M37Command vendorCdb(M37Kind kind, UInt8 requestType, UInt8 iCmd, UInt32 length, UInt8 functionCallMessage);

class com_brevantis_driver_HVBSCSIDriver : public IOSCSIPeripheralDeviceType00 {
    OSDeclareDefaultStructors(com_brevantis_driver_HVBSCSIDriver)
public:
    IOService* probe(IOService* provider, SInt32* score) override;
    bool start(IOService* provider) override;

    // Up the provider chain from the provider; the driver's own table is skipped, since the
    // personality puts the generic product ID there. Borrowed result.
    OSObject* getParentProperty(const char* name);
    IOReturn M37Read(IOMemoryDescriptor* buffer, UInt8 iCmd, UInt32 length, UInt8 functionCallMessage,
                     UInt8 requestType);
    IOReturn M37Write(IOMemoryDescriptor* buffer, UInt8 iCmd, UInt32 length, UInt8 functionCallMessage,
                      UInt8 requestType);
    IOReturn M37Init();
    IOReturn M37SyncIO(M37Kind kind, IOMemoryDescriptor* buffer, UInt8 iCmd, UInt32 length,
                       UInt8 functionCallMessage, UInt8 requestType);

protected:
    bool InitializeDeviceSupport() override;

    OSMetaClassDeclareReservedUnused(com_brevantis_driver_HVBSCSIDriver, 0);
    OSMetaClassDeclareReservedUnused(com_brevantis_driver_HVBSCSIDriver, 1);
    OSMetaClassDeclareReservedUnused(com_brevantis_driver_HVBSCSIDriver, 2);
    OSMetaClassDeclareReservedUnused(com_brevantis_driver_HVBSCSIDriver, 3);
    OSMetaClassDeclareReservedUnused(com_brevantis_driver_HVBSCSIDriver, 4);
    OSMetaClassDeclareReservedUnused(com_brevantis_driver_HVBSCSIDriver, 5);
    OSMetaClassDeclareReservedUnused(com_brevantis_driver_HVBSCSIDriver, 6);
    OSMetaClassDeclareReservedUnused(com_brevantis_driver_HVBSCSIDriver, 7);
    OSMetaClassDeclareReservedUnused(com_brevantis_driver_HVBSCSIDriver, 8);
    OSMetaClassDeclareReservedUnused(com_brevantis_driver_HVBSCSIDriver, 9);
};
