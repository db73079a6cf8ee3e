#include "print/lineprinter.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontMetrics>
#include <QPrinterInfo>
#include <QTimer>
#include <mutex>
#include <system_error>
#include <thread>

namespace print {

namespace {
constexpr int kAnswerPollMs = 10;
} // namespace

LinePlace placeLine(int nextTop, int lineHeight, int pageHeight)
{
    if (nextTop > 0 && nextTop + lineHeight > pageHeight) {
        return {true, 0};
    }
    return {false, nextTop};
}

int printLines(LinePrinter& printer, const history::HistoryLines& lines)
{
    if (lines.isEmpty()) {
        return 0;
    }
    const bool open = printer.open();
    int position = 0;
    for (; position < lines.size(); ++position) {
        // A line that cannot be printed is skipped without a word; the next one is tried.
        if (open) {
            printer.printLine(lines.text(position));
        }
    }
    return position;
}

DocumentPrinter::DocumentPrinter(PrinterLookup lookup)
    : mLookup(std::move(lookup))
{
}

DocumentPrinter::~DocumentPrinter()
{
    finish();
}

bool DocumentPrinter::open()
{
    if (mPainter.isActive()) {
        return true;
    }
    std::unique_ptr<QPrinter> printer = mLookup();
    if (!printer || !mPainter.begin(printer.get())) {
        return false;
    }
    mPrinter = std::move(printer);
    mNextTop = 0;
    return true;
}

bool DocumentPrinter::printLine(const QString& text)
{
    if (!open()) {
        return false;
    }
    const QFontMetrics metrics(mPainter.font(), mPrinter.get());
    const LinePlace place = placeLine(mNextTop, metrics.height(), mPainter.viewport().height());
    if (place.newPage && !mPrinter->newPage()) {
        return false;
    }
    mPainter.drawText(0, place.top + metrics.ascent(), text);
    mNextTop = place.top + metrics.lineSpacing();
    return true;
}

void DocumentPrinter::finish()
{
    if (mPainter.isActive()) {
        mPainter.end();
    }
    mPrinter.reset();
}

std::unique_ptr<QPrinter> lookUpWithin(const DocumentPrinter::PrinterLookup& lookup,
                                       std::chrono::milliseconds timeout)
{
    struct Answer {
        std::mutex lock;
        bool done = false;
        bool abandoned = false;
        std::unique_ptr<QPrinter> printer;
    };
    auto answer = std::make_shared<Answer>();
    try {
        std::thread([answer, lookup] {
            std::unique_ptr<QPrinter> printer = lookup();
            const std::lock_guard guard(answer->lock);
            if (answer->abandoned) {
                // The program may be ending by now, and a printer destroyed after the print
                // system could crash it: the late printer is left to the end of the process.
                static_cast<void>(printer.release());
                return;
            }
            answer->printer = std::move(printer);
            answer->done = true;
        }).detach();
    } catch (const std::system_error&) {
        return lookup();
    }

    QEventLoop waiting;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &waiting, [&] {
        const std::lock_guard guard(answer->lock);
        if (answer->done || clock.elapsed() >= timeout.count()) {
            waiting.quit();
        }
    });
    poll.start(kAnswerPollMs);
    waiting.exec();
    const std::lock_guard guard(answer->lock);
    answer->abandoned = !answer->done;
    return std::move(answer->printer);
}

std::unique_ptr<QPrinter> defaultPrinter()
{
    // QPrinter given a null description silently prints to the first queue or to a file:
    // without a default queue nothing is printed at all.
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) {
        return nullptr;
    }
    auto printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    printer->setDocName(QStringLiteral("Six Random Numbers"));
    return printer;
}

std::unique_ptr<QPrinter> pdfPrinter(const QString& path)
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(path);
    return printer;
}

} // namespace print
