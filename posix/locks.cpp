#include "posix/locks.h"

#include "posix/files.h"
#include "posix/systemcalls.h"

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>
#include <fcntl.h>
#ifndef _WIN32
#include <sys/sysmacros.h>
#endif

namespace posix {

namespace {

constexpr mode_t kReadWriteBits = 0666;

struct flock wholeFile(short type)
{
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;
}

} // namespace

std::optional<Error> lockWhole(int fd)
{
    struct flock lock = wholeFile(F_WRLCK);
    if (calls().fcntl(fd, F_SETLK, &lock) != 0) {
        return systemError();
    }
    return std::nullopt;
}

LockHolder lockHolder(int fd)
{
    struct flock holder = wholeFile(F_WRLCK);
    if (calls().fcntl(fd, F_GETLK, &holder) != 0) {
        return {std::nullopt, systemError()};
    }
    if (holder.l_type == F_UNLCK) {
        return {};
    }
    return {holder.l_pid, std::nullopt};
}

#ifndef _WIN32
LockHolder tableLockHolder(const struct stat& file)
{
    constexpr std::size_t kBlock = 4096;
    const Descriptor table(calls().open("/proc/locks", O_RDONLY | O_CLOEXEC, 0));
    QByteArray text;
    ssize_t got = 0;
    do {
        text.resize(text.size() + static_cast<qsizetype>(kBlock));
        got = calls().read(table.get(), text.data() + text.size() - kBlock, kBlock);
        text.chop(static_cast<qsizetype>(kBlock) - qMax<ssize_t>(got, 0));
    } while (got > 0 || (got < 0 && errno == EINTR));
    if (got < 0) {
        return {std::nullopt, systemError()};
    }
    // "1: POSIX  ADVISORY  WRITE 1234 fe:00:567 0 EOF"; "1: -> POSIX ..." waits for one.
    const QByteArray where = QByteArray::number(major(file.st_dev), 16).rightJustified(2, '0') +
                             ':' +
                             QByteArray::number(minor(file.st_dev), 16).rightJustified(2, '0') +
                             ':' + QByteArray::number(file.st_ino);
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 5 && fields[1] == "POSIX" && fields[5] == where) {
            return {fields[4].toInt(), std::nullopt};
        }
    }
    return {};
}

Replaced replaceStale(int folder, const char* name, const struct stat& stale,
                      const struct stat* model)
{
    const QByteArray spare =
        name + ('.' + QByteArray::number(QRandomGenerator::global()->generate(), 16));
    Replaced replaced{openAt(folder, spare.constData(),
                             O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kReadWriteBits),
                      std::nullopt};
    if (!replaced.fd.isOpen()) {
        replaced.error = systemError();
        return replaced;
    }
    replaced.error = model != nullptr ? madeLike(replaced.fd.get(), *model) : std::nullopt;
    if (!replaced.error) {
        replaced.error = lockWhole(replaced.fd.get());
    }
    if (!replaced.error) {
        const auto swap = [&] {
            return calls().renameat2(folder, spare.constData(), folder, name, RENAME_EXCHANGE);
        };
        // The lock file is one of the local file systems, where an inode names a file.
        struct stat moved {};
        if (swap() != 0) {
            replaced.error = systemError();
        } else if (calls().fstatat(folder, spare.constData(), &moved, AT_SYMLINK_NOFOLLOW) != 0 ||
                   !sameFile(moved, stale)) {
            // Another process's file, put in the place after the look: it goes back.
            if (swap() != 0) {
                return {Descriptor(), systemError()};
            }
            replaced.error = systemError(EAGAIN);
        }
    }
    // The stale file, or the new one that did not take its place; one that cannot be removed is a
    // stray file under a name that nothing looks for.
    calls().unlinkat(folder, spare.constData(), 0);
    if (replaced.error) {
        replaced.fd.reset();
    }
    return replaced;
}

#endif

} // namespace posix
