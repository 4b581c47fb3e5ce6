#pragma once
// Appcast feeds (RSS 2.0 with one <item> per release) and the comparison of dotted versions.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/services/Updater.h"

namespace services::appcast {

// The items of an appcast, in document order. Items without a version are left out; text that
// is not an appcast gives no items.
std::vector<AppcastItem> parse(std::string_view xml);

// Compares dotted versions number by number ("1.10" > "1.9", "2.1" == "2.1.0"). A part counts
// by its leading digits (none: 0), of any length. Negative, zero or positive like strcmp.
int compareVersions(std::string_view a, std::string_view b);

// The item with the highest version (the first of equals); none for an empty list.
std::optional<AppcastItem> newestItem(const std::vector<AppcastItem>& items);

}  // namespace services::appcast
