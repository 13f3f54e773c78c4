#include "preview/TimelineStrip.h"
#include "preview/DSTrackBar.h"
#include "preview/TimelineLoader.h"

#include <QPaintEvent>
#include <QPainter>
#include <QThreadPool>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace {
const QColor kBack(0x10, 0x16, 0x21);
const QColor kEdge(0x33, 0x41, 0x57);
const QColor kWave(0x7f, 0xc8, 0x8e);
const QColor kWaveBack(0x16, 0x1f, 0x2c);
const QColor kUnread(0x1b, 0x23, 0x31);
const QColor kPosition(0xff, 0x6b, 0x6b);
// Scaled pictures kept beyond the ones shown, so scrolling back finds them.
constexpr int kScaledKept = 600;

struct Source {
    qint64 key = -1;
    QByteArray rgb;
};

// The picture shown for a time: the one decoded at it, else the picture of its key frame
// (decoded on request, or kept from the reading), else the kept picture before it.
Source PictureAt(const TimelineData& d, const TimelineFrames& frames, qint64 tUs)
{
    Source s;
    const TimelineFrame* f = frames.at(tUs);
    if (!f) {
        const std::vector<qint64>& keys = d.keys.times();
        const auto k = std::upper_bound(keys.begin(), keys.end(), tUs);
        if (k != keys.begin())
            f = frames.at(*std::prev(k));
    }
    if (f) {
        s.key = f->timeUs * 2 + 1;
        s.rgb = f->rgb;
        return s;
    }
    const int i = d.thumbAt(tUs);
    if (i >= 0) {
        s.key = d.thumbs[size_t(i)].timeUs * 2;
        s.rgb = d.thumbs[size_t(i)].rgb;
    }
    return s;
}
} // namespace

TTimelineStrip::TTimelineStrip(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumHeight(40);
    m_ask.setSingleShot(true);
    m_ask.setInterval(0);
    connect(&m_ask, &QTimer::timeout, this, &TTimelineStrip::AskForPictures);
}

void TTimelineStrip::SetLoader(TTimelineLoader* loader)
{
    m_loader = loader;
    connect(loader, &TTimelineLoader::Changed, this, [this] {
        m_ask.start();
        update();
    });
}

void TTimelineStrip::SetView(const TimelineView& view)
{
    if (view == m_view)
        return;
    m_view = view;
    m_columnsStale = true;
    m_ask.start();
    update();
}

