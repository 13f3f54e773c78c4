#include "preview/TimelineStrip.h"
#include "preview/DSTrackBar.h"
#include "preview/TimelineLoader.h"

#include <QPainter>
#include <QWheelEvent>
#include <cmath>

namespace {
const QColor kBack(0x10, 0x16, 0x21);
const QColor kEdge(0x33, 0x41, 0x57);
const QColor kWave(0x7f, 0xc8, 0x8e);
const QColor kWaveBack(0x16, 0x1f, 0x2c);
const QColor kUnread(0x1b, 0x23, 0x31);
const QColor kPosition(0xff, 0x6b, 0x6b);
} // namespace

TTimelineStrip::TTimelineStrip(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumHeight(40);
}

void TTimelineStrip::SetLoader(TTimelineLoader* loader)
{
    m_loader = loader;
    connect(loader, &TTimelineLoader::Changed, this, [this] {
        m_columnsStale = true;
        update();
    });
}

void TTimelineStrip::SetView(const TimelineView& view)
{
    if (view == m_view)
        return;
    m_view = view;
    m_columnsStale = true;
    update();
}


void TTimelineStrip::SetPosition(double seconds)
{
    const qint64 us = seconds >= 0 ? qint64(std::llround(seconds * 1e6)) : -1;
    if (us == m_positionUs)
        return;
    m_positionUs = us;
    update();
}

QRect TTimelineStrip::Inner() const
{
    auto* bar = qobject_cast<TDSTrackBar*>(m_bar.data());
    if (!bar)
        return rect().adjusted(1, 1, -1, -1);
    const TimelineView v = bar->View();
    const int origin = mapTo(window(), QPoint(0, 0)).x();
    const int left = bar->mapTo(window(), QPoint(int(std::lround(bar->PixelOfTime(v.startUs))), 0)).x() - origin;
    const int right = bar->mapTo(window(), QPoint(int(std::lround(bar->PixelOfTime(v.endUs()))), 0)).x() - origin;
    return QRect(left, 1, std::max(1, right - left), height() - 2);
}

void TTimelineStrip::resizeEvent(QResizeEvent*)
{
    m_columnsStale = true;
}

void TTimelineStrip::wheelEvent(QWheelEvent* e)
{
    if (e->modifiers() & Qt::ControlModifier) {
        const int notches = e->angleDelta().y() / 120;
        if (notches != 0)
            emit ZoomRequested(notches);
        e->accept();
        return;
    }
    QWidget::wheelEvent(e);
}

void TTimelineStrip::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), kBack);
    const QRect inner = Inner();
    if (!m_loader || inner.width() <= 0 || m_view.spanUs <= 0)
        return;
    const TimelineData& d = m_loader->Data();
    const int picH = std::max(1, inner.height() * 3 / 5);
    const QRect pics(inner.left(), inner.top(), inner.width(), picH);
    const QRect wave(inner.left(), inner.top() + picH + 1, inner.width(), inner.height() - picH - 1);
    p.setClipRect(inner);

    // Pictures: one per slot of the picture's width, the nearest kept picture at or
    // before the slot's time.
    if (d.thumbWidth > 0 && d.thumbHeight > 0 && !d.thumbs.empty()) {
        const int slotW = std::max(8, picH * d.thumbWidth / d.thumbHeight);
        for (int x = pics.left(); x < pics.right(); x += slotW) {
            const qint64 t = TimelineZoom::TimeOfX(m_view, x, inner.left(), inner.width());
            const int i = d.thumbAt(t);
            if (i < 0)
                continue;
            const TimelineThumb& th = d.thumbs[size_t(i)];
            // The bytes stay in the data while the picture is drawn.
            const QImage img(reinterpret_cast<const uchar*>(th.rgb.constData()), d.thumbWidth, d.thumbHeight,
                             d.thumbWidth * 3, QImage::Format_RGB888);
            p.drawImage(QRect(x, pics.top(), slotW - 1, picH), img);
        }
    } else {
        p.fillRect(pics, kUnread);
    }

    // Waveform.
    p.fillRect(wave, kWaveBack);
    if (m_columnsStale || int(m_columns.size()) != wave.width()) {
        m_columns = PeakColumns(d.peaks, m_view.startUs, m_view.spanUs, wave.width());
        m_columnsStale = false;
    }
    p.setPen(kWave);
    const double mid = wave.top() + wave.height() / 2.0;
    const double half = (wave.height() - 1) / 2.0;
    for (int c = 0; c < int(m_columns.size()); ++c) {
        const PeakColumn& col = m_columns[size_t(c)];
        if (!col.known)
            continue;
        const int y0 = int(std::lround(mid - col.max / 127.0 * half));
        const int y1 = int(std::lround(mid - col.min / 127.0 * half));
        p.drawLine(wave.left() + c, y0, wave.left() + c, std::max(y0, y1));
    }

    // The picture shown.
    if (m_positionUs >= m_view.startUs && m_positionUs <= m_view.endUs()) {
        const int x = int(std::lround(TimelineZoom::XOfTime(m_view, m_positionUs, inner.left(), inner.width())));
        p.setPen(kPosition);
        p.drawLine(x, inner.top(), x, inner.bottom());
    }
    p.setClipping(false);
    p.setPen(kEdge);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}
