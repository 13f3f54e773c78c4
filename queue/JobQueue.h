#pragma once
// A queue of split jobs that run one after another: what each job is (a source, its range,
// its sections, its profile and output), how far it got, and the file it is kept in across
// restarts. Qt Core only.
#include "segments/SegmentList.h"
#include "split/SectionModes.h"

#include <QList>
#include <QObject>
#include <QString>
#include <optional>

struct QueueJob {
    enum class Status { Waiting, Running, Done, Failed, Skipped, Cancelled };

    qint64 id = 0;          // unique within the queue
    QString sourcePath;     // absolute
    std::optional<double> start; // none: the source's start
    std::optional<double> end;   // none: the source's end
    qint32 count = 1;       // equal sections (1: the range out as one file)
    SectionRequest sections; // other ways of dividing it
    QString profileName;
    QString profilePath;
    QString profileSwitches; // as the profile stood when the job was added
    QString extension;       // ".mp4"
    QString outputDir;       // empty: beside the source
    QString nameTemplate;    // empty: NAME_ClipN
    // Segments, in the order they are cut and joined: when there are any, the job cuts them
    // (as the Segments panel would) instead of its range and sections.
    QList<Segment> segments;
    SegmentOutput segmentOutput = SegmentOutput::Separate;
    bool chaptersAtJoins = false;
    Status status = Status::Waiting;
    int progress = 0;        // 0..100
    QString message;         // why it failed, or what the completion said
};

// The word a status is stored and shown as ("waiting", "done", ...).
QString StatusName(QueueJob::Status status);

class JobQueue : public QObject {
    Q_OBJECT
public:
    explicit JobQueue(QObject* parent = nullptr) : QObject(parent) {}

    const QList<QueueJob>& Jobs() const { return m_jobs; }
    qsizetype Size() const { return m_jobs.size(); }
    // The job's index, -1 when it is not in the queue.
    qsizetype IndexOf(qint64 id) const;
    const QueueJob* Find(qint64 id) const;

    // Appends the job with a new id, which it returns.
    qint64 Add(QueueJob job);
    // Removes a job that is not running; false otherwise.
    bool Remove(qint64 id);
    // Moves a job one place up (-1) or down (+1).
    bool Move(qint64 id, int step);
    // The first waiting job, or nothing.
    std::optional<qint64> NextWaiting() const;
    void SetStatus(qint64 id, QueueJob::Status status, const QString& message = QString());
    void SetProgress(qint64 id, int progress);
    // Jobs that are no longer waiting or running go.
    void RemoveFinished();

    // The queue as JSON, and back. Load takes only what is well formed: a file written by
    // anyone is read without harm (its size, counts and texts bounded, paths absolute,
    // numbers finite); entries it cannot use are left out, counted in `dropped` and said in
    // `problems` (which entry, what is wrong, up to a few of them). A job that
    // was running when the program ended waits again. False (the queue unchanged) when the
    // file is there but is no queue; a missing file is an empty queue.
    QByteArray ToJson() const;
    bool FromJson(const QByteArray& json, int* dropped = nullptr, QString* error = nullptr,
                  QStringList* problems = nullptr);
    // Written whole under a temporary name, then renamed: a crash never leaves half a file.
    bool Save(const QString& path, QString* error = nullptr) const;
    bool Load(const QString& path, int* dropped = nullptr, QString* error = nullptr, QStringList* problems = nullptr);

Q_SIGNALS:
    void changed(); // jobs added, removed, moved, or loaded
    void jobChanged(qint64 id); // one job's status or progress

private:
    QList<QueueJob> m_jobs;
    qint64 m_nextId = 1;
};
