// Camera replies: the decoders of text, digit- and number-prefixed text, bytes and labels, and the
// version and serial forms read from them. Whatever the camera sends, no read leaves the reply.
#include <cstdint>
#include <span>
#include <string>

#include "camera/NvUSBcmd.h"
#include "camera/SerialMatch.h"
#include "camera/USBDevice.h"
#include "camera/VersionNumber.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> reply(data, size);
    using hvb::NvUSBcmd;
    NvUSBcmd::decodeByte(reply);
    NvUSBcmd::replyText(reply);
    auto text = NvUSBcmd::decodeString(reply);
    auto digits = NvUSBcmd::decodeDigitPrefixedString(reply);
    const std::string number = NvUSBcmd::decodeNumberPrefixedString(reply);
    NvUSBcmd::decodeUnicodeLabel(reply);
    // The forms a decoded reply is read in: versions, table choice, serial numbers.
    for (const std::string& t : {text.value_or(""), digits.value_or(""), number}) {
        hvb::parseVersionNumber(t);
        for (const char* model : {"HVBR4", "HVBS2A", "HW7334"}) hvb::commandTableIndex(model, t);
        hvb::serialEquals(t, number);
        hvb::serialContains(t, "HVB", hvb::MatchCase::sensitive);
        hvb::serialContains(number, t, hvb::MatchCase::insensitive);
        hvb::USBDevice device;
        device.name = "HVB " + t;
        device.serialNr = number;
        device.shortLabel();
    }
    return 0;
}
