#pragma once
// Line breaks for short headings that mix ideographs with Latin words. Qt may break between any
// two ideographs, which splits a word such as "裝置" over two lines; these headings break only
// at their spaces.
#include <QFontMetrics>
#include <QString>

namespace hvb {

// `text` with line feeds at spaces, in as few lines of at most `width` pixels as it takes and,
// for two lines, with the wider line as narrow as it can be. Text without ideographs, or that
// fits on one line, is returned as it is (word wrap breaks it well).
QString breakAtSpaces(const QString& text, const QFontMetrics& metrics, int width);

}  // namespace hvb
