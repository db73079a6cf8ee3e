#include "history/filestore.h"
#include "posix/files.h"
#include "posix/process.h"
#include "posix/systemcalls.h"
#include "support/callwatch.h"
#include "support/samples.h"

#include <QDir>
#include <QFile>
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

// The name under which this process makes its save lock.
QByteArray writerName()
{
    return ".qelvo.ini.saving." + posix::ProcessIdentity::self().text();
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
    void oneFailedCall_data();
    void oneFailedCall();
    void whatStandsAtTheLock_data();
    void whatStandsAtTheLock();
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
    const CallWatch watch;
    QVERIFY(!filestore::replaceAtomically(mPath, newFile()));
    QCOMPARE(samples::readFile(mPath), newFile());
    // The data reaches the disk before the new file takes the old one's place, and the folder
    // after, so a power cut leaves the old file or the whole new one.
    const QList<QByteArray> order{"openat", "openat", "fdatasync", "renameat", "fsync"};
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
    for (int nth = 1;; ++nth) {
        QVERIFY(samples::writeFile(mPath, oldFile()));
        CallWatch watch;
        watch.failAt(nth, EIO);
        const std::optional<posix::Error> error = filestore::replaceAtomically(mPath, newFile());
        const QByteArray call = watch.calls().value(nth - 1);
        if (!watch.reached()) {
            break;
        }
        QVERIFY2(samples::readFile(mPath) == (error ? oldFile() : newFile()), call.constData());
        QVERIFY2(!error || error->code == EIO, call.constData());
        // Only this writer's own name may stay, where it could not be removed: its next save
        // replaces it.
        QStringList stray = samples::strayFiles(mDir.path());
        stray.removeOne(QFile::decodeName(writerName()));
        QVERIFY2(stray.isEmpty(), qPrintable(QString::fromLatin1(call) + stray.join(u' ')));
    }
}

void TestFileStore::oneFailedCall_data()
{
    QTest::addColumn<QByteArray>("call");
    QTest::addColumn<int>("failure");
    QTest::addColumn<int>("reported");
    QTest::newRow("no hard links: the lock names no writer")
        << QByteArray("linkat") << int(EPERM) << 0;
    QTest::newRow("flushing the folder changes nothing") << QByteArray("fsync") << int(EIO) << 0;
    // The bytes would be in place, but not on the disk.
    QTest::newRow("flushing the file") << QByteArray("fdatasync") << int(EIO) << int(EIO);
}

void TestFileStore::oneFailedCall()
{
    QFETCH(QByteArray, call);
    QFETCH(int, failure);
    QFETCH(int, reported);
    CallWatch watch;
    watch.failAt(1, failure, call);
    const std::optional<posix::Error> error = filestore::replaceAtomically(mPath, newFile());
    QVERIFY(watch.reached());
    QCOMPARE(error ? error->code : 0, reported);
    QCOMPARE(samples::readFile(mPath), reported != 0 ? oldFile() : newFile());
    QCOMPARE(samples::strayFiles(mDir.path()), QStringList());
}

void TestFileStore::whatStandsAtTheLock_data()
{
    QTest::addColumn<QString>("leftover");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("reported");
    QTest::addColumn<bool>("kept");
    const QString writer = u".qelvo.ini.saving."_s;
    const QByteArray here =
        posix::ProcessIdentity::self().machine + '-' + posix::ProcessIdentity::self().boot;
    // What killed saves left: taken over at once when their writer is known to be gone.
    QTest::newRow("lock of an ended writer")
        << writer + QString::fromLatin1(here + "-99999999-1") << u"lock"_s << 0 << false;
    QTest::newRow("lock of no writer, a minute old")
        << u".qelvo.ini.saving"_s << u"old"_s << 0 << false;
    QTest::newRow("earlier version's file") << writer + u"1f2e"_s << u"file"_s << 0 << false;
    // A live writer's lock, and one of another machine's until it is old: waited for, bounded.
    // The live writer is the process that started the test: alive, and not this one.
    const qint64 parent = ::getppid();
    QTest::newRow("lock of a live writer")
        << writer + QString::fromLatin1(here + '-' + QByteArray::number(parent) + '-' +
                                        posix::processStart(parent))
        << u"lock"_s << int(EBUSY) << true;
    QTest::newRow("another machine's writer")
        << writer + u"0abc0def-00000000-1-1"_s << u"lock"_s << int(EBUSY) << true;
    // Neither a lock nor a file of this program's: passed over, or left alone.
    QTest::newRow("folder") << u".qelvo.ini.saving"_s << u"folder"_s << 0 << true;
    QTest::newRow("FIFO") << u".qelvo.ini.saving"_s << u"fifo"_s << 0 << true;
    QTest::newRow("link") << writer + u"3"_s << u"link"_s << 0 << true;
    QTest::newRow("another user's file") << writer + u"4"_s << u"another user's"_s << 0 << true;
    QTest::newRow("lock that cannot be moved (sticky folder)")
        << u".qelvo.ini.saving"_s << u"unmovable"_s << 0 << true;
}

