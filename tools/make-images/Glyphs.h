#pragma once
// Drawing helpers shared by the pictures: the palette, shapes and small effects.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QRectF>

class QPainter;

namespace pal {
// Dark slate-blue of the toolbar and preview region.
inline const QColor slateTop{0x2d, 0x3e, 0x5a};
inline const QColor slateBottom{0x1b, 0x26, 0x3b};
inline const QColor slateDeep{0x0d, 0x13, 0x1f};
inline const QColor slateLine{0x3c, 0x4f, 0x6e};
// Light cool grey of the job region.
inline const QColor greyTop{0xee, 0xf2, 0xf7};
inline const QColor greyBottom{0xdf, 0xe6, 0xef};
inline const QColor card{0xfb, 0xfc, 0xfe};
inline const QColor cardBorder{0xcf, 0xd8, 0xe4};
// Glyph colours.
inline const QColor light{0xee, 0xf3, 0xf9};
inline const QColor lightShade{0xc4, 0xd1, 0xe2};
inline const QColor ink{0x2a, 0x3a, 0x52};
// Accents.
inline const QColor green{0x2f, 0xbf, 0x6e};
inline const QColor greenDark{0x1d, 0x8f, 0x50};
inline const QColor blue{0x3a, 0x86, 0xf4};
inline const QColor blueDark{0x23, 0x5f, 0xc9};
inline const QColor amber{0xff, 0xd1, 0x66};
} // namespace pal

// A transparent ARGB canvas.
QImage NewCanvas(int w, int h);

// DejaVu Sans at a pixel size, so the result does not depend on the screen's DPI.
QFont UiFont(int pixelSize, bool bold = false, bool italic = false);

// Soft shadow of a shape: the shape filled with a colour and blurred.
QImage ShadowOf(const QPainterPath& shape, QSize size, const QColor& color, int radius);

// Box blur (three passes approximate a Gaussian); works on premultiplied ARGB.
void BlurImage(QImage& img, int radius);

// Scissors pointing along +x from the pivot at the origin, length about 100 units.
// open: angle between the blades in degrees; bold: heavier rings for small sizes.
// Each half is one rigid piece: the blade on one side of the axis with the handle on the other.
struct ScissorsParts {
    QPainterPath bladeA, handleA; // upper blade, lower handle
    QPainterPath bladeB, handleB; // lower blade, upper handle
    QPainterPath blades;          // both blades
    QPainterPath handles;         // both handles
    QPainterPath screw;
};
ScissorsParts ScissorsShape(qreal openDeg, bool bold = false);

// A film strip lying along +x in `r`, with sprocket holes above and below a row of frames.
// Frames show small landscapes picked by `firstScene`.
void DrawFilmStrip(QPainter& p, const QRectF& r, int frames, int firstScene, qreal frameAlpha = 1.0);

// The rectangle of frame i of a strip drawn by DrawFilmStrip in r.
QRectF FilmFrameRect(const QRectF& r, int frames, int i);

// One small landscape picture filling `r` (a film frame or a thumbnail).
void DrawScene(QPainter& p, const QRectF& r, int scene);

// Gear outline path centred at c.
QPainterPath GearPath(QPointF c, qreal outerR, qreal innerR, qreal holeR, int teeth);

// Folder silhouette (back with tab) and the front flap, in r.
QPainterPath FolderBack(const QRectF& r);
QPainterPath FolderFront(const QRectF& r);

// Triangle pointing right, with slightly rounded corners.
QPainterPath PlayTriangle(const QRectF& r);
