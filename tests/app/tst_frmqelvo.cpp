#include "app/frmqelvo.h"
#include "app/historylistbox.h"
#include "app/layout.h"
#include "app/texts.h"
#include "posix/clock.h"
#include "posix/process.h"
#include "posix/systemcalls.h"
#include "support/recordingprinter.h"
#include "support/samples.h"
#include "support/scriptedquestionbox.h"
#include "support/scriptedsource.h"
#include "support/world.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

Q_DECLARE_METATYPE(desktop::PreviousInstance)

namespace {

constexpr std::initializer_list<int> kExampleDraw{23, 7, 41, 2, 15, 30};

// A history file of one line, the example draw's.
QByteArray exampleFile()
{
    return samples::historyFile(QStringList{samples::exampleLine()});
}

// The window with scripted collaborators, its program folder a fresh temporary folder.
struct Harness {
    Harness()
        : folder(dir.path())
    {
    }

    // False when the window did not show; a failed check in a helper must stop the test.
    // painted: as far as the window's first paint, and what comes right after it.
    [[nodiscard]] bool start(bool painted = true)
    {
        frmQelvo::Services services{[this] { return previousInstance; },
                                    {QFile::encodeName(folder), folder, folderNamed},
                                    &random,
                                    &questions,
                                    &printer,
                                    [this](const QString& text) { reported << text; },
                                    [this] { ++quits; },
                                    [this](WId, qreal) { return frame; }};
        services.journal = &journal;
        services.lockProblem = lockProblem;
        window = std::make_unique<frmQelvo>(std::move(services));
        window->Form_Load();
        if (window->endCode() || !painted) {
            return true;
        }
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get())) {
            return false;
        }
        // The journals, seen to after the first paint.
        QCoreApplication::processEvents();
        return true;
    }
    [[nodiscard]] bool writeIni(const QByteArray& bytes) const
    {
        return samples::writeFile(iniPath(), bytes);
    }
    [[nodiscard]] QByteArray ini() const { return samples::readFile(iniPath()); }
    // The lines that the journals beside the history hold unsaved, as the next start finds them.
    [[nodiscard]] QStringList unsaved() const
    {
        QStringList lines;
        for (const QString& name : samples::journals(folder)) {
            const std::optional<history::Replay> replayed = history::replay(
                samples::readFile(folder + u'/' + name), history::loadHistory(iniPath()).lines);
            for (const QByteArray& line : replayed ? replayed->lines : QList{"no journal"_ba}) {
                lines << QString::fromLatin1(line);
            }
        }
        return lines;
    }

    [[nodiscard]] QString iniPath() const { return folder + u"/qelvo.ini"_s; }

    template <typename T> T* control(const QString& name) const
    {
        return window->findChild<T*>(name);
    }
    QLabel* tile(int i) const { return control<QLabel>(u"Label1_%1"_s.arg(i)); }
    HistoryListBox* list1() const { return control<HistoryListBox>(u"List1"_s); }
    QListWidget* list2() const { return control<QListWidget>(u"List2"_s); }
    QStringList history() const
    {
        QStringList lines;
        for (int row = 0; row < list1()->count(); ++row) {
            lines << list1()->lines().text(row);
        }
        return lines;
    }
    QStringList sorted() const
    {
        QStringList items;
        for (int row = 0; row < list2()->count(); ++row) {
            items << list2()->item(row)->text();
        }
        return items;
    }
    QStringList tileCaptions() const
    {
        QStringList captions;
        for (int i = 0; i < draw::kTileCount; ++i) {
            captions << tile(i)->text();
        }
        return captions;
    }
    bool tilesShow(const layout::Gradient& gradient) const
    {
        for (int i = 0; i < draw::kTileCount; ++i) {
            if (tile(i)->palette().color(QPalette::Window) !=
                layout::fromBgr(gradient[static_cast<std::size_t>(i)])) {
                return false;
            }
        }
        return true;
    }
    void click(const QString& button, std::initializer_list<int> numbers = {})
    {
        random.feed(numbers);
        QTest::mouseClick(control<QPushButton>(button), Qt::LeftButton);
    }

    QTemporaryDir dir;
    QString folder;
    bool folderNamed = true;
    desktop::PreviousInstance previousInstance = desktop::PreviousInstance::None;
    std::optional<desktop::LockProblem> lockProblem;
    QStringList reported;
    int quits = 0;
    QMargins frame;
    ScriptedSource random;
    ScriptedQuestionBox questions;
    RecordingPrinter printer;
    history::Journal journal;
    std::unique_ptr<frmQelvo> window;
};

// What the window's thread wrote to the journal and brought to the storage, as the history's
// replacement finds it: the last record, unless something was written after the last flush.
struct JournalOnDisk {
    std::thread::id window;
    QByteArray last;
    bool flushed = true;
    QByteArray atReplace;
};
JournalOnDisk gDisk;

bool isJournal(int fd)
{
    std::array<char, 4096> path{};
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t length = ::readlink(link.constData(), path.data(), path.size());
    return length > 0 && QByteArrayView(path.data(), length).endsWith(".journal");
}

