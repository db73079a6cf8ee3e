#include "desktop/exitguard.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace desktop {

namespace {

std::function<int()>* gTask = nullptr;

// exit() runs its handlers and the destructors of static objects in the reverse order of their
// registration: registered again, the task runs before what was made in between.
void runTask()
{
    if (gTask == nullptr) {
        return;
    }
    std::function<int()> task = std::exchange(*gTask, {});
    gTask = nullptr;
    const int status = task();
    std::fflush(stdout);
    std::fflush(stderr);
    // The toolkit's own teardown, with its display gone, is skipped.
    std::_Exit(status);
}

} // namespace

ExitGuard::ExitGuard(std::function<int()> task)
{
    static std::function<int()> held;
    held = std::move(task);
    gTask = &held;
    arm();
}

ExitGuard::~ExitGuard()
{
    gTask = nullptr;
}

void ExitGuard::arm()
{
    if (gTask != nullptr) {
        std::atexit(runTask);
    }
}

} // namespace desktop
