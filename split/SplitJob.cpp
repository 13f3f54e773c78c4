#include "split/SplitJob.h"
#include "split/EncoderRun.h"
#include "split/OutputFile.h"

#include <QThread>
#include <utility>

namespace {
// One read of the encoder's output takes at most this many bytes.
constexpr qint64 kChunkBytes = 4095;
constexpr int kSecondMs = 1000;
} // namespace

SplitJob::SplitJob(const SplitJobOrder& order, QObject* parent) : QObject(parent), m_order(order)
{
    m_timer.setInterval(kSecondMs);
    connect(&m_timer, &QTimer::timeout, this, &SplitJob::Tick);
}

SplitJob::~SplitJob()
{
    StopLookup();
    if (m_state != State::Running)
        return;
    m_state = State::Ended;
    m_result = Outcome::Cancelled;
    m_timer.stop();
    if (m_run) {
        m_run->Stop();
        delete m_run.data();
    }
    m_part.reset(); // removes the partial file
}

void SplitJob::SetOverwriteQuestion(OverwriteQuestion question) { m_question = std::move(question); }

QStringList SplitJob::CompletionNotes() const
{
    QStringList notes = m_order.plan.cuts ? CutNotes(*m_order.plan.cuts) : QStringList();
    if (m_order.mapping)
        notes += m_order.mapping->notes;
    return notes + EncoderNotes(m_encoderNotes, m_order.plan.count);
}

void SplitJob::UseExternalClock() { m_externalClock = true; }

EncoderRun* SplitJob::CurrentRun() const { return m_run.data(); }

void SplitJob::Start()
{
    if (m_state != State::Idle)
        return;
    m_state = State::Running;
    if (!m_externalClock)
        m_timer.start();
    QMetaObject::invokeMethod(this, &SplitJob::Begin, Qt::QueuedConnection);
}

void SplitJob::Cancel() { Finish(Outcome::Cancelled); }

void SplitJob::Tick()
{
    if (m_state != State::Running || m_paused || m_asking)
        return;
    ++m_elapsed;
    emit clock(m_elapsed, RemainingSeconds(m_elapsed, m_total));
}

void SplitJob::Pause()
{
    if (m_state != State::Running || m_paused)
        return;
    m_paused = true;
    if (m_run)
        m_run->Pause();
}

void SplitJob::Resume()
{
    if (!m_paused)
        return;
    m_paused = false;
    if (m_state != State::Running)
        return;
    if (m_run)
        m_run->Resume();
    // What came due meanwhile goes on from the event loop, as it would have.
    if (std::exchange(m_pendingNext, false))
        QMetaObject::invokeMethod(this, &SplitJob::NextSection, Qt::QueuedConnection);
    if (std::exchange(m_pendingActivity, false))
        QMetaObject::invokeMethod(this, &SplitJob::OnActivity, Qt::QueuedConnection);
}

void SplitJob::Begin()
{
    if (m_state != State::Running)
        return;
    // Checked again here, whoever built the plan: the source must never be an output.
    if (const std::optional<JobCheckFailure> refusal = CheckOutputsAgainstSource(m_order.plan, m_order.sourcePath)) {
        m_reason = refusal->message;
        m_refusal = refusal;
        Finish(Outcome::Refused);
        return;
    }
    // What a killed run of the program left behind for these outputs.
    if (m_order.plan.count > 0 && !m_order.plan.NamePrefix().isEmpty())
        RemoveLeftoverParts(m_order.plan.outputFolder, m_order.plan.NamePrefix(), m_order.plan.extension);
    if (!m_order.plan.pending && (m_order.plan.count <= 0 || m_order.plan.cuts)) {
        if (m_order.plan.cuts)
            m_lookupReport.cuts = *m_order.plan.cuts;
        // A quick read of the stream headers; without it ffmpeg picks one track of each kind.
        if (m_order.plan.count > 0 && !m_order.mapping)
            ResolveTracks(m_order);
        NextSection();
        return;
    }
    StartLookup();
}

