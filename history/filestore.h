#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <sys/types.h>

// Whole-file reads and atomic whole-file replacements of regular files; a failure comes back as
// the reason, never as a file cut short.
//
// Not QSaveFile: below about 16 KB it buffers the writes, and when the flush inside commit()
// fails (a full disk) it still renames the short file over the old one and reports success
// (QTBUG-75077, seen with Qt 6.4). It also drops the old file's extended attributes and access
// list.
namespace filestore {

// The largest file read: a full history with the longest values is under 9 MB, and a larger
// file (or an endless one behind a link) is refused before it takes the memory. No file larger
// than this is ever written either, so that every file written can be read back.
inline constexpr qsizetype kMaxFileSize = qsizetype{16} * 1024 * 1024;

// Why a file could not be read or replaced.
struct FileError {
    enum class Kind { System, NotRegularFile, TooLarge };
    Kind kind = Kind::System;
    int code = 0; // the system's error number, for Kind::System
};

struct ReadResult {
    QByteArray bytes;               // empty when the file does not exist
    std::optional<FileError> error; // when an existing file cannot be read
};

// Reads the whole file; a missing file is no error and is not created. Only a regular file (or
// a link to one) of at most kMaxFileSize bytes is read; a FIFO or a device is refused unopened
// for reading, so nothing can block or fill the memory.
ReadResult readWhole(const QString& path);

// Writes every byte to a new file in the same folder, flushes it to disk and renames it over the
// old one, whose owner, permissions, access list and extended attributes it takes over; a link
// stays a link and the file it names is replaced. When any byte or attribute cannot be written,
// nothing is renamed and the old file stays byte for byte. Never creates the folder.
//
// The new file has no name until it is complete; a kill in the instant between naming and
// renaming leaves it as ".NAME.saving", which the next replacement removes. What it cannot
// remove (a folder of that name, an append-only folder) only makes it use another name.
std::optional<FileError> replaceAtomically(const QString& path, const QByteArray& bytes);

// The file that a replacement of path writes: path itself, or the file its links lead to (also
// when that file does not exist yet), as the file system names it.
struct ResolvedPath {
    QByteArray path;
    std::optional<FileError> error; // a loop of links, or a link that cannot be read
};
ResolvedPath resolvedFile(const QByteArray& path);

// A path split at its last separator: the folder ("/" for the root, "." for none) and the name.
struct PathParts {
    QByteArray folder;
    QByteArray name;
};
PathParts splitPath(const QByteArray& path);

// The system calls through which the file store changes the disk. It calls them only through
// this table, so that a test can make any one of them fail, as SQLite's Unix VFS lets its
// system calls be replaced.
struct SystemCalls {
    int (*openat)(int folder, const char* name, int flags, mode_t mode);
    ssize_t (*write)(int fd, const void* data, size_t size);
    int (*fdatasync)(int fd);
    int (*fsync)(int fd);
    int (*linkat)(int fromFolder, const char* from, int toFolder, const char* to, int flags);
    int (*renameat)(int fromFolder, const char* from, int toFolder, const char* to);
    int (*fsetxattr)(int fd, const char* name, const void* value, size_t size, int flags);
};
// The table in use, which a test may change and must restore.
SystemCalls& systemCalls();

} // namespace filestore
