// Load, save and clear of the history file: ours (one read and one atomic write per operation)
// side by side with a reference that reads and rewrites the whole file for every single value,
// as the one-call-per-value profile functions do. At 32,767 lines the reference would run for
// minutes, so there it is timed per call and its operation time is that times the calls.
//
// A crafted file (a full count, no line keys, many comment lines after the count) shows that
// every operation stays linear in the file's size: the time per megabyte stays flat.
#include "history/historyfile.h"
#include "history/profiledocument.h"
#include "support/samples.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr qsizetype kCapacity = history::kReceiveBufferSize;
constexpr QByteArrayView kSection = "History";

using samples::numberedLines;

using history::lineKey;
using samples::readFile;
using samples::writeFile;

struct Files {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("qelvo.ini"));
    QByteArray empty = "[History]\r\nData=0\r\n";
    QByteArray full;

    explicit Files(int count)
    {
        history::saveHistory(path, numberedLines(count), 0);
        full = readFile(path);
    }
};

// The reference: every value read or written costs a whole read (and a whole write) of the file.
QByteArray referenceRead(const QString& path, QByteArrayView key, QByteArrayView fallback)
{
    return history::ProfileDocument(readFile(path)).value(kSection, key, fallback, kCapacity);
}

void referenceWrite(const QString& path, QByteArrayView key, QByteArrayView value)
{
    history::ProfileDocument document(readFile(path));
    document.setValue(kSection, key, value);
    writeFile(path, document.toBytes());
}

void referenceLoad(const QString& path)
{
    const int count = referenceRead(path, "Data", "0").toInt();
    history::HistoryLines lines;
    for (int k = 1; k <= count; ++k) {
        lines.append(referenceRead(path, lineKey(k), ""));
    }
    benchmark::DoNotOptimize(lines);
}

void referenceSave(const QString& path, const history::HistoryLines& lines)
{
    const int stored = referenceRead(path, "Data", "0").toInt();
    referenceWrite(path, "Data", QByteArray::number(lines.size()));
    for (int k = stored + 1; k <= lines.size(); ++k) {
        referenceWrite(path, lineKey(k), lines.at(k - 1));
    }
}

void referenceClear(const QString& path)
{
    const int stored = referenceRead(path, "Data", "0").toInt();
    for (int k = 1; k <= stored; ++k) {
        referenceWrite(path, lineKey(k), "");
    }
    referenceWrite(path, "Data", "0");
}

// Times operation on the file, put back to its start bytes before every iteration.
template <typename Operation>
void timeFrom(benchmark::State& state, const Files& files, const QByteArray& start,
              Operation operation)
{
    for (auto _ : state) {
        state.PauseTiming();
        writeFile(files.path, start);
        state.ResumeTiming();
        operation();
    }
}

void oursLoad(benchmark::State& state)
{
    const Files files(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(history::loadHistory(files.path));
    }
    state.counters["file_bytes"] = static_cast<double>(files.full.size());
}

void oursSave(benchmark::State& state)
{
    const Files files(static_cast<int>(state.range(0)));
    const history::HistoryLines lines = numberedLines(static_cast<int>(state.range(0)));
    timeFrom(state, files, files.empty, [&] { history::saveHistory(files.path, lines, 0); });
}

void oursClear(benchmark::State& state)
{
    const Files files(static_cast<int>(state.range(0)));
    timeFrom(state, files, files.full,
             [&] { history::clearHistory(files.path, history::loadHistory(files.path).lines); });
}

void referenceLoadWhole(benchmark::State& state)
{
    const Files files(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        referenceLoad(files.path);
    }
}

void referenceSaveWhole(benchmark::State& state)
{
    const Files files(static_cast<int>(state.range(0)));
    const history::HistoryLines lines = numberedLines(static_cast<int>(state.range(0)));
    timeFrom(state, files, files.empty, [&] { referenceSave(files.path, lines); });
}

