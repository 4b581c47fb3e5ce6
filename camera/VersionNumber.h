#pragma once
// Version texts as comparable numbers, and the choice of a camera's command table from its model
// code and firmware version.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace hvb {

// "a.b.c" is a*10000 + b*100 + c; a fourth part weighs 0. A text with three or more dots is cut
// at its last dot, otherwise at its last "_". Each part is an optionally signed decimal number;
// an empty or unreadable part, or a value beyond 64 bits, gives -1 ("not a version").
int64_t parseVersionNumber(std::string_view text);

// The index of the command table a camera of `model` with firmware `versionText` speaks: the
// last threshold of the model not above the version. 0 whenever nothing better can be said
// (unknown model, unreadable version); that index may name a table that does not exist.
int commandTableIndex(const std::string& model, const std::string& versionText);

// Model code -> ascending firmware-version texts; entry i is the lowest version speaking table i.
const std::map<std::string, std::vector<std::string>>& fwVersionThresholds();

}  // namespace hvb
