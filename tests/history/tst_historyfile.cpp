#include "history/historyfile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qsizetype kCapacity = 256;

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void put(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QString line(int n)
{
    return u"%1  ;  07  ;  15  ;  23  ;  30  ;  41"_s.arg(n, 2, 10, QChar(u'0'));
}
QByteArray bytes(int n)
{
    return line(n).toLatin1();
}

HistoryLines linesOf(const QStringList& texts)
{
    HistoryLines result;
    for (const QString& text : texts) {
        result.append(text.toLatin1());
    }
    return result;
}

HistoryLines lines(std::initializer_list<int> numbers)
{
    QStringList texts;
    for (const int n : numbers) {
        texts << line(n);
    }
    return linesOf(texts);
}

HistoryLines operator+(HistoryLines a, const HistoryLines& b)
{
    for (qsizetype i = 0; i < b.size(); ++i) {
        a.append(b.at(i));
    }
    return a;
}

} // namespace

class TestHistoryFile : public QObject {
    Q_OBJECT

private slots:
    void init();
    void parseCount_data();
    void parseCount();
    void lineKeys();
    void fourRuns();
    void closingWithoutChanges();
    void missingLineKey();
    void storedCountAboveListCount();
    void negativeStoredCount();
    void damagedCountChangesNothing_data();
    void damagedCountChangesNothing();
    void longValueReadAs255Bytes();
    void writeIntoMissingFolderFails();
    void killDuringSaveLeavesAWholeFile();
    void withoutPermission();

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
    QTest::newRow("12") << QByteArray("12") << std::optional<qint32>(12);
    QTest::newRow("-2") << QByteArray("-2") << std::optional<qint32>(-2);
    QTest::newRow("+5") << QByteArray("+5") << std::optional<qint32>(5);
    QTest::newRow("largest list") << QByteArray("32767") << std::optional<qint32>(32767);
    QTest::newRow("lowest 32-bit")
        << QByteArray("-2147483648") << std::optional<qint32>(-2147483647 - 1);
    QTest::newRow("above the list") << QByteArray("32768") << std::optional<qint32>();
    QTest::newRow("above 32 bits") << QByteArray("2147483648") << std::optional<qint32>();
    QTest::newRow("below 32 bits") << QByteArray("-2147483649") << std::optional<qint32>();
    QTest::newRow("very long") << QByteArray(40, '9') << std::optional<qint32>();
    QTest::newRow("empty") << QByteArray("") << std::optional<qint32>();
    QTest::newRow("letters") << QByteArray("abc") << std::optional<qint32>();
    QTest::newRow("fraction") << QByteArray("1.5") << std::optional<qint32>();
    QTest::newRow("sign alone") << QByteArray("-") << std::optional<qint32>();
    QTest::newRow("inner blank") << QByteArray("1 2") << std::optional<qint32>();
}

void TestHistoryFile::parseCount()
{
    QFETCH(QByteArray, text);
    QFETCH(std::optional<qint32>, count);
    QCOMPARE(history::parseCount(text), count);
}

void TestHistoryFile::lineKeys()
{
    QCOMPARE(history::lineKey(9), QByteArray("His9"));
    QCOMPARE(history::lineKey(10), QByteArray("His10"));
    QCOMPARE(history::lineKey(32767), QByteArray("His32767"));
}

void TestHistoryFile::fourRuns()
{
    // First run: three lines kept; the file is created.
    QVERIFY(history::loadHistory(mPath, kCapacity).lines.isEmpty());
    QVERIFY(!QFile::exists(mPath));
    QVERIFY(!history::saveHistory(mPath, lines({1, 2, 3}), kCapacity).failure);
    QCOMPARE(contents(mPath), "[History]\r\nData=3\r\nHis1=" + bytes(1) + "\r\nHis2=" + bytes(2) +
                                  "\r\nHis3=" + bytes(3) + "\r\n");

    // Second run: two more; the first three are not touched.
    history::LoadResult loaded = history::loadHistory(mPath, kCapacity);
    QCOMPARE(loaded.lines, lines({1, 2, 3}));
    put(mPath, QByteArray(contents(mPath)).replace(bytes(2), "kept as it is"));
    QVERIFY(!history::saveHistory(mPath, loaded.lines + lines({4, 5}), kCapacity).failure);
    const QByteArray five = "[History]\r\nData=5\r\nHis1=" + bytes(1) + "\r\nHis2=kept as it is" +
                            "\r\nHis3=" + bytes(3) + "\r\nHis4=" + bytes(4) +
                            "\r\nHis5=" + bytes(5) + "\r\n";
    QCOMPARE(contents(mPath), five);

    // Third run: five loaded, cleared, one new line kept.
    QCOMPARE(history::loadHistory(mPath, kCapacity).lines.size(), 5);
    history::HistoryFile file(mPath, kCapacity);
    QCOMPARE(file.storedCount().value, 5);
    QVERIFY(!history::clearStoredHistory(file, 5));
    QCOMPARE(contents(mPath),
             QByteArray("[History]\r\nData=0\r\nHis1=\r\nHis2=\r\nHis3=\r\nHis4=\r\nHis5=\r\n"));
    const history::SaveResult saved = history::saveHistory(mPath, lines({6}), kCapacity);
    QCOMPARE(saved.storedCount, 0);
    QCOMPARE(contents(mPath), "[History]\r\nData=1\r\nHis1=" + bytes(6) +
                                  "\r\nHis2=\r\nHis3=\r\nHis4=\r\nHis5=\r\n");

    // Fourth run: one line.
    QCOMPARE(history::loadHistory(mPath, kCapacity).lines, lines({6}));
}

