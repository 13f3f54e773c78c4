#include "Glyphs.h"

#include <QLinearGradient>
#include <QPainter>
#include <QTransform>
#include <QtMath>

#include <algorithm>
#include <vector>

QImage NewCanvas(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

QFont UiFont(int pixelSize, bool bold, bool italic)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    f.setItalic(italic);
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

namespace {

// One horizontal and one vertical box-blur pass over all four channels.
void BoxPass(QImage& img, int r)
{
    const int w = img.width();
    const int h = img.height();
    const int div = 2 * r + 1;
    std::vector<int> sums(4);
    std::vector<QRgb> line(static_cast<size_t>(std::max(w, h)));

    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        std::copy(row, row + w, line.begin());
        for (int x = 0; x < w; ++x) {
            int a = 0, rr = 0, g = 0, b = 0;
            for (int k = -r; k <= r; ++k) {
                const int xx = std::clamp(x + k, 0, w - 1);
                const QRgb c = line[static_cast<size_t>(xx)];
                a += qAlpha(c);
                rr += qRed(c);
                g += qGreen(c);
                b += qBlue(c);
            }
            row[x] = qRgba(rr / div, g / div, b / div, a / div);
        }
    }
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y)
            line[static_cast<size_t>(y)] = reinterpret_cast<const QRgb*>(img.constScanLine(y))[x];
        for (int y = 0; y < h; ++y) {
            int a = 0, rr = 0, g = 0, b = 0;
            for (int k = -r; k <= r; ++k) {
                const int yy = std::clamp(y + k, 0, h - 1);
                const QRgb c = line[static_cast<size_t>(yy)];
                a += qAlpha(c);
                rr += qRed(c);
                g += qGreen(c);
                b += qBlue(c);
            }
            reinterpret_cast<QRgb*>(img.scanLine(y))[x] = qRgba(rr / div, g / div, b / div, a / div);
        }
    }
}

} // namespace

void BlurImage(QImage& img, int radius)
{
    if (radius <= 0)
        return;
    for (int i = 0; i < 3; ++i)
        BoxPass(img, std::max(1, radius / 2));
}

QImage ShadowOf(const QPainterPath& shape, QSize size, const QColor& color, int radius)
{
    QImage img = NewCanvas(size.width(), size.height());
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(shape, color);
    }
    BlurImage(img, radius);
    return img;
}

ScissorsParts ScissorsShape(qreal openDeg, bool bold)
{
    // Drawn pointing along +x with the pivot at the origin.
    const qreal back = bold ? -11.5 : -10.5;
    QPainterPath bladeUp;
    bladeUp.moveTo(-4, 1.5);
    bladeUp.lineTo(60, 1.2);
    bladeUp.quadTo(62, 0.5, 60, -1.5);
    bladeUp.cubicTo(44, back + 2, 18, back, 2, back + 2.5);
    bladeUp.quadTo(-6, -6, -4, 1.5);
    bladeUp.closeSubpath();

    QPainterPath armDown;
    armDown.moveTo(-2, 1);
    armDown.cubicTo(-10, 6, -16, 11, -22, 14);
    armDown.lineTo(-18, 20);
    armDown.cubicTo(-12, 14, -4, 9, 3, 5);
    armDown.closeSubpath();

    QPainterPath ringDown;
    ringDown.addEllipse(QPointF(-33, 19), 14, 10.5);
    QPainterPath ringHole;
    if (bold)
        ringHole.addEllipse(QPointF(-33.5, 19.5), 7.2, 4.2);
    else
        ringHole.addEllipse(QPointF(-33.5, 19.5), 8.8, 5.6);

    QTransform mirror;
    mirror.scale(1, -1);
    QTransform rotUp;
    rotUp.rotate(-openDeg / 2);
    QTransform rotDown;
    rotDown.rotate(openDeg / 2);

    const QPainterPath ringPiece = armDown.united(ringDown).subtracted(ringHole);
    ScissorsParts s;
    s.bladeA = rotUp.map(bladeUp);
    s.handleA = rotUp.map(ringPiece);
    s.bladeB = rotDown.map(mirror.map(bladeUp));
    s.handleB = rotDown.map(mirror.map(ringPiece));
    s.blades = s.bladeA.united(s.bladeB);
    s.handles = s.handleA.united(s.handleB);
    s.screw.addEllipse(QPointF(0, 0), 3.6, 3.6);
    return s;
}

