#pragma once
#include "preview/FilterGraph.h"
#include <QPointer>
#include <QWidget>

class TVideoSurface;

// The black video surface of the preview. The frames are painted by a surface of its own
// that lies exactly over this control and stays hidden until a source is played, so the
// banner above it is never painted over.
class TVideoWindow : public QWidget, public TGraphComponent, public TGraphFilterComponent {
    Q_OBJECT
public:
    explicit TVideoWindow(QWidget* parent = nullptr);
    ~TVideoWindow() override;

    // Kept public for the form's layout code; SetFilterGraph attaches the window to it.
    TFilterGraph* FilterGraph = nullptr;
    void SetFilterGraph(TFilterGraph* graph);
    // Whether the surface that carries the picture is shown (it is after the first play).
    bool SurfaceVisible() const;
    // The widget that carries the picture.
    QWidget* Surface() const;

    void setVisible(bool visible) override;

    void ControlEvent(TControlEvent event, int param) override;
    void FilterAdded(TFilterGraph* graph) override;
    void FilterRemoving(TFilterGraph* graph) override;

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void EmbedVideo();
    void PlaceSurface();
    TVideoSurface* m_surface = nullptr;
    QPointer<TFilterGraph> m_bound; // held while the graph is active
    QPointer<TFilterGraph> m_graph;
    bool m_embedded = false;
};

// Paints the graph's current frame, fitted into itself with its shape kept, on black.
class TVideoSurface : public QWidget {
    Q_OBJECT
public:
    explicit TVideoSurface(QWidget* parent);
    void SetGraph(TFilterGraph* graph);
    // Tells the graph the size to scale frames to (a hidden surface gets no resize event).
    void TellSize();

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    QPointer<TFilterGraph> m_graph;
};
