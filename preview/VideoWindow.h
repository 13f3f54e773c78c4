#pragma once
#include "preview/FilterGraph.h"
#include <QPointer>
#include <QVideoWidget>

class QMediaPlayer;

// The black video surface of the preview. Its picture is the graph's video output; the
// surface lies exactly over this control and stays hidden until a source is shown, so the
// banner above it is never painted over.
class TVideoWindow : public QVideoWidget, public TGraphComponent, public TGraphFilterComponent {
    Q_OBJECT
public:
    explicit TVideoWindow(QWidget* parent = nullptr);
    ~TVideoWindow() override;

    // Kept public for the form's layout code; SetFilterGraph attaches the window to it.
    TFilterGraph* FilterGraph = nullptr;
    void SetFilterGraph(TFilterGraph* graph);

    bool FullScreen = false;
    // Whether the surface that carries the picture is shown (it is after the first play).
    bool SurfaceVisible() const;
    // The widget that carries the picture, or this control itself when there is none.
    QWidget* Surface() const;

    void setVisible(bool visible) override;

    void ControlEvent(TControlEvent event, int param) override;
    void FilterAdded(QMediaPlayer* player) override;
    void FilterRemoving(QMediaPlayer* player) override;

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void EmbedVideo();
    void PlaceSurface();
    QPointer<QMediaPlayer> m_player; // held while the graph is active
    QPointer<TFilterGraph> m_graph;
    bool m_embedded = false;
};
