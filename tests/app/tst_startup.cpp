#include "app/startup.h"
#include "support/samples.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void centredTopLeft_data();
    void centredTopLeft();
    void earlyLoadIsTheWindowsLoad();
};

void TestStartup::centredTopLeft_data()
{
    QTest::addColumn<QRectF>("monitor");
    QTest::addColumn<QSizeF>("window");
    QTest::addColumn<QPointF>("topLeft");
    QTest::newRow("even differences")
        << QRectF(0, 0, 19200, 15360) << QSizeF(4575, 3105) << QPointF(7312.5, 6127.5);
    QTest::newRow("odd difference keeps the half twip")
        << QRectF(0, 0, 4576, 3106) << QSizeF(4575, 3105) << QPointF(0.5, 0.5);
    QTest::newRow("primary monitor on the right")
        << QRectF(19200, 0, 19200, 15360) << QSizeF(4575, 3105) << QPointF(26512.5, 6127.5);
    QTest::newRow("primary monitor on the left of a taller one")
        << QRectF(0, 1440, 19200, 15360) << QSizeF(4575, 3105) << QPointF(7312.5, 7567.5);
    QTest::newRow("larger than the monitor: title bar on it")
        << QRectF(0, 0, 4000, 3000) << QSizeF(4575, 3105) << QPointF(-287.5, 0);
    QTest::newRow("larger than a monitor below another")
        << QRectF(1440, 15360, 4000, 3000) << QSizeF(4575, 3105) << QPointF(1152.5, 15360);
}

void TestStartup::centredTopLeft()
{
    QFETCH(QRectF, monitor);
    QFETCH(QSizeF, window);
    QFETCH(QPointF, topLeft);
    QCOMPARE(startup::centredTopLeft(monitor, window), topLeft);
}

void TestStartup::earlyLoadIsTheWindowsLoad()
{
    const QTemporaryDir dir;
    const QString damaged = dir.filePath(u"qelvo.ini"_s);
    const QString other = dir.filePath(u"other.ini"_s);
    QVERIFY(samples::writeFile(damaged, "[History]\r\nData=x\r\n"));
    QVERIFY(samples::writeFile(other, samples::historyFile(2)));
    // The checks of the start come with it, and a file other than the one begun is read itself.
    QCOMPARE(startup::EarlyLoad(damaged).take(damaged).failure->kind,
             history::Failure::Kind::DamagedCount);
    QCOMPARE(startup::EarlyLoad(damaged).take(other).lines.size(), 2);
}

QTEST_APPLESS_MAIN(TestStartup)
#include "tst_startup.moc"
