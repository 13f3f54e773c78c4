// The split job of the main window: its checks and messages, the job layout, and the
// progress panel showing what the job controller (split/JobController) reports; then
// completion. The window never waits for the job: its end comes as JobEnded.
#include "about/ProgramInfo.h"
#include "app/Dialogs.h"
#include "app/Forms.h"
#include "app/ImageControl.h"
#include "app/MainForm.h"
#include "app/Navigation.h"
#include "app/PathUtils.h"
#include "app/Shell.h"
#include "app/TimeCode.h"
#include "preview/DSTrackBar.h"
#include "preview/FilterGraph.h"
#include "profiles/ProfileFormat.h"
#include "split/CommandLine.h"
#include "split/CountdownForm.h"
#include "split/EncoderRun.h"
#include "split/JobPlan.h"
#include "split/SectionModeRow.h"
#include "split/SplitJob.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>

namespace {

QString ProductName()
{
    const QString name = ProgramInfo().productName;
    return name.isEmpty() ? QStringLiteral("Veltrane") : name;
}

QString SelectedProfilePath(const TMainForm* f)
{
    return ProfilePath(f->Paths.profileRoot, f->cmbProfile->currentText());
}

// Everything a press of Start takes from the window, in one place.
JobInputs WindowJobInputs(const TMainForm* f)
{
    JobInputs in;
    in.sourcePath = f->edtSource->text();
    in.startText = f->StartTextForJob(); // the exact marks, or the fields' own texts
    in.endText = f->EndTextForJob();
    in.equalSections = f->rdbEqual->isChecked();
    in.quantityText = f->edtSectionQty->text();
    in.profilePath = SelectedProfilePath(f);
    in.outputDirText = f->edtOutputDir->text();
    in.sourceLengthMs = f->FilterGraph ? f->FilterGraph->SourceLength() : 0;
    return in;
}

// The job is over without a completion action: both timers stop, the window goes idle.
void EndJobQuietly(TMainForm* f)
{
    f->tmrProcess->stop();
    f->UnlockAfterJob();
}

// A bar and its label always show the same number. QProgressBar leaves out the repaint of
// a step smaller than its chunk, so without the explicit update its picture would lag
// behind the label.
void ShowBar(QProgressBar* bar, QLabel* label, int position)
{
    bar->setValue(position);
    bar->update();
    label->setText(QString::number(bar->value()) + QLatin1Char('%'));
}

void ShowClock(TMainForm* f, qint64 elapsed, qint64 remaining)
{
    f->ElapsedCounter = static_cast<int>(elapsed);
    f->labElapsed->setText(FormatTimeCode(static_cast<double>(elapsed)));
    f->labRemaining->setText(FormatTimeCode(static_cast<double>(remaining)));
}

void ShowCheckFailure(TMainForm* f, const JobCheckFailure& failure)
{
    ShowMessage(f, MsgIcon::Information, failure.caption, failure.message);
    switch (failure.focus) {
    case JobFocus::Source: f->edtSource->setFocus(); break;
    case JobFocus::SectionQty: f->edtSectionQty->setFocus(); break;
    case JobFocus::Profile: f->cmbProfile->setFocus(); break;
    case JobFocus::OutputDir: f->edtOutputDir->setFocus(); break;
    case JobFocus::None: break;
    }
}

} // namespace

void TMainForm::SetupJob()
{
    connect(imgStart, &TImage::clicked, this, &TMainForm::imgStartClick);
    connect(imgCancel, &TImage::clicked, this, &TMainForm::imgCancelClick);
    connect(tmrProcess, &QTimer::timeout, this, &TMainForm::tmrProcessTimer);

    Job = new JobController(this);
    connect(Job, &JobController::processing, this, [this](const QString& text) { labProcessing->setText(text); });
    connect(Job, &JobController::runChanged, this, [this](EncoderRun* run, const QString& commandLine) {
        CurrentRun = run;
        if (!commandLine.isEmpty())
            CurrentCommandLine = commandLine;
    });
    connect(Job, &JobController::progress, this, [this](int current, int total) {
        ShowBar(pgbCurrent, labCurProgress, current);
        ShowBar(pgbTotal, labTotalProgress, total);
    });
    connect(Job, &JobController::clock, this, [this](qint64 elapsed, qint64 remaining) { ShowClock(this, elapsed, remaining); });
    connect(Job, &JobController::ended, this, &TMainForm::JobEnded);
}

