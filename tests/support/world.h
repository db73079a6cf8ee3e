#pragma once

#include <QByteArray>
#include <chrono>
#include <functional>
#include <sys/types.h>

// The world that a row of a promise table sets up through the table of system calls: the file
// systems, processes and clocks that the README's promises are about. Every call goes back to
// the system's own when the world goes. One world at a time.
class World {
public:
    World() = default;
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // Time passes only while the program sleeps, at once and by as much; slept() tells how much.
    void stillTime();
    [[nodiscard]] std::chrono::milliseconds slept() const;
    // Something happens each time the program sleeps, before the time passes.
    void onNap(std::function<void()> happening);
    // The wall clock runs this far ahead of the system's.
    void clockAhead(std::chrono::seconds ahead);
    // Each name its own inode number, each with one link, as sshfs shows them.
    void inodePerName();
    // A name made with O_EXCL that stands already is refused with EPERM, as sshfs tells it.
    void takenNameRefused();
    // /proc shows no other process (hidepid=2).
    void hiddenProcesses();
    // A FUSE mount whose files another mount has changed: it tells the size it remembers (half
    // the file) and reads no further, unless asked to ask the file system (AT_STATX_FORCE_SYNC).
    void sizesRemembered();
    // The folder cannot be flushed (EIO).
    void folderFlushFails();
};

// The start time of another process, as the process's identity writes it.
QByteArray startOf(pid_t pid);