void SplitJob::StartLookup()
{
    // ffprobe reads the source meanwhile; the caller's loop goes on. Sections that wait for
    // the source (its chapters, its sizes) are placed first.
    m_stopLookup = std::make_shared<std::atomic<bool>>(false);
    auto report = std::make_shared<CutLookupReport>();
    auto resolved = std::make_shared<SplitJobOrder>(m_order);
    auto problem = std::make_shared<QString>();
    m_lookup = QThread::create([stop = m_stopLookup, report, resolved, problem] {
        if (resolved->plan.pending && !ResolveSections(*resolved, problem.get(), stop.get())) {
            if (problem->isEmpty())
                *problem = QStringLiteral("The sections could not be placed on the source.");
            return;
        }
        // The tracks are listed by the look-up's first run of ffprobe; on their own only when
        // that could not list them.
        TrackList tracks;
        *report = LookUpCuts(*resolved, stop.get(), resolved->mapping ? nullptr : &tracks);
        if (!resolved->mapping && !stop->load()) {
            if (report->tracksListed)
                resolved->mapping = ComposeTrackMapping(tracks, resolved->tracks, resolved->plan.extension.mid(1),
                                                        resolved->profileSwitches);
            else
                ResolveTracks(*resolved, nullptr, stop.get());
        }
    });
    QThread* lookup = m_lookup;
    connect(m_lookup, &QThread::finished, this, [this, lookup, report, resolved, problem] {
        if (lookup != m_lookup) // one that a cancel has already waited for and let go
            return;
        if (!problem->isEmpty()) {
            StopLookup();
            m_reason = *problem;
            m_refusal = JobCheckFailure{9, QStringLiteral("Invalid Section"), *problem, JobFocus::None};
            Finish(Outcome::Refused);
            return;
        }
        const bool placed = m_order.plan.pending.has_value() || !resolved->plan.names.isEmpty();
        m_order.plan = resolved->plan;
        if (!m_order.mapping)
            m_order.mapping = resolved->mapping;
        if (placed) {
            // The names are known only now (or changed with sections placed again).
            if (const std::optional<JobCheckFailure> refusal = CheckOutputsAgainstSource(m_order.plan, m_order.sourcePath)) {
                StopLookup();
                m_reason = refusal->message;
                m_refusal = refusal;
                Finish(Outcome::Refused);
                return;
            }
            if (!m_order.plan.NamePrefix().isEmpty())
                RemoveLeftoverParts(m_order.plan.outputFolder, m_order.plan.NamePrefix(), m_order.plan.extension);
        }
        OnCutsFound(*report);
    });
    const QPointer<SplitJob> self(this);
    emit lookingUpCuts();
    if (!self || m_state != State::Running)
        return;
    m_lookup->start();
}

void SplitJob::OnCutsFound(const CutLookupReport& report)
{
    StopLookup();
    if (m_state != State::Running)
        return;
    m_lookupReport = report;
    m_order.plan.cuts = report.cuts;
    const QPointer<SplitJob> self(this);
    emit cutsPlaced(report.cuts);
    if (self)
        NextSection();
}

void SplitJob::StopLookup()
{
    if (!m_lookup)
        return;
    // ffprobe is ended at once when it is still reading; the thread then returns.
    m_stopLookup->store(true);
    m_lookup->wait();
    // Possibly inside its own finished signal: deleted once that has returned.
    m_lookup->deleteLater();
    m_lookup = nullptr;
}

void SplitJob::NextSection()
{
    if (m_paused) {
        m_pendingNext = true;
        return;
    }
    const QPointer<SplitJob> self(this);
    while (m_state == State::Running) {
        if (m_next > m_order.plan.count) {
            Finish(Outcome::Completed);
            return;
        }
        const JobSection section = m_order.plan.Section(static_cast<qint32>(m_next++));
        if (section.empty) {
            // Nothing to write is done at once: the total moves past it.
            m_total = TotalBarPosition(100, section.number, m_order.plan.count);
            emit sectionEmpty(section);
            if (!self || m_state != State::Running)
                return;
            emit progress(m_current, m_total, m_progress.LastTime());
            if (!self)
                return;
            continue;
        }
        bool replace = false;
        if (OutputEntryExists(section.outputPath)) {
            m_asking = true;
            const Overwrite answer = m_question ? m_question(section) : Overwrite::Skip;
            if (!self)
                return;
            m_asking = false;
            if (m_state != State::Running) // ended while the question was open
                return;
            if (answer == Overwrite::Stop) {
                Finish(Outcome::Declined);
                return;
            }
            if (answer == Overwrite::Skip) {
                emit sectionSkipped(section);
                if (!self)
                    return;
                continue;
            }
            replace = true;
        }
        RunSection(section, replace);
        return;
    }
}

