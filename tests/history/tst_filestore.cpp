#include "history/filestore.h"
#include "history/savelock.h"
#include "posix/clock.h"
#include "posix/files.h"
#include "posix/process.h"
#include "posix/systemcalls.h"
#include "support/callwatch.h"
#include "support/samples.h"
#include "support/world.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// The file before and after a replacement.
QByteArray oldFile()
{
    return samples::historyFile(3);
}

QByteArray newFile()
{
    return samples::historyFile(4);
}

// An access list in the kernel's form: USER_OBJ rw, USER uid rw, GROUP_OBJ r, MASK rw, OTHER r.
QByteArray accessList(quint32 uid)
{
    QByteArray acl;
    const auto put32 = [&acl](quint32 v) { acl.append(reinterpret_cast<const char*>(&v), 4); };
    const auto entry = [&](quint16 tag, quint16 perm, quint32 id) {
        acl.append(reinterpret_cast<const char*>(&tag), 2);
        acl.append(reinterpret_cast<const char*>(&perm), 2);
        put32(id);
    };
    constexpr quint32 kNoId = 0xFFFFFFFFU;
    put32(2);
    entry(0x01, 6, kNoId);
    entry(0x02, 6, uid);
    entry(0x04, 4, kNoId);
    entry(0x10, 6, kNoId);
    entry(0x20, 4, kNoId);
    return acl;
}

QByteArray attribute(const QString& path, const char* name)
{
    QByteArray value(256, '\0');
    const ssize_t size =
        ::getxattr(QFile::encodeName(path).constData(), name, value.data(), value.size());
    return size < 0 ? QByteArray() : value.left(size);
}

} // namespace

class TestFileStore : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void splitPath_data();
    void splitPath();
    void flushedBeforeAndAfterTheRename();
    void everyCallFailedInTurn();
    void saveLockPromises_data();
    void saveLockPromises();
    void stalledWriterKeepsItsLines_data();
    void stalledWriterKeepsItsLines();
    void startTakesAwayWhatEndedSavesLeft();
    void groupNotKeptLosesItsAccess();
    void attributesCarriedOver();
    void readLimit();

private:
    QTemporaryDir mDir;
    QString mPath;
};

void TestFileStore::init()
{
    mPath = mDir.filePath(u"qelvo.ini"_s);
    QVERIFY(samples::writeFile(mPath, oldFile()));
}

void TestFileStore::cleanup()
{
    for (const QString& name :
         QDir(mDir.path())
             .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        QDir(mDir.filePath(name)).removeRecursively();
        QFile::remove(mDir.filePath(name));
    }
}

void TestFileStore::splitPath_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("in a folder") << QByteArray("/opt/q/qelvo.ini") << QByteArray("/opt/q")
                                 << QByteArray("qelvo.ini");
    QTest::newRow("in the root folder")
        << QByteArray("/qelvo.ini") << QByteArray("/") << QByteArray("qelvo.ini");
    QTest::newRow("no folder") << QByteArray("qelvo.ini") << QByteArray(".")
                               << QByteArray("qelvo.ini");
}

void TestFileStore::splitPath()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, folder);
    QFETCH(QByteArray, name);
    const posix::PathParts parts = posix::splitPath(path);
    QCOMPARE(parts.folder, folder);
    QCOMPARE(parts.name, name);
}

void TestFileStore::flushedBeforeAndAfterTheRename()
{
    // The lock is as readable as the history from the first, under a umask of 077 too: whoever
    // may write the history sees whose it is and waits, where an unreadable file is passed over.
    QCOMPARE(::chmod(QFile::encodeName(mPath).constData(), 0664), 0);
    const mode_t umask = ::umask(077);
    struct stat lock {};
    const CallWatch watch;
    QVERIFY(!filestore::update(
        mPath, [](const filestore::ReadResult&) { return std::optional(newFile()); },
        [&] {
            ::stat(QFile::encodeName(mDir.filePath(u".qelvo.ini.saving"_s)).constData(), &lock);
        }));
    ::umask(umask);
    QCOMPARE(lock.st_mode & 0777U, 0664U);
    QCOMPARE(samples::readFile(mPath), newFile());
    // The lock and the data reach the disk before the new file takes the old one's place, and
    // the folder after, so a power cut leaves the old file or the whole new one.
    const QList<QByteArray> order{"fdatasync", "fdatasync", "renameat", "fsync"};
    QList<QByteArray> calls = watch.calls();
    calls.removeIf([&order](const QByteArray& call) { return !order.contains(call); });
    QCOMPARE(calls, order);
}

