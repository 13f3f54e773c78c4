// The main window's preview: player, video surface, track bar and their buttons.
#include "app/Dialogs.h"
#include "app/MainForm.h"
#include "app/Navigation.h"
#include "app/TimeCode.h"
#include "preview/DSTrackBar.h"
#include "preview/FilterGraph.h"
#include "preview/RangeMath.h"
#include "preview/TimelineLoader.h"
#include "preview/VideoWindow.h"

#include <QLabel>
#include <QTimer>
#include <QToolButton>

void TMainForm::SetupPreview()
{
    // Attachment order is the order the graph tells its components: surface, then bar.
    VideoWindow->SetFilterGraph(FilterGraph);
    tkbProgress->SetFilterGraph(FilterGraph);
    tkbProgress->SetTimerInterval(1000);
    tkbProgress->SetFrequency(60);
    tkbProgress->SetThumbLength(8);
    tkbProgress->SetLineSize(1);
    tkbProgress->SetPageSize(2);

    connect(sbtnPlayPreview, &QToolButton::clicked, this, &TMainForm::sbtnPlayPreviewClick);
    connect(sbtnPausePreview, &QToolButton::clicked, this, &TMainForm::sbtnPausePreviewClick);
    connect(sbtnStopPreview, &QToolButton::clicked, this, &TMainForm::sbtnStopPreviewClick);
    connect(tkbProgress, &TDSTrackBar::OnTimer, this, &TMainForm::tkbProgressTimer);
    // Only an opening the window began goes on here; a file rendered by other code stays as it is.
    connect(FilterGraph, &TFilterGraph::SourceReady, this, [this] {
        if (!OpeningSource())
            return;
        RunGuarded([this] {
            PreviewSourceReady();
            FinishOpening();
        });
    });
    connect(FilterGraph, &TFilterGraph::SourceFailed, this, [this](const QString& message) {
        if (!OpeningSource())
            return;
        m_opening = false; // what follows the opening is not done
        ShowErrorBox(message);
    });
    tmrPreview->setInterval(1000);
    connect(tmrPreview, &QTimer::timeout, this, &TMainForm::tmrPreviewTimer);
}

void TMainForm::LoadSourceIntoPreview(const QString& path)
{
    SourceLoaded = true;
    // The timeline of a file the player refuses is empty, not the one of the source before.
    TimelineLoader->Open(path);
    if (!FilterGraph->Active())
        FilterGraph->SetActive(true);
    FilterGraph->ResetGraph();
    // Opening finishes later (SourceReady, SourceFailed); a path that names nothing raises here.
    FilterGraph->RenderSource(path);
}

void TMainForm::PreviewSourceReady()
{
    FilterGraph->Play();
    labMiddle->setText(FormatTimeCode(FilterGraph->SourceLength() / 2000.0));
    labRight->setText(FormatTimeCode(FilterGraph->SourceLength() / 1000.0));
    tkbProgress->SetSelStart(0);
    tkbProgress->SetSelEnd(0);
    VideoWindow->setVisible(true);
}

void TMainForm::sbtnPlayPreviewClick()
{
    if (SourceLoaded)
        FilterGraph->Play();
}

void TMainForm::sbtnPausePreviewClick()
{
    if (SourceLoaded)
        FilterGraph->Pause();
}

void TMainForm::sbtnStopPreviewClick()
{
    // Stop keeps the picture and the position, and Play goes on from there: the player
    // pauses rather than rewinding to the start with an empty surface.
    if (SourceLoaded)
        FilterGraph->Pause();
}

void TMainForm::tkbProgressTimer(QObject*, quint32, quint32)
{
    Navigator->ShowPicturePosition();
}

void TMainForm::tmrPreviewTimer()
{
    // During a job the preview holds its picture, and the position stays the picture's.
    Navigator->ShowPicturePosition();
}
