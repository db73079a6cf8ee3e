#include "desktop/programfolder.h"
#include "desktop/resources.h"
#include "desktop/singleinstance.h"
#include "desktop/terminationsignals.h"
#include "posix/files.h"
#include "posix/systemcalls.h"
#include "support/callwatch.h"
#include "support/samples.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using desktop::PreviousInstance;
using desktop::SingleInstance;

Q_DECLARE_METATYPE(PreviousInstance)

namespace {

constexpr uid_t kHolder = 65533;
constexpr uid_t kTester = 65534;

// Runs f in a child process and gives its exit status; the child's own checks end in it.
template <typename F> int inChild(F f)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(f());
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The lock file, looked at after each call that could take its name away.
QByteArray gLock;
bool gLockMissing = false;

int lockLooked(int result)
{
    struct stat status {};
    gLockMissing = gLockMissing || ::lstat(gLock.constData(), &status) != 0;
    return result;
}

// What previousInstance() found, as an exit status.
int asStatus(PreviousInstance found)
{
    return static_cast<int>(found);
}

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void programFolder_data();
    void programFolder();
    void secondStartBringsTheFirstForwardOnce();
    void whatCannotBlockAStart();
    void lockFileInTheWay_data();
    void lockFileInTheWay();
    void lockFileOfAnotherUser_data();
    void lockFileOfAnotherUser();
    void lockHeldByAnotherUser_data();
    void lockHeldByAnotherUser();
    void missingResources_data();
    void missingResources();
    void terminationSignals();

private:
    QByteArray mRuntime;
    std::unique_ptr<QTemporaryDir> mDir;
    QByteArray mHistory;
};

void TestDesktop::init()
{
    mRuntime = qgetenv("XDG_RUNTIME_DIR");
    mDir = std::make_unique<QTemporaryDir>();
    mHistory = QFile::encodeName(mDir->filePath(u"qelvo.ini"_s));
}

void TestDesktop::cleanup()
{
    mRuntime.isNull() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", mRuntime);
}

void TestDesktop::programFolder_data()
{
    QTest::addColumn<QByteArray>("executable");
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<bool>("named");
    QTest::newRow("folder") << QByteArray("/opt/qelvo/qelvo") << QByteArray("/opt/qelvo") << true;
    QTest::newRow("root folder") << QByteArray("/qelvo") << QByteArray("/") << true;
    QTest::newRow("UTF-8 name") << QByteArray("/opt/\xe4\xb9\xb1/qelvo")
                                << QByteArray("/opt/\xe4\xb9\xb1") << true;
    QTest::newRow("Latin-1 name") << QByteArray("/opt/caf\xe9/qelvo") << QByteArray("/opt/caf\xe9")
                                  << false;
}

void TestDesktop::programFolder()
{
    QFETCH(QByteArray, executable);
    QFETCH(QByteArray, folder);
    QFETCH(bool, named);
    const desktop::ProgramFolder found = desktop::folderOfExecutable(executable);
    QCOMPARE(found.bytes, folder);
    QCOMPARE(found.named, named);
}

