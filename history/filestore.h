#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Whole-file reads and atomic whole-file replacements of regular files; a failure comes back as
// the reason, never as a file cut short.
namespace filestore {

// The largest file read: a full history with the longest values is under 9 MB, and a larger
// file (or an endless one behind a link) is refused before it takes the memory.
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
// old one, which keeps its permissions; a link stays a link and the file it names is replaced.
// When any byte cannot be written, nothing is renamed and the old file stays byte for byte.
// Never creates the folder. The new file has no name until it is complete; a kill in the instant
// between naming and renaming leaves it as ".NAME.saving", which the next replacement removes.
std::optional<FileError> replaceAtomically(const QString& path, const QByteArray& bytes);

} // namespace filestore
