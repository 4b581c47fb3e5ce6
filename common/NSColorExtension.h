#pragma once
// Colours from hexadecimal texts, and whole-text regular-expression matches.
#include <QColor>
#include <QString>

namespace hvb {

// The colour of "#rrggbb" or "0xrrggbb" (bits 16-23 red, 8-15 green, 0-7 blue; higher bits
// ignored, more than 32 bits saturate) with the given alpha. Callers pass fixed literals: a
// text without prefix or with anything but hexadecimal digits after it is a programming error
// and stops the program.
QColor colorFromHex(const QString& hex, float alpha);

// True when the whole of `text` matches `pattern`.
bool regexMatches(const QString& pattern, const QString& text);

}  // namespace hvb
