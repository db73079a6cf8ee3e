#pragma once

#ifdef _WIN32
#include "win/posixcalls.h"
#else
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>
#endif

// Every system call that the history, desktop and print layers make, in one table, as SQLite's
// Unix layer keeps its own: a test can replace any call, or watch them all, to count them, make
// one fail or end the process at the n-th. Nothing above this folder calls the system directly;
// the libraries below it (Qt, CUPS, iconv) make their own.
namespace posix {

// Sees each call before it is made, by name; a result other than 0 makes the call fail with that
// error number instead. Tests only: in the program nothing watches.
using Watcher = int (*)(const char* call);
void setWatcher(Watcher watcher);
// The watcher's verdict on the call about to be made.
int watchedFailure(const char* call);

// One entry of the table: the call's name, and the function that the call is made with.
template <typename Signature> struct Call;
template <typename Result, typename... Arguments> struct Call<Result(Arguments...)> {
    const char* name;
    Result (*function)(Arguments...);

    Result operator()(Arguments... arguments) const
    {
        if (const int code = watchedFailure(name); code != 0) {
            errno = code;
            return static_cast<Result>(-1);
        }
        return function(arguments...);
    }
};

#ifdef _WIN32
// On Windows each call is made of Windows calls (win/posixcalls.h); the calls that only the Linux
// desktop and print system make are not there.
struct SystemCalls {
    // Files and folders.
    Call<int(const char*, int, mode_t)> open{"open", win::open};
    Call<int(int, const char*, int, mode_t)> openat{"openat", win::openat};
    Call<int(int)> close{"close", win::close};
    Call<ssize_t(int, void*, size_t)> read{"read", win::read};
    Call<ssize_t(int, const void*, size_t)> write{"write", win::write};
    Call<int(int)> fsync{"fsync", win::fsync};
    Call<int(int)> fdatasync{"fdatasync", win::fsync};
    Call<int(int, struct stat*)> fstat{"fstat", win::fstat};
    Call<int(int, const char*, int, unsigned int, struct statx*)> statx{"statx", win::statx};
    Call<int(int, const char*, struct stat*, int)> fstatat{"fstatat", win::fstatat};
    Call<int(int, struct statfs*)> fstatfs{"fstatfs", win::fstatfs};
    Call<int(const char*, int)> access{"access", win::access};
    Call<ssize_t(const char*, char*, size_t)> readlink{"readlink", win::readlink};
    Call<ssize_t(int, void*, size_t)> getdents64{"getdents64", win::getdents64};
    Call<int(const char*, mode_t)> mkdir{"mkdir", win::mkdir};
    Call<int(int, const char*, int, const char*)> renameat{"renameat", win::renameat};
    Call<int(int, const char*, int)> unlinkat{"unlinkat", win::unlinkat};
    Call<int(int, mode_t)> fchmod{"fchmod", win::fchmod};
    Call<int(int, uid_t, gid_t)> fchown{"fchown", win::fchown};
    // Record locks only: F_GETLK, F_SETLK.
    Call<int(int, int, struct flock*)> fcntl{"fcntl", win::fcntl};
    Call<int(void*, size_t, int)> madvise{"madvise", win::madvise};
    // Extended attributes: Windows keeps none that the program copies.
    Call<ssize_t(int, char*, size_t)> flistxattr{"flistxattr", win::flistxattr};
    Call<ssize_t(const char*, char*, size_t)> llistxattr{"llistxattr", win::llistxattr};
    Call<ssize_t(const char*, const char*, void*, size_t)> lgetxattr{"lgetxattr", win::lgetxattr};
    Call<int(int, const char*, const void*, size_t, int)> fsetxattr{"fsetxattr", win::fsetxattr};
    Call<int(int, const char*)> fremovexattr{"fremovexattr", win::fremovexattr};
    // Who runs.
    Call<pid_t()> getpid{"getpid", win::getpid};
    Call<uid_t()> geteuid{"geteuid", win::geteuid};
    // Time: a test lets it pass without sleeping, or sets the clock ahead.
    Call<int(clockid_t, struct timespec*)> clock_gettime{"clock_gettime", ::clock_gettime};
    Call<int(const struct timespec*, struct timespec*)> nanosleep{"nanosleep", ::nanosleep};
};
#else
// The C library declares these with a variable list of arguments: the table holds them with the
// arguments that this program passes.
int openFile(const char* path, int flags, mode_t mode);
int openFileAt(int folder, const char* name, int flags, mode_t mode);
int lockCommand(int fd, int command, struct flock* lock);
// The C library declares these with its own type for the resource.
int resourceLimit(int resource, struct rlimit* limit);
int setResourceLimit(int resource, const struct rlimit* limit);

struct SystemCalls {
    // Files and folders.
    Call<int(const char*, int, mode_t)> open{"open", openFile};
    Call<int(int, const char*, int, mode_t)> openat{"openat", openFileAt};
    Call<int(int)> close{"close", ::close};
    Call<ssize_t(int, void*, size_t)> read{"read", ::read};
    Call<ssize_t(int, const void*, size_t)> write{"write", ::write};
    Call<int(int)> fsync{"fsync", ::fsync};
    Call<int(int)> fdatasync{"fdatasync", ::fdatasync};
    Call<int(int, struct stat*)> fstat{"fstat", ::fstat};
    Call<int(int, const char*, int, unsigned int, struct statx*)> statx{"statx", ::statx};
    Call<int(int, const char*, struct stat*, int)> fstatat{"fstatat", ::fstatat};
    Call<int(int, struct statfs*)> fstatfs{"fstatfs", ::fstatfs};
    Call<int(const char*, int)> access{"access", ::access};
    Call<ssize_t(const char*, char*, size_t)> readlink{"readlink", ::readlink};
    Call<ssize_t(int, void*, size_t)> getdents64{"getdents64", ::getdents64};
    Call<int(const char*, mode_t)> mkdir{"mkdir", ::mkdir};
    Call<int(int, const char*, int, const char*)> renameat{"renameat", ::renameat};
    Call<int(int, const char*, int, const char*, unsigned int)> renameat2{"renameat2", ::renameat2};
    Call<int(int, const char*, int)> unlinkat{"unlinkat", ::unlinkat};
    Call<int(int, mode_t)> fchmod{"fchmod", ::fchmod};
    Call<int(int, uid_t, gid_t)> fchown{"fchown", ::fchown};
    // Record locks only: F_GETLK, F_SETLK.
    Call<int(int, int, struct flock*)> fcntl{"fcntl", lockCommand};
    Call<int(void*, size_t, int)> madvise{"madvise", ::madvise};
    // Extended attributes, the access list among them.
    Call<ssize_t(int, char*, size_t)> flistxattr{"flistxattr", ::flistxattr};
    Call<ssize_t(const char*, char*, size_t)> llistxattr{"llistxattr", ::llistxattr};
    Call<ssize_t(const char*, const char*, void*, size_t)> lgetxattr{"lgetxattr", ::lgetxattr};
    Call<int(int, const char*, const void*, size_t, int)> fsetxattr{"fsetxattr", ::fsetxattr};
    Call<int(int, const char*)> fremovexattr{"fremovexattr", ::fremovexattr};
    // Pipes, sockets and signals.
    Call<int(int*, int)> pipe2{"pipe2", ::pipe2};
    Call<int(int, int, int)> socket{"socket", ::socket};
    Call<int(int, int, int, int*)> socketpair{"socketpair", ::socketpair};
    Call<int(int, const sockaddr*, socklen_t)> connect{"connect", ::connect};
    Call<int(int, const sockaddr*, socklen_t)> bind{"bind", ::bind};
    Call<int(int, int)> listen{"listen", ::listen};
    Call<int(int, sockaddr*, socklen_t*, int)> accept4{"accept4", ::accept4};
    Call<ssize_t(int, const void*, size_t, int)> send{"send", ::send};
    Call<ssize_t(int, void*, size_t, int)> recv{"recv", ::recv};
    Call<int(pollfd*, nfds_t, int)> poll{"poll", ::poll};
    Call<int(int, const struct sigaction*, struct sigaction*)> sigaction{"sigaction", ::sigaction};
    // What the process may have: descriptors, threads.
    Call<int(int, struct rlimit*)> getrlimit{"getrlimit", resourceLimit};
    Call<int(int, const struct rlimit*)> setrlimit{"setrlimit", setResourceLimit};
    Call<int(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)> pthread_create{
        "pthread_create", ::pthread_create};
    // Who runs, and whether a process lives.
    Call<pid_t()> getpid{"getpid", ::getpid};
    Call<int(pid_t, int)> kill{"kill", ::kill};
    Call<uid_t()> getuid{"getuid", ::getuid};
    Call<uid_t()> geteuid{"geteuid", ::geteuid};
    Call<int(char*, size_t)> gethostname{"gethostname", ::gethostname};
    // Time: a test lets it pass without sleeping, or sets the clock ahead.
    Call<int(clockid_t, struct timespec*)> clock_gettime{"clock_gettime", ::clock_gettime};
    Call<int(const struct timespec*, struct timespec*)> nanosleep{"nanosleep", ::nanosleep};
};
#endif

// The table in use. A test may change an entry's function; resetCalls() puts every entry back.
SystemCalls& calls();
void resetCalls();
// The system's own calls, for a replacement that passes a call on.
const SystemCalls& systemCalls();

} // namespace posix
