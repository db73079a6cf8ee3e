#include "posix/clock.h"

#include "posix/systemcalls.h"

#include <cerrno>

namespace posix {

std::chrono::steady_clock::time_point steadyNow()
{
    struct timespec now {};
    calls().clock_gettime(CLOCK_MONOTONIC, &now);
    return std::chrono::steady_clock::time_point(std::chrono::seconds(now.tv_sec) +
                                                 std::chrono::nanoseconds(now.tv_nsec));
}

qint64 wallSeconds()
{
    struct timespec now {};
    calls().clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
}

void sleepFor(std::chrono::milliseconds time)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(time);
    struct timespec left {
        seconds.count(), std::chrono::nanoseconds(time - seconds).count()
    };
    while (calls().nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

} // namespace posix
