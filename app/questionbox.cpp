#include "app/questionbox.h"

#include "app/texts.h"

#include <QCoreApplication>
#include <QMessageBox>

MessageQuestionBox::MessageQuestionBox(QWidget* parent)
    : mParent(parent)
{
}

void MessageQuestionBox::setParentWindow(QWidget* parent)
{
    mParent = parent;
}

int MessageQuestionBox::run(QMessageBox& box)
{
    if (mAbandoned) {
        return QMessageBox::NoButton;
    }
    if (mParent != nullptr) {
        box.setWindowIcon(mParent->windowIcon());
    }
    mOpen = &box;
    const int pressed = box.exec();
    mOpen.clear();
    return mAbandoned ? QMessageBox::NoButton : pressed;
}

void MessageQuestionBox::translateToolkit()
{
    if (mToolkitTexts.isEmpty() && mToolkitTexts.load(QStringLiteral(":/qelvo/qtbase_ja.qm"))) {
        QCoreApplication::installTranslator(&mToolkitTexts);
    }
}

qint16 MessageQuestionBox::ask(const QString& text, qint16 defaultAnswer)
{
    translateToolkit();
    QMessageBox box(QMessageBox::Question, texts::text(texts::kTitle), text,
                    QMessageBox::Yes | QMessageBox::No, mParent);
    box.setDefaultButton(defaultAnswer == kYes ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return run(box) == QMessageBox::Yes ? kYes : kNo;
}

void MessageQuestionBox::tell(const QString& text)
{
    translateToolkit();
    QMessageBox box(QMessageBox::Warning, texts::text(texts::kTitle), text, QMessageBox::Ok,
                    mParent);
    run(box);
}

void MessageQuestionBox::abandon()
{
    mAbandoned = true;
    if (mOpen) {
        mOpen->done(QMessageBox::No);
    }
}
