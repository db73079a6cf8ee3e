#include "history/filestore.h"
#include "history/historyfile.h"
#include "history/journal.h"
#include "posix/files.h"
#include "support/callwatch.h"
#include "support/samples.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

using samples::linesOf;
using samples::readFile;
using samples::writeFile;

QByteArray bytes(int n)
{
    return samples::line(n).toLatin1();
}

history::HistoryLines lines(std::initializer_list<int> numbers)
{
    QStringList texts;
    for (const int n : numbers) {
        texts << samples::line(n);
    }
    return linesOf(texts);
}

history::HistoryLines operator+(history::HistoryLines a, const history::HistoryLines& b)
{
    for (qsizetype i = 0; i < b.size(); ++i) {
        a.append(b.at(i));
    }
    return a;
}

// While it lives, no file of this process may grow beyond limit bytes, and a write that would
// fails with EFBIG instead of ending the process: a disk that is full at that size.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        ::getrlimit(RLIMIT_FSIZE, &mOld);
        mOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{limit, mOld.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &mOld);
        std::signal(SIGXFSZ, mOldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit mOld{};
    void (*mOldHandler)(int) = nullptr;
};

} // namespace

class TestHistoryFile : public QObject {
    Q_OBJECT

private slots:
    void init();
    void parseCount_data();
    void parseCount();
    void fourRuns();
    void closingWithoutChanges();
    void missingLineKey();
    void saveAddsToTheFileAsItIsNow_data();
    void saveAddsToTheFileAsItIsNow();
    void negativeStoredCount();
    void damagedCountChangesNothing_data();
    void damagedCountChangesNothing();
    void longValueReadAs255Bytes();
    void fullDiskKeepsTheOldFile_data();
    void fullDiskKeepsTheOldFile();
    void onlyRegularFilesOfBoundedSize_data();
    void onlyRegularFilesOfBoundedSize();
    void linkStaysALink();
    void longNamesFit();
    void filesOfWindowsTools();
    void withoutPermission();
    void linesCopiedOutOfOrder();

private:
    QTemporaryDir mDir;
    QString mPath;
};

void TestHistoryFile::init()
{
    mPath = mDir.filePath(u"qelvo.ini"_s);
    QFile::remove(mPath);
}

void TestHistoryFile::parseCount_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<std::optional<qint32>>("count");
    QTest::newRow("0") << QByteArray("0") << std::optional<qint32>(0);
    QTest::newRow("-2") << QByteArray("-2") << std::optional<qint32>(-2);
    QTest::newRow("+5") << QByteArray("+5") << std::optional<qint32>(5);
    QTest::newRow("largest list") << QByteArray("32767") << std::optional<qint32>(32767);
    QTest::newRow("lowest 32-bit")
        << QByteArray("-2147483648") << std::optional<qint32>(-2147483647 - 1);
    QTest::newRow("above the list") << QByteArray("32768") << std::optional<qint32>();
    QTest::newRow("above 32 bits") << QByteArray("2147483648") << std::optional<qint32>();
    QTest::newRow("below 32 bits") << QByteArray("-2147483649") << std::optional<qint32>();
    QTest::newRow("empty") << QByteArray("") << std::optional<qint32>();
    QTest::newRow("sign alone") << QByteArray("-") << std::optional<qint32>();
    QTest::newRow("inner blank") << QByteArray("1 2") << std::optional<qint32>();
}

void TestHistoryFile::parseCount()
{
    QFETCH(QByteArray, text);
    QFETCH(std::optional<qint32>, count);
    QCOMPARE(history::parseCount(text), count);
}