void TTimelineStrip::SetPosition(double seconds)
{
    const qint64 us = seconds >= 0 ? qint64(std::llround(seconds * 1e6)) : -1;
    if (us == m_positionUs)
        return;
    m_positionUs = us;
    // Only the line's old and new places are painted again.
    const QRect inner = Inner();
    const int x = m_view.spanUs > 0 && us >= m_view.startUs && us <= m_view.endUs()
        ? int(std::lround(TimelineZoom::XOfTime(m_view, us, inner.left(), inner.width())))
        : -1;
    if (x == m_positionX)
        return;
    if (m_positionX >= 0)
        update(QRect(m_positionX - 1, 0, 3, height()));
    if (x >= 0)
        update(QRect(x - 1, 0, 3, height()));
    m_positionX = x;
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

QRect TTimelineStrip::PicturesRect() const
{
    const QRect inner = Inner();
    return QRect(inner.left(), inner.top(), inner.width(), std::max(1, inner.height() * 3 / 5));
}

std::vector<TTimelineStrip::Slot> TTimelineStrip::Slots() const
{
    std::vector<Slot> out;
    if (!m_loader || m_view.spanUs <= 0)
        return out;
    const TimelineData& d = m_loader->Data();
    if (d.thumbWidth <= 0 || d.thumbHeight <= 0)
        return out;
    const QRect inner = Inner();
    const QRect pics = PicturesRect();
    // One slot per picture's width, standing for the time at its left edge.
    const int slotW = std::max(8, pics.height() * d.thumbWidth / d.thumbHeight);
    for (int x = pics.left(); x < pics.right(); x += slotW)
        out.push_back({x, slotW - 1, TimelineZoom::TimeOfX(m_view, x, inner.left(), inner.width())});
    return out;
}

void TTimelineStrip::AskForPictures()
{
    if (!m_loader)
        return;
    const TimelineData& d = m_loader->Data();
    const std::vector<Slot> places = Slots();
    if (d.thumbs.empty() || places.size() < 2)
        return;
    const std::vector<qint64>& keys = d.keys.times();
    auto keyOf = [&](qint64 t) {
        return int(std::upper_bound(keys.begin(), keys.end(), t) - keys.begin()) - 1;
    };
    std::vector<int> thumb(places.size()), key(places.size());
    for (size_t i = 0; i < places.size(); ++i) {
        thumb[i] = d.thumbAt(places[i].timeUs);
        key[i] = keyOf(places[i].timeUs);
    }
    auto sharedWithNeighbour = [&](const std::vector<int>& v, size_t i) {
        return (i > 0 && v[i - 1] == v[i]) || (i + 1 < v.size() && v[i + 1] == v[i]);
    };
    // Where a kept picture would stand for more than one slot, each slot gets its own: the
    // picture at its time when its key frame is shared too (closer than the key frames),
    // else its key frame's own picture.
    std::vector<qint64> wanted;
    for (size_t i = 0; i < places.size(); ++i) {
        if (!sharedWithNeighbour(thumb, i))
            continue;
        wanted.push_back(key[i] < 0 || sharedWithNeighbour(key, i) ? places[i].timeUs : keys[size_t(key[i])]);
    }
    if (!wanted.empty())
        m_loader->RequestPictures(std::move(wanted), m_view.startUs + m_view.spanUs / 2);
}

void TTimelineStrip::resizeEvent(QResizeEvent*)
{
    m_columnsStale = true;
    m_ask.start();
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

void TTimelineStrip::Scaled(QSize size, QHash<qint64, QImage> images)
{
    for (auto it = images.cbegin(); it != images.cend(); ++it)
        m_scaling.remove(it.key());
    if (size != m_scaledSize)
        return; // made for a size no longer drawn
    if (m_scaled.size() + images.size() > kScaledKept)
        m_scaled.clear(); // the ones shown come again at once
    m_scaled.insert(images);
    update(PicturesRect());
}

void TTimelineStrip::paintEvent(QPaintEvent* e)
{
    QPainter p(this);
    const QRect dirty = e->rect();
    p.fillRect(dirty, kBack);
    const QRect inner = Inner();
    if (!m_loader || inner.width() <= 0 || m_view.spanUs <= 0)
        return;
    const TimelineData& d = m_loader->Data();
    const QRect pics = PicturesRect();
    const int picH = pics.height();
    const QRect wave(inner.left(), inner.top() + picH + 1, inner.width(), inner.height() - picH - 1);
    p.setClipRect(inner & dirty);

    // Pictures: copied as they are, made at the slot's size on a worker thread.
    const std::vector<Slot> places = Slots();
    if (!places.empty() && !d.thumbs.empty()) {
        const QSize size(places.front().width, picH);
        if (size != m_scaledSize) {
            m_scaledSize = size;
            m_scaled.clear();
        }
        std::vector<std::pair<qint64, QByteArray>> toScale;
        for (const Slot& s : places) {
            const QRect place(s.x, pics.top(), s.width, picH);
            if (!place.intersects(dirty))
                continue;
            const Source src = PictureAt(d, m_loader->Frames(), s.timeUs);
            const auto it = m_scaled.constFind(src.key);
            if (it != m_scaled.cend()) {
                p.drawImage(place.topLeft(), *it);
                continue;
            }
            p.fillRect(place, kUnread);
            if (src.key >= 0 && !m_scaling.contains(src.key)) {
                m_scaling.insert(src.key);
                toScale.emplace_back(src.key, src.rgb);
            }
        }
        if (!toScale.empty()) {
            QPointer<TTimelineStrip> self(this);
            const int w = d.thumbWidth, h = d.thumbHeight;
            QThreadPool::globalInstance()->start([self, size, w, h, toScale = std::move(toScale)] {
                QHash<qint64, QImage> out;
                for (const auto& [key, rgb] : toScale) {
                    const QImage img(reinterpret_cast<const uchar*>(rgb.constData()), w, h, w * 3,
                                     QImage::Format_RGB888);
                    out.insert(key, img.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                        .convertToFormat(QImage::Format_RGB32));
                }
                QMetaObject::invokeMethod(
                    self.data(), [self, size, out = std::move(out)] {
                        if (self)
                            self->Scaled(size, out);
                    },
                    Qt::QueuedConnection);
            });
        }
    } else {
        p.fillRect(pics, kUnread);
    }

    // Waveform, the columns the dirty stretch covers.
    p.fillRect(wave & dirty, kWaveBack);
    const qint64 peakCount = d.peaks.size() / 2;
    if (m_columnsStale || int(m_columns.size()) != wave.width() || d.peaks.constData() != m_columnsFrom
        || peakCount < m_columnsPeaks) {
        m_columns = PeakColumns(d.peaks, m_view.startUs, m_view.spanUs, wave.width());
    } else if (peakCount > m_columnsPeaks && wave.width() > 0) {
        // Read on: the columns from the one the old peaks ended in.
        const qint64 endUs = m_columnsPeaks * kPeakUs;
        const int from = std::max(0, int(std::floor(double(endUs - m_view.startUs) * wave.width() / m_view.spanUs)) - 1);
        if (from < wave.width()) {
            std::vector<PeakColumn> fresh = PeakColumns(d.peaks, m_view.startUs, m_view.spanUs, wave.width(), from);
            std::copy(fresh.begin() + from, fresh.end(), m_columns.begin() + from);
        }
    }
    m_columnsStale = false;
    m_columnsFrom = d.peaks.constData();
    m_columnsPeaks = peakCount;
    p.setPen(kWave);
    const double mid = wave.top() + wave.height() / 2.0;
    const double half = (wave.height() - 1) / 2.0;
    const int from = std::max(0, dirty.left() - wave.left());
    const int to = std::min(int(m_columns.size()), dirty.right() - wave.left() + 1);
    for (int c = from; c < to; ++c) {
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
        m_positionX = x;
    }
    p.setClipping(false);
    p.setPen(kEdge);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}
