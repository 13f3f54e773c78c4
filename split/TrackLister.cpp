#include "split/TrackLister.h"

#include <QMetaObject>
#include <QPointer>

TrackLister::TrackLister(const QString& ffprobe, QObject* parent) : QObject(parent), m_ffprobe(ffprobe) {}

TrackLister::~TrackLister()
{
    Cancel();
    Reap(true);
}

void TrackLister::Cancel()
{
    ++m_generation;
    if (m_cancel)
        m_cancel->store(true);
    m_cancel.reset();
}

void TrackLister::Reap(bool all)
{
    // A cancelled ffprobe is ended at once, so joining it is short; finished threads are
    // only joined here to release them.
    if (all) {
        for (std::thread& t : m_threads)
            if (t.joinable())
                t.join();
        m_threads.clear();
    }
}

void TrackLister::List(const QString& source)
{
    Cancel();
    const quint64 generation = m_generation;
    if (m_ffprobe.isEmpty()) {
        QMetaObject::invokeMethod(
            this,
            [this, source, generation] {
                if (generation == m_generation)
                    emit failed(source, QStringLiteral("ffprobe was not found"));
            },
            Qt::QueuedConnection);
        return;
    }
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    m_cancel = cancel;
    // Older threads have been told to stop; keep at most a few handles around.
    if (m_threads.size() > 4)
        Reap(true);
    const QString ffprobe = m_ffprobe;
    m_threads.emplace_back([this, ffprobe, source, cancel, generation] {
        TrackList list;
        QString error;
        const bool ok = ProbeTracks(ffprobe, source, list, &error, cancel.get());
        if (cancel->load())
            return;
        // The answer is handed over in the lister's thread; the destructor joins this
        // thread before the object goes, so `this` outlives the call.
        QMetaObject::invokeMethod(
            this,
            [this, source, list, error, ok, generation] {
                if (generation != m_generation)
                    return;
                if (ok)
                    emit listed(source, list);
                else
                    emit failed(source, error);
            },
            Qt::QueuedConnection);
    });
}
