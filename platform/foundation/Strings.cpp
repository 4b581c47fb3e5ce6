#include "platform/foundation/Strings.h"

namespace foundation {

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view kWhite = " \t\n\r\v\f";
    const size_t first = text.find_first_not_of(kWhite);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kWhite) - first + 1);
}

std::string lastNonEmptyLine(std::string_view text) {
    text = trimmed(text);
    const size_t newline = text.rfind('\n');
    return std::string(newline == std::string_view::npos ? text : trimmed(text.substr(newline + 1)));
}

std::vector<std::string> splitKeepingEmpty(std::string_view text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        if (at == std::string_view::npos) {
            parts.emplace_back(text.substr(start));
            return parts;
        }
        parts.emplace_back(text.substr(start, at - start));
        start = at + 1;
    }
}

}  // namespace foundation
