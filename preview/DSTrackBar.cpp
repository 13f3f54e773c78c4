#include "preview/DSTrackBar.h"

#include <algorithm>
#include "app/VtError.h"
#include "preview/RangeMath.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace {
const QColor kChannel(0x14, 0x1c, 0x2a);
const QColor kChannelEdge(0x4b, 0x5b, 0x76);
const QColor kTick(0x8d, 0x9b, 0xb0);
const QColor kSelection(0xff, 0xd1, 0x66); // the colour of the range marks under the bar
const QColor kThumb(0xe8, 0xed, 0xf3);
const QColor kThumbHover(0xff, 0xff, 0xff);
const QColor kThumbEdge(0x9f, 0xb0, 0xc8);
const QColor kThumbFocus(0x5a, 0xa0, 0xff);
const QColor kDisabled(0x5d, 0x68, 0x78);
const QColor kKeyFrame(0x3d, 0xe0, 0xff);
} // namespace

TDSTrackBar::TDSTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent)
{
    setRange(0, 10);
    setSingleStep(1); // LineSize
    setPageStep(2);   // PageSize
    setTracking(true);
    setAttribute(Qt::WA_Hover);
    setMouseTracking(true);
    m_timer.setObjectName(QStringLiteral("TrackBarTimer"));
    connect(&m_timer, &QTimer::timeout, this, &TDSTrackBar::Tick);
    m_repeat.setSingleShot(false);
    connect(&m_repeat, &QTimer::timeout, this, [this] {
        m_repeat.setInterval(100);
        if (!m_mouseDown || ThumbRect().adjusted(-1, 0, 1, 0).contains(m_pageTarget, ThumbRect().center().y())) {
            m_repeat.stop();
            return;
        }
        PageTowards(m_pageTarget);
    });
    // The whole bar is the stretch shown until zoomed: it changes with the range.
    connect(this, &QSlider::rangeChanged, this, [this] {
        if (!m_zoomed)
            emit ViewChanged();
    });
    // A position set in whole seconds (keys, paging, the form) moves the exact thumb along.
    connect(this, &QSlider::valueChanged, this, [this](int v) {
        if (m_thumbUs / UnitUs() != v)
            m_thumbUs = qint64(v) * UnitUs();
    });
}

TDSTrackBar::~TDSTrackBar()
{
    if (m_graph)
        m_graph->Detach(this);
}

void TDSTrackBar::SetFilterGraph(TFilterGraph* graph)
{
    if (m_graph && m_graph != graph)
        m_graph->Detach(this);
    FilterGraph = graph;
    m_graph = graph;
    m_seeking = graph ? graph->MediaSeeking() : nullptr;
    if (graph)
        graph->Attach(this);
}

void TDSTrackBar::SetSelStart(int s)
{
    m_selStart = s;
    update();
}

void TDSTrackBar::SetSelEnd(int s)
{
    m_selEnd = s;
    update();
}

void TDSTrackBar::SetFrequency(int f)
{
    m_frequency = f;
    update();
}

void TDSTrackBar::SetThumbLength(int l)
{
    m_thumbLength = qMax(1, l);
    update();
}

void TDSTrackBar::SetTimerInterval(int ms)
{
    m_timerInterval = ms;
    UpdateTimer();
}

void TDSTrackBar::UpdateTimer()
{
    m_timer.stop();
    if (m_timerInterval != 0 && m_timerEnabled) {
        m_timer.start(m_timerInterval);
        if (!m_timer.isActive())
            throw EVeltraneError(QStringLiteral("Not enough timers available"));
    }
}