void TestFileStore::everyCallFailedInTurn()
{
    // Each call of a replacement made to fail in turn, on a file with an attribute to carry over:
    // the old file stays byte for byte and the call's own error is told, or the whole new file is
    // in place and nothing is told.
    ::setxattr(QFile::encodeName(mPath).constData(), "user.note", "x", 1, 0);
    QCOMPARE(::chmod(QFile::encodeName(mPath).constData(), 0641), 0);
    for (int nth = 1;; ++nth) {
        QVERIFY(samples::writeFile(mPath, oldFile()));
        CallWatch watch;
        watch.failAt(nth, EIO);
        const std::optional<posix::Error> error = filestore::replaceAtomically(mPath, newFile());
        const QByteArray call = watch.calls().value(nth - 1);
        if (!watch.reached()) {
            break;
        }
        const bool replaced = !error || error->kind == posix::Error::Kind::Unflushed;
        QVERIFY2(samples::readFile(mPath) == (replaced ? newFile() : oldFile()), call.constData());
        // Replaced, with the old file's permissions, never a new file's default.
        struct stat file {};
        QVERIFY2(::stat(QFile::encodeName(mPath).constData(), &file) == 0 &&
                     (file.st_mode & 0777U) == 0641U,
                 call.constData());
        // A clock that fails has no time to wait by: the save waits no longer.
        QVERIFY2(!error || error->code == EIO || (call == "clock_gettime" && error->code == EBUSY),
                 call.constData());
        // Only the lock and this writer's own files may stay, where they could not be removed:
        // its next save removes them.
        QStringList stray = samples::strayFiles(mDir.path());
        QVERIFY2(stray.filter(u".qelvo.ini.saving"_s) == stray,
                 qPrintable(QString::fromLatin1(call) + stray.join(u' ')));
        watch.failAt(0, 0, "none");
        QVERIFY(!filestore::replaceAtomically(mPath, oldFile()));
        QCOMPARE(samples::strayFiles(mDir.path()), QStringList());
    }
}

void TestFileStore::saveLockPromises_data()
{
    // What stands at the lock's name when a save begins, the world it runs in, what the save
    // says (0: saved; -1: every name taken; -3: begun again too often), and how long it waited,
    // in milliseconds.
    QTest::addColumn<QString>("lock");
    QTest::addColumn<QString>("world");
    QTest::addColumn<int>("reported");
    QTest::addColumn<int>("waited");
    // The bounds that the README states, not the program's constants.
    const int wait = 3000;
    const int grace = 1000;
    const int minute = 60000;
    const int busy = EBUSY;
    const auto row = [](const char* promise, const char16_t* lock, const char16_t* world,
                        int reported, int waited) {
        QTest::newRow(promise) << QString::fromUtf16(lock) << QString::fromUtf16(world) << reported
                               << waited;
    };
    row("one program writes it at a time: a live writer is waited for, at most 3 s", u"live", u"",
        busy, wait);
    row("a lock whose writer has ended is taken over at once", u"ended", u"", 0, 0);
    row("a writer that ended but is not reaped (a zombie) has ended", u"zombie", u"", 0, 0);
    row("a number used again by a later process is not the writer", u"reused pid", u"", 0, 0);
    row("no date decides: not a lock dated a minute ago", u"foreign, a minute old", u"", busy,
        wait);
    row("nor this clock a year ahead", u"foreign", u"clock ahead", busy, wait);
    row("nor a clock that cannot be read: the wait ends all the same", u"live", u"no clock", busy,
        wait);
    row("a writer /proc does not show is not taken for ended", u"live", u"hidden processes", busy,
        wait);
    row("a writer of another PID namespace is not taken for ended", u"other namespace", u"", busy,
        wait);
    row("any lock seen unchanged for a minute is taken over: a live writer's", u"live",
        u"saved again", 0, minute);
    row("a forged one, naming a process that is no writer", u"pid 1", u"saved again", 0, minute);
    row("a lock its writer never wrote is taken over after a moment", u"unwritten", u"", 0, grace);
    row("also the beginning of a lock's line", u"begun", u"", 0, grace);
    row("and of the longest", u"longest begun", u"", 0, grace);
    row("not one that keeps changing", u"unwritten", u"changes", busy, wait);
    row("a lock of the longest line is one", u"longest", u"", 0, 0);
    row("a lock gone before its move is looked at again", u"ended", u"gone before the move", 0, 0);
    row("a lock that comes and goes makes no round spin", u"", u"flickers", busy, wait);
    row("a file another mount changed is read whole (FUSE)", u"", u"sizes remembered", 0, 0);
    row("a folder at the lock's name is passed over", u"folder", u"", 0, 0);
    row("a FIFO at the lock's name is passed over", u"fifo", u"", 0, 0);
    row("other text, dated 2030, is passed over", u"text", u"", 0, 0);
    row("so is a line that begins with a blank", u"blank first", u"", 0, 0);
    row("so is a line longer than a lock's", u"too long", u"", 0, 0);
    row("so is another's file with no line end", u"binary", u"", 0, 0);
    row("so is a file this user cannot read", u"ended", u"unreadable", 0, 0);
    row("a lock that cannot be moved (sticky folder) is passed over", u"ended", u"unmovable", 0, 0);
    row("every name taken: the save fails and says so", u"all taken", u"", -1, 0);
    row("a lock made between the look and the move is taken, its writer stopped", u"ended",
        u"replaced meanwhile", 0, 0);
    row("a file replaced meanwhile is changed again as it is now", u"",
        u"file replaced before the rename", 0, 0);
    row("begun again at most three times, then told", u"", u"file replaced before every rename", -3,
        0);
    row("the folder flushed after the rename; a failure is told, the file replaced", u"",
        u"folder flush fails", int(EIO), 0);
}

