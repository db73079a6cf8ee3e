#pragma once

#include "history/historylines.h"

#include <QPainter>
#include <QPrinter>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>

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

// Prints each line on its own; a line that fails is skipped. The printer is looked for once per
// call: without one, every line is skipped at once instead of after a lookup of its own, which
// with a print system that has queues but no default one costs about a millisecond a line.
// Returns the positions gone through.
int printLines(LinePrinter& printer, const history::HistoryLines& lines);

// Lines on pages of a QPrinter: the printer's own page, margins and default font; a new page
// when a line no longer fits; the document is handed over by finish() or the destructor.
class DocumentPrinter final : public LinePrinter {
public:
    // Gives the printer to open a document on, or nothing when there is none; asked again by
    // every open() until a document is open.
    using PrinterLookup = std::function<std::unique_ptr<QPrinter>()>;

    explicit DocumentPrinter(PrinterLookup lookup);
    ~DocumentPrinter() override;
    DocumentPrinter(const DocumentPrinter&) = delete;
    DocumentPrinter& operator=(const DocumentPrinter&) = delete;

    bool open() override;
    bool printLine(const QString& text) override;
    // Completes the open document and hands it to the print system; no document, no job.
    void finish();

private:
    PrinterLookup mLookup;
    std::unique_ptr<QPrinter> mPrinter;
    QPainter mPainter;
    int mNextTop = 0;
};

// Runs lookup on a thread of its own and waits at most timeout for its printer while the event
// loop goes on, so that a print system that never answers cannot freeze the window: after the
// timeout there is no printer, as without a print system. A printer found later is never used.
std::unique_ptr<QPrinter> lookUpWithin(const DocumentPrinter::PrinterLookup& lookup,
                                       std::chrono::milliseconds timeout);

// The system's default print queue, or nothing when there is no default queue.
std::unique_ptr<QPrinter> defaultPrinter();
// A printer that writes a PDF file; only the tests and the benchmarks print to files.
std::unique_ptr<QPrinter> pdfPrinter(const QString& path);

} // namespace print
