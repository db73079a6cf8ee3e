#pragma once

#include <QPointF>
#include <QSizeF>
#include <QString>

// Start-up arithmetic of the window: its centred place and the folder of its data.
namespace startup {

// The top-left corner, in twips, that centres a window on the screen. Divided in single
// precision, so a half twip is kept; a window larger than the screen gets a negative place.
QPointF centredTopLeft(QSizeF screenTwips, QSizeF windowTwips);

// The program's folder with exactly one separator at its end (the root folder keeps its own).
QString dataFolder(const QString& programFolder);

} // namespace startup
