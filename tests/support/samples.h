#pragma once

#include "history/historylines.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Sample history lines and files for the tests and the benchmarks.
namespace samples {

// 宝くじメモ in code page 932, as Notepad on Japanese Windows writes it.
inline constexpr const char* kMemo932 = "\x95\xF3\x82\xAD\x82\xB6\x83\x81\x83\x82";

// The line of the example draw 23, 7, 41, 2, 15, 30.
QString exampleLine();

// A history line that starts with n (0 to 99) as two digits: lines for different n differ.
QString line(int n);
// The lines line(1 % 100) up to line(count % 100).
history::HistoryLines numberedLines(int count);
history::HistoryLines linesOf(const QStringList& texts);
// A history file as the program writes it, with CRLF line ends: Data is count and His<k> is
// line(k % 100); or the lines given.
QByteArray historyFile(int count);
QByteArray historyFile(const QStringList& lines);

// The file's bytes, or empty when it cannot be read.
QByteArray readFile(const QString& path);
// Replaces the file's bytes; false when they could not all be written.
bool writeFile(const QString& path, const QByteArray& bytes);
// What a folder holds besides qelvo.ini: what a save left behind; and the journals in it.
QStringList strayFiles(const QString& folder);
QStringList journals(const QString& folder);
// A save lock's line for a writer of this machine's boot and namespace, or of what is given.
QByteArray lockLine(qint64 pid, const QByteArray& start, qint64 seconds,
                    const QByteArray& machine = {}, const QByteArray& space = {});
// A run on the history that drew the line and ended without a word, as kill -9 ends it, in a
// process of its own; false when its journal could not be written.
bool endedRunDrew(const QString& history, const QByteArray& line);

} // namespace samples
