#include "camera/TextCharacters.h"

#include <span>

#include "camera/NvUSBcmd.h"

namespace hvb::text {

std::u32string characters(std::string_view utf8) {
    // The reply decoder already turns UTF-8 into scalar values (stopping at a zero byte, which
    // texts here never hold).
    return NvUSBcmd::replyCharacters(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size()));
}

std::string utf8(std::u32string_view chars) {
    std::string out;
    for (char32_t cp : chars) {
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::size_t characterCount(std::string_view utf8Text) { return characters(utf8Text).size(); }

bool isAsciiAlphanumeric(std::string_view t) {
    for (char c : t) {
        bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!ok) return false;
    }
    return true;
}

}  // namespace hvb::text
