#pragma once
// Lists a source's tracks away from the caller's thread, so that opening a file on a slow
// disk never holds the window while ffprobe reads it.
#include "split/TrackList.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class TrackLister : public QObject {
    Q_OBJECT
public:
    explicit TrackLister(const QString& ffprobe, QObject* parent = nullptr);
    ~TrackLister() override; // cancels what is under way and waits for it

    // Starts listing source; a listing under way for another source is cancelled and its
    // answer never arrives. An empty ffprobe path fails at once (from the event loop).
    void List(const QString& source);
    // Cancels the listing under way, if any; nothing arrives for it.
    void Cancel();

Q_SIGNALS:
    void listed(const QString& source, const TrackList& list);
    void failed(const QString& source, const QString& error);

private:
    QString m_ffprobe;
    quint64 m_generation = 0;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    std::vector<std::thread> m_threads;
    void Reap(bool all);
};
