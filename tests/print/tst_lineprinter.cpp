#include "posix/clock.h"
#include "print/lineprinter.h"
#include "support/samples.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <array>
#include <atomic>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

using samples::line;
using samples::linesOf;

// The text of each page of a PDF document, as pdftotext reads it, with runs of blanks made one.
QStringList pagesOf(const std::optional<print::Document>& document)
{
    QProcess text;
    text.start(u"pdftotext"_s, {u"-layout"_s, u"-"_s, u"-"_s});
    text.write(document ? document->pdf : QByteArray());
    text.closeWriteChannel();
    if (!text.waitForFinished() || text.exitCode() != 0) {
        return {};
    }
    QStringList pages = QString::fromUtf8(text.readAllStandardOutput()).split(u'\f');
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty()) {
        pages.removeLast();
    }
    for (QString& page : pages) {
        page =
            page.split(u'\n').replaceInStrings(QRegularExpression(u"\\s+"_s), u" "_s).join(u'\n');
    }
    return pages;
}

QString squeezed(const QString& text)
{
    return text.simplified();
}

} // namespace

class TestLinePrinter : public QObject {
    Q_OBJECT

private slots:
    void init();
    void emptyHistoryOpensNothing();
    void oneDocumentForEveryPress();
    void emptyAndJapaneseLinesPrintAsShown();
    void pagesInOrderNoLineSplit();
    void noPrinterPrintsNothingAndGoesOn();
    void placeLine_data();
    void placeLine();
    void lookUpWithin();
    void handOver_data();
    void handOver();

private:
    int mLookups = 0;
    print::DocumentPrinter::DestinationLookup lookup()
    {
        return [this] {
            ++mLookups;
            return print::Destination{u"queue"_s, QPageSize(QPageSize::A4), u"iso_a4_210x297mm"_s};
        };
    }
};

void TestLinePrinter::init()
{
    mLookups = 0;
}

void TestLinePrinter::emptyHistoryOpensNothing()
{
    print::DocumentPrinter printer(lookup());
    print::printLines(printer, history::HistoryLines());
    QVERIFY(!printer.finish());
    QCOMPARE(mLookups, 0);
}

void TestLinePrinter::oneDocumentForEveryPress()
{
    const history::HistoryLines lines = linesOf({line(1), line(2), line(3)});
    print::DocumentPrinter printer(lookup());
    print::printLines(printer, lines);
    print::printLines(printer, lines);
    QCOMPARE(mLookups, 1);
    const std::optional<print::Document> document = printer.finish();
    QVERIFY(document);
    QCOMPARE(document->queue, u"queue"_s);
    QCOMPARE(document->media, u"iso_a4_210x297mm"_s);
    const QStringList pages = pagesOf(document);
    QCOMPARE(pages.size(), 1);
    const QStringList printed = pages.first().split(u'\n', Qt::SkipEmptyParts);
    QStringList expected;
    for (int copy = 0; copy < 2; ++copy) {
        for (int n = 1; n <= 3; ++n) {
            expected << squeezed(line(n));
        }
    }
    QStringList got;
    for (const QString& text : printed) {
        if (!text.trimmed().isEmpty()) {
            got << squeezed(text);
        }
    }
    QCOMPARE(got, expected);
}

void TestLinePrinter::emptyAndJapaneseLinesPrintAsShown()
{
    print::DocumentPrinter printer(lookup());
    // The last value as Notepad on Japanese Windows writes it.
    print::printLines(printer,
                      linesOf({line(1), QString(), QString::fromLatin1(samples::kMemo932)}));
    const QStringList pages = pagesOf(printer.finish());
    QCOMPARE(pages.size(), 1);
    QStringList printed = pages.first().split(u'\n');
    while (!printed.isEmpty() && printed.first().trimmed().isEmpty()) {
        printed.removeFirst();
    }
    QVERIFY(printed.size() >= 3);
    QCOMPARE(squeezed(printed.at(0)), squeezed(line(1)));
    QVERIFY(printed.at(1).trimmed().isEmpty());
    QCOMPARE(squeezed(printed.at(2)), u"宝くじメモ"_s);
}

void TestLinePrinter::pagesInOrderNoLineSplit()
{
    constexpr int kLines = 250;
    QStringList texts;
    for (int k = 1; k <= kLines; ++k) {
        texts << u"%1 %2"_s.arg(k, 5, 10, QChar(u'0')).arg(line(k % 43 + 1));
    }
    print::DocumentPrinter printer(lookup());
    print::printLines(printer, linesOf(texts));
    const QStringList pages = pagesOf(printer.finish());
    QVERIFY2(pages.size() >= 3, qPrintable(u"%1 pages"_s.arg(pages.size())));
    QStringList got;
    for (const QString& page : pages) {
        for (const QString& text : page.split(u'\n', Qt::SkipEmptyParts)) {
            if (!text.trimmed().isEmpty()) {
                got << squeezed(text);
            }
        }
    }
    QStringList expected;
    for (const QString& text : texts) {
        expected << squeezed(text);
    }
    // Every line whole, once, in order, across the pages.
    QCOMPARE(got, expected);
}