void DrawScene(QPainter& p, const QRectF& r, int scene)
{
    struct Look {
        QColor skyTop, skyBottom, sun, far, near;
    };
    static const Look looks[] = {
        {QColor(0x4f, 0x8c, 0xd9), QColor(0xa8, 0xd4, 0xf5), QColor(0xff, 0xf1, 0xb8), QColor(0x5f, 0x86, 0xa8),
         QColor(0x2f, 0x7d, 0x52)},
        {QColor(0xf0, 0x8a, 0x5d), QColor(0xff, 0xd6, 0x8a), QColor(0xff, 0xf6, 0xd8), QColor(0xa0, 0x5c, 0x6e),
         QColor(0x4a, 0x2e, 0x4f)},
        {QColor(0x2b, 0x5d, 0x8f), QColor(0x6f, 0xb7, 0xc9), QColor(0xe9, 0xf7, 0xff), QColor(0x3f, 0x6f, 0x86),
         QColor(0x1f, 0x4a, 0x5c)},
        {QColor(0x6a, 0x4c, 0xa8), QColor(0xe2, 0x8a, 0xb8), QColor(0xff, 0xe3, 0xf0), QColor(0x58, 0x3f, 0x84),
         QColor(0x2e, 0x24, 0x52)},
        {QColor(0x3b, 0xa7, 0xc9), QColor(0xc4, 0xee, 0xd8), QColor(0xff, 0xff, 0xe6), QColor(0x55, 0x9e, 0x7a),
         QColor(0x2a, 0x73, 0x4a)},
        {QColor(0x1c, 0x2c, 0x5a), QColor(0x4a, 0x5e, 0x9c), QColor(0xf5, 0xf0, 0xc8), QColor(0x2a, 0x38, 0x66),
         QColor(0x14, 0x1c, 0x38)},
    };
    const Look& L = looks[scene % 6];
    p.save();
    p.setClipRect(r, Qt::IntersectClip);
    QLinearGradient sky(r.topLeft(), r.bottomLeft());
    sky.setColorAt(0, L.skyTop);
    sky.setColorAt(1, L.skyBottom);
    p.fillRect(r, sky);

    const qreal w = r.width();
    const qreal h = r.height();
    const qreal sx = 0.25 + 0.5 * ((scene * 37) % 100) / 100.0;
    p.setPen(Qt::NoPen);
    p.setBrush(L.sun);
    p.drawEllipse(QPointF(r.left() + w * sx, r.top() + h * 0.34), h * 0.12, h * 0.12);

    QPainterPath far;
    far.moveTo(r.left(), r.bottom());
    far.lineTo(r.left(), r.top() + h * 0.72);
    far.lineTo(r.left() + w * 0.3, r.top() + h * (0.45 + 0.05 * (scene % 3)));
    far.lineTo(r.left() + w * 0.55, r.top() + h * 0.66);
    far.lineTo(r.left() + w * 0.8, r.top() + h * 0.5);
    far.lineTo(r.right(), r.top() + h * 0.64);
    far.lineTo(r.right(), r.bottom());
    far.closeSubpath();
    p.fillPath(far, L.far);

    QPainterPath near;
    near.moveTo(r.left(), r.bottom());
    near.lineTo(r.left(), r.top() + h * 0.82);
    near.quadTo(r.left() + w * 0.4, r.top() + h * 0.66, r.left() + w * 0.7, r.top() + h * 0.8);
    near.quadTo(r.left() + w * 0.85, r.top() + h * 0.86, r.right(), r.top() + h * 0.78);
    near.lineTo(r.right(), r.bottom());
    near.closeSubpath();
    p.fillPath(near, L.near);
    p.restore();
}

QRectF FilmFrameRect(const QRectF& r, int frames, int i)
{
    const qreal h = r.height();
    const qreal band = h * 0.19;
    const qreal gap = h * 0.06;
    const qreal frameW = (r.width() - gap * (frames + 1)) / frames;
    return QRectF(r.left() + gap + i * (frameW + gap), r.top() + band, frameW, h - 2 * band);
}

void DrawFilmStrip(QPainter& p, const QRectF& r, int frames, int firstScene, qreal frameAlpha)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const qreal h = r.height();
    const qreal band = h * 0.19; // sprocket rows
    const qreal radius = h * 0.06;

    QLinearGradient base(r.topLeft(), r.bottomLeft());
    base.setColorAt(0, QColor(0x1a, 0x20, 0x2c));
    base.setColorAt(0.5, QColor(0x0c, 0x10, 0x18));
    base.setColorAt(1, QColor(0x1a, 0x20, 0x2c));
    p.setPen(Qt::NoPen);
    p.setBrush(base);
    p.drawRoundedRect(r, radius, radius);

    // Sprocket holes.
    const qreal holeW = h * 0.1;
    const qreal holeH = band * 0.5;
    const qreal step = holeW * 2.1;
    p.setBrush(QColor(0xd9, 0xe2, 0xee, 200));
    for (qreal x = r.left() + step * 0.5; x + holeW < r.right(); x += step) {
        p.drawRoundedRect(QRectF(x, r.top() + (band - holeH) / 2, holeW, holeH), holeH * 0.3, holeH * 0.3);
        p.drawRoundedRect(QRectF(x, r.bottom() - band + (band - holeH) / 2, holeW, holeH), holeH * 0.3,
                          holeH * 0.3);
    }

    p.setOpacity(p.opacity() * frameAlpha);
    for (int i = 0; i < frames; ++i)
        DrawScene(p, FilmFrameRect(r, frames, i), firstScene + i);
    p.restore();
}

