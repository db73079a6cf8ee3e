#include "posix/systemcalls.h"

#include <atomic>

namespace posix {

namespace {

std::atomic<Watcher> gWatcher{nullptr};
#ifdef _WIN32
// The C library's time calls live in a DLL: their addresses are known only at load.
SystemCalls gCalls;
#else
constinit SystemCalls gCalls;
#endif

} // namespace

#ifndef _WIN32
int openFile(const char* path, int flags, mode_t mode)
{
    return ::open(path, flags, mode);
}

int openFileAt(int folder, const char* name, int flags, mode_t mode)
{
    return ::openat(folder, name, flags, mode);
}

int lockCommand(int fd, int command, struct flock* lock)
{
    return ::fcntl(fd, command, lock);
}

int resourceLimit(int resource, struct rlimit* limit)
{
    return ::getrlimit(static_cast<__rlimit_resource_t>(resource), limit);
}

int setResourceLimit(int resource, const struct rlimit* limit)
{
    return ::setrlimit(static_cast<__rlimit_resource_t>(resource), limit);
}

#endif

void setWatcher(Watcher watcher)
{
    gWatcher.store(watcher, std::memory_order_relaxed);
}

int watchedFailure(const char* call)
{
    const Watcher watcher = gWatcher.load(std::memory_order_relaxed);
    return watcher != nullptr ? watcher(call) : 0;
}

SystemCalls& calls()
{
    return gCalls;
}

void resetCalls()
{
    gCalls = SystemCalls{};
}

const SystemCalls& systemCalls()
{
    static const SystemCalls kSystem{};
    return kSystem;
}

} // namespace posix