void TestHistoryFile::closingWithoutChanges()
{
    QVERIFY(!history::saveHistory(mPath, HistoryLines(), kCapacity).failure);
    QCOMPARE(contents(mPath), QByteArray("[History]\r\nData=0\r\n"));
    const QByteArray file = "; mine\r\n[History]\r\nData=2\r\nHis1=a\r\nHis2=b\r\n[Other]\r\nx=1";
    put(mPath, file);
    QVERIFY(!history::saveHistory(mPath, linesOf({u"a"_s, u"b"_s}), kCapacity).failure);
    QCOMPARE(contents(mPath), file);
    // A clear of a stored count of 0 writes nothing at all.
    put(mPath, "[History]\nData=0");
    history::HistoryFile empty(mPath, kCapacity);
    QVERIFY(!history::clearStoredHistory(empty, 0));
    QCOMPARE(contents(mPath), QByteArray("[History]\nData=0"));
}

void TestHistoryFile::missingLineKey()
{
    put(mPath, "[History]\r\nData=5\r\nHis1=a\r\nHis2=b\r\nHis4=d\r\nHis5=e\r\n");
    const history::LoadResult loaded = history::loadHistory(mPath, kCapacity);
    QCOMPARE(loaded.lines, linesOf({u"a"_s, u"b"_s, QString(), u"d"_s, u"e"_s}));
    QVERIFY(
        !history::saveHistory(mPath, loaded.lines + linesOf({u"f"_s, u"g"_s}), kCapacity).failure);
    QCOMPARE(contents(mPath),
             QByteArray("[History]\r\nData=7\r\nHis1=a\r\nHis2=b\r\nHis4=d\r\nHis5=e\r\nHis6=f\r\n"
                        "His7=g\r\n"));
}

void TestHistoryFile::storedCountAboveListCount()
{
    put(mPath, "[History]\r\nData=5\r\nHis1=a\r\nHis2=b\r\nHis3=c\r\nHis4=d\r\nHis5=e\r\n");
    QVERIFY(!history::saveHistory(mPath, linesOf({u"x"_s, u"y"_s, u"z"_s}), kCapacity).failure);
    QCOMPARE(contents(mPath),
             QByteArray("[History]\r\nData=3\r\nHis1=a\r\nHis2=b\r\nHis3=c\r\nHis4=\r\nHis5=\r\n"));
}

void TestHistoryFile::negativeStoredCount()
{
    put(mPath, "[History]\r\nData=-2\r\nHis1=old\r\n");
    QVERIFY(history::loadHistory(mPath, kCapacity).lines.isEmpty());
    QVERIFY(!history::saveHistory(mPath, linesOf({u"a"_s, u"b"_s}), kCapacity).failure);
    QCOMPARE(contents(mPath), QByteArray("[History]\r\nData=2\r\nHis1=a\r\nHis2=b\r\n"));

    put(mPath, "[History]\r\nData=-2\r\nHis1=old\r\n");
    history::HistoryFile file(mPath, kCapacity);
    QCOMPARE(file.storedCount().value, -2);
    QVERIFY(!history::clearStoredHistory(file, -2));
    QCOMPARE(contents(mPath), QByteArray("[History]\r\nData=0\r\nHis1=old\r\n"));
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
    put(mPath, file);

    const history::LoadResult loaded = history::loadHistory(mPath, kCapacity);
    QVERIFY(loaded.failure);
    QCOMPARE(loaded.failure->kind, history::Failure::Kind::DamagedCount);
    QCOMPARE(loaded.failure->detail, QString::fromLatin1(count));
    QVERIFY(loaded.lines.isEmpty());
    const QString message = history::loadFailedMessage(*loaded.failure);
    QVERIFY(message.contains(QDir::toNativeSeparators(mPath)));
    QVERIFY(message.contains(u"「"_s + QString::fromLatin1(count) + u"」"_s));

    const history::SaveResult saved =
        history::saveHistory(mPath, linesOf({u"a"_s, u"b"_s}), kCapacity);
    QVERIFY(saved.failure);
    QCOMPARE(saved.failure->kind, history::Failure::Kind::DamagedCount);
    QCOMPARE(contents(mPath), file);
}