void TestFileStore::whatStandsAtTheLock()
{
    QFETCH(QString, leftover);
    QFETCH(QString, kind);
    QFETCH(int, reported);
    QFETCH(bool, kept);
    const QString path = mDir.filePath(leftover);
    const QByteArray name = QFile::encodeName(path);
    const QByteArray lock = QFile::encodeName(mDir.filePath(u".qelvo.ini.saving"_s));
    const QByteArray leftName = QFile::encodeName(mDir.filePath(leftover));
    if (kind == u"folder"_s) {
        QVERIFY(QDir().mkpath(path + u"/inside"_s));
    } else if (kind == u"link"_s) {
        QCOMPARE(::symlink("/nonexistent", name.constData()), 0);
    } else if (kind == u"fifo"_s) {
        QCOMPARE(::mkfifo(name.constData(), 0600), 0);
    } else {
        QVERIFY(samples::writeFile(QFile::decodeName(leftName), "left by a killed save"));
    }
    if (kind == u"lock"_s) {
        QCOMPARE(::link(leftName.constData(), lock.constData()), 0);
    } else if (kind == u"old"_s || kind == u"unmovable"_s) {
        const timespec minuteAgo{::time(nullptr) - 61, 0};
        const std::array<timespec, 2> times{minuteAgo, minuteAgo};
        QCOMPARE(::utimensat(AT_FDCWD, leftName.constData(), times.data(), 0), 0);
    } else if (kind == u"another user's"_s) {
        if (::geteuid() != 0) {
            QSKIP("needs root to make a file of another user");
        }
        QCOMPARE(::chown(name.constData(), 65534, 65534), 0);
    }
    CallWatch watch;
    if (kind == u"unmovable"_s) {
        watch.failAt(1, EPERM, "renameat2");
    }
    const std::optional<posix::Error> error = filestore::replaceAtomically(mPath, newFile());
    QCOMPARE(error ? error->code : 0, reported);
    QCOMPARE(samples::readFile(mPath), reported != 0 ? oldFile() : newFile());
    QStringList left{leftover};
    if (kind == u"lock"_s) {
        left.prepend(u".qelvo.ini.saving"_s);
    }
    QCOMPARE(samples::strayFiles(mDir.path()), kept ? left : QStringList());
}

void TestFileStore::groupNotKeptLosesItsAccess()
{
    if (::geteuid() != 0) {
        QSKIP("needs root to give a file a group that its owner is not in");
    }
    // The owner's file, of a group that the owner is not in, readable and writable by the group.
    constexpr uid_t kOwner = 65534;
    constexpr gid_t kGroup = 65532;
    const QByteArray folder = QFile::encodeName(mDir.path());
    const QByteArray file = QFile::encodeName(mPath);
    QCOMPARE(::chown(folder.constData(), kOwner, kOwner), 0);
    QCOMPARE(::chown(file.constData(), kOwner, kGroup), 0);
    QCOMPARE(::chmod(file.constData(), 0660), 0);
    const pid_t owner = ::fork();
    if (owner == 0) {
        const bool replaced = ::setgroups(0, nullptr) == 0 && ::setgid(kOwner) == 0 &&
                              ::setuid(kOwner) == 0 &&
                              !filestore::replaceAtomically(mPath, newFile());
        ::_exit(replaced ? 0 : 1);
    }
    int status = -1;
    ::waitpid(owner, &status, 0);
    QCOMPARE(::chown(folder.constData(), 0, 0), 0);
    QCOMPARE(status, 0);
    QCOMPARE(samples::readFile(mPath), newFile());
    // The new file's group is the owner's own: its group may not read what the old group could.
    struct stat after {};
    QCOMPARE(::stat(file.constData(), &after), 0);
    QCOMPARE(after.st_gid, gid_t{kOwner});
    QCOMPARE(after.st_mode & 07777U, 0600U);
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
