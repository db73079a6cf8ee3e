#include "history/historyfile.h"
#include "history/journal.h"
#include "posix/process.h"
#include "posix/systemcalls.h"
#include "support/callwatch.h"
#include "support/samples.h"
#include "support/world.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray bytes(int n)
{
    return samples::line(n).toLatin1();
}

using samples::journals;

// What a start does with what ended runs left beside the history: takes it over and saves it.
void nextStart(const QString& path)
{
    history::Journal journal;
    const history::LoadResult loaded = history::loadHistory(path);
    history::HistoryLines lines = loaded.lines;
    if (journal.prepare(path)) {
        return;
    }
    for (const QByteArray& line : journal.takeOver(lines, history::kMaxLines).lines) {
        lines.append(line);
    }
    if (lines.size() > loaded.lines.size() &&
        !history::saveHistory(path, lines, loaded.lines.size(), [&journal](qint32 after) {
             journal.saving(after);
         }).failure) {
        journal.settled();
    }
    journal.finish();
}

} // namespace

class TestJournal : public QObject {
    Q_OBJECT

private slots:
    void replay_data();
    void replay();
    void takeoverPromises_data();
    void takeoverPromises();
    void failureIsTold_data();
    void failureIsTold();
    void killAtEveryCall_data();
    void killAtEveryCall();
    void journalThatCannotGoIsEmptied();
};

void TestJournal::replay_data()
{
    using Lines = std::optional<QList<QByteArray>>;
    QTest::addColumn<QByteArray>("records");
    QTest::addColumn<Lines>("unsaved");
    const QByteArray a = '+' + bytes(1) + '\n';
    const QByteArray b = '+' + bytes(2) + '\n';
    const QByteArray taken = "<.qelvo.ini.0abc0def-1-2-3-4.journal\n";
    const Lines nothing = QList<QByteArray>();
    // The history as the next start loads it: 3 lines, then the two the run saved.
    QTest::newRow("shown, never saved") << a + b << Lines({bytes(1), bytes(2)});
    QTest::newRow("taken back after a No") << a + b + "-\n" << Lines({bytes(1)});
    QTest::newRow("saved") << a + b + "s3\n=\n" << nothing;
    QTest::newRow("saved, then one more") << a + "s3\n=\n" + b << Lines({bytes(2)});
    // The end came between the file's replacement and the journal's last record.
    QTest::newRow("save done, not recorded") << a + b + "s3\n" << nothing;
    QTest::newRow("save not done") << a + b + "s4\n" << Lines({bytes(1), bytes(2)});
    QTest::newRow("save not done, first line another") << '+' + bytes(3) + '\n' + b + "s3\n"
                                                       << Lines({bytes(3), bytes(2)});
    QTest::newRow("save failed, then one more") << a + "s3\n" + b << Lines({bytes(1), bytes(2)});
    QTest::newRow("cleared") << a + "c\n=\n" << nothing;
    QTest::newRow("clear confirmed, end before its outcome") << a + "c\n" << nothing;
    QTest::newRow("clear failed") << a + "c\n!\n" + b << Lines({bytes(1), bytes(2)});
    QTest::newRow("last record cut short") << a + b.chopped(5) << Lines({bytes(1)});
    QTest::newRow("lines taken over") << taken + a + ">\n" + b << Lines({bytes(1), bytes(2)});
    QTest::newRow("lines taken over, cut short") << taken + a << nothing;
    // What this program never writes: not one of its journals.
    QTest::newRow("not a line the draw makes") << a + '+' + bytes(9) + '\n' << Lines();
    QTest::newRow("a number twice")
        << QByteArray("+01  ;  01  ;  15  ;  23  ;  30  ;  41\n") << Lines();
    QTest::newRow("numbers out of order")
        << QByteArray("+07  ;  01  ;  15  ;  23  ;  30  ;  41\n") << Lines();
    QTest::newRow("text") << a + "+../../etc/passwd\n" << Lines();
    QTest::newRow("CRLF") << a + b.chopped(1) + "\r\n" << Lines();
    QTest::newRow("unknown record") << a + "?\n" << Lines();
    QTest::newRow("count beyond the history") << a + "s99999\n" << Lines();
    QTest::newRow("negative count") << a + "s-1\n" << Lines();
    QTest::newRow("name with a folder") << "<../x.journal\n" + a + ">\n" << Lines();
    QTest::newRow("no journal") << QByteArray("[History]\r\n") << Lines();
}

