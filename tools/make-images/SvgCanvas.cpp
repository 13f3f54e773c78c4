#include "SvgCanvas.h"

#include <QBuffer>
#include <QGradient>
#include <QImage>
#include <QMap>
#include <QPaintEngine>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPen>
#include <QPixmap>
#include <QTransform>
#include <QVector>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

namespace {

QByteArray Num(qreal v, int decimals = 3)
{
    QByteArray s = QByteArray::number(v, 'f', decimals);
    while (s.endsWith('0'))
        s.chop(1);
    if (s.endsWith('.'))
        s.chop(1);
    return s == "-0" ? QByteArray("0") : s;
}

QByteArray PathData(const QPainterPath& path)
{
    // A subpath that ends where it began is closed, as Qt treats it when stroking.
    QByteArray d;
    QPointF start, last;
    auto closeIfRound = [&] {
        if (!d.isEmpty() && std::abs(start.x() - last.x()) < 1e-6 && std::abs(start.y() - last.y()) < 1e-6)
            d += 'Z';
    };
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        switch (e.type) {
        case QPainterPath::MoveToElement:
            closeIfRound();
            d += 'M' + Num(e.x) + ' ' + Num(e.y);
            start = e;
            break;
        case QPainterPath::LineToElement:
            d += 'L' + Num(e.x) + ' ' + Num(e.y);
            break;
        case QPainterPath::CurveToElement:
            d += 'C' + Num(e.x) + ' ' + Num(e.y);
            break;
        case QPainterPath::CurveToDataElement:
            d += ' ' + Num(e.x) + ' ' + Num(e.y);
            break;
        }
        last = e;
    }
    closeIfRound();
    return d;
}

QByteArray FillRule(const QPainterPath& path)
{
    return path.fillRule() == Qt::OddEvenFill ? "evenodd" : "nonzero";
}

QByteArray Matrix(const QTransform& t)
{
    return "matrix(" + Num(t.m11(), 6) + ' ' + Num(t.m12(), 6) + ' ' + Num(t.m21(), 6) + ' ' + Num(t.m22(), 6)
           + ' ' + Num(t.dx()) + ' ' + Num(t.dy()) + ')';
}

QByteArray Rgb(const QColor& c) { return QColor(c.rgb()).name().toLatin1(); }

// The factor a turn-and-scale transform applies to every length; 0 when lengths change
// with their direction (a plain SVG stroke cannot follow those).
qreal UniformScale(const QTransform& t)
{
    if (t.type() > QTransform::TxRotate)
        return 0;
    const qreal sx = std::hypot(t.m11(), t.m12());
    const qreal sy = std::hypot(t.m21(), t.m22());
    return std::abs(sx - sy) <= 1e-9 * std::max<qreal>(1.0, sx) ? sx : 0;
}

QByteArray StrokeAttributes(const QPen& pen, qreal width)
{
    QByteArray a = " stroke-width=\"" + Num(width) + '"';
    switch (pen.capStyle()) {
    case Qt::FlatCap:
        break; // the SVG default, "butt"
    case Qt::RoundCap:
        a += " stroke-linecap=\"round\"";
        break;
    default:
        a += " stroke-linecap=\"square\"";
        break;
    }
    switch (pen.joinStyle()) {
    case Qt::RoundJoin:
        a += " stroke-linejoin=\"round\"";
        break;
    case Qt::BevelJoin:
        a += " stroke-linejoin=\"bevel\"";
        break;
    default:
        a += " stroke-miterlimit=\"" + Num(pen.miterLimit()) + '"';
        break;
    }
    return a;
}

} // namespace

