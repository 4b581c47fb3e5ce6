// The driver host's socket messages, read the way the host reads a request and the way the
// application reads a reply or a pushed event: every field bounded, nothing read past the packet.
#include <cstdint>
#include <span>

#include "platform/iokit/link/LinkSupport.h"
#include "platform/iokit/link/SocketWire.h"

namespace {

using iokit::wire::Reader;
using iokit::wire::Type;
namespace wire = iokit::wire;

void readRequest(Reader& r) {
    switch (static_cast<Type>(r.header().type)) {
        case Type::getMatchingServices: r.matching(); break;
        case Type::retainObject:
        case Type::releaseObject:
        case Type::getName:
        case Type::getPath:
        case Type::getEntryID:
        case Type::closeConnection: r.u32(); break;
        case Type::getProperty:
            r.u32();
            r.text(wire::kMaxNameLength);
            break;
        case Type::searchProperty:
            r.u32();
            r.text(wire::kMaxNameLength);
            r.u32();
            break;
        case Type::addNotification:
            r.u64();
            r.u8();
            r.matching();
            break;
        case Type::removeNotification: r.u64(); break;
        case Type::openConnection:
            r.u32();
            r.u32();
            break;
        case Type::callMethod: {
            r.u32();
            r.u32();
            const uint32_t scalars = r.u32();
            if (scalars > iokit::kMaxScalarCount) return;
            for (uint32_t i = 0; i < scalars; ++i) r.u64();
            r.bytes(iokit::kMaxInlineStructureSize);
            r.u32();
            r.u32();
            break;
        }
        case Type::control: {
            const uint32_t count = r.u32();
            if (count > wire::kMaxControlArguments) return;
            for (uint32_t i = 0; i < count && r.ok(); ++i) r.text(wire::kMaxNameLength);
            break;
        }
        default: break;
    }
    r.finish();
}

void readReply(Reader& r) {
    switch (static_cast<Type>(r.header().type)) {
        case Type::hello:
            r.u32();
            r.u8();
            r.u32();
            break;
        case Type::event:
            r.u64();
            r.u32();
            r.u64();
            break;
        case Type::watch: {
            r.u64();
            const auto snapshot = r.snapshot();
            snapshot.property("idVendor");
            snapshot.search("USB Serial Number", 1);
            break;
        }
        case Type::getMatchingServices: {
            r.u32();
            const uint32_t count = r.u32();
            for (uint32_t i = 0; i < count && i <= wire::kMaxHandles && r.ok(); ++i) r.u32();
            break;
        }
        case Type::getProperty:
        case Type::searchProperty:
            r.u32();
            r.optionalValue();
            break;
        case Type::getName:
        case Type::getPath:
            r.u32();
            r.text(wire::kMaxPathLength);
            break;
        case Type::callMethod: {
            r.u32();
            const uint32_t scalars = r.u32();
            for (uint32_t i = 0; i < scalars && i <= iokit::kMaxScalarCount && r.ok(); ++i) r.u64();
            r.bytes(iokit::kMaxInlineStructureSize);
            break;
        }
        default:
            r.u32();
            r.value();
            break;
    }
    r.finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> packet(data, size);
    Reader r(packet);
    if (!r.ok()) return 0;
    if (r.isReply() || r.header().type >= static_cast<uint16_t>(Type::event)) readReply(r);
    else readRequest(r);
    return 0;
}
