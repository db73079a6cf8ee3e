#pragma once

#include "history/historylines.h"
#include "print/handover.h"

#include <QBuffer>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace print {

// Where the history is printed: one text as one line of a document that the first printed line
// opens and that stays open, collecting later presses, until the program ends.
class LinePrinter {
public:
    LinePrinter() = default;
    LinePrinter(const LinePrinter&) = delete;
    LinePrinter& operator=(const LinePrinter&) = delete;
    virtual ~LinePrinter() = default;

    // Makes sure a document is open, opening one on the printer when none is; false when there
    // is no printer to open it on.
    virtual bool open() = 0;
    // False when the line could not be printed.
    virtual bool printLine(const QString& text) = 0;
};

// Where a line lineHeight high goes when the next line of the page would start at nextTop: there,
// or at the top of a new page when it would run past the page's printable height. A page's first
// line stays on its page even when it is taller than the page.
struct LinePlace {
    bool newPage = false;
    int top = 0;
};
LinePlace placeLine(int nextTop, int lineHeight, int pageHeight);

// Paints text as the next line of the page that painter paints on device, whose next line starts
// at nextTop, on a new page when it does not fit; false when no new page could be begun.
bool paintLine(QPainter& painter, QPagedPaintDevice& device, int& nextTop, const QString& text);

// Prints each line on its own; a line that fails is skipped. The printer is looked for once per
// call: without one, every line is skipped at once instead of after a lookup of its own, which
// with a print system that has queues but no default one costs about a millisecond a line.
void printLines(LinePrinter& printer, const history::HistoryLines& lines);

// The print queue that a document goes to, and its paper.
struct Destination {
    QString queue;
    QPageSize pageSize;
    QString media; // the paper as the print system names it, if it tells
};

// Lines on the pages of one PDF document for a destination's paper, with the default margins and
// font; a new page when a line no longer fits. The document is made in memory, and finish()
// completes it for the hand-over to the print system.
//
// Not QPrinter: it asks the print system for its printers on the window's thread, without a
// limit on the wait, so a print system that does not answer would freeze the window; and it
// spools to a file and submits at the end of each painting, where all presses of a run make one
// job here, handed over when the program ends, also by a signal.
class DocumentPrinter final : public LinePrinter {
public:
    // Gives the destination to open a document for, or nothing when there is none; asked again
    // by every open() until a document is open.
    using DestinationLookup = std::function<std::optional<Destination>()>;

    explicit DocumentPrinter(DestinationLookup lookup);
    ~DocumentPrinter() override;
    DocumentPrinter(const DocumentPrinter&) = delete;
    DocumentPrinter& operator=(const DocumentPrinter&) = delete;

    bool open() override;
    bool printLine(const QString& text) override;
    // Completes the open document; no document was opened, nothing.
    std::optional<Document> finish();
    // Called each time a document is opened.
    void setOpened(std::function<void()> opened);

private:
    DestinationLookup mLookup;
    std::function<void()> mOpened;
    QString mQueue;
    QString mMedia;
    QByteArray mPdf;
    QBuffer mBuffer;
    std::unique_ptr<QPdfWriter> mWriter;
    QPainter mPainter;
    int mNextTop = 0;
};

// Runs lookup on a thread of its own and waits at most timeout for its destination (see
// posix::waitFor), so that a print system that never answers cannot freeze the window: after the
// timeout there is no destination, as without a print system.
std::optional<Destination> lookUpWithin(const DocumentPrinter::DestinationLookup& lookup,
                                        std::chrono::milliseconds timeout);

} // namespace print
