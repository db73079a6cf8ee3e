#include "history/historyfile.h"

#include "history/filestore.h"
#include "history/profiledocument.h"

#include <array>
#include <charconv>
#include <limits>

namespace history {

namespace {

constexpr QByteArrayView kSection = "History";
constexpr QByteArrayView kCountKey = "Data";
constexpr QByteArrayView kLineKeyPrefix = "His";
constexpr QByteArrayView kCountDefault = "0";
// Read as a Unicode file of the other byte order, it would be appended to in the wrong one.
constexpr QByteArrayView kUtf16BeByteOrderMark = "\xFE\xFF";

// The history file read into memory; writes change the memory, and changed() gives its bytes.
class HistoryFile {
public:
    HistoryFile(QString path, const filestore::ReadResult& read)
        : mPath(std::move(path))
        , mRead(read.bytes)
        , mDocument(read.bytes)
        , mReadError(read.error)
        , mUnknownEncoding(read.bytes.startsWith(kUtf16BeByteOrderMark))
    {
    }

    [[nodiscard]] CountResult storedCount() const
    {
        if (std::optional<Failure> failure = unreadable()) {
            return {.failure = failure};
        }
        const QByteArray text =
            mDocument.value(kSection, kCountKey, kCountDefault, kReceiveBufferSize);
        if (const std::optional<qint32> count = parseCount(text)) {
            return {*count, std::nullopt};
        }
        return {.failure = Failure{Failure::Kind::DamagedCount, mPath, text, {}}};
    }

    // "His1" up to "His<count>", a missing or empty key as an empty line.
    [[nodiscard]] HistoryLines lines(qint32 count) const
    {
        HistoryLines lines(mDocument.source(), qMax(count, 0));
        mDocument.numberedValues(
            kSection, kLineKeyPrefix, count, kReceiveBufferSize,
            [&lines](qint32 number, QByteArrayView value) { lines.set(number - 1, value); });
        return lines;
    }

    void writeCount(qint32 count)
    {
        mDocument.setValue(kSection, kCountKey, QByteArray::number(count));
    }

    void writeLine(qint32 position, QByteArrayView line)
    {
        mDocument.setValue(kSection, lineKey(position), line);
    }

    // The bytes of the file as written, or nothing when no byte changed.
    [[nodiscard]] std::optional<QByteArray> changed() const
    {
        QByteArray bytes = mDocument.toBytes();
        return bytes == mRead ? std::nullopt : std::optional(std::move(bytes));
    }

    // The file as the path has it now.
    static HistoryFile of(const QString& path) { return {path, filestore::readWhole(path)}; }

private:
    // Why the file as read can be neither used nor replaced.
    [[nodiscard]] std::optional<Failure> unreadable() const
    {
        if (mReadError) {
            return Failure{Failure::Kind::Unreadable, mPath, {}, *mReadError};
        }
        if (mUnknownEncoding) {
            return Failure{Failure::Kind::UnknownEncoding, mPath, {}, {}};
        }
        return std::nullopt;
    }

    QString mPath;
    QByteArray mRead;
    ProfileDocument mDocument;
    std::optional<posix::Error> mReadError;
    bool mUnknownEncoding;
};

// The outcome of an update in the result of a save or a clear.
template <typename Result>
void settle(Result& result, const std::optional<posix::Error>& error, const QString& path)
{
    if (error && error->kind == posix::Error::Kind::Unflushed) {
        result.unflushed = error;
    } else if (error && !result.failure) {
        result.failure = Failure{Failure::Kind::Unwritable, path, {}, *error};
    }
}

} // namespace

QByteArray lineKey(qint32 position)
{
    // One allocation: a key is made for every line written.
    std::array<char, std::numeric_limits<qint32>::digits10 + 2> digits{};
    const std::to_chars_result written =
        std::to_chars(digits.data(), digits.data() + digits.size(), position);
    const auto length = static_cast<qsizetype>(written.ptr - digits.data());
    QByteArray key;
    key.reserve(kLineKeyPrefix.size() + length);
    key.append(kLineKeyPrefix).append(digits.data(), length);
    return key;
}

std::optional<qint32> parseCount(QByteArrayView text)
{
    const bool negative = text.startsWith('-');
    const QByteArrayView digits = (negative || text.startsWith('+')) ? text.sliced(1) : text;
    if (digits.isEmpty()) {
        return std::nullopt;
    }
    constexpr qint64 kLowest = std::numeric_limits<qint32>::min();
    qint64 value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
        if (value > -kLowest) {
            return std::nullopt;
        }
    }
    value = negative ? -value : value;
    if (value > kMaxLines) {
        return std::nullopt;
    }
    return static_cast<qint32>(value);
}

CountResult readStoredCount(const QString& path)
{
    return HistoryFile::of(path).storedCount();
}

LoadResult loadHistory(const QString& path)
{
    const HistoryFile file = HistoryFile::of(path);
    const CountResult count = file.storedCount();
    if (count.failure) {
        return {{}, 0, count.failure};
    }
    return {file.lines(count.value), count.value, std::nullopt};
}

SaveResult saveHistory(const QString& path, const HistoryLines& lines, qsizetype first,
                       const std::function<void(qint32)>& beforeWrite)
{
    SaveResult result;
    qint32 after = 0;
    const auto adding = static_cast<qint32>(lines.size() - first);
    const std::optional<posix::Error> error = filestore::update(
        path,
        [&](const filestore::ReadResult& read) -> std::optional<QByteArray> {
            HistoryFile file(path, read);
            const CountResult count = file.storedCount();
            result = {count.value, count.failure, std::nullopt};
            // A negative stored count holds no line: the lines go to "His1" on.
            after = qMax(count.value, 0);
            if (!result.failure && adding > kMaxLines - after) {
                result.failure =
                    Failure{Failure::Kind::Full, path, QByteArray::number(after), {}, adding};
            }
            if (result.failure) {
                return std::nullopt;
            }
            file.writeCount(after + adding);
            for (qint32 k = 1; k <= adding; ++k) {
                file.writeLine(after + k, lines.at(first + k - 1));
            }
            return file.changed();
        },
        [&] {
            if (adding > 0 && beforeWrite) {
                beforeWrite(after);
            }
        });
    settle(result, error, path);
    return result;
}

ClearResult clearHistory(const QString& path, const HistoryLines& asked)
{
    ClearResult result;
    const std::optional<posix::Error> error = filestore::update(
        path, [&](const filestore::ReadResult& read) -> std::optional<QByteArray> {
            HistoryFile file(path, read);
            const CountResult count = file.storedCount();
            result = {{}, count.failure, std::nullopt};
            // Nothing stored: nothing to clear, and nothing is written.
            if (count.failure || count.value == 0) {
                return std::nullopt;
            }
            const HistoryLines now = file.lines(count.value);
            // What was saved while the question was open stays: the lines after those asked
            // about, or all of them when those no longer lead (another program cleared the
            // history meanwhile).
            bool lead = asked.size() <= now.size();
            for (qsizetype i = 0; lead && i < asked.size(); ++i) {
                lead = now.at(i) == asked.at(i);
            }
            for (qsizetype i = lead ? asked.size() : 0; i < now.size(); ++i) {
                result.kept.append(now.at(i));
            }
            for (qint32 position = 1; position <= count.value; ++position) {
                file.writeLine(position, position <= result.kept.size()
                                             ? result.kept.at(position - 1)
                                             : QByteArrayView());
            }
            file.writeCount(static_cast<qint32>(result.kept.size()));
            return file.changed();
        });
    settle(result, error, path);
    return result;
}

} // namespace history
