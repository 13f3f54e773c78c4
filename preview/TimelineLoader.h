#pragma once
// Gets a source's timeline (key frames, small pictures, sound peaks) without holding up the
// window: from memory when the source was open before, else from the cache folder, else by
// reading the source on a worker thread; a whole reading is stored for the next time.
#include "preview/TimelineData.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <list>
#include <memory>

struct TimelineJob;
struct TimelinePictureJob;

class TTimelineLoader : public QObject {
    Q_OBJECT
public:
    explicit TTimelineLoader(QObject* parent = nullptr);
    ~TTimelineLoader() override; // ends the workers

    // Starts getting the timeline of a file; what was being read before is dropped.
    void Open(const QString& path);
    void Close();
    // What is known of the source opened (grows while it is read).
    const TimelineData& Data() const { return m_data; }
    bool Reading() const { return m_job != nullptr; }
    QString Source() const { return m_source; }

    // Where readings are kept: the user's cache folder unless set (tests).
    QString CacheFolder() const;
    void SetCacheFolder(const QString& folder) { m_cacheFolder = folder; }
    // Memory all timelines held together may take; older sources give way first.
    static constexpr qint64 kMemoryBudget = 64 << 20;
    // The cache folder is trimmed to this, the oldest files first.
    static constexpr qint64 kDiskBudget = 512 << 20;

    // Pictures at their own times, for a strip zoomed in closer than the key frames: those
    // not known yet are decoded in the background, after the reading and one decoder at a
    // time, and announced by Changed(). A new request replaces the one waiting; the pictures
    // farthest from nearUs give way first.
    void RequestPictures(std::vector<qint64> timesUs, qint64 nearUs);
    const TimelineFrames& Frames() const { return m_frames; }
    bool DecodingPictures() const { return m_pictures != nullptr; }
    static constexpr qint64 kFramesBudget = 8 << 20;

Q_SIGNALS:
    void Changed(); // Data() has news
    void Finished(bool whole); // the reading ended (whole: the source was read to its end)

private:
    void Poll();
    void JobEnded(TimelineJob* job, bool whole);
    friend struct TimelinePictureJob;
    void StartPictures();
    void TakePictures(TimelinePictureJob* job, bool ended);
    void Keep(std::vector<TimelineFrame> got);
    void Remember(const TimelineSourceId& id, const TimelineData& data);
    // Drops the oldest sources kept until the others take at most `bytes`.
    void Trim(qint64 bytes);

    TimelineData m_data;
    TimelineSourceId m_id;
    QString m_source;
    QString m_cacheFolder;
    std::shared_ptr<TimelineJob> m_job;
    std::list<std::shared_ptr<TimelineJob>> m_ending; // cancelled, not yet joined
    int m_seen = -1;
    TimelineFrames m_frames;
    std::vector<qint64> m_wanted;
    std::vector<qint64> m_unserved; // asked for and none came: not asked again for this source
    qint64 m_near = 0;
    std::shared_ptr<TimelinePictureJob> m_pictures;
    std::list<std::shared_ptr<TimelinePictureJob>> m_picturesEnding;
    QTimer m_poll;
    // Sources read before, most recent first.
    std::list<std::pair<TimelineSourceId, std::shared_ptr<const TimelineData>>> m_memory;
};
