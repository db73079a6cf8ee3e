#include "app/frmqelvo.h"

#include "app/compactlistdelegate.h"
#include "app/historylistbox.h"
#include "app/layout.h"
#include "app/questionbox.h"
#include "app/texts.h"
#include "draw/historyline.h"
#include "history/filestore.h"
#include "posix/clock.h"
#include "print/lineprinter.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <chrono>
#include <utility>

// The icon, as an XPM picture: text that is also C++.
#include "app/resources/qelvo.xpm"

namespace {

using namespace Qt::Literals::StringLiterals;
using texts::text;

// When a window that has not painted yet sees to the journals.
constexpr std::chrono::seconds kKeepRunAtLatest{1};

void setBackColour(QLabel* tile, quint32 bgr)
{
    QPalette palette = tile->palette();
    palette.setColor(QPalette::Window, layout::fromBgr(bgr));
    tile->setPalette(palette);
}

void placeAt(QWidget* control, const layout::Twips& twips, const QString& name)
{
    control->setObjectName(name);
    control->setGeometry(layout::toPixels(twips, control->logicalDpiY()));
}

} // namespace

frmQelvo::frmQelvo(Services services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
    , mServices(std::move(services))
{
    setObjectName(QStringLiteral("frmQelvo"));
    setWindowTitle(text(texts::kTitle));
    // From the picture built into the program: a file would be probed by the image plugins,
    // loading every one of them at each start.
    setWindowIcon(QIcon(QPixmap::fromImage(QImage(qelvo_xpm))));
    setFont(layout::windowFont());
    const double dpi = logicalDpiY();
    setFixedSize(layout::toPixels(layout::kClientArea, dpi).size());

    createTiles();
    createButtons();
    createLists();
    setTabOrder();
}

void frmQelvo::createTiles()
{
    for (std::size_t i = 0; i < Label1.size(); ++i) {
        auto* tile = new QLabel(this);
        placeAt(tile, layout::kTiles[i], QStringLiteral("Label1_%1").arg(i));
        tile->setFrameStyle(QFrame::Box | QFrame::Plain);
        tile->setAlignment(Qt::AlignCenter);
        tile->setAutoFillBackground(true);
        tile->setFont(layout::tileFont());
        QPalette palette = tile->palette();
        palette.setColor(QPalette::WindowText, layout::fromBgr(layout::kTileText[i]));
        tile->setPalette(palette);
        setBackColour(tile, layout::kBlueGradient[i]);
        Label1[i] = tile;
    }
    showStars();
    Label2[0] = new QLabel(text(texts::kSortedListCaption), this);
    placeAt(Label2[0], layout::kSortedCaption, QStringLiteral("Label2_0"));
    Label2[1] = new QLabel(text(texts::kHistoryListCaption), this);
    placeAt(Label2[1], layout::kHistoryCaption, QStringLiteral("Label2_1"));
}

void frmQelvo::createButtons()
{
    Command1 = new QPushButton(text(texts::kDrawCaption), this);
    placeAt(Command1, layout::kDrawButton, QStringLiteral("Command1"));
    Command2 = new QPushButton(layout::stackedCaption(text(texts::kPrintCaption)), this);
    placeAt(Command2, layout::kPrintButton, QStringLiteral("Command2"));
    Command3 = new QPushButton(layout::stackedCaption(text(texts::kClearCaption)), this);
    placeAt(Command3, layout::kClearButton, QStringLiteral("Command3"));
    // A screen reader says the narrow buttons' captions as words, not as stacked characters.
    Command2->setAccessibleName(text(texts::kPrintCaption));
    Command3->setAccessibleName(text(texts::kClearCaption));
    for (QPushButton* button : {Command1, Command2, Command3}) {
        // No button is the window's default; Enter presses the focused one, as Space does.
        button->setAutoDefault(false);
        button->installEventFilter(this);
    }
    connect(Command1, &QPushButton::clicked, this, &frmQelvo::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmQelvo::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &frmQelvo::Command3_Click);
}

void frmQelvo::createLists()
{
    List2 = new QListWidget(this);
    placeAt(List2, layout::kSortedList, QStringLiteral("List2"));
    List2->setSortingEnabled(true);
    List2->setUniformItemSizes(true);
    List2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    List2->setFont(layout::listFont());
    List2->setItemDelegate(new CompactListDelegate(List2));
    List1 = new HistoryListBox(this);
    placeAt(List1, layout::kHistoryList, QStringLiteral("List1"));
    List1->setFont(layout::listFont());
    // Each list is named by the caption above it, which is also its label.
    List2->setAccessibleName(Label2[0]->text());
    List1->setAccessibleName(Label2[1]->text());
    Label2[0]->setBuddy(List2);
    Label2[1]->setBuddy(List1);
}

void frmQelvo::setTabOrder()
{
    QWidget::setTabOrder(Command1, List1);
    QWidget::setTabOrder(List1, List2);
    QWidget::setTabOrder(List2, Command3);
    QWidget::setTabOrder(Command3, Command2);
    Command1->setFocus();
}

QString frmQelvo::myPath() const
{
    return mstrMyPath;
}
void frmQelvo::setMyPath(const QString& path)
{
    mstrMyPath = path;
}
QString frmQelvo::fullPathFileName() const
{
    return mstrFullPathFileName;
}
void frmQelvo::setFullPathFileName(const QString& path)
{
    mstrFullPathFileName = path;
}

std::optional<int> frmQelvo::endCode() const
{
    return mEndCode;
}

int frmQelvo::exitStatus() const
{
    return mExitStatus;
}

void frmQelvo::endProgram(int code)
{
    mEndCode = code;
    mPhase = Phase::Closed;
}

void frmQelvo::Form_Load()
{
    switch (mServices.previousInstance()) {
    case desktop::PreviousInstance::None:
        break;
    case desktop::PreviousInstance::Activated:
        endProgram(0);
        return;
    case desktop::PreviousInstance::Unreachable:
        // Ending without a word would leave the user looking for a window they cannot find.
        mServices.questions->tell(texts::unreachableMessage());
        endProgram(1);
        return;
    case desktop::PreviousInstance::InUse:
        mServices.questions->tell(texts::inUseMessage());
        endProgram(1);
        return;
    }
    centreOnScreen();
    if (!mServices.programFolder.named) {
        // A name made up of replacement characters would show an empty history and then fail
        // to save: nothing is read or written.
        mServices.questions->tell(texts::unnamedFolderMessage(mServices.programFolder.path));
        endProgram(1);
        return;
    }
    mstrMyPath = startup::dataFolder(mServices.programFolder.path);
    mstrFullPathFileName = startup::historyFile(mstrMyPath);
    mstrReturned = QString(history::kReceiveBufferSize, QChar(0));

    history::LoadResult loaded = mServices.loadHistory(mstrFullPathFileName);
    if (loaded.failure) {
        // A damaged or unreadable file is left exactly as it is, for the user to repair: a
        // save would replace lines that were never loaded.
        mServices.questions->tell(texts::loadFailedMessage(*loaded.failure));
        endProgram(1);
        return;
    }
    mlngDataCount = loaded.storedCount;
    List1->setLines(std::move(loaded.lines));
    mFirstUnsaved = List1->count();
    // The counter ends one past the last key, as a load of one key at a time would leave it.
    mlngIndex = qMax(mlngDataCount, 0) + 1;
    mPhase = Phase::Open;
    // A window that the desktop never exposes (on another workspace) keeps its run all the same.
    QTimer::singleShot(kKeepRunAtLatest, this, &frmQelvo::keepRunOnDisk);
}

void frmQelvo::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    // The journals are seen to once the window is on the screen: its first paint does not wait
    // for those of ended runs, and a word about them comes over the window.
    if (!std::exchange(mPainted, true)) {
        QTimer::singleShot(0, this, &frmQelvo::keepRunOnDisk);
    }
}

