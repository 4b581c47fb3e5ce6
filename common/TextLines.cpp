#include "common/TextLines.h"

#include <QStringList>

#include <algorithm>
#include <climits>
#include <vector>

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

// Full-width punctuation after which a line may end.
bool endsAClause(QChar c) { return QStringLiteral("，、。；：！？」』）").contains(c); }

// The pieces between break opportunities, each with what joins it to the next on one line.
struct Piece {
    QString text;
    QString joint;
};

std::vector<Piece> piecesOf(const QString& text) {
    std::vector<Piece> pieces{{}};
    for (const QChar c : text) {
        if (c == QLatin1Char(' ')) {
            if (!pieces.back().text.isEmpty()) pieces.back().joint = QStringLiteral(" "), pieces.push_back({});
            continue;
        }
        pieces.back().text += c;
        if (endsAClause(c)) pieces.push_back({});
    }
    if (pieces.back().text.isEmpty()) pieces.pop_back();
    return pieces;
}

QString lineOf(const std::vector<Piece>& pieces, size_t from, size_t to) {
    QString line;
    for (size_t i = from; i < to; ++i) line += pieces[i].text + (i + 1 < to ? pieces[i].joint : QString());
    return line;
}

}  // namespace

QString breakBetweenWords(const QString& text, const QFontMetrics& metrics, int width) {
    if (!hasIdeographs(text) || metrics.horizontalAdvance(text) <= width) return text;
    const std::vector<Piece> pieces = piecesOf(text);
    // As few lines as it takes, each as full as it goes.
    std::vector<size_t> starts{0};
    for (size_t i = 1; i < pieces.size(); ++i)
        if (metrics.horizontalAdvance(lineOf(pieces, starts.back(), i + 1)) > width) starts.push_back(i);
    if (starts.size() == 2) {
        // Two lines either way: the split whose wider line is the narrowest.
        int best = INT_MAX;
        for (size_t at = 1; at < pieces.size(); ++at) {
            const int wider = std::max(metrics.horizontalAdvance(lineOf(pieces, 0, at)),
                                       metrics.horizontalAdvance(lineOf(pieces, at, pieces.size())));
            if (wider <= width && wider < best) {
                best = wider;
                starts = {0, at};
            }
        }
    }
    QStringList lines;
    for (size_t i = 0; i < starts.size(); ++i)
        lines << lineOf(pieces, starts[i], i + 1 < starts.size() ? starts[i + 1] : pieces.size());
    return lines.join(QLatin1Char('\n'));
}

}  // namespace hvb
