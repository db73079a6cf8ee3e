#include "posix/process.h"

#include "posix/files.h"
#include "posix/systemcalls.h"

#include <QHash>
#include <QList>
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <limits>

namespace posix {

namespace {

// Enough of a machine's or a boot's identity to tell them apart.
constexpr qsizetype kIdentityDigits = 8;
// The state's field in /proc/PID/stat (the 3rd) and the start time's (the 22nd), counted from
// the state, the first after the command.
constexpr int kStartTimeField = 19;
constexpr int kParts = 5;
constexpr int kEarlierParts = 4;

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

// "pid:[4026531836]": the namespace's inode number, its name for as long as it exists.
QByteArray pidNamespace()
{
    std::array<char, 64> link{};
    const ssize_t length = calls().readlink("/proc/self/ns/pid", link.data(), link.size());
    QByteArray digits;
    for (ssize_t i = 0; i < length; ++i) {
        if (std::isdigit(static_cast<unsigned char>(link[i]))) {
            digits += link[i];
        }
    }
    return digits.isEmpty() ? QByteArray("0") : digits;
}

// A process's state letter and start time from /proc; nothing when /proc does not show it.
struct Status {
    char state = '?';
    QByteArray start;
};
std::optional<Status> statusOf(qint64 pid)
{
    const QByteArray stat = firstLine(("/proc/" + QByteArray::number(pid) + "/stat").constData());
    const qsizetype command = stat.lastIndexOf(')');
    if (command < 0 || command + 2 >= stat.size()) {
        return std::nullopt;
    }
    const QList<QByteArray> fields = stat.mid(command + 2).split(' ');
    return Status{fields[0].front(), fields.value(kStartTimeField)};
}

bool isNumber(const QByteArray& text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
    });
}

} // namespace

const ProcessIdentity& ProcessIdentity::self()
{
    // The machine, its boot and the namespace stay after a fork; the process does not.
    static const QByteArray machine = machineIdentity();
    static const QByteArray boot = hexDigits(firstLine("/proc/sys/kernel/random/boot_id"));
    static ProcessIdentity identity;
    const qint64 pid = calls().getpid();
    if (identity.pid != pid) {
        // Without /proc the start is not known: such a process is judged Unknown by others.
        const std::optional<Status> status = statusOf(pid);
        identity = {machine, boot, pidNamespace(), pid,
                    status && isNumber(status->start) ? status->start : QByteArray("0")};
    }
    return identity;
}

std::optional<ProcessIdentity> ProcessIdentity::parsed(QByteArrayView text)
{
    QList<QByteArray> parts = text.toByteArray().split('-');
    if (parts.size() == kEarlierParts) {
        parts.insert(2, QByteArray());
    }
    if (parts.size() != kParts || !isNumber(parts[3]) || !isNumber(parts[4]) ||
        (!parts[2].isEmpty() && !isNumber(parts[2]))) {
        return std::nullopt;
    }
    return ProcessIdentity{parts[0], parts[1], parts[2], parts[3].toLongLong(), parts[4]};
}

QByteArray ProcessIdentity::text() const
{
    return machine + '-' + boot + '-' + space + '-' + QByteArray::number(pid) + '-' + start;
}

Life ProcessIdentity::life() const
{
    const ProcessIdentity& here = self();
    if (machine != here.machine) {
        return Life::Unknown;
    }
    if (boot != here.boot) {
        return Life::Ended;
    }
    if (!space.isEmpty() && space != here.space) {
        return Life::Unknown;
    }
    // No process at all has that number: the kernel says so to anyone, hidepid or not.
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max() ||
        (calls().kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)) {
        return Life::Ended;
    }
    const std::optional<Status> status = statusOf(pid);
    if (!status) {
        return Life::Unknown;
    }
    const bool ended = status->start != start || status->state == 'Z' || status->state == 'X';
    return ended ? Life::Ended : Life::Lives;
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
