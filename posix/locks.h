#pragma once

#include "posix/descriptor.h"
#include "posix/error.h"

#include <optional>
#include <sys/stat.h>
#include <sys/types.h>

// POSIX record locks over whole files. The system drops a process's locks when it ends in any
// way, so a lock never outlives its holder.
namespace posix {

// Takes a write lock on the file open as fd, without waiting.
std::optional<Error> lockWhole(int fd);

// Who holds a write lock on the file: a process, or no one.
struct LockHolder {
    std::optional<pid_t> pid;
    std::optional<Error> error; // it could not be asked
};
LockHolder lockHolder(int fd);
#ifndef _WIN32
// The same for a file that this user cannot open, from the kernel's table of locks, which lists
// them by device and inode. It shows the locks of the processes of this PID namespace only.
LockHolder tableLockHolder(const struct stat& file);

// Puts a new file, made like model (see madeLike) and locked by this process, in the place of
// stale: a file at name that no one holds a lock on, swapped with it in one step (RENAME_EXCHANGE),
// so that the name is never missing; a file that another process put in the place meanwhile goes
// back. The new file; none, with the reason, when it cannot be (EAGAIN: the place changed).
struct Replaced {
    Descriptor fd;
    std::optional<Error> error;
};
Replaced replaceStale(int folder, const char* name, const struct stat& stale,
                      const struct stat* model);
#endif

} // namespace posix
