#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

class HistoryListBox;
class LinePrinter;
class QLabel;
class QListWidget;
class QPushButton;
class QuestionBox;
class RandomSource;

namespace history {
struct Failure;
}

// The program's one window: six number tiles, the draw, print and clear buttons, the sorted list
// of the last draw and the history list, with the event procedures that do all the work.
class frmQelvo final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString mstrMyPath READ myPath WRITE setMyPath)
    Q_PROPERTY(QString mstrFullPathFileName READ fullPathFileName WRITE setFullPathFileName)

public:
    // What the window works with; tests pass their own.
    struct Services {
        std::function<bool()> previousInstance; // the previous-instance flag
        QString programFolder;                  // the folder of the running executable
        RandomSource* random = nullptr;
        QuestionBox* questions = nullptr;
        LinePrinter* printer = nullptr;
    };

    explicit frmQelvo(Services services, QWidget* parent = nullptr);

    [[nodiscard]] QString myPath() const;
    void setMyPath(const QString& path);
    [[nodiscard]] QString fullPathFileName() const;
    void setFullPathFileName(const QString& path);

    // The load event: run once, before the window is first shown.
    void Form_Load();
    // Set when the load event ended the program: the exit status to end with.
    [[nodiscard]] std::optional<int> endCode() const;
    // Closes the window through the unload event where the close cannot be refused: a signal,
    // the end of the desktop session. Does nothing once the window has unloaded.
    void closeUnrefusably();
    // Brings the window to the front when another start of the program is attempted.
    void bringToFront();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createTiles();
    void createButtons();
    void createLists();
    void setTabOrder();
    void centreOnScreen();

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Form_Unload(qint16& Cancel);

    void setTileColours(const std::array<quint32, 6>& gradient);
    void endProgram(int code);

    Services mServices;
    std::optional<int> mEndCode;
    bool mUnloaded = false;
    bool mCloseRefusable = true;

    std::array<QLabel*, 6> Label1{};
    std::array<QLabel*, 2> Label2{};
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    HistoryListBox* List1 = nullptr;
    QListWidget* List2 = nullptr;

    QString mstrMyPath;
    QString mstrFullPathFileName;
    QString mstrReturned;
    qint32 mlngApiResult = 0;
    qint32 mlngIndex = 0;
    qint32 mlngDataCount = 0;
    qint16 mintAnswer = 0;
};