void TestDesktop::secondStartBringsTheFirstForwardOnce()
{
    // A lock is a process's own: the second start is another process, launched by the desktop
    // with an activation token or without one.
    const auto secondStart = [this](const QByteArray& token = {}) {
        return inChild([this, token] {
            token.isEmpty() ? qunsetenv("XDG_ACTIVATION_TOKEN")
                            : qputenv("XDG_ACTIVATION_TOKEN", token);
            return asStatus(SingleInstance(mHistory).previousInstance());
        });
    };
    const QString runtime = mDir->filePath(u"run"_s);
    QVERIFY(QDir().mkpath(runtime));
    QVERIFY(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    SingleInstance first(mHistory);
    QSignalSpy raised(&first, &SingleInstance::activationRequested);
    QCOMPARE(first.previousInstance(), PreviousInstance::None);
    QCOMPARE(first.previousInstance(), PreviousInstance::None); // asking again changes nothing
    first.listen();
    QCOMPARE(QDir(runtime).entryList(QDir::System).size(), 1);
    QCOMPARE(secondStart("launcher-token_1"), asStatus(PreviousInstance::Activated));
    QVERIFY(raised.wait(5000));
    QCOMPARE(raised.takeFirst().at(0).toByteArray(), QByteArray("launcher-token_1"));

    // A burst of starts (or of anyone's knocks) brings the window forward once, with a token
    // that one of them sent, and leaves no descriptor open.
    const auto openDescriptors = [] { return QDir(u"/proc/self/fd"_s).count(); };
    const uint descriptors = openDescriptors();
    for (int knock = 0; knock < 50; ++knock) {
        QCOMPARE(secondStart("t" + QByteArray::number(knock)),
                 asStatus(PreviousInstance::Activated));
    }
    QTest::qWait(1200);
    QVERIFY2(!raised.isEmpty() && raised.size() <= 3, qPrintable(QString::number(raised.size())));
    QVERIFY(raised.last().at(0).toByteArray().startsWith('t'));
    QCOMPARE(openDescriptors(), descriptors);

    // Starts that keep coming bring it forward all the same, once a second; one without a token
    // asks without one.
    raised.clear();
    for (int knock = 0; knock < 20; ++knock) {
        QCOMPARE(secondStart(), asStatus(PreviousInstance::Activated));
        QTest::qWait(100);
    }
    QVERIFY(!raised.isEmpty());
    QCOMPARE(raised.first().at(0).toByteArray(), QByteArray());

    // Given up, the history is free for a new start at once, and the socket is gone.
    first.release();
    QCOMPARE(QDir(runtime).entryList(QDir::System), QStringList());
    QCOMPARE(secondStart(), asStatus(PreviousInstance::None));
}

void TestDesktop::whatCannotBlockAStart()
{
    // A folder that cannot be locked lets the program run.
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(u"cannot lock .*: No such file or directory"_s));
    SingleInstance missing(QFile::encodeName(mDir->filePath(u"missing/qelvo.ini"_s)));
    QCOMPARE(missing.previousInstance(), PreviousInstance::None);
    // A folder where the lock file cannot be made is told with the reason of that.
    {
        CallWatch watch;
        watch.failAt(1, EACCES, "openat");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"cannot lock .*: Permission"_s));
        SingleInstance readOnly(mHistory);
        QCOMPARE(readOnly.previousInstance(), PreviousInstance::None);
        QCOMPARE(readOnly.problem()->code, EACCES);
    }

    // A runtime folder that the group or others may write to is not used.
    const QString shared = mDir->filePath(u"shared"_s);
    QVERIFY(QDir().mkpath(shared));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(shared));
    for (const mode_t mode : {0770, 0707}) {
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), mode) == 0);
        QCOMPARE(desktop::privateRuntimeFolder(), "/tmp/qelvo-" + QByteArray::number(::getuid()));
    }
    const QByteArray folder = desktop::privateRuntimeFolder();
    QVERIFY(QDir(shared).isEmpty());

    // Anything left where the socket goes is replaced by the copy holding the lock.
    QVERIFY(samples::writeFile(QFile::decodeName(SingleInstance::lockFile(mHistory)), ""));
    struct stat lock {};
    QVERIFY(::stat(SingleInstance::lockFile(mHistory).constData(), &lock) == 0);
    const QString socket = QFile::decodeName(folder) +
                           u"/qelvo-%1-%2.socket"_s.arg(lock.st_dev, 0, 16).arg(lock.st_ino, 0, 16);
    QFile::remove(socket); // a socket that a killed copy left there once
    QVERIFY(samples::writeFile(socket, "garbage"));
    SingleInstance first(mHistory);
    QSignalSpy raised(&first, &SingleInstance::activationRequested);
    QCOMPARE(first.previousInstance(), PreviousInstance::None);
    first.listen();
    QCOMPARE(inChild([this] { return asStatus(SingleInstance(mHistory).previousInstance()); }),
             asStatus(PreviousInstance::Activated));
    QVERIFY(raised.wait(5000));
}

