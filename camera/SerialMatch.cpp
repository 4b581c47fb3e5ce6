#include "camera/SerialMatch.h"

#include <algorithm>

namespace hvb {

namespace {
char fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

bool serialContains(std::string_view haystack, std::string_view needle, MatchCase rule) {
    if (needle.empty() || needle.size() > haystack.size()) return false;
    if (rule == MatchCase::sensitive) return haystack.find(needle) != std::string_view::npos;
    auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                          [](char a, char b) { return fold(a) == fold(b); });
    return it != haystack.end();
}

bool serialEquals(std::string_view a, std::string_view b) { return !a.empty() && a == b; }

}  // namespace hvb
