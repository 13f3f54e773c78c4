#pragma once
// Reading a source for its timeline, done by the player engine's module on the caller's
// thread (a worker's): one pass that notes every key frame, decodes the key frames it keeps
// as small pictures and all of the sound for its peaks. The sink collects what it finds.
#include "preview/TimelineData.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <mutex>
#include <vector>

struct TimelineScanOptions {
    int thumbHeight = 45;
    int thumbMaxWidth = 112;
    // Memory the small pictures of one source may take; they are spread over the source.
    qint64 thumbBudgetBytes = 24 << 20;
    bool thumbs = true;
    bool sound = true;
};

class TimelineScanSink {
public:
    virtual ~TimelineScanSink() = default;
    virtual bool Cancelled() const = 0;
    // The source is open: its length, one picture's length, the key frames its own index
    // names (empty when it keeps none; the pass then finds them) and the pictures' size.
    virtual void Opened(qint64 durationUs, qint64 frameUs, std::vector<qint64> indexKeysUs, int thumbWidth,
                        int thumbHeight) = 0;
    virtual void KeyFrame(qint64 tUs) = 0;
    virtual void Thumb(qint64 tUs, QByteArray rgb) = 0;
    virtual void Sound(qint64 startUs, int sampleRate, const float* const* planes, int channels, int count) = 0;
};

// 0 when the whole source was read, else an error with its text (the sink keeps what came).
using TScanTimeline = int (*)(const QString& path, const TimelineScanOptions& options, TimelineScanSink* sink,
                              QString* error);
#define VT_TIMELINE_SCAN_ENTRY "VtScanTimeline"
// The module's scanner; nullptr with a reason when the module cannot be loaded.
TScanTimeline LoadTimelineScanner(QString* error);

// A sink that gathers a TimelineData; other threads may take a copy while it grows.
class TimelineBuilder : public TimelineScanSink {
public:
    bool Cancelled() const override { return cancel.load(); }
    void Opened(qint64 durationUs, qint64 frameUs, std::vector<qint64> indexKeysUs, int thumbWidth,
                int thumbHeight) override;
    void KeyFrame(qint64 tUs) override;
    void Thumb(qint64 tUs, QByteArray rgb) override;
    void Sound(qint64 startUs, int sampleRate, const float* const* planes, int channels, int count) override;

    // What has been found so far; `finished` marks it complete (the index keys give way to
    // the ones the reading found).
    TimelineData snapshot(bool finished = false);
    // The same without waiting: nothing while the reading thread holds the data. The window
    // uses this one, so a reading thread put aside by the system never holds it up.
    std::optional<TimelineData> trySnapshot();
    // Bumped by every change, so a reader copies only when something is new.
    int generation() const { return m_generation.load(); }

    std::atomic<bool> cancel {false};

private:
    TimelineData SnapshotLocked(bool finished);
    std::mutex m_mx;
    TimelineData m_data;
    std::vector<qint64> m_found;
    bool m_keysChanged = false;
    PeakReducer m_peaks;
    qint64 m_peaksTaken = -1;
    std::atomic<int> m_generation {0};
};
