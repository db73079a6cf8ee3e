#pragma once

// The POSIX shapes that the history, the lock and the system layer are written in, for Windows,
// where the C library has only some of them: flags, errors and the structures that the Windows
// layer fills from what Windows tells of a file. Included only by posix/systemcalls.h.

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

// Flags that Windows has no use for, or that the Windows layer reads itself. Names on Windows
// are never links that an open follows, and no handle is inherited by a child unless asked.
#define O_NOFOLLOW 0x01000000
#define O_NONBLOCK 0x02000000
#define O_NOCTTY 0x04000000
#define O_CLOEXEC 0x08000000
#define O_DIRECTORY 0x10000000

#define AT_FDCWD (-100)
#define AT_SYMLINK_NOFOLLOW 0x100
#define AT_EMPTY_PATH 0x1000
#define AT_STATX_FORCE_SYNC 0x2000
#define STATX_TYPE 1U
#define STATX_SIZE 0x200U
#define MADV_HUGEPAGE 14

#ifndef NAME_MAX
#define NAME_MAX 255
#endif

#ifndef EDQUOT
#define EDQUOT 122 // a quota that is full, as Linux numbers it
#endif

#ifndef S_IFLNK
#define S_IFLNK 0120000
#endif
#ifndef S_ISLNK
#define S_ISLNK(mode) (((mode)&S_IFMT) == S_IFLNK)
#endif
#ifndef S_IRWXG
#define S_IRWXG 0070
#define S_IWGRP 0020
#endif

using uid_t = std::uint32_t;
using gid_t = std::uint32_t;

// What Windows tells of a file (GetFileInformationByHandle): the volume's serial number and the
// file's 64-bit index tell it apart, as a device and an inode do.
struct qelvo_stat {
    std::uint64_t st_dev;
    std::uint64_t st_ino;
    unsigned int st_mode;
    unsigned int st_nlink;
    uid_t st_uid;
    gid_t st_gid;
    std::int64_t st_size;
    struct timespec st_mtim;
    struct timespec st_ctim;
};
// The C library's own struct stat, with a 16-bit inode, is of no use here.
#define stat qelvo_stat

struct statx {
    std::uint32_t stx_mask;
    std::uint16_t stx_mode;
    std::uint64_t stx_size;
};

struct statfs {
    long f_namelen;
};

#define F_GETLK 5
#define F_SETLK 6
#define F_RDLCK 0
#define F_WRLCK 1
#define F_UNLCK 2
struct flock {
    short l_type;
    short l_whence;
    std::int64_t l_start;
    std::int64_t l_len;
    pid_t l_pid;
};