void TestDesktop::lockFileInTheWay_data()
{
    QTest::addColumn<QString>("inTheWay");
    QTest::addColumn<bool>("locked");
    QTest::newRow("folder") << u"folder"_s << false;
    QTest::newRow("link") << u"link"_s << false;
    // Its mode is not set through the other name.
    QTest::newRow("file with a second name") << u"second name"_s << false;
    // The lock file's path is longer than a path may be; the history's is not.
    QTest::newRow("long path") << u"long path"_s << true;
    // Between the open and the lock, another start gave the name to a file of its own: the lock
    // is taken on the file that has the name.
    QTest::newRow("name given to another file meanwhile") << u"renamed"_s << true;
}

void TestDesktop::lockFileInTheWay()
{
    QFETCH(QString, inTheWay);
    QFETCH(bool, locked);
    QByteArray history = mHistory;
    QList<QByteArray> folders; // made for the long path, the deepest first, removed at the end
    const auto removeFolders = qScopeGuard([&folders] {
        for (const QByteArray& folder : folders) {
            const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY);
            for (const char* name : {".qelvo.ini.lock", "qelvo.ini"}) {
                ::unlinkat(fd, name, 0);
            }
            ::close(fd);
            ::rmdir(folder.constData());
        }
    });
    const QByteArray other = QFile::encodeName(mDir->filePath(u"private"_s));
    QVERIFY(samples::writeFile(QFile::decodeName(other), "secret"));
    QVERIFY(::chmod(other.constData(), 0600) == 0);
    if (inTheWay == u"long path"_s) {
        // Folders of 200 characters down to a history path 4,090 bytes long.
        QByteArray folder = QFile::encodeName(mDir->path());
        while (folder.size() + 201 + 10 <= 4090) {
            folders.prepend(folder + '/' + QByteArray(200, 'd'));
            folder = folders.first();
            QVERIFY(::mkdir(folder.constData(), 0700) == 0);
        }
        folders.prepend(folder + '/' + QByteArray(4090 - 10 - folder.size() - 1, 'e'));
        folder = folders.first();
        QVERIFY(::mkdir(folder.constData(), 0700) == 0);
        history = folder + "/qelvo.ini";
        QCOMPARE(history.size(), 4090);
    }
    QVERIFY(samples::writeFile(QFile::decodeName(history), samples::historyFile(1)));
    QVERIFY(::chmod(history.constData(), 0644) == 0);
    const QByteArray lock = SingleInstance::lockFile(history);
    if (inTheWay == u"folder"_s) {
        QVERIFY(::mkdir(lock.constData(), 0700) == 0);
    } else if (inTheWay == u"link"_s) {
        QVERIFY(::symlink(other.constData(), lock.constData()) == 0);
    } else if (inTheWay == u"second name"_s) {
        QVERIFY(::link(other.constData(), lock.constData()) == 0);
    }
    if (!locked) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"not a plain file"_s));
    }
    static QByteArray gLockPath;
    gLockPath = lock;
    if (inTheWay == u"renamed"_s) {
        posix::calls().fcntl.function = [](int fd, int command, struct flock* lockRange) {
            if (command == F_SETLK && !gLockPath.isEmpty()) {
                const QByteArray fresh = gLockPath + ".fresh";
                samples::writeFile(QFile::decodeName(fresh), "");
                ::rename(fresh.constData(), std::exchange(gLockPath, {}).constData());
            }
            return posix::systemCalls().fcntl(fd, command, lockRange);
        };
    }
    SingleInstance instance(history);
    QCOMPARE(instance.previousInstance(), PreviousInstance::None);
    posix::resetCalls();
    // Held on the file that the name leads to: another start finds it held (by a copy that does
    // not listen here).
    if (locked) {
        QCOMPARE(
            inChild([&history] { return asStatus(SingleInstance(history).previousInstance()); }),
            asStatus(PreviousInstance::Unreachable));
    }
    QCOMPARE(instance.problem().has_value(), !locked);
    if (!locked) {
        QCOMPARE(int(instance.problem()->kind), int(desktop::LockProblem::Kind::NotAPlainFile));
    }
    struct stat status {};
    QVERIFY(::stat(other.constData(), &status) == 0);
    QCOMPARE(status.st_mode & 0777U, 0600U);
    QCOMPARE(samples::readFile(QFile::decodeName(other)), QByteArray("secret"));
}

