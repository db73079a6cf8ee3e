#include "posix/process.h"

#include "posix/files.h"
#include "posix/systemcalls.h"

#include <QHash>
#include <QList>
#include <array>
#include <cctype>
#include <fcntl.h>

namespace posix {

namespace {

// Enough of a machine's or a boot's identity to tell them apart.
constexpr qsizetype kIdentityDigits = 8;
// The start time's field in /proc/PID/stat (the 22nd), counted from the state after the command.
constexpr int kStartTimeField = 19;
constexpr int kIdentityParts = 4;

// The first hexadecimal digits of an identity such as a machine's or a boot's.
QByteArray hexDigits(const QByteArray& text)
{
    QByteArray digits;
    for (const char c : text) {
        if (digits.size() < kIdentityDigits && std::isxdigit(static_cast<unsigned char>(c))) {
            digits += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return digits.size() == kIdentityDigits ? digits : QByteArray("0");
}

QByteArray machineIdentity()
{
    QByteArray machine = firstLine("/etc/machine-id");
    std::array<char, 256> host{};
    if (machine.isEmpty() && calls().gethostname(host.data(), host.size() - 1) == 0) {
        machine = QByteArray::number(qHash(QByteArrayView(host.data())), 16).rightJustified(8, '0');
    }
    return hexDigits(machine);
}

} // namespace

ProcessIdentity ProcessIdentity::self()
{
    // The machine and its boot are read once: unlike the process, they stay after a fork.
    static const QByteArray machine = machineIdentity();
    static const QByteArray boot = hexDigits(firstLine("/proc/sys/kernel/random/boot_id"));
    const qint64 pid = calls().getpid();
    // Without /proc the start is not known: a lock alone then tells that the process lives.
    const QByteArray start = processStart(pid);
    return {machine, boot, pid, start.isEmpty() ? QByteArray("0") : start};
}

std::optional<ProcessIdentity> ProcessIdentity::parsed(QByteArrayView text)
{
    const QList<QByteArray> parts = text.toByteArray().split('-');
    bool number = false;
    if (parts.size() != kIdentityParts || parts[3].isEmpty()) {
        return std::nullopt;
    }
    ProcessIdentity process{parts[0], parts[1], parts[2].toLongLong(&number), parts[3]};
    return number ? std::optional(process) : std::nullopt;
}

QByteArray ProcessIdentity::text() const
{
    return machine + '-' + boot + '-' + QByteArray::number(pid) + '-' + start;
}

bool ProcessIdentity::hasEnded(const ProcessIdentity& self) const
{
    return machine == self.machine && (boot != self.boot || processStart(pid) != start);
}

QByteArray processStart(qint64 pid)
{
    const QByteArray stat = firstLine(("/proc/" + QByteArray::number(pid) + "/stat").constData());
    const qsizetype command = stat.lastIndexOf(')');
    if (command < 0) {
        return {};
    }
    const QList<QByteArray> fields = stat.mid(command + 2).split(' ');
    return fields.value(kStartTimeField);
}

bool isThisUsers(pid_t pid)
{
    struct stat process {};
    return pid > 0 &&
           calls().fstatat(AT_FDCWD, ("/proc/" + QByteArray::number(pid)).constData(), &process,
                           0) == 0 &&
           process.st_uid == calls().getuid();
}

} // namespace posix
