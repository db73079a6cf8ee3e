#include "history/journal.h"
#include "support/callwatch.h"
#include "support/samples.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray bytes(int n)
{
    return samples::line(n).toLatin1();
}

// The journals beside the history.
QStringList journals(const QString& folder)
{
    return QDir(folder).entryList({u".qelvo.ini.*.journal"_s}, QDir::Hidden | QDir::Files);
}

} // namespace

class TestJournal : public QObject {
    Q_OBJECT

private slots:
    void replay_data();
    void replay();
    void takesOverWhatEndedRunsLeft();
    void failureIsTold_data();
    void failureIsTold();
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

void TestJournal::takesOverWhatEndedRunsLeft()
{
    QTemporaryDir dir;
    const QString history = dir.filePath(u"qelvo.ini"_s);
    // A run that ends without a word, as kill -9 ends it, after showing two lines and taking
    // one back; and one that is still running. A run makes its journal with its first line.
    const auto run = [&history](int line, bool ends) {
        std::array<int, 2> ready{};
        if (::pipe(ready.data()) != 0) {
            return pid_t{-1};
        }
        const pid_t child = ::fork();
        if (child == 0) {
            history::Journal journal;
            const bool written = !journal.open(history) && !journal.shown(bytes(line)) &&
                                 !journal.shown(bytes(6)) && !journal.takenBack();
            [[maybe_unused]] const ssize_t told = ::write(ready[1], &written, 1);
            if (!ends) {
                ::pause();
            }
            ::_exit(0);
        }
        bool written = false;
        [[maybe_unused]] const ssize_t got = ::read(ready[0], &written, 1);
        ::close(ready[0]);
        ::close(ready[1]);
        return written ? child : pid_t{-1};
    };
    const pid_t ended = run(1, true);
    QVERIFY(ended > 0);
    ::waitpid(ended, nullptr, 0);
    pid_t running = run(2, false);
    QVERIFY(running > 0);
    const auto endRunning = [&running] {
        if (running > 0) {
            ::kill(running, SIGKILL);
            ::waitpid(running, nullptr, 0);
            running = -1;
        }
    };
    const auto atEnd = qScopeGuard(endRunning);
    // A journal of another machine: whether its run lives cannot be told here.
    QVERIFY(samples::writeFile(dir.filePath(u".qelvo.ini.0abc0def-00000000-1-1-0.journal"_s),
                               "qelvo journal 1\n+" + bytes(3) + '\n'));
    QCOMPARE(journals(dir.path()).size(), 3);

    history::Journal mine;
    QVERIFY(!mine.open(history));
    // No room for the line: the journal stays for a later start.
    QCOMPARE(mine.takeOver({}, 0).waiting, 1);
    QCOMPARE(mine.takeOver({}, 1).lines, QList{bytes(1)});
    // Once taken over, no other start takes the lines again, and this run takes no more until
    // they are saved.
    history::Journal other;
    QVERIFY(!other.open(history));
    QVERIFY(other.takeOver({}, 1).lines.isEmpty());
    other.close();
    QCOMPARE(journals(dir.path()).size(), 3);
    endRunning();
    QVERIFY(mine.takeOver({}, 10).lines.isEmpty());
    QVERIFY(!mine.settled());
    QCOMPARE(mine.takeOver({}, 10).lines, QList{bytes(2)});
    QVERIFY(!mine.settled());
    mine.close();
    // Only the other machine's is left.
    QCOMPARE(journals(dir.path()).size(), 1);
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
    QVERIFY(!journal.open(history));
    CallWatch watch;
    watch.failAt(1, EIO, call);
    const std::optional<posix::Error> error = journal.shown(bytes(1));
    QVERIFY(watch.reached());
    QCOMPARE(error ? error->code : 0, EIO);
    QVERIFY(!journal.isKept());
}

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
