#include "desktop/standardstreams.h"

#include "posix/systemcalls.h"

#include <cerrno>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace desktop {

void openClosedStandardStreams()
{
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        struct stat status {};
        // The system gives the lowest free number: the closed stream's own. Kept open for the
        // whole run, as the stream it stands for.
        if (posix::calls().fstat(stream, &status) != 0 && errno == EBADF) {
            posix::calls().open("/dev/null", O_RDWR, 0);
        }
    }
}

} // namespace desktop
