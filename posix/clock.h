#pragma once

#include <QtGlobal>
#include <chrono>
#include <functional>

// Time as the waits and the locks see it, through the table of system calls, so that a test can
// let it pass without sleeping or set the clock ahead.
namespace posix {

// A clock that never goes back, for deadlines.
std::chrono::steady_clock::time_point steadyNow();
// The wall clock, in whole seconds since 1970, as files are dated.
qint64 wallSeconds();
// Lets the time pass, however often a signal interrupts it.
void sleepFor(std::chrono::milliseconds time);

// How the time passes while a wait waits: by default it sleeps; the window gives one that keeps
// its events running. None: sleep again. Gives the one it replaces.
using Pause = std::function<void(std::chrono::milliseconds)>;
Pause setPause(Pause pause);

// Every timed wait of the program, one way: asks done() until it says so, at most timeout long,
// step by step through the pause in use, on the table's clock, so that a test world lets any of
// them pass at once. Whether done() said so.
bool waitFor(std::chrono::milliseconds timeout, std::chrono::milliseconds step,
             const std::function<bool()>& done);

} // namespace posix
