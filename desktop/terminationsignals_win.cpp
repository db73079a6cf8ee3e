// Ctrl+C, a closed console, a logoff and a shutdown on Windows, brought into the event loop.
#include "desktop/terminationsignals.h"
#include "win/systemcalls.h"

#include <atomic>

namespace desktop {

namespace {

// Windows ends the process once the handler of a close, logoff or shutdown returns, and at
// the latest about five seconds after the event: the handler waits for the save until then.
constexpr DWORD kEndWaitMs = 4500;

std::atomic<TerminationSignals*> gReceiver{nullptr};
HANDLE gEnded = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    TerminationSignals* receiver = gReceiver.load();
    if (receiver == nullptr) {
        return FALSE;
    }
    const int number = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM;
    QMetaObject::invokeMethod(
        receiver, [receiver, number] { emit receiver->received(number); }, Qt::QueuedConnection);
    if (number == SIGTERM) {
        win::calls().WaitForSingleObject(gEnded, kEndWaitMs);
    }
    return TRUE;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent)
{
    gEnded = win::calls().CreateEventW(nullptr, TRUE, FALSE, nullptr);
    gReceiver.store(this);
    win::calls().SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

TerminationSignals::~TerminationSignals()
{
    gReceiver.store(nullptr);
    win::calls().SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    win::calls().SetEvent(gEnded);
}

} // namespace desktop
