#include "history/journal.h"

#include "history/filestore.h"
#include "posix/files.h"
#include "posix/locks.h"
#include "posix/process.h"
#include "posix/systemcalls.h"

#include <QFile>
#include <QSet>
#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <system_error>
#include <thread>
#include <tuple>

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
constexpr char kTakingOver = '<';
constexpr char kTakenOver = '>';
constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any new file
// The longest end of a journal's name after its beginning: a run's process (at most 57 bytes),
// its count and the suffix.
constexpr qsizetype kLongestEnd = 80;

// Runs started in this process, and journals taken over: each has a name of its own.
std::atomic<int> gNames{0};

// The run that wrote a journal, from the journal's name without prefix and suffix: the process
// and, after a last '-', a count of the process's own.
std::optional<posix::ProcessIdentity> runOf(QByteArrayView name)
{
    const qsizetype dash = name.lastIndexOf('-');
    bool number = false;
    if (dash < 0) {
        return std::nullopt;
    }
    [[maybe_unused]] const int count = name.sliced(dash + 1).toInt(&number);
    return number ? posix::ProcessIdentity::parsed(name.first(dash)) : std::nullopt;
}

// A name of a journal in the folder: no way out of it.
bool isJournalName(QByteArrayView name)
{
    return name.startsWith('.') && name.endsWith(kSuffix) && !name.contains('/') &&
           std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c <= '~'; });
}

std::optional<qint32> savedCount(QByteArrayView text)
{
    bool number = false;
    const qint32 count = text.toInt(&number);
    const bool digits =
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    return number && digits && count <= kMaxLines ? std::optional(count) : std::nullopt;
}

