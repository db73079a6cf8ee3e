#include "app/singleinstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kBacklog = 4;

// A Unix socket address for path, or false when the path is too long for one.
bool socketAddress(const QByteArray& path, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= static_cast<qsizetype>(sizeof(address.sun_path))) {
        return false;
    }
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    return true;
}

} // namespace

SingleInstance::SingleInstance(const QString& key, QObject* parent)
    : QObject(parent)
    , mLock(QDir::temp().filePath(key + QStringLiteral(".lock")))
    , mSocketPath(QFile::encodeName(QDir::temp().filePath(key + QStringLiteral(".socket"))))
{
    // A lock held by a live process is never taken over because of its age; a lock whose
    // owner is gone is taken over at once.
    mLock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance()
{
    if (mListener >= 0) {
        ::close(mListener);
        ::unlink(mSocketPath.constData());
    }
}

bool SingleInstance::isPreviousInstanceRunning()
{
    if (mLock.isLocked()) {
        return false;
    }
    if (mLock.tryLock(0)) {
        listen();
        return false;
    }
    sockaddr_un address{};
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && socketAddress(mSocketPath, address) &&
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
        // The connection is the request. The running instance may close it at once: a send
        // must not end this process with SIGPIPE.
        const char request = 'r';
        [[maybe_unused]] const ssize_t sent = ::send(fd, &request, 1, MSG_NOSIGNAL);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return true;
}

void SingleInstance::listen()
{
    sockaddr_un address{};
    if (!socketAddress(mSocketPath, address)) {
        return; // the program still runs alone; only the bringing to the front is lost
    }
    // Only the holder of the lock removes a socket that a crashed instance left behind.
    ::unlink(mSocketPath.constData());
    mListener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (mListener < 0) {
        return;
    }
    const mode_t previous = ::umask(S_IRWXG | S_IRWXO);
    const bool bound =
        ::bind(mListener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::umask(previous);
    if (!bound || ::listen(mListener, kBacklog) != 0) {
        ::close(mListener);
        mListener = -1;
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

QString instanceKey(const QString& executablePath)
{
    const QString canonical = QFileInfo(executablePath).canonicalFilePath();
    const QByteArray hash =
        QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return QStringLiteral("qelvo-%1-%2").arg(getuid()).arg(QString::fromLatin1(hash));
}
