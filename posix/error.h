#pragma once

#include <QByteArray>
#include <cerrno>

namespace posix {

// Why a file could not be used: the system's error number, or what is wrong with the file.
struct Error {
    // NotRegularFile: a folder, a FIFO or a device where a file is read or written.
    // TooLarge: larger than the program reads or writes.
    // LockNamesTaken: every name of a file's save lock holds something that is no lock.
    // Busy: another program's save lock stayed in place while this one waited.
    // TakenOver: another program took this save's lock over, each time it was tried.
    // Unflushed: a file was replaced, but the folder could not be flushed (code says why): a
    // power cut may still bring the old one back.
    enum class Kind {
        System,
        NotRegularFile,
        TooLarge,
        LockNamesTaken,
        Busy,
        TakenOver,
        Unflushed
    };
    Kind kind = Kind::System;
    int code = 0;         // the system's error number, for Kind::System
    QByteArray file = {}; // the save lock that it is about (LockNamesTaken, Busy)
};

// The error of the call that has just failed, or of the number given.
inline Error systemError(int code = errno)
{
    return {Error::Kind::System, code};
}

} // namespace posix
