#pragma once

#include "posix/descriptor.h"
#include "posix/error.h"

#include <QByteArray>
#include <chrono>
#include <functional>
#include <variant>

namespace filestore {

// One writer at a time on a file, on every file system: local disks, NFS, sshfs and other FUSE
// mounts, where record locks do not reach every mount and where two names of one file may show
// two inode numbers and one link each. It rests only on what all of them keep: O_CREAT|O_EXCL of
// one name, and a rename, are atomic; a file holds what was written and flushed into it.
//
// Calling sequence, as filestore::update() makes it:
//
//   take()      makes ".NAME.saving" with O_CREAT|O_EXCL, writes who holds it into it
//               ("<writer> <seconds>\n": the writer's process and a number of this save's own,
//               and the time by the writer's clock) and flushes it: only then does it count. The
//               new file is made under a name that only this writer uses, ".NAME.saving.<writer>".
//   fd()        the caller writes the new file and flushes it.
//   held()      just before the rename the caller asks whether the lock still names this writer
//               (and checks that the file is still what it read).
//   commit()    renames the new file over NAME, flushes the folder, removes the lock.
//   ~SaveLock() without a commit: the new file goes, and the lock if it still names this writer.
//
// What a writer finds at the lock's name, and does:
//   nothing                         makes the lock.
//   a lock whose writer lives       waits, kRetry at a time, at most kWait; then the save fails
//                                   with EBUSY.
//   a lock whose writer has ended   left behind: taken over at once (see posix::Life: a zombie
//                                   has ended; this process's own lock is one it left).
//   a lock of a writer that this    left behind once its time is more than kForeignLockAge away
//   machine cannot judge (another   from this clock's, before or after. A time in the future
//   machine or PID namespace, a     (a clock ahead, a planted copy) counts by its distance too: a
//   process /proc hides)            lock dated 2030 is four years from now, not fresh until then.
//   a lock not written yet          left behind once it has stayed so for kUnwrittenGrace: its
//                                   writer writes it right after making it.
//   no lock of ours (a folder, a    passed over for ".NAME.saving-1", and so on to "-3"; then the
//   FIFO, a link, other text), or   save fails with LockNamesTaken, which names the first one.
//   one that cannot be moved
//   (another's, in a sticky folder)
//
// A lock left behind is renamed aside under the taker's own name, checked by its content to be
// the lock that was judged, and removed; a lock that another writer put there meanwhile goes
// back (posix::moveStaleAside). Judging an age by a clock is safe because no writer relies on its
// lock alone: a writer whose lock was taken over, however long it was paused, finds at held()
// that the lock no longer names it and writes nothing. The new file is renamed from a name that
// only its writer uses, so no takeover can make one writer put another's file in place.
//
// A crash at any step leaves the old file or the whole new one, and at most the lock and the
// writer's new file: the next save takes the lock over and removes the file of an ended writer.
class SaveLock {
public:
    // How far a lock's time may lie from now before its writer, when this machine cannot tell
    // whether it lives, counts as gone: far longer than any save takes.
    static constexpr std::chrono::seconds kForeignLockAge{60};
    // How long a writer waits for another before its save fails.
    static constexpr std::chrono::seconds kWait{3};
    static constexpr std::chrono::milliseconds kRetry{20};
    static constexpr std::chrono::seconds kUnwrittenGrace{1};

    // How a writer lets the time pass while it waits: by default it sleeps; the window gives one
    // that keeps its events running. None: sleep again.
    using Pause = std::function<void(std::chrono::milliseconds)>;
    static void setPause(Pause pause);

    // Takes the lock on the file name in folder, or tells why it cannot be had.
    static std::variant<SaveLock, posix::Error> take(int folder, const QByteArray& name);
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
    // Error kind Unflushed: the file is in place, but its folder could not be flushed.
    std::optional<posix::Error> commit();

private:
    SaveLock(int folder, QByteArray name, QByteArray lock, QByteArray writer);

    int mFolder;
    QByteArray mName;
    QByteArray mLock;
    QByteArray mWriter; // this writer's name: its process and this save's number
    posix::Descriptor mFile;
    bool mCommitted = false;
};

} // namespace filestore