void TMainForm::imgStartClick()
{
    // Built once per press, before any check; every section of the job gets this text.
    const ProfileChoice& profile = State.Profile();
    const QString switches = BuildProfileSwitches(
        SelectedProfilePath(this), [&profile](int sort, const QString& name) { return profile.Value(sort, name); });
    RunSplitJob(switches);
}

void TMainForm::RunSplitJob(const QString& profileSwitches)
{
    if (Job->IsActive())
        return;
    const JobInputs in = WindowJobInputs(this);

    const QString extension = State.Profile().extension;
    JobPlan plan;
    if (const std::optional<JobCheckFailure> failure = CheckJob(in, extension, &plan)) {
        ShowCheckFailure(this, *failure);
        return;
    }

    // Sections by length, size, chapters or split points; names from the template.
    plan.nameTemplate = State.Preferences().nameTemplate;
    plan.profileName = cmbProfile->currentText();
    QString why;
    if (SectionModes->Chosen()) {
        JobCheckFailure failure;
        const std::optional<SectionRequest> request = SectionModes->Request(plan.start, plan.end, &failure);
        if (!request) {
            ShowCheckFailure(this, failure);
            SectionModes->edtSectionValue->setFocus();
            return;
        }
        if (!ApplySectionRequest(plan, *request, &why)) {
            ShowMessage(this, MsgIcon::Information, QStringLiteral("Invalid Section"), why);
            return;
        }
    } else if (!NamePlanSections(plan)) {
        ShowMessage(this, MsgIcon::Information, QStringLiteral("Invalid Section"),
                    QStringLiteral("A name template names at most %1 sections.").arg(kMostNamedSections));
        return;
    }
    if (const std::optional<JobCheckFailure> same = CheckOutputsAgainstSource(plan, in.sourcePath)) {
        ShowCheckFailure(this, *same);
        return;
    }

    const bool alwaysReplace = State.Preferences().overwrite;
    LockForJob();
    // The job goes on from the event loop; JobEnded follows.
    Job->Start(SplitJobOrder{in.sourcePath, plan, profileSwitches, EncoderPath, JobTracks(in.sourcePath)}, alwaysReplace,
               [this](const JobSection&) {
                   return ShowMessage(this, MsgIcon::Question, QStringLiteral("Overwrite"),
                                      QStringLiteral("The output file is existent. Overwrite it?"), MsgButtons::YesNo)
                          == MsgResult::Yes;
               });
}

void TMainForm::JobEnded(SplitJob::Outcome outcome)
{
    CurrentRun = nullptr;
    const SplitJob* job = Job->Job();
    switch (outcome) {
    case SplitJob::Outcome::Completed:
        Completion();
        break;
    case SplitJob::Outcome::EncoderMissing:
        tmrProcess->stop();
        // The program's plain message dialog: its title as caption, no icon, OK.
        ShowMessage(this, MsgIcon::None, ApplicationTitle(), QStringLiteral("Error. Please re-install ") + ProductName());
        UnlockAfterJob();
        break;
    case SplitJob::Outcome::Failed:
        // A failure we did not cause is no success: say which section and why.
        tmrProcess->stop();
        tmrPreview->stop();
        ShowMessage(this, MsgIcon::Error, ApplicationTitle(),
                    QStringLiteral("Section %1 could not be split. %2")
                        .arg(job->FailedSection().number)
                        .arg(job->FailureReason()));
        UnlockAfterJob();
        break;
    case SplitJob::Outcome::Refused:
        // A link to the source that appeared after the checks.
        EndJobQuietly(this);
        if (const std::optional<JobCheckFailure> refusal = job->Refusal())
            ShowCheckFailure(this, *refusal);
        break;
    default: // cancelled, or No to the question of a one-section job
        EndJobQuietly(this);
        break;
    }
}

