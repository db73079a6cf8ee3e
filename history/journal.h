#pragma once

#include "history/historylines.h"
#include "posix/descriptor.h"
#include "posix/error.h"

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
//
// The file is the header "qelvo journal 1" and one record a line, in the order things happen:
//
//   +LINE  a line was shown: drawn and put at the end of the list
//   -      the last line shown was taken back (No to the repeat question)
//   c      a clear that the user confirmed is about to be written
//   !      that clear failed: the history and the list are as they were
//   sN     a save is about to put the unsaved lines after the first N lines of the history
//   =      every line shown so far is saved or cleared
//
// The replay (unsavedLines) plays the records in order over a list of unsaved lines: + appends,
// - removes the last, = empties it. c and sN leave an outcome pending, which the next record of
// another kind settles (the clear or the save failed, or = says it was done); a pending outcome
// at the end of the file is the end of the run in the middle of a clear or a save.
//
// Invariants:
// - A record is with the system when the call that writes it returns, so any end of the process
//   keeps it; a flusher thread brings it to the storage right after.
// - The s record is on the storage before the history is replaced: a start that finds sN last
//   and the lines right after the first N of the history knows the save was done.
// - = is written only after a save or a clear that succeeded.
// - A c without an outcome counts as cleared: the user confirmed it.
// - A last record without its line end was cut off by the end of the run, and is ignored; so is
//   a record that this program does not write.
// - A record that cannot be written ends the journal.
class Journal {
public:
    Journal();
    // Stops the flushing; the file stays for the next start unless close() removed it.
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Prepares this run's journal beside the file that a save of the history at path writes; the
    // journal's file is made with the first line shown.
    std::optional<posix::Error> open(const QString& historyPath);
    // Opened, and every record written since: the lines shown are on disk.
    [[nodiscard]] bool isKept() const;

    // Takes over the journal that a run which has ended left beside the history with lines that
    // it showed and never saved, and gives those lines in the order they were shown: this run's
    // now, to be saved before the next journal is taken over. Nothing when no journal is left,
    // when this run has lines unsaved itself, or when the lines do not fit in room. stored holds
    // the history's lines as the file has them, where a save that a run made in its last instant
    // is found.
    QList<QByteArray> takeOver(const HistoryLines& stored, qsizetype room);

    // The records, each written before the call returns; a record that cannot be written ends
    // the journal: its file goes, and the error is returned.
    std::optional<posix::Error> shown(QByteArrayView line);
    std::optional<posix::Error> takenBack();
    // A clear that the user confirmed is about to be written; then cleared() or clearFailed().
    std::optional<posix::Error> clearing();
    std::optional<posix::Error> clearFailed();
    // A save is about to put the unsaved lines after the first `after` lines of the history
    // file: on the storage before the call returns.
    std::optional<posix::Error> saving(qint32 after);
    // Everything shown so far is saved or cleared.
    std::optional<posix::Error> settled();

    // The run ends: its journal's file goes when it holds nothing unsaved.
    void close();

private:
    class Flusher;
    // Makes the journal's file, when it has none yet.
    std::optional<posix::Error> create();
    // Brings each record of the file now open to the storage from now on.
    void startFlusher();
    // The journals beside the history that ended runs left, the oldest first.
    [[nodiscard]] QList<QByteArray> endedRuns() const;
    // Makes the journal at name this run's own; false when another start has it.
    bool adopt(const QByteArray& name);
    // Appends the record of kind with the rest of its line.
    std::optional<posix::Error> record(char kind, QByteArrayView rest = {});
    // The journal cannot be kept: it ends, and its file goes.
    posix::Error lost(posix::Error error);
    // Stops writing the journal; its file goes with remove.
    void stopWriting(bool remove);

    posix::Descriptor mFolder; // the history's
    QByteArray mFolderPath;
    QByteArray mPrefix; // ".<history file's name>."
    QByteArray mName;   // this run's journal, in mFolder
    posix::Descriptor mFile;
    bool mKept = false;
    bool mHoldsUnsaved = false;
    // Declared last, so that it stops before the descriptors that it flushes are closed.
    std::unique_ptr<Flusher> mFlusher;
};

// A journal's records played in order: the lines left unsaved. stored: the history's lines,
// where a save interrupted after its last step is found. Public for the tests.
QList<QByteArray> unsavedLines(QByteArrayView journal, const HistoryLines& stored);

} // namespace history
