#include "desktop/programfolder.h"
#include "desktop/singleinstance.h"
#include "desktop/terminationsignals.h"
#include "support/samples.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

class TestDesktop : public QObject {
    Q_OBJECT

private slots:
    void programFolder_data();
    void programFolder();
    void secondInstanceIsRefusedAndAsksForFront();
    void lockOfEndedInstanceIsTakenOver();
    void whatCannotBlockAStart();
    void terminationSignalsReachTheEventLoop();
};

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

void TestDesktop::secondInstanceIsRefusedAndAsksForFront()
{
    QTemporaryDir dir;
    desktop::SingleInstance first(QFile::encodeName(dir.path()));
    QSignalSpy raised(&first, &desktop::SingleInstance::activationRequested);
    QVERIFY(!first.isPreviousInstanceRunning());
    QVERIFY(!first.isPreviousInstanceRunning()); // asking again changes nothing
    {
        // Another name of the same folder finds the same running copy.
        const QString link = dir.path() + u".link"_s;
        QVERIFY(QFile::link(dir.path(), link));
        desktop::SingleInstance second(QFile::encodeName(link + u"/."_s));
        QVERIFY(second.isPreviousInstanceRunning());
        QFile::remove(link);
    }
    QVERIFY(raised.wait(5000));
    QTemporaryDir other;
    desktop::SingleInstance elsewhere(QFile::encodeName(other.path()));
    QVERIFY(!elsewhere.isPreviousInstanceRunning());
}

void TestDesktop::lockOfEndedInstanceIsTakenOver()
{
    QTemporaryDir dir;
    // A copy that ends without a word, as a crash or kill -9 ends it, leaves no lock behind.
    const pid_t child = fork();
    if (child == 0) {
        desktop::SingleInstance running(QFile::encodeName(dir.path()));
        _exit(running.isPreviousInstanceRunning() ? 1 : 0);
    }
    int status = -1;
    waitpid(child, &status, 0);
    QCOMPARE(WEXITSTATUS(status), 0);
    desktop::SingleInstance instance(QFile::encodeName(dir.path()));
    QVERIFY(!instance.isPreviousInstanceRunning());
}

void TestDesktop::whatCannotBlockAStart()
{
    // A folder that cannot be locked lets the program run.
    QTemporaryDir dir;
    desktop::SingleInstance missing(QFile::encodeName(dir.filePath(u"missing"_s)));
    QVERIFY(!missing.isPreviousInstanceRunning());

    // A lock that another user's program holds on the folder does not count.
    if (::geteuid() == 0) {
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
        std::array<int, 2> ready{};
        QCOMPARE(::pipe(ready.data()), 0);
        const pid_t other = fork();
        if (other == 0) {
            const int fd = ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY);
            const bool locked =
                ::setuid(65534) == 0 && fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
            [[maybe_unused]] const ssize_t told = ::write(ready[1], locked ? "y" : "n", 1);
            ::pause();
            _exit(0);
        }
        char locked = 0;
        QCOMPARE(::read(ready[0], &locked, 1), ssize_t{1});
        QCOMPARE(locked, 'y');
        desktop::SingleInstance mine(QFile::encodeName(dir.path()));
        QVERIFY(!mine.isPreviousInstanceRunning());
        ::kill(other, SIGKILL);
        waitpid(other, nullptr, 0);
    }

    // A runtime folder that others may write to is not used.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    QVERIFY(QDir().mkpath(dir.filePath(u"shared"_s)));
    QVERIFY(::chmod(QFile::encodeName(dir.filePath(u"shared"_s)).constData(), 0777) == 0);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.filePath(u"shared"_s)));
    const QByteArray folder = desktop::privateRuntimeFolder();
    QCOMPARE(folder, "/tmp/qelvo-" + QByteArray::number(::getuid()));
    QVERIFY(QDir(dir.filePath(u"shared"_s)).isEmpty());

    // Anything left where the socket goes is replaced by the copy holding the lock.
    struct stat status {};
    QVERIFY(::stat(QFile::encodeName(dir.path()).constData(), &status) == 0);
    const QString socket =
        QFile::decodeName(folder) +
        u"/qelvo-%1-%2.socket"_s.arg(status.st_dev, 0, 16).arg(status.st_ino, 0, 16);
    QVERIFY(samples::writeFile(socket, "garbage"));
    desktop::SingleInstance first(QFile::encodeName(dir.path()));
    QSignalSpy raised(&first, &desktop::SingleInstance::activationRequested);
    QVERIFY(!first.isPreviousInstanceRunning());
    desktop::SingleInstance second(QFile::encodeName(dir.path()));
    QVERIFY(second.isPreviousInstanceRunning());
    QVERIFY(raised.wait(5000));
    runtime.isNull() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", runtime);
}

void TestDesktop::terminationSignalsReachTheEventLoop()
{
    desktop::TerminationSignals signals_;
    QSignalSpy received(&signals_, &desktop::TerminationSignals::received);
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        ::raise(signalNumber);
        QVERIFY(received.wait(5000));
        QCOMPARE(received.takeFirst().at(0).toInt(), signalNumber);
    }
}

QTEST_GUILESS_MAIN(TestDesktop)
#include "tst_desktop.moc"