class SvgPaintEngine : public QPaintEngine {
public:
    SvgPaintEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}

    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    Type type() const override { return QPaintEngine::User; }

    void updateState(const QPaintEngineState& s) override
    {
        const DirtyFlags f = s.state();
        if (f & DirtyTransform)
            m_xf = s.transform();
        if (f & DirtyPen)
            m_pen = s.pen();
        if (f & DirtyBrush)
            m_brush = s.brush();
        if (f & DirtyOpacity)
            m_opacity = s.opacity();
        if (f & DirtyClipEnabled)
            m_clipEnabled = s.isClipEnabled();
        if (f & (DirtyClipPath | DirtyClipRegion)) {
            QPainterPath clip;
            if (f & DirtyClipPath) {
                clip = s.clipPath();
            } else {
                clip.addRegion(s.clipRegion());
            }
            switch (s.clipOperation()) {
            case Qt::NoClip:
                m_clips.clear();
                m_clipEnabled = false;
                break;
            case Qt::ReplaceClip:
                m_clips = {ClipId(m_xf.map(clip))};
                m_clipEnabled = true;
                break;
            case Qt::IntersectClip:
                m_clips.append(ClipId(m_xf.map(clip)));
                m_clipEnabled = true;
                break;
            }
        }
    }

    void drawPath(const QPainterPath& path) override
    {
        if (m_brush.style() != Qt::NoBrush)
            Emit(m_xf.map(path), m_brush, path.fillRule());
        if (m_pen.style() == Qt::NoPen || m_pen.brush().style() == Qt::NoBrush)
            return;
        // A solid line under a turn-and-scale transform is an SVG stroke; anything else
        // becomes the filled outline Qt would paint.
        const qreal scale = m_pen.isCosmetic() ? 1.0 : UniformScale(m_xf);
        if (m_pen.style() == Qt::SolidLine && scale > 0) {
            const qreal width = m_pen.isCosmetic() ? std::max<qreal>(1.0, m_pen.widthF()) : m_pen.widthF() * scale;
            qreal alpha = 1.0;
            const QByteArray paint = Paint(m_pen.brush(), &alpha);
            alpha *= m_opacity;
            QByteArray e = "<path fill=\"none\" stroke=\"" + paint + '"';
            if (alpha < 1.0)
                e += " stroke-opacity=\"" + Num(alpha) + '"';
            e += StrokeAttributes(m_pen, width) + " d=\"" + PathData(m_xf.map(path)) + "\"/>";
            Append(e);
            return;
        }
        QPainterPathStroker stroker(m_pen);
        if (m_pen.isCosmetic()) {
            stroker.setWidth(std::max<qreal>(1.0, m_pen.widthF()));
            Emit(stroker.createStroke(m_xf.map(path)), m_pen.brush(), Qt::WindingFill);
        } else {
            Emit(m_xf.map(stroker.createStroke(path)), m_pen.brush(), Qt::WindingFill);
        }
    }

    void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override
    {
        QPainterPath path(points[0]);
        for (int i = 1; i < count; ++i)
            path.lineTo(points[i]);
        if (mode == PolylineMode) {
            const QBrush keep = m_brush;
            m_brush = Qt::NoBrush;
            drawPath(path);
            m_brush = keep;
            return;
        }
        path.closeSubpath();
        path.setFillRule(mode == OddEvenMode ? Qt::OddEvenFill : Qt::WindingFill);
        drawPath(path);
    }

    void drawPixmap(const QRectF& r, const QPixmap& pm, const QRectF& sr) override
    {
        drawImage(r, pm.toImage(), sr, Qt::AutoColor);
    }

    void drawImage(const QRectF& r, const QImage& image, const QRectF& sr, Qt::ImageConversionFlags) override
    {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.copy(sr.toAlignedRect()).convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG");
        QByteArray e = "<image x=\"" + Num(r.x()) + "\" y=\"" + Num(r.y()) + "\" width=\"" + Num(r.width())
                       + "\" height=\"" + Num(r.height()) + "\" preserveAspectRatio=\"none\" transform=\""
                       + Matrix(m_xf) + '"' + OpacityAttr(m_opacity) + " xlink:href=\"data:image/png;base64,"
                       + png.toBase64() + "\"/>";
        Append(e);
    }

    QByteArray defs;
    QByteArray body;

