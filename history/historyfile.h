#pragma once

#include "history/filestore.h"
#include "history/historylines.h"

#include <QByteArrayView>
#include <QString>
#include <functional>
#include <optional>

// The history kept in qelvo.ini: section "History", the count of stored lines under "Data" and the
// line at position k (from 1) under "His<k>". Each operation reads the file once and replaces it at
// most once, atomically, so an interrupted program leaves either the old file or the new one.
namespace history {

inline constexpr auto kFileName = u"qelvo.ini";
// Each value is read as into a receive buffer of this many characters: at most 255 bytes.
inline constexpr qsizetype kReceiveBufferSize = 256;

// Why an operation on the history file could not be done.
struct Failure {
    // UnknownEncoding: a Unicode file of a form that Windows tools do not write back (UTF-16BE).
    // Full: the lines to save do not fit after those that the file holds now.
    enum class Kind { DamagedCount, Unreadable, UnknownEncoding, Unwritable, Full };
    Kind kind;
    QString path;
    QByteArray storedCount; // DamagedCount: the count as the file has it; Full: the count
    posix::Error reason;    // Unreadable, Unwritable
    qint32 adding = 0;      // Full: the lines to save
};

struct CountResult {
    qint32 value = 0;
    std::optional<Failure> failure;
};

struct LoadResult {
    HistoryLines lines;
    qint32 storedCount = 0;
    std::optional<Failure> failure;
};

struct SaveResult {
    qint32 countBefore = 0; // the count that the file held when the save read it
    std::optional<Failure> failure;
    // Saved, but the folder could not be flushed: a power cut may bring the old file back.
    std::optional<posix::Error> unflushed;
};

// "His1", "His2", ... "His10": the key of the line at a position counted from 1.
QByteArray lineKey(qint32 position);

// A whole decimal number with an optional sign, from -2,147,483,648 to kMaxLines.
std::optional<qint32> parseCount(QByteArrayView text);

// The stored count "Data" (0 when it or the file is missing).
CountResult readStoredCount(const QString& path);

// The stored lines "His1" up to "His<count>", a missing or empty one as an empty line.
LoadResult loadHistory(const QString& path);

// Adds the run's own lines, those of lines from position first on, to the file as it is now:
// "Data" becomes the count stored now plus theirs, and they go to the keys after it, so that
// what other programs stored meanwhile is never overwritten. Stored lines are never written
// again. beforeWrite is told the count they go after just before the file is replaced. Nothing
// is written when the stored count is damaged or the lines do not fit under kMaxLines.
SaveResult saveHistory(const QString& path, const HistoryLines& lines, qsizetype first,
                       const std::function<void(qint32)>& beforeWrite = {});

// Empties the history of the lines asked about, as it stood when the user was asked: in the
// file as it is now, the lines that other programs saved since move to "His1" on, "Data" counts
// them, and the keys above are blanked. kept: those lines.
struct ClearResult {
    HistoryLines kept;
    std::optional<Failure> failure;
    std::optional<posix::Error> unflushed; // as for a save
};
ClearResult clearHistory(const QString& path, const HistoryLines& asked);

} // namespace history
