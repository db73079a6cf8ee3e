#include "desktop/terminationsignals.h"

#include "posix/descriptor.h"
#include "posix/systemcalls.h"

#include <QSocketNotifier>

namespace desktop {

namespace {

using posix::calls;

// The handler may only write to a descriptor: the number travels to the event loop through a
// pair of connected sockets.
std::array<posix::Descriptor, 2> gPipe;
constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};

void onSignal(int signalNumber)
{
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A signal that finds the pipe full is one of many already waiting to be handled.
    calls().write(gPipe[0].get(), &byte, 1);
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent)
    , mNotifier(nullptr)
{
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        calls().sigaction(kSignals[i], nullptr, &mPrevious[i]);
    }
    std::array<int, 2> ends{-1, -1};
    if (calls().socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends.data()) !=
        0) {
        return;
    }
    gPipe = {posix::Descriptor(ends[0]), posix::Descriptor(ends[1])};
    mNotifier = new QSocketNotifier(gPipe[1].get(), QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        if (calls().read(gPipe[1].get(), &byte, 1) == 1) {
            emit received(byte);
        }
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        if (mPrevious[i].sa_handler != SIG_IGN) {
            calls().sigaction(kSignals[i], &action, nullptr);
        }
    }
}

TerminationSignals::~TerminationSignals()
{
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        calls().sigaction(kSignals[i], &mPrevious[i], nullptr);
    }
    for (posix::Descriptor& end : gPipe) {
        end.reset();
    }
}

int TerminationSignals::descriptor() const
{
    return gPipe[1].get();
}

} // namespace desktop