void TestHistoryFile::fourRuns()
{
    // First run: three lines kept; the file is created.
    QVERIFY(history::loadHistory(mPath).lines.isEmpty());
    QVERIFY(!QFile::exists(mPath));
    QVERIFY(!history::saveHistory(mPath, lines({1, 2, 3}), 0).failure);
    QCOMPARE(readFile(mPath), "[History]\r\nData=3\r\nHis1=" + bytes(1) + "\r\nHis2=" + bytes(2) +
                                  "\r\nHis3=" + bytes(3) + "\r\n");

    // Second run: two more; the first three are not touched.
    history::LoadResult loaded = history::loadHistory(mPath);
    QCOMPARE(loaded.lines, lines({1, 2, 3}));
    QVERIFY(writeFile(mPath, QByteArray(readFile(mPath)).replace(bytes(2), "kept as it is")));
    QVERIFY(!history::saveHistory(mPath, loaded.lines + lines({4, 5}), 3).failure);
    const QByteArray five = "[History]\r\nData=5\r\nHis1=" + bytes(1) + "\r\nHis2=kept as it is" +
                            "\r\nHis3=" + bytes(3) + "\r\nHis4=" + bytes(4) +
                            "\r\nHis5=" + bytes(5) + "\r\n";
    QCOMPARE(readFile(mPath), five);

    // Third run: five loaded, cleared, one new line kept.
    QCOMPARE(history::loadHistory(mPath).lines.size(), 5);
    QCOMPARE(history::readStoredCount(mPath).value, 5);
    QVERIFY(!history::clearHistory(mPath, history::loadHistory(mPath).lines).failure);
    QCOMPARE(readFile(mPath),
             QByteArray("[History]\r\nData=0\r\nHis1=\r\nHis2=\r\nHis3=\r\nHis4=\r\nHis5=\r\n"));
    const history::SaveResult saved = history::saveHistory(mPath, lines({6}), 0);
    QCOMPARE(saved.countBefore, 0);
    QCOMPARE(readFile(mPath), "[History]\r\nData=1\r\nHis1=" + bytes(6) +
                                  "\r\nHis2=\r\nHis3=\r\nHis4=\r\nHis5=\r\n");

    // Fourth run: one line.
    QCOMPARE(history::loadHistory(mPath).lines, lines({6}));
}

void TestHistoryFile::closingWithoutChanges()
{
    QVERIFY(!history::saveHistory(mPath, history::HistoryLines(), 0).failure);
    QCOMPARE(readFile(mPath), QByteArray("[History]\r\nData=0\r\n"));
    const QByteArray file = "; mine\r\n[History]\r\nData=2\r\nHis1=a\r\nHis2=b\r\n[Other]\r\nx=1";
    QVERIFY(writeFile(mPath, file));
    QVERIFY(!history::saveHistory(mPath, linesOf({u"a"_s, u"b"_s}), 2).failure);
    QCOMPARE(readFile(mPath), file);
    // A clear of a stored count of 0 writes nothing at all.
    QVERIFY(writeFile(mPath, "[History]\nData=0"));
    QVERIFY(!history::clearHistory(mPath, {}).failure);
    QCOMPARE(readFile(mPath), QByteArray("[History]\nData=0"));
}

void TestHistoryFile::missingLineKey()
{
    // A key with a leading zero is another key.
    QVERIFY(writeFile(
        mPath, "[History]\r\nData=5\r\nHis1=a\r\nHis2=b\r\nHis03=c\r\nHis4=d\r\nHis5=e\r\n"));
    const history::LoadResult loaded = history::loadHistory(mPath);
    QCOMPARE(loaded.lines, linesOf({u"a"_s, u"b"_s, QString(), u"d"_s, u"e"_s}));
    QVERIFY(!history::saveHistory(mPath, loaded.lines + linesOf({u"f"_s, u"g"_s}), 5).failure);
    QCOMPARE(readFile(mPath),
             QByteArray("[History]\r\nData=7\r\nHis1=a\r\nHis2=b\r\nHis03=c\r\nHis4=d\r\nHis5=e\r\n"
                        "His6=f\r\nHis7=g\r\n"));
}

