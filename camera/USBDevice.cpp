#include "camera/USBDevice.h"

#include "platform/foundation/TextCharacters.h"

namespace hvb {

std::optional<std::string> USBDevice::shortLabel() const {
    if (!serialNr) return std::nullopt;
    std::u32string compact;
    for (char32_t c : foundation::text::characters(name))
        if (c != U' ') compact.push_back(c);
    std::u32string serial = foundation::text::characters(*serialNr);
    std::string label = foundation::text::utf8(compact.substr(0, 5)) + "_";
    if (serial.size() > 6) label += foundation::text::utf8(serial.substr(6, 6));
    return label;
}

}  // namespace hvb
