#include "desktop/singleinstance.h"

#include "desktop/logging.h"

#include <QFile>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace desktop {

namespace {

constexpr int kBacklog = 4;
constexpr mode_t kPrivateFolderMode = 0700;

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

// The user whose process holds a flock() on the file, as /proc/locks tells it, or nothing when
// it cannot be told.
std::optional<uid_t> lockHolder(const struct stat& file)
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    // "1: FLOCK  ADVISORY  WRITE 16561 fe:00:10969125 0 EOF": the major and minor device
    // numbers in hexadecimal, the inode in decimal.
    const QByteArray identity = QByteArray::number(major(file.st_dev), 16).rightJustified(2, '0') +
                                ':' +
                                QByteArray::number(minor(file.st_dev), 16).rightJustified(2, '0') +
                                ':' + QByteArray::number(file.st_ino);
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 6 && fields.at(1) == "FLOCK" && fields.at(5) == identity) {
            struct stat process {};
            if (::stat(("/proc/" + fields.at(4)).constData(), &process) == 0) {
                return process.st_uid;
            }
        }
    }
    return std::nullopt;
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

SingleInstance::SingleInstance(QByteArray folder, QObject* parent)
    : QObject(parent)
    , mFolder(std::move(folder))
{
}

SingleInstance::~SingleInstance()
{
    if (mListener >= 0) {
        ::close(mListener);
        ::unlink(mSocketPath.constData());
    }
    if (mLock >= 0) {
        ::close(mLock);
    }
}

bool SingleInstance::isPreviousInstanceRunning()
{
    if (mLock >= 0) {
        return false;
    }
    const int folder = ::open(mFolder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        warn("cannot lock the folder", mFolder);
        return false;
    }
    struct stat status {};
    if (::fstat(folder, &status) == 0) {
        // Named by the folder's identity, so every name of the folder finds the same socket.
        const QByteArray runtime = privateRuntimeFolder();
        if (!runtime.isEmpty()) {
            mSocketPath = runtime + "/qelvo-" + QByteArray::number(status.st_dev, 16) + '-' +
                          QByteArray::number(status.st_ino, 16) + ".socket";
        }
    }
    if (::flock(folder, LOCK_EX | LOCK_NB) == 0) {
        mLock = folder;
        listen();
        return false;
    }
    bool held = errno == EWOULDBLOCK;
    if (!held) {
        warn("cannot lock the folder", mFolder);
    } else if (const std::optional<uid_t> holder = lockHolder(status);
               holder && *holder != ::getuid()) {
        // Another user cannot keep this user's program from starting.
        qCWarning(lcDesktop,
                  "qelvo: %s is locked by another user's program; running without the lock",
                  mFolder.constData());
        held = false;
    }
    ::close(folder);
    sockaddr_un address{};
    const int fd = held ? ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
    if (fd >= 0 && socketAddress(mSocketPath, address) &&
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
        // The connection is the request. The running copy may close it at once: a send must not
        // end this process with SIGPIPE.
        const char request = 'r';
        [[maybe_unused]] const ssize_t sent = ::send(fd, &request, 1, MSG_NOSIGNAL);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return held;
}

void SingleInstance::listen()
{
    sockaddr_un address{};
    if (!socketAddress(mSocketPath, address)) {
        qCWarning(lcDesktop,
                  "qelvo: no private folder for the socket; a second start cannot bring this "
                  "window to the front");
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
        int peer = -1;
        while ((peer = ::accept4(mListener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0) {
            ::close(peer);
        }
        emit activationRequested();
    });
}

} // namespace desktop
