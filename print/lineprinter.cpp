#include "print/lineprinter.h"

#include "posix/clock.h"

#include <QFontMetrics>
#include <mutex>
#include <system_error>
#include <thread>

namespace print {

namespace {

constexpr std::chrono::milliseconds kAnswerPoll{10};

} // namespace

LinePlace placeLine(int nextTop, int lineHeight, int pageHeight)
{
    if (nextTop > 0 && nextTop + lineHeight > pageHeight) {
        return {true, 0};
    }
    return {false, nextTop};
}

bool paintLine(QPainter& painter, QPagedPaintDevice& device, int& nextTop, const QString& text)
{
    const QFontMetrics metrics(painter.font(), &device);
    const LinePlace place = placeLine(nextTop, metrics.height(), painter.viewport().height());
    if (place.newPage && !device.newPage()) {
        return false;
    }
    painter.drawText(0, place.top + metrics.ascent(), text);
    nextTop = place.top + metrics.lineSpacing();
    return true;
}

void printLines(LinePrinter& printer, const history::HistoryLines& lines)
{
    if (lines.isEmpty() || !printer.open()) {
        return;
    }
    // A line that cannot be printed is skipped without a word; the next one is tried.
    for (qsizetype position = 0; position < lines.size(); ++position) {
        printer.printLine(lines.text(position));
    }
}

DocumentPrinter::DocumentPrinter(DestinationLookup lookup)
    : mLookup(std::move(lookup))
{
}

DocumentPrinter::~DocumentPrinter()
{
    finish();
}

void DocumentPrinter::setOpened(std::function<void()> opened)
{
    mOpened = std::move(opened);
}

bool DocumentPrinter::open()
{
    if (mPainter.isActive()) {
        return true;
    }
    const std::optional<Destination> destination = mLookup();
    if (!destination) {
        return false;
    }
    mPdf.clear();
    mBuffer.setBuffer(&mPdf);
    mBuffer.open(QIODevice::WriteOnly);
    mWriter = std::make_unique<QPdfWriter>(&mBuffer);
    mWriter->setTitle(QString::fromUtf8(kDocumentTitle));
    mWriter->setPageSize(destination->pageSize);
    if (!mPainter.begin(mWriter.get())) {
        mWriter.reset();
        mBuffer.close();
        return false;
    }
    mQueue = destination->queue;
    mMedia = destination->media;
    mNextTop = 0;
    if (mOpened) {
        mOpened();
    }
    return true;
}

bool DocumentPrinter::printLine(const QString& text)
{
    return open() && paintLine(mPainter, *mWriter, mNextTop, text);
}

std::optional<Document> DocumentPrinter::finish()
{
    if (!mPainter.isActive()) {
        return std::nullopt;
    }
    mPainter.end();
    mWriter.reset();
    mBuffer.close();
    return Document{mQueue, mMedia, std::exchange(mPdf, {})};
}

std::optional<Destination> lookUpWithin(const DocumentPrinter::DestinationLookup& lookup,
                                        std::chrono::milliseconds timeout)
{
    struct Answer {
        std::mutex lock;
        bool done = false;
        std::optional<Destination> destination;
    };
    auto answer = std::make_shared<Answer>();
    try {
        std::thread([answer, lookup] {
            std::optional<Destination> destination = lookup();
            const std::lock_guard guard(answer->lock);
            answer->destination = std::move(destination);
            answer->done = true;
        }).detach();
    } catch (const std::system_error&) {
        return lookup();
    }

    // The window keeps answering meanwhile, through the pause it gives the waits.
    posix::waitFor(timeout, kAnswerPoll, [&answer] {
        const std::lock_guard guard(answer->lock);
        return answer->done;
    });
    const std::lock_guard guard(answer->lock);
    // A destination found after the timeout is never used.
    return answer->done ? std::move(answer->destination) : std::nullopt;
}

} // namespace print
