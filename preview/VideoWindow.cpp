#include "preview/VideoWindow.h"
#include <QPainter>
#include <QResizeEvent>

// ---- surface

TVideoSurface::TVideoSurface(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("VideoSurface"));
    // Every pixel is painted each time: black around the picture.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Mouse and keys over the picture reach the video window, as over the black control.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TVideoSurface::SetGraph(TFilterGraph* graph)
{
    if (m_graph)
        m_graph->disconnect(this);
    m_graph = graph;
    if (graph) {
        connect(graph, &TFilterGraph::FrameShown, this, [this] { update(); });
        TellSize();
    }
    update();
}

void TVideoSurface::TellSize()
{
    if (m_graph)
        m_graph->SetSurfaceSize(size() * devicePixelRatioF());
}

void TVideoSurface::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    TellSize();
}

void TVideoSurface::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    const QImage image = m_graph ? m_graph->CurrentImage() : QImage();
    if (image.isNull())
        return;
    // The engine scales to fit this surface; a frame made for another size is fitted here.
    QSizeF fit = QSizeF(image.size()) / devicePixelRatioF();
    fit.scale(QSizeF(size()), Qt::KeepAspectRatio);
    const QRectF target((width() - fit.width()) / 2, (height() - fit.height()) / 2, fit.width(), fit.height());
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    p.drawImage(target, image);
}

// ---- window

TVideoWindow::TVideoWindow(QWidget* parent) : QWidget(parent)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
    m_surface = new TVideoSurface(this);
    // Shown once there is something to show.
    m_surface->hide();
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
    return m_surface;
}

bool TVideoWindow::SurfaceVisible() const
{
    return !m_surface->isHidden();
}

void TVideoWindow::FilterAdded(TFilterGraph* graph)
{
    m_bound = graph;
    PlaceSurface();
    m_surface->SetGraph(graph);
}

void TVideoWindow::FilterRemoving(TFilterGraph*)
{
    m_surface->SetGraph(nullptr);
    m_bound = nullptr;
    m_embedded = false;
}

void TVideoWindow::ControlEvent(TControlEvent event, int param)
{
    Q_UNUSED(param);
    // Playing a source with a picture (a sound file's cover counts) puts the surface over
    // this control.
    if (event == TControlEvent::Play && m_bound && m_bound->Engine()
        && (m_bound->Engine()->HasVideo() || !m_bound->Engine()->Frame().isNull()))
        EmbedVideo();
}

void TVideoWindow::EmbedVideo()
{
    m_embedded = true;
    // How the picture is shown, where that needs saying (HDR without tone mapping).
    m_surface->setToolTip(m_bound && m_bound->Engine() ? m_bound->Engine()->PictureNote() : QString());
    PlaceSurface();
    m_surface->show();
}

void TVideoWindow::PlaceSurface()
{
    m_surface->setGeometry(rect());
    m_surface->TellSize();
}

void TVideoWindow::setVisible(bool visible)
{
    QWidget::setVisible(visible);
    // Showing the control also shows the picture, once the graph holds the surface.
    if (m_bound) {
        PlaceSurface();
        m_surface->setVisible(visible);
    }
}

void TVideoWindow::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    PlaceSurface();
}
