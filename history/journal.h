#pragma once

#include "history/historylines.h"
#include "posix/descriptor.h"
#include "posix/error.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <vector>

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
//   <NAME  the unsaved lines of NAME, the journal of an ended run that this run took over, follow
//   >      they are all here: NAME's lines are this journal's, and its file may go
//
// The replay (replay()) plays the records in order over a list of unsaved lines: + appends, -
// removes the last, = empties it. A block from < to > counts only when it is whole: cut off, its
// lines are still in NAME's file. c and sN leave an outcome pending, which the next record of
// another kind settles (the clear or the save failed, or = says it was done); a pending outcome at
// the end is the end of the run in the middle of a clear or a save.
//
// Only this program's journals are read: a plain file of one name, this user's or, in a folder
// that the history's group shares, of that group and writable by it, that begins with the header
// and holds no record that this program does not write (the last one may be cut off), and no line
// that the draw cannot make. Anything else is left where it is, neither read nor removed; but a
// file that holds no more than the start of the header, as the end of a run cut it off while it
// was made, holds nothing and goes.
//
// Invariants:
// - A record is with the system when the call that writes it returns, so any end of the process
//   keeps it; a flusher thread brings it to the storage right after.
// - The s record is on the storage before the history is replaced: a start that finds sN last
//   and the lines right after the first N of the history knows the save was done.
// - = is written only after a save or a clear that succeeded.
// - A c without an outcome counts as cleared: the user confirmed it.
// - A journal with a line not saved is never removed: a record that cannot be written ends the
//   writing, and the file stays for the next start.
// - Each line is in one journal only, whatever ends a takeover: the journals taken over are
//   renamed to names of this run, the names reach the storage, their lines are written here and
//   flushed, and only then do their files go; a start that finds one of them whole in a block of
//   another skips it.
//
// A takeover, step by step (takeOver()); what an end of the run at each step leaves, and what
// tells the next start:
//   1. Found: endedJournals() lists the journals whose run has ended (posix::Life: a run of
//      another machine, or one that /proc hides, is never taken for ended) and that no process
//      holds locked, and replays them. An end here leaves them as they were.
//   2. Claimed: each is renamed to a name of this run's; of two starts that find it, one has it.
//      An end here leaves it under this run's name: the run has ended, so the next start takes
//      it over like any other.
//   3. Named: the folder is flushed, so that the new names outlive a power cut; a folder that
//      cannot be flushed ends the takeover here, the journals whole under their new names.
//   4. Written: a block "<NAME", its lines, ">" for each, appended and flushed. An end before ">"
//      leaves a block cut off, which counts for nothing: the lines are still in NAME's file.
//   5. Absorbed: the claimed files are removed. An end before leaves a file whose lines a whole
//      block holds: the next start finds it absorbed and removes it.
class Journal {
public:
    Journal();
    // Stops the flushing; the file stays for the next start unless finish() removed it.
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Makes this run's journal beside the file that a save of the history at path writes, or
    // tells why it cannot.
    std::optional<posix::Error> prepare(const QString& historyPath);
    // Opened, and every record written since: the lines shown are on disk.
    [[nodiscard]] bool isKept() const;
    // What the journal's file holds of the lines not saved: every one; those shown until its
    // writing ended (a full disk); none.
    enum class Holds { Every, UntilItStopped, None };
    [[nodiscard]] Holds holds() const;

    // The lines that ended runs left unsaved in their journals, the oldest run's first, as many
    // whole journals as fit in room: this run's now, to be saved. The journals that do not fit,
    // or that this run's journal could not take (error), stay for a later start; waiting counts
    // their lines. stored holds the history's lines as the file has them, where a save that a
    // run made in its last instant is found. Nothing while this run has lines unsaved itself.
    struct Taken {
        QList<QByteArray> lines;
        qsizetype waiting = 0;
        std::optional<posix::Error> error; // this run's journal could not take them
    };
    Taken takeOver(const HistoryLines& stored, qsizetype room);

    // The records, each written before the call returns; a record that cannot be written ends
    // the journal's writing, and the error is returned.
    std::optional<posix::Error> shown(QByteArrayView line);
    std::optional<posix::Error> takenBack();
    // A clear that the user confirmed is about to be written; then settled() or clearFailed().
    std::optional<posix::Error> clearing();
    std::optional<posix::Error> clearFailed();
    // A save is about to put the unsaved lines after the first `after` lines of the history
    // file: on the storage before the call returns.
    std::optional<posix::Error> saving(qint32 after);
    // Everything shown so far is saved or cleared.
    std::optional<posix::Error> settled();
    // A save or a clear replaced the file, but its folder could not be flushed (error): a power
    // cut may still bring the old file back. Its s or c record stays the journal's last, for the
    // next start to check; nothing more is written.
    std::optional<posix::Error> unconfirmed(const posix::Error& error);

    // The run ends: its journal's file goes when it holds nothing unsaved.
    void finish();

private:
    class Flusher;
    struct Left;
    // Makes the journal's file, when it has none yet.
    std::optional<posix::Error> create();
    // The journals of ended runs that hold unsaved lines, the oldest first. Settled ones, and
    // ones whose lines another holds whole, are removed on the way.
    std::vector<Left> endedJournals(const HistoryLines& stored);
    // Whether the file could be a journal of this program's, and no live run holds it.
    [[nodiscard]] bool mayTakeOver(int fd, const struct stat& file) const;
    // Appends the record of kind with the rest of its line.
    std::optional<posix::Error> record(char kind, QByteArrayView rest = {});
    std::optional<posix::Error> append(QByteArrayView text);
    // The journal cannot be written any more: its file stays as it is.
    posix::Error lost(posix::Error error);
    // Closes the journal's file; it goes with remove.
    void stopWriting(bool remove);

    posix::Descriptor mFolder; // the history's
    QByteArray mHistoryName;
    QByteArray mPrefix; // ".<history file's name>.", or its beginning and a digest (see besideName)
    QByteArray mName;   // this run's journal, in mFolder
    posix::Descriptor mFile;
    bool mKept = false;    // open, and every record written
    bool mWriting = false; // records go to the file
    bool mHoldsUnsaved = false;
    // Declared last, so that it stops before the descriptors that it flushes are closed.
    std::unique_ptr<Flusher> mFlusher;
};

// A journal's records played in order: the lines left unsaved, and the journals whose lines it
// holds whole. Nothing for a file that is not one of this program's journals. stored: the
// history's lines, where a save interrupted after its last step is found.
struct Replay {
    QList<QByteArray> lines;
    QList<QByteArray> absorbed;
};
std::optional<Replay> replay(QByteArrayView journal, const HistoryLines& stored);

} // namespace history
