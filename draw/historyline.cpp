#include "draw/historyline.h"

#include "history/historylines.h"

#include <cstring>

namespace draw {

namespace {
constexpr int kTwoDigitFrom = 10;
} // namespace

QString twoDigitText(int n)
{
    const QString text = QString::number(n);
    return n >= kTwoDigitFrom ? text : u'0' + text;
}

QString joinHistoryLine(const QStringList& sortedTexts)
{
    return sortedTexts.join(
        QLatin1StringView(history::kLineSeparator.data(), history::kLineSeparator.size()));
}

int repeatCount(const history::HistoryLines& lines)
{
    if (lines.isEmpty()) {
        return 0;
    }
    const qsizetype last = lines.size() - 1;
    const QByteArrayView newest = lines.at(last);
    int count = 0;
    for (qsizetype i = 0; i < last; ++i) {
        const QByteArrayView line = lines.at(i);
        // Lines of other draws mostly differ in their first number: a look at its first byte
        // spares most of the comparisons of whole lines.
        if (line.size() == newest.size() &&
            (line.isEmpty() || (line.front() == newest.front() &&
                                std::memcmp(line.data(), newest.data(),
                                            static_cast<std::size_t>(line.size())) == 0))) {
            ++count;
        }
    }
    return count;
}

} // namespace draw