// The table's write, flush and rename, followed.
void followJournal()
{
    gDisk = {std::this_thread::get_id(), {}, true, {}};
    posix::calls().write.function = [](int fd, const void* data, size_t size) {
        if (isJournal(fd)) {
            gDisk.last = QByteArray(static_cast<const char*>(data), static_cast<qsizetype>(size));
            gDisk.flushed = false;
        }
        return posix::systemCalls().write(fd, data, size);
    };
    // The flusher's flushes come when they come: only the window's own count.
    posix::calls().fdatasync.function = [](int fd) {
        if (isJournal(fd) && std::this_thread::get_id() == gDisk.window) {
            gDisk.flushed = true;
        }
        return posix::systemCalls().fdatasync(fd);
    };
    posix::calls().renameat.function = [](int from, const char* name, int to, const char* as) {
        if (QByteArrayView(as) == "qelvo.ini") {
            gDisk.atReplace = gDisk.flushed ? gDisk.last : "not flushed";
        }
        return posix::systemCalls().renameat(from, name, to, as);
    };
}

QStringList stars()
{
    return {u"★"_s, u"☆"_s, u"★"_s, u"☆"_s, u"★"_s, u"☆"_s};
}

} // namespace

class TestFrmQelvo : public QObject {
    Q_OBJECT

private slots:
    void windowFrameAndCaptions();
    void tilesAtStart();
    void listsShowTheirLines();
    void tabOrder();
    void drawFillsTilesListsAndHistory();
    void repeatKeptThenDiscarded();
    void repeatCountsLoadedLines();
    void fullHistoryKeepsItsLines();
    void secondInstanceEndsUntouched_data();
    void secondInstanceEndsUntouched();
    void saveRecordOnDiskBeforeTheReplace();
    void closeWaitsWithTheWindowAnswering();
    void linesOfAnEndedRunComeBack();
    void aDrawBeforeThePaintFollowsTheEndedRunsLines();
    void closeWithFailedSave_data();
    void closeWithFailedSave();
    void damagedFileAtStart();
    void clearAnswered();
    void clearWithDamagedCount();
    void withoutPermission();
    void printSendsEveryLine();
    void endingWhileABoxIsOpen_data();
    void endingWhileABoxIsOpen();
    void endingWithoutABox();
    void sessionEndSavesAndGoesOn();
    void folderNameNotUtf8();
    void clearKeepsWhatChangedDuringItsQuestion();
    void placedWithItsFrame();
    void newestLineInView();
    void historyListAsAListBox();
    void namesForAScreenReader();
    void enterPressesTheFocusedButton_data();
    void enterPressesTheFocusedButton();
    void busyWhilePrinting();
};

