#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>
#include <sys/types.h>

// Processes as files beside the history name them, whether they live, and whose they are.
namespace posix {

// What this machine can tell of a process that a file names. One rule for the journals, the
// save lock and the lock file:
// - Ended: of this machine's earlier boot; or no process has its number; or the process with
//   its number started at another time (the number was used again); or it is a zombie, ended
//   but not yet reaped by its parent or a tracer.
// - Lives: the process with its number and start time runs in this machine's boot.
// - Unknown: another machine's, or another PID namespace's (a container), or /proc does not
//   show it (hidepid): never taken for ended, so a file of it is judged otherwise or left alone.
enum class Life { Ended, Lives, Unknown };

// A process, told apart from every other that has run: its machine, the machine's boot, its PID
// namespace, its number and when it started. Written as "machine-boot-namespace-pid-start".
struct ProcessIdentity {
    QByteArray machine;
    QByteArray boot;
    QByteArray space; // the PID namespace; empty in the names that earlier versions wrote
    qint64 pid = 0;
    QByteArray start;

    // This process's, read once (again in a child after a fork).
    static const ProcessIdentity& self();
    // Also the four parts "machine-boot-pid-start" of earlier versions, taken to be of this
    // process's namespace.
    static std::optional<ProcessIdentity> parsed(QByteArrayView text);
    [[nodiscard]] QByteArray text() const;
    [[nodiscard]] Life life() const;
    bool operator==(const ProcessIdentity&) const = default;
};

// Whether the process is this user's. A process that /proc does not show (hidden from other
// users, or in another PID namespace) is not.
bool isThisUsers(pid_t pid);

} // namespace posix
