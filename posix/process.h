#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>
#include <sys/types.h>

// Processes as files beside the history name them, and whose they are.
namespace posix {

// A process, told apart from every other that has run: its machine, the machine's boot, its
// number and when it started. Written as "machine-boot-pid-start".
struct ProcessIdentity {
    QByteArray machine;
    QByteArray boot;
    qint64 pid = 0;
    QByteArray start;

    static ProcessIdentity self();
    static std::optional<ProcessIdentity> parsed(QByteArrayView text);
    [[nodiscard]] QByteArray text() const;
    // Whether the process has ended, as far as self's machine can tell: a process of another
    // machine may live, so it never counts as ended.
    [[nodiscard]] bool hasEnded(const ProcessIdentity& self) const;
};

// When a process started, in clock ticks since the boot: with its number, it names the process
// once and for all. Empty when there is no such process.
QByteArray processStart(qint64 pid);

// Whether the process is this user's. A process that /proc does not show (hidden from other
// users, or in another PID namespace) is not.
bool isThisUsers(pid_t pid);

} // namespace posix
