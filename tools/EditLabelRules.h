#pragma once
// What the user-label dialog accepts as a label: a length per model, a character set per camera
// (letters, digits, blank and underscore; Cyrillic on cameras that take it), not blank, and no
// more than the camera's label command carries whole in its 32-byte block.
#include <cstddef>
#include <optional>
#include <string>

#include <QString>

#include "camera/CommandTables.h"
#include "camera/NvUSBcmd.h"

namespace hvb::EditLabelRules {

inline constexpr size_t kPayloadLimit = NvUSBcmd::kDataPayloadSize;

enum class Verdict { accepted, forbiddenCharacter, blank };

// 20 characters on an "HVBS2A", 25 on every other model (and without a model).
int maximumLength(const std::optional<std::string>& model);
// The text cut to `maximum` characters.
QString limited(const QString& text, int maximum);
// The text cut to `maximum` characters and then to the longest start whose payload the table's
// label command carries whole: what the camera can store.
QString fitted(const QString& text, int maximum, const CommandDictionary& table);
// A character outside 0-9, A-Z, a-z, blank and underscore; with `russian` А-я are allowed too,
// with `extendedCyrillic` also Ё and ё.
bool hasForbiddenCharacter(const QString& text, bool russian, bool extendedCyrillic);
// The bytes the first label command of the table would carry: UTF-8 for "HVB_UTF8_USERLABEL"
// and "HVB_USERLABEL", the unit count and four hex digits per UTF-16 unit for
// "HVB_UNICODE_USERLABEL"; none when the table has no label command.
std::optional<size_t> payloadSize(const CommandDictionary& table, const QString& label);
// The longest label the camera stores, in Latin letters, and in Cyrillic where the camera takes
// Cyrillic and fewer of them fit.
struct Limit {
    int characters = 0;
    std::optional<int> cyrillic;
    bool operator==(const Limit&) const = default;
};
Limit limit(int maximum, const CommandDictionary& table, bool russian);
Verdict verdict(const QString& text, bool russian, bool extendedCyrillic);

}  // namespace hvb::EditLabelRules