void TestFileStore::saveLockPromises()
{
    QFETCH(QString, lock);
    QFETCH(QString, world);
    QFETCH(int, reported);
    QFETCH(int, waited);
    static QString lockPath; // for the replacements of calls, which cannot hold it
    lockPath = mDir.filePath(u".qelvo.ini.saving"_s);
    const qint64 now = ::time(nullptr);
    const pid_t parent = ::getppid();
    static QByteArray gLive;
    gLive = samples::lockLine(parent, startOf(parent), now);
    pid_t zombie = 0;
    QStringList stays;
    const QByteArray longest = samples::lockLine(
        999999999, '1' + QByteArray(200 - samples::lockLine(999999999, "1", now).size(), '0'), now);
    const posix::ProcessIdentity& self = posix::ProcessIdentity::self();
    const QHash<QString, QByteArray> planted{
        {u"live"_s, gLive},
        {u"pid 1"_s, samples::lockLine(1, startOf(1), now)},
        {u"ended"_s, samples::lockLine(999999999, "1", now)},
        {u"reused pid"_s, samples::lockLine(parent, "1", now)},
        {u"foreign"_s, samples::lockLine(1, "1", now, "0abc0def")},
        {u"foreign, a minute old"_s, samples::lockLine(1, "1", now - 61, "0abc0def")},
        // A number that no process of this namespace has.
        {u"other namespace"_s, samples::lockLine(999999999, "1", now, self.machine, "4000000001")},
        {u"unwritten"_s, ""},
        {u"begun"_s, self.machine + "-1.2 17"},
        {u"longest"_s, longest},
        {u"too long"_s, longest.chopped(1) + "0\n"},
        {u"binary"_s, QByteArray(153, '\x90')},
        {u"text"_s, "x\n"},
        {u"blank first"_s, " 17"},
        {u"longest begun"_s, longest.chopped(1) + "0"}};
    if (lock == u"zombie"_s) {
        zombie = ::fork();
        if (zombie == 0) {
            ::_exit(0);
        }
        QTest::qWait(50);
        QVERIFY(samples::writeFile(lockPath, samples::lockLine(zombie, startOf(zombie), now)));
    } else if (planted.contains(lock)) {
        QVERIFY(samples::writeFile(lockPath, planted[lock]));
        // With what another ended writer left: gone once the lock is this save's.
        const QString left = QString::fromLatin1(samples::lockLine(999999998, "1", now));
        QVERIFY(lock != u"ended"_s ||
                samples::writeFile(lockPath + u'.' + left.split(u' ')[0], ""));
    } else if (lock == u"folder"_s || lock == u"all taken"_s) {
        for (const QString& name : {u""_s, u"-1"_s, u"-2"_s, u"-3"_s}) {
            QVERIFY(QDir().mkpath(lockPath + name));
            stays << u".qelvo.ini.saving"_s + name;
            if (lock == u"folder"_s) {
                break;
            }
        }
    } else if (lock == u"fifo"_s) {
        QCOMPARE(::mkfifo(QFile::encodeName(lockPath).constData(), 0600), 0);
    }
    if (lock == u"text"_s) {
        const std::array<timespec, 2> in2030{timespec{1893456000, 0}, timespec{1893456000, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(lockPath).constData(), in2030.data(), 0),
                 0);
    }
    if ((lock == u"fifo"_s || lock == u"text"_s || lock == u"too long"_s || lock == u"binary"_s ||
         lock == u"blank first"_s || world == u"unreadable"_s ||
         (reported == int(EBUSY) && !lock.isEmpty())) &&
        stays.isEmpty()) {
        stays << u".qelvo.ini.saving"_s;
    }

    const QByteArray before = QFileInfo(lockPath).isFile() ? samples::readFile(lockPath) : "";
    World setUp;
    setUp.stillTime();
    int toldBefore = 0;
    QByteArray bytes = newFile();
    std::function<void()> beforeReplace = [&toldBefore] { ++toldBefore; };
    if (world == u"clock ahead"_s) {
        setUp.clockAhead(std::chrono::hours(24 * 365));
    } else if (world == u"no clock"_s) {
        posix::calls().clock_gettime.function = [](clockid_t, struct timespec*) {
            errno = EINVAL;
            return -1;
        };
    } else if (world == u"hidden processes"_s) {
        setUp.hiddenProcesses();
    } else if (world == u"changes"_s) {
        // Dated anew each time a writer waits.
        setUp.onNap([] {
            static long tick = 0;
            const std::array<timespec, 2> times{timespec{++tick, 0}, timespec{tick, 0}};
            ::utimensat(AT_FDCWD, QFile::encodeName(lockPath).constData(), times.data(), 0);
        });
    } else if (world == u"unreadable"_s) {
        // Another user's, which root could otherwise read.
        posix::calls().openat.function = [](int at, const char* name, int flags, mode_t mode) {
            errno = EACCES;
            return QByteArrayView(name) == ".qelvo.ini.saving" && (flags & O_CREAT) == 0
                       ? -1
                       : posix::systemCalls().openat(at, name, flags, mode);
        };
    } else if (world == u"gone before the move"_s) {
        // Its writer removes it just before the move.
        posix::calls().renameat.function = [](int from, const char* name, int to, const char* as) {
            if (QByteArrayView(name) == ".qelvo.ini.saving") {
                posix::systemCalls().unlinkat(from, name, 0);
            }
            return posix::systemCalls().renameat(from, name, to, as);
        };
    } else if (world == u"flickers"_s) {
        // Made each time by another just before, and gone again each time it is looked at.
        posix::calls().openat.function = [](int at, const char* name, int flags, mode_t mode) {
            errno = EEXIST;
            return QByteArrayView(name) == ".qelvo.ini.saving" && (flags & O_EXCL) != 0
                       ? -1
                       : posix::systemCalls().openat(at, name, flags, mode);
        };
    } else if (world == u"folder flush fails"_s) {
        setUp.folderFlushFails();
    } else if (world == u"sizes remembered"_s) {
        setUp.sizesRemembered();
    } else if (world == u"unmovable"_s) {
        stays << u".qelvo.ini.saving"_s;
        posix::calls().renameat.function = [](int from, const char* name, int to, const char* as) {
            errno = EPERM;
            return QByteArrayView(name) == ".qelvo.ini.saving"
                       ? -1
                       : posix::systemCalls().renameat(from, name, to, as);
        };
    } else if (world == u"replaced meanwhile"_s) {
        // Between the look and the move another writer puts its own lock in the place.
        QVERIFY(samples::writeFile(
            mDir.filePath(u".qelvo.ini.saving."_s + QString::fromLatin1(gLive.split(' ')[0])), ""));
        posix::calls().renameat.function = [](int from, const char* name, int to, const char* as) {
            if (QByteArrayView(name) == ".qelvo.ini.saving" && QByteArrayView(as).endsWith('~')) {
                const posix::Descriptor file(
                    posix::systemCalls().openat(from, name, O_WRONLY | O_TRUNC, 0));
                posix::systemCalls().write(file.get(), gLive.constData(),
                                           static_cast<size_t>(gLive.size()));
            }
            return posix::systemCalls().renameat(from, name, to, as);
        };
    } else if (world.startsWith(u"file replaced before"_s)) {
        beforeReplace = [&] {
            if (toldBefore++ == 0 || world.endsWith(u"every rename"_s)) {
                QVERIFY(samples::writeFile(mPath, "another " + QByteArray::number(toldBefore)));
            }
        };
    }
    const auto save = [&] {
        return filestore::update(
            mPath,
            [&bytes](const filestore::ReadResult& read) {
                return std::optional(read.bytes == oldFile() ? bytes : read.bytes + '+');
            },
            beforeReplace);
    };
    std::optional<posix::Error> error = save();
    // Closed again and again, as the box that tells of the wait invites the user to.
    for (int again = 1; world.endsWith(u"saved again"_s) && error && again < 25; ++again) {
        error = save();
    }
    if (zombie > 0) {
        ::waitpid(zombie, nullptr, 0);
    }
    const int told = !error                                              ? 0
                     : error->kind == posix::Error::Kind::LockNamesTaken ? -1
                     : error->kind == posix::Error::Kind::TakenOver      ? -3
                                                                         : error->code;
    QCOMPARE(told, reported);
    QCOMPARE(samples::readFile(mPath), world.startsWith(u"file replaced before"_s)
                                           ? "another "_ba.append(reported ? "3" : "1+")
                                       : reported != 0 && reported != EIO ? oldFile()
                                                                          : newFile());
    // Not a moment more, nor less.
    QCOMPARE(setUp.slept(), std::chrono::milliseconds(waited));
    const bool written = reported == 0 || reported == EIO;
    QCOMPARE(toldBefore, world.endsWith(u"before the rename"_s) ? 2
                         : reported == -3                       ? 3
                         : written                              ? 1
                                                                : 0);
    QCOMPARE(samples::strayFiles(mDir.path()), stays);
    // A lock waited for or passed over is left exactly as it was, and one waited for named.
    if (stays.contains(u".qelvo.ini.saving"_s) && QFileInfo(lockPath).isFile()) {
        QCOMPARE(samples::readFile(lockPath), before);
    }
    if (reported == int(EBUSY) || reported == -1) {
        QCOMPARE(error->file, QFile::encodeName(lockPath));
    }
}

