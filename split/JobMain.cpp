// The split job of the main window: its checks and messages, the job layout, and the
// binding of the running job (split/SplitJob) to the progress panel; then completion.
#include "about/ProgramInfo.h"
#include "app/Dialogs.h"
#include "app/Forms.h"
#include "app/ImageControl.h"
#include "app/MainForm.h"
#include "app/PathUtils.h"
#include "app/Shell.h"
#include "app/TimeCode.h"
#include "prefs/SettingsForm.h"
#include "preview/DSTrackBar.h"
#include "preview/FilterGraph.h"
#include "profiles/OutputSettingsForm.h"
#include "profiles/ProfileFormat.h"
#include "profiles/ValueListEditor.h"
#include "split/CommandLine.h"
#include "split/CountdownForm.h"
#include "split/EncoderRun.h"
#include "split/JobPlan.h"
#include "split/SplitJob.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>

namespace {

// The running job, so that a cancel, a close or a tick of the window reaches it.
SplitJob* g_job = nullptr;
// What the completion message adds about the cuts of the job that just ended.
QStringList g_completionNotes;

QString ProductName()
{
    const QString name = ProgramInfo().productName;
    return name.isEmpty() ? QStringLiteral("Veltrane") : name;
}

QString SelectedProfilePath(const TMainForm* f)
{
    return ProfilePath(f->Paths.profileRoot, f->cmbProfile->currentText());
}

QString GridValue(int sort, const QString& name)
{
    if (!opSettingForm)
        return QString();
    const TValueListEditor* grid = opSettingForm->GridForSort(sort);
    return grid ? grid->Value(name) : QString();
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

// Binds the job's reports to the progress panel.
void BindJob(TMainForm* f, SplitJob* job)
{
    const bool equal = job->Order().plan.equalSections;
    const QString sourceName = ExtractFileName(job->Order().sourcePath);
    QObject::connect(job, &SplitJob::lookingUpCuts, f,
                     [f] { f->labProcessing->setText(QStringLiteral("Finding the cut points...")); });
    // What is being split, and under it where the section really lies in the source.
    auto showSection = [f, equal, sourceName](const JobSection& section) {
        f->labProcessing->setText((equal ? QStringLiteral("Splitting: Section ") + QString::number(section.number)
                                         : QStringLiteral("Splitting: ") + sourceName)
                                  + QLatin1Char('\n') + FormatCutTime(section.start) + QStringLiteral(" to ")
                                  + FormatCutTime(section.end));
    };
    QObject::connect(job, &SplitJob::sectionStarted, f,
                     [f, job, showSection](const JobSection& section, const QString& commandLine) {
                         showSection(section);
                         if (!commandLine.isEmpty())
                             f->CurrentCommandLine = commandLine;
                         f->CurrentRun = job->CurrentRun();
                     });
    QObject::connect(job, &SplitJob::progress, f, [f](int current, int total, double) {
        ShowBar(f->pgbCurrent, f->labCurProgress, current);
        ShowBar(f->pgbTotal, f->labTotalProgress, total);
    });
    QObject::connect(job, &SplitJob::clock, f,
                     [f](qint64 elapsed, qint64 remaining) { ShowClock(f, elapsed, remaining); });
    QObject::connect(job, &SplitJob::sectionDone, f, [f] { f->CurrentRun = nullptr; });
    QObject::connect(job, &SplitJob::ended, f, [f] { f->CurrentRun = nullptr; });

    // Asked per section, with the preference as it stands at that moment.
    job->SetOverwriteQuestion([f, equal, showSection](const JobSection& section) {
        if (SettingForm && SettingForm->chkOverwrite->isChecked())
            return SplitJob::Overwrite::Replace;
        showSection(section); // the question is about this one
        const MsgResult answer =
            ShowMessage(f, MsgIcon::Question, QStringLiteral("Overwrite"),
                        QStringLiteral("The output file is existent. Overwrite it?"), MsgButtons::YesNo);
        if (answer == MsgResult::Yes)
            return SplitJob::Overwrite::Replace;
        // No skips this section of an equal split, and ends a one-section job.
        return equal ? SplitJob::Overwrite::Skip : SplitJob::Overwrite::Stop;
    });
}

} // namespace

void TMainForm::SetupJob()
{
    connect(imgStart, &TImage::clicked, this, &TMainForm::imgStartClick);
    connect(imgCancel, &TImage::clicked, this, &TMainForm::imgCancelClick);
    connect(tmrProcess, &QTimer::timeout, this, &TMainForm::tmrProcessTimer);
}

void TMainForm::imgStartClick()
{
    // Built once per press, before any check; every section of the job gets this text.
    const QString switches = BuildProfileSwitches(SelectedProfilePath(this), GridValue);
    RunSplitJob(switches);
}

void TMainForm::RunSplitJob(const QString& profileSwitches)
{
    const JobInputs in = WindowJobInputs(this);

    const QString extension = opSettingForm ? opSettingForm->OutputExtension : QStringLiteral(".mp4");
    JobPlan plan;
    if (const std::optional<JobCheckFailure> failure = CheckJob(in, extension, &plan)) {
        ShowCheckFailure(this, *failure);
        return;
    }

    SplitJob job(SplitJobOrder{in.sourcePath, plan, profileSwitches, EncoderPath});
    job.UseExternalClock(); // tmrProcess counts the seconds, as the window always did
    BindJob(this, &job);

    LockForJob();
    JobState = 1;

    // The job runs while the window is served; this waits for its end.
    QEventLoop wait;
    connect(&job, &SplitJob::ended, &wait, &QEventLoop::quit);
    struct Restore {
        TMainForm* f;
        SplitJob* outer;
        ~Restore()
        {
            f->CurrentRun = nullptr;
            g_job = outer;
        }
    } restore{this, g_job};
    g_job = &job;
    job.Start();
    wait.exec();
    g_job = restore.outer;

    switch (job.Result()) {
    case SplitJob::Outcome::Completed:
        g_completionNotes = job.CompletionNotes();
        if (!job.Lookup().problem.isEmpty() && job.Order().plan.count > 0)
            g_completionNotes.prepend(QStringLiteral("The cut points could not be looked up in the source, so the "
                                                     "sections lie at the marked times: %1")
                                          .arg(job.Lookup().problem));
        Completion();
        g_completionNotes.clear();
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
                        .arg(job.FailedSection().number)
                        .arg(job.FailureReason()));
        UnlockAfterJob();
        break;
    case SplitJob::Outcome::Refused:
        // A link to the source that appeared after the checks.
        EndJobQuietly(this);
        if (const std::optional<JobCheckFailure> refusal = job.Refusal())
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
    JobState = 0;
}

void TMainForm::StopEncoder()
{
    // The encoder and whatever it started end now, its partial file goes, and the job's
    // wait in RunSplitJob returns.
    if (g_job)
        g_job->Cancel();
}

void TMainForm::tmrProcessTimer()
{
    if (g_job && g_job->IsRunning()) {
        g_job->Tick(); // shown through the job's clock report
        return;
    }
    ++ElapsedCounter;
    ShowClock(this, ElapsedCounter, RemainingSeconds(ElapsedCounter, pgbTotal->value()));
}

void TMainForm::imgCancelClick()
{
    if (ShowMessage(this, MsgIcon::Question, QStringLiteral("Query"),
                    QStringLiteral("Do you want to cancel the splitting?"), MsgButtons::YesNo)
        != MsgResult::Yes)
        return;
    JobState = 2;
    // Not waiting for the encoder's next output: it ends now.
    StopEncoder();
}

void TMainForm::Completion()
{
    tmrPreview->stop();
    tmrProcess->stop();
    if (SettingForm && SettingForm->chkTurnoff->isChecked()) {
        JobState = 0;
        CountDownForm->CountdownMode = 1;
        CountDownForm->btnDoNow->setText(QStringLiteral("Turn off Now"));
        CountDownForm->MessagePrefix = QStringLiteral("The computer will be turned off within");
        CountDownForm->show();
        return;
    }
    if (SettingForm && SettingForm->chkExit->isChecked()) {
        JobState = 0;
        CountDownForm->CountdownMode = 0;
        CountDownForm->btnDoNow->setText(QStringLiteral("Exit Now"));
        CountDownForm->MessagePrefix = QStringLiteral("The program will exit within");
        CountDownForm->show();
        return;
    }
    // Where the cuts fell, when that is not where they were marked.
    QString done = QStringLiteral("Splitting is completed successfully.");
    if (!g_completionNotes.isEmpty())
        done += QStringLiteral("\n\n") + g_completionNotes.join(QLatin1Char('\n'));
    ShowMessage(this, MsgIcon::Information, QStringLiteral("Completed"), done);
    if (SettingForm && SettingForm->chkOpenDir->isChecked())
        ShellOpen(edtOutputDir->text());
    UnlockAfterJob();
}
