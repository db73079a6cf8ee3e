#include "history/filestore.h"

#include "posix/files.h"
#include "posix/systemcalls.h"

#include <QFile>
#include <QList>
#include <QRandomGenerator>
#include <cstdint>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

namespace filestore {

namespace {

using posix::calls;
using posix::Descriptor;
using posix::Error;
using posix::systemError;

constexpr qsizetype kReadChunk = qsizetype{64} * 1024;
// A file of at least half a huge page is read into huge pages: a full history then costs the
// system one page fault instead of hundreds, which was a third of the time to load it.
constexpr qsizetype kHugePage = qsizetype{2} * 1024 * 1024;
constexpr qsizetype kHugePagesFrom = kHugePage / 2;
constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any new file
constexpr mode_t kGroupBits = S_IRWXG;
// Names tried for the new file when the usual one is taken by something that cannot be removed.
constexpr int kNameAttempts = 16;
// Extended attributes that the system's security modules set on every new file themselves.
constexpr QByteArrayView kSecurityNamespace = "security.";

// size bytes, not yet written, to read a file into.
QByteArray readBuffer(qsizetype size)
{
    if (size < kHugePagesFrom) {
        return QByteArray(size, Qt::Uninitialized);
    }
    // The block is taken a huge page larger than the pages it needs, so that they can start on
    // a huge page's boundary; the pages before it are never written and so never used.
    const qsizetype pages = (size + kHugePage - 1) / kHugePage * kHugePage;
    QByteArray block(pages + kHugePage, Qt::Uninitialized);
    const auto address = reinterpret_cast<std::uintptr_t>(block.constData());
    const auto skip = static_cast<qsizetype>((kHugePage - address % kHugePage) % kHugePage);
    // Advice only: a system without huge pages to give uses small ones, as for any block.
    calls().madvise(block.data() + skip, static_cast<std::size_t>(pages), MADV_HUGEPAGE);
    // Removing the start of a block moves where it begins and copies nothing.
    block.remove(0, skip);
    block.truncate(size);
    return block;
}

// The bytes that a list or get call of extended attributes gives: asked for the size, then
// read, again if they grew meanwhile. Nothing when the file system keeps no attributes.
template <typename Call> std::optional<QByteArray> attributeBytes(Call call)
{
    for (;;) {
        const ssize_t size = call(nullptr, 0);
        if (size < 0) {
            return errno == ENOTSUP || errno == ENODATA ? std::optional(QByteArray())
                                                        : std::nullopt;
        }
        QByteArray bytes(size, Qt::Uninitialized);
        const ssize_t got = call(bytes.data(), static_cast<std::size_t>(bytes.size()));
        if (got >= 0) {
            bytes.truncate(got);
            return bytes;
        }
        if (errno != ERANGE) {
            return std::nullopt;
        }
    }
}

QList<QByteArray> attributeNames(const QByteArray& list)
{
    QList<QByteArray> names = list.split('\0');
    names.removeAll(QByteArray());
    return names;
}

// An attribute that the system sets on a new file as it sees fit; failing to change it
// changes no one's access.
bool systemSet(const QByteArray& name)
{
    return name.startsWith(kSecurityNamespace);
}

// Gives the new file fd what the old file had: its owner and group where the system lets us,
// every extended attribute (the access list is one) and no other, and its permissions. Where the
// group cannot be kept, the new group gets no access: no one gains access by a save.
std::optional<Error> takeOverAttributes(int fd, const QByteArray& oldPath, const struct stat& old)
{
    struct stat now {};
    if (calls().fstat(fd, &now) != 0) {
        return systemError();
    }
    bool groupKept = now.st_gid == old.st_gid;
    if (now.st_uid != old.st_uid || !groupKept) {
        groupKept = calls().fchown(fd, old.st_uid, old.st_gid) == 0 ||
                    calls().fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0;
    }
    const std::optional<QByteArray> oldList = attributeBytes([&](char* list, std::size_t size) {
        return calls().llistxattr(oldPath.constData(), list, size);
    });
    const std::optional<QByteArray> newList = attributeBytes(
        [&](char* list, std::size_t size) { return calls().flistxattr(fd, list, size); });
    if (!oldList || !newList) {
        return systemError();
    }
    const QList<QByteArray> oldNames = attributeNames(*oldList);
    for (const QByteArray& name : oldNames) {
        const std::optional<QByteArray> value = attributeBytes([&](char* bytes, std::size_t size) {
            return calls().lgetxattr(oldPath.constData(), name.constData(), bytes, size);
        });
        if (!value) {
            return systemError();
        }
        if (calls().fsetxattr(fd, name.constData(), value->constData(),
                              static_cast<std::size_t>(value->size()), 0) != 0 &&
            !systemSet(name)) {
            return systemError();
        }
    }
    // An access list that the folder gives every new file, which the old file did not have,
    // would widen the access.
    for (const QByteArray& name : attributeNames(*newList)) {
        if (!oldNames.contains(name) && calls().fremovexattr(fd, name.constData()) != 0 &&
            !systemSet(name)) {
            return systemError();
        }
    }
    const mode_t mode = (old.st_mode & 07777U) & (groupKept ? ~mode_t{0} : ~kGroupBits);
    if (calls().fchmod(fd, mode) != 0) {
        return systemError();
    }
    return std::nullopt;
}

// The name the new file takes in the folder before it replaces the old one: the usual one
// first, then others beside it.
QByteArray temporaryName(const QByteArray& prefix, int attempt)
{
    if (attempt == 0) {
        return prefix;
    }
    return prefix + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 16);
}

// Removes what earlier replacements left under the temporary names: only this user's regular
// files, and only what the folder lets us remove.
void removeLeftovers(int folder, const QByteArray& prefix)
{
    const QByteArray others = prefix + '.';
    for (const QByteArray& name : posix::listFolder(folder)) {
        struct stat status {};
        if ((name == prefix || name.startsWith(others)) &&
            calls().fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) && status.st_uid == calls().geteuid()) {
            calls().unlinkat(folder, name.constData(), 0);
        }
    }
}

