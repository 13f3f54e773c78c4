#pragma once
#include <QList>
#include <QPair>
#include "preview/FilterGraph.h"
#include "preview/KeyFrameIndex.h"
#include "preview/TimelineZoom.h"
#include <QPointer>
#include <QSlider>
#include <QTimer>

// Position track bar in whole seconds, with the marked range as its selection. While the
// graph plays, its own timer reads the position every TimerInterval milliseconds; releasing
// the left mouse button seeks to the thumb's place.
class TDSTrackBar : public QSlider, public TGraphComponent {
    Q_OBJECT
public:
    explicit TDSTrackBar(QWidget* parent = nullptr);
    ~TDSTrackBar() override;

    // Kept public for the form's layout code; SetFilterGraph attaches the bar to it.
    TFilterGraph* FilterGraph = nullptr;
    void SetFilterGraph(TFilterGraph* graph);

    int Position() const { return value(); }
    void SetPosition(int p) { setValue(p); } // clamped to Min..Max
    int Min() const { return minimum(); }
    int Max() const { return maximum(); }
    void SetMin(int v) { setMinimum(v); }
    void SetMax(int v) { setMaximum(v); }
    int SelStart() const { return m_selStart; }
    int SelEnd() const { return m_selEnd; }
    void SetSelStart(int s);
    void SetSelEnd(int s);

    // Points where the range is to be split (seconds), drawn across the channel.
    void SetSplitPoints(const QList<double>& seconds);
    const QList<double>& SplitPoints() const { return m_splitPoints; }

    int Frequency() const { return m_frequency; }
    void SetFrequency(int f);
    int ThumbLength() const { return m_thumbLength; }
    void SetThumbLength(int l);
    int LineSize() const { return singleStep(); }
    void SetLineSize(int s) { setSingleStep(s); }
    int PageSize() const { return pageStep(); }
    void SetPageSize(int s) { setPageStep(s); }

    // Milliseconds per position and per tick of the bar's timer.
    int TimerInterval() const { return m_timerInterval; }
    void SetTimerInterval(int ms);
    bool TimerEnabled() const { return m_timerEnabled; }
    bool TimerRunning() const { return m_timer.isActive(); }
    bool MouseDown() const { return m_mouseDown; }
    bool HoldsSeeking() const { return m_seeking != nullptr; }

    // One tick: length and position read from the graph, Max and Position set, OnTimer told.
    void Tick();
    // Seeks the graph to the thumb's share of the stop position, as a release of the thumb
    // does. Nothing without a graph or with Max 0.
    void SeekToThumb();

    // Geometry of the drawing, for the marks and for tests.
    QRect ThumbRect() const;
    int PixelOfPosition(int position) const; // centre of the thumb at that position
    int PositionOfPixel(int x) const;

    void ControlEvent(TControlEvent event, int param) override;

    // ---- the timeline: the source's key frames, and zooming around the picture shown.
    // A new length (a new source) shows the whole source again.
    void SetTimeline(qint64 durationUs, qint64 frameUs);
    void SetKeyFrames(const KeyFrameIndex& keys);
    const KeyFrameIndex& KeyFrames() const { return m_keys; }
    // The picture shown: zoomed in, the thumb stands at its time and the stretch follows it.
    void SetFrameTime(double seconds);
    // The stretch shown: the whole source unless zoomed.
    TimelineView View() const;
    bool Zoomed() const { return m_zoomed; }
    // Closer (steps > 0) or farther (< 0) by TimelineZoom::kStep a step, around the picture
    // shown; down to single pictures, out to the whole source.
    void Zoom(int steps);
    // Pixel of a time on the bar, and the pixels of the key frames drawn (one per column).
    double PixelOfTime(qint64 us) const;
    QList<int> KeyFramePixels() const;

    // Stretches drawn along the channel (the segments of the source), in positions; the one
    // at `highlighted` (-1: none) stands out.
    void SetRanges(const QList<QPair<double, double>>& ranges, int highlighted = -1);
    const QList<QPair<double, double>>& Ranges() const { return m_ranges; }

Q_SIGNALS:
    // The stretch shown changed (zoom, or following the picture).
    void ViewChanged();
    // CurrentPos and StopPos in milliseconds.
    void OnTimer(QObject* sender, quint32 currentPos, quint32 stopPos);
    // The user moved the thumb: dragged it, paged it with the mouse, or moved it with a key
    // or the wheel.
    void UserMoved();

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    void UpdateTimer();
    void PageTowards(int x);
    int ThumbWidth() const;
    int Margin() const;
    int ChannelTop() const;
    qint64 UnitUs() const;
    qint64 TimelineUs() const;
    qint64 ThumbUs() const;
    void SetView(const TimelineView& view);

    int m_selStart = 0;
    int m_selEnd = 0;
    QList<double> m_splitPoints;
    int m_frequency = 60;
    int m_thumbLength = 8;
    int m_timerInterval = 1000;
    bool m_timerEnabled = false;
    bool m_mouseDown = false;
    bool m_dragging = false;
    bool m_hover = false;
    int m_dragOffset = 0;
    int m_pageTarget = 0;
    QTimer m_timer;
    QTimer m_repeat; // page steps go on while the button is held away from the thumb
    TMediaSeeking* m_seeking = nullptr;
    QPointer<TFilterGraph> m_graph;

    KeyFrameIndex m_keys;
    qint64 m_durationUs = 0;
    qint64 m_frameUs = 0;
    bool m_zoomed = false;
    TimelineView m_view;
    qint64 m_thumbUs = 0; // zoomed in: the thumb's exact time

    QList<QPair<double, double>> m_ranges;
    int m_highlighted = -1;
};