void TDSTrackBar::ControlEvent(TControlEvent event, int param)
{
    switch (event) {
    case TControlEvent::Play:
        // Runs only if the bar itself was enabled when playback started.
        m_timerEnabled = !testAttribute(Qt::WA_ForceDisabled);
        UpdateTimer();
        break;
    case TControlEvent::Pause:
    case TControlEvent::Stop:
        m_timerEnabled = false;
        UpdateTimer();
        break;
    case TControlEvent::Active:
        m_seeking = (param != 0 && m_graph) ? m_graph->MediaSeeking() : nullptr;
        break;
    case TControlEvent::Rendering:
    case TControlEvent::Rendered:
        break;
    }
}

void TDSTrackBar::Tick()
{
    if (!m_seeking || m_mouseDown)
        return;
    qint64 d = 0;
    qint64 c = 0;
    if (!m_seeking->GetDuration(d) || !m_seeking->GetCurrentPosition(c))
        return;
    const qint64 unit = m_timerInterval > 0 ? m_timerInterval : 1000;
    setMinimum(0);
    setMaximum(int(quint64(d) / quint64(unit)));
    setValue(int(quint64(c) / quint64(unit)));
    if (m_zoomed) {
        m_thumbUs = c * 1000;
        SetView(TimelineZoom::Follow(m_view, m_thumbUs, TimelineUs()));
        update();
    }
    emit OnTimer(this, quint32(c), quint32(d));
}

// ---- geometry

int TDSTrackBar::ThumbWidth() const
{
    return m_thumbLength + 3;
}

int TDSTrackBar::Margin() const
{
    return ThumbWidth() / 2 + 3;
}

int TDSTrackBar::ChannelTop() const
{
    return m_thumbLength - 2;
}

int TDSTrackBar::PixelOfPosition(int position) const
{
    if (m_zoomed)
        return int(std::lround(PixelOfTime(qint64(position) * UnitUs())));
    const int m = Margin();
    const int span = width() - 1 - 2 * m;
    const qint64 range = qint64(maximum()) - minimum();
    if (range <= 0 || span <= 0)
        return m;
    const qint64 p = qint64(qBound(minimum(), position, maximum())) - minimum();
    return m + int(std::lround(double(p) * span / double(range)));
}

int TDSTrackBar::PositionOfPixel(int x) const
{
    if (m_zoomed) {
        const qint64 t = TimelineZoom::TimeOfX(m_view, x, Margin(), width() - 1 - 2 * Margin());
        return qBound(minimum(), int(t / UnitUs()), maximum());
    }
    const int m = Margin();
    const int span = width() - 1 - 2 * m;
    const qint64 range = qint64(maximum()) - minimum();
    if (range <= 0 || span <= 0)
        return minimum();
    const double v = minimum() + double(x - m) * range / span;
    return int(qBound<double>(minimum(), std::lround(v), maximum()));
}

QRect TDSTrackBar::ThumbRect() const
{
    const int w = ThumbWidth();
    const int cx = m_zoomed ? int(std::lround(PixelOfTime(ThumbUs()))) : PixelOfPosition(value());
    return QRect(cx - w / 2, 1, w, 2 * m_thumbLength);
}

// ---- mouse

void TDSTrackBar::PageTowards(int x)
{
    const int centre = ThumbRect().center().x();
    const int before = value();
    if (x < centre)
        setValue(value() - pageStep());
    else if (x > centre)
        setValue(value() + pageStep());
    if (value() != before)
        emit UserMoved();
}

void TDSTrackBar::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) {
        e->accept();
        return;
    }
    if (focusPolicy() & Qt::ClickFocus)
        setFocus(Qt::MouseFocusReason);
    // Ticks leave the thumb alone until the button is released.
    m_mouseDown = true;
    const int x = e->position().toPoint().x();
    if (ThumbRect().adjusted(-1, 0, 1, 0).contains(x, ThumbRect().center().y())) {
        m_dragging = true;
        m_dragOffset = x - (m_zoomed ? int(std::lround(PixelOfTime(ThumbUs()))) : PixelOfPosition(value()));
    } else {
        m_pageTarget = x;
        PageTowards(x);
        m_repeat.start(500);
    }
    update();
    e->accept();
}

