#pragma once

#include <QMargins>

class QWidget;

// The frame and title bar that the window manager will draw around a top-level window, known
// before the window is first shown, so that the whole window can be placed without a jump. On
// X11 the window manager is asked with _NET_REQUEST_FRAME_EXTENTS; zero where there is no such
// request, no window manager answers within half a second, or the platform places windows itself.
QMargins frameExtents(QWidget& window);
