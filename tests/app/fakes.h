#pragma once

#include "app/questionbox.h"
#include "print/lineprinter.h"

#include <QString>
#include <QStringList>

// Answers questions from a script and keeps every text it was shown.
class ScriptedQuestionBox final : public QuestionBox {
public:
    qint16 ask(const QString& text, qint16 defaultAnswer) override
    {
        asked << text;
        defaults << defaultAnswer;
        return answers.isEmpty() ? defaultAnswer : answers.takeFirst();
    }
    void tell(const QString& text) override { told << text; }

    QList<qint16> answers;
    QStringList asked;
    QList<qint16> defaults;
    QStringList told;
};

// Keeps the printed lines; fails the lines listed in failing.
class RecordingPrinter final : public LinePrinter {
public:
    bool open() override { return available; }
    bool printLine(const QString& text) override
    {
        if (failing.contains(text)) {
            return false;
        }
        printed << text;
        return true;
    }

    bool available = true;
    QStringList printed;
    QStringList failing;
};
