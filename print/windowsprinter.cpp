#include "print/windowsprinter.h"

#include <QPrinterInfo>

namespace print {

std::unique_ptr<QPrinter> WindowsPrinter::defaultPrinter()
{
    const QPrinterInfo destination = QPrinterInfo::defaultPrinter();
    if (destination.isNull()) {
        return nullptr;
    }
    return std::make_unique<QPrinter>(destination, QPrinter::HighResolution);
}

WindowsPrinter::WindowsPrinter(PrinterLookup lookup)
    : mLookup(std::move(lookup))
{
}

WindowsPrinter::~WindowsPrinter()
{
    finish();
}

void WindowsPrinter::setOpened(std::function<void()> opened)
{
    mOpened = std::move(opened);
}

bool WindowsPrinter::open()
{
    if (mPainter.isActive()) {
        return true;
    }
    mPrinter = mLookup();
    if (!mPrinter) {
        return false;
    }
    mPrinter->setDocName(QString::fromUtf8(kDocumentTitle));
    if (!mPainter.begin(mPrinter.get())) {
        mPrinter.reset();
        return false;
    }
    mNextTop = 0;
    if (mOpened) {
        mOpened();
    }
    return true;
}

bool WindowsPrinter::printLine(const QString& text)
{
    return open() && paintLine(mPainter, *mPrinter, mNextTop, text);
}

HandOver WindowsPrinter::finish()
{
    if (!mPainter.isActive()) {
        return {};
    }
    const bool accepted = mPainter.end();
    // The spooler gives no words of its own for a job it refused.
    return {accepted ? HandOver::Outcome::Accepted : HandOver::Outcome::Refused,
            mPrinter->printerName(),
            {}};
}

} // namespace print