void TestJournal::replay()
{
    using Lines = std::optional<QList<QByteArray>>;
    QFETCH(QByteArray, records);
    QFETCH(Lines, unsaved);
    // Line 1 stands earlier in the history too: a repeat is no sign of a save.
    history::HistoryLines stored = samples::linesOf({samples::line(1), samples::line(8)});
    stored.append(bytes(9));
    stored.append(bytes(1));
    stored.append(bytes(2));
    const QByteArray journal =
        (QTest::currentDataTag() == QByteArrayView("no journal") ? "" : "qelvo journal 1\n") +
        records;
    const std::optional<history::Replay> replayed = history::replay(journal, stored);
    QCOMPARE(replayed ? Lines(replayed->lines) : Lines(), unsaved);
}

void TestJournal::takeoverPromises_data()
{
    // A journal of one unsaved line beside the history, whose run and file are as the row says;
    // whether the next start takes the line, and whether the file stays.
    QTest::addColumn<QString>("run");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("taken");
    // Whether a run has ended, posix::Life tells, as the save lock's rows try it.
    QTest::newRow("the lines of an ended run come back") << u"ended"_s << QString() << true;
    QTest::newRow("a run ended but not reaped (a zombie) is ended")
        << u"zombie"_s << QString() << true;
    QTest::newRow("a run that lives keeps its journal") << u"live"_s << QString() << false;
    QTest::newRow("lines that do not fit wait for a start with room")
        << u"ended"_s << u"no room"_s << false;
    QTest::newRow("a run of another machine is left for that machine")
        << u"other machine"_s << QString() << false;
    QTest::newRow("only a file of one name is read: not one with a second link")
        << u"ended"_s << u"second link"_s << false;
    QTest::newRow("not a FIFO under a journal's name") << u"ended"_s << u"fifo"_s << false;
    QTest::newRow("a group member's, in a folder the history's group shares")
        << u"ended"_s << u"group member"_s << true;
    QTest::newRow("not another user's of another group") << u"ended"_s << u"other group"_s << false;
    QTest::newRow("not a group member's the group may not write")
        << u"ended"_s << u"group may not write"_s << false;
    QTest::newRow("of two starts that find it, one has it")
        << u"ended"_s << u"claimed by another start"_s << false;
    QTest::newRow("the claim's name flushed before the lines are written, or nothing is taken")
        << u"ended"_s << u"folder flush fails"_s << false;
}