// Whether the lines stand in the history right after its first `after` lines: written by a save
// whose journal did not learn that it was done.
bool savedAfter(const QList<QByteArray>& lines, qint64 after, const HistoryLines& stored)
{
    if (after + lines.size() > stored.size()) {
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

// A journal that an ended run left: its name, when it was last written, its unsaved lines.
struct Journal::Left {
    QByteArray name;
    struct timespec modified;
    QList<QByteArray> lines;
};

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
        // The journal's new name in the folder first.
        if (const std::optional<posix::Error> error = posix::flushFolder(folder)) {
            mFailure = error->code;
        }
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

std::optional<posix::Error> Journal::prepare(const QString& historyPath)
{
    const posix::ResolvedPath history = posix::resolvedFile(posix::encodedName(historyPath));
    if (history.error) {
        return history.error;
    }
    const posix::PathParts parts = posix::splitPath(history.path);
    mFolder = posix::openFolder(parts.folder);
    if (!mFolder.isOpen()) {
        return posix::systemError();
    }
    mHistoryName = parts.name;
    mPrefix = posix::besideName(mFolder.get(), parts.name, ".", kLongestEnd);
    mName = mPrefix + posix::ProcessIdentity::self().text() + '-' + QByteArray::number(gNames++) +
            kSuffix.toByteArray();
    mKept = true;
    // Made now: a history beside which no journal can be made is told at once.
    return create();
}

bool Journal::isKept() const
{
    return mKept;
}

Journal::Holds Journal::holds() const
{
    if (mKept) {
        return Holds::Every;
    }
    return mFile.isOpen() && mHoldsUnsaved ? Holds::UntilItStopped : Holds::None;
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
    mWriting = true;
    // Made like the history, so that whoever may write the history may take it over. Without a
    // history yet, it is made as a new history will be, by the umask.
    struct stat history {};
    std::optional<posix::Error> error;
    if (calls().fstatat(mFolder.get(), mHistoryName.constData(), &history, 0) == 0) {
        error = posix::madeLike(mFile.get(), history);
    }
    if (!error) {
        error = holdJournal(mFile.get());
    }
    if (!error) {
        error = append(kHeader);
    }
    if (error) {
        // Nothing in it yet: it goes.
        stopWriting(true);
        mKept = false;
        return error;
    }
    try {
        mFlusher = std::make_unique<Flusher>(mFile.get(), mFolder.get());
    } catch (const std::system_error&) {
        // No thread: the records reach the storage as the system writes its pages back.
    }
    return std::nullopt;
}

bool Journal::mayTakeOver(int fd, const struct stat& file) const
{
    if (!S_ISREG(file.st_mode) || file.st_nlink != 1) {
        return false;
    }
    if (file.st_uid != calls().geteuid()) {
        // Another member's, in a folder that the history's group shares.
        struct stat history {};
        struct stat folder {};
        if (calls().fstatat(mFolder.get(), mHistoryName.constData(), &history, 0) != 0 ||
            calls().fstat(mFolder.get(), &folder) != 0 || file.st_gid != history.st_gid ||
            (file.st_mode & S_IWGRP) == 0 || (folder.st_mode & S_IWGRP) == 0) {
            return false;
        }
    }
    // A run that lives holds a lock on its journal; a journal that cannot be asked counts as held.
    const posix::LockHolder holder = posix::lockHolder(fd);
    return !holder.pid && !holder.error;
}

std::vector<Journal::Left> Journal::endedJournals(const HistoryLines& stored)
{
    std::vector<Left> left;
    QSet<QByteArray> absorbed;
    // A folder that cannot be listed hides the journals: they wait for a start that can list it.
    for (const QByteArray& name : posix::listFolder(mFolder.get())) {
        if (!name.startsWith(mPrefix) || !name.endsWith(kSuffix) || name == mName) {
            continue;
        }
        const std::optional<posix::ProcessIdentity> run = runOf(QByteArrayView(name).sliced(
            mPrefix.size(), name.size() - mPrefix.size() - kSuffix.size()));
        // A run that this machine cannot judge (another machine's) is left for one that can.
        if (!run || run->life() != posix::Life::Ended) {
            continue;
        }
        // Without blocking: a FIFO under such a name is refused, not waited for.
        const posix::Descriptor file = posix::openAt(
            mFolder.get(), name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat status {};
        if (!file.isOpen() || calls().fstat(file.get(), &status) != 0 ||
            !mayTakeOver(file.get(), status)) {
            continue;
        }
        const filestore::ReadResult read = filestore::readOpen(file.get());
        std::optional<Replay> replayed = read.error ? std::nullopt : replay(read.bytes, stored);
        if (replayed) {
            absorbed.unite(QSet<QByteArray>(replayed->absorbed.begin(), replayed->absorbed.end()));
            left.push_back({name, status.st_mtim, std::move(replayed->lines)});
        }
    }
    // Settled, or held whole by another journal: nothing in it is needed. One that cannot be
    // removed is read again by the next start, and found the same.
    std::erase_if(left, [this, &absorbed](const Left& journal) {
        const bool needed = !journal.lines.isEmpty() && !absorbed.contains(journal.name);
        if (!needed) {
            calls().unlinkat(mFolder.get(), journal.name.constData(), 0);
        }
        return !needed;
    });
    std::sort(left.begin(), left.end(), [](const Left& a, const Left& b) {
        return std::tie(a.modified.tv_sec, a.modified.tv_nsec, a.name) <
               std::tie(b.modified.tv_sec, b.modified.tv_nsec, b.name);
    });
    return left;
}

Journal::Taken Journal::takeOver(const HistoryLines& stored, qsizetype room)
{
    Taken taken;
    if (!mKept || mHoldsUnsaved) {
        return taken;
    }
    std::vector<Left> left = endedJournals(stored);
    if (left.empty()) {
        return taken;
    }
    taken.error = create();
    if (taken.error) {
        return taken;
    }
    QByteArray blocks;
    QList<QByteArray> claimed;
    const QByteArray run = mPrefix + posix::ProcessIdentity::self().text() + '-';
    for (const Left& journal : left) {
        if (journal.lines.size() > room - taken.lines.size()) {
            taken.waiting += journal.lines.size();
            continue;
        }
        // Renamed to a name of this run's: of two starts that find it, one has it.
        const QByteArray name = run + QByteArray::number(gNames++) + kSuffix.toByteArray();
        if (calls().renameat(mFolder.get(), journal.name.constData(), mFolder.get(),
                             name.constData()) != 0) {
            continue;
        }
        claimed << name;
        blocks += kTakingOver + name + '\n';
        for (const QByteArray& line : journal.lines) {
            blocks += kShown + line + '\n';
        }
        blocks += QByteArray(1, kTakenOver) + '\n';
        taken.lines += journal.lines;
    }
    if (claimed.isEmpty()) {
        return taken;
    }
    // The new names, and this journal's own, on the storage before the blocks that name them.
    taken.error = posix::flushFolder(mFolder.get());
    if (!taken.error) {
        taken.error = append(blocks);
    }
    if (!taken.error && calls().fdatasync(mFile.get()) != 0) {
        taken.error = posix::systemError();
    }
    if (taken.error) {
        // The journals stay under their new names, whole: the next start takes them over.
        lost(*taken.error);
        taken.waiting += taken.lines.size();
        taken.lines.clear();
        return taken;
    }
    for (const QByteArray& name : claimed) {
        calls().unlinkat(mFolder.get(), name.constData(), 0);
    }
    mHoldsUnsaved = true;
    return taken;
}

std::optional<posix::Error> Journal::append(QByteArrayView text)
{
    if (std::optional<posix::Error> error = posix::writeAll(mFile.get(), text)) {
        return error;
    }
    if (mFlusher) {
        mFlusher->poke();
    }
    return std::nullopt;
}

std::optional<posix::Error> Journal::record(char kind, QByteArrayView rest)
{
    if (!mWriting) {
        return std::nullopt;
    }
    if (mFlusher && mFlusher->failure() != 0) {
        return lost(posix::systemError(mFlusher->failure()));
    }
    QByteArray text;
    text.reserve(rest.size() + 2);
    text.append(kind).append(rest).append('\n');
    if (const std::optional<posix::Error> error = append(text)) {
        return lost(*error);
    }
    return std::nullopt;
}

posix::Error Journal::lost(posix::Error error)
{
    // What it holds stays for the next start: a record cut short is ignored there. The file
    // stays open, to be emptied once its lines are saved if it cannot be removed then.
    mWriting = false;
    mKept = false;
    mFlusher.reset();
    return error;
}

void Journal::stopWriting(bool remove)
{
    mFlusher.reset();
    mWriting = false;
    if (!mFile.isOpen()) {
        return;
    }
    // Closed first: sshfs keeps a file removed while open under a hidden name of its own.
    mFile.reset();
    // A journal that cannot be removed is emptied: no longer a journal, it is left alone.
    if (remove && calls().unlinkat(mFolder.get(), mName.constData(), 0) != 0) {
        posix::openAt(mFolder.get(), mName.constData(),
                      O_WRONLY | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
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
    if (mWriting && calls().fdatasync(mFile.get()) != 0) {
        return lost(posix::systemError());
    }
    return std::nullopt;
}

std::optional<posix::Error> Journal::unconfirmed(const posix::Error& error)
{
    if (!mWriting) {
        return std::nullopt;
    }
    return lost(error);
}

std::optional<posix::Error> Journal::settled()
{
    mHoldsUnsaved = false;
    if (mFile.isOpen() && !mWriting) {
        // Its writing ended earlier: now that every line is saved, it goes.
        stopWriting(true);
        return std::nullopt;
    }
    return record(kSettled);
}

void Journal::finish()
{
    stopWriting(!mHoldsUnsaved);
}

std::optional<Replay> replay(QByteArrayView journal, const HistoryLines& stored)
{
    // A journal cut off as it was made holds nothing.
    if (kHeader.startsWith(journal)) {
        return Replay{};
    }
    if (!journal.startsWith(kHeader)) {
        return std::nullopt;
    }
    Replay result;
    QList<QByteArray>& lines = result.lines;
    // A save or a clear begun and not known to be done or failed.
    struct Pending {
        std::optional<qint32> saving;
        bool clearing = false;
    } pending;
    // The block being read: where its lines begin, and the journal they come from.
    std::optional<std::pair<qsizetype, QByteArray>> block;
    qsizetype start = kHeader.size();
    // A record without its line end is one that the end of the run cut short.
    for (qsizetype end = journal.indexOf('\n', start); end >= 0;
         start = end + 1, end = journal.indexOf('\n', start)) {
        const QByteArrayView record = journal.sliced(start, end - start);
        const QByteArrayView rest = record.isEmpty() ? record : record.sliced(1);
        const char kind = record.isEmpty() ? '\0' : record.front();
        // A block holds lines only.
        if (block && kind != kShown && kind != kTakenOver) {
            return std::nullopt;
        }
        switch (kind) {
        case kShown:
            if (!isDrawnLine(rest)) {
                return std::nullopt;
            }
            lines << rest.toByteArray();
            pending = {};
            break;
        case kTakenBack:
        case kClearFailed:
        case kSettled:
        case kClearing:
        case kTakenOver:
            if (!rest.isEmpty() || (kind == kTakenOver && !block)) {
                return std::nullopt;
            }
            if (kind == kTakenBack && !lines.isEmpty()) {
                lines.removeLast();
            } else if (kind == kSettled) {
                lines.clear();
            } else if (kind == kTakenOver) {
                result.absorbed << block->second;
                block.reset();
            }
            pending = {std::nullopt, kind == kClearing};
            break;
        case kSaving:
            pending.saving = savedCount(rest);
            if (!pending.saving) {
                return std::nullopt;
            }
            break;
        case kTakingOver:
            if (!isJournalName(rest)) {
                return std::nullopt;
            }
            block = {lines.size(), rest.toByteArray()};
            break;
        default:
            return std::nullopt;
        }
    }
    // A block cut off: its lines are still in their own journal.
    if (block) {
        lines.resize(block->first);
    }
    // A clear that the user confirmed drops the lines whether or not it reached the file.
    if (pending.clearing || (pending.saving && savedAfter(lines, *pending.saving, stored))) {
        lines.clear();
    }
    return result;
}

} // namespace history
