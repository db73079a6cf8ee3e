#include "app/singleinstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <unistd.h>

namespace {
constexpr int kConnectTimeoutMs = 500;
} // namespace

SingleInstance::SingleInstance(const QString& key, QObject* parent)
    : QObject(parent)
    , mKey(key)
    , mLock(QDir::temp().filePath(key + QStringLiteral(".lock")))
{
    // A lock held by a live process is never taken over because of its age; a lock whose
    // owner is gone is taken over at once.
    mLock.setStaleLockTime(0);
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
    QLocalSocket socket;
    socket.connectToServer(mKey);
    if (socket.waitForConnected(kConnectTimeoutMs)) {
        socket.write("raise");
        socket.waitForBytesWritten(kConnectTimeoutMs);
        socket.disconnectFromServer();
    }
    return true;
}

void SingleInstance::listen()
{
    // Only the holder of the lock removes a socket file that a crashed instance left behind.
    QLocalServer::removeServer(mKey);
    mServer.setSocketOptions(QLocalServer::UserAccessOption);
    if (!mServer.listen(mKey)) {
        return; // the program still runs alone; only the bringing to the front is lost
    }
    connect(&mServer, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = mServer.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
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
