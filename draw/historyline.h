#pragma once

#include <QString>
#include <QStringList>

namespace history {
class HistoryLines;
}

// The history line made from a draw, and the count of earlier lines equal to the newest one.
namespace draw {

// "07" for 7, "23" for 23.
QString twoDigitText(int n);

// The six two-digit texts, already in ascending order, joined by "  ;  ".
QString joinHistoryLine(const QStringList& sortedTexts);

// How many lines before the last one are equal to it, byte for byte.
int repeatCount(const history::HistoryLines& lines);

} // namespace draw
