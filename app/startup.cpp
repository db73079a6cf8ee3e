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

QByteArray historyFile(const QByteArray& programFolder)
{
    const QByteArray name = QString::fromUtf16(history::kFileName).toUtf8();
    return programFolder.endsWith('/') ? programFolder + name : programFolder + '/' + name;
}

} // namespace startup
