#include "posix/files.h"

#include "posix/systemcalls.h"

#include <QCryptographicHash>
#include <QFile>
#include <array>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#ifndef _WIN32
#include <sys/vfs.h>
#endif

namespace posix {

namespace {

constexpr mode_t kReadWriteBits = 0666;
constexpr mode_t kGroupBits = 070;
constexpr int kMostLinks = 40; // as the system follows them
constexpr std::size_t kListingBlock = 32768;
// Enough of a digest to tell apart the names that share their beginning.
constexpr qsizetype kDigestDigits = 16;
constexpr qsizetype kLongestName = NAME_MAX;

// Whether the byte continues a UTF-8 character begun before it.
bool continues(char byte)
{
    constexpr unsigned char kMask = 0xC0;
    constexpr unsigned char kContinuation = 0x80;
    return (static_cast<unsigned char>(byte) & kMask) == kContinuation;
}

// Whether fchown failed because the file system cannot give the file that group: not a group of
// ours (EPERM), no owners at all (ENOSYS, EOPNOTSUPP), or an id it cannot map (EINVAL).
bool groupNotGiven(int code)
{
    return code == EPERM || code == ENOSYS || code == EOPNOTSUPP || code == EINVAL;
}

} // namespace

PathParts splitPath(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0) {
        return {".", path};
    }
    return {path.left(qMax(slash, qsizetype{1})), path.mid(slash + 1)};
}

QByteArray joinedPath(const PathParts& parts)
{
    return (parts.folder.endsWith('/') ? parts.folder : parts.folder + '/') + parts.name;
}

QByteArray encodedName(const QString& path)
{
#ifdef _WIN32
    return path.toUtf8();
#else
    return QFile::encodeName(path);
#endif
}

QString decodedName(const QByteArray& name)
{
#ifdef _WIN32
    return QString::fromUtf8(name);
#else
    return QFile::decodeName(name);
#endif
}

ResolvedPath resolvedFile(const QByteArray& path)
{
    QByteArray file = path;
    for (int followed = 0; followed <= kMostLinks; ++followed) {
        struct stat status {};
        if (calls().fstatat(AT_FDCWD, file.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISLNK(status.st_mode)) {
            return {file, std::nullopt};
        }
        std::array<char, PATH_MAX> name{};
        const ssize_t length = calls().readlink(file.constData(), name.data(), name.size());
        if (length < 0 || static_cast<std::size_t>(length) >= name.size()) {
            return {file, systemError(length < 0 ? errno : ENAMETOOLONG)};
        }
        const QByteArray target(name.data(), length);
        // A relative link names a file beside the link.
        const qsizetype slash = file.lastIndexOf('/');
        file = target.startsWith('/') || slash < 0 ? target : file.left(slash + 1) + target;
    }
    return {file, systemError(ELOOP)};
}

QByteArray besideName(int folder, const QByteArray& name, QByteArrayView tail, qsizetype reserve)
{
    struct statfs system {};
    const qsizetype longest = calls().fstatfs(folder, &system) == 0 && system.f_namelen > 0
                                  ? qMin<qsizetype>(system.f_namelen, kLongestName)
                                  : kLongestName;
    if (1 + name.size() + reserve <= longest) {
        return QByteArray('.' + name).append(tail);
    }
    // The beginning, cut between two characters, for the user to know the file by.
    qsizetype kept = qMax<qsizetype>(longest - reserve - kDigestDigits - 2, 0);
    while (kept > 0 && continues(name[kept])) {
        --kept;
    }
    const QByteArray digest = QCryptographicHash::hash(name, QCryptographicHash::Sha256).toHex();
    return QByteArray('.' + name.left(kept) + '~' + digest.left(kDigestDigits)).append(tail);
}

Descriptor openAt(int folder, const char* name, int flags, mode_t mode)
{
    return Descriptor(calls().openat(folder, name, flags, mode));
}

Descriptor openFolder(const QByteArray& path)
{
    return Descriptor(calls().open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
}

QList<QByteArray> listFolder(int folder)
{
    // A descriptor of its own: the place reached in a folder belongs to its descriptor.
    const Descriptor listed = openAt(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    QList<QByteArray> names;
    alignas(struct dirent64) std::array<char, kListingBlock> block{};
    ssize_t got = 0;
    while (listed.isOpen() &&
           ((got = calls().getdents64(listed.get(), block.data(), block.size())) > 0 ||
            (got < 0 && errno == EINTR))) {
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(block.data() + at);
            const QByteArrayView name(entry->d_name);
            if (name != "." && name != "..") {
                names << name.toByteArray();
            }
            at += entry->d_reclen;
        }
    }
    return got < 0 ? QList<QByteArray>() : names;
}

std::optional<Error> writeAll(int fd, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t written =
            calls().write(fd, bytes.data(), static_cast<std::size_t>(bytes.size()));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return systemError(written < 0 ? errno : EIO);
        }
        bytes = bytes.sliced(written);
    }
    return std::nullopt;
}

std::optional<Error> flushFolder(int folder)
{
    // ENOTSUP is EOPNOTSUPP on Linux; either tells that the file system keeps no folder to flush.
    if (calls().fsync(folder) == 0 || errno == EINVAL || errno == ENOTSUP || errno == ENOSYS) {
        return std::nullopt;
    }
    return systemError();
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool stillNamed(int folder, const char* name, int fd)
{
    struct stat named {};
    struct stat open {};
    return calls().fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           calls().fstat(fd, &open) == 0 && sameFile(named, open);
}

std::optional<Error> madeLike(int fd, const struct stat& model)
{
    const uid_t owner = calls().geteuid() == 0 ? model.st_uid : static_cast<uid_t>(-1);
    bool groupKept = true;
    if (calls().fchown(fd, owner, model.st_gid) != 0) {
        if (!groupNotGiven(errno)) {
            return systemError();
        }
        groupKept = false;
    }
    const mode_t mode = model.st_mode & kReadWriteBits & (groupKept ? ~mode_t{0} : ~kGroupBits);
    if (calls().fchmod(fd, mode) != 0) {
        return systemError();
    }
    return std::nullopt;
}

QByteArray firstLine(const char* path)
{
    const Descriptor file(calls().open(path, O_RDONLY | O_CLOEXEC, 0));
    std::array<char, 512> text{};
    const ssize_t got = file.isOpen() ? calls().read(file.get(), text.data(), text.size()) : -1;
    if (got <= 0) {
        return {};
    }
    const QByteArray bytes(text.data(), got);
    return bytes.left(bytes.indexOf('\n')).trimmed();
}

} // namespace posix