void TestHistoryFile::saveAddsToTheFileAsItIsNow_data()
{
    QTest::addColumn<QByteArray>("now");
    QTest::addColumn<QStringList>("own");
    QTest::addColumn<QByteArray>("saved"); // empty: too many to add
    // The run loaded "a" and "b" and drew "x"; meanwhile another program may have saved.
    const QByteArray head = "[History]\r\nData=";
    const QByteArray two = "\r\nHis1=a\r\nHis2=b\r\n";
    QTest::newRow("unchanged") << head + '2' + two << QStringList{u"x"_s}
                               << head + '3' + two + "His3=x\r\n";
    QTest::newRow("lines added meanwhile")
        << head + '4' + two + "His3=c\r\nHis4=d\r\n"
        << QStringList{u"x"_s} << head + '5' + two + "His3=c\r\nHis4=d\r\nHis5=x\r\n";
    QTest::newRow("cleared meanwhile")
        << QByteArray("[History]\r\nData=0\r\nHis1=\r\nHis2=\r\n") << QStringList{u"x"_s}
        << QByteArray("[History]\r\nData=1\r\nHis1=x\r\nHis2=\r\n");
    // What used to blank the keys above the run's count.
    const QByteArray five = "[History]\r\nData=5\r\nHis1=a\r\nHis2=b\r\nHis3=c\r\nHis4=d\r\n"
                            "His5=e\r\n";
    QTest::newRow("more stored than the run knows, nothing drawn") << five << QStringList() << five;
    QTest::newRow("count negative now")
        << QByteArray("[History]\r\nData=-2\r\n") << QStringList{u"x"_s, u"y"_s}
        << QByteArray("[History]\r\nData=2\r\nHis1=x\r\nHis2=y\r\n");
    QTest::newRow("full meanwhile")
        << samples::historyFile(history::kMaxLines) << QStringList{u"x"_s} << QByteArray();
}

void TestHistoryFile::saveAddsToTheFileAsItIsNow()
{
    QFETCH(QByteArray, now);
    QFETCH(QStringList, own);
    QFETCH(QByteArray, saved);
    QVERIFY(writeFile(mPath, now));
    const history::HistoryLines loaded = linesOf({u"a"_s, u"b"_s});
    std::optional<qint32> told;
    const history::SaveResult result = history::saveHistory(
        mPath, loaded + linesOf(own), loaded.size(), [&told](qint32 after) { told = after; });
    if (saved.isEmpty()) {
        QCOMPARE(result.failure->kind, history::Failure::Kind::Full);
        QCOMPARE(readFile(mPath), now);
        return;
    }
    QVERIFY(!result.failure);
    QCOMPARE(readFile(mPath), saved);
    // The count the lines went after, as a journal needs it; nothing to tell without lines.
    const qint32 after = history::readStoredCount(mPath).value - static_cast<qint32>(own.size());
    QCOMPARE(told, own.isEmpty() ? std::nullopt : std::optional(after));
}

void TestHistoryFile::negativeStoredCount()
{
    QVERIFY(writeFile(mPath, "[History]\r\nData=-2\r\nHis1=old\r\n"));
    QVERIFY(history::loadHistory(mPath).lines.isEmpty());
    QCOMPARE(history::readStoredCount(mPath).value, -2);
    QVERIFY(!history::clearHistory(mPath, {}).failure);
    QCOMPARE(readFile(mPath), QByteArray("[History]\r\nData=0\r\nHis1=old\r\n"));
}

void TestHistoryFile::damagedCountChangesNothing_data()
{
    QTest::addColumn<QByteArray>("count");
    QTest::newRow("letters") << QByteArray("many");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("beyond the list") << QByteArray("40000");
    QTest::newRow("beyond 32 bits") << QByteArray("2147483648");
}

void TestHistoryFile::damagedCountChangesNothing()
{
    QFETCH(QByteArray, count);
    const QByteArray file = "[History]\r\nData=" + count + "\r\nHis1=a\r\n";
    QVERIFY(writeFile(mPath, file));

    const history::LoadResult loaded = history::loadHistory(mPath);
    QVERIFY(loaded.failure);
    QCOMPARE(loaded.failure->kind, history::Failure::Kind::DamagedCount);
    QCOMPARE(loaded.failure->storedCount, count);
    QCOMPARE(loaded.failure->path, mPath);
    QVERIFY(loaded.lines.isEmpty());

    const history::SaveResult saved = history::saveHistory(mPath, linesOf({u"a"_s, u"b"_s}), 0);
    QVERIFY(saved.failure);
    QCOMPARE(saved.failure->kind, history::Failure::Kind::DamagedCount);
    QCOMPARE(readFile(mPath), file);
}

