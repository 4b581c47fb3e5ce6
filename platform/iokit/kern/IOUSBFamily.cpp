#include "platform/iokit/kern/IOUSBFamily.h"

OSDefineMetaClassAndStructors(IOUSBDevice, IOService);
OSDefineMetaClassAndStructors(IOUSBInterface, IOService);
OSDefineMetaClassAndStructors(IOUSBMassStorageClass, IOService);
