#pragma once

#include "app/layout.h"
#include "app/startup.h"
#include "desktop/programfolder.h"
#include "desktop/singleinstance.h"
#include "draw/sixnumbers.h"
#include "history/historyfile.h"
#include "history/journal.h"

#include <QMargins>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

class HistoryListBox;
class QLabel;
class QListWidget;
class QPushButton;
class QuestionBox;
namespace draw {
class RandomSource;
}
namespace print {
class LinePrinter;
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
        // The previous-instance flag, and who holds the history.
        std::function<desktop::PreviousInstance()> previousInstance;
        desktop::ProgramFolder programFolder; // the folder of the running executable
        draw::RandomSource* random = nullptr;
        QuestionBox* questions = nullptr;
        print::LinePrinter* printer = nullptr;
        // Where a failure is reported when no box may be shown: standard error.
        std::function<void(const QString&)> reportError;
        // Leaves every running event loop, the boxes' too: the program ends.
        std::function<void()> quit;
        // The frame the window manager will draw around the window, before it is shown.
        std::function<QMargins(WId, qreal)> frameExtents = [](WId, qreal) { return QMargins(); };
        // Where the lines drawn are kept until they are saved; opened by the load.
        history::Journal* journal = nullptr;
        // Reads the history file and checks it: the start's may have begun before the window.
        std::function<history::LoadResult(const QString&)> loadHistory = history::loadHistory;
        // Why the history could not be locked against a second start, if it could not.
        std::optional<desktop::LockProblem> lockProblem = std::nullopt;
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
    // The exit status after the event loop: not 0 when the history could not be saved at an end
    // that no box could report.
    [[nodiscard]] int exitStatus() const;
    // A signal: ends the program at once, without waiting for an answer and without destroying
    // anything on the user's behalf. An open repeat question keeps the line (its default), an
    // open clear question clears nothing, an open close-without-saving question saves nothing.
    void endNow();
    // The display has gone: ends as endNow() does, without touching a widget.
    void endWithoutDisplay();
    // The desktop session is ending: saves as the unload does, without a box, and leaves the
    // ending to the session manager.
    void saveForSessionEnd();
    // Brings the window to the front when another start of the program is attempted, with the
    // activation token that the desktop gave that start, if any.
    void bringToFront(const QByteArray& token);

signals:
    // This run's journal is open and the lines of ended runs are taken over: what an end
    // relies on has been made.
    void runKept();

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

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

    // Opens this run's journal and takes over the lines that ended runs left, showing and saving
    // them: after the first paint, or first thing when the user draws, prints or clears before.
    void keepRunOnDisk();
    void journalled(const std::optional<posix::Error>& error);

    void setTileColours(const layout::Gradient& gradient);
    void setTileCaption(std::size_t tile, const QString& caption);
    void showStars();
    void endProgram(int code);
    bool end();
    history::SaveResult save();
    // While it lives, the program's waits (for another program's save, for the print system)
    // let the window paint and answer, with a busy cursor, taking the events given.
    class WhileWaiting;
    // Runs a save or a clear of the file; while it waits, the window takes no input, and an end
    // asked for meanwhile comes right after.
    template <typename Operation> auto writeHistory(Operation operation);
    void reportNotSaved(const history::Failure& failure);

    // The window's life, and the only state that decides what an ending saves. The history is
    // written by the unload once, and by the session's end as often as it asks:
    //
    //   Loading --the load ends the program (endCode)-----------------------------> Closed
    //   Loading --load done--> Open --close: saved, or nothing to write-----------> Closed
    //                           |  ^
    //            close: the save|  | "close without saving?" No
    //                    failed v  |
    //                        AskingToClose --Yes-----------------------------------> Closed
    //   Open --signal, display gone: saves (a failure on standard error)----------> Ended
    //   AskingToClose --signal, display gone: saves nothing new, reports----------> Ended
    //   Closed --signal, display gone: saves nothing------------------------------> Ended
    //
    // In Ended every box still open counts as unanswered: nothing is destroyed on the user's
    // behalf. The session's end saves in Open and AskingToClose and changes no phase.
    enum class Phase { Loading, Open, AskingToClose, Closed, Ended };

    Services mServices;
    Phase mPhase = Phase::Loading;
    std::optional<int> mEndCode;
    int mExitStatus = 0;
    // AskingToClose: the failure of the save, reported if the program ends meanwhile.
    std::optional<history::Failure> mCloseFailure;
    // The print button's press is under way.
    bool mPrinting = false;
    // The first line of the list that this run has shown and not saved: the save adds it and
    // those after it to the file.
    int mFirstUnsaved = 0;
    // The window has painted; the journals have been seen to.
    bool mPainted = false;
    bool mRunKept = false;
    // The user was told that the journal cannot be kept.
    bool mJournalLost = false;
    // A save or a clear is under way, and a signal came meanwhile.
    bool mWriting = false;
    bool mEndAsked = false;

    std::array<QLabel*, draw::kTileCount> Label1{};
    std::array<QLabel*, 2> Label2{};
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    HistoryListBox* List1 = nullptr;
    QListWidget* List2 = nullptr;

    QString mstrMyPath;
    QString mstrFullPathFileName;
    // The receive buffer and the last file operation's result (1 done, 0 failed) are kept with
    // the form's other fields for a reader of the window in a debugger; the history file's
    // reads take their size from history::kReceiveBufferSize, and failures travel as values.
    QString mstrReturned;
    qint32 mlngApiResult = 0;
    qint32 mlngIndex = 0;
    qint32 mlngDataCount = 0;
    qint16 mintAnswer = 0;
};