void TestDesktop::lockFileOfAnotherUser_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("held");
    QTest::newRow("left by a sudo run") << 0644 << false;
    QTest::newRow("left, and replaced meanwhile by a start of the tester's") << 0644 << false;
    QTest::newRow("left by a sudo run under a umask of 077") << 0600 << false;
    QTest::newRow("left by a sudo run, on a file system that cannot swap") << 0644 << false;
    QTest::newRow("held by a sudo run under a umask of 077") << 0600 << true;
}

void TestDesktop::lockFileOfAnotherUser()
{
    QFETCH(int, mode);
    QFETCH(bool, held);
    if (::geteuid() != 0) {
        QSKIP("needs root to make files of other users");
    }
    // A history that the tester shares with a group, in a folder of the group's.
    constexpr gid_t kShared = 65532;
    const QByteArray folder = QFile::encodeName(mDir->path());
    QVERIFY(samples::writeFile(QFile::decodeName(mHistory), samples::historyFile(1)));
    for (const QByteArray& path : {folder, mHistory}) {
        QVERIFY(::chown(path.constData(), kHolder, kShared) == 0);
    }
    QVERIFY(::chmod(folder.constData(), 0775) == 0);
    QVERIFY(::chmod(mHistory.constData(), 0664) == 0);
    // A lock file of a sudo run, which the tester cannot open for writing.
    const QByteArray lock = SingleInstance::lockFile(mHistory);
    QVERIFY(samples::writeFile(QFile::decodeName(lock), ""));
    QVERIFY(::chmod(lock.constData(), static_cast<mode_t>(mode)) == 0);
    std::array<int, 2> ready{};
    QCOMPARE(::pipe(ready.data()), 0);
    const pid_t sudo = held ? ::fork() : 0;
    if (held && sudo == 0) {
        struct flock whole {};
        whole.l_type = F_WRLCK;
        const int fd = ::open(lock.constData(), O_RDWR);
        const char locked = fd >= 0 && ::fcntl(fd, F_SETLK, &whole) == 0 ? 1 : 0;
        [[maybe_unused]] const ssize_t told = ::write(ready[1], &locked, 1);
        ::pause();
        ::_exit(0);
    }
    char locked = 1;
    QVERIFY(!held || (::read(ready[0], &locked, 1) == 1 && locked == 1));

    const int found = inChild([this, &lock] {
        const gid_t groups[] = {kShared};
        if (::setgroups(1, groups) != 0 || ::setgid(kTester) != 0 || ::setuid(kTester) != 0) {
            return 100;
        }
        // The lock's name never goes missing while the lock is replaced: a start at that
        // instant would take a lock of its own.
        gLock = lock;
        posix::calls().unlinkat.function = [](int at, const char* name, int flags) {
            return lockLooked(posix::systemCalls().unlinkat(at, name, flags));
        };
        posix::calls().renameat.function = [](int from, const char* name, int to, const char* as) {
            return lockLooked(posix::systemCalls().renameat(from, name, to, as));
        };
        static bool meanwhile;
        static bool swaps;
        swaps = !QByteArrayView(QTest::currentDataTag()).endsWith("cannot swap");
        meanwhile = QByteArrayView(QTest::currentDataTag())
                        .endsWith("meanwhile by a start of the tester's");
        posix::calls().renameat2.function = [](int from, const char* name, int to, const char* as,
                                               unsigned int flags) {
            // Before the swap, another start of the tester's puts a lock file of its own there.
            const QByteArray fresh = gLock + ".fresh";
            if (std::exchange(meanwhile, false) &&
                samples::writeFile(QFile::decodeName(fresh), "")) {
                ::chown(fresh.constData(), static_cast<uid_t>(-1), kShared);
                ::chmod(fresh.constData(), 0664);
                ::rename(fresh.constData(), gLock.constData());
            }
            errno = EINVAL;
            return swaps ? posix::systemCalls().renameat2(from, name, to, as, flags) : -1;
        };
        SingleInstance instance(mHistory);
        const PreviousInstance previous = instance.previousInstance();
        // Told as the system's refusal, not as something else in the lock's place.
        const std::optional<desktop::LockProblem> problem = instance.problem();
        return problem        ? 110 + static_cast<int>(problem->kind)
               : gLockMissing ? 102
                              : asStatus(previous);
    });
    if (held) {
        ::kill(sudo, SIGKILL);
        ::waitpid(sudo, nullptr, 0);
    }
    // Held, it is in use and stays; left, it is taken over and made as the history is, or where
    // it cannot be, stays and the start says that it runs without a lock.
    const bool swaps = !QByteArrayView(QTest::currentDataTag()).endsWith("cannot swap");
    const bool kept = held || !swaps;
    QCOMPARE(found, !swaps ? 110 + static_cast<int>(desktop::LockProblem::Kind::System)
                           : asStatus(held ? PreviousInstance::InUse : PreviousInstance::None));
    struct stat status {};
    QVERIFY(::stat(lock.constData(), &status) == 0);
    QCOMPARE(status.st_uid, kept ? 0 : kTester);
    QCOMPARE(status.st_gid, kept ? 0 : kShared);
    QCOMPARE(status.st_mode & 0777U, kept ? static_cast<unsigned>(mode) : 0664U);
}

