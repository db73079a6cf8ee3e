// What the single-instance lock is on both systems: the lock file's name beside the history, and
// why a start runs without it.
#include "desktop/singleinstance.h"
#include "posix/files.h"

namespace desktop {

namespace {

constexpr QByteArrayView kLockTail = ".lock";

} // namespace

QByteArray SingleInstance::lockFile(const QByteArray& historyFile)
{
    const posix::PathParts history = posix::splitPath(historyFile);
    const posix::Descriptor folder = posix::openFolder(history.folder);
    return posix::joinedPath({history.folder, posix::besideName(folder.get(), history.name,
                                                                kLockTail, kLockTail.size())});
}

std::optional<LockProblem> SingleInstance::problem() const
{
    return mProblem;
}

} // namespace desktop
