#include "draw/historyline.h"
#include "history/historylines.h"
#include "support/samples.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestHistoryLine : public QObject {
    Q_OBJECT

private slots:
    void repeatCount_data();
    void repeatCount();
};

void TestHistoryLine::repeatCount_data()
{
    const QString line = samples::exampleLine();
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("count");
    QTest::newRow("empty history") << QStringList{} << 0;
    QTest::newRow("only the new line") << QStringList{line} << 0;
    QTest::newRow("once before") << QStringList{line, u"x"_s, line} << 1;
    QTest::newRow("three times before") << QStringList{line, line, u""_s, line, line} << 3;
    QTest::newRow("other spacing, zeros or order do not count")
        << QStringList{u"02 ; 07 ; 15 ; 23 ; 30 ; 41"_s, u"2  ;  7  ;  15  ;  23  ;  30  ;  41"_s,
                       u"07  ;  02  ;  15  ;  23  ;  30  ;  41"_s,
                       u"02  ;  07  ;  15  ;  23  ;  30  ;  41 "_s, line}
        << 0;
    QTest::newRow("lines after an equal one are not the new one") << QStringList{line, u"y"_s} << 0;
}

void TestHistoryLine::repeatCount()
{
    QFETCH(QStringList, texts);
    QFETCH(int, count);
    history::HistoryLines lines = samples::linesOf(texts);
    QCOMPARE(draw::repeatCount(lines), count);
    // Removing the newest line leaves the lines before it as they were.
    if (!texts.isEmpty()) {
        lines.removeLast();
        QCOMPARE(lines.size(), texts.size() - 1);
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QCOMPARE(lines.text(i), texts.at(i));
        }
    }
}

QTEST_APPLESS_MAIN(TestHistoryLine)
#include "tst_historyline.moc"
