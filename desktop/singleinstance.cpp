#include "desktop/singleinstance.h"

#include "desktop/logging.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace desktop {

namespace {

constexpr int kBacklog = 4;
constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kReadWriteBits = 0666;
// A flood of knocks must leave the event loop time for the window.
constexpr int kMostKnocksAtOnce = 64;
// Knocks this close together are one request, answered at the latest this long after the first.
constexpr int kKnockQuietMs = 250;
constexpr int kKnockLongestMs = 1000;
// A copy that has just taken the lock opens its socket once its toolkit has started.
constexpr int kKnockAttempts = 50;
constexpr useconds_t kKnockRetryUs = 20000;
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

bool isPrivateFolder(const QByteArray& path)
{
    struct stat status {};
    return path.startsWith('/') && ::lstat(path.constData(), &status) == 0 &&
           S_ISDIR(status.st_mode) && status.st_uid == ::getuid() &&
           (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

void warn(const char* what, const QByteArray& path)
{
    qCWarning(lcDesktop, "qelvo: %s %s: %s", what, path.constData(), std::strerror(errno));
}

// Asks the copy listening on the socket to come to the front; false when none listens. A copy
// too busy to take the knock at once has knocks waiting already: it comes when it can.
bool knockOn(const QByteArray& socketPath)
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
    if (answered) {
        // The connection is the request. The running copy may close it at once: a send must not
        // end this process with SIGPIPE.
        const char request = 'r';
        [[maybe_unused]] const ssize_t sent = ::send(fd, &request, 1, MSG_NOSIGNAL);
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
    connect(&mRaise, &QTimer::timeout, this, &SingleInstance::activationRequested);
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

PreviousInstance SingleInstance::previousInstance()
{
    if (mLock >= 0) {
        return PreviousInstance::None;
    }
    // Whoever may write the history may open the lock file for writing, and no one else.
    // Without a history yet, the lock file is made as a new history will be, by the umask.
    struct stat history {};
    const bool historyExists = ::stat(mHistoryFile.constData(), &history) == 0;
    const mode_t mode = historyExists ? history.st_mode & kReadWriteBits : kReadWriteBits;
    const QByteArray path = lockFile(mHistoryFile);
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, mode);
    struct stat lock {};
    if (fd < 0 || ::fstat(fd, &lock) != 0) {
        warn("cannot open the lock file", path);
        if (fd >= 0) {
            ::close(fd);
        }
        return PreviousInstance::None;
    }
    if (historyExists && lock.st_uid == ::geteuid() && (lock.st_mode & 07777U) != mode) {
        ::fchmod(fd, mode);
    }
    // Named by the lock file's identity, so every name of the history finds the same socket.
    const QByteArray runtime = privateRuntimeFolder();
    if (!runtime.isEmpty()) {
        mSocketPath = runtime + "/qelvo-" + QByteArray::number(lock.st_dev, 16) + '-' +
                      QByteArray::number(lock.st_ino, 16) + ".socket";
    }
    struct flock holder {};
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        struct flock whole {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        if (::fcntl(fd, F_SETLK, &whole) == 0) {
            mLock = fd;
            return PreviousInstance::None;
        }
        if (errno != EACCES && errno != EAGAIN) {
            warn("cannot lock", path);
            ::close(fd);
            return PreviousInstance::None;
        }
        holder = whole;
        if (::fcntl(fd, F_GETLK, &holder) == 0 && holder.l_type != F_UNLCK) {
            break;
        }
    }
    ::close(fd);
    if (!isThisUsers(holder.l_pid)) {
        return knockOn(mSocketPath) ? PreviousInstance::Activated : PreviousInstance::InUse;
    }
    for (int attempt = 0; attempt < kKnockAttempts; ++attempt) {
        if (knockOn(mSocketPath)) {
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
        warn("cannot listen on", mSocketPath);
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
            ::close(peer);
            ++knocks;
        }
        if (knocks > 0) {
            knock();
        }
    });
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
