#pragma once
// The USB entries above a camera's SCSI nub: the device, its interface and the mass-storage
// protocol service.
#include "platform/iokit/kern/IOService.h"

constexpr const char* kUSBVendorID = "idVendor";
constexpr const char* kUSBProductID = "idProduct";
constexpr const char* kUSBSerialNumberString = "USB Serial Number";
constexpr const char* kUSBVendorString = "USB Vendor Name";
constexpr const char* kUSBProductString = "USB Product Name";
constexpr const char* kUSBDevicePropertyLocationID = "locationID";

class IOUSBDevice : public IOService {
    OSDeclareDefaultStructors(IOUSBDevice)
};
class IOUSBInterface : public IOService {
    OSDeclareDefaultStructors(IOUSBInterface)
};
class IOUSBMassStorageClass : public IOService {
    OSDeclareDefaultStructors(IOUSBMassStorageClass)
};