void TestFrmQelvo::windowFrameAndCaptions()
{
    Harness h;
    QVERIFY(h.start());
    QCOMPARE(h.window->windowTitle(), u"Six Random Numbers"_s);
    QCOMPARE(h.window->size(), QSize(305, 207));
    QCOMPARE(h.window->minimumSize(), h.window->maximumSize());
    QVERIFY(!(h.window->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!h.window->windowIcon().isNull());
    QCOMPARE(h.window->windowIcon().availableSizes().value(0), QSize(32, 32));

    QCOMPARE(h.control<QPushButton>(u"Command1"_s)->text(), u"乱数発生"_s);
    QCOMPARE(h.control<QPushButton>(u"Command2"_s)->text(), u"履\n歴\n印\n刷"_s);
    QCOMPARE(h.control<QPushButton>(u"Command3"_s)->text(), u"履\n歴\n全\n消\n去"_s);
    QCOMPARE(h.control<QLabel>(u"Label2_0"_s)->text(), u"並 替"_s);
    QCOMPARE(h.control<QLabel>(u"Label2_1"_s)->text(), u"履 歴"_s);
    // The stacked captions fit their narrow buttons.
    for (const QString& name : {u"Command2"_s, u"Command3"_s}) {
        const QPushButton* button = h.control<QPushButton>(name);
        const QSize text = button->fontMetrics().size(0, button->text());
        QVERIFY2(text.width() <= button->width() && text.height() <= button->height(),
                 qPrintable(name));
    }
}

void TestFrmQelvo::tilesAtStart()
{
    Harness h;
    QVERIFY(h.start());
    QCOMPARE(h.tileCaptions(), stars());
    QVERIFY(h.tilesShow(layout::kBlueGradient));
    for (int i = 0; i < draw::kTileCount; ++i) {
        const QLabel* tile = h.tile(i);
        // A Japanese bold face is found for the tiles, and two digits fit inside the border.
        const QFontInfo face(tile->font());
        QCOMPARE(face.family(), u"IPAPGothic"_s);
        QVERIFY(face.bold());
        const QSize digits = tile->fontMetrics().size(0, u"43"_s);
        QVERIFY(digits.width() <= tile->contentsRect().width());
        QVERIFY(tile->fontMetrics().ascent() <= tile->contentsRect().height());
    }
}

void TestFrmQelvo::listsShowTheirLines()
{
    Harness h;
    QVERIFY(h.writeIni(samples::historyFile(12)));
    QVERIFY(h.start());
    h.click(u"Command1"_s, {9, 8, 7, 6, 5, 4});
    QCoreApplication::processEvents();
    // The sorted list shows all six texts without scrolling.
    QCOMPARE(h.list2()->count(), 6);
    QCOMPARE(h.list2()->verticalScrollBar()->maximum(), 0);
    // A history line fits beside the history list's scroll bar.
    HistoryListBox* list = h.list1();
    QVERIFY(list->verticalScrollBar()->isVisible());
    const int textWidth = QFontMetrics(list->font()).horizontalAdvance(samples::exampleLine());
    QVERIFY2(textWidth + 1 <= list->viewport()->width(),
             qPrintable(u"%1 > %2"_s.arg(textWidth + 1).arg(list->viewport()->width())));
    // Six lines are in view at once.
    const int rows = list->count();
    QVERIFY(list->rowRect(rows - 6).top() >= 0);
    QVERIFY(list->rowRect(rows - 1).bottom() < list->viewport()->height());
}

void TestFrmQelvo::tabOrder()
{
    Harness h;
    QVERIFY(h.start());
    h.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
    QCOMPARE(QApplication::focusWidget()->objectName(), u"Command1"_s);
    QStringList order;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(order,
             (QStringList{u"List1"_s, u"List2"_s, u"Command3"_s, u"Command2"_s, u"Command1"_s}));
}

void TestFrmQelvo::drawFillsTilesListsAndHistory()
{
    Harness h;
    QVERIFY(h.start());
    h.click(u"Command1"_s, kExampleDraw);
    QCOMPARE(h.tileCaptions(), (QStringList{u"23"_s, u"7"_s, u"41"_s, u"2"_s, u"15"_s, u"30"_s}));
    QCOMPARE(h.sorted(), (QStringList{u"02"_s, u"07"_s, u"15"_s, u"23"_s, u"30"_s, u"41"_s}));
    QCOMPARE(h.history(), QStringList{samples::exampleLine()});
    QVERIFY(h.tilesShow(layout::kBlueGradient));
    QVERIFY(h.questions.asked.isEmpty());
    // Drawing touches no file.
    QVERIFY(!QFile::exists(h.iniPath()));
}

void TestFrmQelvo::repeatKeptThenDiscarded()
{
    Harness h;
    QVERIFY(h.start());
    h.click(u"Command1"_s, kExampleDraw);
    // On disk as soon as it is shown, and taken back from the disk with No.
    QCOMPARE(h.unsaved(), h.history());

    h.questions.answers = {QuestionBox::kYes};
    h.click(u"Command1"_s, {30, 15, 2, 41, 7, 23});
    QCOMPARE(h.questions.asked.value(0),
             u"過去に同じデータが 1 個存在します！ 履歴として残しますか？"_s);
    QCOMPARE(h.questions.defaults.value(0), QuestionBox::kYes);
    QCOMPARE(h.history(), (QStringList{samples::exampleLine(), samples::exampleLine()}));
    QVERIFY(h.tilesShow(layout::kBlueGradient));
    QCOMPARE(h.sorted().size(), 6);

    h.questions.answers = {QuestionBox::kNo};
    h.click(u"Command1"_s, kExampleDraw);
    QCOMPARE(h.questions.asked.value(1), texts::repeatQuestion(2));
    QCOMPARE(h.history(), (QStringList{samples::exampleLine(), samples::exampleLine()}));
    QVERIFY(h.sorted().isEmpty());
    QCOMPARE(h.tileCaptions(), stars());
    QVERIFY(h.tilesShow(layout::kRedGradient));
    QCOMPARE(h.unsaved(), h.history());

    // The next draw first turns the tiles blue again.
    h.click(u"Command1"_s, {1, 2, 3, 4, 5, 6});
    QVERIFY(h.tilesShow(layout::kBlueGradient));
    QCOMPARE(h.history().size(), 3);
}

void TestFrmQelvo::repeatCountsLoadedLines()
{
    Harness h;
    const QByteArray line = samples::exampleLine().toLatin1();
    QVERIFY(h.writeIni("[History]\r\nData=4\r\nHis1=" + line + "\r\nHis2=" + line +
                       "\r\nHis3=\r\nHis4=" + line + "\r\n"));
    QVERIFY(h.start());
    QCOMPARE(h.history(), (QStringList{samples::exampleLine(), samples::exampleLine(), QString(),
                                       samples::exampleLine()}));
    h.questions.answers = {QuestionBox::kNo};
    h.click(u"Command1"_s, kExampleDraw);
    QCOMPARE(h.questions.asked.value(0), texts::repeatQuestion(3));
    QCOMPARE(h.history().size(), 4);
}

void TestFrmQelvo::fullHistoryKeepsItsLines()
{
    Harness h;
    QVERIFY(h.writeIni(samples::historyFile(history::kMaxLines)));
    QVERIFY(h.start());
    QCOMPARE(h.history().size(), history::kMaxLines);
    h.click(u"Command1"_s, kExampleDraw);
    QCOMPARE(h.tileCaptions(), (QStringList{u"23"_s, u"7"_s, u"41"_s, u"2"_s, u"15"_s, u"30"_s}));
    QCOMPARE(h.questions.told, QStringList{texts::historyFullMessage()});
    QVERIFY(h.questions.asked.isEmpty());
    const QStringList history = h.history();
    QCOMPARE(history.size(), history::kMaxLines);
    QCOMPARE(history.last(), samples::line(history::kMaxLines % 100));
}

void TestFrmQelvo::secondInstanceEndsUntouched_data()
{
    QTest::addColumn<desktop::PreviousInstance>("found");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("told");
    QTest::newRow("running copy brought forward")
        << desktop::PreviousInstance::Activated << 0 << QString();
    QTest::newRow("running copy out of reach")
        << desktop::PreviousInstance::Unreachable << 1 << texts::unreachableMessage();
    QTest::newRow("another user's program")
        << desktop::PreviousInstance::InUse << 1 << texts::inUseMessage();
}

void TestFrmQelvo::secondInstanceEndsUntouched()
{
    QFETCH(desktop::PreviousInstance, found);
    QFETCH(int, code);
    QFETCH(QString, told);
    Harness h;
    h.previousInstance = found;
    QVERIFY(h.writeIni("[History]\r\nData=1\r\nHis1=x\r\n"));
    QVERIFY(h.start());
    QCOMPARE(h.window->endCode(), std::optional<int>(code));
    QCOMPARE(h.questions.told, told.isEmpty() ? QStringList() : QStringList{told});
    QVERIFY(!h.window->isVisible());
    QVERIFY(h.history().isEmpty());
    QCOMPARE(h.ini(), QByteArray("[History]\r\nData=1\r\nHis1=x\r\n"));
}

void TestFrmQelvo::saveRecordOnDiskBeforeTheReplace()
{
    // The save's record, after the count that the lines go after, is the journal's last and on
    // the storage when the history is replaced: a start after a power cut then knows the save.
    Harness h;
    QVERIFY(h.writeIni(exampleFile()));
    QVERIFY(h.start());
    h.click(u"Command1"_s, {1, 2, 3, 4, 5, 6});
    followJournal();
    QVERIFY(h.window->close());
    posix::resetCalls();
    QCOMPARE(gDisk.atReplace, QByteArray("s1\n"));

    // Saved, but its folder not flushed: the save is not taken as done, and its record stays
    // the journal's last, for the next start to check.
    Harness unflushed;
    QVERIFY(unflushed.start());
    unflushed.click(u"Command1"_s, kExampleDraw);
    // Only the window's flush of the folder fails, not that of the journal's flusher.
    gDisk.window = std::this_thread::get_id();
    posix::calls().fsync.function = [](int fd) {
        errno = EIO;
        return std::this_thread::get_id() == gDisk.window ? -1 : posix::systemCalls().fsync(fd);
    };
    QVERIFY(unflushed.window->close());
    posix::resetCalls();
    const QString journal = samples::journals(unflushed.folder).value(0);
    QVERIFY(samples::readFile(unflushed.folder + u'/' + journal).endsWith("\ns0\n"));
}

void TestFrmQelvo::closeWaitsWithTheWindowAnswering()
{
    // Another program on this machine holds the save lock: a clear waits for it, and meanwhile
    // the window paints and answers, with a busy cursor; a close then is put off, and a signal
    // ends the run right after.
    Harness h;
    QVERIFY(h.writeIni(exampleFile()));
    QVERIFY(h.start());
    QVERIFY(samples::writeFile(h.folder + u"/.qelvo.ini.saving"_s,
                               samples::lockLine(::getppid(), startOf(::getppid()), 0)));
    std::optional<Qt::CursorShape> cursor;
    bool closed = true;
    QTimer::singleShot(200, [&] {
        cursor = QApplication::overrideCursor() ? QApplication::overrideCursor()->shape()
                                                : Qt::ArrowCursor;
        closed = h.window->close();
        h.window->endNow();
    });
    h.questions.answers = {QuestionBox::kYes};
    h.click(u"Command3"_s);
    QCOMPARE(cursor, std::optional(Qt::WaitCursor));
    QVERIFY(!closed);
    // The box names the lock, which is taken over once it stays so for a minute.
    QVERIFY(h.questions.told.value(0).contains(h.folder + u"/.qelvo.ini.saving」が 1 分間"_s));
    QCOMPARE(h.history(), QStringList{samples::exampleLine()});
    QVERIFY(QApplication::overrideCursor() == nullptr);
    // The window's way of waiting goes with the wait: a later wait lets no event in.
    bool answered = false;
    QTimer::singleShot(0, [&answered] { answered = true; });
    posix::waitFor(std::chrono::milliseconds(30), std::chrono::milliseconds(10),
                   [] { return false; });
    QVERIFY(!answered);
    QTRY_COMPARE_WITH_TIMEOUT(h.quits, 1, 10000);
}

void TestFrmQelvo::linesOfAnEndedRunComeBack()
{
    // Three runs ended without a word; the newest drew first. All come back with one save, the
    // oldest run's line first, as far as the history has room: the newest's waits, and is told.
    Harness h;
    QStringList stored;
    for (int k = 0; k < history::kMaxLines - 2; ++k) {
        stored << samples::exampleLine();
    }
    QVERIFY(h.writeIni(samples::historyFile(stored)));
    for (const auto& [line, hour] : {std::pair{6, 3}, {4, 1}, {5, 2}}) {
        const QStringList before = samples::journals(h.folder);
        QVERIFY(samples::endedRunDrew(h.iniPath(), samples::line(line).toLatin1()));
        QStringList made = samples::journals(h.folder);
        made.removeIf([&before](const QString& name) { return before.contains(name); });
        const std::array<timespec, 2> times{timespec{3600L * hour, 0}, timespec{3600L * hour, 0}};
        QCOMPARE(::utimensat(AT_FDCWD,
                             QFile::encodeName(h.folder + u'/' + made.value(0)).constData(),
                             times.data(), 0),
                 0);
    }
    QVERIFY(h.start());
    QCOMPARE(h.history().mid(stored.size()), (QStringList{samples::line(4), samples::line(5)}));
    QCOMPARE(h.ini(), samples::historyFile(h.history()));
    QCOMPARE(h.questions.told.size(), 1);
    QVERIFY(h.questions.told.value(0).contains(texts::linesWaitingMessage(1, true)));
    // What was taken over is saved, and its journals are gone; the newest waits in its own.
    QCOMPARE(h.unsaved(), QStringList{samples::line(6)});
    QCOMPARE(samples::journals(h.folder).size(), 2);
}

void TestFrmQelvo::aDrawBeforeThePaintFollowsTheEndedRunsLines()
{
    Harness h;
    QVERIFY(h.writeIni(exampleFile()));
    QVERIFY(samples::endedRunDrew(h.iniPath(), samples::line(4).toLatin1()));
    QVERIFY(h.start(false));
    h.random.feed(kExampleDraw);
    h.control<QPushButton>(u"Command1"_s)->click();
    const QStringList left{samples::exampleLine(), samples::line(4)};
    QCOMPARE(h.history(), left + QStringList{h.sorted().join(u"  ;  "_s)});
    QCOMPARE(h.ini(), samples::historyFile(left));

    // Ended before its first paint, a run leaves the ended runs' lines to the next start.
    Harness ended;
    QVERIFY(ended.writeIni(exampleFile()));
    QVERIFY(samples::endedRunDrew(ended.iniPath(), samples::line(4).toLatin1()));
    QVERIFY(ended.start(false));
    ended.window->endNow();
    QTest::qWait(1100);
    QCOMPARE(ended.ini(), exampleFile());
    QCOMPARE(ended.unsaved(), QStringList{samples::line(4)});
}

void TestFrmQelvo::closeWithFailedSave_data()
{
    QTest::addColumn<bool>("signal");
    QTest::newRow("then closed") << false;
    QTest::newRow("then a signal") << true;
}

void TestFrmQelvo::closeWithFailedSave()
{
    Harness h;
    h.folder = h.dir.filePath(u"not yet"_s);
    QVERIFY(h.start());
    h.click(u"Command1"_s, kExampleDraw);

    // No (the default) keeps the window open; the lines are still there to be saved.
    h.questions.answers = {QuestionBox::kNo};
    QVERIFY(!h.window->close());
    QVERIFY(h.window->isVisible());
    QCOMPARE(h.questions.defaults.value(0), QuestionBox::kNo);
    QVERIFY(h.questions.asked.value(0).contains(h.iniPath()));
    QVERIFY(h.questions.asked.value(0).endsWith(u"終了しますか？"_s));

    // With the cause removed, the next end saves: by the close box or by a signal.
    QVERIFY(QDir().mkpath(h.folder));
    QFETCH(bool, signal);
    if (signal) {
        h.window->endNow();
    } else {
        QVERIFY(h.window->close());
    }
    QCOMPARE(h.ini(), exampleFile());
    QCOMPARE(h.window->exitStatus(), 0);
    QVERIFY(h.reported.isEmpty());
}

void TestFrmQelvo::damagedFileAtStart()
{
    Harness h;
    const QByteArray damaged = "[History]\r\nData=12x\r\nHis1=a\r\n";
    QVERIFY(h.writeIni(damaged));
    QVERIFY(h.start());
    QCOMPARE(h.window->endCode(), std::optional<int>(1));
    QCOMPARE(h.questions.told.size(), 1);
    QVERIFY(h.questions.told.value(0).contains(u"「12x」"_s));
    QVERIFY(h.questions.told.value(0).contains(h.iniPath()));
    QCOMPARE(h.ini(), damaged);
}

void TestFrmQelvo::clearAnswered()
{
    Harness h;
    QVERIFY(h.writeIni(exampleFile()));
    QVERIFY(h.start());
    h.click(u"Command1"_s, {1, 2, 3, 4, 5, 6});
    // No changes neither the lists nor the file.
    h.questions.answers = {QuestionBox::kNo};
    h.click(u"Command3"_s);
    QCOMPARE(h.questions.asked, QStringList{u"全ての履歴を削除します。よろしいですか？"_s});
    QCOMPARE(h.history().size(), 2);
    QCOMPARE(h.sorted().size(), 6);
    QCOMPARE(h.ini(), exampleFile());
    // Yes empties both lists and the file; the tiles keep their numbers.
    h.questions.answers = {QuestionBox::kYes};
    h.click(u"Command3"_s);
    QVERIFY(h.history().isEmpty() && h.sorted().isEmpty());
    QCOMPARE(h.tileCaptions(), (QStringList{u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s, u"6"_s}));
    QCOMPARE(h.ini(), QByteArray("[History]\r\nData=0\r\nHis1=\r\n"));
    // Closed, it has saved once: a later close, signal or session end writes nothing more.
    QVERIFY(h.window->close());
    QVERIFY(h.writeIni("changed"));
    QVERIFY(h.window->close());
    h.window->saveForSessionEnd();
    h.window->endNow();
    QCOMPARE(h.ini(), QByteArray("changed"));
}

void TestFrmQelvo::withoutPermission()
{
    if (geteuid() == 0) {
        QSKIP("root ignores permissions; tst_frmqelvo_unprivileged runs this as nobody");
    }
    Harness h;
    const QByteArray file = exampleFile();
    QVERIFY(h.writeIni(file));
    QVERIFY(h.start());
    h.click(u"Command1"_s, {1, 2, 3, 4, 5, 6});
    const QFile::Permissions writable = QFile::permissions(h.folder);
    QVERIFY(QFile::setPermissions(h.folder, QFile::ReadOwner | QFile::ExeOwner));

    // A clear that cannot be written leaves the lists as they are, like the file.
    h.questions.answers = {QuestionBox::kYes};
    h.click(u"Command3"_s);
    QCOMPARE(h.history().size(), 2);
    QCOMPARE(h.questions.told.size(), 1);
    QVERIFY(h.questions.told.value(0).contains(u"消去されませんでした"_s));

    // A close that cannot save asks; Escape's answer No keeps the window.
    h.questions.answers = {QuestionBox::kNo};
    QVERIFY(!h.window->close());
    QVERIFY(h.questions.asked.last().contains(u"Permission denied"_s));
    QVERIFY(QFile::setPermissions(h.folder, writable));
    QVERIFY(h.window->close());
    QCOMPARE(h.ini(), "[History]\r\nData=2\r\nHis1=" + samples::exampleLine().toLatin1() +
                          "\r\nHis2=01  ;  02  ;  03  ;  04  ;  05  ;  06\r\n");
}

void TestFrmQelvo::clearWithDamagedCount()
{
    Harness h;
    QVERIFY(h.start());
    h.click(u"Command1"_s, kExampleDraw);
    QVERIFY(h.writeIni("[History]\r\nData=99999\r\n"));
    h.click(u"Command3"_s);
    QVERIFY(h.questions.asked.isEmpty());
    QCOMPARE(h.questions.told.size(), 1);
    QVERIFY(h.questions.told.value(0).contains(u"「99999」"_s));
    QCOMPARE(h.history(), QStringList{samples::exampleLine()});
    QCOMPARE(h.ini(), QByteArray("[History]\r\nData=99999\r\n"));
}

void TestFrmQelvo::printSendsEveryLine()
{
    Harness loaded;
    // The last value as Notepad on Japanese Windows writes it: shown and printed as such.
    const QByteArray values = "His1=a\r\nHis2=\r\nHis3=" + QByteArray(samples::kMemo932) + "\r\n";
    QVERIFY(loaded.writeIni("[History]\r\nData=3\r\n" + values));
    QVERIFY(loaded.start());
    loaded.printer.failing = {u"a"_s};
    loaded.click(u"Command2"_s);
    loaded.printer.failing.clear();
    loaded.click(u"Command2"_s);
    // The failed line is skipped; the empty line prints as an empty line.
    const QString memo = u"宝くじメモ"_s;
    QCOMPARE(loaded.printer.printed, (QStringList{QString(), memo, u"a"_s, QString(), memo}));
    QCOMPARE(loaded.history(), (QStringList{u"a"_s, QString(), memo}));
    QCOMPARE(loaded.tileCaptions(), stars());

    // Without a printer the press prints nothing and says nothing.
    loaded.printer.available = false;
    loaded.click(u"Command2"_s);
    QCOMPARE(loaded.printer.printed.size(), 5);
    QVERIFY(loaded.questions.told.isEmpty() && loaded.questions.asked.isEmpty());
    // The close keeps the stored bytes.
    loaded.click(u"Command1"_s, kExampleDraw);
    QVERIFY(loaded.window->close());
    QCOMPARE(loaded.ini(), "[History]\r\nData=4\r\n" + values +
                               "His4=" + samples::exampleLine().toLatin1() + "\r\n");
}

void TestFrmQelvo::endingWhileABoxIsOpen_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("displayGone");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("status");
    const QByteArray head =
        "[History]\r\nData=2\r\nHis1=" + samples::exampleLine().toLatin1() + "\r\nHis2=";
    // A signal, or the display going away: the same end, without a widget for the latter.
    for (const bool displayGone : {false, true}) {
        const QByteArray how = displayGone ? ", display gone" : ", signal";
        // The repeated line stays, as the question's default would keep it.
        QTest::newRow("repeat question" + how)
            << u"repeat"_s << displayGone << head + samples::exampleLine().toLatin1() + "\r\n"
            << 0;
        // Nothing is cleared; the kept line is saved as at any close.
        QTest::newRow("clear question" + how)
            << u"clear"_s << displayGone << head + "01  ;  02  ;  03  ;  04  ;  05  ;  06\r\n"
            << 0;
        // Nothing new is saved, and the failure is reported.
        QTest::newRow("close without saving question" + how)
            << u"unsaved"_s << displayGone << exampleFile() << 1;
    }
}

