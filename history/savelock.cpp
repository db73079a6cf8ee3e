#include "history/savelock.h"

#include "posix/clock.h"
#include "posix/files.h"
#include "posix/process.h"
#include "posix/systemcalls.h"

#include <QHash>
#include <QList>
#include <QRandomGenerator>
#include <algorithm>
#include <array>
#include <fcntl.h>
#include <utility>

namespace filestore {

namespace {

using posix::calls;
using Clock = std::chrono::steady_clock;

constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any new file
// Names tried when the ones before are taken by something that is no lock.
constexpr int kLockNames = 4;
// A lock is one short line; more is no lock of ours.
constexpr qsizetype kLongestLock = 200;
// The longest ends of names beside the file: "-3" after the lock's; a writer's name (its
// process's, at most 57 bytes, and its number) and the '~' of a lock moved aside after the
// writers' beginning.
constexpr qsizetype kLockEnd = 2;
constexpr qsizetype kWriterEnd = 72;
constexpr QByteArrayView kLockTail = ".saving";
constexpr QByteArrayView kWritersTail = ".saving.";
// Things seen are forgotten beyond this many: a folder full of them costs no more memory.
constexpr qsizetype kMostSightings = 1024;

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

// How long this process has seen the thing unchanged: what it is, its bytes and its dates.
Clock::duration unchangedFor(const QByteArray& thing)
{
    static QHash<QByteArray, Clock::time_point> firstSeen;
    if (firstSeen.size() >= kMostSightings && !firstSeen.contains(thing)) {
        firstSeen.clear();
    }
    const Clock::time_point now = posix::steadyNow();
    auto seen = firstSeen.constFind(thing);
    if (seen == firstSeen.constEnd()) {
        seen = firstSeen.insert(thing, now);
    }
    return now - *seen;
}

// What tells one file from another under a name: its size and dates (not its inode number, which
// sshfs may give anew).
QByteArray signature(const struct stat& file)
{
    return QByteArray::number(file.st_size) + ' ' + QByteArray::number(file.st_mtim.tv_sec) + '.' +
           QByteArray::number(file.st_mtim.tv_nsec) + ' ' +
           QByteArray::number(file.st_ctim.tv_sec) + '.' + QByteArray::number(file.st_ctim.tv_nsec);
}

// The first bytes of the file open as fd, a lock's line and a little more; none when it cannot
// be read.
std::optional<QByteArray> lockBytes(int fd)
{
    std::array<char, static_cast<std::size_t>(kLongestLock) + 1> text{};
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

// The writer that a whole lock's line names.
std::optional<QByteArray> writerOf(const QByteArray& bytes)
{
    const QList<QByteArray> fields = bytes.endsWith('\n') && bytes.size() <= kLongestLock
                                         ? bytes.chopped(1).split(' ')
                                         : QList<QByteArray>();
    bool number = false;
    fields.value(1).toLongLong(&number);
    if (fields.size() != 2 || !number || !processOf(fields[0])) {
        return std::nullopt;
    }
    return fields[0];
}

// Whether the bytes can be the beginning of a lock's line, as its writer has only begun it: a
// writer's name, then a blank and the seconds.
bool unwritten(QByteArrayView bytes)
{
    const qsizetype blank = bytes.indexOf(' ');
    if (blank == 0) {
        return false;
    }
    const QByteArrayView writer = blank < 0 ? bytes : bytes.first(blank);
    const QByteArrayView seconds = blank < 0 ? QByteArrayView() : bytes.sliced(blank + 1);
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    return bytes.size() <= kLongestLock &&
           std::all_of(writer.begin(), writer.end(),
                       [&](char c) {
                           return isDigit(c) || (c >= 'a' && c <= 'f') || c == '-' || c == '.';
                       }) &&
           std::all_of(seconds.begin(), seconds.end(), isDigit);
}

// What a look at the lock's name found.
enum class Found { Gone, Waiting, LeftBehind, NotALock };
struct Look {
    Found found = Found::Gone;
    QByteArray bytes; // what the lock holds
};

Found judge(const QByteArray& bytes, const QByteArray& seen)
{
    if (const std::optional<QByteArray> writer = writerOf(bytes)) {
        const posix::ProcessIdentity process = *processOf(*writer);
        // This process saves one file at a time: a lock of its own is one it could not remove.
        if (process == posix::ProcessIdentity::self() || process.life() == posix::Life::Ended) {
            return Found::LeftBehind;
        }
        return unchangedFor(seen) >= SaveLock::kLeftBehindAfter ? Found::LeftBehind
                                                                : Found::Waiting;
    }
    if (!unwritten(bytes)) {
        return Found::NotALock;
    }
    return unchangedFor(seen) >= SaveLock::kUnwrittenGrace ? Found::LeftBehind : Found::Waiting;
}

Look look(int folder, const QByteArray& lock)
{
    const posix::Descriptor file =
        posix::openAt(folder, lock.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (!file.isOpen()) {
        return {errno == ENOENT ? Found::Gone : Found::NotALock, {}};
    }
    struct stat status {};
    std::optional<QByteArray> bytes;
    if (calls().fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        !(bytes = lockBytes(file.get()))) {
        return {Found::NotALock, {}};
    }
    return {judge(*bytes, lock + '\n' + *bytes + '\n' + signature(status)), *bytes};
}

// The bytes of the lock at the name; empty when there is none or it cannot be read.
QByteArray lockAt(int folder, const QByteArray& lock)
{
    const posix::Descriptor file =
        posix::openAt(folder, lock.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    return file.isOpen() ? lockBytes(file.get()).value_or(QByteArray()) : QByteArray();
}

bool standsAt(int folder, const QByteArray& name)
{
    struct stat status {};
    return calls().fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

// Stops the writer that the lock's bytes name, if any: its new file's name is taken away. None
// when it is gone now, or was already; why not, when it stays.
std::optional<posix::Error> fence(int folder, const QByteArray& writers, const QByteArray& bytes)
{
    const std::optional<QByteArray> writer = writerOf(bytes);
    if (writer && calls().unlinkat(folder, (writers + *writer).constData(), 0) != 0 &&
        errno != ENOENT) {
        return posix::systemError();
    }
    return std::nullopt;
}

// Takes a lock left behind out of the way, its writer stopped first (see the fence). Why not,
// when it cannot be: ENOENT, gone meanwhile; EPERM, it cannot be moved.
std::optional<posix::Error> takeAway(int folder, const QByteArray& writers, const QByteArray& lock,
                                     const QByteArray& seen)
{
    if (std::optional<posix::Error> error = fence(folder, writers, seen)) {
        return error;
    }
    const QByteArray aside = writers + newWriter() + '~';
    if (calls().renameat(folder, lock.constData(), folder, aside.constData()) != 0) {
        return posix::systemError();
    }
    // A lock made between the look and the move is of a writer that has just begun: stopped too.
    const QByteArray moved = lockAt(folder, aside);
    std::optional<posix::Error> error =
        moved == seen ? std::nullopt : fence(folder, writers, moved);
    // One that cannot be removed is a file of this process's, removed once it has ended.
    calls().unlinkat(folder, aside.constData(), 0);
    return error;
}

// Removes the writers' new files left behind (see the rule at the class), but the one of the save
// under way (current): those of writers that have ended, this process's own among them, at once.
void removeLeftovers(int folder, const QByteArray& writers, const QByteArray& current)
{
    for (const QByteArray& entry : posix::listFolder(folder)) {
        struct stat file {};
        if (!entry.startsWith(writers) || entry == current ||
            calls().fstatat(folder, entry.constData(), &file, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(file.st_mode)) {
            continue;
        }
        const std::optional<posix::ProcessIdentity> writer =
            processOf(QByteArrayView(entry).sliced(writers.size()));
        // A name without a writer is of an earlier version's, if it is this user's file.
        const bool ended = writer && (*writer == posix::ProcessIdentity::self() ||
                                      writer->life() == posix::Life::Ended);
        if (ended || ((writer || file.st_uid == calls().geteuid()) &&
                      unchangedFor(entry + '\n' + signature(file)) >= SaveLock::kLeftBehindAfter)) {
            calls().unlinkat(folder, entry.constData(), 0);
        }
    }
}

} // namespace

SaveLock::SaveLock(int folder, const QByteArray& name)
    : mFolder(folder)
    , mName(name)
    , mLocks(posix::besideName(folder, name, kLockTail, kLockTail.size() + kLockEnd))
    , mWriters(posix::besideName(folder, name, kWritersTail, kWritersTail.size() + kWriterEnd))
    , mWriter(newWriter())
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
        calls().unlinkat(mFolder, (mWriters + mWriter).constData(), 0);
    }
}

std::variant<SaveLock, posix::Error> SaveLock::take(int folder, const QByteArray& name)
{
    SaveLock taken(folder, name);
    // The new file first: no lock names a writer whose new file is still to come.
    taken.mFile = posix::openAt(folder, (taken.mWriters + taken.mWriter).constData(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
    if (!taken.mFile.isOpen()) {
        return posix::systemError();
    }
    std::optional<posix::Error> error;
    int slot = 0;
    // A round goes on at once after a change, so many times at most: nothing planted can make
    // the rounds spin.
    const auto round = [&] {
        for (int quick = 0; quick <= kLockNames; ++quick) {
            const Step step = taken.attempt(slot, error);
            if (step != Step::Now) {
                return step == Step::Done;
            }
        }
        return false;
    };
    if (!posix::waitFor(kWait, kRetry, round)) {
        error = posix::Error{posix::Error::Kind::Busy, EBUSY, taken.mLock};
    }
    if (error) {
        return *error;
    }
    removeLeftovers(folder, taken.mWriters, taken.mWriters + taken.mWriter);
    return taken;
}

SaveLock::Step SaveLock::attempt(int& slot, std::optional<posix::Error>& error)
{
    if (slot == kLockNames) {
        error = posix::Error{posix::Error::Kind::LockNamesTaken, {}, mLocks};
        return Step::Done;
    }
    mLock = slot == 0 ? mLocks : mLocks + '-' + QByteArray::number(slot);
    const posix::Descriptor made =
        posix::openAt(mFolder, mLock.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
    if (made.isOpen()) {
        error = markHeld(made.get());
        return Step::Done;
    }
    // sshfs tells a name that another mount made a moment ago as EPERM, SFTP having no word
    // for "exists": a name that stands there now is taken, whatever the error said.
    if (const int refused = errno; refused != EEXIST && !standsAt(mFolder, mLock)) {
        error = posix::systemError(refused);
        return Step::Done;
    }
    const Look found = look(mFolder, mLock);
    switch (found.found) {
    case Found::Gone:
        return Step::Now;
    case Found::Waiting:
        return Step::Later;
    case Found::NotALock:
        ++slot;
        return Step::Now;
    case Found::LeftBehind:
        break;
    }
    const std::optional<posix::Error> refused = takeAway(mFolder, mWriters, mLock, found.bytes);
    // Gone meanwhile: looked at again.
    if (!refused || refused->code == ENOENT) {
        return Step::Now;
    }
    // One that cannot be moved (another's, in a sticky or append-only folder) is passed over.
    if (refused->code == EPERM) {
        ++slot;
        return Step::Now;
    }
    error = refused;
    return Step::Done;
}

std::optional<posix::Error> SaveLock::markHeld(int lock)
{
    // As readable as the file: whoever may write it sees whose the lock is, and waits.
    struct stat file {};
    std::optional<posix::Error> error;
    if (calls().fstatat(mFolder, mName.constData(), &file, 0) == 0) {
        error = posix::madeLike(lock, file);
    }
    // The lock counts once it says whose it is, on the storage.
    const QByteArray line = mWriter + ' ' + QByteArray::number(posix::wallSeconds()) + '\n';
    if (!error) {
        error = posix::writeAll(lock, line);
    }
    if (!error && calls().fdatasync(lock) != 0) {
        error = posix::systemError();
    }
    if (error) {
        calls().unlinkat(mFolder, mLock.constData(), 0);
    }
    return error;
}

void SaveLock::tidy(int folder, const QByteArray& name)
{
    const SaveLock looking(folder, name);
    for (int slot = 0; slot < kLockNames; ++slot) {
        const QByteArray lock =
            slot == 0 ? looking.mLocks : looking.mLocks + '-' + QByteArray::number(slot);
        const Look found = look(folder, lock);
        if (found.found == Found::LeftBehind) {
            takeAway(folder, looking.mWriters, lock, found.bytes);
        }
    }
    removeLeftovers(folder, looking.mWriters, {});
}

bool SaveLock::held() const
{
    return lockAt(mFolder, mLock).startsWith(mWriter + ' ');
}

std::optional<posix::Error> SaveLock::commit()
{
    if (calls().renameat(mFolder, (mWriters + mWriter).constData(), mFolder, mName.constData()) !=
        0) {
        // Its new file taken away: another writer took the lock over, and may have saved.
        return errno == ENOENT ? posix::Error{posix::Error::Kind::TakenOver, ENOENT}
                               : posix::systemError();
    }
    mCommitted = true;
    const std::optional<posix::Error> unflushed = posix::flushFolder(mFolder);
    // A lock that cannot be removed names this process: its next save takes it back at once,
    // and other writers once it has ended.
    if (held()) {
        calls().unlinkat(mFolder, mLock.constData(), 0);
    }
    if (unflushed) {
        return posix::Error{posix::Error::Kind::Unflushed, unflushed->code};
    }
    return std::nullopt;
}

} // namespace filestore
