#include "platform/foundation/TextCharacters.h"

#include <algorithm>

namespace foundation::text {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

}  // namespace

Sequence decodeAt(std::string_view text, std::size_t i) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const size_t n = text.size();
    const uint8_t b = bytes[i];
    if (b < 0x80) return {b, 1, true};
    size_t need = 0;
    char32_t cp = 0;
    uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        cp = b & 0x0F;
        if (b == 0xE0) lo = 0xA0;  // no overlong forms
        if (b == 0xED) hi = 0x9F;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        cp = b & 0x07;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;  // nothing past U+10FFFF
    } else {
        return {kReplacement, 1, false};
    }
    size_t j = i + 1;
    for (size_t k = 0; k < need; ++k, ++j) {
        if (j >= n) return {kReplacement, j - i, false};
        const uint8_t c = bytes[j];
        const bool inRange = k == 0 ? (c >= lo && c <= hi) : isContinuation(c);
        if (!inRange) return {kReplacement, std::max<size_t>(j - i, 1), false};  // the valid prefix
        cp = (cp << 6) | (c & 0x3F);
    }
    return {cp, j - i, true};
}

// Each maximal invalid subpart becomes one U+FFFD.
std::u32string characters(std::string_view utf8Text) {
    std::u32string out;
    size_t i = 0;
    while (i < utf8Text.size()) {
        const Sequence s = decodeAt(utf8Text, i);
        out.push_back(s.character);
        i += s.length;
    }
    return out;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
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

std::string utf8(std::u32string_view chars) {
    std::string out;
    out.reserve(chars.size());
    for (char32_t cp : chars) appendUtf8(out, cp);
    return out;
}

std::size_t characterCount(std::string_view utf8Text) { return characters(utf8Text).size(); }

// Decoding replaces every ill-formed part, so only well-formed text survives the round trip.
bool isValidUtf8(std::string_view bytes) { return utf8(characters(bytes)) == bytes; }

bool isAsciiAlphanumeric(std::string_view t) {
    for (char c : t) {
        bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!ok) return false;
    }
    return true;
}

}  // namespace foundation::text
