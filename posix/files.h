#pragma once

#include "posix/descriptor.h"
#include "posix/error.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <optional>
#include <sys/stat.h>

// Paths, folders and files as the history and the lock use them. Names are bytes, as the file
// system keeps them; a function that gives a descriptor gives -1 with errno set when it fails.
namespace posix {

// A path's text as the bytes that this layer names files by: the file system's own on Linux,
// UTF-8 on Windows, whose own names are UTF-16. And back.
QByteArray encodedName(const QString& path);
QString decodedName(const QByteArray& name);

// A path split at its last separator: the folder ("/" for the root, "." for none) and the name.
struct PathParts {
    QByteArray folder;
    QByteArray name;
};
PathParts splitPath(const QByteArray& path);
// The path of the name in the folder: the other way round.
QByteArray joinedPath(const PathParts& parts);

// The file that path names once its links are followed (also when that file does not exist
// yet), as the file system names it.
struct ResolvedPath {
    QByteArray path;
    std::optional<Error> error; // a loop of links, or a link that cannot be read
};
ResolvedPath resolvedFile(const QByteArray& path);

// The name of a file kept beside the file name in the folder: '.' + name + tail. Where names
// with a tail of up to reserve bytes could pass the longest name the folder takes, name is cut to
// its beginning and a digest of the whole: whatever the name, the file can be made, and every
// program on the history finds it under the same name.
QByteArray besideName(int folder, const QByteArray& name, QByteArrayView tail, qsizetype reserve);

Descriptor openAt(int folder, const char* name, int flags, mode_t mode = 0);
// The folder, for the calls that name a file in it: however long the folder's own path, the
// file's is short.
Descriptor openFolder(const QByteArray& path);

// The names in a folder, without "." and ".."; none when it cannot be listed (a folder with
// write and search permission only hides its names).
QList<QByteArray> listFolder(int folder);

// Writes every byte, however many calls it takes; a write that stops short is an error.
std::optional<Error> writeAll(int fd, QByteArrayView bytes);

// Brings the folder's names to the storage: a new name or a rename is in the folder's memory only
// until then, and a power cut could undo it. A file system that cannot flush a folder (EINVAL
// and the like) writes it back itself: that is no error.
std::optional<Error> flushFolder(int folder);

bool sameFile(const struct stat& a, const struct stat& b);
// Whether the name in the folder still names the file open as fd.
bool stillNamed(int folder, const char* name, int fd);

// A file just made, fd, is given model's read and write bits and group, so that whoever may
// write model may use it and no one else; made by root (a sudo run), it becomes model's owner's
// too. Where the group cannot be given, the group gets no access.
std::optional<Error> madeLike(int fd, const struct stat& model);

// The first line of a small file of the system's, such as /proc/self/stat; empty when it
// cannot be read.
QByteArray firstLine(const char* path);

} // namespace posix
