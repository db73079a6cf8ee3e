#include "desktop/resources.h"

#include "posix/files.h"
#include "posix/systemcalls.h"

#include <algorithm>

namespace desktop {

namespace {

using posix::calls;

// The descriptors open now; those that the program started with count too.
long openDescriptors()
{
    const posix::Descriptor listed = posix::openFolder("/proc/self/fd");
    const qsizetype open = listed.isOpen() ? posix::listFolder(listed.get()).size() : 0;
    // The listing's own two are closed again. Without /proc, only the standard streams count.
    return open > 2 ? static_cast<long>(open) - 2 : 3;
}

void* nothing(void* /*argument*/)
{
    return nullptr;
}

} // namespace

std::optional<MissingResource> missingResource()
{
    struct rlimit limit {};
    if (calls().getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        const long open = openDescriptors();
        const auto wanted = static_cast<rlim_t>(open + kSpareDescriptors);
        struct rlimit raised = limit;
        raised.rlim_cur = std::min(wanted, limit.rlim_max);
        if (limit.rlim_cur < wanted && calls().setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            limit = raised;
        }
        if (limit.rlim_cur < wanted) {
            return MissingResource{MissingResource::Kind::Descriptors,
                                   static_cast<long>(limit.rlim_cur) - open, 0};
        }
    }
    pthread_t thread{};
    if (const int failed = calls().pthread_create(&thread, nullptr, nothing, nullptr);
        failed != 0) {
        return MissingResource{MissingResource::Kind::Threads, 0, failed < 0 ? errno : failed};
    }
    pthread_join(thread, nullptr);
    return std::nullopt;
}

} // namespace desktop
