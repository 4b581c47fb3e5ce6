#pragma once
// Internal to the link layer: what the embedded link, the socket link and the socket server
// must do alike.
#include <sys/socket.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/iokit/kern/OSObject.h"
#include "platform/iokit/link/LinkTypes.h"

namespace iokit {

// A kernel-side property as a link value; nullopt for a kind of object a link cannot carry.
inline std::optional<Value> toValue(const OSObject* object) {
    if (auto* number = dynamic_cast<const OSNumber*>(object)) {
        return Number{number->unsigned64BitValue(), static_cast<uint8_t>(number->numberOfBits())};
    }
    if (auto* text = dynamic_cast<const OSString*>(object)) return text->string();
    if (auto* data = dynamic_cast<const OSData*>(object)) return data->bytes();
    if (auto* boolean = dynamic_cast<const OSBoolean*>(object)) return boolean->getValue();
    return std::nullopt;
}

// Empties *result for a method call; false when there is none or the call exceeds the bounds
// the kernel side enforces on every call before dispatch.
inline bool beginCall(CallResult* result, size_t scalarInputCount, size_t structureInputSize,
                      uint32_t scalarOutputCount, uint32_t structureOutputSize) {
    if (!result) return false;
    result->scalarOutput.clear();
    result->structureOutput.clear();
    return scalarInputCount <= kMaxScalarCount && scalarOutputCount <= kMaxScalarCount &&
           structureInputSize <= kMaxInlineStructureSize && structureOutputSize <= kMaxInlineStructureSize;
}

// One packet from a packet socket into `buffer`, a call cut short by a signal retried: its
// length, 0 at the peer's end, -1 on failure (errno EAGAIN: none waiting, with MSG_DONTWAIT);
// *truncated when it did not fit.
inline ssize_t receivePacket(int fd, std::vector<uint8_t>& buffer, bool* truncated, int flags = 0) {
    for (;;) {
        iovec iov{buffer.data(), buffer.size()};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        ssize_t n = ::recvmsg(fd, &msg, flags);
        if (n < 0 && errno == EINTR) continue;
        *truncated = (msg.msg_flags & MSG_TRUNC) != 0;
        return n;
    }
}

}  // namespace iokit
