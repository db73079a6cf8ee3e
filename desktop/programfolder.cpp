#include "desktop/programfolder.h"

#include "posix/systemcalls.h"

#include <QFile>
#include <array>
#include <climits>

namespace desktop {

ProgramFolder folderOfExecutable(const QByteArray& executable)
{
    const qsizetype slash = executable.lastIndexOf('/');
    const QByteArray bytes = slash <= 0 ? QByteArray("/") : executable.left(slash);
    const QString path = QFile::decodeName(bytes);
    // Text made from bytes that are not UTF-8 holds replacement characters in their place.
    return {bytes, path, QFile::encodeName(path) == bytes};
}

ProgramFolder programFolder(const QString& fallback)
{
    std::array<char, PATH_MAX> name{};
    const ssize_t length = posix::calls().readlink("/proc/self/exe", name.data(), name.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= name.size()) {
        return {QFile::encodeName(fallback), fallback, true};
    }
    return folderOfExecutable(QByteArray(name.data(), length));
}

} // namespace desktop
