#include "support/world.h"

#include "posix/systemcalls.h"

#include <QFile>
#include <QList>
#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using posix::systemCalls;

std::atomic<std::chrono::nanoseconds::rep> gSlept{0};
std::atomic<std::chrono::seconds::rep> gAhead{0};
std::atomic<ino_t> gNextInode{1U << 30U};
// The descriptor whose size was told as remembered, and that size.
std::atomic<int> gRemembered{-1};
std::atomic<off_t> gRememberedSize{0};

std::atomic<bool> gStill{false};
std::function<void()> gHappening;

// The monotonic clock stands still but for the naps; the wall clock runs gAhead seconds ahead.
int clock(clockid_t which, struct timespec* now)
{
    const int result = systemCalls().clock_gettime(which, now);
    if (which == CLOCK_REALTIME) {
        now->tv_sec += static_cast<time_t>(gAhead.load());
    } else if (gStill) {
        *now = {static_cast<time_t>(gSlept / 1000000000), static_cast<long>(gSlept % 1000000000)};
    }
    return result;
}

int nap(const struct timespec* time, struct timespec* left)
{
    if (gHappening) {
        gHappening();
    }
    gSlept += time->tv_sec * 1000000000 + time->tv_nsec;
    if (left != nullptr) {
        *left = {};
    }
    return 0;
}

void ownInode(struct stat* status)
{
    status->st_ino = gNextInode++;
    status->st_nlink = 1;
}

} // namespace

World::~World()
{
    posix::resetCalls();
    gSlept = 0;
    gAhead = 0;
    gStill = false;
    gHappening = nullptr;
}

void World::stillTime()
{
    gStill = true;
    posix::calls().clock_gettime.function = clock;
    posix::calls().nanosleep.function = nap;
}

void World::onNap(std::function<void()> happening)
{
    gHappening = std::move(happening);
}

std::chrono::milliseconds World::slept() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::nanoseconds(gSlept.load()));
}

void World::clockAhead(std::chrono::seconds ahead)
{
    gAhead = ahead.count();
    posix::calls().clock_gettime.function = clock;
}

void World::inodePerName()
{
    posix::calls().fstat.function = [](int fd, struct stat* status) {
        const int result = systemCalls().fstat(fd, status);
        ownInode(status);
        return result;
    };
    posix::calls().fstatat.function = [](int at, const char* name, struct stat* status, int flags) {
        const int result = systemCalls().fstatat(at, name, status, flags);
        ownInode(status);
        return result;
    };
}

void World::takenNameRefused()
{
    posix::calls().openat.function = [](int at, const char* name, int flags, mode_t mode) {
        const int fd = systemCalls().openat(at, name, flags, mode);
        if (fd < 0 && errno == EEXIST && (flags & O_EXCL) != 0) {
            errno = EPERM;
        }
        return fd;
    };
}

void World::hiddenProcesses()
{
    posix::calls().open.function = [](const char* path, int flags, mode_t mode) {
        // /proc/PID/... of any other process.
        const QByteArrayView name(path);
        const QByteArray own = "/proc/" + QByteArray::number(::getpid()) + '/';
        if (name.startsWith("/proc/") && name.size() > 6 && name[6] >= '0' && name[6] <= '9' &&
            !name.startsWith(own)) {
            errno = ENOENT;
            return -1;
        }
        return systemCalls().open(path, flags, mode);
    };
}

void World::sizesRemembered()
{
    posix::calls().statx.function = [](int at, const char* path, int flags, unsigned int mask,
                                       struct statx* status) {
        const int result = systemCalls().statx(at, path, flags, mask, status);
        if (result == 0 && (flags & AT_STATX_FORCE_SYNC) == 0 && S_ISREG(status->stx_mode)) {
            status->stx_size /= 2;
            gRememberedSize = static_cast<off_t>(status->stx_size);
            gRemembered = at;
        }
        return result;
    };
    posix::calls().read.function = [](int fd, void* into, size_t size) -> ssize_t {
        if (fd == gRemembered) {
            const off_t at = ::lseek(fd, 0, SEEK_CUR);
            size = std::min<size_t>(size,
                                    static_cast<size_t>(std::max<off_t>(gRememberedSize - at, 0)));
        }
        return systemCalls().read(fd, into, size);
    };
}

void World::folderFlushFails()
{
    posix::calls().fsync.function = [](int fd) {
        struct stat status {};
        if (systemCalls().fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
            errno = EIO;
            return -1;
        }
        return systemCalls().fsync(fd);
    };
}

QByteArray startOf(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2).split(' ').value(19);
}
