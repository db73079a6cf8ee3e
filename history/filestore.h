#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Whole-file reads and atomic whole-file replacements; failures come back with the system's reason.
namespace filestore {

struct ReadResult {
    QByteArray bytes;             // empty when the file does not exist
    std::optional<QString> error; // the system's reason when an existing file cannot be read
};

// Reads the whole file; a missing file is no error and is not created.
ReadResult readWhole(const QString& path);

// Writes the bytes to a temporary file in the same folder, flushes it to disk and renames it over
// the old file, which keeps its permissions. Never creates the folder. The reason on failure.
std::optional<QString> replaceAtomically(const QString& path, const QByteArray& bytes);

} // namespace filestore
