#include "queue/QueueRunner.h"
#include "app/PathUtils.h"
#include "segments/JoinPieces.h"
#include "split/SourceProbe.h"

#include <QFileInfo>
#include <QLocale>
#include <cmath>

std::optional<SplitJobOrder> MakeQueueOrder(const QueueJob& job, const QString& encoderPath, QString* error)
{
    auto fail = [error](const QString& why) -> std::optional<SplitJobOrder> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QString ffprobe = FindFfprobe(encoderPath);
    if (ffprobe.isEmpty())
        return fail(QStringLiteral("ffprobe was not found; it reads the source's length."));
    const FfprobeRun run = RunFfprobe(ffprobe,
                                      {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                                       QStringLiteral("format=duration"), QStringLiteral("-of"),
                                       QStringLiteral("default=nw=1:nk=1")},
                                      job.sourcePath, nullptr, 30000);
    bool ok = false;
    const double length = run.ok ? QLocale::c().toDouble(QString::fromLatin1(run.output).trimmed(), &ok) : 0;
    if (!run.ok || !ok || !std::isfinite(length) || length <= 0)
        return fail(run.ok ? QStringLiteral("The source's length cannot be read.") : run.error);

    JobInputs in;
    in.sourcePath = job.sourcePath;
    in.startSeconds = job.start.value_or(0.0);
    in.endSeconds = std::min(job.end.value_or(length), length);
    in.equalSections = job.count > 1;
    in.quantityText = QString::number(job.count);
    in.profilePath = job.profilePath;
    in.outputDirText = job.outputDir.isEmpty() ? ExtractFolder(job.sourcePath) : job.outputDir;
    in.sourceLengthMs = std::llround(length * 1000.0);
    JobPlan plan;
    if (const std::optional<JobCheckFailure> failure = CheckJob(in, job.extension, &plan))
        return fail(failure->message);
    plan.nameTemplate = job.nameTemplate;
    plan.profileName = job.profileName;
    QString why;
    if (!ApplySectionRequest(plan, job.sections, &why))
        return fail(why);
    if (const std::optional<JobCheckFailure> same = CheckOutputsAgainstSource(plan, job.sourcePath))
        return fail(same->message);
    return SplitJobOrder{job.sourcePath, plan, job.profileSwitches, encoderPath};
}

std::optional<SegmentJobOrder> MakeQueueSegmentOrder(const QueueJob& job, const QString& encoderPath, QString* error)
{
    auto fail = [error](const QString& why) -> std::optional<SegmentJobOrder> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    // The checks the window makes before it cuts segments.
    if (!SourceExists(job.sourcePath))
        return fail(QStringLiteral("Please specify a valid input video file."));
    if (!SourceExists(job.profilePath))
        return fail(QStringLiteral("Please select a valid output profile."));
    const QString folder = job.outputDir.isEmpty() ? ExtractFolder(job.sourcePath) : job.outputDir;
    if (!FolderExists(folder))
        return fail(QStringLiteral("Please specify a valid output path."));
    SegmentJobOrder order;
    order.base.sourcePath = job.sourcePath;
    order.base.profileSwitches = job.profileSwitches;
    order.base.encoderPath = encoderPath;
    order.outputFolder = WithTrailingBackslash(folder);
    order.baseName = StripExtension(ExtractFileName(job.sourcePath));
    order.extension = job.extension;
    order.segments = job.segments;
    order.output = job.segmentOutput;
    order.chaptersAtJoins = job.chaptersAtJoins;
    order.nameTemplate = job.nameTemplate;
    order.profileName = job.profileName;
    return order;
}

QueueRunner::QueueRunner(JobQueue& queue, const QString& encoderPath, QObject* parent)
    : QObject(parent), m_queue(queue), m_encoderPath(encoderPath)
{
    m_maker = [this](const QueueJob& job, QString* error) { return MakeQueueOrder(job, m_encoderPath, error); };
    m_segmentMaker = [this](const QueueJob& job, QString* error) { return MakeQueueSegmentOrder(job, m_encoderPath, error); };
    connect(&m_controller, &JobController::ended, this, &QueueRunner::OnEnded);
    connect(&m_controller, &JobController::progress, this, [this](int, int total) {
        if (m_current)
            m_queue.SetProgress(*m_current, total);
    });
}

void QueueRunner::Start()
{
    if (m_running)
        return;
    m_running = true;
    m_paused = false;
    emit runningChanged(true);
    Next();
}

void QueueRunner::Pause()
{
    if (!m_running || m_paused)
        return;
    m_paused = true;
    if (m_controller.CurrentState() == JobController::State::Running)
        m_controller.Pause();
    if (m_segments)
        m_segments->Pause();
    emit runningChanged(true);
}

void QueueRunner::Resume()
{
    if (!m_paused)
        return;
    m_paused = false;
    if (m_controller.CurrentState() == JobController::State::Paused)
        m_controller.Resume();
    if (m_segments)
        m_segments->Resume();
    emit runningChanged(m_running);
    if (m_running && !Active())
        QMetaObject::invokeMethod(this, &QueueRunner::Next, Qt::QueuedConnection);
}

