#include "common/TextLines.h"

#include <algorithm>
#include <climits>

#include <QStringList>

namespace hvb {

namespace {

bool hasIdeographs(const QString& text) {
    for (const QChar c : text) {
        const QChar::Script script = c.script();
        if (script == QChar::Script_Han || script == QChar::Script_Hiragana || script == QChar::Script_Katakana ||
            script == QChar::Script_Hangul)
            return true;
    }
    return false;
}

}  // namespace

QString breakAtSpaces(const QString& text, const QFontMetrics& metrics, int width) {
    if (!hasIdeographs(text) || metrics.horizontalAdvance(text) <= width) return text;
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QStringList lines;
    for (const QString& word : words) {
        if (!lines.isEmpty() && metrics.horizontalAdvance(lines.last() + QLatin1Char(' ') + word) <= width)
            lines.last() += QLatin1Char(' ') + word;
        else
            lines << word;
    }
    if (lines.size() == 2) {
        // Two lines either way: the split whose wider line is the narrowest.
        int best = INT_MAX;
        for (qsizetype at = 1; at < words.size(); ++at) {
            const QString first = words.mid(0, at).join(QLatin1Char(' '));
            const QString second = words.mid(at).join(QLatin1Char(' '));
            const int wider = std::max(metrics.horizontalAdvance(first), metrics.horizontalAdvance(second));
            if (wider <= width && wider < best) {
                best = wider;
                lines = {first, second};
            }
        }
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace hvb
