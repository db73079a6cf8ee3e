#include "draw/historyline.h"

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

QString repeatQuestion(int count)
{
    return QStringLiteral("過去に同じデータが %1 個存在します！ 履歴として残しますか？").arg(count);
}

QString historyFullMessage()
{
    return QStringLiteral("履歴が %1 件でいっぱいのため、今回の数字は履歴に残せません。"
                          "「履歴全消去」ボタンで履歴を空にしてください。")
        .arg(kMaxHistoryLines);
}

} // namespace draw
