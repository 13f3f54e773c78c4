#pragma once
// Under the track bar: small pictures of the stretch the bar shows, and the sound's
// waveform under them, with the picture shown as a line across both.
#include "preview/TimelineData.h"
#include "preview/TimelineZoom.h"

#include <QPointer>
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

Q_SIGNALS:
    // Ctrl+wheel over the strip zooms as over the bar.
    void ZoomRequested(int steps);

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    QRect Inner() const;
    TTimelineLoader* m_loader = nullptr;
    TimelineView m_view;
    QPointer<QWidget> m_bar;
    qint64 m_positionUs = -1;
    // Waveform columns of the stretch and data they were made for.
    std::vector<PeakColumn> m_columns;
    bool m_columnsStale = true;
};
