#include "history/journal.h"

#include "history/descriptor.h"

#include <QFile>
#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace history {

namespace {

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
// Enough of a machine's or a boot's identity to tell them apart.
constexpr qsizetype kIdentityDigits = 8;
// The start time's field in /proc/PID/stat (the 22nd), counted from the state after the command.
constexpr int kStartTimeField = 19;
constexpr mode_t kReadWriteBits = 0666;
constexpr mode_t kGroupBits = 070;

// Runs started in this process: each journal it opens has a name of its own.
std::atomic<int> gRuns{0};

filestore::FileError systemError(int code = errno)
{
    return {filestore::FileError::Kind::System, code};
}

// The first line of a small file of the system's, such as /proc/self/stat.
QByteArray firstLine(const char* path)
{
    const filestore::Descriptor file(::open(path, O_RDONLY | O_CLOEXEC));
    std::array<char, 512> text{};
    const ssize_t got = file.get() < 0 ? -1 : ::read(file.get(), text.data(), text.size());
    if (got <= 0) {
        return {};
    }
    const QByteArray bytes(text.data(), got);
    return bytes.left(bytes.indexOf('\n')).trimmed();
}

// The first hexadecimal digits of an identity such as a machine's or a boot's.
QByteArray hexDigits(const QByteArray& text)
{
    QByteArray digits;
    for (const char c : text) {
        if (digits.size() < kIdentityDigits && std::isxdigit(static_cast<unsigned char>(c))) {
            digits += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return digits.size() == kIdentityDigits ? digits : QByteArray("0");
}

QByteArray machineIdentity()
{
    QByteArray machine = firstLine("/etc/machine-id");
    if (machine.isEmpty()) {
        std::array<char, 256> host{};
        ::gethostname(host.data(), host.size() - 1);
        machine = QByteArray::number(qHash(QByteArrayView(host.data())), 16).rightJustified(8, '0');
    }
    return hexDigits(machine);
}

// When a process started, in clock ticks since the boot: with its number, it names the process
// once and for all. Empty when there is no such process.
QByteArray processStart(qint64 pid)
{
    const QByteArray stat = firstLine(("/proc/" + QByteArray::number(pid) + "/stat").constData());
    const qsizetype command = stat.lastIndexOf(')');
    if (command < 0) {
        return {};
    }
    const QList<QByteArray> fields = stat.mid(command + 2).split(' ');
    return fields.value(kStartTimeField);
}

// Who wrote a journal: machine, boot, process and its start, and the process's count of runs.
struct Run {
    QByteArray machine;
    QByteArray boot;
    qint64 pid = 0;
    QByteArray start;

    static Run thisOne()
    {
        const qint64 pid = ::getpid();
        // Without /proc the start is not known: the lock alone then tells that the run lives.
        const QByteArray start = processStart(pid);
        return {machineIdentity(), hexDigits(firstLine("/proc/sys/kernel/random/boot_id")), pid,
                start.isEmpty() ? QByteArray("0") : start};
    }
    [[nodiscard]] QByteArray name(int run) const
    {
        return machine + '-' + boot + '-' + QByteArray::number(pid) + '-' + start + '-' +
               QByteArray::number(run);
    }
    // The run named, or nothing for a name that no journal has.
    static std::optional<Run> named(QByteArrayView name)
    {
        const QList<QByteArray> parts = name.toByteArray().split('-');
        bool pid = false;
        bool run = false;
        if (parts.size() != 5 || parts[3].isEmpty()) {
            return std::nullopt;
        }
        Run found{parts[0], parts[1], parts[2].toLongLong(&pid), parts[3]};
        parts[4].toInt(&run);
        return pid && run ? std::optional(found) : std::nullopt;
    }
};

// Whether the journal was left by a run that has ended. A journal of another machine is left to
// that machine: whether its run still lives cannot be told from here.
bool leftByEndedRun(const Run& run, const Run& self, int folder, const char* name)
{
    if (run.machine != self.machine) {
        return false;
    }
    // A run that lives holds a lock on its journal; a lock cannot tell across every file system,
    // the process's own start time can.
    const filestore::Descriptor journal(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (journal.get() < 0 || ::fcntl(journal.get(), F_GETLK, &lock) != 0 ||
        lock.l_type != F_UNLCK) {
        return false;
    }
    return run.boot != self.boot || processStart(run.pid) != run.start;
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

// Gives a file made for the history the history's permissions and group, as a save gives them
// to the history itself, so that whoever may write the history may take the file over.
void madeLikeHistory(int fd, int folder, const QByteArray& history)
{
    struct stat status {};
    if (::fstatat(folder, history.constData(), &status, 0) != 0) {
        return;
    }
    const bool groupKept =
        ::fchown(fd, ::geteuid() == 0 ? status.st_uid : static_cast<uid_t>(-1), status.st_gid) == 0;
    ::fchmod(fd, status.st_mode & kReadWriteBits & (groupKept ? ~mode_t{0} : ~kGroupBits));
}

} // namespace

// Flushes the journal to the storage off the window's thread, soon after each record.
class Journal::Flusher {
public:
    // Takes over folder, whose new entry reaches the storage first.
    Flusher(int fd, int folder)
        : mThread([this, fd, folder] { run(fd, folder); })
    {
    }
    ~Flusher()
    {
        {
            const std::lock_guard guard(mLock);
            mStop = true;
        }
        mWake.notify_one();
        mThread.join();
    }
    Flusher(const Flusher&) = delete;
    Flusher& operator=(const Flusher&) = delete;

    void poke()
    {
        {
            const std::lock_guard guard(mLock);
            mDirty = true;
        }
        mWake.notify_one();
    }

private:
    void run(int fd, int folder)
    {
        ::fsync(folder);
        ::close(folder);
        std::unique_lock guard(mLock);
        for (;;) {
            mWake.wait(guard, [this] { return mDirty || mStop; });
            if (!mDirty) {
                return;
            }
            mDirty = false;
            guard.unlock();
            ::fdatasync(fd);
            guard.lock();
        }
    }

    std::mutex mLock;
    std::condition_variable mWake;
    bool mDirty = false;
    bool mStop = false;
    std::thread mThread;
};

Journal::Journal() = default;

Journal::~Journal()
{
    mFlusher.reset();
    for (const int fd : {mFd, mFolder}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

std::optional<filestore::FileError> Journal::open(const QString& historyPath)
{
    const filestore::ResolvedPath history = filestore::resolvedFile(QFile::encodeName(historyPath));
    if (history.error) {
        return history.error;
    }
    const filestore::PathParts parts = filestore::splitPath(history.path);
    mFolderPath = parts.folder;
    mPrefix = '.' + parts.name + '.';
    mName = mPrefix + Run::thisOne().name(gRuns++) + kSuffix.toByteArray();
    mFolder = ::open(parts.folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (mFolder < 0) {
        return systemError();
    }
    mKept = true;
    return std::nullopt;
}

bool Journal::isKept() const
{
    return mKept;
}

std::optional<filestore::FileError> Journal::create()
{
    if (!mKept || mFd >= 0) {
        return std::nullopt;
    }
    mFd = ::openat(mFolder, mName.constData(),
                   O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, kReadWriteBits);
    if (mFd < 0) {
        mKept = false;
        return systemError();
    }
    madeLikeHistory(mFd, mFolder, mPrefix.sliced(1, mPrefix.size() - 2));
    watch();
    return record(kHeader);
}

void Journal::watch()
{
    // Held while the run lives, for a start that looks for the journals of ended runs.
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    ::fcntl(mFd, F_SETLK, &lock);
    try {
        mFlusher = std::make_unique<Flusher>(mFd, ::dup(mFolder));
    } catch (const std::system_error&) {
        // No thread: the records reach the storage as the system writes its pages back.
    }
}

QList<QByteArray> Journal::takeOver(const HistoryLines& stored, qsizetype room)
{
    if (!mKept || mUnsaved) {
        return {};
    }
    // A descriptor of its own: one made by dup() would share the place reached in the folder.
    const int listed = ::openat(mFolder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* entries = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (entries == nullptr) {
        if (listed >= 0) {
            ::close(listed);
        }
        return {};
    }
    const Run self = Run::thisOne();
    struct Left {
        QByteArray name;
        struct timespec modified;
    };
    std::vector<Left> left;
    while (const dirent* entry = ::readdir(entries)) {
        const QByteArrayView name(entry->d_name);
        if (!name.startsWith(mPrefix) || !name.endsWith(kSuffix) || name == mName) {
            continue;
        }
        const std::optional<Run> run =
            Run::named(name.sliced(mPrefix.size(), name.size() - mPrefix.size() - kSuffix.size()));
        struct stat status {};
        if (run && leftByEndedRun(*run, self, mFolder, entry->d_name) &&
            ::fstatat(mFolder, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode)) {
            left.push_back({name.toByteArray(), status.st_mtim});
        }
    }
    ::closedir(entries);
    // The oldest run's lines first.
    std::sort(left.begin(), left.end(), [](const Left& a, const Left& b) {
        return std::tie(a.modified.tv_sec, a.modified.tv_nsec, a.name) <
               std::tie(b.modified.tv_sec, b.modified.tv_nsec, b.name);
    });

    for (const Left& journal : left) {
        const filestore::ReadResult read =
            filestore::readWhole(QFile::decodeName(mFolderPath + '/' + journal.name));
        if (read.error) {
            continue;
        }
        QList<QByteArray> unsaved = unsavedLines(read.bytes, stored);
        if (unsaved.isEmpty()) {
            ::unlinkat(mFolder, journal.name.constData(), 0);
            continue;
        }
        if (unsaved.size() > room) {
            continue;
        }
        // It becomes this run's journal under this run's name, in place of a file that holds
        // nothing unsaved: of two starts that find it, one takes it over.
        if (::renameat(mFolder, journal.name.constData(), mFolder, mName.constData()) != 0) {
            continue;
        }
        end(false);
        mFd = ::openat(mFolder, mName.constData(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
        if (mFd < 0) {
            // One that this user cannot write stays for another start.
            ::renameat(mFolder, mName.constData(), mFolder, journal.name.constData());
            continue;
        }
        watch();
        mUnsaved = true;
        return unsaved;
    }
    return {};
}

std::optional<filestore::FileError> Journal::record(QByteArrayView text)
{
    if (mFd < 0) {
        return std::nullopt;
    }
    const ssize_t written = ::write(mFd, text.data(), static_cast<std::size_t>(text.size()));
    if (written == text.size()) {
        if (mFlusher) {
            mFlusher->poke();
        }
        return std::nullopt;
    }
    // A record cut short would be read wrongly.
    return lost(systemError(written < 0 ? errno : ENOSPC));
}

filestore::FileError Journal::lost(filestore::FileError error)
{
    // A journal without every record could bring back a line taken back or save one twice.
    end(true);
    mKept = false;
    return error;
}

void Journal::end(bool remove)
{
    mFlusher.reset();
    if (mFd >= 0) {
        ::close(mFd);
        mFd = -1;
        if (remove) {
            ::unlinkat(mFolder, mName.constData(), 0);
        }
    }
}

std::optional<filestore::FileError> Journal::shown(QByteArrayView line)
{
    if (std::optional<filestore::FileError> error = create()) {
        return error;
    }
    mUnsaved = true;
    QByteArray text;
    text.reserve(line.size() + 2);
    text.append(kShown).append(line).append('\n');
    return record(text);
}

std::optional<filestore::FileError> Journal::takenBack()
{
    return record(QByteArray(1, kTakenBack) + '\n');
}

std::optional<filestore::FileError> Journal::clearing()
{
    return record(QByteArray(1, kClearing) + '\n');
}

std::optional<filestore::FileError> Journal::clearFailed()
{
    return record(QByteArray(1, kClearFailed) + '\n');
}

std::optional<filestore::FileError> Journal::saving(qint32 after)
{
    if (std::optional<filestore::FileError> error =
            record(kSaving + QByteArray::number(after) + '\n')) {
        return error;
    }
    if (mFd >= 0 && ::fdatasync(mFd) != 0) {
        return lost(systemError());
    }
    return std::nullopt;
}

std::optional<filestore::FileError> Journal::settled()
{
    mUnsaved = false;
    return record(QByteArray(1, kSettled) + '\n');
}

void Journal::close()
{
    end(!mUnsaved);
}

QList<QByteArray> unsavedLines(QByteArrayView journal, const HistoryLines& stored)
{
    if (!journal.startsWith(kHeader)) {
        return {};
    }
    QList<QByteArray> lines;
    std::optional<qint64> saving; // a save begun and not known to be done
    bool clearing = false;        // a clear begun and not known to be done
    qsizetype start = kHeader.size();
    // A record without its line end is one that the end of the run cut short.
    for (qsizetype end = journal.indexOf('\n', start); end >= 0;
         start = end + 1, end = journal.indexOf('\n', start)) {
        const QByteArrayView record = journal.sliced(start, end - start);
        if (record.isEmpty()) {
            continue;
        }
        const QByteArrayView rest = record.sliced(1);
        const char kind = record.front();
        if (kind == kShown && isLine(rest)) {
            lines << rest.toByteArray();
        } else if (kind == kTakenBack && rest.isEmpty() && !lines.isEmpty()) {
            lines.removeLast();
        } else if (kind == kClearing && rest.isEmpty()) {
            clearing = true;
            saving.reset();
            continue;
        } else if (kind == kSaving && !rest.isEmpty()) {
            bool number = false;
            saving = rest.toByteArray().toLongLong(&number);
            saving = number ? saving : std::nullopt;
            continue;
        } else if (kind == kSettled && rest.isEmpty()) {
            lines.clear();
        } else if (kind != kClearFailed || !rest.isEmpty()) {
            continue;
        }
        saving.reset();
        clearing = false;
    }
    // A clear that the user confirmed drops the lines whether or not it reached the file.
    if (clearing || (saving && savedAfter(lines, *saving, stored))) {
        return {};
    }
    return lines;
}

} // namespace history
