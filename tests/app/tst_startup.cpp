#include "app/layout.h"
#include "app/singleinstance.h"
#include "app/startup.h"
#include "app/terminationsignals.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QUuid>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void centredTopLeft_data();
    void centredTopLeft();
    void dataFolder_data();
    void dataFolder();
    void twipsScaleWithDpi();
    void secondInstanceIsRefusedAndAsksForFront();
    void lockOfDeadInstanceIsTakenOver();
    void sameExecutableSameKey();
    void terminationSignalsReachTheEventLoop();
};

void TestStartup::centredTopLeft_data()
{
    QTest::addColumn<QSizeF>("screen");
    QTest::addColumn<QSizeF>("window");
    QTest::addColumn<QPointF>("topLeft");
    QTest::newRow("even differences")
        << QSizeF(19200, 15360) << QSizeF(4575, 3105) << QPointF(7312.5, 6127.5);
    QTest::newRow("odd difference keeps the half twip")
        << QSizeF(4576, 3106) << QSizeF(4575, 3105) << QPointF(0.5, 0.5);
    QTest::newRow("window larger than the screen")
        << QSizeF(4000, 3000) << QSizeF(4575, 3105) << QPointF(-287.5, -52.5);
}

void TestStartup::centredTopLeft()
{
    QFETCH(QSizeF, screen);
    QFETCH(QSizeF, window);
    QFETCH(QPointF, topLeft);
    QCOMPARE(startup::centredTopLeft(screen, window), topLeft);
}

void TestStartup::dataFolder_data()
{
    QTest::addColumn<QString>("programFolder");
    QTest::addColumn<QString>("dataFolder");
    QTest::newRow("root folder keeps its one separator") << u"/"_s << u"/"_s;
    QTest::newRow("other folders get exactly one") << u"/opt/qelvo"_s << u"/opt/qelvo/"_s;
}

void TestStartup::dataFolder()
{
    QFETCH(QString, programFolder);
    QFETCH(QString, dataFolder);
    QCOMPARE(startup::dataFolder(programFolder), dataFolder);
    QCOMPARE(startup::dataFolder(programFolder) + u"qelvo.ini"_s, dataFolder + u"qelvo.ini"_s);
}

void TestStartup::twipsScaleWithDpi()
{
    QCOMPARE(layout::toPixels(layout::kClientArea, 96), QRect(0, 0, 305, 207));
    QCOMPARE(layout::toPixels(layout::kClientArea, 144), QRect(0, 0, 458, 311));
    QCOMPARE(layout::toPixels(layout::kClientArea, 192), QRect(0, 0, 610, 414));
    QCOMPARE(layout::toTwips(305, 96), 4575.0);
}

void TestStartup::secondInstanceIsRefusedAndAsksForFront()
{
    const QString key = u"qelvo-test-"_s + QUuid::createUuid().toString(QUuid::Id128);
    SingleInstance first(key);
    QSignalSpy raised(&first, &SingleInstance::activationRequested);
    QVERIFY(!first.isPreviousInstanceRunning());
    QVERIFY(!first.isPreviousInstanceRunning()); // asking again changes nothing
    {
        SingleInstance second(key);
        QVERIFY(second.isPreviousInstanceRunning());
    }
    QVERIFY(raised.wait(5000));
    SingleInstance third(key);
    QVERIFY(third.isPreviousInstanceRunning());
}

void TestStartup::lockOfDeadInstanceIsTakenOver()
{
    const QString key = u"qelvo-test-"_s + QUuid::createUuid().toString(QUuid::Id128);
    // A lock written by a process that has ended, as a crash leaves it.
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    QFile lock(QDir::temp().filePath(key + u".lock"_s));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(child) + '\n' + QCoreApplication::applicationName().toUtf8() +
               '\n' + QSysInfo::machineHostName().toUtf8() + '\n');
    lock.close();

    SingleInstance instance(key);
    QVERIFY(!instance.isPreviousInstanceRunning());
}

void TestStartup::sameExecutableSameKey()
{
    const QString app = QCoreApplication::applicationFilePath();
    QCOMPARE(instanceKey(app),
             instanceKey(QFileInfo(app).dir().filePath(u"./"_s) + QFileInfo(app).fileName()));
    QVERIFY(instanceKey(app) != instanceKey(u"/bin/sh"_s));
}

void TestStartup::terminationSignalsReachTheEventLoop()
{
    TerminationSignals signals_;
    QSignalSpy received(&signals_, &TerminationSignals::received);
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        ::raise(signalNumber);
        QVERIFY(received.wait(5000));
        QCOMPARE(received.takeFirst().at(0).toInt(), signalNumber);
    }
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
