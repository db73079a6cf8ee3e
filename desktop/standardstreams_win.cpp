// A window program on Windows has no console: started from one, it joins it, so that its messages
// reach it and Ctrl+C and the console's closing end the program with a save (see
// TerminationSignals), as a start from a terminal does on Linux. Standard error that the start
// redirected stays where it points. A descriptor of the system layer is never a standard stream
// (see win/posixcalls.h), so none needs opening.
#include "desktop/standardstreams.h"
#include "win/systemcalls.h"

#include <cstdio>

namespace desktop {

void openClosedStandardStreams()
{
    const HANDLE error = win::calls().GetStdHandle(STD_ERROR_HANDLE);
    const bool redirected = error != nullptr && error != INVALID_HANDLE_VALUE;
    if (win::calls().AttachConsole(ATTACH_PARENT_PROCESS) && !redirected) {
        std::freopen("CONOUT$", "w", stderr);
    }
}

} // namespace desktop
