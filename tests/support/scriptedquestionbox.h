#pragma once

#include "app/questionbox.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <utility>

// Answers questions from a script and keeps every text it was shown.
class ScriptedQuestionBox final : public QuestionBox {
public:
    qint16 ask(const QString& text, qint16 defaultAnswer) override
    {
        asked << text;
        defaults << defaultAnswer;
        whileShown();
        if (abandoned) {
            return kNo;
        }
        if (answers.isEmpty()) {
            return otherwise.value_or(defaultAnswer);
        }
        return answers.takeFirst();
    }
    void tell(const QString& text) override
    {
        told << text;
        whileShown();
    }
    void abandon() override { abandoned = true; }

    QList<qint16> answers;
    // The answer once the scripted ones are used up; the box's default when not set.
    std::optional<qint16> otherwise;
    QStringList asked;
    QList<qint16> defaults;
    QStringList told;
    bool abandoned = false;
    // Runs once while the next box is shown: what happens before the user answers.
    std::function<void()> onNextBox;

private:
    void whileShown()
    {
        if (onNextBox) {
            std::exchange(onNextBox, {})();
        }
    }
};