void TestLinePrinter::noPrinterPrintsNothingAndGoesOn()
{
    int lookups = 0;
    print::DocumentPrinter printer([&lookups] {
        ++lookups;
        return std::optional<print::Destination>();
    });
    print::printLines(printer, linesOf({line(1), line(2)}));
    QCOMPARE(lookups, 1);
    // Every press looks for a printer again.
    print::printLines(printer, linesOf({line(1), line(2)}));
    QCOMPARE(lookups, 2);
    QVERIFY(!printer.finish());
}

void TestLinePrinter::placeLine_data()
{
    QTest::addColumn<int>("nextTop");
    QTest::addColumn<int>("pageHeight");
    QTest::addColumn<bool>("newPage");
    QTest::addColumn<int>("top");
    // Lines 50 high on pages 1,000 high.
    QTest::newRow("first line at the top") << 0 << 1000 << false << 0;
    QTest::newRow("line ends on the last row") << 950 << 1000 << false << 950;
    QTest::newRow("line one row past the page") << 951 << 1000 << true << 0;
    QTest::newRow("line starting below the page") << 1010 << 1000 << true << 0;
    QTest::newRow("first line taller than the page stays") << 0 << 40 << false << 0;
}

void TestLinePrinter::placeLine()
{
    QFETCH(int, nextTop);
    QFETCH(int, pageHeight);
    QFETCH(bool, newPage);
    QFETCH(int, top);
    constexpr int kLineHeight = 50;
    const print::LinePlace place = print::placeLine(nextTop, kLineHeight, pageHeight);
    QCOMPARE(place.newPage, newPage);
    QCOMPARE(place.top, top);
}

void TestLinePrinter::lookUpWithin()
{
    // A print system that answers in time gives its printer.
    QVERIFY(print::lookUpWithin(lookup(), std::chrono::seconds(10)));
    QCOMPARE(mLookups, 1);

    // One that does not answer gives none after the timeout, and the window goes on meanwhile,
    // through the pause that it gives the waits.
    const posix::Pause before = posix::setPause([](std::chrono::milliseconds time) {
        QCoreApplication::processEvents();
        posix::sleepFor(time);
    });
    int ticks = 0;
    QTimer window;
    connect(&window, &QTimer::timeout, this, [&ticks] { ++ticks; });
    window.start(10);
    const auto silent = [] {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        return std::optional<print::Destination>();
    };
    QVERIFY(!print::lookUpWithin(silent, std::chrono::milliseconds(300)));
    posix::setPause(before);
    QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
}

void TestLinePrinter::handOver_data()
{
    using Outcome = print::HandOver::Outcome;
    QTest::addColumn<QString>("printSystem");
    QTest::addColumn<int>("outcome");
    QTest::newRow("accepted") << u"accepts"_s << int(Outcome::Accepted);
    QTest::newRow("refused, with the reason") << u"refuses"_s << int(Outcome::Refused);
    QTest::newRow("stalled: the wait is bounded") << u"stalls"_s << int(Outcome::TimedOut);
    QTest::newRow("stalled: a signal ends the wait") << u"signal"_s << int(Outcome::Interrupted);
    QTest::newRow("no document, no job") << u"none"_s << int(Outcome::NoDocument);
}

void TestLinePrinter::handOver()
{
    QFETCH(QString, printSystem);
    QFETCH(int, outcome);
    std::optional<print::Document> document =
        print::Document{u"queue"_s, u"A4"_s, QByteArray("%PDF-")};
    if (printSystem == u"none"_s) {
        document.reset();
    }
    // Shared with the thread that submits, which may outlive this row.
    const auto submitted = std::make_shared<std::atomic<int>>(0);
    const print::Submit submit = [printSystem, submitted](const print::Document& job) {
        ++*submitted;
        if (printSystem == u"stalls"_s || printSystem == u"signal"_s) {
            std::this_thread::sleep_for(std::chrono::seconds(3));
        }
        const bool accepted = printSystem == u"accepts"_s && job.pdf == "%PDF-";
        return print::Submission{accepted, accepted ? QString() : u"not accepting jobs"_s};
    };
    std::array<int, 2> interrupt{};
    QCOMPARE(::pipe(interrupt.data()), 0);
    if (printSystem == u"signal"_s) {
        QCOMPARE(::write(interrupt[1], "s", 1), ssize_t{1});
    }
    QElapsedTimer waited;
    waited.start();
    const print::HandOver handed =
        print::handOver(document, submit, std::chrono::milliseconds(500), interrupt[0]);
    QCOMPARE(int(handed.outcome), outcome);
    QVERIFY(waited.elapsed() < 2000);
    QCOMPARE(handed.abandoned(), printSystem == u"stalls"_s || printSystem == u"signal"_s);
    if (printSystem == u"refuses"_s) {
        QCOMPARE(handed.reason, u"not accepting jobs"_s);
    }
    QCOMPARE(*submitted > 0 || printSystem == u"signal"_s, printSystem != u"none"_s);
    ::close(interrupt[0]);
    ::close(interrupt[1]);
}

QTEST_MAIN(TestLinePrinter)
#include "tst_lineprinter.moc"
