#include "split/JobController.h"
#include "app/PathUtils.h"
#include "split/CutPoints.h"

#include <QDir>

JobController::JobController(QObject* parent) : QObject(parent) {}

JobController::~JobController()
{
    if (m_job)
        m_job->disconnect(this);
}

void JobController::SetState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

QString JobController::SectionText(const JobSection& section) const
{
    // What is being split, and under it where the section really lies in the source.
    const SplitJobOrder& order = m_job->Order();
    const QString what = order.plan.equalSections
                             ? QStringLiteral("Splitting: Section ") + QString::number(section.number)
                             : QStringLiteral("Splitting: ") + ExtractFileName(order.sourcePath);
    return what + QLatin1Char('\n') + FormatCutTime(section.start) + QStringLiteral(" to ")
           + FormatCutTime(section.end);
}

bool JobController::Start(const SplitJobOrder& order, bool alwaysReplace, ReplaceQuestion ask)
{
    if (IsActive())
        return false;
    if (m_job) {
        // The last job may still be inside its own ended() signal.
        m_job->disconnect(this);
        m_job.release()->deleteLater();
    }
    m_job = std::make_unique<SplitJob>(order);
    SplitJob* job = m_job.get();
    job->UseExternalClock(); // the window's process timer counts the seconds

    connect(job, &SplitJob::lookingUpCuts, this,
            [this] { emit processing(QStringLiteral("Finding the cut points...")); });
    connect(job, &SplitJob::sectionStarted, this, [this, job](const JobSection& section, const QString& commandLine) {
        emit processing(SectionText(section));
        emit runChanged(job->CurrentRun(), commandLine);
    });
    connect(job, &SplitJob::progress, this, [this](int current, int total, double) { emit progress(current, total); });
    connect(job, &SplitJob::clock, this, &JobController::clock);
    m_written = 0;
    connect(job, &SplitJob::sectionDone, this, [this] {
        ++m_written;
        emit runChanged(nullptr, QString());
    });
    connect(job, &SplitJob::ended, this, &JobController::OnEnded);

    const bool equal = order.plan.equalSections;
    job->SetOverwriteQuestion([this, alwaysReplace, ask, equal](const JobSection& section) {
        if (alwaysReplace)
            return SplitJob::Overwrite::Replace;
        emit processing(SectionText(section)); // the question is about this one
        if (ask && ask(section))
            return SplitJob::Overwrite::Replace;
        return equal ? SplitJob::Overwrite::Skip : SplitJob::Overwrite::Stop;
    });

    SetState(State::Running);
    job->Start();
    return true;
}

void JobController::Pause()
{
    if (m_state != State::Running)
        return;
    m_job->Pause();
    SetState(State::Paused);
}

void JobController::Resume()
{
    if (m_state != State::Paused)
        return;
    SetState(State::Running);
    m_job->Resume();
}

void JobController::Cancel()
{
    if (IsActive())
        m_job->Cancel();
}

void JobController::Tick()
{
    if (m_state == State::Running)
        m_job->Tick();
}

QStringList JobController::CompletionNotes() const
{
    if (!m_job)
        return {};
    QStringList notes = m_job->CompletionNotes();
    if (!m_job->Lookup().problem.isEmpty() && m_job->Order().plan.count > 0)
        notes.prepend(QStringLiteral("The cut points could not be looked up in the source, so the "
                                     "sections lie at the marked times: %1")
                          .arg(m_job->Lookup().problem));
    return notes;
}

void JobController::OnEnded(SplitJob::Outcome outcome)
{
    emit runChanged(nullptr, QString());
    if (outcome == SplitJob::Outcome::Completed) {
        // Whatever the last report said, the job is done: full bars, nothing left.
        emit progress(100, 100);
        emit clock(m_job->Elapsed(), 0);
    }
    SetState(State::Idle);
    emit ended(outcome);
}

QString CompletionText(int filesWritten, const QString& outputFolder, const QStringList& notes)
{
    const QString folder = QDir::toNativeSeparators(outputFolder);
    QString text = QStringLiteral("Splitting is completed successfully.\n\n");
    if (filesWritten <= 0)
        text += QStringLiteral("No file was written to %1.").arg(folder);
    else if (filesWritten == 1)
        text += QStringLiteral("1 file was written to %1.").arg(folder);
    else
        text += QStringLiteral("%1 files were written to %2.").arg(filesWritten).arg(folder);
    if (!notes.isEmpty())
        text += QStringLiteral("\n\n") + notes.join(QLatin1Char('\n'));
    return text;
}
