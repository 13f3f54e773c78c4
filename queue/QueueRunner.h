#pragma once
// Runs the jobs of a queue one after another through a JobController, without waiting for
// any of them: each job's end comes as a signal and the next one starts from the event loop.
#include "queue/JobQueue.h"
#include "segments/SegmentJob.h"
#include "split/JobController.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>

// The order a queued job runs as: its source checked and its sections planned as a press of
// Split would (the length read with ffprobe when the job does not name an end). Nothing,
// with the reason in error, when the job cannot run.
std::optional<SplitJobOrder> MakeQueueOrder(const QueueJob& job, const QString& encoderPath, QString* error);
// The order a queued job with segments runs as: what the Segments panel would cut from the
// same source, profile, folder, names and output choice.
std::optional<SegmentJobOrder> MakeQueueSegmentOrder(const QueueJob& job, const QString& encoderPath, QString* error);

class QueueRunner : public QObject {
    Q_OBJECT
public:
    using OrderMaker = std::function<std::optional<SplitJobOrder>(const QueueJob&, QString*)>;
    using SegmentOrderMaker = std::function<std::optional<SegmentJobOrder>(const QueueJob&, QString*)>;

    QueueRunner(JobQueue& queue, const QString& encoderPath, QObject* parent = nullptr);

    // How orders are made (tests put their own in); MakeQueueOrder by default.
    void SetOrderMaker(OrderMaker maker) { m_maker = std::move(maker); }
    void SetSegmentOrderMaker(SegmentOrderMaker maker) { m_segmentMaker = std::move(maker); }
    // alwaysReplace: existing outputs are replaced; otherwise they are kept and their
    // sections skipped (nobody is asked while a queue runs).
    void SetAlwaysReplace(bool replace) { m_replace = replace; }

    bool IsRunning() const { return m_running; }
    bool IsPaused() const { return m_paused; }
    std::optional<qint64> Current() const { return m_current; }
    JobController& Controller() { return m_controller; }

    // Runs the waiting jobs in order until none is left.
    void Start();
    // Holds the running job where it is and starts no other; Resume goes on.
    void Pause();
    void Resume();
    // The running job is stopped (its partial output removed) and marked skipped; a
    // waiting one is marked skipped. The queue goes on with the next.
    void Skip(qint64 id);
    // Stops the running job and the queue; the job waits again.
    void Stop();

Q_SIGNALS:
    void runningChanged(bool running);
    void jobStarted(qint64 id);
    void jobEnded(qint64 id, QueueJob::Status status);
    void idle(); // no job is waiting any more

private:
    void Next();
    void OnEnded(SplitJob::Outcome outcome);
    void StartSegments(qint64 id, const QueueJob& job);
    void OnSegmentsEnded(SegmentJob::Outcome outcome);
    void Ended(qint64 id, QueueJob::Status status, const QString& message);
    bool Active() const { return m_controller.IsActive() || m_segments; }

    JobQueue& m_queue;
    QString m_encoderPath;
    OrderMaker m_maker;
    SegmentOrderMaker m_segmentMaker;
    JobController m_controller;
    std::unique_ptr<SegmentJob> m_segments; // the running job, when it cuts segments
    bool m_replace = false;
    bool m_running = false;
    bool m_paused = false;
    bool m_skipping = false;
    bool m_stopping = false;
    std::optional<qint64> m_current;
};
