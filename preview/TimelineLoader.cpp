#include "preview/TimelineLoader.h"
#include "preview/TimelineScan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <mutex>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

struct TimelineJob {
    TimelineSourceId id;
    QString cacheFile;
    QString cacheFolder;
    TimelineBuilder builder;
    std::optional<TimelineData> cached; // set by the worker before `loaded`
    std::atomic<bool> loaded {false};
    std::thread thread;
};

struct TimelinePictureJob : TimelinePictureSink {
    bool Cancelled() const override { return cancel.load(); }
    void Picture(qint64 fromUs, qint64 untilUs, QByteArray rgb) override
    {
        std::lock_guard lock(mx);
        got.push_back({fromUs, untilUs, std::move(rgb)});
        if (posted)
            return;
        posted = true;
        QPointer<TTimelineLoader> to = owner;
        TimelinePictureJob* self = this;
        QMetaObject::invokeMethod(
            to.data(), [to, self] {
                if (to)
                    to->TakePictures(self, false);
            },
            Qt::QueuedConnection);
    }
    QString path;
    TimelineSourceId id;
    int width = 0, height = 0;
    std::vector<TimelinePictureRequest> requests;
    std::atomic<bool> cancel {false};
    QPointer<TTimelineLoader> owner;
    std::mutex mx;
    std::vector<TimelineFrame> got; // not yet taken by the loader
    bool posted = false;
    std::thread thread;
};

namespace {

// The stored reading of a source, when there is a sound one.
std::optional<TimelineData> ReadCache(const QString& file, const TimelineSourceId& id)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly) || f.size() > kMaxCacheBytes)
        return std::nullopt;
    return ReadTimelineCache(f.readAll(), id);
}

void WriteCache(const QString& folder, const QString& file, const TimelineSourceId& id, const TimelineData& data,
                qint64 budget)
{
    qint64 size = 28 + 4 + id.path.toUtf8().size() + 8 * 4 + 4 + qint64(data.keys.size()) * 8 + 4
        + data.peaks.size() + 12;
    for (const TimelineThumb& t : data.thumbs)
        size += 12 + t.rgb.size();
    if (size > kMaxCacheBytes || !QDir().mkpath(folder))
        return;
    // Written as it is made: a second copy of the pictures would raise the memory's peak.
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || !WriteTimelineCache(id, data, &out) || !out.commit())
        return;
    // Oldest first out once the folder holds more than its share.
    QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("*.vtl")}, QDir::Files, QDir::Time);
    qint64 total = 0;
    for (const QFileInfo& fi : files) {
        total += fi.size();
        if (total > budget && fi.absoluteFilePath() != QFileInfo(file).absoluteFilePath())
            QFile::remove(fi.absoluteFilePath());
    }
}

} // namespace

TTimelineLoader::TTimelineLoader(QObject* parent) : QObject(parent)
{
    m_poll.setInterval(250);
    connect(&m_poll, &QTimer::timeout, this, &TTimelineLoader::Poll);
}

TTimelineLoader::~TTimelineLoader()
{
    Close();
    for (auto& job : m_ending)
        if (job->thread.joinable())
            job->thread.join();
    for (auto& job : m_picturesEnding)
        if (job->thread.joinable())
            job->thread.join();
}

QString TTimelineLoader::CacheFolder() const
{
    if (!m_cacheFolder.isEmpty())
        return m_cacheFolder;
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/veltrane/timeline");
}

void TTimelineLoader::Close()
{
    m_poll.stop();
    if (m_job) {
        m_job->builder.cancel = true;
        m_ending.push_back(std::move(m_job));
    }
    m_job.reset();
    if (m_pictures) {
        m_pictures->cancel = true;
        m_picturesEnding.push_back(std::move(m_pictures));
    }
    m_pictures.reset();
    m_frames.clear();
    m_wanted.clear();
    m_unserved.clear();
    m_data = TimelineData();
    m_id = TimelineSourceId();
    m_source.clear();
    m_seen = -1;
}

