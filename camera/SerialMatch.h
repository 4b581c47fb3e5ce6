#pragma once
// The one rule by which a serial number or UID picks a camera: an empty needle matches nothing;
// otherwise a substring test, with or without regard to case as the caller's flow says.
#include <string_view>

namespace hvb {

enum class MatchCase { sensitive, insensitive };

// True when `needle` is not empty and occurs in `haystack`. Case folding is ASCII only.
bool serialContains(std::string_view haystack, std::string_view needle, MatchCase rule);
// True when both are equal and not empty.
bool serialEquals(std::string_view a, std::string_view b);

}  // namespace hvb