void SplitJob::RunSection(const JobSection& section, bool replace)
{
    const QPointer<SplitJob> self(this);
    m_section = section;
    m_replace = replace;
    m_commandLine.clear();
    m_part = std::make_unique<PartialOutput>(section.outputPath);
    QString error;
    if (!m_part->Create(&error)) {
        emit sectionStarted(section, QString());
        if (self)
            FailSection(error);
        return;
    }
    const PlannedSection planned = PlanSection(m_order, section.number, m_part->TempPath());
    m_commandLine = planned.commandLine;
    m_progress = SectionProgress(section.length);
    m_run = new EncoderRun(this);
    m_runStarted = false;
    connect(m_run, &EncoderRun::activity, this, &SplitJob::OnActivity);

    // A new section's bar starts empty, together with its label.
    m_current = 0;
    emit sectionStarted(section, m_commandLine);
    if (!self || m_state != State::Running)
        return;
    emit progress(m_current, m_total, 0);
    if (!self || m_state != State::Running)
        return;

    // Started without waiting: a program that cannot be run is seen in OnActivity.
    if (!m_run->Start(m_order.encoderPath, planned.arguments)) {
        // Too long an argument list is the profile's doing, not a missing encoder.
        if (m_run->ArgumentsTooLong()) {
            FailSection(QStringLiteral("The encoder cannot be started: argument list too long (the profile's "
                                       "switches are more than the system passes to a program)."));
            return;
        }
        Finish(Outcome::EncoderMissing);
        return;
    }
    m_runStarted = true;
    // Output that came while it was starting was left for now.
    QMetaObject::invokeMethod(this, &SplitJob::OnActivity, Qt::QueuedConnection);
}

void SplitJob::OnActivity()
{
    // A run that failed to start is no section that ended.
    if (!m_runStarted || m_state != State::Running)
        return;
    if (m_paused) {
        m_pendingActivity = true;
        return;
    }
    if (m_run && m_run->FailedToStart()) {
        Finish(Outcome::EncoderMissing);
        return;
    }
    const QPointer<SplitJob> self(this);
    while (m_state == State::Running && m_run && m_run->HasOutput()) {
        m_progress.Feed(m_run->Read(kChunkBytes));
        if (m_progress.Length() != 0)
            m_current = CurrentBarPosition(m_progress.LastTime(), m_progress.Length());
        m_total = TotalBarPosition(m_current, m_section.number, m_order.plan.count);
        emit progress(m_current, m_total, m_progress.LastTime());
        if (!self)
            return;
    }
    if (m_state == State::Running && m_run && m_run->AtEnd())
        EndSection();
}

