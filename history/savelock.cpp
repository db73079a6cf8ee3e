#include "history/savelock.h"

#include "posix/files.h"
#include "posix/process.h"
#include "posix/systemcalls.h"

#include <thread>

namespace filestore {

namespace {

using posix::calls;

constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any new file
constexpr std::chrono::milliseconds kRetry{20};
// Names tried when the ones before are taken by something that is no file.
constexpr int kLockNames = 4;

QByteArray lockName(const QByteArray& name, int attempt)
{
    const QByteArray lock = '.' + name + ".saving";
    return attempt == 0 ? lock : lock + '-' + QByteArray::number(attempt);
}

// The name of the link that names this process as the lock's writer.
QByteArray writerName(const QByteArray& lock)
{
    return lock + '.' + posix::ProcessIdentity::self().text();
}

// What a look at the lock at the name found.
enum class Found { Held, LeftBehind, NoFile, Gone };

std::chrono::system_clock::duration age(const struct stat& file)
{
    return std::chrono::system_clock::now() -
           std::chrono::system_clock::time_point(std::chrono::seconds(file.st_mtim.tv_sec) +
                                                 std::chrono::nanoseconds(file.st_mtim.tv_nsec));
}

Found look(int folder, const QByteArray& lock, struct stat& file)
{
    if (calls().fstatat(folder, lock.constData(), &file, AT_SYMLINK_NOFOLLOW) != 0) {
        return Found::Gone;
    }
    if (!S_ISREG(file.st_mode)) {
        return Found::NoFile;
    }
    const posix::ProcessIdentity self = posix::ProcessIdentity::self();
    const QByteArray links = lock + '.';
    std::optional<Found> found;
    for (const QByteArray& name : posix::listFolder(folder)) {
        struct stat link {};
        const std::optional<posix::ProcessIdentity> writer =
            name.startsWith(links) ? posix::ProcessIdentity::parsed(name.sliced(links.size()))
                                   : std::nullopt;
        if (!writer || calls().fstatat(folder, name.constData(), &link, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        // This process saves one file at a time: a lock of its own is one it left.
        const bool ended = writer->text() == self.text() || writer->hasEnded(self);
        if (!posix::sameFile(link, file)) {
            // The name of a writer that ended before it locked anything.
            if (ended) {
                calls().unlinkat(folder, name.constData(), 0);
            }
            continue;
        }
        found = ended || (writer->machine != self.machine && age(file) > SaveLock::kForeignLockAge)
                    ? Found::LeftBehind
                    : Found::Held;
    }
    return found.value_or(age(file) > SaveLock::kForeignLockAge ? Found::LeftBehind : Found::Held);
}

// Whether linkat failed because the file system has no hard links.
bool noHardLinks(int code)
{
    return code == EPERM || code == EOPNOTSUPP || code == ENOSYS;
}

// Makes the lock as a new file under this writer's name, then gives it the name as (the lock's
// own unless told), which fails when something has that name already: a lock always names its
// writer. Without hard links it is made under that name alone. None, with errno set, when the
// name is taken.
posix::Descriptor makeLock(int folder, const QByteArray& lock, const QByteArray& as = {})
{
    const QByteArray writer = writerName(lock);
    const QByteArray name = as.isEmpty() ? lock : as;
    // One left by an earlier save of this process, which no longer names anything it holds.
    calls().unlinkat(folder, writer.constData(), 0);
    posix::Descriptor file =
        posix::openAt(folder, writer.constData(),
                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
    if (!file.isOpen()) {
        return file;
    }
    if (calls().linkat(folder, writer.constData(), folder, name.constData(), 0) == 0) {
        return file;
    }
    const int code = errno;
    calls().unlinkat(folder, writer.constData(), 0);
    if (!noHardLinks(code)) {
        errno = code;
        return {};
    }
    return posix::openAt(folder, name.constData(),
                         O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
}

// Removes the links that name writers which have ended, and the files that an earlier version
// of the program left under the lock's name; never a live writer's.
void removeLeftovers(int folder, const QByteArray& lock)
{
    const posix::ProcessIdentity self = posix::ProcessIdentity::self();
    const QByteArray links = lock + '.';
    for (const QByteArray& name : posix::listFolder(folder)) {
        if (!name.startsWith(links)) {
            continue;
        }
        const std::optional<posix::ProcessIdentity> writer =
            posix::ProcessIdentity::parsed(name.sliced(links.size()));
        struct stat file {};
        if (writer ? writer->hasEnded(self)
                   : calls().fstatat(folder, name.constData(), &file, AT_SYMLINK_NOFOLLOW) == 0 &&
                         S_ISREG(file.st_mode) && file.st_uid == calls().geteuid()) {
            calls().unlinkat(folder, name.constData(), 0);
        }
    }
}

// Puts a new lock in the place of one left behind, and swaps back when the place held another
// by then; the new lock, or none with errno set (EAGAIN: look again). The new lock is made under
// this writer's name and a spare one, and the spare is swapped with the lock: the lock names its
// writer all along.
posix::Descriptor replaceLeftBehind(int folder, const QByteArray& lock, const struct stat& left)
{
    const QByteArray writer = writerName(lock);
    const QByteArray spare = writer + '~';
    calls().unlinkat(folder, spare.constData(), 0);
    posix::Descriptor fresh = makeLock(folder, lock, spare);
    if (!fresh.isOpen()) {
        return fresh;
    }
    struct stat swapped {};
    const bool exchanged = calls().renameat2(folder, spare.constData(), folder, lock.constData(),
                                             RENAME_EXCHANGE) == 0;
    // Without a swap (NFS, FUSE) the left file is moved aside by name, for a new lock to be made.
    if (!exchanged && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
        calls().unlinkat(folder, writer.constData(), 0);
        fresh.reset();
        if (calls().renameat(folder, lock.constData(), folder, spare.constData()) != 0) {
            return {};
        }
    } else if (!exchanged) {
        const int code = errno;
        calls().unlinkat(folder, spare.constData(), 0);
        calls().unlinkat(folder, writer.constData(), 0);
        errno = code;
        return {};
    }
    if (calls().fstatat(folder, spare.constData(), &swapped, AT_SYMLINK_NOFOLLOW) == 0 &&
        posix::sameFile(swapped, left)) {
        calls().unlinkat(folder, spare.constData(), 0);
        // Swapped: the new lock is in place. Moved aside: the place is free for a new one.
        errno = EAGAIN;
        return fresh;
    }
    // Another writer's new lock: back in its place.
    if (exchanged) {
        calls().renameat2(folder, spare.constData(), folder, lock.constData(), RENAME_EXCHANGE);
        calls().unlinkat(folder, writer.constData(), 0);
    } else {
        calls().linkat(folder, spare.constData(), folder, lock.constData(), 0);
    }
    calls().unlinkat(folder, spare.constData(), 0);
    errno = EAGAIN;
    return {};
}

} // namespace

SaveLock::SaveLock(int folder, QByteArray name, QByteArray lock, posix::Descriptor file)
    : mFolder(folder)
    , mName(std::move(name))
    , mLock(std::move(lock))
    , mFile(std::move(file))
{
}

SaveLock::~SaveLock()
{
    if (!mFile.isOpen() || mCommitted) {
        return;
    }
    // Only what is still this writer's goes.
    if (posix::stillNamed(mFolder, mLock.constData(), mFile.get())) {
        calls().unlinkat(mFolder, mLock.constData(), 0);
    }
    calls().unlinkat(mFolder, writerName(mLock).constData(), 0);
}

std::optional<SaveLock> SaveLock::take(int folder, const QByteArray& name, posix::Error& error)
{
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    for (int attempt = 0; attempt < kLockNames;) {
        const QByteArray lock = lockName(name, attempt);
        posix::Descriptor file = makeLock(folder, lock);
        struct stat found {};
        if (!file.isOpen() && errno == EEXIST) {
            switch (look(folder, lock, found)) {
            case Found::Gone:
                continue;
            case Found::NoFile:
                ++attempt;
                continue;
            case Found::LeftBehind:
                file = replaceLeftBehind(folder, lock, found);
                // One that cannot be moved (a sticky or append-only folder) is passed over.
                if (!file.isOpen() && (errno == EPERM || errno == EACCES)) {
                    ++attempt;
                    continue;
                }
                break;
            case Found::Held:
                if (std::chrono::steady_clock::now() > deadline) {
                    error = posix::systemError(EBUSY);
                    return std::nullopt;
                }
                std::this_thread::sleep_for(kRetry);
                continue;
            }
            if (!file.isOpen() && errno == EAGAIN) {
                continue;
            }
        }
        if (!file.isOpen()) {
            error = posix::systemError();
            return std::nullopt;
        }
        removeLeftovers(folder, lock);
        return SaveLock(folder, name, lock, std::move(file));
    }
    error = posix::systemError(EEXIST);
    return std::nullopt;
}

std::optional<posix::Error> SaveLock::commit()
{
    // A writer that took this lock for one left behind has it now: nothing is replaced.
    struct stat named {};
    struct stat open {};
    if (calls().fstatat(mFolder, mLock.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        calls().fstat(mFile.get(), &open) != 0) {
        return posix::systemError(errno == ENOENT ? EBUSY : errno);
    }
    if (!posix::sameFile(named, open)) {
        return posix::systemError(EBUSY);
    }
    if (calls().renameat(mFolder, mLock.constData(), mFolder, mName.constData()) != 0) {
        return posix::systemError();
    }
    mCommitted = true;
    // The rename is only in the folder's memory until the folder is flushed: a power cut before
    // that could bring back the old file. A folder that cannot be flushed does not undo it.
    calls().fsync(mFolder);
    calls().unlinkat(mFolder, writerName(mLock).constData(), 0);
    return std::nullopt;
}

} // namespace filestore
