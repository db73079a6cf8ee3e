#pragma once

#include "posix/descriptor.h"
#include "posix/error.h"

#include <functional>
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
// The same for a file that this user cannot open, from the kernel's table of locks, which lists
// them by device and inode. It shows the locks of the processes of this PID namespace only.
LockHolder tableLockHolder(const struct stat& file);

// Takes a stale file out of its place, the one helper of both takeovers (the lock file and the save
// lock): the file at name goes to aside, in one step with the file at aside when swap is set
// (RENAME_EXCHANGE, so that the name is never missing), else by a rename. Then isStale is asked
// whether the file now at aside is the one judged stale; when another process put its own in the
// place meanwhile, that goes back.
struct MovedAside {
    // What stands at aside now: the stale file; what stood there before (nothing, or the
    // caller's new file); or another process's file that could not go back (error tells why).
    enum class At { Stale, Before, Other };
    At at = At::Before;
    std::optional<Error> error; // none only with Stale; EAGAIN: look again
};
MovedAside moveStaleAside(int folder, const char* name, const char* aside, bool swap,
                          const std::function<bool()>& isStale);

// Puts a new file, made like model (see madeLike) and locked by this process, in the place of
// stale: a file at name that no one holds a lock on, swapped with moveStaleAside. The new file;
// none, with the reason, when it cannot be (EAGAIN: the place changed meanwhile).
struct Replaced {
    Descriptor fd;
    std::optional<Error> error;
};
Replaced replaceStale(int folder, const char* name, const struct stat& stale,
                      const struct stat* model);

} // namespace posix
