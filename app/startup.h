#pragma once

#include "history/historyfile.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <future>

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

// The history loaded on a thread of its own while the toolkit starts, so that the window paints
// as soon with a full history as with an empty one. It is the load that the window makes, begun
// sooner: the same file, the same checks.
class EarlyLoad {
public:
    explicit EarlyLoad(const QString& path);
    // The load of path: the one begun, when it was begun for path, else a new one.
    history::LoadResult take(const QString& path);

private:
    QString mPath;
    std::future<history::LoadResult> mLoad;
};

} // namespace startup
