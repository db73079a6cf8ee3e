#include "app/questionbox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPixmap>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

// Runs action on the next modal box once it is open; the watch ends with the timer returned.
QTimer* whenBoxOpens(std::function<void(QMessageBox*)> action)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action = std::move(action)] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(box);
        }
    });
    timer->start();
    return timer;
}

} // namespace

class TestQuestionBox : public QObject {
    Q_OBJECT

private slots:
    void japaneseButtonsAndTitle();
    void answers_data();
    void answers();
    void abandonedBoxesCloseAtOnce();
    void boxBelongsToTheWindow();
};

void TestQuestionBox::japaneseButtonsAndTitle()
{
    MessageQuestionBox questions(nullptr);
    QString title;
    QString yes;
    QString no;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    whenBoxOpens([&](QMessageBox* box) {
        title = box->windowTitle();
        yes = box->button(QMessageBox::Yes)->text();
        no = box->button(QMessageBox::No)->text();
        icon = box->icon();
        box->button(QMessageBox::Yes)->click();
    });
    QCOMPARE(questions.ask(u"よろしいですか？"_s, QuestionBox::kYes), QuestionBox::kYes);
    QCOMPARE(title, u"Six Random Numbers"_s);
    QVERIFY2(yes.startsWith(u"はい"_s), qPrintable(yes));
    QVERIFY2(no.startsWith(u"いいえ"_s), qPrintable(no));
    QCOMPARE(icon, QMessageBox::Question);
}

void TestQuestionBox::answers_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<qint16>("defaultAnswer");
    QTest::addColumn<qint16>("answer");
    QTest::newRow("Return takes Yes when it is the default")
        << int(Qt::Key_Return) << QuestionBox::kYes << QuestionBox::kYes;
    QTest::newRow("Return takes No when it is the default")
        << int(Qt::Key_Return) << QuestionBox::kNo << QuestionBox::kNo;
    QTest::newRow("Escape is No") << int(Qt::Key_Escape) << QuestionBox::kYes << QuestionBox::kNo;
}

void TestQuestionBox::answers()
{
    QFETCH(int, key);
    QFETCH(qint16, defaultAnswer);
    QFETCH(qint16, answer);
    MessageQuestionBox questions(nullptr);
    whenBoxOpens([key](QMessageBox* box) { QTest::keyClick(box, Qt::Key(key)); });
    QCOMPARE(questions.ask(u"?"_s, defaultAnswer), answer);
}

void TestQuestionBox::abandonedBoxesCloseAtOnce()
{
    MessageQuestionBox questions(nullptr);
    whenBoxOpens([&questions](QMessageBox* /*box*/) { questions.abandon(); });
    // Even a question whose default is Yes counts as unanswered.
    QCOMPARE(questions.ask(u"?"_s, QuestionBox::kYes), QuestionBox::kNo);
    // Later boxes are not shown at all: no one is there to close them.
    bool shown = false;
    const std::unique_ptr<QTimer> watch(whenBoxOpens([&shown](QMessageBox* box) {
        shown = true;
        box->done(QMessageBox::Ok);
    }));
    QCOMPARE(questions.ask(u"?"_s, QuestionBox::kYes), QuestionBox::kNo);
    questions.tell(u"!"_s);
    QTest::qWait(50);
    QVERIFY(!shown);
}

void TestQuestionBox::boxBelongsToTheWindow()
{
    QWidget window;
    window.setWindowIcon(QIcon(QPixmap(32, 32)));
    window.setGeometry(60, 300, 305, 207);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    MessageQuestionBox questions(nullptr);
    questions.setParentWindow(&window);
    QWidget* parent = nullptr;
    bool sameIcon = false;
    QPoint centre;
    whenBoxOpens([&](QMessageBox* box) {
        parent = box->parentWidget();
        sameIcon = box->windowIcon().cacheKey() == window.windowIcon().cacheKey();
        centre = box->frameGeometry().center();
        box->button(QMessageBox::Ok)->click();
    });
    questions.tell(u"!"_s);
    QCOMPARE(parent, &window);
    QVERIFY(sameIcon);
    QVERIFY2((centre - window.frameGeometry().center()).manhattanLength() <= 2,
             qPrintable(u"%1,%2"_s.arg(centre.x()).arg(centre.y())));
}

QTEST_MAIN(TestQuestionBox)
#include "tst_questionbox.moc"
