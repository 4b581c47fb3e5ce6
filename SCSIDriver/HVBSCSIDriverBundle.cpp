#include "SCSIDriver/HVBSCSIDriverBundle.h"

#include <mutex>

#include "SCSIDriver/HVBSCSIDriverUserClient.h"
#include "platform/iokit/kern/IOUSBFamily.h"

namespace {

void setString(OSDictionary* dict, const char* key, const char* value) {
    OSString* object = OSString::withCString(value);
    dict->setObject(key, object);
    object->release();
}

void setNumber(OSDictionary* dict, const char* key, uint64_t value, unsigned bits) {
    OSNumber* object = OSNumber::withNumber(value, bits);
    dict->setObject(key, object);
    object->release();
}

bool addPersonality() {
    // Both classes must be known by name before a nub can be matched.
    if (!OSMetaClass::getMetaClassWithName(com_brevantis_driver_HVBSCSIDriver::metaClass->getClassName()) ||
        !OSMetaClass::getMetaClassWithName(com_brevantis_driver_HVBSCSIDriverUserClient::metaClass->getClassName())) {
        return false;
    }
    OSDictionary* personality = OSDictionary::withCapacity(8);
    setString(personality, "CFBundleIdentifier", kHVBSCSIDriverModuleID);
    setString(personality, "CFBundleVersion", kHVBSCSIDriverBundleVersion);
    setString(personality, kIOClassKey, kHVBSCSIDriverClassName);
    setString(personality, kIOProviderClassKey, "IOSCSIPeripheralDeviceNub");
    setNumber(personality, kIOPropertySCSIPeripheralDeviceType, 0, 8);
    // Generic on purpose: the camera's own product ID stays on its USB ancestors.
    setNumber(personality, kUSBVendorID, kHVBVendorID, 32);
    setNumber(personality, kUSBProductID, kHVBFirstStorageProductID, 32);
    setString(personality, kIOUserClientClassKey, kHVBSCSIDriverUserClientClassName);
    bool added = IOService::addPersonality(personality);
    personality->release();
    return added;
}

}  // namespace

bool loadHVBSCSIDriverBundle() {
    static std::once_flag once;
    static bool loaded = false;
    std::call_once(once, [] { loaded = addPersonality(); });
    return loaded;
}
