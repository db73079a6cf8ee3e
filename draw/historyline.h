#pragma once

#include <QString>
#include <QStringList>

// The history line made from a draw, and the count of earlier lines equal to the newest one.
namespace draw {

// A list box counts its items in 16 bits: the history holds at most this many lines.
inline constexpr int kMaxHistoryLines = 32767;
inline constexpr qsizetype kHistoryLineLength = 37;

// "07" for 7, "23" for 23.
QString twoDigitText(int n);

// The six two-digit texts, already in ascending order, joined by "  ;  ".
QString joinHistoryLine(const QStringList& sortedTexts);

// The question asked when the new line stands earlier in the history.
QString repeatQuestion(int count);

// Told instead of adding a line when the history holds kMaxHistoryLines lines.
QString historyFullMessage();

} // namespace draw
