// Processes on Windows, for the names that the journals and the save lock are written under: the
// machine, and the process's number and creation time, which a number used again does not share.
#include "posix/process.h"

#include "win/systemcalls.h"

#include <QCryptographicHash>
#include <QList>
#include <QString>
#include <algorithm>
#include <array>
#include <cctype>

namespace posix {

namespace {

constexpr qsizetype kIdentityDigits = 8;
constexpr int kParts = 5;
// Windows has no boot identity or PID namespace that the names need: a process of an earlier
// boot has either no number now or another creation time.
constexpr auto kNoBoot = "0";
constexpr auto kNoSpace = "0";

QByteArray machineIdentity()
{
    std::array<wchar_t, MAX_COMPUTERNAME_LENGTH * 4> name{};
    DWORD size = name.size();
    const QByteArray host =
        win::calls().GetComputerNameExW(ComputerNamePhysicalDnsHostname, name.data(), &size)
            ? QString::fromWCharArray(name.data(), static_cast<int>(size)).toUtf8()
            : QByteArray();
    return QCryptographicHash::hash(host, QCryptographicHash::Sha256).toHex().left(kIdentityDigits);
}

bool isNumber(const QByteArray& text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
    });
}

// When the process that handle is of started, in 100 ns steps since 1601; empty when unknown.
QByteArray creationTime(HANDLE process)
{
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!win::calls().GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return {};
    }
    ULARGE_INTEGER steps{};
    steps.LowPart = created.dwLowDateTime;
    steps.HighPart = created.dwHighDateTime;
    return QByteArray::number(steps.QuadPart);
}

} // namespace

const ProcessIdentity& ProcessIdentity::self()
{
    static const ProcessIdentity identity{machineIdentity(), kNoBoot, kNoSpace,
                                          win::calls().GetCurrentProcessId(),
                                          creationTime(::GetCurrentProcess())};
    return identity;
}

std::optional<ProcessIdentity> ProcessIdentity::parsed(QByteArrayView text)
{
    const QList<QByteArray> parts = text.toByteArray().split('-');
    if (parts.size() != kParts || !isNumber(parts[3]) || !isNumber(parts[4])) {
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
    if (machine != self().machine) {
        return Life::Unknown;
    }
    if (pid <= 0 || pid > MAXDWORD) {
        return Life::Ended;
    }
    const HANDLE process =
        win::calls().OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) {
        // No process has the number; one that this user may not ask about may well live.
        return ::GetLastError() == ERROR_INVALID_PARAMETER ? Life::Ended : Life::Unknown;
    }
    DWORD status = 0;
    const bool running =
        win::calls().GetExitCodeProcess(process, &status) && status == STILL_ACTIVE;
    const QByteArray started = creationTime(process);
    win::calls().CloseHandle(process);
    if (started.isEmpty()) {
        return running ? Life::Unknown : Life::Ended;
    }
    return running && started == start ? Life::Lives : Life::Ended;
}

} // namespace posix
