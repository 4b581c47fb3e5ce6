#pragma once
// The small text helpers every layer needs, in one place.
#include <string>
#include <string_view>
#include <vector>

namespace foundation {

// Without leading and trailing ASCII white space (blank, tab, line feed, carriage return,
// vertical tab, form feed).
std::string_view trimmed(std::string_view text);

// The last line that holds more than white space, trimmed; empty when there is none.
std::string lastNonEmptyLine(std::string_view text);

// The pieces between separators, empty ones included: "a..b" by '.' is {"a", "", "b"}; an
// empty text is one empty piece.
std::vector<std::string> splitKeepingEmpty(std::string_view text, char separator);

}  // namespace foundation