void TestJournal::takeoverPromises()
{
    QFETCH(QString, run);
    QFETCH(QString, file);
    QFETCH(bool, taken);
    QTemporaryDir dir;
    const QString history = dir.filePath(u"qelvo.ini"_s);
    QVERIFY(samples::writeFile(history, samples::historyFile(1)));
    QVERIFY(::chmod(QFile::encodeName(history).constData(), 0664) == 0);
    const posix::ProcessIdentity& self = posix::ProcessIdentity::self();
    posix::ProcessIdentity writer{self.machine, self.boot, self.space, 999999999, "1"};
    pid_t child = 0;
    World world;
    std::array<int, 2> ready{};
    QCOMPARE(::pipe(ready.data()), 0);
    if (run == u"zombie"_s) {
        child = ::fork();
        if (child == 0) {
            ::_exit(0);
        }
        QTest::qWait(50);
        writer.pid = child;
        writer.start = startOf(child);
    } else if (run == u"other machine"_s) {
        writer.machine = "0abc0def";
    } else if (run == u"live"_s) {
        // A run that drew its line and goes on: its journal is its own, locked.
        child = ::fork();
        if (child == 0) {
            history::Journal live;
            const char drawn = !live.prepare(history) && !live.shown(bytes(3)) ? 1 : 0;
            [[maybe_unused]] const ssize_t told = ::write(ready[1], &drawn, 1);
            ::pause();
            ::_exit(0);
        }
        char drawn = 0;
        QVERIFY(::read(ready[0], &drawn, 1) == 1 && drawn == 1);
    }
    ::close(ready[0]);
    ::close(ready[1]);
    const QString name =
        dir.filePath(u".qelvo.ini.%1-0.journal"_s.arg(QString::fromLatin1(writer.text())));
    const QByteArray path = QFile::encodeName(name);
    const QByteArray journal = "qelvo journal 1\n+" + bytes(3) + '\n';
    if (file == u"fifo"_s) {
        QCOMPARE(::mkfifo(path.constData(), 0666), 0);
    } else if (run != u"live"_s) {
        QVERIFY(samples::writeFile(name, journal));
    }
    if (file == u"second link"_s) {
        QCOMPARE(::link(path.constData(), QFile::encodeName(dir.filePath(u"mine"_s)).constData()),
                 0);
    } else if (file.startsWith(u"group"_s) || file == u"other group"_s) {
        if (::geteuid() != 0) {
            QSKIP("needs root to make a file of another user");
        }
        QCOMPARE(::chown(path.constData(), 65534, file == u"other group"_s ? 65534 : ::getegid()),
                 0);
        QCOMPARE(::chmod(path.constData(), file == u"group may not write"_s ? 0644 : 0664), 0);
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0775), 0);
    } else if (file == u"claimed by another start"_s) {
        posix::calls().renameat.function = [](int, const char*, int, const char*) {
            errno = ENOENT;
            return -1;
        };
    } else if (file == u"folder flush fails"_s) {
        world.folderFlushFails();
    }
    history::Journal next;
    QVERIFY(!next.prepare(history));
    const history::Journal::Taken took =
        next.takeOver(samples::linesOf({samples::line(1)}), file == u"no room"_s ? 0 : 10);
    next.finish();
    if (child > 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    // Waiting: told how many lines, for a later start.
    QCOMPARE(took.waiting, file == u"no room"_s || file == u"folder flush fails"_s ? 1 : 0);
    posix::resetCalls();
    QCOMPARE(took.lines, taken ? QList{bytes(3)} : QList<QByteArray>());
    if (!taken && file != u"fifo"_s && run != u"live"_s) {
        // Left where it stood, byte for byte, or whole under the name of the run that took it.
        const QStringList left = samples::journals(dir.path());
        QCOMPARE(left.size(), 1);
        QCOMPARE(samples::readFile(dir.filePath(left.first())), journal);
    }
    // Taken and not saved yet, the line is in this run's journal, which its end leaves.
    QVERIFY(!taken || samples::journals(dir.path()).size() == 1);
    QCOMPARE(took.error.has_value(), file == u"folder flush fails"_s);
}

void TestJournal::failureIsTold_data()
{
    QTest::addColumn<QByteArray>("call");
    // The journal's file made, like the history, and locked; its first record written.
    for (const char* call : {"openat", "fchown", "fchmod", "fcntl", "write"}) {
        QTest::newRow(call) << QByteArray(call);
    }
}

void TestJournal::failureIsTold()
{
    QFETCH(QByteArray, call);
    QTemporaryDir dir;
    const QString history = dir.filePath(u"qelvo.ini"_s);
    QVERIFY(samples::writeFile(history, samples::historyFile(1)));
    history::Journal journal;
    CallWatch watch;
    watch.failAt(1, EIO, call);
    // At once, before a line is drawn.
    const std::optional<posix::Error> error = journal.prepare(history);
    QVERIFY(watch.reached());
    QCOMPARE(error ? error->code : 0, EIO);
    QVERIFY(!journal.isKept());
    QCOMPARE(samples::journals(dir.path()), QStringList());
}

void TestJournal::killAtEveryCall_data()
{
    QTest::addColumn<QString>("run");
    // A run that draws 3 and 4 on a history of 1 and 2, then saves or clears; one that takes
    // over 5, which an ended run left, and saves it.
    QTest::newRow("save") << u"save"_s;
    QTest::newRow("clear") << u"clear"_s;
    QTest::newRow("takeover") << u"takeover"_s;
}

