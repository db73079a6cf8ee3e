// Handing the history to the printer: the lines of 1,000 and 32,767 draws into one document,
// written as PDF by Qt's own PDF output; counters give the document's size.
#include "print/lineprinter.h"
#include "support/samples.h"

#include <QApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

void printHistory(benchmark::State& state)
{
    const history::HistoryLines lines = samples::numberedLines(static_cast<int>(state.range(0)));
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.pdf"));
    for (auto _ : state) {
        print::DocumentPrinter printer([&path] { return print::pdfPrinter(path); });
        print::printLines(printer, lines);
        printer.finish();
    }
    state.counters["pdf_bytes"] = static_cast<double>(QFileInfo(path).size());
}
BENCHMARK(printHistory)->Arg(1000)->Arg(32767)->Unit(benchmark::kMillisecond);

} // namespace
