#pragma once
// A described range of memory handed to a device for a data phase.
#include "platform/iokit/kern/OSObject.h"

enum IODirection : uint32_t {
    kIODirectionNone = 0,
    kIODirectionIn = 1,   // device to memory
    kIODirectionOut = 2,  // memory to device
    kIODirectionOutIn = 3,
};

class IOMemoryDescriptor : public OSObject {
    OSDeclareDefaultStructors(IOMemoryDescriptor)
public:
    // Null on allocation failure or when a non-empty range has no address.
    static IOMemoryDescriptor* withAddress(void* address, IOByteCount length, IODirection direction);

    IOByteCount getLength() const { return length_; }
    IODirection getDirection() const { return direction_; }
    bool isPrepared() const { return prepared_; }

    virtual IOReturn prepare(IODirection forDirection = kIODirectionNone);
    virtual IOReturn complete(IODirection forDirection = kIODirectionNone);

    // Copies are clipped to the range; they return the count copied.
    IOByteCount readBytes(IOByteCount offset, void* bytes, IOByteCount length) const;
    // An Out descriptor may describe read-only memory: writing through it copies nothing.
    IOByteCount writeBytes(IOByteCount offset, const void* bytes, IOByteCount length);

    // Test hooks: the next withAddress answers null, the next prepare fails.
    static void failNextWithAddress();
    static void failNextPrepare();

private:
    uint8_t* address_ = nullptr;
    IOByteCount length_ = 0;
    IODirection direction_ = kIODirectionNone;
    bool prepared_ = false;
};
