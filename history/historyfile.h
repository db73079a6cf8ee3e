#pragma once

#include "draw/historylines.h"
#include "history/profiledocument.h"

#include <QString>
#include <optional>

// The history kept in qelvo.ini: section "History", the count of stored lines under "Data" and the
// line at position k (from 1) under "His<k>". Each operation reads the file once and replaces it at
// most once, atomically, so an interrupted program leaves either the old file or the new one.
namespace history {

inline constexpr auto kFileName = u"qelvo.ini";
// The largest count a list can hold; a larger stored count is a damaged file.
inline constexpr qint32 kMaxStoredCount = 32767;

// Why an operation on the history file could not be done.
struct Failure {
    enum class Kind { DamagedCount, Unreadable, Unwritable };
    Kind kind;
    QString path;
    QString detail; // the stored count as written in the file, or the system's reason
};

struct CountResult {
    qint32 value = 0;
    std::optional<Failure> failure;
};

// A whole decimal number with an optional sign, from -2,147,483,648 to kMaxStoredCount.
std::optional<qint32> parseCount(QByteArrayView text);

// "His1", "His2", ... "His10": the key of the line at a position counted from 1.
QByteArray lineKey(qint32 position);

// The history file read once into memory; writes change the memory until replace().
class HistoryFile {
public:
    // capacity: the size of the receive buffer, so values are cut to capacity - 1 bytes.
    HistoryFile(QString path, qsizetype capacity);

    [[nodiscard]] CountResult storedCount() const;
    // "His1" up to "His<count>", a missing or empty key as an empty line.
    [[nodiscard]] HistoryLines lines(qint32 count) const;
    void writeCount(qint32 count);
    void writeLine(qint32 position, QByteArrayView line);
    [[nodiscard]] std::optional<Failure> replace() const;

private:
    QString mPath;
    qsizetype mCapacity;
    ProfileDocument mDocument;
    std::optional<QString> mReadError;
};

struct LoadResult {
    HistoryLines lines;
    qint32 storedCount = 0;
    std::optional<Failure> failure;
};

// The stored lines "His1" up to "His<count>", a missing or empty one as an empty line.
LoadResult loadHistory(const QString& path, qsizetype capacity);

struct SaveResult {
    qint32 storedCount = 0;
    std::optional<Failure> failure;
};

// Brings the file up to the list: "Data" becomes the list's count, the lines beyond the stored
// count are written to their keys, and keys above the list's count are blanked. Stored lines are
// never written again. Nothing is written when the stored count is damaged.
SaveResult saveHistory(const QString& path, const HistoryLines& lines, qsizetype capacity);

// Blanks "His1" up to "His<count>" and sets "Data" to 0, then replaces the file; nothing is
// written when count is 0.
std::optional<Failure> clearStoredHistory(HistoryFile& file, qint32 count);

// The texts shown to the user.
QString clearQuestion();
QString describe(const Failure& failure);
QString loadFailedMessage(const Failure& failure);
QString saveFailedQuestion(const Failure& failure);
QString saveFailedMessage(const Failure& failure);
QString clearFailedMessage(const Failure& failure);

} // namespace history
