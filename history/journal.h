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

    // Prepares this run's journal beside the file that a save of the history at path writes; the
    // journal's file is made with the first line shown.
    std::optional<filestore::FileError> open(const QString& historyPath);
    // Opened, and every record written since: the lines shown are on disk.
    [[nodiscard]] bool isKept() const;

    // Takes over the journal that a run which has ended left beside the history with lines that
    // it showed and never saved, and gives those lines in the order they were shown: this run's
    // now, to be saved before the next journal is taken over. Nothing when no journal is left,
    // when this run has lines unsaved itself, or when the lines do not fit in room. stored holds
    // the history's lines as the file has them, where a save that a run made in its last instant
    // is found.
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
    // Everything shown so far is saved or cleared.
    std::optional<filestore::FileError> settled();

    // The run ends: its journal's file goes when it holds nothing unsaved.
    void close();

private:
    class Flusher;
    // Makes the journal's file, when it has none yet.
    std::optional<filestore::FileError> create();
    // Locks the file now open and flushes it from now on.
    void watch();
    std::optional<filestore::FileError> record(QByteArrayView text);
    // The journal cannot be kept: it ends, and its file goes.
    filestore::FileError lost(filestore::FileError error);
    // Stops writing the journal; its file goes with remove.
    void end(bool remove);

    int mFolder = -1; // the history's folder
    QByteArray mFolderPath;
    QByteArray mPrefix; // ".<history file's name>."
    QByteArray mName;   // this run's journal, in mFolder
    int mFd = -1;
    bool mKept = false;
    bool mUnsaved = false;
    std::unique_ptr<Flusher> mFlusher;
};

// A journal's records played in order: the lines left unsaved. stored: the history's lines,
// where a save interrupted after its last step is found. Public for the tests and the fuzzer.
QList<QByteArray> unsavedLines(QByteArrayView journal, const HistoryLines& stored);

} // namespace history
