#include "SCSIDriver/HVBSCSIDriverUserClient.h"

#include <algorithm>
#include <cstring>

#include "platform/iokit/kern/IOLib.h"

typedef IOUserClient super;

using UserClient = com_brevantis_driver_HVBSCSIDriverUserClient;

const IOExternalMethodDispatch UserClient::Methods[kM37MethodCount] = {
    {&UserClient::sOpenUserClient, 0, 0, 0, 0},
    {&UserClient::sCloseUserClient, 0, 0, 0, 0},
    {&UserClient::sInit, 0, 0, 0, 0},
    {&UserClient::sRead, 3, 0, 0, 256},
    {&UserClient::sWrite, 2, 256, 0, 0},
    {&UserClient::sServiceStatus, 3, 0, 0, 256},
};

OSDefineMetaClassAndStructors(com_brevantis_driver_HVBSCSIDriverUserClient, IOUserClient);

namespace {

// A read and a status call differ only in their request type: scalars (cmd, length, fcm).
IOReturn readWithType(OSObject* target, IOExternalMethodArguments* arguments, UInt8 requestType) {
    auto* client = OSDynamicCast(UserClient, target);
    if (!client || !arguments || !arguments->scalarInput) return kIOReturnBadArgument;
    const uint64_t* s = arguments->scalarInput;
    return client->M37IO(nullptr, static_cast<UInt8>(s[0]), static_cast<UInt32>(s[1]), static_cast<UInt8>(s[2]),
                         M37KindRead, arguments, requestType);
}

}  // namespace

bool UserClient::initWithTask(task_t owningTask, void* securityID, UInt32 type) {
    bool result = super::initWithTask(owningTask, securityID, type);
    IOLog("%s[%p]::%s(%p, %p, %u)\n", getName(), static_cast<void*>(this), "initWithTask",
          static_cast<void*>(owningTask), securityID, static_cast<unsigned>(type));
    fTask = owningTask;
    fProvider = nullptr;
    return result;
}

bool UserClient::start(IOService* provider) {
    IOLog("%s[%p]::%s(%p)\n", getName(), static_cast<void*>(this), "start", static_cast<void*>(provider));
    auto* driver = OSDynamicCast(com_brevantis_driver_HVBSCSIDriver, provider);
    if (!driver) return false;
    if (fProvider != driver) {
        driver->retain();
        if (fProvider) fProvider->release();
        fProvider = driver;
    }
    return super::start(provider);
}

void UserClient::stop(IOService* provider) {
    IOLog("%s[%p]::%s(%p)\n", getName(), static_cast<void*>(this), "stop", static_cast<void*>(provider));
    super::stop(provider);
}

bool UserClient::willTerminate(IOService* provider, IOOptionBits options) {
    IOLog("%s[%p]::%s(%p, %ld)\n", getName(), static_cast<void*>(this), "willTerminate", static_cast<void*>(provider),
          static_cast<long>(options));
    return super::willTerminate(provider, options);
}

bool UserClient::didTerminate(IOService* provider, IOOptionBits options, bool* defer) {
    IOLog("%s[%p]::%s(%p, %ld, %p)\n", getName(), static_cast<void*>(this), "didTerminate",
          static_cast<void*>(provider), static_cast<long>(options), static_cast<void*>(defer));
    closeUserClient();
    bool result = super::didTerminate(provider, options, defer);
    if (defer) *defer = false;
    return result;
}

bool UserClient::terminate(IOOptionBits options) {
    IOLog("%s[%p]::%s(%ld)\n", getName(), static_cast<void*>(this), "terminate", static_cast<long>(options));
    return super::terminate(options);
}

bool UserClient::finalize(IOOptionBits options) {
    IOLog("%s[%p]::%s(%ld)\n", getName(), static_cast<void*>(this), "finalize", static_cast<long>(options));
    return super::finalize(options);
}

IOReturn UserClient::clientClose() {
    IOLog("%s[%p]::%s()\n", getName(), static_cast<void*>(this), "clientClose");
    closeUserClient();
    if (!terminate(0)) IOLog("%s[%p]::%s(): terminate() failed.\n", getName(), static_cast<void*>(this), "clientClose");
    return kIOReturnSuccess;
}

IOReturn UserClient::clientDied() {
    IOLog("%s[%p]::%s()\n", getName(), static_cast<void*>(this), "clientDied");
    return super::clientDied();
}

void UserClient::free() {
    if (fProvider) fProvider->release();
    fProvider = nullptr;
    super::free();
}

IOReturn UserClient::externalMethod(uint32_t selector, IOExternalMethodArguments* arguments,
                                    IOExternalMethodDispatch* dispatch, OSObject* target, void* reference) {
    IOLog("%s[%p]::%s(%d, %p, %p, %p, %p)\n", getName(), static_cast<void*>(this), "externalMethod",
          static_cast<int>(selector), static_cast<void*>(arguments), static_cast<void*>(dispatch),
          static_cast<void*>(target), reference);
    if (selector < kM37MethodCount) {
        dispatch = const_cast<IOExternalMethodDispatch*>(&Methods[selector]);
        if (!target) target = this;
    }
    return super::externalMethod(selector, arguments, dispatch, target, reference);
}