void TestFrmQelvo::endingWhileABoxIsOpen()
{
    QFETCH(QString, box);
    QFETCH(bool, displayGone);
    QFETCH(QByteArray, file);
    QFETCH(int, status);
    Harness h;
    QVERIFY(h.writeIni(exampleFile()));
    QVERIFY(h.start());
    const auto endWhileShown = [&h, displayGone] {
        h.questions.onNextBox = [&h, displayGone] {
            displayGone ? h.window->endWithoutDisplay() : h.window->endNow();
        };
    };
    if (box == u"repeat"_s) {
        endWhileShown();
        h.click(u"Command1"_s, kExampleDraw);
    } else if (box == u"clear"_s) {
        h.click(u"Command1"_s, {1, 2, 3, 4, 5, 6});
        endWhileShown();
        h.click(u"Command3"_s);
    } else {
        h.click(u"Command1"_s, {1, 2, 3, 4, 5, 6});
        // A folder where the file was: no save can replace it. The cause is gone by the time
        // the program ends, but the user never said to save: nothing new is saved.
        QVERIFY(QDir(h.folder).rename(u"qelvo.ini"_s, u"kept.ini"_s));
        QVERIFY(QDir().mkpath(h.iniPath()));
        h.questions.onNextBox = [&h, displayGone] {
            QDir().rmdir(h.iniPath());
            QDir(h.folder).rename(u"kept.ini"_s, u"qelvo.ini"_s);
            displayGone ? h.window->endWithoutDisplay() : h.window->endNow();
        };
        h.window->close();
    }
    // With the display gone no widget is touched: the toolkit ends the program itself.
    QCOMPARE(h.questions.abandoned, !displayGone);
    QCOMPARE(h.quits, displayGone ? 0 : 1);
    QCOMPARE(h.window->exitStatus(), status);
    QCOMPARE(h.reported.size(), status);
    QCOMPARE(h.ini(), file);
    // Nothing after the end changes the file: a late close or signal writes nothing.
    h.window->close();
    h.window->endNow();
    QCOMPARE(h.ini(), file);
}