void TestFileStore::stalledWriterKeepsItsLines_data()
{
    QTest::addColumn<QString>("world");
    QTest::newRow("local disk") << QString();
    QTest::newRow("sshfs: an inode per name, a name taken told as EPERM") << u"sshfs"_s;
    QTest::newRow("a writer this machine cannot judge (hidden, another namespace)") << u"hidden"_s;
    QTest::newRow("a writer whose clock is two years ahead") << u"clock ahead"_s;
}

void TestFileStore::stalledWriterKeepsItsLines()
{
    // A writer stopped before each call of its save in turn while another saves, taking its lock
    // over once seen unchanged for a minute; then it goes on: before its check it finds its lock
    // taken, before its rename its new file. Each line is saved once, and nothing else is left.
    QFETCH(QString, world);
    const auto adding = [this](const QByteArray& line) {
        return filestore::update(mPath, [&line](const filestore::ReadResult& read) {
            return std::optional(read.bytes + line);
        });
    };
    for (int nth = 1;; ++nth) {
        QVERIFY(samples::writeFile(mPath, oldFile()));
        World setUp;
        if (world == u"sshfs"_s) {
            setUp.inodePerName();
            setUp.takenNameRefused();
        }
        const pid_t stalled = ::fork();
        // A failed check leaves no process stopped.
        const auto reaped = qScopeGuard([stalled] {
            if (stalled > 0 && ::waitpid(stalled, nullptr, WNOHANG) == 0) {
                ::kill(stalled, SIGKILL);
                ::waitpid(stalled, nullptr, 0);
            }
        });
        if (stalled == 0) {
            if (world == u"clock ahead"_s) {
                setUp.clockAhead(std::chrono::hours(24 * 730));
            }
            CallWatch watch;
            watch.stopAt(nth);
            ::_exit(adding("A\r\n") ? 1 : 0);
        }
        int status = -1;
        QCOMPARE(::waitpid(stalled, &status, WUNTRACED), stalled);
        if (!WIFSTOPPED(status)) {
            QCOMPARE(status, 0); // its save made fewer calls: it is done
            break;
        }
        setUp.stillTime();
        if (world == u"hidden"_s) {
            setUp.hiddenProcesses();
        }
        std::optional<posix::Error> error;
        for (int close = 0; close < 25 && (!close || error); ++close) {
            error = adding("B\r\n");
        }
        QVERIFY2(!error, qPrintable(QString::number(nth)));
        ::kill(stalled, SIGCONT);
        QCOMPARE(::waitpid(stalled, &status, 0), stalled);
        QCOMPARE(status, 0);
        const QByteArray saved = samples::readFile(mPath);
        QVERIFY2(saved.count("A\r\n") == 1 && saved.count("B\r\n") == 1 &&
                     saved.size() == oldFile().size() + 6,
                 qPrintable(QString::number(nth) + u' ' + QString::fromLatin1(saved.right(12))));
        QCOMPARE(samples::strayFiles(mDir.path()), QStringList());
    }
}

