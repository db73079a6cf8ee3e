#include "win/systemcalls.h"

#include <atomic>

namespace win {

namespace {

std::atomic<Watcher> gWatcher{nullptr};
SystemCalls gCalls;

} // namespace

void setWatcher(Watcher watcher)
{
    gWatcher.store(watcher, std::memory_order_relaxed);
}

DWORD watchedFailure(const char* call)
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

} // namespace win