void TestFrmQelvo::endingWithoutABox()
{
    Harness h;
    QVERIFY(h.start());
    h.click(u"Command1"_s, kExampleDraw);
    h.window->endNow();
    QCOMPARE(h.quits, 1);
    QCOMPARE(h.ini(), exampleFile());
    // What changes the file afterwards stays: a close or the session's end saves nothing more.
    QVERIFY(h.writeIni("changed"));
    h.window->close();
    h.window->saveForSessionEnd();
    QCOMPARE(h.ini(), QByteArray("changed"));

    // A save that fails is reported on standard error, naming the file and the reason; no box
    // but the one at the start, which said that no journal could be kept.
    Harness failing;
    failing.folder = failing.dir.filePath(u"missing"_s);
    QVERIFY(failing.start());
    QCOMPARE(failing.questions.told.size(), 1);
    failing.window->endNow();
    QVERIFY(failing.questions.asked.isEmpty() && failing.questions.told.size() == 1);
    QCOMPARE(failing.reported.size(), 1);
    QVERIFY(failing.reported.value(0).contains(failing.iniPath()));
    QVERIFY(
        failing.reported.value(0).contains(texts::reason({posix::Error::Kind::System, ENOENT})));
    QCOMPARE(failing.window->exitStatus(), 1);
    QCOMPARE(failing.quits, 1);
}

