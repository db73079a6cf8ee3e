#pragma once

#include "draw/sixnumbers.h"

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>
#include <array>

// The window's declared look: places and sizes in twips, colours as 0x00BBGGRR, captions, fonts.
namespace layout {

inline constexpr int kTwipsPerInch = 1440;

struct Twips {
    int left;
    int top;
    int width;
    int height;
};

inline constexpr Twips kClientArea{0, 0, 4575, 3105};
inline constexpr std::array<Twips, draw::kTileCount> kTiles{{{210, 240, 630, 465},
                                                             {960, 240, 615, 465},
                                                             {1680, 240, 615, 465},
                                                             {2400, 240, 615, 465},
                                                             {3120, 240, 615, 465},
                                                             {3840, 240, 615, 465}}};
inline constexpr Twips kDrawButton{120, 840, 4335, 495};
inline constexpr Twips kSortedCaption{120, 1560, 420, 180};
inline constexpr Twips kHistoryCaption{1200, 1560, 420, 180};
inline constexpr Twips kSortedList{120, 1800, 495, 1140};
inline constexpr Twips kPrintButton{770, 1800, 375, 1160};
inline constexpr Twips kHistoryList{1200, 1800, 2775, 1140};
inline constexpr Twips kClearButton{4080, 1800, 375, 1160};

// Twips to whole pixels at a logical DPI, each of left, top, width and height rounded to nearest.
int toPixels(double twips, double dpi);
QRect toPixels(const Twips& twips, double dpi);
double toTwips(int pixels, double dpi);

using Gradient = std::array<quint32, draw::kTileCount>;
inline constexpr Gradient kBlueGradient{0xFFC0C0, 0xFF8080, 0xFF0000, 0xC00000, 0x800000, 0x400000};
inline constexpr Gradient kRedGradient{0xC0C0FF, 0x8080FF, 0x0000FF, 0x0000C0, 0x000080, 0x000040};
inline constexpr Gradient kTileText{0x000000, 0x404040, 0xC0C0C0, 0xC0C0C0, 0xFFFFFF, 0xFFFFFF};

// A colour given as 0x00BBGGRR.
QColor fromBgr(quint32 bgr);

// A caption for a button too narrow for more than one character: one character per line.
QString stackedCaption(const QString& caption);

// The window's own 9-point Japanese user-interface face.
QFont windowFont();
// The lists' face: the window's, with spaces one pixel narrower so a history line fits.
QFont listFont();
// The number tiles' face: 20.25 points, bold, in the Japanese Gothic face that the program comes
// with. The face declared for the tiles, ＭＳ Ｐゴシック, is a Windows face that no Debian package
// carries; asking for it makes the toolkit search all fonts for a stand-in, which would cost
// every start several milliseconds before the first paint.
QFont tileFont();

} // namespace layout
