#include "history/historylines.h"

#include "history/codepage.h"

namespace history {

bool isDrawnLine(QByteArrayView text)
{
    constexpr qsizetype kDigits = 2;
    constexpr qsizetype kStep = kDigits + kLineSeparator.size();
    if (text.size() != kNumbersPerLine * kStep - kLineSeparator.size()) {
        return false;
    }
    int previous = 0;
    for (qsizetype at = 0; at < text.size(); at += kStep) {
        const char tens = text[at];
        const char ones = text[at + 1];
        const int number = (tens - '0') * 10 + (ones - '0');
        // Ascending from 01, so that no two are the same.
        if (tens < '0' || tens > '9' || ones < '0' || ones > '9' || number <= previous ||
            number > kHighestNumber ||
            (at > 0 &&
             text.sliced(at - kLineSeparator.size(), kLineSeparator.size()) != kLineSeparator)) {
            return false;
        }
        previous = number;
    }
    return true;
}

HistoryLines::HistoryLines(QByteArray source, qsizetype count)
    : mSource(std::move(source))
    , mSlices(static_cast<std::size_t>(count), Slice{0, 0})
{
}

void HistoryLines::set(qsizetype position, QByteArrayView line)
{
    Slice& slice = mSlices[static_cast<std::size_t>(position)];
    const qsizetype offset = line.data() - mSource.constData();
    if (line.isEmpty()) {
        slice = {0, 0};
    } else if (offset >= 0 && offset + line.size() <= mSource.size()) {
        slice = {static_cast<qint32>(offset), static_cast<qint32>(line.size())};
    } else {
        slice = {static_cast<qint32>(mSource.size() + mAdded.size()),
                 static_cast<qint32>(line.size())};
        mAdded.append(line);
    }
}

QString HistoryLines::text(qsizetype position) const
{
    return codepage::fileText(at(position));
}

void HistoryLines::append(QByteArrayView line)
{
    mSlices.push_back(
        {static_cast<qint32>(mSource.size() + mAdded.size()), static_cast<qint32>(line.size())});
    mAdded.append(line);
}

void HistoryLines::removeLast()
{
    const Slice last = mSlices.back();
    mSlices.pop_back();
    // Copied lines need not lie in the order of their positions: only the block's last text
    // is given back.
    if (last.offset >= mSource.size() &&
        last.offset + last.length == mSource.size() + mAdded.size()) {
        mAdded.truncate(last.offset - mSource.size());
    }
}

bool operator==(const HistoryLines& a, const HistoryLines& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (qsizetype position = 0; position < a.size(); ++position) {
        if (a.at(position) != b.at(position)) {
            return false;
        }
    }
    return true;
}

} // namespace history