void TTimelineLoader::Open(const QString& path)
{
    Close();
    m_source = path;
    m_id = TimelineSourceId::of(path);
    for (auto it = m_memory.begin(); it != m_memory.end(); ++it) {
        if (it->first == m_id) {
            m_data = *it->second;
            m_memory.splice(m_memory.begin(), m_memory, it);
            emit Changed();
            emit Finished(true);
            return;
        }
    }
    // Room for the reading: its pictures' budget and its peaks.
    Trim(kMemoryBudget - TimelineScanOptions().thumbBudgetBytes - kMaxPeaks * 2);
    emit Changed();
    if (m_id.size < 0) {
        emit Finished(false);
        return;
    }

    auto job = std::make_shared<TimelineJob>();
    job->id = m_id;
    job->cacheFolder = CacheFolder();
    job->cacheFile = QDir(job->cacheFolder).filePath(m_id.cacheName());
    m_job = job;
    QPointer<TTimelineLoader> self(this);
    TimelineJob* raw = job.get();
    const qint64 diskBudget = kDiskBudget;
    job->thread = std::thread([raw, path, self, diskBudget] {
        // Behind the player: the picture and the window come first.
        setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 10);
        bool whole = false;
        raw->cached = ReadCache(raw->cacheFile, raw->id);
        if (raw->cached) {
            whole = true;
        } else if (!raw->builder.Cancelled()) {
            QString error;
            TScanTimeline scan = LoadTimelineScanner(&error);
            if (scan && scan(path, TimelineScanOptions(), &raw->builder, &error) == 0) {
                whole = true;
                raw->cached = raw->builder.snapshot(true);
                WriteCache(raw->cacheFolder, raw->cacheFile, raw->id, *raw->cached, diskBudget);
            }
        }
        raw->loaded = true;
        // The loader joins this thread when it hears of its end, or in its destructor.
        QMetaObject::invokeMethod(
            self.data(), [self, raw, whole] {
                if (self)
                    self->JobEnded(raw, whole);
            },
            Qt::QueuedConnection);
    });
    m_poll.start();
}

void TTimelineLoader::Poll()
{
    if (!m_job || m_job->loaded)
        return;
    const int g = m_job->builder.generation();
    if (g == m_seen)
        return;
    std::optional<TimelineData> now = m_job->builder.trySnapshot();
    if (!now)
        return; // the next poll takes it
    m_seen = g;
    m_data = std::move(*now);
    emit Changed();
}

void TTimelineLoader::JobEnded(TimelineJob* job, bool whole)
{
    if (m_job.get() == job) {
        m_poll.stop();
        if (job->thread.joinable())
            job->thread.join();
        if (job->cached)
            m_data = std::move(*job->cached);
        else
            m_data = job->builder.snapshot();
        if (whole)
            Remember(m_id, m_data);
        m_job.reset();
        emit Changed();
        emit Finished(whole);
        StartPictures();
        return;
    }
    for (auto it = m_ending.begin(); it != m_ending.end(); ++it) {
        if (it->get() == job) {
            if ((*it)->thread.joinable())
                (*it)->thread.join();
            m_ending.erase(it);
            return;
        }
    }
}

void TTimelineLoader::RequestPictures(std::vector<qint64> timesUs, qint64 nearUs)
{
    m_near = nearUs;
    m_wanted.clear();
    std::sort(timesUs.begin(), timesUs.end());
    timesUs.erase(std::unique(timesUs.begin(), timesUs.end()), timesUs.end());
    for (qint64 t : timesUs)
        if (t >= 0 && !m_frames.at(t) && std::find(m_unserved.begin(), m_unserved.end(), t) == m_unserved.end())
            m_wanted.push_back(t);
    if (m_pictures) {
        const auto& asked = m_pictures->requests;
        const bool covered = std::all_of(m_wanted.begin(), m_wanted.end(), [&](qint64 t) {
            return std::any_of(asked.begin(), asked.end(), [t](const TimelinePictureRequest& q) { return q.timeUs == t; });
        });
        if (covered) {
            m_wanted.clear(); // the decoding under way brings them all
            return;
        }
        // The stretch shown moved on (zooming, paging while playing): what the decoding
        // under way still has to do is no longer wanted. The next starts once it has ended.
        m_pictures->cancel = true;
        m_picturesEnding.push_back(std::move(m_pictures));
        m_pictures.reset();
    }
    StartPictures();
}

