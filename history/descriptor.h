#pragma once

#include <unistd.h>

namespace filestore {

// A file descriptor, closed when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd)
        : mFd(fd)
    {
    }
    ~Descriptor()
    {
        if (mFd >= 0) {
            ::close(mFd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    [[nodiscard]] int get() const { return mFd; }
    [[nodiscard]] bool isOpen() const { return mFd >= 0; }

private:
    int mFd;
};

} // namespace filestore
