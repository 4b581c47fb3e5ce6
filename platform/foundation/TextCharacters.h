#pragma once
// Texts counted in characters (Unicode scalar values): the one UTF-8 codec of the system.
#include <string>
#include <string_view>

namespace foundation::text {

// The sequence that starts at byte i (i < size): a scalar value and its length, or, when
// ill-formed (overlong, surrogate, past U+10FFFF, cut short), U+FFFD and the length of the
// maximal invalid subpart (at least 1).
struct Sequence {
    char32_t character;
    std::size_t length;
    bool valid;
};
Sequence decodeAt(std::string_view utf8, std::size_t i);
// UTF-8 to scalar values; an invalid byte becomes U+FFFD.
std::u32string characters(std::string_view utf8);
std::string utf8(std::u32string_view characters);
// Appends one scalar value; a surrogate or a value past U+10FFFF becomes U+FFFD.
void appendUtf8(std::string& out, char32_t character);
std::size_t characterCount(std::string_view utf8);
// True when the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);
bool isAsciiAlphanumeric(std::string_view text);

}  // namespace foundation::text
