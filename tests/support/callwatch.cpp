#include "support/callwatch.h"

#include "posix/systemcalls.h"

#include <csignal>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Plan {
    QByteArray name; // empty: any call
    int left;        // calls until it applies, this one included; then 0, spent
    int error;       // 0: the process ends; kStop: it stops
    bool every;      // it applies to every call
    // Only the calls of the thread that made the plan count: a journal's flusher thread, which
    // runs when it likes, would make the count differ from run to run.
    std::thread::id thread;
};

// The flusher thread of a journal makes calls too.
std::mutex gLock;
QList<QByteArray> gCalls;
std::vector<Plan> gPlans;
bool gReached = false;

int watch(const char* call)
{
    const std::lock_guard guard(gLock);
    gCalls << QByteArray(call);
    for (Plan& plan : gPlans) {
        if (plan.thread != std::this_thread::get_id() ||
            (!plan.name.isEmpty() && plan.name != call) ||
            (!plan.every && (plan.left == 0 || --plan.left > 0))) {
            continue;
        }
        gReached = gReached || !plan.every;
        if (plan.error == 0) {
            std::raise(SIGKILL);
        }
        if (plan.error == CallWatch::kStop) {
            std::raise(SIGSTOP);
            return 0;
        }
        return plan.error;
    }
    return 0;
}

} // namespace

CallWatch::CallWatch()
{
    const std::lock_guard guard(gLock);
    gCalls.clear();
    gPlans.clear();
    gReached = false;
    posix::setWatcher(watch);
}

CallWatch::~CallWatch()
{
    posix::setWatcher(nullptr);
}

void CallWatch::failAt(int nth, int error, const QByteArray& name)
{
    const std::lock_guard guard(gLock);
    gCalls.clear();
    gPlans.push_back({name, nth, error, nth == 0, std::this_thread::get_id()});
}

QList<QByteArray> CallWatch::calls() const
{
    const std::lock_guard guard(gLock);
    return gCalls;
}

bool CallWatch::reached() const
{
    const std::lock_guard guard(gLock);
    return gReached;
}
