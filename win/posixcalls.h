#pragma once

#include "win/compat.h"

#include <QByteArray>
#include <string>
#include <windows.h>

// The POSIX calls that the history, the lock and the system layer are written in, made of Windows
// calls (win/systemcalls.h), so that one fenced save, one journal and one lock serve both
// systems. Names are UTF-8 bytes, as Windows' UTF-16 names go over into them, and reach Windows
// as long paths (\\?\), so that no folder is too deep. A descriptor is the program's own number
// for a Windows handle, opened with every share mode: a file may be renamed or removed while
// another program has it open, as on Linux.
// A folder's entry as getdents64 gives it.
struct dirent64 {
    std::uint64_t d_ino;
    std::int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[256];
};

namespace win {

// The error number that a Windows error stands for.
int errnoOf(DWORD error);
// The long form of a path (\\?\C:\..., \\?\UNC\server\share\...) that Windows takes however long
// it is, from a path that names it in any form: relative, with '/' or '\'.
std::wstring longPath(const QByteArray& path);

int open(const char* path, int flags, mode_t mode);
int openat(int folder, const char* name, int flags, mode_t mode);
int close(int fd);
ssize_t read(int fd, void* buffer, size_t size);
ssize_t write(int fd, const void* bytes, size_t size);
int fsync(int fd);
int fstat(int fd, struct stat* status);
int fstatat(int folder, const char* name, struct stat* status, int flags);
int statx(int fd, const char* name, int flags, unsigned int mask, struct statx* status);
int fstatfs(int fd, struct statfs* system);
int access(const char* path, int mode);
ssize_t readlink(const char* path, char* buffer, size_t size);
ssize_t getdents64(int fd, void* buffer, size_t size);
int mkdir(const char* path, mode_t mode);
int renameat(int fromFolder, const char* from, int toFolder, const char* to);
int unlinkat(int folder, const char* name, int flags);
int fchmod(int fd, mode_t mode);
int fchown(int fd, uid_t owner, gid_t group);
int fcntl(int fd, int command, struct flock* lock);
int madvise(void* start, size_t size, int advice);
ssize_t flistxattr(int fd, char* list, size_t size);
ssize_t llistxattr(const char* path, char* list, size_t size);
ssize_t lgetxattr(const char* path, const char* name, void* value, size_t size);
int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags);
int fremovexattr(int fd, const char* name);
pid_t getpid();
uid_t geteuid();

// The handle that the descriptor stands for; INVALID_HANDLE_VALUE for none.
HANDLE handleOf(int fd);

} // namespace win
