// One program per history on Windows: the lock, the knock and the window brought forward.
#include "desktop/logging.h"
#include "desktop/singleinstance.h"
#include "posix/clock.h"
#include "posix/files.h"
#include "posix/locks.h"
#include "posix/systemcalls.h"
#include "win/systemcalls.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <array>
#include <chrono>

namespace desktop {

namespace {

// The holder's process number, written at the start of the lock file: "0000001234\n".
constexpr int kPidDigits = 10;
// How long a second start looks for the window of a holder that is still starting.
constexpr std::chrono::seconds kKnockTime{1};
constexpr std::chrono::milliseconds kKnockRetry{20};

UINT knockMessage()
{
    static const UINT message = win::calls().RegisterWindowMessageW(L"qelvo.bring-to-front");
    return message;
}

// A top-level window of the process.
struct WindowSearch {
    DWORD process = 0;
    HWND found = nullptr;
};

BOOL CALLBACK findWindow(HWND window, LPARAM search)
{
    auto* wanted = reinterpret_cast<WindowSearch*>(search);
    DWORD owner = 0;
    win::calls().GetWindowThreadProcessId(window, &owner);
    if (owner == wanted->process && win::calls().IsWindowVisible(window) != FALSE) {
        wanted->found = window;
        return FALSE;
    }
    return TRUE;
}

DWORD holderOf(int lock)
{
    std::array<char, kPidDigits + 1> number{};
    const ssize_t got = posix::calls().read(lock, number.data(), kPidDigits);
    return got > 0 ? QByteArray(number.data(), got).trimmed().toULong() : 0;
}

// Hears the knock that a second start posts to the window, as the event loop takes it from the
// queue (or, sent to the window, as the window gets it), once.
class Knocks final : public QAbstractNativeEventFilter {
public:
    explicit Knocks(SingleInstance* instance)
        : mInstance(instance)
    {
    }
    bool nativeEventFilter(const QByteArray& /*type*/, void* message, qintptr* /*result*/) override
    {
        if (static_cast<MSG*>(message)->message == knockMessage()) {
            emit mInstance->activationRequested({});
            return true;
        }
        return false;
    }

private:
    SingleInstance* mInstance;
};

} // namespace

SingleInstance::SingleInstance(QByteArray historyFile, QObject* parent)
    : QObject(parent)
    , mHistoryFile(std::move(historyFile))
{
}

SingleInstance::~SingleInstance()
{
    release();
}

PreviousInstance SingleInstance::previousInstance()
{
    if (mLock.isOpen() || mProblem) {
        return PreviousInstance::None;
    }
    const posix::PathParts lock = posix::splitPath(lockFile(mHistoryFile));
    const posix::Descriptor folder = posix::openFolder(lock.folder);
    posix::Descriptor file = posix::openAt(folder.get(), lock.name.constData(), O_RDWR | O_CREAT);
    if (!file.isOpen()) {
        mProblem = LockProblem{LockProblem::Kind::System, errno};
        return PreviousInstance::None;
    }
    if (const std::optional<posix::Error> failed = posix::lockWhole(file.get())) {
        if (failed->code != EAGAIN) {
            mProblem = LockProblem{LockProblem::Kind::System, failed->code};
            return PreviousInstance::None;
        }
        const DWORD holder = holderOf(file.get());
        // Only the start that the user just made may hand the focus on.
        win::calls().AllowSetForegroundWindow(holder != 0 ? holder : ASFW_ANY);
        WindowSearch search{holder};
        const bool knocked =
            holder != 0 && posix::waitFor(kKnockTime, kKnockRetry, [&search] {
                win::calls().EnumWindows(findWindow, reinterpret_cast<LPARAM>(&search));
                return search.found != nullptr &&
                       win::calls().PostMessageW(search.found, knockMessage(), 0, 0) != FALSE;
            });
        return knocked ? PreviousInstance::Activated : PreviousInstance::Unreachable;
    }
    const QByteArray number =
        QByteArray::number(win::calls().GetCurrentProcessId()).rightJustified(kPidDigits, '0') +
        '\n';
    if (const std::optional<posix::Error> failed = posix::writeAll(file.get(), number)) {
        qCWarning(lcDesktop) << "The lock file does not name this program:" << failed->code;
    }
    mLock = std::move(file);
    return PreviousInstance::None;
}

void SingleInstance::listen()
{
    if (mLock.isOpen() && !mKnocks) {
        mKnocks = std::make_unique<Knocks>(this);
        QCoreApplication::instance()->installNativeEventFilter(mKnocks.get());
    }
}

void SingleInstance::release()
{
    if (mKnocks && QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(mKnocks.get());
    }
    mKnocks.reset();
    mLock.reset();
}

} // namespace desktop
