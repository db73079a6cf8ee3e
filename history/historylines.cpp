#include "history/historylines.h"

#include <cstring>

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

void HistoryLines::append(const std::vector<QByteArrayView>& lines)
{
    qsizetype size = mBytes.size();
    for (const QByteArrayView line : lines) {
        size += line.size();
    }
    mEnds.reserve(mEnds.size() + lines.size());
    qsizetype used = mBytes.size();
    mBytes.resize(size);
    char* bytes = mBytes.data();
    for (const QByteArrayView line : lines) {
        if (!line.isEmpty()) {
            std::memcpy(bytes + used, line.data(), static_cast<std::size_t>(line.size()));
        }
        used += line.size();
        mEnds.push_back(used);
    }
}

bool operator==(const HistoryLines& a, const HistoryLines& b)
{
    return a.mEnds == b.mEnds && a.mBytes == b.mBytes;
}

} // namespace history
