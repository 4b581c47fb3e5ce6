#pragma once
// Scalar types and return codes of the kernel layer.
#include <cstddef>
#include <cstdint>

using UInt8 = uint8_t;
using UInt16 = uint16_t;
using UInt32 = uint32_t;
using UInt64 = uint64_t;
using SInt8 = int8_t;
using SInt32 = int32_t;
using SInt64 = int64_t;
using IOOptionBits = uint32_t;
using IOByteCount = uint64_t;
using kern_return_t = int32_t;
using IOReturn = kern_return_t;

// The peer that owns a connection: a process and its link session.
struct task {
    int pid = 0;
    uint64_t sessionID = 0;
};
using task_t = task*;

constexpr IOReturn kIOReturnSuccess = 0;
constexpr IOReturn kIOReturnError = static_cast<IOReturn>(0xE00002BCu);
constexpr IOReturn kIOReturnNoMemory = static_cast<IOReturn>(0xE00002BDu);
constexpr IOReturn kIOReturnNoResources = static_cast<IOReturn>(0xE00002BEu);
constexpr IOReturn kIOReturnNoDevice = static_cast<IOReturn>(0xE00002C0u);
constexpr IOReturn kIOReturnBadArgument = static_cast<IOReturn>(0xE00002C2u);
constexpr IOReturn kIOReturnExclusiveAccess = static_cast<IOReturn>(0xE00002C5u);
constexpr IOReturn kIOReturnUnsupported = static_cast<IOReturn>(0xE00002C7u);
constexpr IOReturn kIOReturnNotOpen = static_cast<IOReturn>(0xE00002CDu);
constexpr IOReturn kIOReturnNotFound = static_cast<IOReturn>(0xE00002F0u);
constexpr IOReturn kIOReturnNotAttached = static_cast<IOReturn>(0xE00002D9u);
constexpr IOReturn kIOReturnNoCompletion = static_cast<IOReturn>(0xE00002EAu);
constexpr IOReturn kIOReturnNotPermitted = static_cast<IOReturn>(0xE00002E2u);
constexpr IOReturn kIOReturnInvalid = static_cast<IOReturn>(0xE0000001u);

// Registry search options.
constexpr IOOptionBits kIORegistryIterateRecursively = 0x00000001;
constexpr IOOptionBits kIORegistryIterateParents = 0x00000002;
constexpr const char* kIOServicePlane = "IOService";
