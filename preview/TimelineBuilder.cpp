#include "preview/TimelineScan.h"

#include <algorithm>

void TimelineBuilder::Opened(qint64 durationUs, qint64 frameUs, std::vector<qint64> indexKeysUs, int thumbWidth,
                             int thumbHeight)
{
    std::lock_guard lock(m_mx);
    m_data.durationUs = std::max<qint64>(durationUs, 0);
    m_data.frameUs = std::max<qint64>(frameUs, 0);
    m_data.keys = KeyFrameIndex(std::move(indexKeysUs));
    m_data.thumbWidth = thumbWidth;
    m_data.thumbHeight = thumbHeight;
    ++m_generation;
}

void TimelineBuilder::KeyFrame(qint64 tUs)
{
    std::lock_guard lock(m_mx);
    if (m_found.size() >= size_t(kMaxKeyFrames))
        return;
    m_found.push_back(tUs);
    m_keysChanged = true;
    ++m_generation;
}

void TimelineBuilder::Thumb(qint64 tUs, QByteArray rgb)
{
    if (m_data.thumbWidth <= 0 || rgb.size() != qint64(m_data.thumbWidth) * m_data.thumbHeight * 3)
        return;
    std::lock_guard lock(m_mx);
    if (!m_data.thumbs.empty() && tUs <= m_data.thumbs.back().timeUs)
        return; // pictures arrive in order; one out of it is dropped rather than sorted in
    if (int(m_data.thumbs.size()) >= kMaxThumbs)
        return;
    m_data.thumbs.push_back({tUs, std::move(rgb)});
    ++m_generation;
}

void TimelineBuilder::Sound(qint64 startUs, int sampleRate, const float* const* planes, int channels, int count)
{
    std::lock_guard lock(m_mx);
    m_peaks.add(startUs, sampleRate, planes, channels, count);
    ++m_generation;
}

TimelineData TimelineBuilder::snapshot(bool finished)
{
    std::lock_guard lock(m_mx);
    return SnapshotLocked(finished);
}

std::optional<TimelineData> TimelineBuilder::trySnapshot()
{
    std::unique_lock lock(m_mx, std::try_to_lock);
    if (!lock.owns_lock())
        return std::nullopt;
    return SnapshotLocked(false);
}

TimelineData TimelineBuilder::SnapshotLocked(bool finished)
{
    // The keys found while reading replace the index's once they reach past its last one,
    // or when the reading is done.
    if (m_keysChanged && (finished || m_data.keys.isEmpty() || (!m_found.empty() && m_found.back() > m_data.keys.times().back()))) {
        m_data.keys = KeyFrameIndex(m_found);
        m_keysChanged = false;
    }
    if (m_peaks.count() != m_peaksTaken) {
        m_data.peaks = m_peaks.peaks();
        m_peaksTaken = m_peaks.count();
    }
    if (finished) {
        m_data.keys = KeyFrameIndex(m_found);
        m_data.complete = true;
    }
    return m_data;
}
