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

class TimelineCancellable {
public:
    virtual ~TimelineCancellable() = default;
    virtual bool Cancelled() const = 0;
};

class TimelineScanSink : public TimelineCancellable {
public:
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

// Pictures at chosen times, for a strip zoomed in closer than the key frames: each the
// picture shown at its time, decoded from the key frame before it (one thread, one decoder).
struct TimelinePictureRequest {
    qint64 timeUs = 0;
    qint64 keyUs = 0; // the key frame at or before timeUs
};
class TimelinePictureSink : public TimelineCancellable {
public:
    // The picture shown over [fromUs, untilUs); untilUs -1 for the source's last one.
    virtual void Picture(qint64 fromUs, qint64 untilUs, QByteArray rgb) = 0;
};
// Requests in ascending times; 0 when they were all served (a time with no picture gets none).
using TTimelinePictures = int (*)(const QString& path, int thumbWidth, int thumbHeight,
                                  const std::vector<TimelinePictureRequest>& requests, TimelinePictureSink* sink,
                                  QString* error);
#define VT_TIMELINE_PICTURES_ENTRY "VtTimelinePictures"
TTimelinePictures LoadTimelinePictures(QString* error);

// A sink that gathers a TimelineData. The reading thread builds it and hands a copy over
// now and then (every kPublishMs at most), so the window's thread only ever copies what was
// handed over: no merging, sorting or peak copying there.
class TimelineBuilder : public TimelineScanSink {
public:
    static constexpr int kPublishMs = 200;

    bool Cancelled() const override { return cancel.load(); }
    void Opened(qint64 durationUs, qint64 frameUs, std::vector<qint64> indexKeysUs, int thumbWidth,
                int thumbHeight) override;
    void KeyFrame(qint64 tUs) override;
    void Thumb(qint64 tUs, QByteArray rgb) override;
    void Sound(qint64 startUs, int sampleRate, const float* const* planes, int channels, int count) override;

    // From the reading thread (or once it has ended): all that has been found, with bytes of
    // its own (it may outlive the builder), handed over as well; `finished` marks it complete
    // (the index keys give way to the ones the reading found).
    TimelineData snapshot(bool finished = false);
    // What was handed over last, without waiting: nothing while the reading thread is
    // handing over. Its peaks are a view of the builder's: valid while the builder is. The window uses this one, so a reading thread put aside by the system
    // never holds it up.
    std::optional<TimelineData> trySnapshot();
    // Bumped by every hand-over, so a reader copies only when something is new.
    int generation() const { return m_generation.load(); }

    std::atomic<bool> cancel {false};

private:
    void MaybePublish();
    void Publish(bool finished, bool deep = false);
    // The reading thread's own.
    TimelineData m_work;
    std::vector<qint64> m_found;
    bool m_keysChanged = false;
    PeakReducer m_peaks;
    qint64 m_peaksTaken = -1;
    qint64 m_publishedMs = 0;
    bool m_dirty = false;
    // Handed over.
    std::mutex m_mx;
    TimelineData m_shown;
    std::atomic<int> m_generation {0};
};
