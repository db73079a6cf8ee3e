#include "desktop/terminationsignals.h"

#include <QSocketNotifier>
#include <sys/socket.h>
#include <unistd.h>

namespace desktop {

namespace {

// The handler may only write to a descriptor: the number travels to the event loop through a
// pair of connected sockets.
std::array<int, 2> gPipe{-1, -1};
constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};

void onSignal(int signalNumber)
{
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(gPipe[0], &byte, 1);
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent)
    , mNotifier(nullptr)
{
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], nullptr, &mPrevious[i]);
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gPipe.data()) != 0) {
        return;
    }
    mNotifier = new QSocketNotifier(gPipe[1], QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        if (::read(gPipe[1], &byte, 1) == 1) {
            emit received(byte);
        }
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        if (mPrevious[i].sa_handler != SIG_IGN) {
            ::sigaction(kSignals[i], &action, nullptr);
        }
    }
}

TerminationSignals::~TerminationSignals()
{
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], &mPrevious[i], nullptr);
    }
    for (int& fd : gPipe) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

int TerminationSignals::descriptor() const
{
    return gPipe[1];
}

} // namespace desktop
