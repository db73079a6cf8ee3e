// The Windows desktop under the window, without a display: one program per history, the
// program's folder, and the lines on a Windows printer's pages.
#include "app/texts.h"
#include "desktop/programfolder.h"
#include "desktop/singleinstance.h"
#include "desktop/terminationsignals.h"
#include "posix/files.h"
#include "print/windowsprinter.h"
#include "win/systemcalls.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

namespace {

// Fails the at-th call of one name (every one at 0).
const char* gFailing = "";
int gAt = 0;
int gSeen = 0;
DWORD gError = 0;

DWORD watch(const char* call)
{
    if (std::strcmp(call, gFailing) != 0) {
        return 0;
    }
    return gAt == 0 || ++gSeen == gAt ? gError : 0;
}

} // namespace

class TestWinDesktop : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        gFailing = "";
        gAt = 0;
        gSeen = 0;
        win::setWatcher(watch);
        QVERIFY(mFolder.isValid());
        mHistory = mFolder.filePath(QStringLiteral("qelvo.ini")).toUtf8();
    }
    void cleanup() { win::setWatcher(nullptr); }

    // The holder names itself in the lock file; a second start finds it held until it is
    // released. No window here: the holder cannot be asked forward.
    void oneProgramPerHistory()
    {
        desktop::SingleInstance first(mHistory);
        QCOMPARE(first.previousInstance(), desktop::PreviousInstance::None);
        QVERIFY(!first.problem());
        first.listen();
        QFile lock(QString::fromUtf8(desktop::SingleInstance::lockFile(mHistory)));
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QCOMPARE(lock.readAll(),
                 QByteArray::number(QCoreApplication::applicationPid()).rightJustified(10, '0') +
                     '\n');
        desktop::SingleInstance second(mHistory);
        QCOMPARE(second.previousInstance(), desktop::PreviousInstance::Unreachable);
    }

    // A second start finds the holder's window and knocks on it: the holder hears it.
    void secondStartKnocksOnTheWindow()
    {
        QWidget window;
        window.show();
        QVERIFY(::IsWindowVisible(reinterpret_cast<HWND>(window.winId())));
        desktop::SingleInstance holder(mHistory);
        QCOMPARE(holder.previousInstance(), desktop::PreviousInstance::None);
        holder.listen();
        QSignalSpy heard(&holder, &desktop::SingleInstance::activationRequested);
        desktop::SingleInstance second(mHistory);
        QCOMPARE(second.previousInstance(), desktop::PreviousInstance::Activated);
        QTRY_COMPARE(heard.size(), 1);
        // Released, it hears no more, and the next start holds the history.
        holder.release();
        desktop::SingleInstance third(mHistory);
        QCOMPARE(third.previousInstance(), desktop::PreviousInstance::None);
        third.listen();
        QSignalSpy heardByThird(&third, &desktop::SingleInstance::activationRequested);
        QVERIFY(::PostThreadMessageW(::GetCurrentThreadId(),
                                     ::RegisterWindowMessageW(L"qelvo.bring-to-front"), 0, 0));
        QTRY_COMPARE(heardByThird.size(), 1);
        QCOMPARE(heard.size(), 1);
    }

    void runsUnguardedWithoutALock_data()
    {
        QTest::addColumn<QByteArray>("call");
        QTest::addColumn<int>("at");
        QTest::addColumn<int>("code");
        // The third: the folder is found and opened, the lock file cannot be made.
        QTest::newRow("read-only folder") << QByteArray("CreateFileW") << 3 << EACCES;
        QTest::newRow("share without locks") << QByteArray("LockFileEx") << 0 << ENOTSUP;
    }
    void runsUnguardedWithoutALock()
    {
        QFETCH(QByteArray, call);
        QFETCH(int, at);
        QFETCH(int, code);
        gFailing = call.constData();
        gAt = at;
        gError = code == EACCES ? ERROR_ACCESS_DENIED : ERROR_NOT_SUPPORTED;
        desktop::SingleInstance instance(mHistory);
        QCOMPARE(instance.previousInstance(), desktop::PreviousInstance::None);
        QVERIFY(instance.problem());
        QCOMPARE(instance.problem()->code, code);
    }

    // Ctrl+C in the console the program runs in comes into the event loop, as SIGINT does (the
    // tests run in a console of their own: scripts/wine.sh).
    void consoleEventsReachTheLoop()
    {
        desktop::TerminationSignals terminations;
        QSignalSpy received(&terminations, &desktop::TerminationSignals::received);
        QVERIFY(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
        QVERIFY(received.wait(5000));
        QCOMPARE(received.first().first().toInt(), SIGINT);
    }

    // A folder such as Program Files, which the user may not write to, is named as the cause.
    void unwritableFolderIsAdvised_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("advised");
        QTest::newRow("denied") << EACCES << true;
        QTest::newRow("read-only") << EROFS << true;
        QTest::newRow("disk full") << ENOSPC << false;
    }
    void unwritableFolderIsAdvised()
    {
        QFETCH(int, code);
        QFETCH(bool, advised);
        QCOMPARE(texts::journalLostMessage(posix::systemError(code)).contains(u"Program Files"),
                 advised);
    }

    void programFolderIsTheExesOwn()
    {
        const desktop::ProgramFolder folder = desktop::programFolder(QStringLiteral("C:/else"));
        QCOMPARE(folder.path, QCoreApplication::applicationDirPath());
        QVERIFY(folder.named);
        gFailing = "GetModuleFileNameW";
        gError = ERROR_INSUFFICIENT_BUFFER;
        const desktop::ProgramFolder fallback = desktop::programFolder(QStringLiteral("C:/else"));
        QCOMPARE(fallback.path, QStringLiteral("C:/else"));
        QVERIFY(fallback.named);
    }

    // One document over as many pages as the lines take; none without a printer.
    void linesOnThePrintersPages()
    {
        const QString pdf = mFolder.filePath(QStringLiteral("page.pdf"));
        bool present = false;
        print::WindowsPrinter printer([&] {
            std::unique_ptr<QPrinter> file;
            if (present) {
                file = std::make_unique<QPrinter>(QPrinter::HighResolution);
                file->setOutputFormat(QPrinter::PdfFormat);
                file->setOutputFileName(pdf);
            }
            return file;
        });
        QVERIFY(!printer.open());
        QCOMPARE(printer.finish().outcome, print::HandOver::Outcome::NoDocument);
        present = true;
        int opened = 0;
        printer.setOpened([&opened] { ++opened; });
        for (int line = 0; line < 150; ++line) {
            QVERIFY(printer.printLine(QStringLiteral("02  ;  07  ;  15  ;  23  ;  30  ;  41")));
        }
        QCOMPARE(opened, 1);
        QCOMPARE(printer.finish().outcome, print::HandOver::Outcome::Accepted);
        const auto pages = [&pdf] {
            QFile file(pdf);
            const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
            return bytes.count("/Type /Page\n") + bytes.count("/Type /Page\r");
        };
        QCOMPARE(pages(), 3);
        QCOMPARE(printer.finish().outcome, print::HandOver::Outcome::NoDocument);
        // A printer given up with its document open still hands it over.
        QFile::remove(pdf);
        {
            print::WindowsPrinter last([&pdf] {
                auto file = std::make_unique<QPrinter>();
                file->setOutputFormat(QPrinter::PdfFormat);
                file->setOutputFileName(pdf);
                return file;
            });
            QVERIFY(last.printLine(QStringLiteral("01  ;  02  ;  03  ;  04  ;  05  ;  06")));
        }
        QCOMPARE(pages(), 1);
    }

private:
    QTemporaryDir mFolder;
    QByteArray mHistory;
};

QTEST_MAIN(TestWinDesktop)
#include "tst_windesktop.moc"
