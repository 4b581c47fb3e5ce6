#include "platform/iokit/kern/IOMemoryDescriptor.h"

#include <atomic>
#include <algorithm>
#include <cstring>

#include "platform/iokit/kern/FailureHook.h"

namespace {
std::atomic<int> gFailWithAddress{0};
std::atomic<int> gFailPrepare{0};
}  // namespace

using iokit::takeFailure;

OSDefineMetaClassAndStructors(IOMemoryDescriptor, OSObject);

IOMemoryDescriptor* IOMemoryDescriptor::withAddress(void* address, IOByteCount length, IODirection direction) {
    if (takeFailure(gFailWithAddress)) return nullptr;
    if (!address && length) return nullptr;
    auto* descriptor = new IOMemoryDescriptor;
    descriptor->address_ = static_cast<uint8_t*>(address);
    descriptor->length_ = length;
    descriptor->direction_ = direction;
    return descriptor;
}

IOReturn IOMemoryDescriptor::prepare(IODirection) {
    if (takeFailure(gFailPrepare)) return kIOReturnNoMemory;
    prepared_ = true;
    return kIOReturnSuccess;
}

IOReturn IOMemoryDescriptor::complete(IODirection) {
    if (!prepared_) return kIOReturnNotOpen;
    prepared_ = false;
    return kIOReturnSuccess;
}

IOByteCount IOMemoryDescriptor::readBytes(IOByteCount offset, void* bytes, IOByteCount length) const {
    if (!bytes || offset >= length_) return 0;
    IOByteCount n = std::min(length, length_ - offset);
    std::memcpy(bytes, address_ + offset, n);
    return n;
}

IOByteCount IOMemoryDescriptor::writeBytes(IOByteCount offset, const void* bytes, IOByteCount length) {
    if (!bytes || offset >= length_ || direction_ == kIODirectionOut) return 0;
    IOByteCount n = std::min(length, length_ - offset);
    std::memcpy(address_ + offset, bytes, n);
    return n;
}

void IOMemoryDescriptor::failNextWithAddress() { gFailWithAddress.fetch_add(1); }
void IOMemoryDescriptor::failNextPrepare() { gFailPrepare.fetch_add(1); }
