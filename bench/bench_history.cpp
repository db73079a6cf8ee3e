// Load, save and clear of the history file: ours (one read and one atomic write per operation)
// side by side with a reference that reads and rewrites the whole file for every single value,
// as the one-call-per-value profile functions do. At 32,767 lines the reference would run for
// minutes, so there it is timed per call and its operation time is that times the calls.
#include "history/filestore.h"
#include "history/historyfile.h"
#include "history/profiledocument.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr qsizetype kCapacity = 256;
constexpr QByteArrayView kSection = "History";

HistoryLines historyOf(int count)
{
    HistoryLines lines;
    for (int k = 1; k <= count; ++k) {
        lines.append(QStringLiteral("%1  ;  07  ;  15  ;  23  ;  30  ;  41")
                         .arg(k % 43 + 1, 2, 10, QChar(u'0'))
                         .toLatin1());
    }
    return lines;
}

void put(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(bytes);
    }
}

QByteArray contents(const QString& path)
{
    return filestore::readWhole(path).bytes;
}

struct Files {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("qelvo.ini"));
    QByteArray empty = "[History]\r\nData=0\r\n";
    QByteArray full;

    explicit Files(int count)
    {
        history::saveHistory(path, historyOf(count), kCapacity);
        full = contents(path);
    }
};

// The reference: every value read or written costs a whole read (and a whole write) of the file.
QByteArray referenceRead(const QString& path, QByteArrayView key, QByteArrayView fallback)
{
    return ProfileDocument(contents(path)).value(kSection, key, fallback, kCapacity);
}

void referenceWrite(const QString& path, QByteArrayView key, QByteArrayView value)
{
    ProfileDocument document(contents(path));
    document.setValue(kSection, key, value);
    put(path, document.toBytes());
}

void referenceLoad(const QString& path)
{
    const int count = referenceRead(path, "Data", "0").toInt();
    HistoryLines lines;
    for (int k = 1; k <= count; ++k) {
        lines.append(referenceRead(path, history::lineKey(k), ""));
    }
    benchmark::DoNotOptimize(lines);
}

void referenceSave(const QString& path, const HistoryLines& lines)
{
    const int stored = referenceRead(path, "Data", "0").toInt();
    referenceWrite(path, "Data", QByteArray::number(lines.size()));
    for (int k = stored + 1; k <= lines.size(); ++k) {
        referenceWrite(path, history::lineKey(k), lines.at(k - 1));
    }
}

void referenceClear(const QString& path)
{
    const int stored = referenceRead(path, "Data", "0").toInt();
    for (int k = 1; k <= stored; ++k) {
        referenceWrite(path, history::lineKey(k), "");
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
        put(files.path, start);
        state.ResumeTiming();
        operation();
    }
}

void oursLoad(benchmark::State& state)
{
    const Files files(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(history::loadHistory(files.path, kCapacity));
    }
    state.counters["file_bytes"] = static_cast<double>(files.full.size());
}

void oursSave(benchmark::State& state)
{
    const Files files(static_cast<int>(state.range(0)));
    const HistoryLines lines = historyOf(static_cast<int>(state.range(0)));
    timeFrom(state, files, files.empty,
             [&] { history::saveHistory(files.path, lines, kCapacity); });
}

void oursClear(benchmark::State& state)
{
    const Files files(static_cast<int>(state.range(0)));
    timeFrom(state, files, files.full, [&] {
        history::HistoryFile file(files.path, kCapacity);
        history::clearStoredHistory(file, file.storedCount().value);
    });
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
    const HistoryLines lines = historyOf(static_cast<int>(state.range(0)));
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
        benchmark::DoNotOptimize(referenceRead(files.path, history::lineKey(k++ % count + 1), ""));
    }
    state.counters["operation_ms"] = operationMs(count);
}

void referenceWritePerCall(benchmark::State& state)
{
    const auto count = static_cast<int>(state.range(0));
    const Files files(count);
    int k = 0;
    for (auto _ : state) {
        referenceWrite(files.path, history::lineKey(k++ % count + 1), "");
    }
    state.counters["operation_ms"] = operationMs(count);
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

} // namespace

BENCHMARK_MAIN();
