#include "history/historyfile.h"

#include "history/filestore.h"

#include <QDir>
#include <array>
#include <charconv>
#include <limits>

namespace history {

namespace {

constexpr QByteArrayView kSection = "History";
constexpr QByteArrayView kCountKey = "Data";
constexpr QByteArrayView kLineKeyPrefix = "His";
constexpr QByteArrayView kCountDefault = "0";

QString shownPath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

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
    if (value > kMaxStoredCount) {
        return std::nullopt;
    }
    return static_cast<qint32>(value);
}

QByteArray lineKey(qint32 position)
{
    // One allocation: a key is made for every line read or written.
    std::array<char, std::numeric_limits<qint32>::digits10 + 2> digits{};
    const std::to_chars_result written =
        std::to_chars(digits.data(), digits.data() + digits.size(), position);
    const auto length = static_cast<qsizetype>(written.ptr - digits.data());
    QByteArray key;
    key.reserve(kLineKeyPrefix.size() + length);
    key.append(kLineKeyPrefix).append(digits.data(), length);
    return key;
}

HistoryFile::HistoryFile(QString path, qsizetype capacity)
    : mPath(std::move(path))
    , mCapacity(capacity)
{
    filestore::ReadResult read = filestore::readWhole(mPath);
    mReadError = std::move(read.error);
    mDocument = ProfileDocument(read.bytes);
}

CountResult HistoryFile::storedCount() const
{
    if (mReadError) {
        return {0, Failure{Failure::Kind::Unreadable, mPath, *mReadError}};
    }
    const QByteArray text = mDocument.value(kSection, kCountKey, kCountDefault, mCapacity);
    if (const std::optional<qint32> count = parseCount(text)) {
        return {*count, std::nullopt};
    }
    return {0, Failure{Failure::Kind::DamagedCount, mPath, QString::fromLatin1(text)}};
}

HistoryLines HistoryFile::lines(qint32 count) const
{
    const std::vector<QByteArrayView> values =
        mDocument.numberedValues(kSection, kLineKeyPrefix, count, mCapacity);
    qsizetype bytes = 0;
    for (const QByteArrayView value : values) {
        bytes += value.size();
    }
    HistoryLines lines;
    lines.reserve(static_cast<qsizetype>(values.size()), bytes);
    for (const QByteArrayView value : values) {
        lines.append(value);
    }
    return lines;
}

void HistoryFile::writeCount(qint32 count)
{
    mDocument.setValue(kSection, kCountKey, QByteArray::number(count));
}

void HistoryFile::writeLine(qint32 position, QByteArrayView line)
{
    mDocument.setValue(kSection, lineKey(position), line);
}

std::optional<Failure> HistoryFile::replace() const
{
    if (mReadError) {
        return Failure{Failure::Kind::Unreadable, mPath, *mReadError};
    }
    if (std::optional<QString> reason = filestore::replaceAtomically(mPath, mDocument.toBytes())) {
        return Failure{Failure::Kind::Unwritable, mPath, *reason};
    }
    return std::nullopt;
}

LoadResult loadHistory(const QString& path, qsizetype capacity)
{
    const HistoryFile file(path, capacity);
    const CountResult count = file.storedCount();
    if (count.failure) {
        return {{}, 0, count.failure};
    }
    return {file.lines(count.value), count.value, std::nullopt};
}

SaveResult saveHistory(const QString& path, const HistoryLines& lines, qsizetype capacity)
{
    HistoryFile file(path, capacity);
    const CountResult count = file.storedCount();
    if (count.failure) {
        return {0, count.failure};
    }
    const auto listCount = static_cast<qint32>(lines.size());
    file.writeCount(listCount);
    if (listCount >= count.value + 1) {
        // A negative stored count writes no key numbered 0 or below.
        for (qint32 position = qMax(count.value + 1, 1); position <= listCount; ++position) {
            file.writeLine(position, lines.at(position - 1));
        }
    } else {
        for (qint32 position = listCount + 1; position <= count.value; ++position) {
            file.writeLine(position, {});
        }
    }
    return {count.value, file.replace()};
}

std::optional<Failure> clearStoredHistory(HistoryFile& file, qint32 count)
{
    if (count == 0) {
        return std::nullopt;
    }
    for (qint32 position = 1; position <= count; ++position) {
        file.writeLine(position, {});
    }
    file.writeCount(0);
    return file.replace();
}

QString clearQuestion()
{
    return QStringLiteral("全ての履歴を削除します。よろしいですか？");
}

QString describe(const Failure& failure)
{
    switch (failure.kind) {
    case Failure::Kind::DamagedCount:
        return QStringLiteral("履歴ファイル「%1」の件数 Data の値「%2」が正しくありません。"
                              "件数は %3 から %4 までの整数でなければなりません。")
            .arg(shownPath(failure.path), failure.detail)
            .arg(std::numeric_limits<qint32>::min())
            .arg(kMaxStoredCount);
    case Failure::Kind::Unreadable:
        return QStringLiteral("履歴ファイル「%1」を読み込めませんでした。\n理由: %2")
            .arg(shownPath(failure.path), failure.detail);
    case Failure::Kind::Unwritable:
        break;
    }
    return QStringLiteral("履歴ファイル「%1」に書き込めませんでした。\n理由: %2")
        .arg(shownPath(failure.path), failure.detail);
}

QString loadFailedMessage(const Failure& failure)
{
    return describe(failure) +
           QStringLiteral("\n\nファイルには何も書き込まずに終了します。"
                          "ファイルを修復するか別の場所へ移してから、もう一度起動してください。");
}

QString saveFailedQuestion(const Failure& failure)
{
    return describe(failure) + QStringLiteral("\n\n今回の履歴を保存せずに終了しますか？\n"
                                              "「いいえ」を選ぶとウィンドウは開いたままになります。"
                                              "原因を取り除いてから、もう一度閉じてください。");
}

QString saveFailedMessage(const Failure& failure)
{
    return describe(failure) + QStringLiteral("\n\n今回の履歴は保存されませんでした。");
}

QString clearFailedMessage(const Failure& failure)
{
    return describe(failure) + QStringLiteral("\n\n履歴は消去されませんでした。");
}

} // namespace history