void TestHistoryFile::longValueReadAs255Bytes()
{
    QVERIFY(writeFile(mPath, "[History]\r\nData=1\r\nHis1=" + QByteArray(300, 'x') + "\r\n"));
    QCOMPARE(history::loadHistory(mPath).lines, linesOf({QString(255, u'x')}));
}

void TestHistoryFile::fullDiskKeepsTheOldFile_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<bool>("clear");
    QTest::addColumn<double>("room");
    // Small files are where a buffered write used to report success after a short flush.
    QTest::newRow("save, 4.5 KB file, half the room") << 100 << false << 0.5;
    QTest::newRow("clear, 4.5 KB file, half the room") << 100 << true << 0.5;
    QTest::newRow("save, one byte short") << 100 << false << 1.0;
    QTest::newRow("clear, one byte short") << 100 << true << 1.0;
}

void TestHistoryFile::fullDiskKeepsTheOldFile()
{
    QFETCH(int, stored);
    QFETCH(bool, clear);
    QFETCH(double, room);
    const QByteArray old = samples::historyFile(stored);
    const history::HistoryLines more = samples::numberedLines(stored + 10);
    const auto operate = [&] {
        return clear ? history::clearHistory(mPath, samples::numberedLines(stored)).failure
                     : history::saveHistory(mPath, more, stored).failure;
    };
    // The new file's size, from the same operation with room enough.
    QVERIFY(writeFile(mPath, old));
    QVERIFY(!operate());
    const auto size = static_cast<double>(readFile(mPath).size());
    const auto limit = static_cast<rlim_t>(room < 1.0 ? size * room : size - 1);

    QVERIFY(writeFile(mPath, old));
    std::optional<history::Failure> failure;
    {
        const FileSizeLimit full(limit);
        failure = operate();
    }
    QVERIFY(failure);
    QCOMPARE(failure->kind, history::Failure::Kind::Unwritable);
    QCOMPARE(failure->reason.code, EFBIG);
    QCOMPARE(readFile(mPath), old);
    QCOMPARE(samples::strayFiles(mDir.path()), QStringList());
}

void TestHistoryFile::onlyRegularFilesOfBoundedSize_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("reason");
    QTest::newRow("FIFO") << u"fifo"_s << int(posix::Error::Kind::NotRegularFile);
    QTest::newRow("link to /dev/zero") << u"/dev/zero"_s << int(posix::Error::Kind::NotRegularFile);
    QTest::newRow("folder") << u"folder"_s << int(posix::Error::Kind::NotRegularFile);
    QTest::newRow("larger than the bound") << u"large"_s << int(posix::Error::Kind::TooLarge);
}

void TestHistoryFile::onlyRegularFilesOfBoundedSize()
{
    QFETCH(QString, kind);
    QFETCH(int, reason);
    const QByteArray path = QFile::encodeName(mPath);
    if (kind == u"fifo"_s) {
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
    } else if (kind == u"folder"_s) {
        QVERIFY(QDir().mkpath(mPath));
    } else if (kind == u"large"_s) {
        QVERIFY(
            writeFile(mPath, samples::historyFile(1) + QByteArray(filestore::kMaxFileSize, ';')));
    } else {
        QVERIFY(QFile::link(kind, mPath));
    }
    // Neither blocks nor fills the memory: the load is refused, and so are the save and clear.
    const history::LoadResult loaded = history::loadHistory(mPath);
    QVERIFY(loaded.failure);
    QCOMPARE(loaded.failure->kind, history::Failure::Kind::Unreadable);
    QCOMPARE(int(loaded.failure->reason.kind), reason);
    QVERIFY(history::saveHistory(mPath, lines({1}), 0).failure);
    QVERIFY(history::clearHistory(mPath, lines({1})).failure);
    QCOMPARE(samples::strayFiles(mDir.path()), QStringList());
    QFile::remove(mPath);
    QDir().rmdir(mPath);
}

