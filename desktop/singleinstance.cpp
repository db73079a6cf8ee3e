#include "desktop/singleinstance.h"

#include "desktop/logging.h"

#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace desktop {

namespace {

constexpr int kBacklog = 4;
constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kReadWriteBits = 0666;
constexpr mode_t kGroupBits = 070;
// The file systems of FUSE keep a lock to the mount it was taken through.
constexpr __fsword_t kFuseMagic = 0x65735546;
// A flood of knocks must leave the event loop time for the window.
constexpr int kMostKnocksAtOnce = 64;
// Knocks this close together are one request, answered at the latest this long after the first.
constexpr int kKnockQuietMs = 250;
constexpr int kKnockLongestMs = 1000;
// A copy that has just taken the lock opens its socket once its toolkit has started.
constexpr int kKnockAttempts = 50;
constexpr useconds_t kKnockRetryUs = 20000;
// An activation token is a short text; a start that knocks sends it at once.
constexpr qsizetype kLongestToken = 255;
constexpr int kTokenWaitMs = 50;
// Tries to take the lock again when its holder ended while it was being looked at.
constexpr int kLockAttempts = 3;

// A Unix socket address for path, or false when the path is too long for one.
bool socketAddress(const QByteArray& path, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || path.size() >= static_cast<qsizetype>(sizeof(address.sun_path))) {
        return false;
    }
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    return true;
}

// The socket of the copy that holds the lock: named by the lock file's identity, so every name
// of the history finds the same socket. Nothing without a private folder to put it in.
QByteArray socketPath(const struct stat& lock)
{
    const QByteArray runtime = privateRuntimeFolder();
    if (runtime.isEmpty()) {
        return {};
    }
    return runtime + "/qelvo-" + QByteArray::number(lock.st_dev, 16) + '-' +
           QByteArray::number(lock.st_ino, 16) + ".socket";
}

bool isPrivateFolder(const QByteArray& path)
{
    struct stat status {};
    return path.startsWith('/') && ::lstat(path.constData(), &status) == 0 &&
           S_ISDIR(status.st_mode) && status.st_uid == ::getuid() &&
           (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// code: the error number, read before anything else can change errno.
void warn(const char* what, const QByteArray& path, int code)
{
    qCWarning(lcDesktop, "qelvo: %s %s: %s", what, path.constData(), std::strerror(code));
}

// Whether the text can be an activation token: printable ASCII without blanks, not too long.
bool isToken(QByteArrayView text)
{
    return text.size() <= kLongestToken &&
           std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c <= '~'; });
}

