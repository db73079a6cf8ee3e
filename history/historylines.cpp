#include "history/historylines.h"

namespace history {

HistoryLines::HistoryLines(QByteArray source, const std::vector<QByteArrayView>& lines)
    : mSource(std::move(source))
{
    mSlices.reserve(lines.size());
    const QByteArrayView bytes(mSource);
    for (const QByteArrayView line : lines) {
        const qsizetype offset = line.data() - bytes.data();
        if (line.isEmpty()) {
            mSlices.push_back({0, 0});
        } else if (offset >= 0 && offset + line.size() <= bytes.size()) {
            mSlices.push_back({static_cast<qint32>(offset), static_cast<qint32>(line.size())});
        } else {
            append(line);
        }
    }
}

QString HistoryLines::text(qsizetype position) const
{
    const QByteArrayView line = at(position);
    return QString::fromLatin1(line.data(), line.size());
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
    if (last.offset >= mSource.size()) {
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
