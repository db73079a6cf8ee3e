#include "desktop/resources.h"

#include "posix/files.h"
#include "posix/systemcalls.h"

#include <algorithm>

namespace desktop {

namespace {

using posix::calls;

// The descriptors open now, those that the program started with too, under the limit given. With
// none left to list them with, all count as open; without /proc, only the standard streams.
long openDescriptors(rlim_t limit)
{
    const posix::Descriptor listed = posix::openFolder("/proc/self/fd");
    if (!listed.isOpen()) {
        return errno == ENOENT ? 3 : static_cast<long>(limit);
    }
    // The listing's own two are closed again.
    const QList<QByteArray> open = posix::listFolder(listed.get());
    return open.isEmpty() ? static_cast<long>(limit) : static_cast<long>(open.size()) - 2;
}

// Raises the limit of descriptors as far as the program needs, where it may; what is missing,
// if anything. Counted again once raised: right at the limit, the count has no descriptor left.
std::optional<MissingResource> missingDescriptors()
{
    struct rlimit limit {};
    if (calls().getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return std::nullopt;
    }
    for (;;) {
        const long open = openDescriptors(limit.rlim_cur);
        const auto wanted = static_cast<rlim_t>(open + kSpareDescriptors);
        struct rlimit raised = limit;
        raised.rlim_cur = std::min(wanted, limit.rlim_max);
        if (limit.rlim_cur >= wanted) {
            return std::nullopt;
        }
        if (raised.rlim_cur <= limit.rlim_cur || calls().setrlimit(RLIMIT_NOFILE, &raised) != 0) {
            return MissingResource{MissingResource::Kind::Descriptors,
                                   static_cast<long>(limit.rlim_cur) - open, 0};
        }
        limit = raised;
    }
}

void* nothing(void* /*argument*/)
{
    return nullptr;
}

} // namespace

std::optional<MissingResource> missingResource()
{
    if (std::optional<MissingResource> missing = missingDescriptors()) {
        return missing;
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
