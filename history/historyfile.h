#pragma once

#include "history/filestore.h"
#include "history/historylines.h"

#include <QByteArrayView>
#include <QString>
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
    enum class Kind { DamagedCount, Unreadable, UnknownEncoding, Unwritable };
    Kind kind;
    QString path;
    QByteArray storedCount;      // DamagedCount: the count as the file has it
    filestore::FileError reason; // Unreadable, Unwritable
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
    qint32 storedCount = 0;
    std::optional<Failure> failure;
};

// "His1", "His2", ... "His10": the key of the line at a position counted from 1.
QByteArray lineKey(qint32 position);

// A whole decimal number with an optional sign, from -2,147,483,648 to kMaxLines.
std::optional<qint32> parseCount(QByteArrayView text);

// The stored count "Data" (0 when it or the file is missing).
CountResult readStoredCount(const QString& path);

// The stored lines "His1" up to "His<count>", a missing or empty one as an empty line.
LoadResult loadHistory(const QString& path);

// Brings the file up to the list: "Data" becomes the list's count, the lines beyond the stored
// count are written to their keys, and keys above the list's count are blanked. Stored lines are
// never written again. Nothing is written when the stored count is damaged.
SaveResult saveHistory(const QString& path, const HistoryLines& lines);

// Blanks "His1" up to "His<storedCount>" and sets "Data" to 0 in the file as it is now, so that
// what other programs added since storedCount was read stays; nothing is written when
// storedCount is 0.
std::optional<Failure> clearHistory(const QString& path, qint32 storedCount);

} // namespace history
