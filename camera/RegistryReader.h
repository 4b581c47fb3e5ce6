#pragma once
// Registry reads the camera link shares: texts copied the way the platform copies them into
// fixed buffers, the driver's services in platform order, and the BSD name below an entry.
#include <optional>
#include <string>
#include <vector>

#include "platform/iokit/user/IOKitLib.h"

namespace hvb {

class RegistryReader {
public:
    // A text property as ASCII that fits a 30-byte buffer (at most 29 characters); none when
    // absent, not text, not ASCII or too long. `options` 0 reads the entry itself; otherwise
    // a search in the service plane with those options.
    static std::optional<std::string> asciiProperty(io_registry_entry_t entry, const char* key, IOOptionBits options);
    // A text property whole, with every ill-formed UTF-8 sequence replaced by U+FFFD: the form
    // in which the camera's own replies are decoded, so the two compare. None when absent or
    // not text.
    static std::optional<std::string> textProperty(io_registry_entry_t entry, const char* key, IOOptionBits options);
    // "USB Serial Number" from the entry up through its parents, whole (a camera's serial may
    // be long and hold any bytes; it is only ever compared and shown, never used as a path).
    static std::optional<std::string> serialNumber(io_registry_entry_t entry);
    // "BSD Name" searched below the entry, one attempt.
    static std::optional<std::string> bsdName(io_registry_entry_t entry);
    // Every registered driver service, in the platform's order; the caller releases each.
    static std::vector<io_service_t> driverServices();
    static void release(std::vector<io_service_t>& services);
};

}  // namespace hvb
