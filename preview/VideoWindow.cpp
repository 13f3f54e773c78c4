#include "preview/VideoWindow.h"
#include <QMediaPlayer>
#include <QResizeEvent>

TVideoWindow::TVideoWindow(QWidget* parent) : QVideoWidget(parent)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
    // The picture is drawn by a window of its own that would cover whatever lies above this
    // control (the banner); it is shown once there is something to show.
    if (QWidget* s = Surface(); s != this)
        s->hide();
}

TVideoWindow::~TVideoWindow()
{
    if (m_graph) {
        m_graph->Detach(this);
        m_graph->DetachFilter(this);
    }
}

void TVideoWindow::SetFilterGraph(TFilterGraph* graph)
{
    if (m_graph && m_graph != graph) {
        m_graph->Detach(this);
        m_graph->DetachFilter(this);
    }
    FilterGraph = graph;
    m_graph = graph;
    if (graph) {
        graph->AttachFilter(this);
        graph->Attach(this);
    }
}

QWidget* TVideoWindow::Surface() const
{
    const QList<QWidget*> kids = findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    return kids.isEmpty() ? const_cast<TVideoWindow*>(this) : kids.first();
}

bool TVideoWindow::SurfaceVisible() const
{
    QWidget* s = Surface();
    return s == this ? isVisible() : !s->isHidden();
}

void TVideoWindow::FilterAdded(QMediaPlayer* player)
{
    m_player = player;
    player->setVideoOutput(this);
}

void TVideoWindow::FilterRemoving(QMediaPlayer* player)
{
    if (player && player->videoOutput() == this)
        player->setVideoOutput(static_cast<QObject*>(nullptr));
    m_player = nullptr;
    m_embedded = false;
}

void TVideoWindow::ControlEvent(TControlEvent event, int param)
{
    Q_UNUSED(param);
    // Playing a source with a picture puts the surface over this control.
    if (event == TControlEvent::Play && m_player && m_player->hasVideo())
        EmbedVideo();
}

void TVideoWindow::EmbedVideo()
{
    m_embedded = true;
    PlaceSurface();
    if (QWidget* s = Surface(); s != this)
        s->show();
}

void TVideoWindow::PlaceSurface()
{
    if (QWidget* s = Surface(); s != this)
        s->setGeometry(rect());
}

void TVideoWindow::setVisible(bool visible)
{
    QVideoWidget::setVisible(visible);
    // Showing the control also shows the picture, once the graph holds the surface.
    if (m_player) {
        if (QWidget* s = Surface(); s != this) {
            PlaceSurface();
            s->setVisible(visible);
        }
    }
}

void TVideoWindow::resizeEvent(QResizeEvent* e)
{
    QVideoWidget::resizeEvent(e);
    if (m_player && !FullScreen)
        PlaceSurface();
}