void TMainForm::LockForJob()
{
    if (FilterGraph)
        FilterGraph->Stop();
    ElapsedCounter = 0;
    tmrPreview->start();
    tmrProcess->start();
    tkbProgress->setEnabled(false);
    for (QToolButton* b : {sbtnPlayPreview, sbtnPausePreview, sbtnStopPreview, sbtnSelStart, sbtnSelEnd, sbtnErase})
        b->setEnabled(false);
    imgStart->hide();
    imgCancel->show();
    sbtnOpen->setEnabled(false);
    sbtnSettings->setEnabled(false);
    ShowBar(pgbCurrent, labCurProgress, 0);
    ShowBar(pgbTotal, labTotalProgress, 0);
    labElapsed->setText(QString());
    labRemaining->setText(QString());
    panProgress->show();
    panProgress->raise();
}

void TMainForm::UnlockAfterJob()
{
    tmrPreview->stop();
    tkbProgress->setEnabled(true);
    for (QToolButton* b : {sbtnPlayPreview, sbtnPausePreview, sbtnStopPreview, sbtnSelStart, sbtnSelEnd, sbtnErase})
        b->setEnabled(true);
    imgStart->show();
    imgCancel->hide();
    sbtnOpen->setEnabled(true);
    sbtnSettings->setEnabled(true);
    panProgress->hide();
    Navigator->ShowPicturePosition();
}

void TMainForm::StopEncoder()
{
    // The encoder and whatever it started end now, its partial file goes, and JobEnded
    // runs before this returns.
    Job->Cancel();
}

void TMainForm::tmrProcessTimer()
{
    if (Job->IsActive()) {
        Job->Tick(); // shown through the job's clock report; a held job does not count
        return;
    }
    ++ElapsedCounter;
    ShowClock(this, ElapsedCounter, RemainingSeconds(ElapsedCounter, pgbTotal->value()));
}

void TMainForm::imgCancelClick()
{
    AskToCancelJob(QStringLiteral("Query"), QStringLiteral("Do you want to cancel the splitting?"));
}

bool TMainForm::AskToCancelJob(const QString& caption, const QString& text)
{
    // Held while the question is open: the job cannot end behind it, and the user's
    // thinking time is no working time.
    const bool held = Job->CurrentState() == JobController::State::Running;
    if (held)
        Job->Pause();
    if (ShowMessage(this, MsgIcon::Question, caption, text, MsgButtons::YesNo) != MsgResult::Yes) {
        if (held)
            Job->Resume();
        return false;
    }
    // Not waiting for the encoder's next output: it ends now.
    StopEncoder();
    return true;
}

void TMainForm::Completion()
{
    tmrPreview->stop();
    tmrProcess->stop();
    const PreferenceValues& prefs = State.Preferences();
    // Power-off wins over exit; either replaces the message and the folder.
    if (prefs.autoTurnOff || prefs.autoExit) {
        CountDownForm->Begin(prefs.autoTurnOff ? 1 : 0);
        return;
    }
    // What was written where, and where the cuts fell when that is not where they were
    // marked. The folder is offered when it is not opened anyway.
    const QString folder = edtOutputDir->text();
    const MsgResult answer = ShowMessage(this, MsgIcon::Information, QStringLiteral("Completed"),
                                         CompletionText(Job->FilesWritten(), folder, Job->CompletionNotes()),
                                         prefs.autoOpenDir ? MsgButtons::Ok : MsgButtons::OkOpenFolder);
    if (prefs.autoOpenDir || answer == MsgResult::OpenFolder)
        ShellOpen(folder);
    UnlockAfterJob();
}