// Asks the copy listening on the socket to come to the front, handing it the activation token
// that the desktop gave this start, if any; false when none listens. A copy too busy to take the
// knock at once has knocks waiting already: it comes when it can.
bool knockOn(const QByteArray& socketPath, const QByteArray& token)
{
    sockaddr_un address{};
    if (!socketAddress(socketPath, address)) {
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    const bool answered =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 ||
        errno == EAGAIN;
    if (answered && isToken(token)) {
        // The connection is the request, and the token all it says. The running copy may close
        // it at once: a send must not end this process with SIGPIPE.
        [[maybe_unused]] const ssize_t sent =
            ::send(fd, token.constData(), static_cast<std::size_t>(token.size()), MSG_NOSIGNAL);
    }
    ::close(fd);
    return answered;
}

// Whether the process is this user's. A process that /proc does not show (hidden from other
// users, or in another PID namespace) is not.
bool isThisUsers(pid_t pid)
{
    struct stat process {};
    return pid > 0 && ::stat(("/proc/" + QByteArray::number(pid)).constData(), &process) == 0 &&
           process.st_uid == ::getuid();
}

struct flock wholeFile(short type)
{
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;
}

// Who holds a write lock on the file, or nothing when no one does.
std::optional<pid_t> lockHolder(int fd)
{
    struct flock holder = wholeFile(F_WRLCK);
    if (::fcntl(fd, F_GETLK, &holder) != 0 || holder.l_type == F_UNLCK) {
        return std::nullopt;
    }
    return holder.l_pid;
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The lock file at name in folder is the one open as fd.
bool stillNamed(int folder, const char* name, int fd)
{
    struct stat named {};
    struct stat open {};
    return ::fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(fd, &open) == 0 &&
           sameFile(named, open);
}

// A lock file just made: as writable as the history and of its group, so that whoever may write
// the history may hold the lock, and no one else. Made by root (a sudo run), it is the history's
// owner's. Without a history yet, it is made as a new history will be, by the umask.
void madeLikeHistory(int fd, const struct stat* history)
{
    if (history == nullptr) {
        return;
    }
    const uid_t owner = ::geteuid() == 0 ? history->st_uid : static_cast<uid_t>(-1);
    const bool groupKept = ::fchown(fd, owner, history->st_gid) == 0;
    ::fchmod(fd, history->st_mode & kReadWriteBits & (groupKept ? ~mode_t{0} : ~kGroupBits));
}

// Puts a new lock file, locked by this program, in the place of stale: a lock file that no one
// holds and that this user cannot open for writing. Both are swapped in one step and swapped
// back when the file found in the place is not the stale one, so a lock that another start has
// taken meanwhile is never replaced. The new file's descriptor, or -1 with errno set.
int replaceStale(int folder, const char* name, const struct stat& stale, const struct stat* history)
{
    const QByteArray spare =
        name + ('.' + QByteArray::number(QRandomGenerator::global()->generate(), 16));
    const int fd = ::openat(folder, spare.constData(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kReadWriteBits);
    if (fd < 0) {
        return -1;
    }
    madeLikeHistory(fd, history);
    struct flock lock = wholeFile(F_WRLCK);
    struct stat swapped {};
    if (::fcntl(fd, F_SETLK, &lock) != 0 ||
        ::renameat2(folder, spare.constData(), folder, name, RENAME_EXCHANGE) != 0) {
        const int code = errno;
        ::unlinkat(folder, spare.constData(), 0);
        ::close(fd);
        errno = code;
        return -1;
    }
    if (::fstatat(folder, spare.constData(), &swapped, AT_SYMLINK_NOFOLLOW) != 0 ||
        !sameFile(swapped, stale)) {
        ::renameat2(folder, spare.constData(), folder, name, RENAME_EXCHANGE);
        ::unlinkat(folder, spare.constData(), 0);
        ::close(fd);
        errno = EAGAIN;
        return -1;
    }
    ::unlinkat(folder, spare.constData(), 0);
    return fd;
}

} // namespace

QByteArray privateRuntimeFolder()
{
    QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (isPrivateFolder(runtime)) {
        return runtime;
    }
    const QByteArray own = "/tmp/qelvo-" + QByteArray::number(::getuid());
    ::mkdir(own.constData(), kPrivateFolderMode);
    return isPrivateFolder(own) ? own : QByteArray();
}

SingleInstance::SingleInstance(QByteArray historyFile, QObject* parent)
    : QObject(parent)
    , mHistoryFile(std::move(historyFile))
{
    mRaise.setSingleShot(true);
    connect(&mRaise, &QTimer::timeout, this,
            [this] { emit activationRequested(std::exchange(mToken, {})); });
}

SingleInstance::~SingleInstance()
{
    release();
}

QByteArray SingleInstance::lockFile(const QByteArray& historyFile)
{
    const qsizetype slash = historyFile.lastIndexOf('/');
    return historyFile.left(slash + 1) + '.' + historyFile.mid(slash + 1) + ".lock";
}

std::optional<LockProblem> SingleInstance::problem() const
{
    return mProblem;
}

PreviousInstance SingleInstance::unguarded(LockProblem problem, const QByteArray& path)
{
    mProblem = problem;
    if (problem.kind == LockProblem::Kind::NotAPlainFile) {
        qCWarning(lcDesktop, "qelvo: %s is not a plain file of one name: not used as the lock",
                  path.constData());
    } else {
        warn("cannot lock", path, problem.code);
    }
    return PreviousInstance::None;
}

PreviousInstance SingleInstance::previousInstance()
{
    if (mLock >= 0) {
        return PreviousInstance::None;
    }
    struct stat history {};
    const bool historyExists = ::stat(mHistoryFile.constData(), &history) == 0;
    const QByteArray path = lockFile(mHistoryFile);
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray name = path.mid(slash + 1);
    // Opened in its folder, the lock file is reached however long the folder's path.
    const int folder = ::open(slash < 0    ? "."
                              : slash == 0 ? "/"
                                           : path.left(slash).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return unguarded({LockProblem::Kind::System, errno}, path);
    }
    const auto closeFolder = qScopeGuard([folder] { ::close(folder); });
    std::optional<pid_t> holder;
    struct stat lock {};
    for (int attempt = 0; attempt < kLockAttempts && !holder; ++attempt) {
        int fd = ::openat(folder, name.constData(),
                          O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kReadWriteBits);
        if (fd >= 0) {
            madeLikeHistory(fd, historyExists ? &history : nullptr);
        } else if (errno == EEXIST) {
            fd = ::openat(folder, name.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        }
        if (fd < 0 && errno == EACCES) {
            // A lock file this user cannot write: one that another user's program holds, or one
            // that a run of another user (sudo) left and no one holds.
            const int stale = ::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (stale < 0 || ::fstat(stale, &lock) != 0) {
                const int code = errno;
                if (stale >= 0) {
                    ::close(stale);
                }
                return unguarded({LockProblem::Kind::System, code}, path);
            }
            holder = lockHolder(stale);
            ::close(stale);
            if (holder) {
                break;
            }
            fd = replaceStale(folder, name.constData(), lock, historyExists ? &history : nullptr);
        }
        if (fd < 0) {
            if (errno == ENOENT || errno == EAGAIN) {
                continue; // the file changed under this start's eyes: look again
            }
            // A folder or a link in the lock file's place.
            if (errno == EISDIR || errno == ELOOP) {
                return unguarded({LockProblem::Kind::NotAPlainFile, 0}, path);
            }
            return unguarded({LockProblem::Kind::System, errno}, path);
        }
        if (::fstat(fd, &lock) != 0 || !S_ISREG(lock.st_mode) || lock.st_nlink != 1) {
            ::close(fd);
            return unguarded({LockProblem::Kind::NotAPlainFile, 0}, path);
        }
        struct flock whole = wholeFile(F_WRLCK);
        if (::fcntl(fd, F_SETLK, &whole) == 0) {
            // Locked, but the name may have been given to another file meanwhile.
            if (!stillNamed(folder, name.constData(), fd)) {
                ::close(fd);
                continue;
            }
            mLock = fd;
            mSocketPath = socketPath(lock);
            struct statfs system {};
            if (::fstatfs(fd, &system) == 0 && system.f_type == kFuseMagic) {
                mProblem = LockProblem{LockProblem::Kind::LocalOnly, 0};
            }
            return PreviousInstance::None;
        }
        const int code = errno;
        if (code != EACCES && code != EAGAIN) {
            ::close(fd);
            return unguarded({LockProblem::Kind::System, code}, path);
        }
        holder = lockHolder(fd);
        ::close(fd);
    }
    if (!holder) {
        return unguarded({LockProblem::Kind::System, EAGAIN}, path);
    }
    mSocketPath = socketPath(lock);
    if (!isThisUsers(*holder)) {
        return knockOn(mSocketPath, qgetenv("XDG_ACTIVATION_TOKEN")) ? PreviousInstance::Activated
                                                                     : PreviousInstance::InUse;
    }
    for (int attempt = 0; attempt < kKnockAttempts; ++attempt) {
        if (knockOn(mSocketPath, qgetenv("XDG_ACTIVATION_TOKEN"))) {
            return PreviousInstance::Activated;
        }
        ::usleep(kKnockRetryUs);
    }
    return PreviousInstance::Unreachable;
}

void SingleInstance::release()
{
    if (mListener >= 0) {
        delete mNotifier;
        mNotifier = nullptr;
        ::close(mListener);
        mListener = -1;
        ::unlink(mSocketPath.constData());
    }
    if (mLock >= 0) {
        ::close(mLock);
        mLock = -1;
    }
    mRaise.stop();
}

void SingleInstance::listen()
{
    if (mLock < 0 || mListener >= 0) {
        return;
    }
    sockaddr_un address{};
    if (!socketAddress(mSocketPath, address)) {
        qCWarning(lcDesktop, "qelvo: no private folder for the socket; a second start cannot "
                             "bring this window to the front");
        return;
    }
    // Only the holder of the lock removes what a crashed copy, or anyone, left at the path.
    ::unlink(mSocketPath.constData());
    mListener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (mListener < 0 ||
        ::bind(mListener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(mListener, kBacklog) != 0) {
        warn("cannot listen on", mSocketPath, errno);
        if (mListener >= 0) {
            ::close(mListener);
            mListener = -1;
        }
        return;
    }
    mNotifier = new QSocketNotifier(mListener, QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, [this] {
        int knocks = 0;
        int peer = -1;
        while (knocks < kMostKnocksAtOnce &&
               (peer = ::accept4(mListener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0) {
            readToken(peer);
            ::close(peer);
            ++knocks;
        }
        if (knocks > 0) {
            knock();
        }
    });
}

void SingleInstance::readToken(int peer)
{
    std::array<char, kLongestToken + 1> text{};
    qsizetype got = 0;
    pollfd waiting{peer, POLLIN, 0};
    // Until the start closes its end; one that says nothing soon is heard without a token.
    while (got < static_cast<qsizetype>(text.size()) && ::poll(&waiting, 1, kTokenWaitMs) > 0) {
        const ssize_t read = ::recv(peer, text.data() + got, text.size() - got, MSG_DONTWAIT);
        if (read <= 0) {
            break;
        }
        got += read;
    }
    const QByteArrayView token(text.data(), got);
    if (!token.isEmpty() && isToken(token)) {
        mToken = token.toByteArray();
    }
}

void SingleInstance::knock()
{
    if (!mRaise.isActive()) {
        mFirstKnock.start();
    }
    mRaise.start(static_cast<int>(
        std::clamp<qint64>(kKnockLongestMs - mFirstKnock.elapsed(), 0, kKnockQuietMs)));
}

} // namespace desktop