void TestHistoryFile::linkStaysALink()
{
    const QString target = mDir.filePath(u"elsewhere.ini"_s);
    QVERIFY(writeFile(target, samples::historyFile(1)));
    QVERIFY(QFile::link(target, mPath));
    QCOMPARE(history::loadHistory(mPath).lines, lines({1}));
    QVERIFY(!history::saveHistory(mPath, lines({1, 2}), 1).failure);
    QVERIFY(QFileInfo(mPath).isSymLink());
    QCOMPARE(readFile(target), samples::historyFile(2));
    // A link to a file not made yet: the save makes it.
    QFile::remove(target);
    QVERIFY(history::loadHistory(mPath).lines.isEmpty());
    QVERIFY(!history::saveHistory(mPath, lines({1}), 0).failure);
    QVERIFY(QFileInfo(mPath).isSymLink());
    QCOMPARE(readFile(target), samples::historyFile(1));
    QFile::remove(mPath);
    QFile::remove(target);

    // A relative link names a file beside the link.
    QVERIFY(QDir(mDir.path()).mkpath(u"sub"_s));
    QCOMPARE(::symlink("sub/h.ini", QFile::encodeName(mPath).constData()), 0);
    QVERIFY(!history::saveHistory(mPath, lines({1}), 0).failure);
    QCOMPARE(readFile(mDir.filePath(u"sub/h.ini"_s)), samples::historyFile(1));
    QFile::remove(mPath);
    QDir(mDir.filePath(u"sub"_s)).removeRecursively();
}