void TestFileStore::startTakesAwayWhatEndedSavesLeft()
{
    // What saves cut short left beside the history, and a save that lives: the start takes away
    // the lock and new file of an ended writer, and an earlier version's file of an ended
    // process, at once; the living writer's, and a file no writer's name names, once it has
    // seen them unchanged for a minute.
    const pid_t parent = ::getppid();
    const posix::ProcessIdentity& self = posix::ProcessIdentity::self();
    const QByteArray ended = samples::lockLine(999999999, "1", 0);
    const QByteArray live = samples::lockLine(parent, startOf(parent), 0);
    const auto newFileOf = [](const QByteArray& lock) {
        return u".qelvo.ini.saving."_s + QString::fromLatin1(lock.left(lock.indexOf(' ')));
    };
    const QStringList later{u".qelvo.ini.saving-1"_s, newFileOf(live), u".qelvo.ini.saving.7f3a"_s};
    for (const auto& [name, bytes] :
         {std::pair{u".qelvo.ini.saving"_s, ended},
          {newFileOf(ended), "x"},
          {u".qelvo.ini.saving."_s +
               QString::fromLatin1(self.machine + '-' + self.boot + "-999999999-1"),
           "earlier"},
          {later[0], live},
          {later[1], "x"},
          {later[2], "x"}}) {
        QVERIFY(samples::writeFile(mDir.filePath(name), bytes));
    }
    World setUp;
    setUp.stillTime();
    filestore::tidy(mPath);
    QCOMPARE(samples::strayFiles(mDir.path()), later);
    QCOMPARE(samples::readFile(mDir.filePath(later[0])), live);
    posix::sleepFor(filestore::SaveLock::kLeftBehindAfter);
    filestore::tidy(mPath);
    QCOMPARE(samples::strayFiles(mDir.path()), QStringList());
    QCOMPARE(samples::readFile(mPath), oldFile());
}

