#include "history/filestore.h"

#include <QFile>
#include <array>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace filestore {

namespace {

constexpr qsizetype kReadChunk = qsizetype{64} * 1024;
constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any new file

// A descriptor closed when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd)
        : mFd(fd)
    {
    }
    ~Descriptor()
    {
        if (mFd >= 0) {
            ::close(mFd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    [[nodiscard]] int get() const { return mFd; }
    [[nodiscard]] bool isOpen() const { return mFd >= 0; }

private:
    int mFd;
};

FileError systemError(int code = errno)
{
    return {FileError::Kind::System, code};
}

std::optional<FileError> writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<std::size_t>(left));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return systemError(written < 0 ? errno : EIO);
        }
        data += written;
        left -= written;
    }
    return std::nullopt;
}

// The file that a replacement of path writes: path itself, or the file its links lead to, also
// when that file does not exist yet.
std::optional<QByteArray> replacedFile(QByteArray path, FileError& error)
{
    constexpr int kMostLinks = 40; // as the system follows them
    for (int followed = 0; followed <= kMostLinks; ++followed) {
        struct stat status {};
        if (::lstat(path.constData(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return path;
        }
        std::array<char, PATH_MAX> name{};
        const ssize_t length = ::readlink(path.constData(), name.data(), name.size());
        if (length < 0 || static_cast<std::size_t>(length) >= name.size()) {
            error = systemError(length < 0 ? errno : ENAMETOOLONG);
            return std::nullopt;
        }
        const QByteArray target(name.data(), length);
        const qsizetype slash = path.lastIndexOf('/');
        path = target.startsWith('/') || slash < 0 ? target : path.left(slash + 1) + target;
    }
    error = systemError(ELOOP);
    return std::nullopt;
}

enum class Outcome { Written, Failed, Unsupported };

bool unsupported(int code)
{
    return code == EOPNOTSUPP || code == EISDIR || code == EINVAL;
}

// Writes the bytes into the folder under temporary and flushes them; with unnamed, the file has
// no name until it is complete. Unsupported: the file system has no unnamed files, or no /proc
// through which to name one.
Outcome writeTemporary(int folder, const QByteArray& temporary, const QByteArray& bytes,
                       std::optional<mode_t> mode, bool unnamed, FileError& error)
{
    ::unlinkat(folder, temporary.constData(), 0);
    const Descriptor file(
        unnamed ? ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, kNewFileMode)
                : ::openat(folder, temporary.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC,
                           kNewFileMode));
    if (!file.isOpen()) {
        error = systemError();
        return unnamed && unsupported(error.code) ? Outcome::Unsupported : Outcome::Failed;
    }
    const auto fail = [&](FileError reason) {
        error = reason;
        if (!unnamed) {
            ::unlinkat(folder, temporary.constData(), 0);
        }
        return Outcome::Failed;
    };
    if (mode && ::fchmod(file.get(), *mode) != 0) {
        return fail(systemError());
    }
    if (const std::optional<FileError> failed = writeAll(file.get(), bytes)) {
        return fail(*failed);
    }
    if (::fdatasync(file.get()) != 0) {
        return fail(systemError());
    }
    if (unnamed) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(file.get());
        if (::linkat(AT_FDCWD, self.constData(), folder, temporary.constData(),
                     AT_SYMLINK_FOLLOW) != 0) {
            error = systemError();
            return error.code == ENOENT ? Outcome::Unsupported : Outcome::Failed;
        }
    }
    return Outcome::Written;
}

} // namespace

ReadResult readWhole(const QString& path)
{
    // Opened without blocking, so a FIFO cannot hold the program before it is refused.
    const Descriptor file(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.isOpen()) {
        if (errno == ENOENT) {
            return {};
        }
        return {{}, systemError()};
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        return {{}, systemError()};
    }
    if (!S_ISREG(status.st_mode)) {
        return {{}, FileError{FileError::Kind::NotRegularFile, 0}};
    }
    QByteArray bytes;
    bytes.reserve(qMin(static_cast<qsizetype>(status.st_size), kMaxFileSize + 1));
    for (;;) {
        const qsizetype used = bytes.size();
        bytes.resize(used + kReadChunk);
        const ssize_t got = ::read(file.get(), bytes.data() + used, kReadChunk);
        if (got < 0 && errno == EINTR) {
            bytes.resize(used);
            continue;
        }
        if (got < 0) {
            return {{}, systemError()};
        }
        bytes.resize(used + got);
        if (bytes.size() > kMaxFileSize) {
            return {{}, FileError{FileError::Kind::TooLarge, 0}};
        }
        if (got == 0) {
            return {std::move(bytes), std::nullopt};
        }
    }
}

std::optional<FileError> replaceAtomically(const QString& path, const QByteArray& bytes)
{
    FileError error;
    const std::optional<QByteArray> target = replacedFile(QFile::encodeName(path), error);
    if (!target) {
        return error;
    }
    const qsizetype slash = target->lastIndexOf('/');
    const QByteArray folderPath = slash < 0 ? QByteArray(".") : target->left(qMax(slash, 1));
    const QByteArray name = target->mid(slash + 1);
    const QByteArray temporary = '.' + name + ".saving";

    std::optional<mode_t> mode;
    struct stat status {};
    if (::stat(target->constData(), &status) == 0) {
        if (!S_ISREG(status.st_mode)) {
            return FileError{FileError::Kind::NotRegularFile, 0};
        }
        // A file the user made read-only is not replaced behind its back.
        if (::access(target->constData(), W_OK) != 0) {
            return systemError();
        }
        mode = status.st_mode & 07777U;
    } else if (errno != ENOENT) {
        return systemError();
    }

    const Descriptor folder(::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isOpen()) {
        return systemError();
    }
    Outcome outcome = writeTemporary(folder.get(), temporary, bytes, mode, true, error);
    if (outcome == Outcome::Unsupported) {
        outcome = writeTemporary(folder.get(), temporary, bytes, mode, false, error);
    }
    if (outcome != Outcome::Written) {
        return error;
    }
    if (::renameat(folder.get(), temporary.constData(), folder.get(), name.constData()) != 0) {
        const FileError renameError = systemError();
        ::unlinkat(folder.get(), temporary.constData(), 0);
        return renameError;
    }
    // The rename is done; a folder that cannot be flushed does not undo it.
    ::fsync(folder.get());
    return std::nullopt;
}

} // namespace filestore
