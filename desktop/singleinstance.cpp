#include "desktop/singleinstance.h"

#include "desktop/logging.h"
#include "posix/clock.h"
#include "posix/files.h"
#include "posix/locks.h"
#include "posix/process.h"
#include "posix/systemcalls.h"

#include <QSocketNotifier>
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/un.h>

namespace desktop {

namespace {

using posix::calls;

constexpr int kBacklog = 4;
constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any new file
// The file systems of FUSE keep a lock to the mount it was taken through.
constexpr __fsword_t kFuseMagic = 0x65735546;
// A flood of knocks must leave the event loop time for the window.
constexpr int kMostKnocksAtOnce = 64;
// Knocks this close together are one request, answered at the latest this long after the first.
constexpr int kKnockQuietMs = 250;
constexpr int kKnockLongestMs = 1000;
// A copy that has just taken the lock opens its socket once its toolkit has started.
constexpr std::chrono::seconds kKnockTime{1};
constexpr std::chrono::milliseconds kKnockRetry{20};
// An activation token is a short text; a start that knocks sends it at once.
constexpr qsizetype kLongestToken = 255;
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
    return path.startsWith('/') &&
           calls().fstatat(AT_FDCWD, path.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(status.st_mode) && status.st_uid == calls().getuid() &&
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
    const posix::Descriptor socket(
        calls().socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.isOpen()) {
        return false;
    }
    const bool answered = calls().connect(socket.get(), reinterpret_cast<const sockaddr*>(&address),
                                          sizeof(address)) == 0 ||
                          errno == EAGAIN;
    if (answered && isToken(token)) {
        // The connection is the request, and the token all it says: what the running copy does
        // not read changes nothing. It may close at once: a send must not end this process
        // with SIGPIPE.
        calls().send(socket.get(), token.constData(), static_cast<std::size_t>(token.size()),
                     MSG_NOSIGNAL);
    }
    return answered;
}

} // namespace

// What a look at the lock file found: the file open, who holds it, or why no lock can be had.
// Nothing of these: the file changed under this start's eyes; look again.
struct SingleInstance::Found {
    posix::Descriptor fd;
    struct stat file {}; // with fd or holder
    std::optional<pid_t> holder;
    std::optional<LockProblem> problem;