// What the old file is, when there is one: the new file takes over its attributes.
struct OldFile {
    QByteArray path;
    std::optional<struct stat> status;
};

enum class Outcome { Written, Failed, Unsupported };

bool unsupported(int code)
{
    return code == EOPNOTSUPP || code == EISDIR || code == EINVAL;
}

// Writes the bytes into a new file in the folder and flushes them. With unnamed, the file gets a
// name only when it is complete; Unsupported: the file system has no unnamed files, or there is
// no /proc to name one through. On success, name holds the name it has in the folder.
Outcome writeTemporary(int folder, const QByteArray& prefix, const QByteArray& bytes,
                       const OldFile& old, bool unnamed, QByteArray& name, Error& error)
{
    int attempt = 0;
    Descriptor file;
    if (unnamed) {
        file = posix::openAt(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, kNewFileMode);
    } else {
        do {
            name = temporaryName(prefix, attempt);
            file = posix::openAt(folder, name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC,
                                 kNewFileMode);
        } while (!file.isOpen() && errno == EEXIST && ++attempt < kNameAttempts);
    }
    if (!file.isOpen()) {
        error = systemError();
        return unnamed && unsupported(error.code) ? Outcome::Unsupported : Outcome::Failed;
    }
    std::optional<Error> failed;
    if (old.status) {
        failed = takeOverAttributes(file.get(), old.path, *old.status);
    }
    if (!failed) {
        failed = posix::writeAll(file.get(), bytes);
    }
    // Flushed before it takes the old file's place, so a power cut never leaves a short file.
    if (!failed && calls().fdatasync(file.get()) != 0) {
        failed = systemError();
    }
    if (failed) {
        error = *failed;
        if (!unnamed) {
            calls().unlinkat(folder, name.constData(), 0);
        }
        return Outcome::Failed;
    }
    if (!unnamed) {
        return Outcome::Written;
    }
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(file.get());
    int linked = -1;
    do {
        name = temporaryName(prefix, attempt);
        linked =
            calls().linkat(AT_FDCWD, self.constData(), folder, name.constData(), AT_SYMLINK_FOLLOW);
    } while (linked != 0 && errno == EEXIST && ++attempt < kNameAttempts);
    if (linked != 0) {
        error = systemError();
        return error.code == ENOENT ? Outcome::Unsupported : Outcome::Failed;
    }
    return Outcome::Written;
}

} // namespace