void TestFileStore::groupNotKeptLosesItsAccess()
{
    if (::geteuid() != 0) {
        QSKIP("needs root to give a file a group that its owner is not in");
    }
    // The owner's file, readable and writable by its group, saved by a member of the group, then
    // by its owner, who is not in it: the group and its access are kept, or go with no access.
    constexpr uid_t kOwner = 65534;
    constexpr gid_t kGroup = 65532;
    const QByteArray folder = QFile::encodeName(mDir.path());
    const QByteArray file = QFile::encodeName(mPath);
    QCOMPARE(::chown(folder.constData(), kOwner, kGroup), 0);
    QCOMPARE(::chmod(folder.constData(), 0770), 0);
    for (const uid_t writer : {uid_t{65533}, kOwner}) {
        QVERIFY(samples::writeFile(mPath, oldFile()));
        QCOMPARE(::chown(file.constData(), kOwner, kGroup), 0);
        QCOMPARE(::chmod(file.constData(), 0660), 0);
        const pid_t saving = ::fork();
        if (saving == 0) {
            const std::array<gid_t, 1> groups{kGroup};
            ::_exit(::setgroups(writer != kOwner ? 1 : 0, groups.data()) == 0 &&
                            ::setgid(writer) == 0 && ::setuid(writer) == 0 &&
                            !filestore::replaceAtomically(mPath, newFile())
                        ? 0
                        : 1);
        }
        int status = -1;
        ::waitpid(saving, &status, 0);
        QCOMPARE(status, 0);
        struct stat after {};
        QCOMPARE(::stat(file.constData(), &after), 0);
        QCOMPARE(after.st_gid, writer != kOwner ? kGroup : gid_t{kOwner});
        QCOMPARE(after.st_mode & 07777U, writer != kOwner ? 0660U : 0600U);
    }
    QCOMPARE(::chown(folder.constData(), 0, 0), 0);
    QCOMPARE(samples::readFile(mPath), newFile());
}

