#include "print/lineprinter.h"

#include "print/cups.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontMetrics>
#include <QLocale>
#include <QTimer>
#include <mutex>
#include <system_error>
#include <thread>

namespace print {

namespace {

constexpr int kAnswerPollMs = 10;
// The print system gives paper sizes in hundredths of a millimetre.
constexpr qreal kHundredthsPerMillimetre = 100;

// The paper of a queue that does not tell its own: Letter where the system's locale measures in
// the US system, else A4.
QPageSize::PageSizeId defaultPageSize()
{
    return QLocale::system().measurementSystem() == QLocale::ImperialUSSystem ? QPageSize::Letter
                                                                              : QPageSize::A4;
}

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
    if (!open()) {
        return false;
    }
    const QFontMetrics metrics(mPainter.font(), mWriter.get());
    const LinePlace place = placeLine(mNextTop, metrics.height(), mPainter.viewport().height());
    if (place.newPage && !mWriter->newPage()) {
        return false;
    }
    mPainter.drawText(0, place.top + metrics.ascent(), text);
    mNextTop = place.top + metrics.lineSpacing();
    return true;
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
    // A destination found after the timeout is never used.
    return answer->done ? std::move(answer->destination) : std::nullopt;
}

std::optional<Destination> defaultDestination()
{
    const Cups& cups = print::cups();
    // Without a default queue nothing is printed at all, not even on another queue.
    cups_dest_t* queue =
        cups.loaded ? cups.getNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr) : nullptr;
    if (queue == nullptr) {
        return std::nullopt;
    }
    Destination destination{QString::fromUtf8(queue->name), QPageSize(defaultPageSize()), {}};
    cups_size_t paper{};
    if (cups_dinfo_t* info = cups.copyDestInfo(CUPS_HTTP_DEFAULT, queue)) {
        if (cups.getDestMediaDefault(CUPS_HTTP_DEFAULT, queue, info, 0, &paper) != 0) {
            destination.media = QString::fromUtf8(paper.media);
            destination.pageSize =
                QPageSize(QSizeF(paper.width, paper.length) / kHundredthsPerMillimetre,
                          QPageSize::Millimeter, QString(), QPageSize::FuzzyMatch);
        }
        cups.freeDestInfo(info);
    }
    cups.freeDests(1, queue);
    return destination;
}

} // namespace print
