#include "draw/historyline.h"

#include "history/historylines.h"

namespace draw {

namespace {
constexpr auto kSeparator = u"  ;  ";
constexpr int kTwoDigitFrom = 10;
} // namespace

QString twoDigitText(int n)
{
    const QString text = QString::number(n);
    return n >= kTwoDigitFrom ? text : u'0' + text;
}

QString joinHistoryLine(const QStringList& sortedTexts)
{
    return sortedTexts.join(kSeparator);
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
        if (lines.at(i) == newest) {
            ++count;
        }
    }
    return count;
}

} // namespace draw