void TDSTrackBar::mouseMoveEvent(QMouseEvent* e)
{
    const int x = e->position().toPoint().x();
    if (m_dragging && m_zoomed) {
        // Zoomed in, the thumb moves by pictures, not by whole seconds.
        const qint64 before = m_thumbUs;
        m_thumbUs = TimelineZoom::TimeOfX(m_view, x - m_dragOffset, Margin(), width() - 1 - 2 * Margin());
        setValue(int(m_thumbUs / UnitUs()));
        update();
        if (m_thumbUs != before)
            emit UserMoved();
    } else if (m_dragging) {
        const int before = value();
        setValue(PositionOfPixel(x - m_dragOffset));
        if (value() != before)
            emit UserMoved();
    } else if (m_repeat.isActive()) {
        m_pageTarget = x;
    }
    const bool hover = ThumbRect().contains(e->position().toPoint());
    if (hover != m_hover) {
        m_hover = hover;
        update();
    }
    e->accept();
}

void TDSTrackBar::mouseReleaseEvent(QMouseEvent* e)
{
    m_mouseDown = false;
    m_dragging = false;
    m_repeat.stop();
    update();
    e->accept();
    if (e->button() == Qt::LeftButton)
        SeekToThumb();
}

void TDSTrackBar::SeekToThumb()
{
    // The thumb's share of the stop position; with Max 0 there is no share to take.
    if (!m_seeking || maximum() == 0)
        return;
    if (m_zoomed) {
        // To the millisecond at or after the thumb, so its picture is the one shown.
        m_seeking->SetPositions((m_thumbUs + 999) / 1000);
        return;
    }
    qint64 stop = 0;
    if (!m_seeking->GetStopPosition(stop))
        return;
    m_seeking->SetPositions(stop * qint64(value()) / qint64(maximum()));
}

// A key or the wheel moves the thumb the way the mouse does, and the picture follows.
void TDSTrackBar::keyPressEvent(QKeyEvent* e)
{
    const int before = value();
    QSlider::keyPressEvent(e);
    if (value() != before) {
        SeekToThumb();
        emit UserMoved();
    }
}

void TDSTrackBar::wheelEvent(QWheelEvent* e)
{
    if (e->modifiers() & Qt::ControlModifier) {
        const int notches = e->angleDelta().y() / 120;
        if (notches != 0)
            Zoom(notches);
        e->accept();
        return;
    }
    const int before = value();
    QSlider::wheelEvent(e);
    if (value() != before) {
        SeekToThumb();
        emit UserMoved();
    }
}

void TDSTrackBar::enterEvent(QEnterEvent* e)
{
    QSlider::enterEvent(e);
    update();
}

void TDSTrackBar::leaveEvent(QEvent* e)
{
    QSlider::leaveEvent(e);
    m_hover = false;
    update();
}

// ---- drawing

void TDSTrackBar::SetSplitPoints(const QList<double>& seconds)
{
    m_splitPoints = seconds;
    update();
}

void TDSTrackBar::SetRanges(const QList<QPair<double, double>>& ranges, int highlighted)
{
    m_ranges = ranges;
    m_highlighted = highlighted;
    update();
}

void TDSTrackBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const bool enabled = isEnabled();
    const int m = Margin();
    const int left = m;
    const int right = width() - 1 - m;
    const int top = ChannelTop();
    const int chH = 6;

    // Channel.
    QRectF channel(left - 2, top, right - left + 4, chH);
    p.setPen(QPen(enabled ? kChannelEdge : kDisabled, 1));
    p.setBrush(kChannel);
    p.drawRoundedRect(channel.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);

    // Key frames: where a cut that copies the video can fall.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(enabled ? kKeyFrame : kDisabled, 1));
    for (int x : KeyFramePixels())
        p.drawLine(x, top - 3, x, top + chH + 2);
    p.setRenderHint(QPainter::Antialiasing, true);

    // Selection: the marked range, as a band in the channel and two marks under it.
    const int lo = qMin(m_selStart, m_selEnd);
    const int hi = qMax(m_selStart, m_selEnd);
    const bool hasSelection = m_selStart != 0 || m_selEnd != 0;
    if (hasSelection) {
        const QColor sel = enabled ? kSelection : kDisabled;
        const int x0 = PixelOfPosition(lo);
        const int x1 = PixelOfPosition(hi);
        if (x1 > x0) {
            p.setPen(Qt::NoPen);
            p.setBrush(sel);
            p.drawRoundedRect(QRectF(x0, top + 1.5, x1 - x0, chH - 3), 1.5, 1.5);
        }
    }

    // Segments: thin bars just under the channel, the selected one brighter.
    if (!m_ranges.isEmpty() && maximum() > minimum()) {
        const double x0 = PixelOfPosition(minimum());
        const double perPosition = (PixelOfPosition(maximum()) - x0) / double(qint64(maximum()) - minimum());
        p.setPen(Qt::NoPen);
        for (int i = 0; i < m_ranges.size(); ++i) {
            const double a = x0 + (m_ranges[i].first - minimum()) * perPosition;
            const double b = x0 + (m_ranges[i].second - minimum()) * perPosition;
            p.setBrush(!enabled ? kDisabled : i == m_highlighted ? QColor(0x2e, 0xe6, 0xa6) : QColor(0x1f, 0x9e, 0x8a));
            p.drawRect(QRectF(std::clamp(a, double(left), double(right)), top + chH + 1,
                              std::max(2.0, std::clamp(b, double(left), double(right)) - std::clamp(a, double(left), double(right))), 3));
        }
    }

    // Tick marks: the first and last positions and every Frequency positions between.
    const int tickTop = top + chH + 2 * m_thumbLength / 2 - 2;
    const int tickY = qMin(tickTop, height() - 6);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(enabled ? kTick : kDisabled, 1));
    auto tick = [&](int pos, int len) {
        const int x = PixelOfPosition(pos);
        p.drawLine(x, tickY, x, tickY + len);
    };
    tick(minimum(), 4);
    tick(maximum(), 4);
    // Minute ticks, or hour ticks (drawn longer) where minute ticks would crowd.
    const qint64 range = qint64(maximum()) - minimum();
    const int hour = m_timerInterval > 0 ? 3600000 / m_timerInterval : 0;
    const int step = m_zoomed ? 0 : TickStep(m_frequency, hour, range, right - left);
    if (step > 0)
        for (qint64 i = step; i < range; i += step)
            tick(minimum() + int(i), hour > 0 && i % hour == 0 ? 5 : 3);
    if (hasSelection) {
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(Qt::NoPen);
        p.setBrush(enabled ? kSelection : kDisabled);
        for (int s : {m_selStart, m_selEnd}) {
            const double x = PixelOfPosition(s) + 0.5;
            QPainterPath tri;
            tri.moveTo(x, tickY - 1);
            tri.lineTo(x - 3.5, tickY + 4);
            tri.lineTo(x + 3.5, tickY + 4);
            tri.closeSubpath();
            p.drawPath(tri);
        }
    }

    // Split points: a red line across the channel at each.
    if (!m_splitPoints.isEmpty() && maximum() > minimum()) {
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QPen(enabled ? QColor(0xd9, 0x3b, 0x3b) : kDisabled, 2));
        const double x0 = PixelOfPosition(minimum()), x1 = PixelOfPosition(maximum());
        for (double s : m_splitPoints) {
            const int x = int(std::lround(x0 + (x1 - x0) * (s - minimum()) / double(maximum() - minimum())));
            if (x < left || x > right)
                continue; // outside the stretch a zoomed bar shows
            p.drawLine(x, top - 3, x, top + chH + 3);
        }
    }

    // Thumb.
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF thumb = QRectF(ThumbRect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor face = !enabled ? kDisabled : (m_dragging || m_hover ? kThumbHover : kThumb);
    QColor edge = !enabled ? kDisabled.darker(130) : (hasFocus() ? kThumbFocus : kThumbEdge);
    if (m_dragging)
        edge = kSelection;
    p.setPen(QPen(edge, 1));
    p.setBrush(face);
    p.drawRoundedRect(thumb, 3, 3);
    if (enabled) {
        p.setPen(QPen(QColor(0x7d, 0x8c, 0xa3), 1));
        const double cx = thumb.center().x();
        p.drawLine(QPointF(cx, thumb.top() + 4), QPointF(cx, thumb.bottom() - 4));
    }
}

