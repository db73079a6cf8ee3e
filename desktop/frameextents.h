#pragma once

#include <QMargins>
#include <QWindow>

namespace desktop {

// The frame and title bar that the window manager will draw around a top-level window, known
// before the window is first shown, so that the whole window can be placed without a jump. On
// X11 the window manager is asked with _NET_REQUEST_FRAME_EXTENTS; zero where there is no such
// request, no window manager answers within half a second, the platform places windows itself,
// or the program was built without X11.
QMargins frameExtents(WId window, qreal devicePixelRatio);

} // namespace desktop
