#pragma once
// Under the track bar: small pictures of the stretch the bar shows, and the sound's
// waveform under them, with the picture shown as a line across both. The pictures are
// scaled to their slots on a worker thread; painting only copies them.
#include "preview/TimelineData.h"
#include "preview/TimelineZoom.h"

#include <QHash>
#include <QImage>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QWidget>
#include <vector>

class TTimelineLoader;

class TTimelineStrip : public QWidget {
    Q_OBJECT
public:
    explicit TTimelineStrip(QWidget* parent = nullptr);
    void SetLoader(TTimelineLoader* loader);
    void SetView(const TimelineView& view);
    TimelineView View() const { return m_view; }
    // The bar whose times the strip's line up with.
    void AlignWith(QWidget* bar) { m_bar = bar; }
    void SetPosition(double seconds);

    // One picture's place: its left edge, width and the time it stands for.
    struct Slot {
        int x = 0;
        int width = 0;
        qint64 timeUs = 0;
    };
    std::vector<Slot> Slots() const;
    // Where the pictures are drawn (the waveform lies under it).
    QRect PicturesRect() const;

Q_SIGNALS:
    // Ctrl+wheel over the strip zooms as over the bar.
    void ZoomRequested(int steps);

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    QRect Inner() const;
    // Asks the loader for pictures at the slots' own times where the kept ones would repeat.
    void AskForPictures();
    void Scaled(QSize size, QHash<qint64, QImage> images);
    TTimelineLoader* m_loader = nullptr;
    TimelineView m_view;
    QPointer<QWidget> m_bar;
    qint64 m_positionUs = -1;
    int m_positionX = -1;
    // Waveform columns of the stretch and data they were made for.
    std::vector<PeakColumn> m_columns;
    bool m_columnsStale = true;
    // The peaks they were made from: while these only grow, only the columns from their old
    // end on are made again.
    const char* m_columnsFrom = nullptr;
    qint64 m_columnsPeaks = 0;
    // Pictures at the slot size, by source picture (time * 2, +1 for one decoded on request).
    QSize m_scaledSize;
    QHash<qint64, QImage> m_scaled;
    QSet<qint64> m_scaling;
    QTimer m_ask;
};
