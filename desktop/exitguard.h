#pragma once

#include <functional>

namespace desktop {

// Runs a last task when the program is ended by exit() from inside the event loop, which is how
// Qt and Xlib end it when the X server goes away (killed, crashed, a logout, xkill): no event, no
// close and no return from main() follow, but main()'s objects are still alive. The task runs
// once, before the objects made since the guard was armed are torn down, and the process then
// ends with the status it returns. One guard at a time.
class ExitGuard {
public:
    explicit ExitGuard(std::function<int()> task);
    // main() returns: nothing more to guard.
    ~ExitGuard();
    ExitGuard(const ExitGuard&) = delete;
    ExitGuard& operator=(const ExitGuard&) = delete;

    // Moves the task ahead of what exit() would tear down of the objects made since: call it
    // after making something the task relies on.
    void arm();
};

} // namespace desktop
