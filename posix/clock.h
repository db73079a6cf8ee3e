#pragma once

#include <QtGlobal>
#include <chrono>

// Time as the waits and the ages of locks see it, through the table of system calls, so that a
// test can let it pass without sleeping or set the clock ahead.
namespace posix {

// A clock that never goes back, for deadlines.
std::chrono::steady_clock::time_point steadyNow();
// The wall clock, in whole seconds since 1970, as files are dated.
qint64 wallSeconds();
// Lets the time pass, however often a signal interrupts it.
void sleepFor(std::chrono::milliseconds time);

} // namespace posix
