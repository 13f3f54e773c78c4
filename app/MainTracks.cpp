// The main window's Tracks button: the source's tracks are listed in the background when
// it opens, and the user's choice is kept per source for the jobs that follow.
#include "app/MainForm.h"
#include "app/TracksForm.h"
#include "prefs/AppState.h"
#include "split/SourceProbe.h"
#include "split/TrackLister.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

void TMainForm::SetupTracks()
{
    Tracks = new TrackLister(FindFfprobe(EncoderPath), this);
    connect(Tracks, &TrackLister::listed, this, [this](const QString& source, const TrackList& list) {
        if (source != edtSource->text())
            return;
        SourceTracks = list;
        SourceTracksPath = source;
        ShowTracksChoice();
    });
    connect(Tracks, &TrackLister::failed, this, [this](const QString& source, const QString& error) {
        if (source != edtSource->text())
            return;
        btnTracks->setText(QStringLiteral("Tracks: all"));
        btnTracks->setEnabled(false);
        btnTracks->setToolTip(QStringLiteral("The tracks of %1 could not be listed: %2 Every track is kept.")
                                  .arg(QFileInfo(source).fileName(), error));
    });
    connect(btnTracks, &QPushButton::clicked, this, &TMainForm::btnTracksClick);
    btnTracks->setAccessibleName(QStringLiteral("Tracks"));
    btnTracks->setEnabled(false);
    btnTracks->setText(QStringLiteral("Tracks: all"));
}

void TMainForm::ListSourceTracks(const QString& path)
{
    SourceTracks.reset();
    SourceTracksPath.clear();
    btnTracks->setEnabled(false);
    btnTracks->setText(QStringLiteral("Tracks: all"));
    btnTracks->setToolTip(QStringLiteral("Reading the tracks of %1").arg(QFileInfo(path).fileName()));
    Tracks->List(path);
}

void TMainForm::ShowTracksChoice()
{
    const QList<int> dropped = State.DroppedTracks(SourceTracksPath);
    btnTracks->setText(TracksCaption(*SourceTracks, dropped));
    btnTracks->setEnabled(true);
    btnTracks->setToolTip(QStringLiteral("Choose which video, sound and subtitle tracks of the source the cuts keep"));
}

void TMainForm::btnTracksClick()
{
    if (!SourceTracks)
        return;
    // Shown without a loop of its own; the choice is taken when it is closed with OK.
    auto* form = new TTracksForm(QFileInfo(SourceTracksPath).fileName(), *SourceTracks,
                                 State.DroppedTracks(SourceTracksPath), this);
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->setWindowModality(Qt::WindowModal);
    const QString source = SourceTracksPath;
    connect(form, &QDialog::accepted, this, [this, form, source] {
        State.SetDroppedTracks(source, form->Dropped());
        if (source == SourceTracksPath)
            ShowTracksChoice();
    });
    form->open();
}

TrackSelection TMainForm::JobTracks(const QString& source) const
{
    if (!SourceTracks || source != SourceTracksPath)
        return TrackSelection{};
    return SelectionWithout(*SourceTracks, State.DroppedTracks(source));
}