private:
    QByteArray OpacityAttr(qreal opacity) const
    {
        return opacity < 1.0 ? " opacity=\"" + Num(opacity) + '"' : QByteArray();
    }

    int ClipId(const QPainterPath& devicePath)
    {
        const QByteArray key = FillRule(devicePath) + PathData(devicePath);
        auto it = m_clipIds.constFind(key);
        if (it != m_clipIds.constEnd())
            return it.value();
        const int id = ++m_nextId;
        m_clipIds.insert(key, id);
        defs += "<clipPath id=\"c" + QByteArray::number(id) + "\"><path clip-rule=\"" + FillRule(devicePath)
                + "\" d=\"" + PathData(devicePath) + "\"/></clipPath>\n";
        return id;
    }

    // A paint for the brush; its gradient's coordinates follow the painter's transform.
    QByteArray Paint(const QBrush& brush, qreal* fillOpacity)
    {
        *fillOpacity = 1.0;
        const QGradient* g = brush.gradient();
        if (!g || (g->type() != QGradient::LinearGradient && g->type() != QGradient::RadialGradient)) {
            QColor c = brush.color();
            if (g && !g->stops().isEmpty())
                c = g->stops().first().second; // no SVG counterpart: its first colour
            *fillOpacity = c.alphaF();
            return Rgb(c);
        }
        const QByteArray id = "g" + QByteArray::number(++m_nextId);
        const QTransform t = brush.transform() * m_xf;
        QByteArray e;
        if (g->type() == QGradient::LinearGradient) {
            const auto* lg = static_cast<const QLinearGradient*>(g);
            e = "<linearGradient id=\"" + id + "\" gradientUnits=\"userSpaceOnUse\" x1=\"" + Num(lg->start().x())
                + "\" y1=\"" + Num(lg->start().y()) + "\" x2=\"" + Num(lg->finalStop().x()) + "\" y2=\""
                + Num(lg->finalStop().y()) + '"';
        } else {
            const auto* rg = static_cast<const QRadialGradient*>(g);
            e = "<radialGradient id=\"" + id + "\" gradientUnits=\"userSpaceOnUse\" cx=\"" + Num(rg->center().x())
                + "\" cy=\"" + Num(rg->center().y()) + "\" r=\"" + Num(rg->radius()) + "\" fx=\""
                + Num(rg->focalPoint().x()) + "\" fy=\"" + Num(rg->focalPoint().y()) + '"';
        }
        if (!t.isIdentity())
            e += " gradientTransform=\"" + Matrix(t) + '"';
        if (g->spread() == QGradient::ReflectSpread)
            e += " spreadMethod=\"reflect\"";
        else if (g->spread() == QGradient::RepeatSpread)
            e += " spreadMethod=\"repeat\"";
        e += '>';
        for (const QGradientStop& stop : g->stops()) {
            e += "<stop offset=\"" + Num(stop.first) + "\" stop-color=\"" + Rgb(stop.second) + '"';
            if (stop.second.alpha() != 255)
                e += " stop-opacity=\"" + Num(stop.second.alphaF()) + '"';
            e += "/>";
        }
        e += g->type() == QGradient::LinearGradient ? "</linearGradient>\n" : "</radialGradient>\n";
        defs += e;
        return "url(#" + id + ')';
    }

    void Emit(const QPainterPath& devicePath, const QBrush& brush, Qt::FillRule rule)
    {
        if (devicePath.isEmpty())
            return;
        qreal alpha = 1.0;
        const QByteArray fill = Paint(brush, &alpha);
        alpha *= m_opacity;
        QByteArray e = "<path fill=\"" + fill + '"';
        if (alpha < 1.0)
            e += " fill-opacity=\"" + Num(alpha) + '"';
        if (rule == Qt::OddEvenFill)
            e += " fill-rule=\"evenodd\"";
        e += " d=\"" + PathData(devicePath) + "\"/>";
        Append(e);
    }

    // Wraps the element in one group per clip that is in force.
    void Append(const QByteArray& element)
    {
        QByteArray open, close;
        if (m_clipEnabled) {
            for (int id : m_clips) {
                open += "<g clip-path=\"url(#c" + QByteArray::number(id) + ")\">";
                close += "</g>";
            }
        }
        body += open + element + close + '\n';
    }

    QTransform m_xf;
    QPen m_pen;
    QBrush m_brush;
    qreal m_opacity = 1.0;
    bool m_clipEnabled = false;
    QVector<int> m_clips;
    QMap<QByteArray, int> m_clipIds;
    int m_nextId = 0;
};

SvgCanvas::SvgCanvas(QSize size) : m_size(size), m_engine(std::make_unique<SvgPaintEngine>()) {}

SvgCanvas::~SvgCanvas() = default;

QPaintEngine* SvgCanvas::paintEngine() const { return m_engine.get(); }

QByteArray SvgCanvas::document() const
{
    const QByteArray w = QByteArray::number(m_size.width());
    const QByteArray h = QByteArray::number(m_size.height());
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\""
           + w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w + ' ' + h + "\">\n<defs>\n" + m_engine->defs
           + "</defs>\n" + m_engine->body + "</svg>\n";
}

int SvgCanvas::metric(PaintDeviceMetric metric) const
{
    switch (metric) {
    case PdmWidth:
        return m_size.width();
    case PdmHeight:
        return m_size.height();
    case PdmWidthMM:
        return qRound(m_size.width() * 25.4 / 96);
    case PdmHeightMM:
        return qRound(m_size.height() * 25.4 / 96);
    case PdmNumColors:
        return INT_MAX;
    case PdmDepth:
        return 32;
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY:
        return 96;
    case PdmDevicePixelRatio:
        return 1;
    case PdmDevicePixelRatioScaled:
        return qRound(devicePixelRatioFScale());
    }
    return 0;
}
