#include "app/layout.h"

#include <cmath>

namespace layout {

namespace {
constexpr int kWindowPointSize = 9;
constexpr qreal kTilePointSize = 20.25;
} // namespace

int toPixels(double twips, double dpi)
{
    return static_cast<int>(std::lround(twips * dpi / kTwipsPerInch));
}

QRect toPixels(const Twips& twips, double dpi)
{
    return {toPixels(twips.left, dpi), toPixels(twips.top, dpi), toPixels(twips.width, dpi),
            toPixels(twips.height, dpi)};
}

double toTwips(int pixels, double dpi)
{
    return pixels * kTwipsPerInch / dpi;
}

QColor fromBgr(quint32 bgr)
{
    return QColor(static_cast<int>(bgr & 0xFFU), static_cast<int>((bgr >> 8U) & 0xFFU),
                  static_cast<int>((bgr >> 16U) & 0xFFU));
}

QString stackedCaption(const QString& caption)
{
    QStringList characters;
    for (const QChar c : caption) {
        characters << QString(c);
    }
    return characters.join(u'\n');
}

QFont windowFont()
{
    QFont font;
    // The first face present is taken; a face that is missing costs a look-up at every start.
    font.setFamilies({QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
    font.setPointSize(kWindowPointSize);
    return font;
}

QFont listFont()
{
    QFont font = windowFont();
    font.setWordSpacing(-1);
    return font;
}

QFont tileFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
    font.setPointSizeF(kTilePointSize);
    font.setWeight(QFont::Bold);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

} // namespace layout