    static Found failed(int code)
    {
        Found found;
        // A folder or a link in the lock file's place; ENOENT, EAGAIN: removed or replaced
        // meanwhile.
        if (code == EISDIR || code == ELOOP) {
            found.problem = LockProblem{LockProblem::Kind::NotAPlainFile, 0};
        } else if (code != ENOENT && code != EAGAIN) {
            found.problem = LockProblem{LockProblem::Kind::System, code};
        }
        return found;
    }
};

QByteArray privateRuntimeFolder()
{
    QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (isPrivateFolder(runtime)) {
        return runtime;
    }
    // Made if missing; whatever stands there is used only if it is private.
    const QByteArray own = "/tmp/qelvo-" + QByteArray::number(calls().getuid());
    calls().mkdir(own.constData(), kPrivateFolderMode);
    return isPrivateFolder(own) ? own : QByteArray();
}

struct SingleInstance::Peer {
    posix::Descriptor fd;
    QByteArray text;
    std::unique_ptr<QSocketNotifier> notifier;
};

SingleInstance::SingleInstance(QByteArray historyFile, QObject* parent)
    : QObject(parent)
    , mHistoryFile(std::move(historyFile))
{
    mRaise.setSingleShot(true);
    connect(&mRaise, &QTimer::timeout, this, [this] {
        // A start still silent by now is heard without its token.
        mPeers.clear();
        emit activationRequested(std::exchange(mToken, {}));
    });
}

SingleInstance::~SingleInstance()
{
    release();
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

SingleInstance::Found SingleInstance::openLockFile(int folder, const char* name,
                                                   const struct stat* history)
{
    Found found;
    found.fd = posix::openAt(folder, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                             kNewFileMode);
    if (found.fd.isOpen() && history != nullptr) {
        if (const std::optional<posix::Error> error = posix::madeLike(found.fd.get(), *history)) {
            calls().unlinkat(folder, name, 0);
            return Found::failed(error->code);
        }
    } else if (!found.fd.isOpen() && errno == EEXIST) {
        found.fd = posix::openAt(folder, name, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (!found.fd.isOpen() && errno == EACCES) {
            // A lock file this user cannot write: one that another user's program holds, or one
            // that a run of another user (sudo) left and no one holds, which is replaced. One
            // that it cannot even read (a sudo run's under a umask of 077) is found by its inode
            // in the kernel's table of locks.
            const posix::Descriptor other =
                posix::openAt(folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (other.isOpen() ? calls().fstat(other.get(), &found.file) != 0
                               : errno != EACCES || calls().fstatat(folder, name, &found.file,
                                                                    AT_SYMLINK_NOFOLLOW) != 0) {
                return Found::failed(errno);
            }
            const posix::LockHolder holder = other.isOpen() ? posix::lockHolder(other.get())
                                                            : posix::tableLockHolder(found.file);
            if (holder.error) {
                return Found::failed(holder.error->code);
            }
            if (holder.pid) {
                found.holder = holder.pid;
                return found;
            }
            posix::Replaced replaced = posix::replaceStale(folder, name, found.file, history);
            if (replaced.error) {
                return Found::failed(replaced.error->code);
            }
            found.fd = std::move(replaced.fd);
        }
    }
    if (!found.fd.isOpen() || calls().fstat(found.fd.get(), &found.file) != 0) {
        return Found::failed(errno);
    }
    if (!S_ISREG(found.file.st_mode) || found.file.st_nlink != 1) {
        found.fd.reset();
        found.problem = LockProblem{LockProblem::Kind::NotAPlainFile, 0};
    }
    return found;
}

SingleInstance::Found SingleInstance::tryLock(int folder, const char* name, Found opened)
{
    const std::optional<posix::Error> error = posix::lockWhole(opened.fd.get());
    if (!error) {
        // Locked, but the name may have been given to another file meanwhile.
        return posix::stillNamed(folder, name, opened.fd.get()) ? std::move(opened) : Found{};
    }
    if (error->code != EACCES && error->code != EAGAIN) {
        return Found::failed(error->code);
    }
    const posix::LockHolder holder = posix::lockHolder(opened.fd.get());
    if (holder.error) {
        return Found::failed(holder.error->code);
    }
    opened.fd.reset();
    opened.holder = holder.pid; // none: the holder ended meanwhile
    return holder.pid ? std::move(opened) : Found{};
}

PreviousInstance SingleInstance::askHolderForward(pid_t holder) const
{
    const QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
    if (!posix::isThisUsers(holder)) {
        return knockOn(mSocketPath, token) ? PreviousInstance::Activated : PreviousInstance::InUse;
    }
    if (posix::waitFor(kKnockTime, kKnockRetry, [&] { return knockOn(mSocketPath, token); })) {
        return PreviousInstance::Activated;
    }
    return PreviousInstance::Unreachable;
}

PreviousInstance SingleInstance::previousInstance()
{
    if (mLock.isOpen()) {
        return PreviousInstance::None;
    }
    struct stat history {};
    const bool historyExists =
        calls().fstatat(AT_FDCWD, mHistoryFile.constData(), &history, 0) == 0;
    const QByteArray path = lockFile(mHistoryFile);
    const posix::PathParts parts = posix::splitPath(path);
    // Opened in its folder, the lock file is reached however long the folder's path.
    const posix::Descriptor folder = posix::openFolder(parts.folder);
    if (!folder.isOpen()) {
        return unguarded({LockProblem::Kind::System, errno}, path);
    }
    Found found;
    for (int round = 0;
         round < kLockAttempts && !found.fd.isOpen() && !found.holder && !found.problem; ++round) {
        found =
            openLockFile(folder.get(), parts.name.constData(), historyExists ? &history : nullptr);
        if (found.fd.isOpen()) {
            found = tryLock(folder.get(), parts.name.constData(), std::move(found));
        }
    }
    if (found.problem || (!found.fd.isOpen() && !found.holder)) {
        return unguarded(found.problem.value_or(LockProblem{LockProblem::Kind::System, EAGAIN}),
                         path);
    }
    mSocketPath = socketPath(found.file);
    if (found.holder) {
        return askHolderForward(*found.holder);
    }
    mLock = std::move(found.fd);
    struct statfs system {};
    if (calls().fstatfs(mLock.get(), &system) == 0 && system.f_type == kFuseMagic) {
        mProblem = LockProblem{LockProblem::Kind::LocalOnly, 0};
    }
    return PreviousInstance::None;
}

void SingleInstance::release()
{
    mPeers.clear();
    if (mListener.isOpen()) {
        delete mNotifier;
        mNotifier = nullptr;
        mListener.reset();
        // Gone with the lock: a socket left behind is replaced by the next holder.
        calls().unlinkat(AT_FDCWD, mSocketPath.constData(), 0);
    }
    mLock.reset();
    mRaise.stop();
}

void SingleInstance::listen()
{
    if (!mLock.isOpen() || mListener.isOpen()) {
        return;
    }
    sockaddr_un address{};
    if (!socketAddress(mSocketPath, address)) {
        qCWarning(lcDesktop, "qelvo: no private folder for the socket; a second start cannot "
                             "bring this window to the front");
        return;
    }
    // Only the holder of the lock removes what a crashed copy, or anyone, left at the path; what
    // cannot be removed makes the bind fail, which is told.
    calls().unlinkat(AT_FDCWD, mSocketPath.constData(), 0);
    mListener =
        posix::Descriptor(calls().socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!mListener.isOpen() ||
        calls().bind(mListener.get(), reinterpret_cast<const sockaddr*>(&address),
                     sizeof(address)) != 0 ||
        calls().listen(mListener.get(), kBacklog) != 0) {
        warn("cannot listen on", mSocketPath, errno);
        mListener.reset();
        return;
    }
    mNotifier = new QSocketNotifier(mListener.get(), QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, [this] {
        int knocks = 0;
        for (; knocks < kMostKnocksAtOnce; ++knocks) {
            posix::Descriptor peer(
                calls().accept4(mListener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
            if (!peer.isOpen()) {
                break;
            }
            if (mPeers.size() >= kMostKnocksAtOnce) {
                continue; // heard, without a token
            }
            Peer& heard = mPeers.emplace_back();
            heard.fd = std::move(peer);
            if (!readFrom(heard)) {
                mPeers.pop_back();
                continue;
            }
            heard.notifier =
                std::make_unique<QSocketNotifier>(heard.fd.get(), QSocketNotifier::Read);
            // A peer that is done stays, quiet, until the window is asked for: the notifier may
            // not go while it tells.
            connect(heard.notifier.get(), &QSocketNotifier::activated, this, [this, &heard] {
                if (!readFrom(heard)) {
                    heard.notifier->setEnabled(false);
                    heard.fd.reset();
                }
            });
        }
        if (knocks > 0) {
            knock();
        }
    });
}

bool SingleInstance::readFrom(Peer& peer)
{
    std::array<char, kLongestToken + 1> text{};
    for (;;) {
        const ssize_t read = calls().recv(peer.fd.get(), text.data(), text.size(), MSG_DONTWAIT);
        if (read < 0 && errno == EINTR) {
            continue;
        }
        if (read < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        }
        if (read > 0 && peer.text.size() + read <= kLongestToken) {
            peer.text.append(text.data(), read);
            continue;
        }
        // The start closed its end: what it said is its token, if it is one.
        if (read == 0 && !peer.text.isEmpty() && isToken(peer.text)) {
            mToken = peer.text;
        }
        return false;
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
