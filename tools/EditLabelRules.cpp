#include "tools/EditLabelRules.h"

#include <QList>

namespace hvb::EditLabelRules {

int maximumLength(const std::optional<std::string>& model) { return model && *model == "HVBS2A" ? 20 : 25; }

QString limited(const QString& text, int maximum) {
    const QList<uint> characters = text.toUcs4();
    if (characters.size() <= maximum) return text;
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(characters.constData()), maximum);
}

// Whole characters are dropped from the end, never half of a pair.
QString fitted(const QString& text, int maximum, const CommandDictionary& table) {
    QList<uint> characters = limited(text, maximum).toUcs4();
    auto label = [&characters] {
        return QString::fromUcs4(reinterpret_cast<const char32_t*>(characters.constData()), characters.size());
    };
    while (!characters.isEmpty()) {
        const auto size = payloadSize(table, label());
        if (!size || *size <= kPayloadLimit) break;
        characters.removeLast();
    }
    return label();
}

// By code point: a regular expression over UTF-16 would see the halves of a pair.
bool hasForbiddenCharacter(const QString& text, bool russian, bool extendedCyrillic) {
    for (uint c : text.toUcs4()) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ' ' ||
                           c == '_';
        const bool cyrillic = russian && c >= 0x0410 && c <= 0x044F;
        const bool yo = russian && extendedCyrillic && (c == 0x0401 || c == 0x0451);
        if (!plain && !cyrillic && !yo) return true;
    }
    return false;
}

std::optional<size_t> payloadSize(const CommandDictionary& table, const QString& label) {
    if (table.count("HVB_UTF8_USERLABEL")) return static_cast<size_t>(label.toUtf8().size());
    if (table.count("HVB_UNICODE_USERLABEL")) {
        const size_t units = static_cast<size_t>(label.size());
        return std::to_string(units).size() + 4 * units;
    }
    if (table.count("HVB_USERLABEL")) return static_cast<size_t>(label.toUtf8().size());
    return std::nullopt;
}

Limit limit(int maximum, const CommandDictionary& table, bool russian) {
    auto longest = [&](QChar letter) {
        return static_cast<int>(fitted(QString(maximum, letter), maximum, table).size());
    };
    Limit out;
    out.characters = longest(QLatin1Char('A'));
    if (russian) {
        const int cyrillic = longest(QChar(0x0416));
        if (cyrillic < out.characters) out.cyrillic = cyrillic;
    }
    return out;
}

Verdict verdict(const QString& text, bool russian, bool extendedCyrillic) {
    if (hasForbiddenCharacter(text, russian, extendedCyrillic)) return Verdict::forbiddenCharacter;
    if (text.trimmed().isEmpty()) return Verdict::blank;
    return Verdict::accepted;
}

}  // namespace hvb::EditLabelRules
