// The main window's side of split points and the queue: X marks a split point at the frame
// shown, Ctrl+J (or Add to Queue) puts the current source with its marks, sections and
// profile into the queue, Queue shows it.
#include "app/Dialogs.h"
#include "app/ImageControl.h"
#include "app/MainForm.h"
#include "app/PathUtils.h"
#include "preview/DSTrackBar.h"
#include "preview/FilterGraph.h"
#include "segments/SegmentsPanel.h"
#include "profiles/IniFile.h"
#include "profiles/ProfileFormat.h"
#include "split/CommandLine.h"
#include "split/SectionModeRow.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

void TMainForm::SetupQueue()
{
    btnAddToQueue = new QPushButton(QStringLiteral("Add to Queue"), panRight);
    btnAddToQueue->setObjectName(QStringLiteral("btnAddToQueue"));
    btnAddToQueue->setGeometry(4, 322, 116, 28);
    btnAddToQueue->setToolTip(QStringLiteral("Add the source with its marks, sections and profile to the queue (Ctrl+J)"));
    btnQueue = new QPushButton(QStringLiteral("Queue"), panRight);
    btnQueue->setObjectName(QStringLiteral("btnQueue"));
    btnQueue->setGeometry(262, 322, 112, 28);
    btnQueue->setToolTip(QStringLiteral("Show the queue of jobs"));
    connect(btnAddToQueue, &QPushButton::clicked, this, [this] { RunGuarded([this] { AddToQueue(); }); });
    connect(btnQueue, &QPushButton::clicked, this, &TMainForm::queueShowRequested);
    // The progress panel covers the job region while a job runs; these stay usable beside it.
    connect(SectionModes, &TSectionModes::pointsChanged, tkbProgress, &TDSTrackBar::SetSplitPoints);
}

void TMainForm::ToggleSplitPoint()
{
    if (!SourceLoaded)
        return;
    // Half a frame either way counts as the point there (25 fps when the rate is unknown).
    SectionModes->TogglePoint(FrameTimeForMark(), 0.02);
}

void TMainForm::AddToQueue()
{
    const QString source = edtSource->text();
    if (!SourceExists(source)) {
        ShowMessage(this, MsgIcon::Information, QStringLiteral("Invalid File"),
                    QStringLiteral("Please specify a valid input video file."));
        edtSource->setFocus();
        return;
    }
    if (const std::optional<QueueJob> job = QueueJobFor(source, true))
        emit queueJobRequested(*job);
}

std::optional<QueueJob> TMainForm::QueueJobFor(const QString& source, bool withMarks)
{
    QueueJob job;
    job.sourcePath = QFileInfo(source).absoluteFilePath();
    const double length = FilterGraph ? FilterGraph->SourceLength() / 1000.0 : 0.0;
    if (withMarks) {
        const double start = StartSecondsForJob(), end = EndSecondsForJob();
        // Marks that make a range: the job keeps them; otherwise the whole source.
        if (start >= 0 && end > start) {
            job.start = start;
            job.end = end;
        }
    }
    // The open source's segments, when it has any: the job cuts them as the Segments panel
    // would, and its range and sections do not count.
    const bool segments = withMarks && Segments && !Segments->List().IsEmpty();
    if (segments) {
        job.start.reset();
        job.end.reset();
        job.segments = Segments->List().Items();
        job.segmentOutput = Segments->Output();
        job.chaptersAtJoins = Segments->ChaptersAtJoins();
    } else if (rdbEqual->isChecked()) {
        const std::optional<qint32> n = ConvertWholeNumber(edtSectionQty->text());
        if (!n || *n < 1) {
            ShowMessage(this, MsgIcon::Information, QStringLiteral("Invalid Section"),
                        QStringLiteral("Please specify a valid section quantity."));
            edtSectionQty->setFocus();
            return std::nullopt;
        }
        job.count = *n;
    } else if (SectionModes->Chosen()) {
        JobCheckFailure failure;
        const std::optional<SectionRequest> request =
            SectionModes->Request(job.start.value_or(0), job.end.value_or(length > 0 ? length : 1e9), &failure);
        if (!request) {
            ShowMessage(this, MsgIcon::Information, failure.caption, failure.message);
            return std::nullopt;
        }
        job.sections = *request;
    }
    const ProfileChoice& profile = State.Profile();
    job.profileName = cmbProfile->currentText();
    job.profilePath = ProfilePath(Paths.profileRoot, job.profileName);
    if (!SourceExists(job.profilePath)) {
        ShowMessage(this, MsgIcon::Information, QStringLiteral("Invalid Output Path"),
                    QStringLiteral("Please select a valid output profile."));
        cmbProfile->setFocus();
        return std::nullopt;
    }
    job.profileSwitches = BuildProfileSwitches(
        job.profilePath, [&profile](int sort, const QString& name) { return profile.Value(sort, name); });
    job.extension = profile.extension;
    // The output folder as the window would use it for this source.
    const QString folder = State.Preferences().aptotic || withMarks ? edtOutputDir->text() : ExtractFolder(job.sourcePath);
    job.outputDir = folder.trimmed().isEmpty() ? QString() : QFileInfo(folder).absoluteFilePath();
    job.nameTemplate = State.Preferences().nameTemplate;
    return job;
}
