#pragma once

#include "history/filestore.h"
#include "history/historylines.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

namespace history {

// The lines that a run has shown and not yet saved, on disk from the moment they are shown: a
// file of the run's own beside the history (".qelvo.ini.<run>.journal"), appended to as lines
// are drawn, taken back, cleared and saved. Whatever ends the run, the next start on the history
// takes over the lines that the journal holds unsaved and saves them; a run that ends with
// everything saved removes it. Each run writes only its own file, so any number of programs may
// share one history.
class Journal {
public:
    Journal();
    // Stops the flushing; the file stays for the next start unless close() removed it.
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Makes this run's journal beside the file that a save of the history at path writes.
    std::optional<filestore::FileError> open(const QString& historyPath);
    // Kept, and every record written, since open(): the lines shown are on disk.
    [[nodiscard]] bool isOpen() const;

    // Takes over the journals that runs which have ended left beside the history, and gives the
    // lines they showed and never saved, in the order they were shown: this run's to save now.
    // stored holds the history's lines as just loaded, where a save that a run made in its last
    // instant is found. A journal whose lines do not fit in room is left for a later start.
    QList<QByteArray> takeOver(const HistoryLines& stored, qsizetype room);

    // The records, in the order they happen. Each is with the system when it returns, so that
    // any end of the process keeps it, and reaches the storage within about a second. A record
    // that cannot be written ends the journal: its file goes, and the error is returned.
    std::optional<filestore::FileError> shown(QByteArrayView line);
    std::optional<filestore::FileError> takenBack();
    // A clear that the user confirmed is about to be written; then cleared() or clearFailed().
    std::optional<filestore::FileError> clearing();
    std::optional<filestore::FileError> clearFailed();
    // A save is about to put the unsaved lines after the first `after` lines of the history
    // file: on the storage before the file is replaced, so that the next start can tell whether
    // the save was done.
    std::optional<filestore::FileError> saving(qint32 after);
    // Everything shown so far is saved or cleared; the journals taken over go.
    std::optional<filestore::FileError> settled();

    // The run ends: its journal files go when they hold nothing unsaved.
    void close();

private:
    class Flusher;
    std::optional<filestore::FileError> record(QByteArrayView text);
    // Stops writing the journal; its file goes with remove.
    void end(bool remove);

    QByteArray mFolderPath; // the history's folder
    int mFolder = -1;
    QByteArray mPrefix; // ".<history file's name>."
    QByteArray mName;   // this run's journal, in mFolder
    int mFd = -1;
    bool mUnsaved = false;
    QList<QByteArray> mTakenOver; // names of the journals taken over, removed once settled
    std::unique_ptr<Flusher> mFlusher;
};

// A journal's records played in order: the lines left unsaved. stored: the history's lines,
// where a save interrupted after its last step is found. Public for the tests and the fuzzer.
QList<QByteArray> unsavedLines(QByteArrayView journal, const HistoryLines& stored);

} // namespace history