// ---- the timeline

qint64 TDSTrackBar::UnitUs() const
{
    return qint64(m_timerInterval > 0 ? m_timerInterval : 1000) * 1000;
}

qint64 TDSTrackBar::TimelineUs() const
{
    return m_durationUs > 0 ? m_durationUs : qint64(maximum()) * UnitUs();
}

qint64 TDSTrackBar::ThumbUs() const
{
    return m_thumbUs;
}

void TDSTrackBar::SetTimeline(qint64 durationUs, qint64 frameUs)
{
    const bool changed = durationUs != m_durationUs;
    m_durationUs = std::max<qint64>(durationUs, 0);
    m_frameUs = std::max<qint64>(frameUs, 0);
    if (changed && m_zoomed) {
        m_zoomed = false;
        emit ViewChanged();
    }
    update();
}

void TDSTrackBar::SetKeyFrames(const KeyFrameIndex& keys)
{
    m_keys = keys;
    update();
}

void TDSTrackBar::SetFrameTime(double seconds)
{
    if (!(seconds >= 0) || m_mouseDown)
        return;
    m_thumbUs = qint64(std::llround(seconds * 1e6));
    if (m_zoomed) {
        SetView(TimelineZoom::Follow(m_view, m_thumbUs, TimelineUs()));
        update();
    }
}

TimelineView TDSTrackBar::View() const
{
    if (m_zoomed)
        return m_view;
    // The whole bar: its positions run to Max, as the thumb's do.
    return TimelineZoom::Whole(maximum() > 0 ? qint64(maximum()) * UnitUs() : TimelineUs());
}

void TDSTrackBar::SetView(const TimelineView& view)
{
    if (view == m_view)
        return;
    m_view = view;
    emit ViewChanged();
}

void TDSTrackBar::Zoom(int steps)
{
    // Only a source with a known length zooms.
    const qint64 total = m_durationUs;
    if (steps == 0 || total <= 0)
        return;
    const int span = std::max(1, width() - 1 - 2 * Margin());
    const TimelineView v = TimelineZoom::Zoom(View(), m_thumbUs, std::pow(TimelineZoom::kStep, -steps), total,
                                              TimelineZoom::MinimumSpan(m_frameUs, span));
    const bool zoomed = !TimelineZoom::IsWhole(v, total);
    if (zoomed == m_zoomed && v == m_view)
        return;
    m_zoomed = zoomed;
    m_view = v;
    update();
    emit ViewChanged();
}

double TDSTrackBar::PixelOfTime(qint64 us) const
{
    const int m = Margin();
    return TimelineZoom::XOfTime(View(), us, m, width() - 1 - 2 * m);
}

QList<int> TDSTrackBar::KeyFramePixels() const
{
    QList<int> out;
    const TimelineView v = View();
    const auto [first, last] = m_keys.within(v.startUs, v.endUs() + 1);
    for (int i = first; i < last; ++i) {
        const int x = int(std::lround(PixelOfTime(m_keys.times()[size_t(i)])));
        if (out.isEmpty() || out.back() != x)
            out.append(x);
    }
    return out;
}
