#include "app/questionbox.h"

#include "app/layout.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QTranslator>

bool installToolkitTranslation()
{
    static QTranslator toolkitTexts;
    return toolkitTexts.load(QStringLiteral(":/qelvo/qtbase_ja.qm")) &&
           QCoreApplication::installTranslator(&toolkitTexts);
}

MessageQuestionBox::MessageQuestionBox(QWidget* parent)
    : mParent(parent)
{
}

qint16 MessageQuestionBox::ask(const QString& text, qint16 defaultAnswer)
{
    QMessageBox box(QMessageBox::Question, QString::fromUtf16(layout::kTitle), text,
                    QMessageBox::Yes | QMessageBox::No, mParent);
    box.setDefaultButton(defaultAnswer == kYes ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? kYes : kNo;
}

void MessageQuestionBox::tell(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QString::fromUtf16(layout::kTitle), text, QMessageBox::Ok,
                    mParent);
    box.exec();
}