QPainterPath GearPath(QPointF c, qreal outerR, qreal innerR, qreal holeR, int teeth)
{
    QPainterPath gear;
    const qreal step = 2 * M_PI / teeth;
    // Each tooth: a flat top spanning ~40% of the step, flanks sloping to the root circle.
    for (int i = 0; i < teeth; ++i) {
        const qreal a0 = i * step - step * 0.5;
        const qreal pts[4][2] = {
            {a0 + step * 0.10, innerR},
            {a0 + step * 0.30, outerR},
            {a0 + step * 0.70, outerR},
            {a0 + step * 0.90, innerR},
        };
        for (int k = 0; k < 4; ++k) {
            const QPointF q(c.x() + pts[k][1] * std::cos(pts[k][0]), c.y() + pts[k][1] * std::sin(pts[k][0]));
            if (i == 0 && k == 0)
                gear.moveTo(q);
            else
                gear.lineTo(q);
        }
        // Root arc to the next tooth.
        const qreal b0 = a0 + step * 0.90;
        const qreal b1 = a0 + step * 1.10;
        const int n = 3;
        for (int k = 1; k <= n; ++k) {
            const qreal a = b0 + (b1 - b0) * k / n;
            gear.lineTo(c.x() + innerR * std::cos(a), c.y() + innerR * std::sin(a));
        }
    }
    gear.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(c, holeR, holeR);
    return gear.subtracted(hole);
}

QPainterPath FolderBack(const QRectF& r)
{
    const qreal w = r.width();
    const qreal h = r.height();
    const qreal rad = h * 0.09;
    QPainterPath p;
    p.moveTo(r.left() + rad, r.top());
    p.lineTo(r.left() + w * 0.36, r.top());
    p.lineTo(r.left() + w * 0.45, r.top() + h * 0.14);
    p.lineTo(r.right() - rad, r.top() + h * 0.14);
    p.quadTo(r.right(), r.top() + h * 0.14, r.right(), r.top() + h * 0.14 + rad);
    p.lineTo(r.right(), r.bottom() - rad);
    p.quadTo(r.right(), r.bottom(), r.right() - rad, r.bottom());
    p.lineTo(r.left() + rad, r.bottom());
    p.quadTo(r.left(), r.bottom(), r.left(), r.bottom() - rad);
    p.lineTo(r.left(), r.top() + rad);
    p.quadTo(r.left(), r.top(), r.left() + rad, r.top());
    p.closeSubpath();
    return p;
}

QPainterPath FolderFront(const QRectF& r)
{
    const qreal w = r.width();
    const qreal h = r.height();
    const qreal rad = h * 0.09;
    QPainterPath p;
    const qreal top = r.top() + h * 0.32;
    p.moveTo(r.left() + w * 0.08 + rad, top);
    p.lineTo(r.right() + w * 0.02 - rad, top);
    p.quadTo(r.right() + w * 0.04, top, r.right() + w * 0.02, top + rad);
    p.lineTo(r.right() - w * 0.02, r.bottom() - rad);
    p.quadTo(r.right() - w * 0.03, r.bottom(), r.right() - w * 0.03 - rad, r.bottom());
    p.lineTo(r.left() + rad, r.bottom());
    p.quadTo(r.left(), r.bottom(), r.left(), r.bottom() - rad);
    p.lineTo(r.left() + w * 0.06, top + rad);
    p.quadTo(r.left() + w * 0.07, top, r.left() + w * 0.08 + rad, top);
    p.closeSubpath();
    return p;
}

QPainterPath PlayTriangle(const QRectF& r)
{
    QPainterPath tri;
    const qreal k = r.height() * 0.08;
    const QPointF a(r.left(), r.top());
    const QPointF b(r.right(), r.center().y());
    const QPointF c(r.left(), r.bottom());
    tri.moveTo(a.x(), a.y() + k);
    tri.quadTo(a, QPointF(a.x() + k, a.y() + k * 0.5));
    tri.lineTo(b.x() - k, b.y() - k * 0.5);
    tri.quadTo(b, QPointF(b.x() - k, b.y() + k * 0.5));
    tri.lineTo(c.x() + k, c.y() - k * 0.5);
    tri.quadTo(c, QPointF(c.x(), c.y() - k));
    tri.closeSubpath();
    return tri;
}
