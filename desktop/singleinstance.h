#pragma once

#include "posix/descriptor.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <list>
#include <memory>
#include <optional>
#include <sys/stat.h>

class QSocketNotifier;
class QAbstractNativeEventFilter;

namespace desktop {

// What a start finds when it asks for the history file.
enum class PreviousInstance {
    None,        // no other program holds it: the lock is this program's now (or cannot be had)
    Activated,   // a running copy of this user holds it and was asked to come to the front
    Unreachable, // a running copy of this user holds it but cannot be asked
    InUse,       // another user's program, one that may write the history, holds it
};

// Why a start runs without a lock that keeps a second start away from its history.
struct LockProblem {
    // NotAPlainFile: the lock file is a folder, a link or a file with other names as well.
    // LocalOnly: the file system keeps locks to one mount (FUSE), not across its other mounts.
    enum class Kind { System, NotAPlainFile, LocalOnly };
    Kind kind = Kind::System;
    int code = 0; // System: the system's error number
};

// One running program per history file, whatever the executable's name, link or folder: a POSIX
// write lock on a lock file beside the file that the history's links lead to. The system drops
// the lock when its holder ends in any way, so no file left behind can block a start. A write
// lock needs a descriptor open for writing, and the lock file is made as writable as the
// history, so only someone who may write the history can hold it.
//
// On Windows the lock is a byte-range lock, which network shares keep too, and the running copy
// is asked to come to the front by a message posted to its window, which the second start first
// allows to take the focus.
//
// The running copy is asked to come to the front through a socket in a folder that only the
// user can write to, with the activation token that lets a window take the focus on Wayland. A
// plain Unix socket, not QLocalServer: Qt Network would cost every start its loading, and the
// socket only carries a knock on the door.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    // historyFile: the file the history is written to, links followed, as the file system names
    // it.
    explicit SingleInstance(QByteArray historyFile, QObject* parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // The previous-instance flag, and who holds the history. The first call that finds no
    // holder takes the lock; a lock file that no one holds and this user cannot open (a sudo
    // run's) is replaced. When the lock cannot be had at all, the program runs unguarded and
    // problem() says why. Needs no event loop: it can run before the toolkit starts.
    PreviousInstance previousInstance();
    [[nodiscard]] std::optional<LockProblem> problem() const;
    // Once the lock is held and the event loop exists: opens the socket through which another
    // start asks for the window. A start meanwhile waits a moment for it.
    void listen();
    // Gives up the lock and the socket: from now on a new start finds no running copy.
    void release();

    // The lock file of a history file.
    static QByteArray lockFile(const QByteArray& historyFile);

signals:
    // Another start asked for the window, with the activation token that the desktop gave it
    // (empty without one); a burst of knocks asks once, with the last token.
    void activationRequested(const QByteArray& token);

private:
    QByteArray mHistoryFile;
    posix::Descriptor mLock;
    std::optional<LockProblem> mProblem;
#ifdef _WIN32
    std::unique_ptr<QAbstractNativeEventFilter> mKnocks;
};
#else
    struct Found;
    // The lock file, opened for writing, made if missing; or who holds it, when this user
    // cannot write it.
    static Found openLockFile(int folder, const char* name, const struct stat* history);
    // The lock on the lock file found open; or who holds it.
    static Found tryLock(int folder, const char* name, Found opened);
    // Asks the running copy to come to the front: the answer of previousInstance().
    [[nodiscard]] PreviousInstance askHolderForward(pid_t holder) const;
    PreviousInstance unguarded(LockProblem problem, const QByteArray& path);

    // A start that knocked: what it has sent so far, read as it comes.
    struct Peer;
    void knock();
    // Reads what the start sent; at its end, a token is kept. False once the peer is done.
    bool readFrom(Peer& peer);

    QByteArray mSocketPath;
    posix::Descriptor mListener;
    QSocketNotifier* mNotifier = nullptr;
    QTimer mRaise;
    QElapsedTimer mFirstKnock;
    QByteArray mToken;
    // Heard until the window is asked for: a start that says nothing holds up nothing.
    std::list<Peer> mPeers;
};
#endif

#ifndef _WIN32
// The folder for the socket: $XDG_RUNTIME_DIR, else /tmp/qelvo-UID, made if missing; only one
// that the user owns and no one else can write to, else nothing. Public for the tests.
QByteArray privateRuntimeFolder();
#endif

} // namespace desktop
