#pragma once
// Line breaks for short texts that mix ideographs with Latin words. Qt may break between any two
// ideographs, which splits a word such as "裝置" over two lines; these texts break only at their
// spaces and after a clause's full-width punctuation.
#include <QFontMetrics>
#include <QString>

namespace hvb {

// `text` with line feeds at spaces (which they replace) and after full-width punctuation, in as
// few lines of at most `width` pixels as it takes and, for two lines, with the wider line as
// narrow as it can be. Text without ideographs, or that fits on one line, is returned as it is
// (word wrap breaks it well).
QString breakBetweenWords(const QString& text, const QFontMetrics& metrics, int width);

}  // namespace hvb
