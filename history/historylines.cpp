#include "history/historylines.h"

namespace history {

QByteArrayView HistoryLines::at(qsizetype position) const
{
    const auto index = static_cast<std::size_t>(position);
    const qsizetype begin = index == 0 ? 0 : mEnds[index - 1];
    return QByteArrayView(mBytes).sliced(begin, mEnds[index] - begin);
}

QString HistoryLines::text(qsizetype position) const
{
    const QByteArrayView line = at(position);
    return QString::fromLatin1(line.data(), line.size());
}

void HistoryLines::append(QByteArrayView line)
{
    mBytes.append(line);
    mEnds.push_back(mBytes.size());
}

void HistoryLines::removeLast()
{
    mEnds.pop_back();
    mBytes.truncate(mEnds.empty() ? 0 : mEnds.back());
}

void HistoryLines::reserve(qsizetype lines, qsizetype bytes)
{
    mEnds.reserve(static_cast<std::size_t>(lines));
    mBytes.reserve(bytes);
}

bool operator==(const HistoryLines& a, const HistoryLines& b)
{
    return a.mEnds == b.mEnds && a.mBytes == b.mBytes;
}

} // namespace history
