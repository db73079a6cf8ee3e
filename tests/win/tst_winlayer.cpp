// The Windows system layer as the history relies on it, run under Windows (or Wine): files that
// stay usable while open, the exclusive create of the save lock, replaces that keep attributes,
// names beyond MAX_PATH and outside any code page, the lock, processes, and saves that fail whole
// at any failing Windows call.
#include "history/codepage.h"
#include "history/filestore.h"
#include "posix/files.h"
#include "posix/locks.h"
#include "posix/process.h"
#include "posix/systemcalls.h"
#include "win/posixcalls.h"
#include "win/systemcalls.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

// Fails the n-th call of one name (0: none) with an error of Windows; counts the calls.
struct Fault {
    const char* call = "";
    int at = 0;
    DWORD error = 0;
    int seen = 0;
};
Fault gFault;

DWORD watch(const char* call)
{
    if (std::strcmp(call, gFault.call) == 0 && ++gFault.seen == gFault.at) {
        return gFault.error;
    }
    return 0;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

std::optional<posix::Error> save(const QString& path, const QByteArray& bytes)
{
    return filestore::update(path, [&bytes](const filestore::ReadResult&) { return bytes; });
}

} // namespace

class TestWinLayer : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        gFault = {};
        win::setWatcher(watch);
        QVERIFY(mFolder.isValid());
        mHistory = mFolder.filePath(QStringLiteral("qelvo.ini"));
        QFile::remove(mHistory);
    }
    void cleanup() { win::setWatcher(nullptr); }

    // The fence of the save lock: a writer's new file is taken away while the writer holds it.
    void openFileMayBeRenamedAndRemoved()
    {
        writeFile(mHistory, "new");
        const posix::Descriptor open(posix::calls().open(mHistory.toUtf8(), O_RDONLY, 0));
        QVERIFY(open.isOpen());
        const posix::Descriptor folder = posix::openFolder(mFolder.path().toUtf8());
        QCOMPARE(posix::calls().renameat(folder.get(), "qelvo.ini", folder.get(), "moved"), 0);
        QCOMPARE(posix::calls().unlinkat(folder.get(), "moved", 0), 0);
        std::array<char, 8> bytes{};
        QCOMPARE(posix::calls().read(open.get(), bytes.data(), bytes.size()), 3);
        QCOMPARE(posix::listFolder(folder.get()), QList<QByteArray>{});
        QVERIFY(posix::openAt(folder.get(), "moved", O_WRONLY | O_CREAT | O_EXCL).isOpen());
        // Names in a folder that is not open reach nothing.
        QCOMPARE(posix::calls().unlinkat(99, "moved", 0), -1);
        QCOMPARE(posix::calls().renameat(99, "moved", folder.get(), "other"), -1);
        // A removal that Windows refuses leaves the file under its name.
        gFault = {"DeleteFileW", 1, ERROR_ACCESS_DENIED, 0};
        QCOMPARE(posix::calls().unlinkat(folder.get(), "moved", 0), -1);
        QCOMPARE(errno, EACCES);
        QCOMPARE(posix::listFolder(folder.get()), QList<QByteArray>{"moved"});
    }

    // Every path reaches Windows in the long form, which no length limits.
    void longPaths_data()
    {
        QTest::addColumn<QByteArray>("given");
        QTest::addColumn<QString>("reached");
        const QString here = QDir::toNativeSeparators(QDir::currentPath());
        QTest::newRow("relative") << QByteArray("a/b")
                                  << QStringLiteral("\\\\?\\") + here + QStringLiteral("\\a\\b");
        QTest::newRow("drive") << QByteArray("C:/x/../y") << QStringLiteral("\\\\?\\C:\\y");
        QTest::newRow("share") << QByteArray("//server/share/x")
                               << QStringLiteral("\\\\?\\UNC\\server\\share\\x");
        QTest::newRow("long already")
            << QByteArray("\\\\?\\C:\\x") << QStringLiteral("\\\\?\\C:\\x");
    }
    void longPaths()
    {
        QFETCH(QByteArray, given);
        QFETCH(QString, reached);
        QCOMPARE(QString::fromStdWString(win::longPath(given)), reached);
    }

    // What tells files apart and dates them, as the lock's and the journal's checks read it.
    void identityAndTimes()
    {
        writeFile(mHistory, "one");
        const QString other = mFolder.filePath(QStringLiteral("other"));
        writeFile(other, "two");
        const HANDLE file = ::CreateFileW(mHistory.toStdWString().c_str(), FILE_WRITE_ATTRIBUTES,
                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        // One second after 1970 began, in 100 ns steps since 1601.
        const ULONGLONG steps = 116'444'736'010'000'000ULL;
        const FILETIME written{static_cast<DWORD>(steps), static_cast<DWORD>(steps >> 32)};
        QVERIFY(::SetFileTime(file, nullptr, nullptr, &written));
        ::CloseHandle(file);
        struct stat first {};
        struct stat again {};
        struct stat second {};
        QCOMPARE(posix::calls().fstatat(AT_FDCWD, mHistory.toUtf8(), &first, 0), 0);
        QCOMPARE(posix::calls().fstatat(AT_FDCWD, mHistory.toUtf8(), &again, 0), 0);
        QCOMPARE(posix::calls().fstatat(AT_FDCWD, other.toUtf8(), &second, 0), 0);
        QCOMPARE(first.st_mtim.tv_sec, 1);
        QCOMPARE(first.st_mtim.tv_nsec, 0);
        QCOMPARE(first.st_size, 3);
        QVERIFY(posix::sameFile(first, again));
        QVERIFY(!posix::sameFile(first, second));
        QVERIFY(first.st_dev != 0 && first.st_dev == second.st_dev);
    }

    // The save lock's fence: a taker removes the writer's new file while the writer holds it
    // open, so that the writer's commit fails and its save begins again.
    void takenAwayNewFileIsNotCommitted()
    {
        writeFile(mHistory, "old");
        const posix::Descriptor folder = posix::openFolder(mFolder.path().toUtf8());
        int told = 0;
        const auto takeAway = [&] {
            if (++told == 1) {
                for (const QByteArray& name : posix::listFolder(folder.get())) {
                    if (name.startsWith(".qelvo.ini.saving.")) {
                        QCOMPARE(posix::calls().unlinkat(folder.get(), name.constData(), 0), 0);
                    }
                }
            }
        };
        QCOMPARE(
            filestore::update(
                mHistory, [](const filestore::ReadResult&) { return QByteArray("new"); }, takeAway),
            std::nullopt);
        QCOMPARE(told, 2);
        QCOMPARE(readAll(mHistory), QByteArray("new"));
    }

    // What the user set on the file: hidden stays hidden; read-only is not replaced.
    void replaceKeepsWhatTheUserSet_data()
    {
        QTest::addColumn<quint32>("attributes");
        QTest::addColumn<int>("code");
        QTest::newRow("hidden") << quint32{FILE_ATTRIBUTE_HIDDEN} << 0;
        QTest::newRow("read-only") << quint32{FILE_ATTRIBUTE_READONLY} << EACCES;
    }
    void replaceKeepsWhatTheUserSet()
    {
        QFETCH(quint32, attributes);
        QFETCH(int, code);
        writeFile(mHistory, "old");
        const std::wstring name = mHistory.toStdWString();
        QVERIFY(::SetFileAttributesW(name.c_str(), attributes));
        const std::optional<posix::Error> failed = save(mHistory, "new");
        QCOMPARE(failed ? failed->code : 0, code);
        QCOMPARE(readAll(mHistory), QByteArray(code == 0 ? "new" : "old"));
        QCOMPARE(::GetFileAttributesW(name.c_str()) & attributes, attributes);
        ::SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_NORMAL);
    }

    // Deeper than MAX_PATH, and named in characters of no code page.
    void anyPathAndName()
    {
        QString folder = mFolder.path();
        while (folder.size() < MAX_PATH + 40) {
            folder += QStringLiteral("/") + QString(40, u'深');
            QCOMPARE(posix::calls().mkdir(folder.toUtf8(), 0), 0);
        }
        const QString path = folder + QStringLiteral("/宝くじ😀.ini");
        QCOMPARE(save(path, "deep"), std::nullopt);
        QCOMPARE(filestore::readWhole(path).bytes, QByteArray("deep"));
        const posix::Descriptor listed = posix::openFolder(folder.toUtf8());
        QCOMPARE(posix::listFolder(listed.get()), QList<QByteArray>{"宝くじ😀.ini"});
    }

    // Failed at any one Windows call, a save either leaves the old file byte for byte and says
    // why, or is whole; each call fails some save.
    void failedSaveLeavesTheOldFile_data()
    {
        QTest::addColumn<QByteArray>("call");
        QTest::addColumn<quint32>("error");
        QTest::addColumn<int>("code"); // as the messages tell it
        QTest::newRow("open") << QByteArray("CreateFileW") << quint32{ERROR_ACCESS_DENIED}
                              << EACCES;
        QTest::newRow("disk full") << QByteArray("WriteFile") << quint32{ERROR_DISK_FULL} << ENOSPC;
        QTest::newRow("flush") << QByteArray("FlushFileBuffers") << quint32{ERROR_HANDLE_DISK_FULL}
                               << ENOSPC;
        QTest::newRow("look") << QByteArray("GetFileInformationByHandle")
                              << quint32{ERROR_NETNAME_DELETED} << EIO;
        QTest::newRow("attributes")
            << QByteArray("SetFileAttributesW") << quint32{ERROR_ACCESS_DENIED} << EACCES;
        QTest::newRow("move") << QByteArray("MoveFileExW") << quint32{ERROR_SHARING_VIOLATION}
                              << EBUSY;
    }
    void failedSaveLeavesTheOldFile()
    {
        QFETCH(QByteArray, call);
        QFETCH(quint32, error);
        QFETCH(int, code);
        writeFile(mHistory, "old\r\n");
        ::SetFileAttributesW(mHistory.toStdWString().c_str(), FILE_ATTRIBUTE_HIDDEN);
        gFault = {call.constData(), 0, error, 0};
        QCOMPARE(save(mHistory, "old\r\n"), std::nullopt);
        const int calls = gFault.seen;
        int failures = 0;
        for (int at = 1; at <= calls; ++at) {
            gFault = {call.constData(), at, error, 0};
            const QByteArray bytes = "new " + QByteArray::number(at) + "\r\n";
            const std::optional<posix::Error> failed = save(mHistory, bytes);
            const QByteArray now = readAll(mHistory);
            // Unflushed: replaced, with the folder's flush failed after.
            const bool replaced = !failed || failed->kind == posix::Error::Kind::Unflushed;
            QVERIFY2(now == (replaced ? bytes : "old\r\n"), now.constData());
            QVERIFY(replaced || failed->code == code);
            failures += replaced ? 0 : 1;
            gFault = {};
            QCOMPARE(save(mHistory, "old\r\n"), std::nullopt);
        }
        QVERIFY(failures > 0);
    }

    void lockIsSeenFromAnotherHandleAndLeavesTheBytesReadable()
    {
        writeFile(mHistory, "0000000042\n");
        const QByteArray path = mHistory.toUtf8();
        posix::Descriptor holder(posix::calls().open(path, O_RDWR, 0));
        const posix::Descriptor other(posix::calls().open(path, O_RDWR, 0));
        QCOMPARE(posix::lockWhole(holder.get()), std::nullopt);
        QVERIFY(posix::lockWhole(other.get()));
        QVERIFY(posix::lockHolder(other.get()).pid);
        std::array<char, 16> bytes{};
        QCOMPARE(posix::calls().read(other.get(), bytes.data(), bytes.size()), 11);
        holder.reset();
        QVERIFY(!posix::lockHolder(other.get()).pid);
    }

    void processLife()
    {
        const posix::ProcessIdentity& self = posix::ProcessIdentity::self();
        QCOMPARE(posix::ProcessIdentity::parsed(self.text()), self);
        QVERIFY(!posix::ProcessIdentity::parsed("5bce98f7-0-0-x-1"));
        QVERIFY(!posix::ProcessIdentity::parsed("5bce98f7-0-0-32"));
        QCOMPARE(self.life(), posix::Life::Lives);
        posix::ProcessIdentity reused = self;
        reused.start += '0';
        QCOMPARE(reused.life(), posix::Life::Ended);
        posix::ProcessIdentity elsewhere = self;
        elsewhere.machine = "00000000";
        QCOMPARE(elsewhere.life(), posix::Life::Unknown);
        // Windows numbers processes in steps of four: this one is never in use.
        posix::ProcessIdentity none = self;
        none.pid = 4 * 1000003 + 1;
        QCOMPARE(none.life(), posix::Life::Ended);
    }

    void codePage932ByWindows()
    {
        const QByteArray memo = "\x95\xf3\x82\xad\x82\xb6"; // 宝くじ
        QCOMPARE(codepage::fileText(memo), QStringLiteral("宝くじ"));
        QCOMPARE(codepage::toCodePage932(QStringLiteral("宝くじ😀").toUtf8()), memo + '?');
        QCOMPARE(codepage::fileText("\x95\xf3\x82"), QStringLiteral("宝\uFFFD"));
    }

private:
    QTemporaryDir mFolder;
    QString mHistory;
};

QTEST_GUILESS_MAIN(TestWinLayer)
#include "tst_winlayer.moc"
