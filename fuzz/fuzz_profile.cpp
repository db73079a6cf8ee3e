// Feeds arbitrary bytes to the profile-file reader and writer: no crash, no hang, no leak;
// reading alone keeps every byte, the one-pass read of numbered keys agrees with reading them
// one by one and names each key once, reads before and after a write elsewhere agree, and the
// history's own writes read back as written.
#include "history/historyfile.h"
#include "history/profiledocument.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

namespace {

// The numbered values as a list, a missing key as nothing.
std::vector<std::optional<QByteArray>> numberedValues(const history::ProfileDocument& document,
                                                      qint32 count, qsizetype capacity)
{
    std::vector<std::optional<QByteArray>> values(static_cast<std::size_t>(count));
    document.numberedValues("history", "HIS", count, capacity,
                            [&values](qint32 number, QByteArrayView value) {
                                if (number < 1 || number > static_cast<qint32>(values.size()) ||
                                    values[static_cast<std::size_t>(number - 1)]) {
                                    std::abort();
                                }
                                values[static_cast<std::size_t>(number - 1)] = value.toByteArray();
                            });
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr qsizetype kCapacity = history::kReceiveBufferSize;
    constexpr qint32 kLines = 12;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    history::ProfileDocument document(bytes);
    if (document.toBytes() != bytes) {
        std::abort();
    }
    history::parseCount(document.value("History", "Data", "0", kCapacity));
    const std::vector<std::optional<QByteArray>> lines =
        numberedValues(document, kLines, kCapacity);
    for (qint32 k = 1; k <= kLines; ++k) {
        const std::optional<QByteArray>& line = lines[static_cast<std::size_t>(k - 1)];
        const QByteArray one =
            document.value("History", "His" + QByteArray::number(k), "\x01", kCapacity);
        if (line.value_or("\x01") != one || one.size() >= kCapacity) {
            std::abort();
        }
    }
    // A write elsewhere makes the table of lines; the reads through it find the same.
    history::ProfileDocument written(bytes);
    written.setValue("Fuzz-Elsewhere", "k", "v");
    if (written.value("History", "Data", "0", kCapacity) !=
            document.value("History", "Data", "0", kCapacity) ||
        numberedValues(written, kLines, kCapacity) != lines) {
        std::abort();
    }
    document.setValue("History", "Data", "2");
    document.setValue("History", "His2", "02  ;  07  ;  15  ;  23  ;  30  ;  41");
    const history::ProfileDocument reread(document.toBytes());
    if (reread.value("HISTORY", "his2", "", kCapacity) != "02  ;  07  ;  15  ;  23  ;  30  ;  41") {
        std::abort();
    }
    return 0;
}
