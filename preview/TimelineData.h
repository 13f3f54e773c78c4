#pragma once
// What the timeline shows of a source beside its picture: the key frames, small pictures
// and the sound's peaks, with the file format they are kept in between runs.
#include "preview/KeyFrameIndex.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <optional>
#include <vector>

// The sound's peaks: for each stretch of 1/kPeaksPerSecond s from the source's start the
// lowest and highest sample of all channels, as signed bytes (-127..127, full scale 127),
// stored min, max, min, max, ...
constexpr int kPeaksPerSecond = 200;
constexpr qint64 kPeakUs = 1000000 / kPeaksPerSecond;
// Eight hours of sound at most (11 MB), whatever times a file claims; what lies beyond is
// not drawn.
constexpr qint64 kMaxPeaks = qint64(8) * 3600 * kPeaksPerSecond;

class PeakReducer {
public:
    // Planar float samples (full scale 1.0) of `channels` channels; the first at startUs.
    // A stretch the sound skips stays silent; samples before the last stretch reached are
    // counted into it.
    void add(qint64 startUs, int sampleRate, const float* const* planes, int channels, int count);
    // The peaks so far, the stretch being filled included.
    QByteArray peaks() const;
    qint64 count() const { return m_done.size() / 2 + (m_open ? 1 : 0); }
    // Room for this many stretches, so that the ones done stay where they are: views() may
    // then hand out the bytes without copying them.
    void reserve(qint64 stretches);
    // The stretches done, without a copy: bytes no later add() changes or moves, valid as
    // long as this reducer is. A buffer that has to grow leaves the old one alive.
    QByteArray view() const
    {
        m_viewed = true;
        return QByteArray::fromRawData(m_done.constData(), m_done.size());
    }

private:
    void close();
    void push(char lo, char hi);
    QByteArray m_done;
    std::vector<QByteArray> m_outgrown; // earlier buffers, still seen through views
    mutable bool m_viewed = false;
    qint64 m_bucket = 0; // index of the open stretch
    bool m_open = false;
    float m_min = 0, m_max = 0;
};

// One column of a drawn waveform.
struct PeakColumn {
    qint8 min = 0;
    qint8 max = 0;
    bool known = false; // false where no peaks reach
};
// The peaks over [startUs, startUs + spanUs) in `columns` columns of equal time: each column
// the extremes of the stretches it covers, or of the one stretch it lies in.
// Only columns from `fromColumn` on are filled (the others stay unknown): a waveform whose
// peaks grew is brought up to date from where they ended.
std::vector<PeakColumn> PeakColumns(const QByteArray& peaks, qint64 startUs, qint64 spanUs, int columns,
                                    int fromColumn = 0);

struct TimelineThumb {
    qint64 timeUs = 0;
    QByteArray rgb; // width x height x 3 bytes, rows top down, no padding
};

struct TimelineData {
    qint64 durationUs = 0;
    qint64 frameUs = 0; // length of one picture, 0 when not known
    KeyFrameIndex keys;
    QByteArray peaks;
    int thumbWidth = 0;
    int thumbHeight = 0;
    std::vector<TimelineThumb> thumbs; // ascending times
    bool complete = false; // the whole source was read

    // The small picture shown for a time: the last one at or before it (the first one before
    // them all); -1 when there is none.
    int thumbAt(qint64 tUs) const;
    qint64 memoryBytes() const;
};

// Pictures at their own times, decoded on request where the strip is zoomed in closer than
// the key frames; kept in memory only, the ones farthest from the stretch shown going first.
struct TimelineFrame {
    qint64 timeUs = 0;
    qint64 untilUs = 0; // the next picture's time: this one is shown over [timeUs, untilUs)
    QByteArray rgb;
};

class TimelineFrames {
public:
    // The picture shown at a time, when one is known.
    const TimelineFrame* at(qint64 tUs) const;
    // The last picture starting at or before a time (it may end before it); nullptr if none.
    const TimelineFrame* latest(qint64 tUs) const;
    // Keeps the order; a picture of the same time replaces the one there.
    void add(TimelineFrame frame);
    // Drops the pictures farthest from `nearUs` until the others take at most `bytes`.
    void trim(qint64 bytes, qint64 nearUs);
    qint64 memoryBytes() const;
    int size() const { return int(m_list.size()); }
    void clear() { m_list.clear(); }

private:
    std::vector<TimelineFrame> m_list; // ascending times
};

// A source as the cache knows it: a file changed in size or time is another source.
struct TimelineSourceId {
    QString path;
    qint64 size = -1;
    qint64 mtimeMs = 0;
    static TimelineSourceId of(const QString& path); // size -1 when it cannot be read
    QString cacheName() const;                       // a file name: hash of the three
    bool operator==(const TimelineSourceId& o) const = default;
};

// Bounds of a stored file; whatever is larger was not written by this program.
constexpr qint64 kMaxCacheBytes = 96 << 20;
constexpr int kMaxThumbs = 20000;
constexpr int kMaxThumbSide = 512;
constexpr int kMaxKeyFrames = 2000000; // 16 MB: a picture every 1/120 s for over four hours

QByteArray WriteTimelineCache(const TimelineSourceId& id, const TimelineData& data);
// The same written piece by piece to a device that can seek back (its checksum goes in
// last), so no second copy of the data is made; false when a write fails.
bool WriteTimelineCache(const TimelineSourceId& id, const TimelineData& data, QIODevice* out);
// The data of a stored file, when it is whole, unchanged and of this source; else nothing.
std::optional<TimelineData> ReadTimelineCache(const QByteArray& bytes, const TimelineSourceId& id);