void frmQelvo::keepRunOnDisk()
{
    // Once, while the window is open; an end before then leaves every journal for the next start.
    if (mPhase != Phase::Open || std::exchange(mRunKept, true)) {
        return;
    }
    QStringList warnings;
    if (mServices.lockProblem) {
        warnings << texts::unguardedMessage(*mServices.lockProblem);
    }
    // What saves cut short left beside the history goes now, not at the next save.
    filestore::tidy(mstrFullPathFileName);
    std::optional<posix::Error> journalError = mServices.journal->prepare(mstrFullPathFileName);
    // The lines that runs which ended without saving them left, all at once: shown and saved now.
    const history::Journal::Taken taken =
        mServices.journal->takeOver(List1->lines(), history::kMaxLines - List1->count());
    journalError = journalError ? journalError : taken.error;
    if (journalError) {
        mJournalLost = true;
        warnings << texts::journalLostMessage(*journalError);
    }
    for (const QByteArray& line : taken.lines) {
        List1->addItem(line);
    }
    if (!taken.lines.isEmpty()) {
        if (const std::optional<history::Failure> failure = save().failure) {
            warnings << texts::leftLinesNotSavedMessage(*failure, taken.lines.size());
        }
    }
    if (taken.waiting > 0) {
        warnings << texts::linesWaitingMessage(taken.waiting, !taken.error);
    }
    emit runKept();
    if (!warnings.isEmpty()) {
        mServices.questions->tell(warnings.join(u"\n\n"_s));
    }
}

