#pragma once

#include <QObject>

class QSocketNotifier;

namespace desktop {

// Brings SIGTERM, SIGINT and SIGHUP into the event loop, so that they end the program through
// the window's ordinary close and nothing is lost.
class TerminationSignals final : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

signals:
    void received(int signalNumber);

private:
    QSocketNotifier* mNotifier;
};

} // namespace desktop
