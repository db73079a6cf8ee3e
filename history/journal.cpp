#include "history/journal.h"

#include "history/filestore.h"
#include "posix/files.h"
#include "posix/locks.h"
#include "posix/process.h"
#include "posix/systemcalls.h"

#include <QFile>
#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <system_error>
#include <thread>
#include <tuple>
#include <vector>

namespace history {

namespace {

using posix::calls;

constexpr QByteArrayView kHeader = "qelvo journal 1\n";
constexpr QByteArrayView kSuffix = ".journal";
constexpr char kShown = '+';
constexpr char kTakenBack = '-';
constexpr char kClearing = 'c';
constexpr char kClearFailed = '!';
constexpr char kSaving = 's';
constexpr char kSettled = '=';
// A line shown is one that the program drew: printable ASCII, never longer than a value.
constexpr qsizetype kLongestLine = 255;
constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any new file

// Runs started in this process: each journal it opens has a name of its own.
std::atomic<int> gRuns{0};

// The run that wrote a journal, from the journal's name without prefix and suffix: the process
// and, after a last '-', the process's count of runs.
std::optional<posix::ProcessIdentity> runOf(QByteArrayView name)
{
    const qsizetype dash = name.lastIndexOf('-');
    bool number = false;
    if (dash < 0) {
        return std::nullopt;
    }
    [[maybe_unused]] const int run = name.sliced(dash + 1).toInt(&number);
    return number ? posix::ProcessIdentity::parsed(name.first(dash)) : std::nullopt;
}

// Whether a live run holds its journal at name. A run holds a lock on its journal while it
// lives; a journal that cannot be asked counts as held.
bool heldByLiveRun(int folder, const char* name)
{
    const posix::Descriptor journal =
        posix::openAt(folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (!journal.isOpen()) {
        return true;
    }
    const posix::LockHolder holder = posix::lockHolder(journal.get());
    return holder.pid || holder.error;
}

bool isLine(QByteArrayView text)
{
    return text.size() <= kLongestLine &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

// Whether the lines stand in the history right after its first `after` lines: written by a save
// whose journal did not learn that it was done.
bool savedAfter(const QList<QByteArray>& lines, qint64 after, const HistoryLines& stored)
{
    if (after < 0 || after + lines.size() > stored.size()) {
        return false;
    }
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (stored.at(after + i) != lines[i]) {
            return false;
        }
    }
    return true;
}

// Takes the lock that tells other starts the journal's run lives. A file system that keeps no
// locks (NFS without its lock daemon) leaves that to the journal's name, which names the run.
std::optional<posix::Error> holdJournal(int fd)
{
    std::optional<posix::Error> error = posix::lockWhole(fd);
    return error && error->code == ENOLCK ? std::nullopt : error;
}

} // namespace

// Flushes the journal to the storage off the window's thread, soon after each record. It
// borrows the descriptors of the journal, which stops it before closing them.
class Journal::Flusher {
public:
    Flusher(int fd, int folder)
        : mThread([this, fd, folder] { run(fd, folder); })
    {
    }
    ~Flusher()
    {
        mState.fetch_or(kStop);
        mState.notify_one();
        mThread.join();
    }
    Flusher(const Flusher&) = delete;
    Flusher& operator=(const Flusher&) = delete;

    void poke()
    {
        if (mState.fetch_or(kDirty) == 0) {
            mState.notify_one();
        }
    }
    // The error of the first flush that failed, 0 for none.
    [[nodiscard]] int failure() const { return mFailure.load(); }

private:
    static constexpr int kDirty = 1; // records written since the last flush
    static constexpr int kStop = 2;

    void run(int fd, int folder)
    {
        // The journal's new name in the folder first. A folder that cannot be flushed (some file
        // systems refuse) leaves it to the system's own writing back, as a save does.
        calls().fsync(folder);
        for (int state = 0; (state & kStop) == 0;) {
            mState.wait(0);
            state = mState.fetch_and(kStop);
            if ((state & kDirty) != 0 && calls().fdatasync(fd) != 0 && mFailure.load() == 0) {
                mFailure = errno;
            }
        }
    }

