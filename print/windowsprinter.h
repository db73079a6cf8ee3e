#pragma once

#include "print/handover.h"
#include "print/lineprinter.h"

#include <QPainter>
#include <QPrinter>
#include <memory>

namespace print {

// Lines on the default Windows printer, through Qt's printing on the Windows spooler: one
// document, opened by the first printed line, collecting later presses and handed to the
// spooler as one job when the program ends. The spooler is local, so no call here waits on a
// printer. Without a default printer nothing is opened and nothing shown, as on Linux.
class WindowsPrinter final : public LinePrinter {
public:
    // Gives the printer to open a document on, or none when there is none; asked by every open()
    // until a document is open.
    using PrinterLookup = std::function<std::unique_ptr<QPrinter>()>;
    // The default Windows printer, or none.
    static std::unique_ptr<QPrinter> defaultPrinter();

    explicit WindowsPrinter(PrinterLookup lookup = defaultPrinter);
    ~WindowsPrinter() override;
    WindowsPrinter(const WindowsPrinter&) = delete;
    WindowsPrinter& operator=(const WindowsPrinter&) = delete;

    bool open() override;
    bool printLine(const QString& text) override;
    // Hands the document to the spooler: NoDocument when none was open, else whether the
    // spooler took it.
    HandOver finish();
    // Called each time a document is opened.
    void setOpened(std::function<void()> opened);

private:
    PrinterLookup mLookup;
    std::function<void()> mOpened;
    std::unique_ptr<QPrinter> mPrinter;
    QPainter mPainter;
    int mNextTop = 0;
};

} // namespace print
