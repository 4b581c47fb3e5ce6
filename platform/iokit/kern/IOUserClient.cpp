#include "platform/iokit/kern/IOUserClient.h"

OSDefineMetaClassAndStructors(IOUserClient, IOService);

bool IOUserClient::initWithTask(task_t owningTask, void*, UInt32) {
    if (!IOService::init()) return false;
    owningTask_ = owningTask;
    return true;
}

IOReturn IOUserClient::externalMethod(uint32_t, IOExternalMethodArguments* arguments,
                                      IOExternalMethodDispatch* dispatch, OSObject* target, void* reference) {
    if (!dispatch) return kIOReturnUnsupported;
    if (!arguments) return kIOReturnBadArgument;
    auto sizeFits = [](uint32_t expected, uint64_t actual) {
        return expected == kIOUCVariableStructureSize || expected == actual;
    };
    uint64_t inputSize = arguments->structureInputDescriptor ? arguments->structureInputDescriptor->getLength()
                                                             : arguments->structureInputSize;
    uint64_t outputSize = arguments->structureOutputDescriptor ? arguments->structureOutputDescriptor->getLength()
                                                               : arguments->structureOutputSize;
    if (dispatch->checkScalarInputCount != arguments->scalarInputCount) return kIOReturnBadArgument;
    if (!sizeFits(dispatch->checkStructureInputSize, inputSize)) return kIOReturnBadArgument;
    if (dispatch->checkScalarOutputCount != arguments->scalarOutputCount) return kIOReturnBadArgument;
    if (!sizeFits(dispatch->checkStructureOutputSize, outputSize)) return kIOReturnBadArgument;
    if (!dispatch->function) return kIOReturnNoCompletion;
    return dispatch->function(target ? target : this, reference, arguments);
}

IOReturn IOUserClient::clientClose() { return kIOReturnUnsupported; }

IOReturn IOUserClient::clientDied() { return clientClose(); }
