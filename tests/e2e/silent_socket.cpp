// A print system that accepts every connection and never answers: a Unix socket that listens
// and is never read. Usage: silent_socket PATH (runs until it is ended).
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char* argv[])
{
    constexpr int kBacklog = 64;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t length = argc == 2 ? std::strlen(argv[1]) : 0;
    if (length == 0 || length >= sizeof(address.sun_path)) {
        return 2;
    }
    std::memcpy(address.sun_path, argv[1], length);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(fd, kBacklog) != 0) {
        return 1;
    }
    for (;;) {
        ::pause();
    }
}
