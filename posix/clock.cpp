#include "posix/clock.h"

#include "posix/systemcalls.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace posix {

namespace {

Pause& pause()
{
    static Pause pause = sleepFor;
    return pause;
}

} // namespace

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
        static_cast<time_t>(seconds.count()),
            static_cast<long>(std::chrono::nanoseconds(time - seconds).count())
    };
    while (calls().nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

Pause setPause(Pause pause)
{
    return std::exchange(posix::pause(), pause ? std::move(pause) : sleepFor);
}

bool waitFor(std::chrono::milliseconds timeout, std::chrono::milliseconds step,
             const std::function<bool()>& done)
{
    const auto deadline = steadyNow() + timeout;
    // The steps count too: a clock that cannot be read does not make the wait endless.
    for (std::chrono::milliseconds waited{0}; !done(); waited += step) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steadyNow());
        if (left <= std::chrono::milliseconds::zero() || waited >= timeout) {
            return false;
        }
        // A copy: the pause may put another in its place.
        const Pause now = pause();
        now(std::min(step, left));
    }
    return true;
}

} // namespace posix
