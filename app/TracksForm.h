#pragma once
// The tracks of the open source with a check box each: which of them the cuts keep.
#include "split/TrackList.h"

#include <QDialog>
#include <QList>

class QDialogButtonBox;
class QTreeWidget;

class TTracksForm : public QDialog {
    Q_OBJECT
public:
    // list: the source's tracks; dropped: the indices left out so far.
    TTracksForm(const QString& sourceName, const TrackList& list, const QList<int>& dropped,
                QWidget* parent = nullptr);

    // The indices of the tracks left unticked.
    QList<int> Dropped() const;

    QTreeWidget* lvTracks = nullptr;
    QDialogButtonBox* Buttons = nullptr;

private:
    void UpdateOk();
};

// The button's caption for a source's choice: "Tracks: all" or "Tracks: 3 of 5".
QString TracksCaption(const TrackList& list, const QList<int>& dropped);