void TestDesktop::lockHeldByAnotherUser_data()
{
    QTest::addColumn<bool>("othersMayWrite");
    QTest::addColumn<bool>("hiddenProcesses");
    QTest::addColumn<PreviousInstance>("found");
    QTest::newRow("history others may not write: their lock is no lock")
        << false << false << PreviousInstance::None;
    QTest::newRow("history others may write: in use") << true << false << PreviousInstance::InUse;
    QTest::newRow("in use, with /proc hiding others' processes")
        << true << true << PreviousInstance::InUse;
}

void TestDesktop::lockHeldByAnotherUser()
{
    QFETCH(bool, othersMayWrite);
    QFETCH(bool, hiddenProcesses);
    QFETCH(PreviousInstance, found);
    if (::geteuid() != 0) {
        QSKIP("needs root to run the programs of two other users");
    }
    // The tester's history, in the tester's folder; the holder is another user.
    const auto asUser = [](uid_t uid) { return ::setgid(uid) == 0 && ::setuid(uid) == 0; };
    const mode_t mode = othersMayWrite ? 0666 : 0644;
    QVERIFY(samples::writeFile(QFile::decodeName(mHistory), samples::historyFile(1)));
    for (const QByteArray& path : {QFile::encodeName(mDir->path()), mHistory}) {
        QVERIFY(::chown(path.constData(), kTester, kTester) == 0);
    }
    QVERIFY(::chmod(QFile::encodeName(mDir->path()).constData(), 0755) == 0);
    QVERIFY(::chmod(mHistory.constData(), mode) == 0);
    const auto testersStart = [&] {
        return asUser(kTester) ? asStatus(SingleInstance(mHistory).previousInstance()) : 101;
    };
    // The lock file is as writable as the history.
    QCOMPARE(inChild(testersStart), asStatus(PreviousInstance::None));
    struct stat lock {};
    QVERIFY(::stat(SingleInstance::lockFile(mHistory).constData(), &lock) == 0);
    QCOMPARE(lock.st_mode & 0777U, mode);

    // The other user runs the program on the same history and keeps running.
    std::array<int, 2> ready{};
    QCOMPARE(::pipe(ready.data()), 0);
    const pid_t other = ::fork();
    if (other == 0) {
        if (!asUser(kHolder)) {
            ::_exit(1);
        }
        SingleInstance theirs(mHistory);
        const auto result = static_cast<char>(theirs.previousInstance());
        [[maybe_unused]] const ssize_t told = ::write(ready[1], &result, 1);
        ::pause();
        ::_exit(0);
    }
    char theirs = -1;
    QCOMPARE(::read(ready[0], &theirs, 1), ssize_t{1});
    QCOMPARE(theirs, char(PreviousInstance::None));

    const int mine = inChild([&] {
        if (hiddenProcesses && (::unshare(CLONE_NEWNS) != 0 ||
                                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                                ::mount("proc", "/proc", "proc", 0, "hidepid=2") != 0)) {
            return 100;
        }
        return testersStart();
    });
    ::kill(other, SIGKILL);
    ::waitpid(other, nullptr, 0);
    if (mine == 100) {
        QSKIP("this machine allows no private mount of /proc");
    }
    QCOMPARE(mine, asStatus(found));
}

