#pragma once
// The kernel end of a user connection and its external-method dispatch.
#include "platform/iokit/kern/IOMemoryDescriptor.h"
#include "platform/iokit/kern/IOService.h"

struct IOExternalMethodArguments {
    uint32_t version = 0;
    uint32_t selector = 0;
    const uint64_t* scalarInput = nullptr;
    uint32_t scalarInputCount = 0;
    const void* structureInput = nullptr;
    uint32_t structureInputSize = 0;
    IOMemoryDescriptor* structureInputDescriptor = nullptr;
    uint64_t* scalarOutput = nullptr;
    uint32_t scalarOutputCount = 0;
    void* structureOutput = nullptr;
    uint32_t structureOutputSize = 0;
    IOMemoryDescriptor* structureOutputDescriptor = nullptr;
    uint32_t structureOutputDescriptorSize = 0;
};

using IOExternalMethodAction = IOReturn (*)(OSObject* target, void* reference, IOExternalMethodArguments* arguments);

struct IOExternalMethodDispatch {
    IOExternalMethodAction function;
    uint32_t checkScalarInputCount;
    uint32_t checkStructureInputSize;
    uint32_t checkScalarOutputCount;
    uint32_t checkStructureOutputSize;
};

constexpr uint32_t kIOUCVariableStructureSize = 0xFFFFFFFFu;

class IOUserClient : public IOService {
    OSDeclareDefaultStructors(IOUserClient)
public:
    virtual bool initWithTask(task_t owningTask, void* securityID, UInt32 type);
    // With a dispatch row: the call's scalar counts and structure sizes must equal the row's
    // (kIOUCVariableStructureSize accepts any size), else kIOReturnBadArgument before the
    // function runs. Without a row: kIOReturnUnsupported.
    virtual IOReturn externalMethod(uint32_t selector, IOExternalMethodArguments* arguments,
                                    IOExternalMethodDispatch* dispatch = nullptr, OSObject* target = nullptr,
                                    void* reference = nullptr);
    // The owner closed the connection.
    virtual IOReturn clientClose();
    // The owner went away without closing; the base closes on its behalf.
    virtual IOReturn clientDied();

    task_t owningTask() const { return owningTask_; }

private:
    task_t owningTask_ = nullptr;
};