void TestFrmQelvo::sessionEndSavesAndGoesOn()
{
    Harness h;
    h.folder = h.dir.filePath(u"later"_s);
    QVERIFY(h.start());
    h.click(u"Command1"_s, kExampleDraw);
    h.window->saveForSessionEnd();
    QCOMPARE(h.reported.size(), 1);
    QCOMPARE(h.window->exitStatus(), 1);

    QVERIFY(QDir().mkpath(h.folder));
    h.window->saveForSessionEnd();
    QVERIFY(h.window->isVisible());
    QCOMPARE(h.quits, 0);
    QCOMPARE(h.window->exitStatus(), 0);
    QCOMPARE(h.ini(), exampleFile());
    h.click(u"Command1"_s, {1, 2, 3, 4, 5, 6});
    QVERIFY(h.window->close());
    QVERIFY(h.ini().endsWith("His2=01  ;  02  ;  03  ;  04  ;  05  ;  06\r\n"));
}

void TestFrmQelvo::folderNameNotUtf8()
{
    Harness h;
    h.folderNamed = false;
    QVERIFY(h.start());
    QCOMPARE(h.window->endCode(), std::optional<int>(1));
    QCOMPARE(h.questions.told, QStringList{texts::unnamedFolderMessage(h.folder)});
}