void TestFileStore::attributesCarriedOver()
{
    const QByteArray file = QFile::encodeName(mPath);
    const QByteArray acl = accessList(65534);
    if (::setxattr(file.constData(), "user.note", "x", 1, 0) != 0 ||
        ::setxattr(file.constData(), "system.posix_acl_access", acl.constData(),
                   static_cast<size_t>(acl.size()), 0) != 0) {
        QSKIP("this file system keeps no access lists or user attributes");
    }
    struct stat before {};
    QCOMPARE(::stat(file.constData(), &before), 0);
    QVERIFY(!filestore::replaceAtomically(mPath, newFile()));
    struct stat after {};
    QCOMPARE(::stat(file.constData(), &after), 0);
    QCOMPARE(samples::readFile(mPath), newFile());
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(attribute(mPath, "system.posix_acl_access"), acl);
    QCOMPARE(attribute(mPath, "user.note"), QByteArray("x"));

    // A private file stays private, and an access list that the folder gives new files does not
    // widen a file that had none.
    QVERIFY(::removexattr(file.constData(), "system.posix_acl_access") == 0);
    QVERIFY(::chmod(file.constData(), 0600) == 0);
    const QByteArray folder = QFile::encodeName(mDir.path());
    QVERIFY(::setxattr(folder.constData(), "system.posix_acl_default", acl.constData(),
                       static_cast<size_t>(acl.size()), 0) == 0);
    QVERIFY(!filestore::replaceAtomically(mPath, oldFile()));
    QVERIFY(::removexattr(folder.constData(), "system.posix_acl_default") == 0);
    QCOMPARE(::stat(file.constData(), &after), 0);
    QCOMPARE(after.st_mode & 07777U, 0600U);
    QCOMPARE(attribute(mPath, "system.posix_acl_access"), QByteArray());
}

void TestFileStore::readLimit()
{
    const QByteArray limit(filestore::kMaxFileSize, ';');
    QVERIFY(!filestore::replaceAtomically(mPath, limit));
    QCOMPARE(filestore::readWhole(mPath).bytes.size(), filestore::kMaxFileSize);
    // One byte more could not be read back: it is not written.
    const std::optional<posix::Error> error = filestore::replaceAtomically(mPath, limit + ';');
    QVERIFY(error);
    QCOMPARE(error->kind, posix::Error::Kind::TooLarge);
    QCOMPARE(samples::readFile(mPath).size(), filestore::kMaxFileSize);
    QVERIFY(samples::writeFile(mPath, limit + ';'));
    QCOMPARE(filestore::readWhole(mPath).error->kind, posix::Error::Kind::TooLarge);
    // Large files are read into huge pages, placed apart from where their block starts.
    constexpr qsizetype kMiB = qsizetype{1024} * 1024;
    for (const qsizetype size : {kMiB - 1, kMiB, 2 * kMiB - 1, 2 * kMiB, 2 * kMiB + 1}) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i) {
            bytes[i] = static_cast<char>(i % 251);
        }
        QVERIFY(samples::writeFile(mPath, bytes));
        const QByteArray read = filestore::readWhole(mPath).bytes;
        QCOMPARE(read, bytes);
        // Starting on a huge page's boundary shows that moving the block's start copied nothing.
        const auto address = reinterpret_cast<std::uintptr_t>(read.constData());
        QVERIFY(size < kMiB || address % (2 * kMiB) == 0);
    }
    // A file may hold more than its size says when it is read (the kernel's own files say 0).
    QCOMPARE(filestore::readWhole(u"/proc/self/mountinfo"_s).bytes,
             samples::readFile(u"/proc/self/mountinfo"_s));
}

QTEST_GUILESS_MAIN(TestFileStore)
#include "tst_filestore.moc"