IOReturn UserClient::openUserClient() {
    IOLog("%s[%p]::%s()\n", getName(), static_cast<void*>(this), "openUserClient");
    if (!fProvider || isInactive()) return kIOReturnNotAttached;
    if (!fProvider->open(this)) return kIOReturnExclusiveAccess;
    return kIOReturnSuccess;
}

IOReturn UserClient::closeUserClient() {
    IOLog("%s[%p]::%s()\n", getName(), static_cast<void*>(this), "closeUserClient");
    if (!fProvider) {
        IOLog("%s[%p]::%s(): returning kIOReturnNotAttached.\n", getName(), static_cast<void*>(this),
              "closeUserClient");
        return kIOReturnNotAttached;
    }
    if (fProvider->isOpen(this)) {
        fProvider->close(this);
        return kIOReturnSuccess;
    }
    IOLog("%s[%p]::%s(): returning kIOReturnNotOpen.\n", getName(), static_cast<void*>(this), "closeUserClient");
    return kIOReturnNotOpen;
}

IOReturn UserClient::M37IO(const UInt8* data, UInt8 cmd, UInt32 length, UInt8 functionCallMessage, M37Kind kind,
                           IOExternalMethodArguments* arguments, UInt8 requestType) {
    IOLog("%s[%p]::%s(%p, %d, %d, %d)\n", getName(), static_cast<void*>(this), "M37IO",
          static_cast<const void*>(data), static_cast<int>(length), static_cast<int>(functionCallMessage),
          static_cast<int>(kind));
    if (!fProvider || isInactive()) return kIOReturnNotAttached;
    if (!fProvider->isOpen(this)) return kIOReturnNotOpen;
    if (kind == M37KindInit) return fProvider->M37Init();
    // The structures carrying the data hold 256 bytes: refuse more before touching anything.
    if (length > kM37MaxTransferLength) return kIOReturnBadArgument;

    auto* buffer = static_cast<UInt8*>(IOMalloc(length));
    if (!buffer) return kIOReturnNoMemory;
    std::memset(buffer, 0, length);
    IOMemoryDescriptor* descriptor =
        kind == M37KindWrite
            ? IOMemoryDescriptor::withAddress(const_cast<UInt8*>(data), length, kIODirectionOut)
            : IOMemoryDescriptor::withAddress(buffer, length, kIODirectionIn);
    IOReturn result = kIOReturnError;
    if (descriptor) {
        if (kind == M37KindRead) {
            result = fProvider->M37Read(descriptor, cmd, length, functionCallMessage, requestType);
            if (arguments && arguments->structureOutput) {
                IOByteCount n = std::min<IOByteCount>(descriptor->getLength(), arguments->structureOutputSize);
                descriptor->readBytes(0, arguments->structureOutput, n);
            }
        } else {
            result = fProvider->M37Write(descriptor, cmd, length, functionCallMessage, requestType);
        }
        descriptor->release();
    }
    IOFree(buffer, length);
    return result;
}

IOReturn UserClient::sOpenUserClient(OSObject* target, void*, IOExternalMethodArguments*) {
    auto* client = OSDynamicCast(UserClient, target);
    return client ? client->openUserClient() : kIOReturnBadArgument;
}

IOReturn UserClient::sCloseUserClient(OSObject* target, void*, IOExternalMethodArguments*) {
    auto* client = OSDynamicCast(UserClient, target);
    return client ? client->closeUserClient() : kIOReturnBadArgument;
}

IOReturn UserClient::sInit(OSObject* target, void*, IOExternalMethodArguments* arguments) {
    auto* client = OSDynamicCast(UserClient, target);
    return client ? client->M37IO(nullptr, 0, 0, 0, M37KindInit, arguments, kM37RequestInit) : kIOReturnBadArgument;
}

IOReturn UserClient::sRead(OSObject* target, void*, IOExternalMethodArguments* arguments) {
    return readWithType(target, arguments, kM37RequestRead);
}

IOReturn UserClient::sWrite(OSObject* target, void*, IOExternalMethodArguments* arguments) {
    auto* client = OSDynamicCast(UserClient, target);
    if (!client || !arguments || !arguments->scalarInput) return kIOReturnBadArgument;
    const uint64_t* s = arguments->scalarInput;
    IOLog("sWrite argument = %llu %llu\n", static_cast<unsigned long long>(s[0]), static_cast<unsigned long long>(s[1]));
    return client->M37IO(static_cast<const UInt8*>(arguments->structureInput), static_cast<UInt8>(s[0]),
                         static_cast<UInt32>(s[1]), 0, M37KindWrite, arguments, kM37RequestWrite);
}

IOReturn UserClient::sServiceStatus(OSObject* target, void*, IOExternalMethodArguments* arguments) {
    return readWithType(target, arguments, kM37RequestStatus);
}
