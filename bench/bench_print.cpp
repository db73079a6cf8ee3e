// Printing the history: the lines of 1,000 and 32,767 draws into one document, made as PDF by
// Qt's own PDF output; a counter gives the document's size.
#include "print/lineprinter.h"
#include "support/samples.h"

#include <benchmark/benchmark.h>

namespace {

void printHistory(benchmark::State& state)
{
    const history::HistoryLines lines = samples::numberedLines(static_cast<int>(state.range(0)));
    qsizetype bytes = 0;
    for (auto _ : state) {
        print::DocumentPrinter printer([] {
            return print::Destination{QStringLiteral("queue"), QPageSize(QPageSize::A4), {}};
        });
        print::printLines(printer, lines);
        bytes = printer.finish()->pdf.size();
    }
    state.counters["pdf_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(printHistory)->Arg(1000)->Arg(32767)->Unit(benchmark::kMillisecond);

} // namespace
