// The split job of the main window: checks, sections, the encoder, progress, completion.
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

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>

namespace {

// One read of the encoder's output takes at most this many bytes.
constexpr qint64 kChunkBytes = 4095;

// The wait of the running section, so a cancel or close can wake it at once.
QEventLoop* g_sectionWait = nullptr;

enum class SectionEnd { Done, Cancelled, Failed, NotStarted };

QString ProductName()
{
    const QString name = ProgramInfo().productName;
    return name.isEmpty() ? QStringLiteral("Veltrane") : name;
}

QString SelectedProfilePath(const TMainForm* f)
{
    return ProfilePath(f->AppDir, f->cmbProfile->currentText());
}

QString GridValue(int sort, const QString& name)
{
    if (!opSettingForm)
        return QString();
    const TValueListEditor* grid = opSettingForm->GridForSort(sort);
    return grid ? grid->Value(name) : QString();
}

// The job is over without a completion action: both timers stop, the window goes idle.
void EndJobQuietly(TMainForm* f)
{
    f->tmrProcess->stop();
    f->UnlockAfterJob();
}

void ShowProgress(TMainForm* f, const SectionProgress& progress, qint64 number, qint64 count)
{
    if (progress.Length() != 0)
        f->pgbCurrent->setValue(CurrentBarPosition(progress.LastTime(), progress.Length()));
    f->pgbTotal->setValue(TotalBarPosition(f->pgbCurrent->value(), number, count));
    f->labCurProgress->setText(QString::number(f->pgbCurrent->value()) + QLatin1Char('%'));
    f->labTotalProgress->setText(QString::number(f->pgbTotal->value()) + QLatin1Char('%'));
}

SectionEnd RunSection(TMainForm* f, const JobPlan& plan, const JobSection& section, const QString& switches)
{
    const QString source = f->edtSource->text();
    if (plan.equalSections)
        f->labProcessing->setText(QStringLiteral("Splitting: Section ") + QString::number(section.number));
    else
        f->labProcessing->setText(QStringLiteral("Splitting: ") + ExtractFileName(source));

    f->CurrentCommandLine = BuildSectionCommandLine(source, section.start, section.length, switches, section.outputPath);
    // Started from the pieces themselves, never from the text, so no path is misread.
    const QStringList arguments =
        BuildSectionArguments(source, section.start, section.length, switches, section.outputPath);

    EncoderRun run;
    QEventLoop wait;
    QObject::connect(&run, &EncoderRun::activity, &wait, &QEventLoop::quit);
    f->CurrentRun = &run;
    QEventLoop* const outerWait = g_sectionWait;
    g_sectionWait = &wait;
    struct Restore {
        TMainForm* f;
        QEventLoop* outer;
        ~Restore()
        {
            f->CurrentRun = nullptr;
            g_sectionWait = outer;
        }
    } restore{f, outerWait};

    if (!run.Start(f->EncoderPath, arguments)) {
        f->tmrProcess->stop();
        // The program's plain message dialog: its title as caption, no icon, OK.
        ShowMessage(f, MsgIcon::None, ApplicationTitle(), QStringLiteral("Error. Please re-install ") + ProductName());
        f->UnlockAfterJob();
        return SectionEnd::NotStarted;
    }

    SectionProgress progress(section.length);
    for (;;) {
        QCoreApplication::processEvents();
        if (f->JobState == 2) {
            f->StopEncoder();
            EndJobQuietly(f);
            return SectionEnd::Cancelled;
        }
        if (!run.HasOutput()) {
            if (run.AtEnd())
                break;
            // Sleeps until output arrives, the encoder ends, or a cancel stops it; the
            // window is served meanwhile.
            wait.exec();
            continue;
        }
        const QByteArray chunk = run.Read(kChunkBytes);
        progress.Feed(chunk);
        ShowProgress(f, progress, section.number, plan.count);
    }

    f->pgbCurrent->setValue(0);
    progress.Reset();
    f->StopEncoder();

    if (run.Failed()) {
        // A failure we did not cause is no success: say which section and why.
        f->tmrProcess->stop();
        f->tmrPreview->stop();
        QString reason = run.LastErrorLine();
        if (reason.isEmpty())
            reason = run.Crashed() ? QStringLiteral("The encoder was ended unexpectedly.")
                                   : QStringLiteral("The encoder ended with status %1.").arg(run.ExitCode());
        ShowMessage(f, MsgIcon::Error, ApplicationTitle(),
                    QStringLiteral("Section %1 could not be split. %2").arg(section.number).arg(reason));
        f->UnlockAfterJob();
        return SectionEnd::Failed;
    }
    return SectionEnd::Done;
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
    JobInputs in;
    in.sourcePath = edtSource->text();
    in.startText = StartTextForJob(); // the exact marks, or the fields' own texts
    in.endText = EndTextForJob();
    in.equalSections = rdbEqual->isChecked();
    in.quantityText = edtSectionQty->text();
    in.profilePath = SelectedProfilePath(this);
    in.outputDirText = edtOutputDir->text();
    in.sourceLengthMs = FilterGraph ? FilterGraph->SourceLength() : 0;

    const QString extension = opSettingForm ? opSettingForm->OutputExtension : QStringLiteral(".mp4");
    JobPlan plan;
    if (const std::optional<JobCheckFailure> failure = CheckJob(in, extension, &plan)) {
        ShowMessage(this, MsgIcon::Information, failure->caption, failure->message);
        switch (failure->focus) {
        case JobFocus::Source: edtSource->setFocus(); break;
        case JobFocus::SectionQty: edtSectionQty->setFocus(); break;
        case JobFocus::Profile: cmbProfile->setFocus(); break;
        case JobFocus::OutputDir: edtOutputDir->setFocus(); break;
        case JobFocus::None: break;
        }
        return;
    }

    LockForJob();
    JobState = 1;

    for (qint64 i = 1; i <= plan.count; ++i) { // wide enough to step past the largest count
        if (JobState == 2) {
            EndJobQuietly(this);
            return;
        }
        const JobSection section = plan.Section(static_cast<qint32>(i));
        const bool overwrite = SettingForm && SettingForm->chkOverwrite->isChecked();
        if (QFileInfo::exists(section.outputPath) && !overwrite) {
            const MsgResult answer = ShowMessage(this, MsgIcon::Question, QStringLiteral("Overwrite"),
                                                 QStringLiteral("The output file is existent. Overwrite it?"),
                                                 MsgButtons::YesNo);
            if (answer != MsgResult::Yes) {
                if (plan.equalSections)
                    continue;
                EndJobQuietly(this);
                return;
            }
        }
        if (RunSection(this, plan, section, profileSwitches) != SectionEnd::Done)
            return;
    }
    Completion();
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
    pgbCurrent->setValue(0);
    pgbTotal->setValue(0);
    labCurProgress->setText(QStringLiteral("0%"));
    labTotalProgress->setText(QStringLiteral("0%"));
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
    if (CurrentRun)
        CurrentRun->Stop();
    // Wake the section loop so it sees the new state without waiting for output.
    if (g_sectionWait)
        g_sectionWait->quit();
}

void TMainForm::tmrProcessTimer()
{
    ++ElapsedCounter;
    const qint64 remaining = RemainingSeconds(ElapsedCounter, pgbTotal->value());
    labElapsed->setText(FormatTimeCode(ElapsedCounter));
    labRemaining->setText(FormatTimeCode(static_cast<double>(remaining)));
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
    ShowMessage(this, MsgIcon::Information, QStringLiteral("Completed"),
                QStringLiteral("Splitting is completed successfully."));
    if (SettingForm && SettingForm->chkOpenDir->isChecked())
        ShellOpen(edtOutputDir->text());
    UnlockAfterJob();
}
