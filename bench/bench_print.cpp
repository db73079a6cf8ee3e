// Handing the history to the printer: the lines of 1,000 and 32,767 draws into one document,
// written as PDF by Qt's own PDF output; counters give the document's size.
#include "print/lineprinter.h"

#include <QApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

void printHistory(benchmark::State& state)
{
    HistoryLines lines;
    for (int k = 1; k <= state.range(0); ++k) {
        lines.append(QStringLiteral("%1  ;  07  ;  15  ;  23  ;  30  ;  41")
                         .arg(k % 43 + 1, 2, 10, QChar(u'0'))
                         .toLatin1());
    }
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.pdf"));
    for (auto _ : state) {
        DocumentPrinter printer([&path] { return pdfPrinter(path); });
        printLines(printer, lines);
        printer.finish();
    }
    state.counters["pdf_bytes"] = static_cast<double>(QFileInfo(path).size());
}
BENCHMARK(printHistory)->Arg(1000)->Arg(32767)->Unit(benchmark::kMillisecond);

} // namespace