    std::atomic<int> mState{0};
    std::atomic<int> mFailure{0};
    std::thread mThread;
};

Journal::Journal() = default;

Journal::~Journal() = default;

std::optional<posix::Error> Journal::open(const QString& historyPath)
{
    const posix::ResolvedPath history = posix::resolvedFile(QFile::encodeName(historyPath));
    if (history.error) {
        return history.error;
    }
    const posix::PathParts parts = posix::splitPath(history.path);
    mFolderPath = parts.folder;
    mPrefix = '.' + parts.name + '.';
    mName = mPrefix + posix::ProcessIdentity::self().text() + '-' + QByteArray::number(gRuns++) +
            kSuffix.toByteArray();
    mFolder = posix::openFolder(parts.folder);
    if (!mFolder.isOpen()) {
        return posix::systemError();
    }
    mKept = true;
    return std::nullopt;
}

bool Journal::isKept() const
{
    return mKept;
}

std::optional<posix::Error> Journal::create()
{
    if (!mKept || mFile.isOpen()) {
        return std::nullopt;
    }
    mFile = posix::openAt(mFolder.get(), mName.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC,
                          kNewFileMode);
    if (!mFile.isOpen()) {
        mKept = false;
        return posix::systemError();
    }
    // Made like the history, so that whoever may write the history may take it over. Without a
    // history yet, it is made as a new history will be, by the umask.
    struct stat history {};
    const QByteArray historyName = mPrefix.sliced(1, mPrefix.size() - 2);
    std::optional<posix::Error> error;
    if (calls().fstatat(mFolder.get(), historyName.constData(), &history, 0) == 0) {
        error = posix::madeLike(mFile.get(), history);
    }
    if (!error) {
        error = holdJournal(mFile.get());
    }
    if (!error) {
        error = posix::writeAll(mFile.get(), kHeader);
    }
    if (error) {
        return lost(*error);
    }
    startFlusher();
    return std::nullopt;
}

void Journal::startFlusher()
{
    try {
        mFlusher = std::make_unique<Flusher>(mFile.get(), mFolder.get());
    } catch (const std::system_error&) {
        // No thread: the records reach the storage as the system writes its pages back.
    }
}

QList<QByteArray> Journal::endedRuns() const
{
    // The oldest run's first: by the time of their last record, then by name.
    std::vector<std::tuple<qint64, qint64, QByteArray>> left;
    const posix::ProcessIdentity self = posix::ProcessIdentity::self();
    // A folder that cannot be listed hides the journals: they wait for a start that can list it.
    for (const QByteArray& name : posix::listFolder(mFolder.get())) {
        if (!name.startsWith(mPrefix) || !name.endsWith(kSuffix) || name == mName) {
            continue;
        }
        const std::optional<posix::ProcessIdentity> run = runOf(QByteArrayView(name).sliced(
            mPrefix.size(), name.size() - mPrefix.size() - kSuffix.size()));
        struct stat status {};
        if (run && run->hasEnded(self) && !heldByLiveRun(mFolder.get(), name.constData()) &&
            calls().fstatat(mFolder.get(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode)) {
            left.emplace_back(status.st_mtim.tv_sec, status.st_mtim.tv_nsec, name);
        }
    }
    std::sort(left.begin(), left.end());
    QList<QByteArray> names;
    for (const auto& [seconds, nanoseconds, name] : left) {
        names << name;
    }
    return names;
}

bool Journal::adopt(const QByteArray& name)
{
    // Locked before it is renamed: of two starts that find it, the one that locks it takes it
    // over, and one that this user cannot write stays for another start.
    posix::Descriptor file = posix::openAt(mFolder.get(), name.constData(),
                                           O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (!file.isOpen() || holdJournal(file.get()) ||
        calls().renameat(mFolder.get(), name.constData(), mFolder.get(), mName.constData()) != 0) {
        return false;
    }
    // It has taken the place of this run's file, which held nothing unsaved.
    stopWriting(false);
    mFile = std::move(file);
    startFlusher();
    return true;
}

QList<QByteArray> Journal::takeOver(const HistoryLines& stored, qsizetype room)
{
    if (!mKept || mHoldsUnsaved) {
        return {};
    }
    for (const QByteArray& name : endedRuns()) {
        const filestore::ReadResult read =
            filestore::readWhole(QFile::decodeName(posix::joinedPath({mFolderPath, name})));
        if (read.error) {
            continue;
        }
        QList<QByteArray> unsaved = unsavedLines(read.bytes, stored);
        if (unsaved.isEmpty()) {
            // Settled: nothing in it is needed. One that cannot be removed is read again by the
            // next start, and found settled again.
            calls().unlinkat(mFolder.get(), name.constData(), 0);
            continue;
        }
        if (unsaved.size() <= room && adopt(name)) {
            mHoldsUnsaved = true;
            return unsaved;
        }
    }
    return {};
}

std::optional<posix::Error> Journal::record(char kind, QByteArrayView rest)
{
    if (!mFile.isOpen()) {
        return std::nullopt;
    }
    if (mFlusher && mFlusher->failure() != 0) {
        return lost(posix::systemError(mFlusher->failure()));
    }
    QByteArray text;
    text.reserve(rest.size() + 2);
    text.append(kind).append(rest).append('\n');
    if (const std::optional<posix::Error> error = posix::writeAll(mFile.get(), text)) {
        return lost(*error);
    }
    if (mFlusher) {
        mFlusher->poke();
    }
    return std::nullopt;
}

posix::Error Journal::lost(posix::Error error)
{
    // A journal without every record could bring back a line taken back or save one twice.
    stopWriting(true);
    mKept = false;
    return error;
}

void Journal::stopWriting(bool remove)
{
    mFlusher.reset();
    if (!mFile.isOpen()) {
        return;
    }
    mFile.reset();
    // A journal that cannot be removed is replayed by the next start, which finds it settled.
    if (remove) {
        calls().unlinkat(mFolder.get(), mName.constData(), 0);
    }
}

std::optional<posix::Error> Journal::shown(QByteArrayView line)
{
    if (std::optional<posix::Error> error = create()) {
        return error;
    }
    mHoldsUnsaved = true;
    return record(kShown, line);
}

std::optional<posix::Error> Journal::takenBack()
{
    return record(kTakenBack);
}

std::optional<posix::Error> Journal::clearing()
{
    return record(kClearing);
}

std::optional<posix::Error> Journal::clearFailed()
{
    return record(kClearFailed);
}

std::optional<posix::Error> Journal::saving(qint32 after)
{
    if (std::optional<posix::Error> error = record(kSaving, QByteArray::number(after))) {
        return error;
    }
    if (mFile.isOpen() && calls().fdatasync(mFile.get()) != 0) {
        return lost(posix::systemError());
    }
    return std::nullopt;
}

std::optional<posix::Error> Journal::settled()
{
    mHoldsUnsaved = false;
    return record(kSettled);
}

void Journal::close()
{
    stopWriting(!mHoldsUnsaved);
}

QList<QByteArray> unsavedLines(QByteArrayView journal, const HistoryLines& stored)
{
    if (!journal.startsWith(kHeader)) {
        return {};
    }
    QList<QByteArray> lines;
    // A save or a clear begun and not known to be done or failed.
    struct Pending {
        std::optional<qint64> saving;
        bool clearing = false;
    } pending;
    qsizetype start = kHeader.size();
    for (qsizetype end = journal.indexOf('\n', start); end >= 0;
         start = end + 1, end = journal.indexOf('\n', start)) {
        const QByteArrayView record = journal.sliced(start, end - start);
        if (record.isEmpty()) {
            continue;
        }
        const QByteArrayView rest = record.sliced(1);
        switch (record.front()) {
        case kShown:
            if (isLine(rest)) {
                lines << rest.toByteArray();
                pending = {};
            }
            break;
        case kTakenBack:
            if (rest.isEmpty() && !lines.isEmpty()) {
                lines.removeLast();
                pending = {};
            }
            break;
        case kClearing:
            if (rest.isEmpty()) {
                pending = {std::nullopt, true};
            }
            break;
        case kClearFailed:
            if (rest.isEmpty()) {
                pending = {};
            }
            break;
        case kSaving:
            if (!rest.isEmpty()) {
                bool number = false;
                const qint64 after = rest.toByteArray().toLongLong(&number);
                pending.saving = number ? std::optional(after) : std::nullopt;
            }
            break;
        case kSettled:
            if (rest.isEmpty()) {
                lines.clear();
                pending = {};
            }
            break;
        default:
            break;
        }
    }
    // A clear that the user confirmed drops the lines whether or not it reached the file.
    if (pending.clearing || (pending.saving && savedAfter(lines, *pending.saving, stored))) {
        return {};
    }
    return lines;
}

} // namespace history