void TestDesktop::missingResources_data()
{
    // Descriptors to spare under the soft and hard limits, a thread's error, what is missing.
    QTest::addColumn<int>("soft");
    QTest::addColumn<int>("hard");
    QTest::addColumn<int>("threadError");
    QTest::addColumn<int>("missing");
    using Kind = desktop::MissingResource::Kind;
    QTest::newRow("48 to spare are enough") << 48 << 48 << 0 << 2; // 2: nothing
    QTest::newRow("47 are not, with no room to raise (ulimit -n)")
        << 47 << 47 << 0 << int(Kind::Descriptors);
    QTest::newRow("too few, raised within the ceiling") << 1 << 4096 << 0 << 2;
    QTest::newRow("no thread to be had (ulimit -u)") << 48 << 48 << EAGAIN << int(Kind::Threads);
}

void TestDesktop::missingResources()
{
    QFETCH(int, soft);
    QFETCH(int, hard);
    QFETCH(int, threadError);
    QFETCH(int, missing);
    // In a child: the limits are the process's.
    QCOMPARE(inChild([&] {
                 const auto open = static_cast<rlim_t>(
                     posix::listFolder(posix::openFolder("/proc/self/fd").get()).size() - 2);
                 const rlimit limit{open + soft, open + hard};
                 CallWatch watch;
                 watch.failAt(1, threadError, threadError != 0 ? "pthread_create" : "none");
                 const auto found = ::setrlimit(RLIMIT_NOFILE, &limit) == 0
                                        ? desktop::missingResource()
                                        : desktop::MissingResource{{}, -100, 0};
                 rlimit now{};
                 ::getrlimit(RLIMIT_NOFILE, &now);
                 // Told how many are free, or raised as far as is needed.
                 const bool told =
                     found ? found->code == threadError && (threadError != 0 || found->have == soft)
                           : now.rlim_cur >= open + qMax(soft, 48);
                 return !told ? 98 : found ? int(found->kind) : 2;
             }),
             missing);
}

void TestDesktop::terminationSignals()
{
    const auto action = [](int signalNumber) {
        struct sigaction current {};
        ::sigaction(signalNumber, nullptr, &current);
        return current.sa_handler;
    };
    const auto before = action(SIGINT);
    {
        desktop::TerminationSignals signals_;
        QSignalSpy received(&signals_, &desktop::TerminationSignals::received);
        for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
            ::raise(signalNumber);
            QVERIFY(received.wait(5000));
            QCOMPARE(received.takeFirst().at(0).toInt(), signalNumber);
        }
    }
    // Afterwards a second Ctrl+C does what it did before.
    QVERIFY(action(SIGINT) == before);

    // Started by nohup, SIGHUP stays ignored, also afterwards.
    ::signal(SIGHUP, SIG_IGN);
    {
        desktop::TerminationSignals signals_;
        QSignalSpy received(&signals_, &desktop::TerminationSignals::received);
        ::raise(SIGHUP);
        QVERIFY(!received.wait(300));
        QVERIFY(action(SIGHUP) == SIG_IGN);
    }
    QVERIFY(action(SIGHUP) == SIG_IGN);
    ::signal(SIGHUP, SIG_DFL);
}

QTEST_GUILESS_MAIN(TestDesktop)
#include "tst_desktop.moc"
