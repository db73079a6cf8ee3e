#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

namespace desktop {

// One running copy per history folder, whatever the executable's name, link or temp folder: a
// lock on the folder itself, which the system drops when its holder ends in any way, so no file
// left behind can block a start. The running copy is asked to come to the front through a
// socket in a folder only the user can write to.
//
// A plain Unix socket, not QLocalServer: Qt Network would cost every start its loading, and the
// socket only carries a knock on the door.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    // folder: the history's folder, as the file system names it.
    explicit SingleInstance(QByteArray folder, QObject* parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // The previous-instance flag: true only when a running copy of this user holds the folder's
    // lock, which is then asked to bring its window to the front. Otherwise the first call takes
    // the lock; when the folder cannot be locked, or another user's program holds the lock, the
    // program runs unguarded, with a warning.
    bool isPreviousInstanceRunning();

signals:
    void activationRequested();

private:
    void listen();

    QByteArray mFolder;
    int mLock = -1;
    QByteArray mSocketPath;
    int mListener = -1;
    QSocketNotifier* mNotifier = nullptr;
};

// The folder for the socket: $XDG_RUNTIME_DIR, else /tmp/qelvo-UID, made if missing; only one
// that the user owns and no one else can write to, else nothing. Public for the tests.
QByteArray privateRuntimeFolder();

} // namespace desktop