void TTimelineLoader::StartPictures()
{
    // One decoder at a time: not beside the reading, nor beside a decoding still ending.
    if (m_pictures || m_job || !m_picturesEnding.empty() || m_wanted.empty() || m_source.isEmpty()
        || m_data.thumbWidth <= 0
        || m_data.thumbHeight <= 0)
        return;
    auto job = std::make_shared<TimelinePictureJob>();
    job->path = m_source;
    job->id = m_id;
    job->width = m_data.thumbWidth;
    job->height = m_data.thumbHeight;
    job->owner = this;
    const std::vector<qint64>& keys = m_data.keys.times();
    for (qint64 t : m_wanted) {
        auto it = std::upper_bound(keys.begin(), keys.end(), t);
        job->requests.push_back({t, it == keys.begin() ? 0 : *std::prev(it)});
    }
    m_wanted.clear();
    m_pictures = job;
    TimelinePictureJob* raw = job.get();
    job->thread = std::thread([raw] {
        setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 10);
        QString error;
        if (TTimelinePictures pictures = LoadTimelinePictures(&error))
            pictures(raw->path, raw->width, raw->height, raw->requests, raw, &error);
        QPointer<TTimelineLoader> to = raw->owner;
        QMetaObject::invokeMethod(
            to.data(), [to, raw] {
                if (to)
                    to->TakePictures(raw, true);
            },
            Qt::QueuedConnection);
    });
}

void TTimelineLoader::TakePictures(TimelinePictureJob* job, bool ended)
{
    if (m_pictures.get() != job) {
        // A decoding cancelled (or of a source closed since): the pictures it brought for
        // this source are kept; its end lets the next one start.
        for (auto it = m_picturesEnding.begin(); it != m_picturesEnding.end(); ++it) {
            if (it->get() != job)
                continue;
            std::vector<TimelineFrame> got;
            {
                std::lock_guard lock(job->mx);
                got.swap(job->got);
                job->posted = false;
            }
            const bool ours = job->id == m_id && !m_source.isEmpty();
            if (ended) {
                if ((*it)->thread.joinable())
                    (*it)->thread.join();
                m_picturesEnding.erase(it);
            }
            if (ours && !got.empty()) {
                Keep(std::move(got));
                emit Changed();
            }
            if (ended)
                StartPictures();
            break;
        }
        return;
    }
    std::vector<TimelineFrame> got;
    {
        std::lock_guard lock(job->mx);
        got.swap(job->got);
        job->posted = false;
    }
    Keep(std::move(got));
    if (ended) {
        if (job->thread.joinable())
            job->thread.join();
        for (const TimelinePictureRequest& q : job->requests)
            if (!m_frames.at(q.timeUs))
                m_unserved.push_back(q.timeUs);
        m_pictures.reset();
    }
    emit Changed();
    if (ended)
        StartPictures();
}

void TTimelineLoader::Keep(std::vector<TimelineFrame> got)
{
    for (TimelineFrame& f : got) {
        if (f.untilUs < 0 || f.untilUs <= f.timeUs)
            f.untilUs = std::max(m_data.durationUs, f.timeUs + std::max<qint64>(m_data.frameUs, 1));
        m_frames.add(std::move(f));
    }
    m_frames.trim(kFramesBudget, m_near);
}

void TTimelineLoader::Remember(const TimelineSourceId& id, const TimelineData& data)
{
    m_memory.remove_if([&](const auto& e) { return e.first == id; });
    m_memory.emplace_front(id, std::make_shared<const TimelineData>(data));
    Trim(kMemoryBudget);
}

void TTimelineLoader::Trim(qint64 bytes)
{
    qint64 total = 0;
    for (auto it = m_memory.begin(); it != m_memory.end();) {
        total += it->second->memoryBytes();
        // The source open stays (it shares its data with Data()); older ones go first.
        if (!(it->first == m_id) && total > bytes)
            it = m_memory.erase(it);
        else
            ++it;
    }
}