void TestJournal::killAtEveryCall()
{
    QFETCH(QString, run);
    // The run ended at its first system call, then at its second, and so on until it completes,
    // each time followed by a start: every line shown is saved once, or dropped by a clear that
    // the user confirmed, and no journal is left once all is saved. The run tells the test what
    // it has shown and confirmed through a pipe, outside the calls that count.
    const QStringList stored{samples::line(1), samples::line(2)};
    for (int nth = 1;; ++nth) {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"qelvo.ini"_s);
        QVERIFY(samples::writeFile(path, samples::historyFile(stored)));
        QVERIFY(run != u"takeover"_s || samples::endedRunDrew(path, bytes(5)));
        std::array<int, 2> told{};
        QCOMPARE(::pipe(told.data()), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            World world;
            world.stillTime();
            CallWatch watch;
            watch.endAt(nth);
            history::Journal journal;
            history::HistoryLines lines = samples::linesOf(stored);
            const bool opened = !journal.prepare(path);
            for (const QByteArray& line : run == u"takeover"_s ? journal.takeOver(lines, 9).lines
                                                               : QList{bytes(3), bytes(4)}) {
                lines.append(line);
                if (run != u"takeover"_s && !journal.shown(line)) {
                    [[maybe_unused]] const ssize_t shown = ::write(told[1], line.constData(), 2);
                }
            }
            if (run == u"clear"_s && !journal.clearing()) {
                [[maybe_unused]] const ssize_t confirmed = ::write(told[1], "cc", 2);
            }
            const bool done =
                run == u"clear"_s
                    ? !history::clearHistory(path, samples::linesOf(stored)).failure
                    : !history::saveHistory(path, lines, stored.size(), [&journal](qint32 after) {
                           journal.saving(after);
                       }).failure;
            journal.settled();
            journal.finish();
            ::_exit(opened && done ? 0 : 1);
        }
        int status = -1;
        ::waitpid(child, &status, 0);
        ::close(told[1]);
        QByteArray shown(64, '\0');
        shown.truncate(qMax<ssize_t>(::read(told[0], shown.data(), shown.size()), 0));
        ::close(told[0]);
        nextStart(path);
        // The ended run's line was shown: it is kept, whatever becomes of the run taking it over.
        QStringList expected = stored;
        if (run == u"takeover"_s) {
            expected << samples::line(5);
        }
        for (qsizetype at = 0; at + 1 < shown.size() && !shown.sliced(at).startsWith("cc");
             at += 2) {
            expected << samples::line(shown.sliced(at, 2).toInt());
        }
        // A confirmed clear drops the lines, whether or not it reached the file.
        const history::HistoryLines saved = history::loadHistory(path).lines;
        QVERIFY2(shown.contains("cc") ? saved == samples::linesOf(stored) || saved.isEmpty()
                                      : saved == samples::linesOf(expected),
                 qPrintable(QString::number(nth)));
        QCOMPARE(journals(dir.path()), QStringList());
        if (WIFEXITED(status)) {
            QCOMPARE(WEXITSTATUS(status), 0);
            break;
        }
    }
}

void TestJournal::journalThatCannotGoIsEmptied()
{
    // Its lines saved, a journal that cannot be removed holds nothing: no start takes them twice.
    QTemporaryDir dir;
    const QString history = dir.filePath(u"qelvo.ini"_s);
    history::Journal journal;
    QVERIFY(!journal.prepare(history));
    // Each record reaches the storage right after it is written, off the window's thread.
    const CallWatch flushes;
    for (int n = 1; n <= 2; ++n) {
        QVERIFY(!journal.shown(bytes(n)));
        QTRY_COMPARE(flushes.calls().count("fdatasync"), n);
    }
    QVERIFY(!journal.settled());
    CallWatch watch;
    watch.failAt(1, EPERM, "unlinkat");
    journal.finish();
    QVERIFY(watch.reached());
    // Closed before it is removed: sshfs keeps a file removed while open under a hidden name.
    QVERIFY(watch.calls().indexOf("close") < watch.calls().indexOf("unlinkat"));
    const QStringList left = journals(dir.path());
    QCOMPARE(left.size(), 1);
    QCOMPARE(samples::readFile(dir.filePath(left.value(0))), QByteArray());
}

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
