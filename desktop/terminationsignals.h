#pragma once

#include <QObject>
#include <array>
#include <csignal>

class QSocketNotifier;

namespace desktop {

// Brings SIGTERM, SIGINT and SIGHUP into the event loop, where the window ends the program at
// once, saving on the way and asking nothing, instead of the system's ending it with nothing
// saved. A signal that the program was started with ignored (as nohup starts it with SIGHUP)
// stays ignored. On Windows the same for Ctrl+C and for the console's closing, a logoff and a
// shutdown.
class TerminationSignals final : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    // Gives each signal back the action it had before.
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

#ifndef _WIN32
    // Readable once a signal has come: for waits outside the event loop.
    [[nodiscard]] int descriptor() const;
#endif

signals:
    void received(int signalNumber);

#ifndef _WIN32
private:
    QSocketNotifier* mNotifier;
    std::array<struct sigaction, 3> mPrevious{};
#endif
};

} // namespace desktop
