#include "preview/TimelineScan.h"

#include <QElapsedTimer>
#include <algorithm>

namespace {
qint64 NowMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    return clock.elapsed();
}
} // namespace

void TimelineBuilder::Opened(qint64 durationUs, qint64 frameUs, std::vector<qint64> indexKeysUs, int thumbWidth,
                             int thumbHeight)
{
    m_work.durationUs = std::max<qint64>(durationUs, 0);
    m_work.frameUs = std::max<qint64>(frameUs, 0);
    m_work.keys = KeyFrameIndex(std::move(indexKeysUs));
    m_work.thumbWidth = thumbWidth;
    m_work.thumbHeight = thumbHeight;
    // The whole sound's peaks fit where they start: handed over without copies.
    m_peaks.reserve(m_work.durationUs / kPeakUs + 2 * kPeaksPerSecond);
    Publish(false);
}

void TimelineBuilder::KeyFrame(qint64 tUs)
{
    if (m_found.size() >= size_t(kMaxKeyFrames))
        return;
    m_found.push_back(tUs);
    m_keysChanged = true;
    MaybePublish();
}

void TimelineBuilder::Thumb(qint64 tUs, QByteArray rgb)
{
    if (m_work.thumbWidth <= 0 || rgb.size() != qint64(m_work.thumbWidth) * m_work.thumbHeight * 3)
        return;
    if (!m_work.thumbs.empty() && tUs <= m_work.thumbs.back().timeUs)
        return; // pictures arrive in order; one out of it is dropped rather than sorted in
    if (int(m_work.thumbs.size()) >= kMaxThumbs)
        return;
    m_work.thumbs.push_back({tUs, std::move(rgb)});
    MaybePublish();
}

void TimelineBuilder::Sound(qint64 startUs, int sampleRate, const float* const* planes, int channels, int count)
{
    m_peaks.add(startUs, sampleRate, planes, channels, count);
    MaybePublish();
}

void TimelineBuilder::MaybePublish()
{
    m_dirty = true;
    if (NowMs() - m_publishedMs >= kPublishMs)
        Publish(false);
}

void TimelineBuilder::Publish(bool finished, bool deep)
{
    // The keys found while reading replace the index's once they reach past its last one,
    // or when the reading is done.
    if (finished) {
        m_work.keys = KeyFrameIndex(m_found);
        m_work.complete = true;
        m_keysChanged = false;
    } else if (m_keysChanged
               && (m_work.keys.isEmpty() || (!m_found.empty() && m_found.back() > m_work.keys.times().back()))) {
        m_work.keys = KeyFrameIndex(m_found);
        m_keysChanged = false;
    }
    // While reading, a view of the stretches done (the one being filled follows with the
    // next); the finished data gets bytes of its own, as it outlives this builder.
    if (finished || deep) {
        m_work.peaks = m_peaks.peaks();
        m_peaksTaken = -1;
    } else if (m_peaks.count() != m_peaksTaken) {
        m_work.peaks = m_peaks.view();
        m_peaksTaken = m_peaks.count();
    }
    {
        std::lock_guard lock(m_mx);
        m_shown = m_work; // shares the bytes: the window's copy costs no more than this one
        ++m_generation;
    }
    m_dirty = false;
    m_publishedMs = NowMs();
}

TimelineData TimelineBuilder::snapshot(bool finished)
{
    Publish(finished, true);
    std::lock_guard lock(m_mx);
    return m_shown;
}

std::optional<TimelineData> TimelineBuilder::trySnapshot()
{
    std::unique_lock lock(m_mx, std::try_to_lock);
    if (!lock.owns_lock())
        return std::nullopt;
    return m_shown;
}
