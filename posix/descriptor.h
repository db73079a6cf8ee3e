#pragma once

#include "posix/systemcalls.h"

#include <utility>

namespace posix {

// A file descriptor, closed when it goes out of scope. What was written through it and matters
// is flushed before: closing can then lose nothing, and its result is not needed.
class Descriptor {
public:
    Descriptor() = default;
    // Takes over fd; -1 for none, as a failed open gives.
    explicit Descriptor(int fd)
        : mFd(fd)
    {
    }
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept
        : mFd(std::exchange(other.mFd, -1))
    {
    }
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        if (this != &other) {
            reset();
            mFd = std::exchange(other.mFd, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    [[nodiscard]] int get() const { return mFd; }
    [[nodiscard]] bool isOpen() const { return mFd >= 0; }
    // Closes it now.
    void reset()
    {
        if (mFd >= 0) {
            calls().close(std::exchange(mFd, -1));
        }
    }

private:
    int mFd = -1;
};

} // namespace posix