void frmQelvo::journalled(const std::optional<posix::Error>& error)
{
    if (!error || mJournalLost) {
        return;
    }
    mJournalLost = true;
    // Only an open window may show a box: at the end the display may be gone.
    if (mPhase == Phase::Open) {
        mServices.questions->tell(texts::journalLostMessage(*error));
    } else {
        mServices.reportError(texts::journalLostMessage(*error));
    }
}

void frmQelvo::centreOnScreen()
{
    const double dpi = logicalDpiY();
    const auto twips = [dpi](int pixels) { return layout::toTwips(pixels, dpi); };
    // The monitor the user works on: the primary one, where a desktop opens new windows.
    const QRect monitor = QGuiApplication::primaryScreen()->geometry();
    // The outer size counts the frame and title bar, which the window manager tells before
    // the window is shown, so the window appears in its place without a jump.
    const QMargins frame = mServices.frameExtents(winId(), devicePixelRatioF());
    const QSize window = size().grownBy(frame);
    const QPointF topLeft = startup::centredTopLeft(
        {twips(monitor.x()), twips(monitor.y()), twips(monitor.width()), twips(monitor.height())},
        {twips(window.width()), twips(window.height())});
    const QPoint outer(layout::toPixels(topLeft.x(), dpi), layout::toPixels(topLeft.y(), dpi));
    setGeometry(QRect(outer + QPoint(frame.left(), frame.top()), size()));
}

void frmQelvo::setTileCaption(std::size_t tile, const QString& caption)
{
    Label1[tile]->setText(caption);
    Label1[tile]->setAccessibleName(texts::tileName(static_cast<int>(tile) + 1, caption));
}

void frmQelvo::showStars()
{
    for (std::size_t i = 0; i < Label1.size(); ++i) {
        setTileCaption(i, QString(QChar(texts::kStarCaptions[i])));
    }
}

