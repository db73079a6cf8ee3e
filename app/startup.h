#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

// Start-up arithmetic of the window: its centred place and the folder of its data.
namespace startup {

// The top-left corner, in twips, that centres a window's outer frame on a monitor whose area is
// given in twips. Divided in single precision, so a half twip is kept. A window wider than the
// monitor loses half the excess off each side; one taller keeps its title bar on the monitor.
QPointF centredTopLeft(QRectF monitorTwips, QSizeF windowTwips);

// The program's folder with exactly one separator at its end (the root folder keeps its own).
QString dataFolder(const QString& programFolder);
// The history file in the data folder: the one name of it that the program uses.
QString historyFile(const QString& dataFolder);

} // namespace startup