ReadResult readWhole(const QString& path)
{
    // Opened without blocking, so a FIFO cannot hold the program before it is refused.
    const Descriptor file(calls().open(QFile::encodeName(path).constData(),
                                       O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0));
    if (!file.isOpen()) {
        if (errno == ENOENT) {
            return {};
        }
        return {{}, systemError()};
    }
    struct stat status {};
    if (calls().fstat(file.get(), &status) != 0) {
        return {{}, systemError()};
    }
    if (!S_ISREG(status.st_mode)) {
        return {{}, Error{Error::Kind::NotRegularFile, 0}};
    }
    // Room for the whole file and one byte more, so that the read that finds its end needs no
    // new block; only a file that grows while it is read makes the block grow.
    QByteArray bytes = readBuffer(qMin(static_cast<qsizetype>(status.st_size), kMaxFileSize) + 1);
    qsizetype used = 0;
    for (;;) {
        if (used == bytes.size()) {
            bytes.resize(used + kReadChunk);
        }
        const ssize_t got = calls().read(file.get(), bytes.data() + used,
                                         static_cast<std::size_t>(bytes.size() - used));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return {{}, systemError()};
        }
        used += got;
        if (used > kMaxFileSize) {
            return {{}, Error{Error::Kind::TooLarge, 0}};
        }
        if (got == 0) {
            bytes.truncate(used);
            return {std::move(bytes), std::nullopt};
        }
    }
}

std::optional<Error> replaceAtomically(const QString& path, const QByteArray& bytes)
{
    // A file that the next start would refuse to read is never written.
    if (bytes.size() > kMaxFileSize) {
        return Error{Error::Kind::TooLarge, 0};
    }
    const posix::ResolvedPath target = posix::resolvedFile(QFile::encodeName(path));
    if (target.error) {
        return target.error;
    }
    const posix::PathParts parts = posix::splitPath(target.path);
    OldFile old{target.path, std::nullopt};
    struct stat status {};
    if (calls().fstatat(AT_FDCWD, target.path.constData(), &status, 0) == 0) {
        if (!S_ISREG(status.st_mode)) {
            return Error{Error::Kind::NotRegularFile, 0};
        }
        // A file the user made read-only is not replaced behind its back.
        if (calls().access(target.path.constData(), W_OK) != 0) {
            return systemError();
        }
        old.status = status;
    } else if (errno != ENOENT) {
        return systemError();
    }

    const Descriptor folder = posix::openFolder(parts.folder);
    if (!folder.isOpen()) {
        return systemError();
    }
    const QByteArray prefix = '.' + parts.name + ".saving";
    removeLeftovers(folder.get(), prefix);
    QByteArray temporary;
    Error error;
    Outcome outcome = writeTemporary(folder.get(), prefix, bytes, old, true, temporary, error);
    if (outcome == Outcome::Unsupported) {
        outcome = writeTemporary(folder.get(), prefix, bytes, old, false, temporary, error);
    }
    if (outcome != Outcome::Written) {
        return error;
    }
    if (calls().renameat(folder.get(), temporary.constData(), folder.get(),
                         parts.name.constData()) != 0) {
        const Error renameError = systemError();
        calls().unlinkat(folder.get(), temporary.constData(), 0);
        return renameError;
    }
    // The rename is only in the folder's memory until the folder is flushed: a power cut before
    // that could bring back the old file. A folder that cannot be flushed does not undo it.
    calls().fsync(folder.get());
    return std::nullopt;
}

} // namespace filestore
