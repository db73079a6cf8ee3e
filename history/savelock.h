#pragma once

#include "posix/descriptor.h"
#include "posix/error.h"

#include <QByteArray>
#include <chrono>
#include <optional>
#include <variant>

namespace filestore {

// One writer at a time on a file, on every file system: local disks, NFS, sshfs and other FUSE
// mounts, where record locks do not reach every mount and where two names of one file may show
// two inode numbers and one link each. It rests only on what all of them keep: O_CREAT|O_EXCL of
// one name is atomic, and of a rename and a removal of one name exactly one finds it; a file
// holds what was written and flushed into it. No clock but this process's own decides anything.
//
// The names beside the file NAME (its beginning and a digest where the folder takes no names so
// long, see posix::besideName):
//   .NAME.saving           the lock: "<writer> <seconds>\n", the writer (its process and a
//                          number of this save's own) and, for a reader, the writer's clock
//   .NAME.saving-1 to -3   the lock, where the names before hold something that is no lock
//   .NAME.saving.<writer>  the writer's new file, under the one name that its commit renames
//
// Calling sequence, as filestore::update() makes it:
//
//   take()      makes the writer's new file, then the lock with O_CREAT|O_EXCL, as readable as
//               the file, writes who holds it into it and flushes it: only then does it count.
//   fd()        the caller writes the new file and flushes it.
//   held()      just before the commit, whether the lock still names this writer (the caller
//               also checks that the file is still what it read).
//   commit()    renames the new file over NAME, flushes the folder, removes the lock if it still
//               names this writer. TakenOver: another writer took the lock over meanwhile, and
//               nothing was replaced: the caller begins again.
//   ~SaveLock() without a commit: the new file goes, and the lock if it still names this writer.
//
// What a writer finds at the lock's name, and does:
//   nothing                         makes the lock.
//   a lock whose writer has ended   takes it over at once (posix::Life: a zombie has ended; a
//                                   lock of this process's own is one it could not remove).
//   a lock not written yet (empty,  takes it over once this process has seen it so for
//   or the start of a lock's line)  kUnwrittenGrace: its writer writes it right after making it.
//   any other lock: of a writer     waits, kRetry at a time and at most kWait a save (then the
//   that lives, or that this        save fails with Busy), and takes it over once this process
//   machine cannot judge (another   has seen it unchanged for kLeftBehindAfter, whatever its
//   machine or PID namespace, a     content or its dates say.
//   process /proc hides), a forged
//   one, one with a clock far off
//   anything else (a folder, a      passes it over, left byte for byte, for .NAME.saving-1 and
//   FIFO, a link, a file this user  so on to -3; then the save fails with LockNamesTaken.
//   cannot read, other bytes), or
//   a lock that cannot be moved
//   (another's, in a sticky folder)
//
// Why a takeover loses no line (the fence). The writer whose lock is taken over may be paused
// anywhere, also between held() and its rename, so a check cannot stop it; its new file's name
// does. Before it moves the lock, the taker removes the new file of the writer that the lock
// names, by that name, and exactly one of the removal and the writer's rename finds it. When the
// removal does, the rename fails, and the writer begins again from the file as it is then. When
// the rename does, the file was in place before the taker reads it, which it does only once the
// lock is its own. The new file stands before the lock names its writer, so no lock names a
// writer whose new file is still to come. A lock not written yet names no one to stop: its
// writer finds at held() a lock that is not its own, and writes nothing. A lock that another
// writer made between the taker's look and its move is stopped the same way, once moved. Taking
// over the lock of a writer that lives costs it one attempt, never a line.
//
// The writers' new files left behind go by the same rule: one of an ended writer at once, any
// other once this process has seen it unchanged for kLeftBehindAfter. A crash at any step leaves
// the old file or the whole new one, and at most the lock and the writer's new file, which the
// next save, or tidy() at the next start, takes away.
class SaveLock {
public:
    // How long this process sees a lock or a writer's file unchanged before it takes it over:
    // far longer than any save takes.
    static constexpr std::chrono::seconds kLeftBehindAfter{60};
    // How long a save waits for another's.
    static constexpr std::chrono::seconds kWait{3};
    static constexpr std::chrono::milliseconds kRetry{20};
    static constexpr std::chrono::seconds kUnwrittenGrace{1};

    // Takes the lock on the file name in folder, or tells why it cannot be had.
    static std::variant<SaveLock, posix::Error> take(int folder, const QByteArray& name);
    // Takes away, without taking the lock, what saves of writers that have ended left beside the
    // file name, and notes what else stands there, for the rule of kLeftBehindAfter.
    static void tidy(int folder, const QByteArray& name);

    ~SaveLock();
    SaveLock(SaveLock&& other) noexcept = default;
    SaveLock& operator=(SaveLock&&) = delete;
    SaveLock(const SaveLock&) = delete;
    SaveLock& operator=(const SaveLock&) = delete;

    // The new file, empty, open for writing.
    [[nodiscard]] int fd() const { return mFile.get(); }
    // Whether the lock still names this writer: no one has taken it over.
    [[nodiscard]] bool held() const;
    // Puts the new file, written and flushed, in the place of the file and gives the lock up.
    // TakenOver: nothing replaced. Unflushed: the file is in place, but not its folder's change.
    std::optional<posix::Error> commit();

private:
    enum class Step { Done, Now, Later };
    SaveLock(int folder, const QByteArray& name);
    // One try at the lock's name of the slot; error is set when the save cannot go on.
    Step attempt(int& slot, std::optional<posix::Error>& error);
    std::optional<posix::Error> markHeld(int lock);

    int mFolder;
    QByteArray mName;
    QByteArray mLocks;   // the first name of the lock; the others add "-1" to "-3"
    QByteArray mWriters; // the beginning of every writer's new file
    QByteArray mWriter;  // this writer's name: its process and this save's number
    QByteArray mLock;    // the name of the lock tried last, this writer's once made
    bool mCommitted = false;
    posix::Descriptor mFile;
};

} // namespace filestore
