// A Windows program's descriptors are its own numbers, never the standard streams' (see
// win/posixcalls.h): nothing can land in them.
#include "desktop/standardstreams.h"

namespace desktop {

void openClosedStandardStreams() {}

} // namespace desktop
