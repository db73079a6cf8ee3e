#include "history/savelock.h"

#include "posix/clock.h"
#include "posix/files.h"
#include "posix/locks.h"
#include "posix/process.h"
#include "posix/systemcalls.h"

#include <QList>
#include <QRandomGenerator>
#include <array>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <utility>

namespace filestore {

namespace {

using posix::calls;

constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any new file
// Names tried when the ones before are taken by something that is no lock.
constexpr int kLockNames = 4;
// A lock is one short line; more is no lock of ours.
constexpr std::size_t kLongestLock = 200;

SaveLock::Pause& pause()
{
    static SaveLock::Pause pause = posix::sleepFor;
    return pause;
}

QByteArray lockName(const QByteArray& name, int slot)
{
    const QByteArray lock = '.' + name + ".saving";
    return slot == 0 ? lock : lock + '-' + QByteArray::number(slot);
}

// The beginning of every writer's own names beside the file.
QByteArray writersPrefix(const QByteArray& name)
{
    return '.' + name + ".saving.";
}

// This writer, for one save: its process and a number of its own, "<identity>.<hex>".
QByteArray newWriter()
{
    return posix::ProcessIdentity::self().text() + '.' +
           QByteArray::number(QRandomGenerator::global()->generate(), 16);
}

// The process of a writer's name, also of an earlier version's writer, which had no number.
std::optional<posix::ProcessIdentity> processOf(QByteArrayView writer)
{
    const qsizetype dot = writer.indexOf('.');
    return posix::ProcessIdentity::parsed(dot < 0 ? writer : writer.first(dot));
}

// What a look at the lock's name found.
enum class Found { Gone, Held, LeftBehind, Unwritten, NotALock };
struct Look {
    Found found = Found::Gone;
    QByteArray bytes; // what the lock holds
};

// The first bytes of the file open as fd, a lock's line and a little more.
std::optional<QByteArray> lockBytes(int fd)
{
    std::array<char, kLongestLock + 1> text{};
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t read = calls().read(fd, text.data() + got, text.size() - got);
        if (read < 0 && errno == EINTR) {
            continue;
        }
        if (read < 0) {
            return std::nullopt;
        }
        if (read == 0) {
            break;
        }
        got += static_cast<std::size_t>(read);
    }
    return QByteArray(text.data(), static_cast<qsizetype>(got));
}

Found judge(const QByteArray& bytes)
{
    if (!bytes.endsWith('\n')) {
        return bytes.size() > static_cast<qsizetype>(kLongestLock) ? Found::NotALock
                                                                   : Found::Unwritten;
    }
    const QList<QByteArray> fields = bytes.chopped(1).split(' ');
    bool number = false;
    const qint64 seconds = fields.value(1).toLongLong(&number);
    const std::optional<posix::ProcessIdentity> writer = processOf(fields.value(0));
    if (fields.size() != 2 || !number || !writer) {
        return Found::NotALock;
    }
    // This process saves one file at a time: a lock of its own is one it could not remove.
    if (*writer == posix::ProcessIdentity::self()) {
        return Found::LeftBehind;
    }
    switch (writer->life()) {
    case posix::Life::Ended:
        return Found::LeftBehind;
    case posix::Life::Lives:
        return Found::Held;
    case posix::Life::Unknown:
        break;
    }
    const qint64 away = std::abs(posix::wallSeconds() - seconds);
    return away > SaveLock::kForeignLockAge.count() ? Found::LeftBehind : Found::Held;
}

Look look(int folder, const QByteArray& lock)
{
    const posix::Descriptor file =
        posix::openAt(folder, lock.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat status {};
    if (!file.isOpen()) {
        if (errno == ENOENT) {
            return {};
        }
        // A lock that this user may not read (another member's, made under a umask of 077) is
        // judged as one not written: it counts while it changes, or for a moment.
        if (errno == EACCES &&
            calls().fstatat(folder, lock.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode)) {
            return {Found::Unwritten, QByteArray::number(status.st_size) + ' ' +
                                          QByteArray::number(status.st_mtim.tv_sec) + '.' +
                                          QByteArray::number(status.st_mtim.tv_nsec)};
        }
        return {Found::NotALock, {}};
    }
    std::optional<QByteArray> bytes;
    if (calls().fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        !(bytes = lockBytes(file.get()))) {
        return {Found::NotALock, {}};
    }
    return {judge(*bytes), *bytes};
}

bool standsAt(int folder, const QByteArray& name)
{
    struct stat status {};
    return calls().fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

// Takes a lock left behind out of the way: moved to a name of this writer's, checked to be the
// lock that was looked at, removed. Nothing, or why the place cannot be had (EAGAIN: look again).
std::optional<posix::Error> takeAway(int folder, const QByteArray& name, const QByteArray& lock,
                                     const QByteArray& seen)
{
    const QByteArray aside = writersPrefix(name) + newWriter() + '~';
    const posix::MovedAside moved =
        posix::moveStaleAside(folder, lock.constData(), aside.constData(), false,
                              [&] { return look(folder, aside).bytes == seen; });
    // One that cannot be removed is a file of this writer's, removed once it has ended.
    if (moved.at == posix::MovedAside::At::Stale) {
        calls().unlinkat(folder, aside.constData(), 0);
    }
    return moved.error;
}

// Removes the new files and the set-aside locks of writers that have ended, this process's own
// but the one of the save under way (current), and what earlier versions of the program left:
// never a file of another writer that may live.
void removeLeftovers(int folder, const QByteArray& name, const QByteArray& current)
{
    const QByteArray prefix = writersPrefix(name);
    for (const QByteArray& entry : posix::listFolder(folder)) {
        struct stat file {};
        if (!entry.startsWith(prefix) || entry == current ||
            calls().fstatat(folder, entry.constData(), &file, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(file.st_mode)) {
            continue;
        }
        const std::optional<posix::ProcessIdentity> writer =
            processOf(QByteArrayView(entry).sliced(prefix.size()));
        // A file of this process's own is one that an earlier save of its could not remove.
        const posix::Life life = !writer || *writer == posix::ProcessIdentity::self()
                                     ? posix::Life::Ended
                                     : writer->life();
        bool gone = false;
        switch (life) {
        case posix::Life::Ended:
            // A name without a writer: a file of an earlier version's, if it is this user's.
            gone = writer || file.st_uid == calls().geteuid();
            break;
        case posix::Life::Unknown:
            gone = std::abs(posix::wallSeconds() - file.st_mtim.tv_sec) >
                   SaveLock::kForeignLockAge.count();
            break;
        case posix::Life::Lives:
            break;
        }
        if (gone) {
            calls().unlinkat(folder, entry.constData(), 0);
        }
    }
}

} // namespace

void SaveLock::setPause(Pause pause)
{
    filestore::pause() = pause ? std::move(pause) : posix::sleepFor;
}

SaveLock::SaveLock(int folder, QByteArray name, QByteArray lock, QByteArray writer)
    : mFolder(folder)
    , mName(std::move(name))
    , mLock(std::move(lock))
    , mWriter(std::move(writer))
{
}

SaveLock::~SaveLock()
{
    if (mCommitted || mWriter.isEmpty()) {
        return;
    }
    // Only what is still this writer's goes.
    if (held()) {
        calls().unlinkat(mFolder, mLock.constData(), 0);
    }
    if (mFile.isOpen()) {
        // Closed first: sshfs keeps a file removed while open under a hidden name of its own.
        mFile.reset();
        calls().unlinkat(mFolder, (writersPrefix(mName) + mWriter).constData(), 0);
    }
}

std::variant<SaveLock, posix::Error> SaveLock::take(int folder, const QByteArray& name)
{
    const auto deadline = posix::steadyNow() + kWait;
    // A lock not written yet, as first seen: what it held and when.
    std::optional<std::pair<QByteArray, std::chrono::steady_clock::time_point>> unwritten;
    // The next round may start without a pause: the first one, and one right after a change,
    // but never two in a row, so that nothing planted can make the rounds spin.
    bool quick = true;
    for (int slot = 0; slot < kLockNames;) {
        if (posix::steadyNow() > deadline) {
            return posix::systemError(EBUSY);
        }
        if (!quick) {
            pause()(kRetry);
        }
        const bool wasQuick = std::exchange(quick, false);
        const QByteArray lock = lockName(name, slot);
        SaveLock taken(folder, name, lock, newWriter());
        const posix::Descriptor made =
            posix::openAt(folder, lock.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
        if (made.isOpen()) {
            // The lock counts once it says whose it is, on the storage.
            const QByteArray line =
                taken.mWriter + ' ' + QByteArray::number(posix::wallSeconds()) + '\n';
            std::optional<posix::Error> error = posix::writeAll(made.get(), line);
            if (!error && calls().fdatasync(made.get()) != 0) {
                error = posix::systemError();
            }
            if (error) {
                taken.mWriter.clear();
                calls().unlinkat(folder, lock.constData(), 0);
                return *error;
            }
            const QByteArray newFile = writersPrefix(name) + taken.mWriter;
            taken.mFile =
                posix::openAt(folder, newFile.constData(),
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
            if (!taken.mFile.isOpen()) {
                return posix::systemError();
            }
            removeLeftovers(folder, name, newFile);
            return taken;
        }
        taken.mWriter.clear();
        // sshfs tells a name that another mount made a moment ago as EPERM, SFTP having no word
        // for "exists": a name that stands there now is taken, whatever the error said.
        if (const int refused = errno; refused != EEXIST && !standsAt(folder, lock)) {
            return posix::systemError(refused);
        }
        const Look found = look(folder, lock);
        switch (found.found) {
        case Found::Gone:
        case Found::Held:
            break;
        case Found::Unwritten:
            if (!unwritten || unwritten->first != found.bytes) {
                unwritten = {found.bytes, posix::steadyNow()};
                break;
            }
            if (posix::steadyNow() - unwritten->second < kUnwrittenGrace) {
                break;
            }
            [[fallthrough]];
        case Found::LeftBehind:
            if (const std::optional<posix::Error> error = takeAway(folder, name, lock, found.bytes);
                !error) {
                quick = !wasQuick;
            } else if (error->code == EPERM || error->code == EACCES) {
                ++slot; // a lock that cannot be moved (a sticky or append-only folder)
                unwritten.reset();
            } else if (error->code != EAGAIN && error->code != ENOENT) {
                return *error;
            }
            break;
        case Found::NotALock:
            ++slot;
            unwritten.reset();
            quick = true;
            break;
        }
    }
    return posix::Error{posix::Error::Kind::LockNamesTaken, 0};
}

bool SaveLock::held() const
{
    const posix::Descriptor lock =
        posix::openAt(mFolder, mLock.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const std::optional<QByteArray> bytes =
        lock.isOpen() ? lockBytes(lock.get()) : std::optional<QByteArray>();
    return bytes && bytes->startsWith(mWriter + ' ');
}

std::optional<posix::Error> SaveLock::commit()
{
    if (calls().renameat(mFolder, (writersPrefix(mName) + mWriter).constData(), mFolder,
                         mName.constData()) != 0) {
        return posix::systemError();
    }
    mCommitted = true;
    const std::optional<posix::Error> unflushed = posix::flushFolder(mFolder);
    // A lock that cannot be removed names this process: its next save takes it back at once,
    // and other writers once it has ended.
    calls().unlinkat(mFolder, mLock.constData(), 0);
    if (unflushed) {
        return posix::Error{posix::Error::Kind::Unflushed, unflushed->code};
    }
    return std::nullopt;
}

} // namespace filestore