void TestHistoryFile::longNamesFit()
{
    // A history of a name as long as a folder takes, through a link: its journal, lock and new
    // file carry the name's beginning, cut between characters to leave room for the longest end,
    // '~' and 16 digits of its SHA-256, a form every version keeps so that all find the same names.
    for (const QString& name : {QString(255, u'h'), QString(85, u'履')}) {
        const QString target = mDir.filePath(name);
        const QString digest = QString::fromLatin1(
            QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
        const auto cut = [&](int bytes) {
            return u'.' + name.left(bytes * name.size() / name.toUtf8().size()) + u'~' + digest;
        };
        QVERIFY(QFile::link(target, mPath));
        history::Journal journal;
        QVERIFY(!journal.prepare(mPath) && !journal.shown(bytes(1)));
        QStringList beside;
        QVERIFY(!history::saveHistory(mPath, lines({1}), 0,
                                      [&](qint32) { beside = samples::strayFiles(mDir.path()); })
                     .failure &&
                !journal.settled());
        journal.finish();
        QVERIFY2(beside.size() == 3 && beside.filter(cut(157)).size() == 2 &&
                     beside.contains(cut(228) + u".saving"_s),
                 qPrintable(beside.join(u' ')));
        QCOMPARE(readFile(target), samples::historyFile(1));
        QCOMPARE(samples::strayFiles(mDir.path()), QStringList{name});
        QVERIFY(QFile::remove(mPath) && QFile::remove(target));
    }
    QVERIFY(posix::besideName(-1, QByteArray(246, 'h'), ".x", 9).contains('~'));
    QVERIFY(!posix::besideName(-1, QByteArray(245, 'h'), ".x", 9).contains('~'));
}

void TestHistoryFile::filesOfWindowsTools()
{
    // Notepad's "Unicode": read as UTF-16LE and written back in it.
    const auto utf16 = [](QByteArrayView text) {
        QByteArray bytes("\xFF\xFE");
        for (const char c : text) {
            bytes.append(c).append('\0');
        }
        return bytes;
    };
    QVERIFY(writeFile(mPath, utf16("[History]\r\nData=1\r\nHis1=" + bytes(1) + "\r\n")));
    const history::LoadResult loaded = history::loadHistory(mPath);
    QCOMPARE(loaded.lines, lines({1}));
    QVERIFY(!history::saveHistory(mPath, lines({1, 2}), 1).failure);
    QCOMPARE(readFile(mPath), utf16(samples::historyFile(2)));

    // A byte order that Windows tools do not write back is refused and left alone.
    const QByteArray bigEndian = "\xFE\xFF\0[\0H";
    QVERIFY(writeFile(mPath, bigEndian));
    QCOMPARE(history::loadHistory(mPath).failure->kind, history::Failure::Kind::UnknownEncoding);
    QCOMPARE(history::saveHistory(mPath, lines({1}), 0).failure->kind,
             history::Failure::Kind::UnknownEncoding);
    QVERIFY(history::clearHistory(mPath, lines({1})).failure);
    QCOMPARE(readFile(mPath), bigEndian);
}

void TestHistoryFile::withoutPermission()
{
    if (geteuid() == 0) {
        QSKIP("root ignores permissions; tst_historyfile_unprivileged runs this as nobody");
    }
    const QByteArray file = "[History]\r\nData=1\r\nHis1=a\r\n";
    QVERIFY(writeFile(mPath, file));

    // A read-only folder: the save fails with the system's reason and the old file stays.
    QVERIFY(QFile::setPermissions(mDir.path(), QFile::ReadOwner | QFile::ExeOwner));
    const history::SaveResult saved = history::saveHistory(mPath, linesOf({u"a"_s, u"b"_s}), 1);
    QVERIFY(
        QFile::setPermissions(mDir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(saved.failure);
    QCOMPARE(saved.failure->kind, history::Failure::Kind::Unwritable);
    QCOMPARE(saved.failure->reason.code, EACCES);
    QCOMPARE(readFile(mPath), file);
    // A close that changes no byte writes nothing and so does not fail.
    QVERIFY(QFile::setPermissions(mDir.path(), QFile::ReadOwner | QFile::ExeOwner));
    const history::SaveResult unchanged = history::saveHistory(mPath, linesOf({u"a"_s}), 1);
    QVERIFY(
        QFile::setPermissions(mDir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(!unchanged.failure);

    // A clear into the read-only folder fails the same way and reports it.
    QVERIFY(QFile::setPermissions(mDir.path(), QFile::ReadOwner | QFile::ExeOwner));
    const std::optional<history::Failure> cleared =
        history::clearHistory(mPath, linesOf({u"a"_s})).failure;
    QVERIFY(
        QFile::setPermissions(mDir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(cleared);
    QCOMPARE(cleared->reason.code, EACCES);
    QCOMPARE(readFile(mPath), file);

    // A read-only file in a writable folder is not replaced behind the user's back.
    QVERIFY(QFile::setPermissions(mPath, QFile::ReadOwner));
    QCOMPARE(history::saveHistory(mPath, linesOf({u"a"_s, u"b"_s}), 1).failure->reason.code,
             EACCES);
    QCOMPARE(readFile(mPath), file);

    // An unreadable file is never overwritten: its lines could not have been loaded.
    QVERIFY(QFile::setPermissions(mPath, QFile::WriteOwner));
    const history::LoadResult loaded = history::loadHistory(mPath);
    QVERIFY(loaded.failure);
    QCOMPARE(loaded.failure->kind, history::Failure::Kind::Unreadable);
    QVERIFY(history::saveHistory(mPath, linesOf({u"z"_s}), 0).failure);
    QVERIFY(QFile::setPermissions(mPath, QFile::ReadOwner | QFile::WriteOwner));
    QCOMPARE(readFile(mPath), file);
}

void TestHistoryFile::linesCopiedOutOfOrder()
{
    // Keys come in the file's order: copied lines need not lie in the order of their positions.
    const QByteArray source = bytes(1);
    history::HistoryLines lines(source, 3);
    lines.set(2, bytes(3));
    lines.set(0, bytes(4));
    lines.set(1, source);
    lines.removeLast();
    lines.append(bytes(5));
    QCOMPARE(lines, linesOf({samples::line(4), samples::line(1), samples::line(5)}));
}

QTEST_GUILESS_MAIN(TestHistoryFile)
#include "tst_historyfile.moc"
