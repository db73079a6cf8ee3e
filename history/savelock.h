#pragma once

#include "posix/descriptor.h"
#include "posix/error.h"

#include <QByteArray>
#include <chrono>
#include <optional>

namespace filestore {

// One writer at a time on a file, on any file system (FUSE, sshfs and NFS among them, where
// record locks do not reach every mount): the file ".NAME.saving" beside it, made with
// O_CREAT|O_EXCL as git makes its index.lock. It is also the new file: written, flushed and
// renamed over NAME, which lets the lock go in the same step.
//
// The lock is made as ".NAME.saving.<writer>", a new file that names its writer as a journal
// names its run, and then linked to the lock's name, which fails while another holds it. So a
// lock whose writer has ended is taken over: at once for a writer of this machine, after
// kForeignLockAge for one of another machine (or for a lock made without a writer's name, on a
// file system without hard links). A name taken by something that is no file (a folder, a FIFO) is
// passed over for ".NAME.saving-1", and so on, by every writer alike. Nobody removes a live
// writer's file.
class SaveLock {
public:
    // How long a lock of another machine's writer, or of an unnamed one, is waited for before
    // it counts as left behind: far longer than any save takes.
    static constexpr std::chrono::seconds kForeignLockAge{60};
    // How long a writer waits for another before its save fails.
    static constexpr std::chrono::seconds kWait{3};

    // Takes the lock on the file name in folder. EBUSY: another writer held it all along.
    static std::optional<SaveLock> take(int folder, const QByteArray& name, posix::Error& error);
    // Not committed: the new file goes, and the lock with it.
    ~SaveLock();
    SaveLock(SaveLock&& other) noexcept = default;
    SaveLock& operator=(SaveLock&&) = delete;
    SaveLock(const SaveLock&) = delete;
    SaveLock& operator=(const SaveLock&) = delete;

    // The new file, empty, open for writing.
    [[nodiscard]] int fd() const { return mFile.get(); }
    // Puts the new file, written and flushed, in the place of the file: the lock goes with it.
    std::optional<posix::Error> commit();

private:
    SaveLock(int folder, QByteArray name, QByteArray lock, posix::Descriptor file);

    int mFolder;
    QByteArray mName;
    QByteArray mLock;
    posix::Descriptor mFile;
    bool mCommitted = false;
};

} // namespace filestore
