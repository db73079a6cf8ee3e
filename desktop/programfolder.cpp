#include "desktop/programfolder.h"

#include "posix/files.h"
#include "posix/systemcalls.h"
#ifdef _WIN32
#include "win/systemcalls.h"

#include <QDir>
#include <string>
#endif

#include <QFile>
#include <array>
#include <climits>

namespace desktop {

ProgramFolder folderOfExecutable(const QByteArray& executable)
{
    const qsizetype slash = executable.lastIndexOf('/');
    const QByteArray bytes = slash <= 0 ? QByteArray("/") : executable.left(slash);
    const QString path = posix::decodedName(bytes);
    // Text made from bytes that are not UTF-8 holds replacement characters in their place.
    return {bytes, path, posix::encodedName(path) == bytes};
}

#ifdef _WIN32
ProgramFolder programFolder(const QString& fallback)
{
    // The longest path that Windows has.
    constexpr DWORD kLongestPath = 32768;
    std::wstring name(kLongestPath, L'\0');
    const DWORD length = win::calls().GetModuleFileNameW(nullptr, name.data(), kLongestPath);
    if (length == 0 || length >= kLongestPath) {
        return {posix::encodedName(fallback), fallback, true};
    }
    return folderOfExecutable(
        QDir::fromNativeSeparators(QString::fromWCharArray(name.data(), static_cast<int>(length)))
            .toUtf8());
}
#else
ProgramFolder programFolder(const QString& fallback)
{
    std::array<char, PATH_MAX> name{};
    const ssize_t length = posix::calls().readlink("/proc/self/exe", name.data(), name.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= name.size()) {
        return {QFile::encodeName(fallback), fallback, true};
    }
    return folderOfExecutable(QByteArray(name.data(), length));
}

#endif

} // namespace desktop