void referenceClearWhole(benchmark::State& state)
{
    const Files files(static_cast<int>(state.range(0)));
    timeFrom(state, files, files.full, [&] { referenceClear(files.path); });
}

// "operation_ms": the time per call times the count + 1 calls of a whole load (count + 1 reads)
// or save or clear (1 read + count + 1 writes, about as long) at that size.
benchmark::Counter operationMs(int count)
{
    return benchmark::Counter(1.0 / ((count + 1) * 1000.0),
                              benchmark::Counter::kIsIterationInvariantRate |
                                  benchmark::Counter::kInvert);
}

// One reference read or write on a file of the given size.
void referenceReadPerCall(benchmark::State& state)
{
    const auto count = static_cast<int>(state.range(0));
    const Files files(count);
    int k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(referenceRead(files.path, lineKey(k++ % count + 1), ""));
    }
    state.counters["operation_ms"] = operationMs(count);
}

void referenceWritePerCall(benchmark::State& state)
{
    const auto count = static_cast<int>(state.range(0));
    const Files files(count);
    int k = 0;
    for (auto _ : state) {
        referenceWrite(files.path, lineKey(k++ % count + 1), "");
    }
    state.counters["operation_ms"] = operationMs(count);
}

// A count of 32,767 or 0 and no line keys, followed by range(0) comment lines.
QByteArray craftedFile(int count, int comments)
{
    constexpr QByteArrayView kComment = "; comment\r\n";
    QByteArray bytes = "[History]\r\nData=" + QByteArray::number(count) + "\r\n";
    bytes.reserve(bytes.size() + kComment.size() * comments);
    for (int k = 0; k < comments; ++k) {
        bytes += kComment;
    }
    return bytes;
}

// Load, save of a full list and clear of a full count on the crafted file: the bytes per second
// stay flat from 300,000 to 1,000,000 comment lines (3 to 11 MB) when the work is linear in the
// file's size; 100,000 lines still fit the processor's cache.
template <typename Operation> void crafted(benchmark::State& state, int count, Operation operation)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("qelvo.ini"));
    const QByteArray start = craftedFile(count, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        writeFile(path, start);
        state.ResumeTiming();
        operation(path);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * start.size());
}

void craftedLoad(benchmark::State& state)
{
    crafted(state, history::kMaxLines,
            [](const QString& path) { benchmark::DoNotOptimize(history::loadHistory(path)); });
}

void craftedSave(benchmark::State& state)
{
    const history::HistoryLines lines = numberedLines(history::kMaxLines);
    crafted(state, 0, [&lines](const QString& path) { history::saveHistory(path, lines, 0); });
}

void craftedClear(benchmark::State& state)
{
    crafted(state, history::kMaxLines, [](const QString& path) {
        history::clearHistory(path, history::loadHistory(path).lines);
    });
}

constexpr int kSmall = 1000;
constexpr int kFull = 32767;

BENCHMARK(oursLoad)->Arg(kSmall)->Arg(kFull)->Unit(benchmark::kMillisecond);
BENCHMARK(oursSave)->Arg(kSmall)->Arg(kFull)->Unit(benchmark::kMillisecond);
BENCHMARK(oursClear)->Arg(kSmall)->Arg(kFull)->Unit(benchmark::kMillisecond);
BENCHMARK(referenceLoadWhole)->Arg(kSmall)->Unit(benchmark::kMillisecond);
BENCHMARK(referenceSaveWhole)->Arg(kSmall)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(referenceClearWhole)->Arg(kSmall)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(referenceReadPerCall)->Arg(kFull)->Unit(benchmark::kMillisecond);
BENCHMARK(referenceWritePerCall)->Arg(kFull)->Unit(benchmark::kMillisecond);
BENCHMARK(craftedLoad)->Arg(100000)->Arg(300000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(craftedSave)->Arg(100000)->Arg(300000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(craftedClear)->Arg(100000)->Arg(300000)->Arg(1000000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
