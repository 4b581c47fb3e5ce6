#include "common/NSColorExtension.h"

#include <cstdint>

#include <QRegularExpression>
#include <QtGlobal>

namespace hvb {

bool regexMatches(const QString& pattern, const QString& text) {
    const QRegularExpression re(QRegularExpression::anchoredPattern(pattern));
    return re.isValid() && re.match(text).hasMatch();
}

QColor colorFromHex(const QString& hex, float alpha) {
    QString digits;
    if (hex.startsWith(QLatin1String("0x"))) {
        digits = hex.mid(2);
    } else if (hex.startsWith(u'#')) {
        digits = hex.mid(1);
    }
    if (!regexMatches(QStringLiteral("[a-fA-F0-9]+"), digits)) qFatal("Unable to parse color?");

    // Scanned as an unsigned 32-bit number; anything larger reads as the largest one.
    uint64_t value = 0;
    for (QChar c : digits) {
        value = value * 16 + static_cast<uint64_t>(QString(c).toUInt(nullptr, 16));
        if (value > UINT32_MAX) {
            value = UINT32_MAX;
            break;
        }
    }
    const auto rgb = static_cast<uint32_t>(value);
    return QColor::fromRgbF(static_cast<float>(((rgb >> 16) & 0xFF) / 255.0),
                            static_cast<float>(((rgb >> 8) & 0xFF) / 255.0),
                            static_cast<float>((rgb & 0xFF) / 255.0),
                            static_cast<float>(static_cast<double>(alpha)));
}

}  // namespace hvb
