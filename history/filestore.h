#pragma once

#include "posix/error.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

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

struct ReadResult {
    QByteArray bytes;                  // empty when the file does not exist
    std::optional<posix::Error> error; // when an existing file cannot be read
};

// Reads the whole file; a missing file is no error and is not created. Only a regular file (or
// a link to one) of at most kMaxFileSize bytes is read; a FIFO or a device is refused unopened
// for reading, so nothing can block or fill the memory.
ReadResult readWhole(const QString& path);
// The same for a file open as fd, from where it stands.
ReadResult readOpen(int fd);

// Changes the file under its save lock (see SaveLock): change is given the file as it is once
// no one else writes it, and gives its new bytes, or nothing to leave it as it is. Every byte is
// written to the new file, flushed to disk, beforeReplace is told, and the new file takes the old
// one's place, if the lock is still this writer's and the file still what change was given (else
// it all begins again, so change and beforeReplace may be told more than once); with its owner,
// permissions, access list and extended attributes; a link stays a link and the file it names is
// replaced. When any byte or attribute cannot be written, nothing is replaced and the old file
// stays byte for byte. change is asked first without the lock, so that a change that writes nothing
// takes no lock, and again under it only when the file changed meanwhile. Never creates the folder.
// Error kinds: Busy, another program's save kept its lock (named in the error); TakenOver, another
// program took the lock over or replaced the file each time; Unflushed, replaced, but the folder
// could not be flushed.
using Change = std::function<std::optional<QByteArray>(const ReadResult& current)>;
std::optional<posix::Error> update(const QString& path, const Change& change,
                                   const std::function<void()>& beforeReplace = {});

// Takes away what saves of programs that have ended left beside the file (see SaveLock::tidy):
// a start calls it, so that nothing of a save cut short stays until the next save.
void tidy(const QString& path);

// Puts bytes in the place of the file's, as update() does.
std::optional<posix::Error> replaceAtomically(const QString& path, const QByteArray& bytes);

} // namespace filestore