void TestFrmQelvo::clearKeepsWhatChangedDuringItsQuestion()
{
    Harness h;
    QVERIFY(h.writeIni("[History]\r\nData=2\r\nHis1=a\r\nHis2=b\r\n"));
    QVERIFY(h.start());
    // Another program saves two lines while the question is open: they stay, and are shown.
    h.questions.onNextBox = [&h] {
        QVERIFY(h.writeIni("[History]\r\nData=4\r\nHis1=a\r\nHis2=b\r\nHis3=c\r\nHis4=d\r\n"
                           "; added meanwhile\r\n[Other]\r\nx=1\r\n"));
    };
    h.questions.answers = {QuestionBox::kYes};
    h.click(u"Command3"_s);
    QCOMPARE(h.ini(), QByteArray("[History]\r\nData=2\r\nHis1=c\r\nHis2=d\r\nHis3=\r\nHis4=\r\n"
                                 "; added meanwhile\r\n[Other]\r\nx=1\r\n"));
    QCOMPARE(h.history(), (QStringList{u"c"_s, u"d"_s}));
    // The close after it adds only this run's own line: the kept ones are in the file already.
    h.click(u"Command1"_s, kExampleDraw);
    QVERIFY(h.window->close());
    QVERIFY(h.ini().startsWith("[History]\r\nData=3\r\nHis1=c\r\nHis2=d\r\nHis3=" +
                               samples::exampleLine().toLatin1() + "\r\n"));
}

void TestFrmQelvo::placedWithItsFrame()
{
    Harness h;
    h.frame = QMargins(1, 20, 1, 1);
    QVERIFY(h.start());
    // The outer window, frame and title bar included, is centred: twice its centre is the
    // screen's size, give or take the rounding of a half pixel.
    const QSize screen = h.window->screen()->geometry().size();
    const QRect client = h.window->geometry();
    const int twiceX = 2 * (client.x() - h.frame.left()) + client.width() + 2;
    const int twiceY = 2 * (client.y() - h.frame.top()) + client.height() + 21;
    QVERIFY2(qAbs(twiceX - screen.width()) <= 1, qPrintable(QString::number(twiceX)));
    QVERIFY2(qAbs(twiceY - screen.height()) <= 1, qPrintable(QString::number(twiceY)));
}