void SplitJob::EndSection()
{
    const bool failed = m_run->Failed();
    QString reason;
    if (failed) {
        // A failure we did not cause is no success: say why.
        reason = m_run->LastErrorLine();
        if (reason.isEmpty())
            reason = m_run->Crashed() ? QStringLiteral("The encoder was ended by %1.").arg(m_run->EndingSignal())
                                      : QStringLiteral("The encoder ended with status %1.").arg(m_run->ExitCode());
    }
    // The user knows the output by its own name, not by the temporary one.
    reason.replace(m_part->TempPath(), m_section.outputPath);
    bool nothingToWrite = false;
    for (const QString& note : m_run->Notes()) {
        m_encoderNotes.append(EncoderNote{m_section.number, note});
        nothingToWrite = nothingToWrite || NoteSaysNothingWritten(note);
    }
    // Whatever the encoder left running goes with it.
    m_run->Stop();
    DropRun();
    if (failed) {
        FailSection(reason);
        return;
    }
    if (m_part->IsEmpty() && nothingToWrite) {
        // The encoder found nothing to copy between the key frames it had to cut on.
        m_part.reset();
        const QPointer<SplitJob> self(this);
        m_total = TotalBarPosition(100, m_section.number, m_order.plan.count);
        emit sectionEmpty(m_section);
        if (!self || m_state != State::Running)
            return;
        emit progress(m_current, m_total, m_progress.LastTime());
        if (!self || m_state != State::Running)
            return;
        QMetaObject::invokeMethod(this, &SplitJob::NextSection, Qt::QueuedConnection);
        return;
    }
    if (m_part->IsEmpty()) {
        FailSection(QStringLiteral("The encoder wrote nothing to %1.").arg(m_section.outputPath));
        return;
    }
    if (m_order.plan.sizeLimit && m_part->Size() > m_order.plan.sizeLimit->maxBytes) {
        const qint64 written = m_part->Size();
        m_part.reset();
        if (RecutShorter(written))
            return;
        FailSection(QStringLiteral("It came out at %1, larger than the limit of %2, and cannot be cut shorter.")
                        .arg(FormatByteSize(written), FormatByteSize(m_order.plan.sizeLimit->maxBytes)));
        return;
    }
    QString error;
    if (!m_part->Commit(m_replace, &error)) {
        FailSection(error);
        return;
    }
    m_part.reset();
    const QPointer<SplitJob> self(this);
    emit sectionDone(m_section);
    if (!self || m_state != State::Running)
        return;
    // From the event loop, not from inside the ended encoder's signal.
    QMetaObject::invokeMethod(this, &SplitJob::NextSection, Qt::QueuedConnection);
}

bool SplitJob::RecutShorter(qint64 written)
{
    // The estimate was short: it learns from what was written, and this section and those
    // after it are placed again from its start. Earlier sections stay as they are.
    constexpr int kMostRecuts = 4;
    const qint32 i = m_section.number;
    JobPlan& plan = m_order.plan;
    if (++m_recuts[i] > kMostRecuts || plan.bounds.size() < i + 1)
        return false;
    SizeLimit& limit = *plan.sizeLimit;
    const double from = m_section.start, to = m_section.end;
    const double estimated = limit.keyFrames ? EstimateBytes(limit.packets, from, to, limit.model)
                                             : limit.model.scale * limit.model.bytesPerSecond * (to - from) + limit.model.fixed;
    LearnFromOversizedSection(limit.model, estimated, written, to - from, limit.maxBytes);
    const SizePlan again = PlanSizeLimitedSections(limit.packets, plan.bounds.at(i - 1), plan.end, limit.maxBytes,
                                                   limit.keyFrames, limit.model);
    if (!again.problem.isEmpty() || again.bounds.size() < 2 || !(again.bounds.at(1) < to - kSameTime))
        return false;
    const QList<double> bounds = plan.bounds.mid(0, i - 1) + again.bounds;
    ApplyBounds(plan, bounds);
    plan.cuts.reset();
    m_next = i;
    StartLookup();
    return true;
}

void SplitJob::FailSection(const QString& reason)
{
    m_failedSection = m_section;
    m_reason = reason;
    m_part.reset(); // removes the partial file; a file it was to replace stays
    const QPointer<SplitJob> self(this);
    emit sectionFailed(m_section, reason);
    if (self)
        Finish(Outcome::Failed);
}

void SplitJob::Finish(Outcome outcome)
{
    if (m_state != State::Running)
        return;
    m_state = State::Ended;
    m_result = outcome;
    m_timer.stop();
    StopLookup();
    if (m_run) {
        m_run->Stop();
        DropRun();
    }
    m_part.reset();
    const QPointer<SplitJob> self(this);
    if (outcome == Outcome::Completed)
        emit finished();
    else if (outcome == Outcome::Cancelled)
        emit cancelled();
    if (self)
        emit ended(outcome);
}

void SplitJob::DropRun()
{
    // Possibly inside the encoder's own signal: deleted once that has returned.
    m_run->disconnect(this);
    m_run->deleteLater();
    m_run = nullptr;
    m_runStarted = false;
}