bool frmQelvo::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* button = qobject_cast<QPushButton*>(watched);
        // The keypad's Enter carries the keypad modifier. Each press is one click at once, as
        // with Space: an animated click would swallow the presses that come during it.
        const Qt::KeyboardModifiers others = key->modifiers() & ~Qt::KeypadModifier;
        if (button != nullptr && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            others == Qt::NoModifier) {
            if (!key->isAutoRepeat()) {
                button->click();
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmQelvo::setTileColours(const layout::Gradient& gradient)
{
    for (std::size_t i = 0; i < Label1.size(); ++i) {
        setBackColour(Label1[i], gradient[i]);
    }
}

void frmQelvo::Command1_Click()
{
    keepRunOnDisk();
    setTileColours(layout::kBlueGradient);
    const draw::Numbers numbers = draw::drawSix(*mServices.random);
    for (std::size_t i = 0; i < Label1.size(); ++i) {
        setTileCaption(i, QString::number(numbers[i]));
    }

    List2->clear();
    for (const QLabel* tile : Label1) {
        List2->addItem(draw::twoDigitText(tile->text().toShort()));
    }
    QStringList sorted;
    for (int position = 0; position < draw::kTileCount; ++position) {
        sorted << List2->item(position)->text();
    }
    const QByteArray line = draw::joinHistoryLine(sorted).toLatin1();
    if (List1->count() >= history::kMaxLines) {
        mServices.questions->tell(texts::historyFullMessage());
        return;
    }
    List1->addItem(line);
    journalled(mServices.journal->shown(line));

    const int repeats = draw::repeatCount(List1->lines());
    if (repeats == 0) {
        return;
    }
    setTileColours(layout::kRedGradient);
    mintAnswer = mServices.questions->ask(texts::repeatQuestion(repeats), QuestionBox::kYes);
    // A question left unanswered by the program's end keeps the line, as its default does.
    if (mintAnswer == QuestionBox::kYes || mPhase == Phase::Ended) {
        setTileColours(layout::kBlueGradient);
        return;
    }
    showStars();
    List1->removeLast();
    journalled(mServices.journal->takenBack());
    List2->clear();
}

class frmQelvo::WhileWaiting {
public:
    WhileWaiting(const frmQelvo& window, QEventLoop::ProcessEventsFlags events)
        : mBefore(posix::setPause([this, &window, events](std::chrono::milliseconds time) {
            // At the end the display may be gone, and no event may come in: the time just passes.
            if (window.mPhase != Phase::Ended) {
                if (!std::exchange(mBusy, true)) {
                    QApplication::setOverrideCursor(Qt::WaitCursor);
                }
                QCoreApplication::processEvents(events);
            }
            posix::sleepFor(time);
        }))
    {
    }
    ~WhileWaiting()
    {
        posix::setPause(mBefore);
        if (mBusy) {
            QApplication::restoreOverrideCursor();
        }
    }
    WhileWaiting(const WhileWaiting&) = delete;
    WhileWaiting& operator=(const WhileWaiting&) = delete;

private:
    bool mBusy = false;
    posix::Pause mBefore;
};

void frmQelvo::Command2_Click()
{
    // Looking for the printer lets other events in; a second press meanwhile is the same press.
    if (mPrinting) {
        return;
    }
    mPrinting = true;
    keepRunOnDisk();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    {
        // The user may go on drawing meanwhile.
        const WhileWaiting answering(*this, QEventLoop::AllEvents);
        print::printLines(*mServices.printer, List1->lines());
    }
    // The counter ends past the last position, as a print of one line at a time would leave it.
    mlngIndex = List1->count();
    QApplication::restoreOverrideCursor();
    mPrinting = false;
}

template <typename Operation> auto frmQelvo::writeHistory(Operation operation)
{
    mWriting = true;
    auto result = [&] {
        const WhileWaiting answering(*this, QEventLoop::ExcludeUserInputEvents);
        return operation();
    }();
    mWriting = false;
    if (std::exchange(mEndAsked, false)) {
        QTimer::singleShot(0, this, &frmQelvo::endNow);
    }
    return result;
}

void frmQelvo::Command3_Click()
{
    keepRunOnDisk();
    // The lines that the user is asked about: those the file holds now.
    history::LoadResult stored = history::loadHistory(mstrFullPathFileName);
    if (stored.failure) {
        mServices.questions->tell(texts::clearFailedMessage(*stored.failure));
        return;
    }
    mlngDataCount = stored.storedCount;
    mintAnswer = mServices.questions->ask(texts::clearQuestion(), QuestionBox::kYes);
    if (mintAnswer != QuestionBox::kYes || mPhase == Phase::Ended) {
        return;
    }
    journalled(mServices.journal->clearing());
    // The file is read again now: what other programs saved while the question was open stays.
    history::ClearResult cleared =
        writeHistory([&] { return history::clearHistory(mstrFullPathFileName, stored.lines); });
    mlngApiResult = cleared.failure ? 0 : 1;
    if (cleared.failure) {
        journalled(mServices.journal->clearFailed());
        // The lists stay as they are, so that the window still shows what the file holds.
        mServices.questions->tell(texts::clearFailedMessage(*cleared.failure));
        return;
    }
    journalled(cleared.unflushed ? mServices.journal->unconfirmed(*cleared.unflushed)
                                 : mServices.journal->settled());
    mFirstUnsaved = static_cast<int>(cleared.kept.size());
    List1->setLines(std::move(cleared.kept));
    List2->clear();
}

history::SaveResult frmQelvo::save()
{
    history::SaveResult saved = writeHistory([this] {
        return history::saveHistory(
            mstrFullPathFileName, List1->lines(), mFirstUnsaved,
            [this](qint32 after) { journalled(mServices.journal->saving(after)); });
    });
    mlngDataCount = saved.countBefore;
    mlngApiResult = saved.failure ? 0 : 1;
    if (!saved.failure) {
        mFirstUnsaved = List1->count();
        journalled(saved.unflushed ? mServices.journal->unconfirmed(*saved.unflushed)
                                   : mServices.journal->settled());
        mExitStatus = 0; // an earlier failure is mended by this save
    }
    return saved;
}

void frmQelvo::reportNotSaved(const history::Failure& failure)
{
    mExitStatus = 1;
    mServices.reportError(texts::notSavedMessage(failure, mServices.journal->holds()));
}

void frmQelvo::Form_Unload(qint16& Cancel)
{
    const history::SaveResult saved = save();
    if (!saved.failure) {
        return;
    }
    if (mPhase == Phase::Ended) {
        reportNotSaved(*saved.failure);
        return;
    }
    mPhase = Phase::AskingToClose;
    mCloseFailure = saved.failure;
    mintAnswer = mServices.questions->ask(
        texts::saveFailedQuestion(*saved.failure, mServices.journal->holds()), QuestionBox::kNo);
    // A signal that came while the question was open has ended the program already.
    if (mPhase == Phase::Ended) {
        return;
    }
    mPhase = Phase::Open;
    mCloseFailure.reset();
    if (mintAnswer != QuestionBox::kYes) {
        Cancel = 1;
    }
}

void frmQelvo::closeEvent(QCloseEvent* event)
{
    // The save under way goes on; the window closes once it is asked again.
    if (mWriting) {
        event->ignore();
        return;
    }
    if (mPhase == Phase::Open) {
        qint16 cancel = 0;
        Form_Unload(cancel);
        if (cancel != 0) {
            event->ignore();
            return;
        }
        mPhase = mPhase == Phase::Ended ? Phase::Ended : Phase::Closed;
    }
    event->accept();
}

bool frmQelvo::end()
{
    switch (mPhase) {
    case Phase::Ended:
        return false;
    case Phase::Open: {
        mPhase = Phase::Ended;
        qint16 cancel = 0;
        Form_Unload(cancel);
        break;
    }
    case Phase::AskingToClose:
        // The user was asking whether to close without saving: nothing new is saved.
        reportNotSaved(*mCloseFailure);
        break;
    case Phase::Loading:
    case Phase::Closed:
        break;
    }
    mPhase = Phase::Ended;
    return true;
}

void frmQelvo::endNow()
{
    // Not in the middle of a save: it ends right after it.
    if (mWriting) {
        mEndAsked = true;
        return;
    }
    if (!end()) {
        return;
    }
    // Nothing waits for an answer: a box left open would keep the process alive, deaf to
    // further signals, after its window is gone.
    mServices.questions->abandon();
    hide();
    mServices.quit();
}

void frmQelvo::endWithoutDisplay()
{
    end();
}

void frmQelvo::saveForSessionEnd()
{
    // A save under way writes what this one would.
    if (mWriting || (mPhase != Phase::Open && mPhase != Phase::AskingToClose)) {
        return;
    }
    if (const std::optional<history::Failure> failure = save().failure) {
        reportNotSaved(*failure);
    }
}

void frmQelvo::bringToFront(const QByteArray& token)
{
    // On Wayland a window takes the focus only with a token from the desktop: Qt's Wayland
    // plugin activates with the one in XDG_ACTIVATION_TOKEN, once.
    if (!token.isEmpty() && QGuiApplication::platformName().startsWith(u"wayland"_s)) {
        qputenv("XDG_ACTIVATION_TOKEN", token);
    }
    showNormal();
    raise();
    activateWindow();
    if (token.isEmpty()) {
        // Where the desktop does not let the window take the focus, it shows that it asks.
        QApplication::alert(this);
    }
}
