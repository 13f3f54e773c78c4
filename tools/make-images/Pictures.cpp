#include "Pictures.h"
#include "Glyphs.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QTransform>

namespace {

struct Painter : QPainter {
    explicit Painter(QImage* img) : QPainter(img)
    {
        setRenderHint(QPainter::Antialiasing);
        setRenderHint(QPainter::TextAntialiasing);
        setRenderHint(QPainter::SmoothPixmapTransform);
    }
};

QLinearGradient Vertical(qreal top, qreal bottom, const QColor& a, const QColor& b)
{
    QLinearGradient g(0, top, 0, bottom);
    g.setColorAt(0, a);
    g.setColorAt(1, b);
    return g;
}

QColor WithAlpha(QColor c, int alpha)
{
    c.setAlpha(alpha);
    return c;
}

// Scissors scaled and turned: pivot at `pivot`, pointing at `angleDeg` (0 = right, 90 = down).
QTransform ScissorsTransform(QPointF pivot, qreal scale, qreal angleDeg)
{
    QTransform t;
    t.translate(pivot.x(), pivot.y());
    t.rotate(angleDeg);
    t.scale(scale, scale);
    return t;
}

// Silver blades, coloured handles, a dark outline so the shape stands out on anything.
// The lower blade is drawn first; the upper one lies over it with its own edge.
void DrawScissors(QPainter& p, const QTransform& t, qreal openDeg, const QColor& handleTop,
                  const QColor& handleBottom, qreal outline, bool bold = false)
{
    const ScissorsParts s = ScissorsShape(openDeg, bold);
    const QRectF box = t.map(s.blades).boundingRect().united(t.map(s.handles).boundingRect());
    QLinearGradient hg(box.topLeft(), box.bottomRight());
    hg.setColorAt(0, handleTop);
    hg.setColorAt(1, handleBottom);
    QLinearGradient bg(box.topLeft(), box.bottomLeft());
    bg.setColorAt(0, QColor(0xff, 0xff, 0xff));
    bg.setColorAt(0.55, QColor(0xe3, 0xea, 0xf3));
    bg.setColorAt(1, QColor(0xb7, 0xc4, 0xd6));
    const QPen edge(QColor(0x0a, 0x10, 0x1b, 170), outline * 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);

    p.save();
    if (outline > 0) {
        p.setPen(edge);
        p.setBrush(Qt::NoBrush);
        p.drawPath(t.map(s.blades.united(s.handles)));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(hg);
    p.drawPath(t.map(s.handles));
    p.setBrush(bg);
    p.drawPath(t.map(s.bladeB));
    if (outline > 0) {
        p.setPen(QPen(QColor(0x0a, 0x10, 0x1b, 110), outline, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(t.map(s.bladeA));
        p.setPen(Qt::NoPen);
    }
    p.drawPath(t.map(s.bladeA));
    p.setBrush(QColor(0x33, 0x41, 0x57));
    p.drawPath(t.map(s.screw));
    p.restore();
}

// The program's mark: a rounded tile with a film strip and scissors cutting across it.
void DrawLogo(QPainter& p, const QRectF& r)
{
    const qreal s = r.width();
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const qreal rad = s * 0.22;
    QPainterPath tile;
    tile.addRoundedRect(r, rad, rad);

    QLinearGradient bg(r.topLeft(), r.bottomRight());
    bg.setColorAt(0, QColor(0x3a, 0x58, 0x86));
    bg.setColorAt(1, QColor(0x15, 0x20, 0x35));
    p.fillPath(tile, bg);
    p.setClipPath(tile);

    QRadialGradient glow(QPointF(r.left() + s * 0.3, r.top() + s * 0.2), s * 0.8);
    glow.setColorAt(0, QColor(255, 255, 255, 46));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(r, glow);

    // Film strip across the tile, rising to the right.
    p.save();
    p.translate(r.center());
    p.rotate(-24);
    const qreal sh = s * 0.34;
    DrawFilmStrip(p, QRectF(-s, -sh / 2, 2 * s, sh), 6, 0);
    p.restore();

    // Scissors across the strip, pointing up-left against the strip's direction.
    const qreal scale = s * 0.0064;
    const qreal ang = -24 - 90 - 8;
    QTransform t = ScissorsTransform(QPointF(0, 0), scale, ang);
    const QPointF mid = t.map(QPointF(30, 0)); // middle of the blades
    const QPointF pivot = r.center() - mid + QPointF(s * 0.04, s * 0.04);
    DrawScissors(p, ScissorsTransform(pivot, scale, ang), 30, QColor(0x5c, 0xe6, 0x98), QColor(0x1a, 0x93, 0x50),
                 s * 0.008, s < 80);
    p.setClipping(false);

    // A thin light rim at the top edge and a dark one at the bottom.
    QLinearGradient rim(r.topLeft(), r.bottomLeft());
    rim.setColorAt(0, QColor(255, 255, 255, 90));
    rim.setColorAt(0.5, QColor(255, 255, 255, 0));
    rim.setColorAt(1, QColor(0, 0, 0, 90));
    p.setPen(QPen(QBrush(rim), std::max<qreal>(1.0, s * 0.008)));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), rad, rad);
    p.restore();
}

// ---- backgrounds

QImage Toolbar()
{
    QImage img = NewCanvas(800, 64);
    Painter p(&img);
    p.fillRect(img.rect(), Vertical(0, 64, pal::slateTop, pal::slateBottom));

    QRadialGradient glow(QPointF(180, -40), 460);
    glow.setColorAt(0, QColor(255, 255, 255, 22));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(img.rect(), glow);

    // Top highlight, bottom accent line in the colours of the two image buttons.
    p.fillRect(QRectF(0, 0, 800, 1), QColor(255, 255, 255, 34));
    QLinearGradient accent(0, 0, 800, 0);
    accent.setColorAt(0, pal::green);
    accent.setColorAt(0.55, QColor(0x33, 0xa7, 0xb8));
    accent.setColorAt(1, pal::blue);
    p.fillRect(QRectF(0, 61, 800, 2), accent);
    p.fillRect(QRectF(0, 63, 800, 1), pal::slateDeep);

    // The mark and the name at the right end.
    const QFont f = UiFont(25, true, true);
    const QString name = QStringLiteral("Veltrane");
    const qreal tw = QFontMetricsF(f).horizontalAdvance(name);
    const qreal right = 784;
    const QRectF logo(right - tw - 12 - 38, 11, 38, 38);
    DrawLogo(p, logo);
    p.setFont(f);
    p.setPen(QColor(0, 0, 0, 90));
    p.drawText(QRectF(right - tw - 4, 12, tw + 8, 38).translated(0, 1), Qt::AlignRight | Qt::AlignVCenter, name);
    p.setPen(QColor(0xe9, 0xef, 0xf7));
    p.drawText(QRectF(right - tw - 4, 12, tw + 8, 38), Qt::AlignRight | Qt::AlignVCenter, name);
    return img;
}

QImage PreviewBackground()
{
    QImage img = NewCanvas(460, 384);
    Painter p(&img);
    p.fillRect(img.rect(), Vertical(0, 384, QColor(0x22, 0x2f, 0x46), QColor(0x16, 0x1f, 0x30)));

    // Bezel around the 440 x 240 video area at (10, 10).
    const QRectF bezel(5.5, 5.5, 449, 249);
    p.setPen(QPen(QColor(0x0a, 0x0f, 0x18), 1));
    p.setBrush(QColor(0x06, 0x09, 0x0f));
    p.drawRoundedRect(bezel, 6, 6);
    p.setPen(QPen(QColor(255, 255, 255, 26), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(bezel.adjusted(-1, -1, 1, 1), 7, 7);

    // Track deck: the track bar, the scale and the marks.
    const QRectF deck(4.5, 252.5, 451, 63);
    p.setPen(QPen(QColor(255, 255, 255, 20), 1));
    p.setBrush(QColor(0x0c, 0x12, 0x1e, 90));
    p.drawRoundedRect(deck, 6, 6);

    // Button deck, with a divider between the player buttons and the range buttons.
    const QRectF buttons(4.5, 318.5, 451, 61);
    p.setPen(QPen(QColor(255, 255, 255, 24), 1));
    p.setBrush(Vertical(318, 380, QColor(255, 255, 255, 14), QColor(255, 255, 255, 4)));
    p.drawRoundedRect(buttons, 6, 6);
    p.setPen(QPen(QColor(0, 0, 0, 80), 1));
    p.drawLine(QPointF(228.5, 326), QPointF(228.5, 372));
    p.setPen(QPen(QColor(255, 255, 255, 28), 1));
    p.drawLine(QPointF(229.5, 326), QPointF(229.5, 372));

    // Edge towards the job region.
    p.fillRect(QRectF(459, 0, 1, 384), QColor(0x0b, 0x10, 0x1a));
    return img;
}

// The job region's background without the separators that only the field card has.
QImage JobBase(int height)
{
    QImage img = NewCanvas(340, height);
    Painter p(&img);
    p.fillRect(img.rect(), Vertical(0, 384, pal::greyTop, pal::greyBottom));

    // Card holding the job fields; the image buttons sit below it.
    QPainterPath card;
    card.addRoundedRect(QRectF(8, 4, 324, 297), 8, 8);
    const QImage shadow = ShadowOf(card.translated(0, 1.5), QSize(340, 384), QColor(0x1b, 0x2a, 0x40, 40), 6);
    p.drawImage(0, 0, shadow);
    p.fillPath(card, pal::card);
    p.setPen(QPen(pal::cardBorder, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(8.5, 4.5, 323, 296), 8, 8);

    // Left edge against the dark preview region.
    p.fillRect(QRectF(0, 0, 1, height), QColor(0xa9, 0xb5, 0xc6));
    p.fillRect(QRectF(1, 0, 1, height), QColor(255, 255, 255, 170));
    return img;
}

QImage JobBackground()
{
    QImage img = JobBase(384);
    Painter p(&img);
    // A soft light pool under the image buttons.
    QRadialGradient pool(QPointF(170, 346), 120);
    pool.setColorAt(0, QColor(255, 255, 255, 120));
    pool.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(pool);
    p.drawEllipse(QPointF(170, 346), 150, 36);
    return img;
}

QImage ProgressBackground()
{
    // The same card as the job region, cut at the panel's height, so the edge where the
    // panel ends is invisible.
    QImage img = JobBase(384).copy(0, 0, 340, 289);
    Painter p(&img);

    // Header band behind the "what is being split" line.
    QPainterPath head;
    head.addRoundedRect(QRectF(9, 5, 322, 48), 7.5, 7.5);
    QPainterPath cut;
    cut.addRect(QRectF(9, 30, 322, 30));
    head = head.united(cut).intersected([] {
        QPainterPath clip;
        clip.addRect(QRectF(0, 0, 340, 53));
        return clip;
    }());
    QLinearGradient hg(0, 5, 340, 5);
    hg.setColorAt(0, QColor(0xe6, 0xf6, 0xec));
    hg.setColorAt(1, QColor(0xe4, 0xee, 0xfc));
    p.fillPath(head, hg);
    p.fillRect(QRectF(9, 53, 322, 1), QColor(0xd9, 0xe2, 0xec));

    // Separator between the bars and the times.
    p.fillRect(QRectF(16, 136, 308, 1), QColor(0xe3, 0xe8, 0xef));
    return img;
}

QImage Banner()
{
    QImage img = NewCanvas(440, 240);
    Painter p(&img);
    QLinearGradient bg(0, 0, 440, 240);
    bg.setColorAt(0, QColor(0x24, 0x35, 0x55));
    bg.setColorAt(1, QColor(0x0d, 0x14, 0x23));
    p.fillRect(img.rect(), bg);
    QRadialGradient glow(QPointF(300, 110), 230);
    glow.setColorAt(0, QColor(0x4a, 0x73, 0xb0, 90));
    glow.setColorAt(1, QColor(0x4a, 0x73, 0xb0, 0));
    p.fillRect(img.rect(), glow);

    // Film strip with a marked piece and the scissors at its end.
    p.save();
    p.translate(220, 114);
    p.rotate(-3);
    const QRectF strip(-260, -31, 520, 62);
    const int frames = 6;
    // Shadow under the strip.
    {
        QPainterPath sp;
        sp.addRoundedRect(strip.translated(0, 6), 4, 4);
        QImage sh = ShadowOf(sp.translated(260, 60), QSize(520, 130), QColor(0, 0, 0, 120), 10);
        p.drawImage(QPointF(-260, -60), sh);
    }
    DrawFilmStrip(p, strip, frames, 0, 0.45);
    const QRectF f2 = FilmFrameRect(strip, frames, 2);
    const QRectF f3 = FilmFrameRect(strip, frames, 3);
    DrawScene(p, f2, 2);
    DrawScene(p, f3, 3);
    const qreal cutL = f2.left() - 2;
    const qreal cutR = f3.right() + 2;

    // The marked piece: amber frame and range marks under it.
    p.setPen(QPen(pal::amber, 2));
    p.setBrush(WithAlpha(pal::amber, 22));
    p.drawRoundedRect(QRectF(cutL, strip.top() - 3, cutR - cutL, strip.height() + 6), 4, 4);
    p.setPen(QPen(pal::amber, 1.5, Qt::DashLine));
    p.drawLine(QPointF(cutL, strip.top() - 12), QPointF(cutL, strip.bottom() + 10));
    p.drawLine(QPointF(cutR, strip.top() - 10), QPointF(cutR, strip.bottom() + 10));
    p.setFont(UiFont(11, true));
    p.setPen(pal::amber);
    p.drawText(QRectF(cutL, strip.bottom() + 8, 120, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("[ 00:01:15"));
    p.drawText(QRectF(cutR - 120, strip.bottom() + 8, 120, 16), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("00:02:40 ]"));

    // Scissors biting into the strip at the end of the piece.
    DrawScissors(p, ScissorsTransform(QPointF(cutR, strip.top() - 22), 0.86, 90), 30, QColor(0x5c, 0xe6, 0x98),
                 QColor(0x1a, 0x93, 0x50), 1.0);
    p.restore();

    // The hint, top left, clear of the scissors and of the name at the bottom right.
    const QRectF icon(22, 22, 22, 18);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xc4, 0xd1, 0xe2));
    p.drawPath(FolderBack(icon));
    p.setBrush(QColor(0xee, 0xf3, 0xf9));
    p.drawPath(FolderFront(icon));
    p.setFont(UiFont(15, true));
    p.setPen(QColor(0xe6, 0xed, 0xf7));
    p.drawText(QRectF(52, 18, 240, 24), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Open a video to begin"));
    p.setFont(UiFont(11));
    p.setPen(QColor(0x93, 0xa6, 0xc1));
    p.drawText(QRectF(52, 40, 240, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Open Video, or drop a file here"));
    return img;
}

QImage AboutBackground()
{
    QImage img = NewCanvas(420, 300);
    Painter p(&img);
    p.fillRect(img.rect(), Vertical(0, 300, QColor(0xf8, 0xfa, 0xfd), QColor(0xe6, 0xeb, 0xf2)));

    QLinearGradient accent(0, 0, 420, 0);
    accent.setColorAt(0, pal::green);
    accent.setColorAt(0.55, QColor(0x33, 0xa7, 0xb8));
    accent.setColorAt(1, pal::blue);
    p.fillRect(QRectF(0, 0, 420, 4), accent);

    // Right half: the mark, on a soft light pool.
    QRadialGradient pool(QPointF(320, 150), 110);
    pool.setColorAt(0, QColor(255, 255, 255, 230));
    pool.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(pool);
    p.drawEllipse(QPointF(320, 150), 110, 110);

    const QRectF logo(268, 96, 104, 104);
    QPainterPath tile;
    tile.addRoundedRect(logo, 104 * 0.22, 104 * 0.22);
    p.drawImage(0, 0, ShadowOf(tile.translated(0, 4), QSize(420, 300), QColor(0x1b, 0x2a, 0x40, 70), 10));
    DrawLogo(p, logo);

    // Faint film strip along the bottom edge.
    p.save();
    p.setOpacity(0.07);
    DrawFilmStrip(p, QRectF(-10, 258, 440, 40), 7, 2);
    p.restore();
    return img;
}

// ---- image-button faces

QImage Face(bool start, int state)
{
    struct Shades {
        QColor top, bottom, border;
    };
    static const Shades green[3] = {
        {QColor(0x3f, 0xd3, 0x83), QColor(0x1f, 0xa0, 0x57), QColor(0x16, 0x86, 0x47)},
        {QColor(0x63, 0xe4, 0x9d), QColor(0x2e, 0xb8, 0x69), QColor(0x1c, 0x97, 0x53)},
        {QColor(0x18, 0x86, 0x48), QColor(0x20, 0x9c, 0x56), QColor(0x10, 0x68, 0x36)},
    };
    static const Shades blue[3] = {
        {QColor(0x52, 0x98, 0xff), QColor(0x28, 0x6b, 0xde), QColor(0x1d, 0x55, 0xb6)},
        {QColor(0x72, 0xad, 0xff), QColor(0x3a, 0x82, 0xf0), QColor(0x25, 0x64, 0xca)},
        {QColor(0x1f, 0x54, 0xb8), QColor(0x29, 0x67, 0xd4), QColor(0x17, 0x44, 0x94)},
    };
    const Shades& c = (start ? green : blue)[state];
    const bool pressed = state == 2;

    QImage img = NewCanvas(133, 65);
    Painter p(&img);
    const QRectF body = QRectF(4, 3, 125, 54).translated(0, pressed ? 1.5 : 0);
    const qreal rad = 13;
    QPainterPath shape;
    shape.addRoundedRect(body, rad, rad);

    // Drop shadow: deeper when raised, tight when pressed.
    const int alpha = pressed ? 60 : (state == 1 ? 95 : 80);
    const qreal drop = pressed ? 1.5 : 3.5;
    p.drawImage(0, 0, ShadowOf(shape.translated(0, drop), QSize(133, 65), QColor(0x10, 0x1c, 0x2e, alpha),
                               pressed ? 4 : 7));

    p.fillPath(shape, Vertical(body.top(), body.bottom(), c.top, c.bottom));
    p.save();
    p.setClipPath(shape);
    if (!pressed) {
        // Glossy upper half.
        p.fillRect(QRectF(body.left(), body.top(), body.width(), body.height() * 0.5),
                   Vertical(body.top(), body.center().y(), QColor(255, 255, 255, state == 1 ? 70 : 52),
                            QColor(255, 255, 255, 8)));
    } else {
        // Inner shadow at the top edge.
        p.fillRect(QRectF(body.left(), body.top(), body.width(), 9),
                   Vertical(body.top(), body.top() + 9, QColor(0, 0, 0, 70), QColor(0, 0, 0, 0)));
    }
    p.restore();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(c.border, 1));
    p.drawRoundedRect(body.adjusted(0.5, 0.5, -0.5, -0.5), rad - 0.5, rad - 0.5);
    if (!pressed) {
        p.setPen(QPen(QColor(255, 255, 255, 90), 1));
        p.drawRoundedRect(body.adjusted(1.5, 1.5, -1.5, -1.5), rad - 1.5, rad - 1.5);
    }

    // Glyph and word, centred as one group.
    const QString word = start ? QStringLiteral("Split") : QStringLiteral("Stop");
    const QFont f = UiFont(20, true);
    const qreal tw = QFontMetricsF(f).horizontalAdvance(word);
    const qreal gw = start ? 40 : 18;
    const qreal gap = 10;
    const qreal x0 = body.center().x() - (gw + gap + tw) / 2;
    const qreal cy = body.center().y();
    const QColor shadowInk = WithAlpha(c.border.darker(160), 110);

    if (start) {
        const ScissorsParts s = ScissorsShape(30, true);
        QTransform t;
        t.scale(0.37, 0.37);
        QPainterPath g = t.map(s.blades.united(s.handles));
        const QRectF gb = g.boundingRect();
        g.translate(x0 - gb.left() + (gw - gb.width()) / 2, cy - gb.center().y());
        p.fillPath(g.translated(0, 1), shadowInk);
        p.fillPath(g, Qt::white);
        QPainterPath screw;
        screw.addEllipse(t.map(s.screw).boundingRect().translated(x0 - gb.left() + (gw - gb.width()) / 2,
                                                                  cy - gb.center().y()));
        p.fillPath(screw, c.bottom);
    } else {
        QPainterPath sq;
        sq.addRoundedRect(QRectF(x0, cy - 9, 18, 18), 4, 4);
        p.fillPath(sq.translated(0, 1), shadowInk);
        p.fillPath(sq, Qt::white);
    }
    p.setFont(f);
    const QRectF tr(x0 + gw + gap, body.top(), tw + 4, body.height());
    p.setPen(shadowInk);
    p.drawText(tr.translated(0, 1), Qt::AlignLeft | Qt::AlignVCenter, word);
    p.setPen(Qt::white);
    p.drawText(tr, Qt::AlignLeft | Qt::AlignVCenter, word);
    return img;
}

// ---- icons

QLinearGradient LightFill(qreal top, qreal bottom)
{
    return Vertical(top, bottom, QColor(0xfb, 0xfd, 0xff), pal::lightShade);
}

QImage IconOpen()
{
    QImage img = NewCanvas(32, 32);
    Painter p(&img);
    const QRectF r(2, 5, 25, 20);
    p.fillPath(FolderBack(r), pal::lightShade);
    p.fillPath(FolderFront(r), LightFill(r.top() + 6, r.bottom()));
    // Play badge.
    p.setPen(Qt::NoPen);
    p.setBrush(pal::slateBottom);
    p.drawEllipse(QPointF(23.5, 22.5), 8.5, 8.5);
    p.setBrush(Vertical(15, 30, QColor(0x4c, 0xdc, 0x8e), pal::greenDark));
    p.drawEllipse(QPointF(23.5, 22.5), 7, 7);
    p.fillPath(PlayTriangle(QRectF(21.2, 18.8, 6.6, 7.4)), Qt::white);
    return img;
}

QImage IconSettings()
{
    QImage img = NewCanvas(32, 32);
    Painter p(&img);
    const QPainterPath gear = GearPath(QPointF(16, 16), 14.5, 10.8, 4.6, 8);
    p.fillPath(gear, LightFill(2, 30));
    QPainterPath inner;
    inner.addEllipse(QPointF(16, 16), 8.2, 8.2);
    QPainterPath hole;
    hole.addEllipse(QPointF(16, 16), 4.6, 4.6);
    p.setPen(QPen(QColor(0x8d, 0x9d, 0xb5), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(inner);
    return img;
}

QPainterPath TextGlyph(const QString& text, const QFont& f, QPointF centre)
{
    QPainterPath t;
    t.addText(0, 0, f, text);
    const QRectF b = t.boundingRect();
    return t.translated(centre - b.center());
}

QImage IconCircleGlyph(const QString& glyph, bool info)
{
    QImage img = NewCanvas(32, 32);
    Painter p(&img);
    QPainterPath disc;
    disc.addEllipse(QPointF(16, 16), 14, 14);
    QPainterPath cut;
    if (info) {
        cut.addEllipse(QPointF(16, 9.3), 2.4, 2.4);
        cut.addRoundedRect(QRectF(13.8, 13.2, 4.4, 11.6), 1.4, 1.4);
    } else {
        cut = TextGlyph(glyph, UiFont(22, true), QPointF(16, 16.2));
    }
    p.fillPath(disc.subtracted(cut), LightFill(2, 30));
    return img;
}

QImage PreviewIcon(int which)
{
    QImage img = NewCanvas(24, 24);
    Painter p(&img);
    const QLinearGradient fill = Vertical(3, 21, QColor(0xfb, 0xfd, 0xff), pal::lightShade);
    QPainterPath path;
    switch (which) {
    case 0: // play
        p.fillPath(PlayTriangle(QRectF(7, 3.5, 13.5, 17)), fill);
        break;
    case 1: // pause
        path.addRoundedRect(QRectF(5.5, 4, 5, 16), 1.5, 1.5);
        path.addRoundedRect(QRectF(13.5, 4, 5, 16), 1.5, 1.5);
        p.fillPath(path, fill);
        break;
    case 2: // stop
        path.addRoundedRect(QRectF(5, 5, 14, 14), 2.5, 2.5);
        p.fillPath(path, fill);
        break;
    case 3:   // start mark: bracket, and the range running off to the right
    case 4: { // end mark: mirrored
        p.save();
        if (which == 4) {
            p.translate(24, 0);
            p.scale(-1, 1);
        }
        QPainterPath br;
        br.moveTo(9.5, 3.5);
        br.lineTo(5, 3.5);
        br.lineTo(5, 20.5);
        br.lineTo(9.5, 20.5);
        p.setPen(QPen(pal::amber, 2.6, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(br);
        p.setPen(QPen(QBrush(fill), 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(10, 12), QPointF(16.5, 12));
        QPainterPath head;
        head.moveTo(15, 7);
        head.lineTo(21.5, 12);
        head.lineTo(15, 17);
        head.closeSubpath();
        p.setPen(QPen(QBrush(fill), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(fill);
        p.drawPath(head);
        p.restore();
        break;
    }
    case 5: { // clear: the marks with a cross between them
        QPainterPath br;
        br.moveTo(6, 4.5);
        br.lineTo(3, 4.5);
        br.lineTo(3, 19.5);
        br.lineTo(6, 19.5);
        br.moveTo(18, 4.5);
        br.lineTo(21, 4.5);
        br.lineTo(21, 19.5);
        br.lineTo(18, 19.5);
        p.setPen(QPen(pal::amber, 2.2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(br);
        p.setPen(QPen(QBrush(fill), 2.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8.5, 8.5), QPointF(15.5, 15.5));
        p.drawLine(QPointF(15.5, 8.5), QPointF(8.5, 15.5));
        break;
    }
    }
    return img;
}

QImage IconDetail()
{
    QImage img = NewCanvas(16, 16);
    Painter p(&img);
    const qreal ys[3] = {3.5, 8, 12.5};
    const qreal knobs[3] = {10.5, 5, 9};
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(QColor(0x6a, 0x7b, 0x93), 1.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(1.5, ys[i]), QPointF(14.5, ys[i]));
        p.setPen(QPen(pal::ink, 1.2));
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(knobs[i], ys[i]), 2.2, 2.2);
    }
    return img;
}

QImage IconBrowse()
{
    QImage img = NewCanvas(16, 16);
    Painter p(&img);
    const QRectF r(1.5, 2.5, 12.5, 11);
    p.setPen(QPen(QColor(0x8a, 0x62, 0x10), 1));
    p.setBrush(QColor(0xe9, 0xb4, 0x3c));
    p.drawPath(FolderBack(r));
    p.setBrush(Vertical(6, 14, QColor(0xff, 0xe0, 0x8a), QColor(0xf4, 0xc1, 0x4f)));
    p.drawPath(FolderFront(r));
    return img;
}

QImage IconCountdown()
{
    QImage img = NewCanvas(32, 32);
    Painter p(&img);
    const QPointF c(16, 17.5);
    // Crown and side button of a stopwatch.
    p.setPen(Qt::NoPen);
    p.setBrush(pal::blueDark);
    p.drawRoundedRect(QRectF(13, 1.5, 6, 3.2), 1, 1);
    p.drawRect(QRectF(15, 4, 2, 2.5));
    p.save();
    p.translate(c);
    p.rotate(45);
    p.drawRoundedRect(QRectF(-1.5, -15.5, 3, 3.5), 0.8, 0.8);
    p.restore();
    // Case and face.
    p.setBrush(Vertical(4, 31, QColor(0x5a, 0x9c, 0xff), pal::blueDark));
    p.drawEllipse(c, 13.2, 13.2);
    p.setBrush(Vertical(6, 29, QColor(0xff, 0xff, 0xff), QColor(0xe4, 0xeb, 0xf4)));
    p.drawEllipse(c, 10.4, 10.4);
    // Time left: a wedge from twelve o'clock.
    p.setBrush(QColor(0x3a, 0x86, 0xf4, 70));
    p.drawPie(QRectF(c.x() - 10.4, c.y() - 10.4, 20.8, 20.8), 90 * 16, -120 * 16);
    // Ticks.
    p.setPen(QPen(pal::ink, 1.2, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 4; ++i) {
        p.save();
        p.translate(c);
        p.rotate(90 * i);
        p.drawLine(QPointF(0, -9), QPointF(0, -7.4));
        p.restore();
    }
    // Hand.
    p.setPen(QPen(QColor(0xd9, 0x3b, 0x3b), 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, QPointF(c.x() + 6.2, c.y() + 3.6));
    p.setPen(QPen(pal::ink, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, QPointF(c.x(), c.y() - 7));
    p.setPen(Qt::NoPen);
    p.setBrush(pal::ink);
    p.drawEllipse(c, 1.6, 1.6);
    return img;
}

QImage ProgramIcon() { return ProgramIconImage(256); }

} // namespace

void PaintProgramIcon(QPainter& p, int size, bool withShadow)
{
    // From 48 px up the tile keeps the proportions of the 256 px icon and casts a shadow;
    // below that it fills the square, so the few pixels go to the picture.
    const qreal f = size / 256.0;
    if (size >= 48) {
        const QRectF tile(12 * f, 10 * f, 232 * f, 232 * f);
        if (withShadow) {
            QPainterPath shape;
            shape.addRoundedRect(tile, tile.width() * 0.22, tile.height() * 0.22);
            p.drawImage(0, 0, ShadowOf(shape.translated(0, 4 * f), QSize(size, size), QColor(0, 0, 0, 110),
                                       qRound(10 * f)));
        }
        DrawLogo(p, tile);
    } else {
        DrawLogo(p, QRectF(0.5, 0.5, size - 1, size - 1));
    }
}

QImage ProgramIconImage(int size)
{
    QImage img = NewCanvas(size, size);
    Painter p(&img);
    PaintProgramIcon(p, size, true);
    return img;
}

std::vector<Picture> AllPictures()
{
    std::vector<Picture> v;
    auto add = [&v](const char* name, QImage img) { v.push_back({QString::fromLatin1(name), std::move(img)}); };
    add("toolbar.png", Toolbar());
    add("preview_bg.png", PreviewBackground());
    add("job_bg.png", JobBackground());
    add("progress_bg.png", ProgressBackground());
    add("banner.png", Banner());
    add("start_normal.png", Face(true, 0));
    add("start_hover.png", Face(true, 1));
    add("start_pressed.png", Face(true, 2));
    add("stop_normal.png", Face(false, 0));
    add("stop_hover.png", Face(false, 1));
    add("stop_pressed.png", Face(false, 2));
    add("open.png", IconOpen());
    add("settings.png", IconSettings());
    add("about.png", IconCircleGlyph(QString(), true));
    add("help.png", IconCircleGlyph(QStringLiteral("?"), false));
    add("play.png", PreviewIcon(0));
    add("pause.png", PreviewIcon(1));
    add("stop.png", PreviewIcon(2));
    add("selstart.png", PreviewIcon(3));
    add("selend.png", PreviewIcon(4));
    add("clear.png", PreviewIcon(5));
    add("detail.png", IconDetail());
    add("browse.png", IconBrowse());
    add("veltrane.png", ProgramIcon());
    add("countdown.png", IconCountdown());
    add("about_bg.png", AboutBackground());
    return v;
}