void TestHistoryFile::longValueReadAs255Bytes()
{
    put(mPath, "[History]\r\nData=1\r\nHis1=" + QByteArray(300, 'x') + "\r\n");
    QCOMPARE(history::loadHistory(mPath, kCapacity).lines, linesOf({QString(255, u'x')}));
}

void TestHistoryFile::writeIntoMissingFolderFails()
{
    const QString path = mDir.filePath(u"missing/qelvo.ini"_s);
    const history::SaveResult saved = history::saveHistory(path, linesOf({u"a"_s}), kCapacity);
    QVERIFY(saved.failure);
    QCOMPARE(saved.failure->kind, history::Failure::Kind::Unwritable);
    QVERIFY(!saved.failure->detail.isEmpty());
    QVERIFY(!QFileInfo::exists(mDir.filePath(u"missing"_s)));
    QVERIFY(history::saveFailedQuestion(*saved.failure).contains(u"保存せずに終了しますか"_s));
}

void TestHistoryFile::killDuringSaveLeavesAWholeFile()
{
    // The two states the child alternates between: a full history, and the same cleared.
    HistoryLines full;
    for (int k = 1; k <= history::kMaxStoredCount; ++k) {
        full.append(bytes(k % 100));
    }
    QVERIFY(!history::saveHistory(mPath, full, kCapacity).failure);
    const QByteArray saved = contents(mPath);
    history::HistoryFile file(mPath, kCapacity);
    QVERIFY(!history::clearStoredHistory(file, history::kMaxStoredCount));
    const QByteArray cleared = contents(mPath);
    QVERIFY(saved.size() > 1000000);

    for (int round = 0; round < 12; ++round) {
        QProcess child;
        child.start(QStringLiteral(SAVE_CHILD), {mPath});
        QVERIFY(child.waitForStarted());
        QTest::qWait(50 + static_cast<int>(QRandomGenerator::global()->bounded(400)));
        child.kill();
        QVERIFY(child.waitForFinished());
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        const QByteArray left = contents(mPath);
        QVERIFY2(left == saved || left == cleared,
                 qPrintable(u"round %1: %2 bytes"_s.arg(round).arg(left.size())));
        // No temporary file is left beside it.
        QCOMPARE(QDir(mDir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"qelvo.ini"_s});
    }
}

void TestHistoryFile::withoutPermission()
{
    if (geteuid() == 0) {
        QSKIP("root ignores permissions; tst_historyfile_unprivileged runs this as nobody");
    }
    const QByteArray file = "[History]\r\nData=1\r\nHis1=a\r\n";
    put(mPath, file);

    // A read-only folder: the save fails with the system's reason and the old file stays.
    QVERIFY(QFile::setPermissions(mDir.path(), QFile::ReadOwner | QFile::ExeOwner));
    const history::SaveResult saved =
        history::saveHistory(mPath, linesOf({u"a"_s, u"b"_s}), kCapacity);
    QVERIFY(
        QFile::setPermissions(mDir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(saved.failure);
    QCOMPARE(saved.failure->kind, history::Failure::Kind::Unwritable);
    QVERIFY(saved.failure->detail.contains(u"ermission"_s));
    QCOMPARE(contents(mPath), file);

    // A clear into the read-only folder fails the same way and reports it.
    QVERIFY(QFile::setPermissions(mDir.path(), QFile::ReadOwner | QFile::ExeOwner));
    history::HistoryFile clearing(mPath, kCapacity);
    const std::optional<history::Failure> cleared = history::clearStoredHistory(clearing, 1);
    QVERIFY(
        QFile::setPermissions(mDir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(cleared);
    QVERIFY(history::clearFailedMessage(*cleared).contains(u"消去されませんでした"_s));
    QCOMPARE(contents(mPath), file);

    // An unreadable file is never overwritten: its lines could not have been loaded.
    QVERIFY(QFile::setPermissions(mPath, QFile::WriteOwner));
    const history::LoadResult loaded = history::loadHistory(mPath, kCapacity);
    QVERIFY(loaded.failure);
    QCOMPARE(loaded.failure->kind, history::Failure::Kind::Unreadable);
    QVERIFY(history::saveHistory(mPath, linesOf({u"z"_s}), kCapacity).failure);
    QVERIFY(QFile::setPermissions(mPath, QFile::ReadOwner | QFile::WriteOwner));
    QCOMPARE(contents(mPath), file);
}

QTEST_GUILESS_MAIN(TestHistoryFile)
#include "tst_historyfile.moc"