void TestFrmQelvo::newestLineInView()
{
    Harness h;
    QVERIFY(h.writeIni(samples::historyFile(40)));
    QVERIFY(h.start());
    HistoryListBox* list = h.list1();
    const auto inView = [list](int row) {
        const QRect rect = list->rowRect(row);
        return rect.top() >= 0 && rect.bottom() < list->viewport()->height();
    };
    QVERIFY(inView(39));
    h.click(u"Command1"_s, {1, 2, 3, 4, 5, 6});
    QVERIFY(inView(40));
    // The line a repeat question asks about is in view while it asks.
    bool askedInView = false;
    h.questions.onNextBox = [&] { askedInView = inView(41); };
    h.click(u"Command1"_s, {1, 2, 3, 4, 5, 6});
    QVERIFY(askedInView);
}

void TestFrmQelvo::historyListAsAListBox()
{
    Harness h;
    QVERIFY(h.writeIni(samples::historyFile(40)));
    QVERIFY(h.start());
    HistoryListBox* list = h.list1();
    const auto shows = [list](int row) {
        return list->currentRow() == row && list->viewport()->rect().contains(list->rowRect(row));
    };
    // A click selects the line under the mouse; the keys move the selection, kept in view.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->rowRect(37).center());
    QVERIFY(shows(37));
    QVERIFY(list->hasFocus());
    QTest::keyClick(list, Qt::Key_Home);
    QVERIFY(shows(0));
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_PageDown);
    QVERIFY(shows(7));
    QTest::keyClick(list, Qt::Key_End);
    QVERIFY(shows(39));
    // Nothing but the selection changes.
    QCOMPARE(h.history().size(), 40);
    QCOMPARE(h.tileCaptions(), stars());
    QCOMPARE(h.ini(), samples::historyFile(40));
}

void TestFrmQelvo::namesForAScreenReader()
{
    Harness h;
    QVERIFY(h.start());
    const auto name = [&h](const QString& control) {
        return QAccessible::queryAccessibleInterface(h.control<QWidget>(control))
            ->text(QAccessible::Name);
    };
    // The stacked captions are said as words.
    QCOMPARE(name(u"Command2"_s), u"履歴印刷"_s);
    QCOMPARE(name(u"Command3"_s), u"履歴全消去"_s);
    QCOMPARE(name(u"List2"_s), u"並 替"_s);
    QCOMPARE(name(u"List1"_s), u"履 歴"_s);
    QCOMPARE(name(u"Label1_0"_s), u"1 番目の数字 なし"_s);
    h.click(u"Command1"_s, kExampleDraw);
    QCOMPARE(name(u"Label1_0"_s), u"1 番目の数字 23"_s);
    QCOMPARE(name(u"Label1_5"_s), u"6 番目の数字 30"_s);
    // The history is a list of lines, not a table.
    QAccessibleInterface* history = QAccessible::queryAccessibleInterface(h.list1());
    QCOMPARE(history->role(), QAccessible::List);
    QStringList labelled;
    for (const auto& [other, relation] :
         QAccessible::queryAccessibleInterface(h.control<QWidget>(u"Label2_1"_s))->relations()) {
        labelled << other->object()->objectName();
    }
    QCOMPARE(labelled, QStringList{u"List1"_s});
    QCOMPARE(history->childCount(), 1);
    QCOMPARE(history->child(0)->role(), QAccessible::ListItem);
    QCOMPARE(history->child(0)->text(QAccessible::Name), samples::exampleLine());
    // A point finds the line under it, and nothing below the last line.
    const auto at = [&h, history](QPoint point) {
        const QPoint global = h.list1()->viewport()->mapToGlobal(point);
        return history->childAt(global.x(), global.y());
    };
    const QRect row = h.list1()->rowRect(0);
    QCOMPARE(at(row.center()), history->child(0));
    QCOMPARE(at(row.center() + QPoint(0, 2 * row.height())), nullptr);
}

void TestFrmQelvo::enterPressesTheFocusedButton_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("draws");
    // Five presses 50 ms apart, as a quick typist makes them: each one a draw.
    QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier) << 5;
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << 5;
    QTest::newRow("Enter") << int(Qt::Key_Enter) << int(Qt::NoModifier) << 5;
    QTest::newRow("Space") << int(Qt::Key_Space) << int(Qt::NoModifier) << 5;
    QTest::newRow("Ctrl+Return is no press")
        << int(Qt::Key_Return) << int(Qt::ControlModifier) << 0;
}

void TestFrmQelvo::enterPressesTheFocusedButton()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, draws);
    Harness h;
    QVERIFY(h.start());
    auto* draw = h.control<QPushButton>(u"Command1"_s);
    for (int press = 1; press <= 5; ++press) {
        h.random.feed({press, 10 + press, 20, 30, 40, 43});
        QTest::keyClick(draw, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QTest::qWait(50);
    }
    QCOMPARE(h.history().size(), draws);
}

void TestFrmQelvo::busyWhilePrinting()
{
    Harness h;
    QVERIFY(h.writeIni(samples::historyFile(2)));
    QVERIFY(h.start());
    QList<bool> busy;
    h.printer.onLine = [&busy] {
        busy << (QApplication::overrideCursor() != nullptr &&
                 QApplication::overrideCursor()->shape() == Qt::WaitCursor);
    };
    h.click(u"Command2"_s);
    QCOMPARE(busy, (QList<bool>{true, true}));
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

QTEST_MAIN(TestFrmQelvo)
#include "tst_frmqelvo.moc"
