// Windows gives a process as many handles and threads as it asks for, within its memory.
#include "desktop/resources.h"

namespace desktop {

std::optional<MissingResource> missingResource()
{
    return std::nullopt;
}

} // namespace desktop
