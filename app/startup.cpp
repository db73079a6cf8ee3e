#include "app/startup.h"

namespace startup {

QPointF centredTopLeft(QSizeF screenTwips, QSizeF windowTwips)
{
    const auto left =
        (static_cast<float>(screenTwips.width()) - static_cast<float>(windowTwips.width())) / 2.0F;
    const auto top =
        (static_cast<float>(screenTwips.height()) - static_cast<float>(windowTwips.height())) /
        2.0F;
    return {left, top};
}

QString dataFolder(const QString& programFolder)
{
    return programFolder.endsWith(u'/') ? programFolder : programFolder + u'/';
}

} // namespace startup
