#include "app/startup.h"

#include "history/historyfile.h"

namespace startup {

QPointF centredTopLeft(QRectF monitorTwips, QSizeF windowTwips)
{
    const auto left =
        (static_cast<float>(monitorTwips.width()) - static_cast<float>(windowTwips.width())) / 2.0F;
    const auto top =
        (static_cast<float>(monitorTwips.height()) - static_cast<float>(windowTwips.height())) /
        2.0F;
    return {monitorTwips.left() + left, monitorTwips.top() + qMax(top, 0.0F)};
}

QString dataFolder(const QString& programFolder)
{
    return programFolder.endsWith(u'/') ? programFolder : programFolder + u'/';
}

QString historyFile(const QString& dataFolder)
{
    return dataFolder + QString::fromUtf16(history::kFileName);
}

EarlyLoad::EarlyLoad(const QString& path)
    : mPath(path)
    // Where no thread can be had, the load waits for take(), as it would without one.
    , mLoad(std::async(std::launch::async | std::launch::deferred,
                       [path] { return history::loadHistory(path); }))
{
}

history::LoadResult EarlyLoad::take(const QString& path)
{
    if (path != mPath || !mLoad.valid()) {
        return history::loadHistory(path);
    }
    return mLoad.get();
}

} // namespace startup
