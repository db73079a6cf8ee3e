#include "history/filestore.h"

#include "history/savelock.h"
#include "posix/files.h"
#include "posix/systemcalls.h"

#include <QFile>
#include <QList>
#include <cstdint>
#include <fcntl.h>
#ifndef _WIN32
#include <sys/mman.h>
#endif
#include <sys/stat.h>
#include <variant>

namespace filestore {

namespace {

using posix::calls;
using posix::Descriptor;
using posix::Error;
using posix::systemError;

constexpr qsizetype kReadChunk = qsizetype{64} * 1024;
// Saves begun again when another writer took the lock over or replaced the file meanwhile.
constexpr int kAttempts = 3;
// A file of at least half a huge page is read into huge pages: a full history then costs the
// system one page fault instead of hundreds, which was a third of the time to load it.
constexpr qsizetype kHugePage = qsizetype{2} * 1024 * 1024;
constexpr qsizetype kHugePagesFrom = kHugePage / 2;
constexpr mode_t kGroupBits = S_IRWXG;
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

bool sameRead(const ReadResult& a, const ReadResult& b)
{
    return !a.error && !b.error && a.bytes == b.bytes;
}

// Writes the new file of the file at path: the old one's owner, permissions and attributes, then
// every byte, flushed to the storage before it may take the old one's place, so that a power
// cut never leaves a short file.
std::optional<Error> writeNew(int fd, const QByteArray& path, const QByteArray& bytes)
{
    // A file that the next start would refuse to read is never written.
    if (bytes.size() > kMaxFileSize) {
        return Error{Error::Kind::TooLarge, 0};
    }
    struct stat old {};
    if (calls().fstatat(AT_FDCWD, path.constData(), &old, 0) == 0) {
        if (!S_ISREG(old.st_mode)) {
            return Error{Error::Kind::NotRegularFile, 0};
        }
        // A file the user made read-only is not replaced behind its back.
        if (calls().access(path.constData(), W_OK) != 0) {
            return systemError();
        }
        if (std::optional<Error> failed = takeOverAttributes(fd, path, old)) {
            return failed;
        }
    } else if (errno != ENOENT) {
        return systemError();
    }
    if (std::optional<Error> failed = posix::writeAll(fd, bytes)) {
        return failed;
    }
    if (calls().fdatasync(fd) != 0) {
        return systemError();
    }
    return std::nullopt;
}

// The folder of the file that path names once its links are followed, and the file's name in it.
struct Place {
    posix::ResolvedPath target;
    posix::PathParts parts;
    Descriptor folder;
};
std::variant<Place, Error> placeOf(const QString& path)
{
    Place place{posix::resolvedFile(posix::encodedName(path)), {}, {}};
    if (place.target.error) {
        return *place.target.error;
    }
    place.parts = posix::splitPath(place.target.path);
    place.folder = posix::openFolder(place.parts.folder);
    if (!place.folder.isOpen()) {
        return systemError();
    }
    return place;
}

// The error of a save, the lock it names with the folder's path.
Error told(Error error, const Place& place)
{
    if (!error.file.isEmpty()) {
        error.file = posix::joinedPath({place.parts.folder, error.file});
    }
    return error;
}

} // namespace

ReadResult readWhole(const QString& path)
{
    // Opened without blocking, so a FIFO cannot hold the program before it is refused.
    const Descriptor file(calls().open(posix::encodedName(path).constData(),
                                       O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0));
    if (!file.isOpen()) {
        if (errno == ENOENT) {
            return {};
        }
        return {{}, systemError()};
    }
    return readOpen(file.get());
}

ReadResult readOpen(int fd)
{
    // Its size as the file system has it now: a FUSE mount (sshfs, bindfs) would otherwise read
    // the file only as far as the size it remembers, which another mount's writer has changed.
    struct statx status {};
    if (calls().statx(fd, "", AT_EMPTY_PATH | AT_STATX_FORCE_SYNC, STATX_TYPE | STATX_SIZE,
                      &status) != 0) {
        return {{}, systemError()};
    }
    if (!S_ISREG(status.stx_mode)) {
        return {{}, Error{Error::Kind::NotRegularFile, 0}};
    }
    // Room for the whole file and one byte more, so that the read that finds its end needs no
    // new block; only a file that grows while it is read makes the block grow.
    QByteArray bytes = readBuffer(qMin(static_cast<qsizetype>(status.stx_size), kMaxFileSize) + 1);
    qsizetype used = 0;
    for (;;) {
        if (used == bytes.size()) {
            bytes.resize(used + kReadChunk);
        }
        const ssize_t got =
            calls().read(fd, bytes.data() + used, static_cast<std::size_t>(bytes.size() - used));
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

std::optional<Error> update(const QString& path, const Change& change,
                            const std::function<void()>& beforeReplace)
{
    // A change that leaves every byte as it is needs no lock and no new file: a full disk or a
    // read-only folder does not stop it.
    ReadResult read = readWhole(path);
    std::optional<QByteArray> bytes = change(read);
    if (!bytes) {
        return std::nullopt;
    }
    std::variant<Place, Error> found = placeOf(path);
    if (const Error* error = std::get_if<Error>(&found)) {
        return *error;
    }
    const Place& place = std::get<Place>(found);
    for (int attempt = 1;; ++attempt) {
        std::variant<SaveLock, Error> taken = SaveLock::take(place.folder.get(), place.parts.name);
        if (const Error* error = std::get_if<Error>(&taken)) {
            return told(*error, place);
        }
        SaveLock& lock = std::get<SaveLock>(taken);
        // The file as it is now that no one else writes it; changed again only if it changed.
        if (ReadResult now = readWhole(path); !sameRead(now, read)) {
            read = std::move(now);
            bytes = change(read);
            if (!bytes) {
                return std::nullopt;
            }
        }
        if (std::optional<Error> failed = writeNew(lock.fd(), place.target.path, *bytes)) {
            return failed;
        }
        if (beforeReplace) {
            beforeReplace();
        }
        // A writer whose lock was taken over, or whose file another writer replaced meanwhile,
        // would put back what it read; it begins again instead, as it does when its commit
        // finds that it was stopped after this check.
        if (lock.held() && sameRead(readWhole(path), read)) {
            std::optional<Error> committed = lock.commit();
            if (!committed || committed->kind != Error::Kind::TakenOver) {
                return committed;
            }
        }
        if (attempt == kAttempts) {
            return Error{Error::Kind::TakenOver, EBUSY};
        }
    }
}

void tidy(const QString& path)
{
    std::variant<Place, Error> found = placeOf(path);
    if (const Place* place = std::get_if<Place>(&found)) {
        SaveLock::tidy(place->folder.get(), place->parts.name);
    }
}

std::optional<Error> replaceAtomically(const QString& path, const QByteArray& bytes)
{
    return update(path, [&bytes](const ReadResult& current) {
        return current.bytes == bytes && !current.error ? std::nullopt : std::optional(bytes);
    });
}

} // namespace filestore