void QueueRunner::Skip(qint64 id)
{
    if (m_current == id && Active()) {
        m_skipping = true;
        // ended() comes before this returns
        if (m_segments)
            m_segments->Cancel();
        else
            m_controller.Cancel();
        return;
    }
    const QueueJob* job = m_queue.Find(id);
    if (job && job->status == QueueJob::Status::Waiting)
        m_queue.SetStatus(id, QueueJob::Status::Skipped);
}

void QueueRunner::Stop()
{
    if (!m_running)
        return;
    m_stopping = true;
    if (m_segments)
        m_segments->Cancel();
    else if (m_controller.IsActive())
        m_controller.Cancel();
    m_stopping = false;
    m_running = false;
    m_paused = false;
    emit runningChanged(false);
}

void QueueRunner::Next()
{
    if (!m_running || m_paused || Active())
        return;
    const std::optional<qint64> id = m_queue.NextWaiting();
    if (!id) {
        m_running = false;
        m_current.reset();
        emit runningChanged(false);
        emit idle();
        return;
    }
    const QueueJob job = *m_queue.Find(*id);
    if (!job.segments.isEmpty()) {
        StartSegments(*id, job);
        return;
    }
    QString why;
    const std::optional<SplitJobOrder> order = m_maker(job, &why);
    if (!order) {
        m_queue.SetStatus(*id, QueueJob::Status::Failed, why);
        emit jobEnded(*id, QueueJob::Status::Failed);
        QMetaObject::invokeMethod(this, &QueueRunner::Next, Qt::QueuedConnection);
        return;
    }
    m_current = *id;
    m_queue.SetStatus(*id, QueueJob::Status::Running);
    emit jobStarted(*id);
    // Nobody is there to answer: an existing output is kept unless the preferences say to
    // replace it.
    m_controller.Start(*order, m_replace, [](const JobSection&) { return false; });
}

void QueueRunner::OnEnded(SplitJob::Outcome outcome)
{
    if (!m_current)
        return;
    const qint64 id = *m_current;
    m_current.reset();
    const SplitJob* job = m_controller.Job();
    QueueJob::Status status = QueueJob::Status::Done;
    QString message;
    switch (outcome) {
    case SplitJob::Outcome::Completed:
        message = m_controller.CompletionNotes().join(QLatin1Char(' '));
        break;
    case SplitJob::Outcome::Cancelled:
        status = m_skipping ? QueueJob::Status::Skipped : m_stopping ? QueueJob::Status::Waiting : QueueJob::Status::Cancelled;
        break;
    case SplitJob::Outcome::Failed:
        status = QueueJob::Status::Failed;
        message = QStringLiteral("Section %1 could not be split. %2").arg(job->FailedSection().number).arg(job->FailureReason());
        break;
    case SplitJob::Outcome::EncoderMissing:
        status = QueueJob::Status::Failed;
        message = QStringLiteral("The encoder could not be started.");
        break;
    default:
        status = QueueJob::Status::Failed;
        message = job ? job->FailureReason() : QString();
        break;
    }
    Ended(id, status, message);
}

void QueueRunner::Ended(qint64 id, QueueJob::Status status, const QString& message)
{
    m_skipping = false;
    m_queue.SetStatus(id, status, message);
    emit jobEnded(id, status);
    if (m_running && !m_stopping)
        QMetaObject::invokeMethod(this, &QueueRunner::Next, Qt::QueuedConnection);
}

void QueueRunner::StartSegments(qint64 id, const QueueJob& job)
{
    QString why;
    const std::optional<SegmentJobOrder> order = m_segmentMaker(job, &why);
    if (!order) {
        m_queue.SetStatus(id, QueueJob::Status::Failed, why);
        emit jobEnded(id, QueueJob::Status::Failed);
        QMetaObject::invokeMethod(this, &QueueRunner::Next, Qt::QueuedConnection);
        return;
    }
    m_current = id;
    m_queue.SetStatus(id, QueueJob::Status::Running);
    emit jobStarted(id);
    m_segments = std::make_unique<SegmentJob>(*order);
    // As for a split job: nobody is asked while the queue runs.
    const bool replace = m_replace;
    m_segments->SetOverwriteQuestion(
        [replace](const JobSection&) { return replace ? SplitJob::Overwrite::Replace : SplitJob::Overwrite::Skip; });
    connect(m_segments.get(), &SegmentJob::progress, this, [this](int, int total) {
        if (m_current)
            m_queue.SetProgress(*m_current, total);
    });
    connect(m_segments.get(), &SegmentJob::ended, this, &QueueRunner::OnSegmentsEnded);
    m_segments->Start();
}

void QueueRunner::OnSegmentsEnded(SegmentJob::Outcome outcome)
{
    if (!m_current || !m_segments)
        return;
    const qint64 id = *m_current;
    m_current.reset();
    // Gone once this call has returned: the signal came from inside it.
    SegmentJob* job = m_segments.release();
    job->deleteLater();
    QueueJob::Status status = QueueJob::Status::Done;
    QString message;
    switch (outcome) {
    case SegmentJob::Outcome::Completed:
        message = job->Notes().join(QLatin1Char(' '));
        break;
    case SegmentJob::Outcome::Cancelled:
        status = m_skipping ? QueueJob::Status::Skipped : m_stopping ? QueueJob::Status::Waiting : QueueJob::Status::Cancelled;
        break;
    default:
        status = QueueJob::Status::Failed;
        message = job->FailureReason();
        break;
    }
    Ended(id, status, message);
}
