#pragma once

namespace desktop {

// Opens /dev/null on standard input, output and error where they are closed, as a launcher may
// leave them: otherwise the first files the program opens take their numbers, and a warning
// written to standard error would land in the lock file or in the display's connection.
void openClosedStandardStreams();

} // namespace desktop
