#pragma once

#include <QPointer>
#include <QTranslator>
#include <QtGlobal>

class QMessageBox;
class QString;
class QWidget;

// The modal boxes through which the window asks and tells; an interface so tests can answer.
class QuestionBox {
public:
    static constexpr qint16 kYes = 6;
    static constexpr qint16 kNo = 7;

    QuestionBox() = default;
    QuestionBox(const QuestionBox&) = delete;
    QuestionBox& operator=(const QuestionBox&) = delete;
    virtual ~QuestionBox() = default;

    // A Yes/No question with the question icon; returns kYes or kNo. Any answer but Yes is No.
    virtual qint16 ask(const QString& text, qint16 defaultAnswer) = 0;
    // A message with a warning icon and an OK button.
    virtual void tell(const QString& text) = 0;
    // Closes the open box, if any, as answered No, and every later box at once the same way:
    // the program is ending and no one is there to answer.
    virtual void abandon() = 0;
};

// The real boxes: modal, centred over the window they belong to, with its title and icon, and
// the toolkit's Japanese texts (the Yes and No buttons read はい and いいえ) whatever the system
// language, loaded for the first box.
class MessageQuestionBox final : public QuestionBox {
public:
    explicit MessageQuestionBox(QWidget* parent);

    // The window the boxes belong to, once it exists.
    void setParentWindow(QWidget* parent);

    qint16 ask(const QString& text, qint16 defaultAnswer) override;
    void tell(const QString& text) override;
    void abandon() override;

private:
    // Runs the box unless the boxes are abandoned; the button pressed, or none.
    int run(QMessageBox& box);
    void translateToolkit();

    QWidget* mParent;
    QPointer<QMessageBox> mOpen;
    bool mAbandoned = false;
    QTranslator mToolkitTexts;
};
