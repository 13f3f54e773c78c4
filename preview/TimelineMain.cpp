// The main window's timeline: key frames on the track bar, zooming it, and the strip of
// pictures and waveform under it, all fed by the loader as it reads.
#include "app/MainForm.h"
#include "app/TimeCode.h"
#include "preview/DSTrackBar.h"
#include "preview/FilterGraph.h"
#include "preview/TimelineLoader.h"
#include "preview/TimelineStrip.h"

#include <QLabel>

void TMainForm::SetupTimeline()
{
    TimelineLoader = new TTimelineLoader(this);
    TimelineStrip->SetLoader(TimelineLoader);
    TimelineStrip->AlignWith(tkbProgress);

    connect(TimelineLoader, &TTimelineLoader::Changed, this, [this] {
        const TimelineData& d = TimelineLoader->Data();
        tkbProgress->SetTimeline(d.durationUs, d.frameUs);
        if (!(tkbProgress->KeyFrames() == d.keys))
            tkbProgress->SetKeyFrames(d.keys);
        TimelineStrip->SetView(tkbProgress->View());
    });
    // Zoomed in, the scale labels name the stretch shown, to the millisecond.
    connect(tkbProgress, &TDSTrackBar::ViewChanged, this, [this] {
        const TimelineView v = tkbProgress->View();
        TimelineStrip->SetView(v);
        if (tkbProgress->Zoomed()) {
            labLeft->setText(FormatExactTimeCode(v.startUs / 1e6));
            labMiddle->setText(FormatExactTimeCode((v.startUs + v.spanUs / 2) / 1e6));
            labRight->setText(FormatExactTimeCode(v.endUs() / 1e6));
        } else {
            labLeft->setText(QStringLiteral("00:00:00"));
            labMiddle->setText(FormatTimeCode(FilterGraph->SourceLength() / 2000.0));
            labRight->setText(FormatTimeCode(FilterGraph->SourceLength() / 1000.0));
        }
    });
    connect(FilterGraph, &TFilterGraph::FrameShown, this, [this](double seconds) {
        tkbProgress->SetFrameTime(seconds);
        TimelineStrip->SetPosition(seconds);
    });
    connect(TimelineStrip, &TTimelineStrip::ZoomRequested, tkbProgress, &TDSTrackBar::Zoom);
}
