#include "preview/FilterGraph.h"
#include "app/Dialogs.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <cmath>
#include <limits>

QString EDirectShowException::FormatMessage(const QString& playerText, qint32 code)
{
    return playerText.left(255) + QStringLiteral(" ($") + QString::number(quint32(code), 16).toUpper()
        + QStringLiteral(").");
}

// ---- seeking

bool TMediaSeeking::GetDuration(qint64& ms) const
{
    if (!m_graph || !m_graph->Engine() || m_graph->Engine()->DurationUs() <= 0)
        return false;
    ms = m_graph->Engine()->DurationUs() / 1000;
    return true;
}

bool TMediaSeeking::GetCurrentPosition(qint64& ms) const
{
    if (!m_graph || !m_graph->Engine())
        return false;
    ms = qMax<qint64>(0, std::llround(m_graph->Engine()->Position() * 1000));
    return true;
}

bool TMediaSeeking::GetStopPosition(qint64& ms) const
{
    return GetDuration(ms);
}

void TMediaSeeking::SetPositions(qint64 currentMs)
{
    if (m_graph)
        m_graph->SeekExact(qMax<qint64>(0, currentMs) / 1000.0);
}

void TMediaSeeking::SetRate(double rate)
{
    if (m_graph && m_graph->Engine())
        m_graph->Engine()->SetRate(rate);
}

// ---- graph

TFilterGraph::TFilterGraph(QObject* parent) : QObject(parent) {}

TFilterGraph::~TFilterGraph()
{
    SetActive(false);
}

void TFilterGraph::SetActive(bool active)
{
    if (active == Active())
        return;
    if (active) {
        QString why;
        m_engine = CreateMediaEngine(&why);
        if (!m_engine)
            throw EDirectShowException(why, VT_E_PLAYER_BASE + meResource);
        m_engine->SetClient(this);
        m_engine->SetVolume(1.0f);
        m_seeking = new TMediaSeeking(this);
        for (const QPointer<QObject>& c : QList<QPointer<QObject>>(m_filterComponents)) {
            if (auto* f = dynamic_cast<TGraphFilterComponent*>(c.data()))
                f->FilterAdded(this);
        }
        SendControlEvent(TControlEvent::Active, 1);
        return;
    }

    SendControlEvent(TControlEvent::Active, 0);
    for (const QPointer<QObject>& c : QList<QPointer<QObject>>(m_filterComponents)) {
        if (auto* f = dynamic_cast<TGraphFilterComponent*>(c.data()))
            f->FilterRemoving(this);
    }
    TMediaEngine* engine = m_engine;
    TMediaSeeking* seeking = m_seeking;
    m_engine = nullptr;
    m_seeking = nullptr;
    m_source.clear();
    engine->SetClient(nullptr);
    delete engine; // ends its threads
    delete seeking;
}

void TFilterGraph::ResetGraph()
{
    if (!m_engine)
        return;
    Stop();
    // Drops the old source; the video window stays bound and shows nothing until the next.
    m_engine->Close();
    m_source.clear();
    emit FrameShown(-1);
}

qint32 TFilterGraph::RenderSource(const QString& path)
{
    if (!m_engine)
        return VT_S_FALSE;
    SendControlEvent(TControlEvent::Rendering);

    m_failureReported = false;
    if (path.isEmpty()) {
        m_failureReported = true;
        throw EDirectShowException(QStringLiteral("Resource not found."), VT_E_PLAYER_BASE + meResource);
    }
    m_source = QFileInfo(path).absoluteFilePath();
    m_load = Load::Loading;
    m_loadError = 0;
    m_loadErrorText.clear();

    // The rest of the program needs the length right after this call, and a refused file
    // must fail here, in the caller's handler: wait for the engine to decide.
    m_engine->Open(m_source);
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    bool timedOut = false;
    connect(&limit, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    if (m_load == Load::Loading && LoadTimeoutMs <= 0) {
        timedOut = true; // no wait at all: only a decision already made counts
    } else if (m_load == Load::Loading) {
        m_wait = &loop;
        limit.start(LoadTimeoutMs);
        // Input waits until the file is decided, so no handler runs half-way through an opening.
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        m_wait = nullptr;
    }
    if (!m_engine)
        return VT_S_FALSE; // the graph was deactivated meanwhile

    if (m_load == Load::Failed) {
        m_failureReported = true;
        m_engine->Close();
        QString text = m_loadErrorText;
        if (text.isEmpty())
            text = QStringLiteral("The file cannot be played");
        throw EDirectShowException(text, VT_E_PLAYER_BASE + m_loadError);
    }
    if (timedOut && m_load != Load::Loaded) {
        m_failureReported = true;
        m_engine->Close();
        throw EDirectShowException(QStringLiteral("The file did not load in time"), VT_E_TIMEOUT);
    }

    // Full volume, normal rate, again for the new source; not checked.
    m_engine->SetVolume(1.0f);
    m_engine->SetRate(1.0);
    SendControlEvent(TControlEvent::Rendered);
    return VT_S_OK;
}

void TFilterGraph::EngineOpened()
{
    m_load = Load::Loaded;
    if (m_wait)
        m_wait->quit();
}

void TFilterGraph::EngineOpenFailed(int error, const QString& text)
{
    m_load = Load::Failed;
    m_loadError = error;
    m_loadErrorText = text;
    if (m_wait)
        m_wait->quit();
}

void TFilterGraph::EngineFrame()
{
    emit FrameShown(CurrentFrameTime());
}

void TFilterGraph::EngineFailed(int error, const QString& text)
{
    // A failure while playing: shown once per source, outside the player's own call chain.
    if (m_failureReported)
        return;
    m_failureReported = true;
    const QString message = EDirectShowException::FormatMessage(
        text.isEmpty() ? QStringLiteral("The file cannot be played") : text, VT_E_PLAYER_BASE + error);
    QTimer::singleShot(0, this, [message] { ShowErrorBox(message); });
}

bool TFilterGraph::Playable() const
{
    return m_engine && m_load == Load::Loaded && !m_source.isEmpty();
}

bool TFilterGraph::Play()
{
    if (!m_engine)
        return false;
    SendControlEvent(TControlEvent::Play);
    m_engine->Play();
    return Playable();
}

bool TFilterGraph::Pause()
{
    if (!m_engine)
        return false;
    SendControlEvent(TControlEvent::Pause);
    m_engine->Pause();
    return Playable();
}

bool TFilterGraph::Stop()
{
    if (!m_engine)
        return false;
    SendControlEvent(TControlEvent::Stop);
    m_engine->Stop();
    return Playable();
}

qint32 TFilterGraph::SourceLength() const
{
    if (!m_engine)
        return 0;
    const qint64 ms = m_engine->DurationUs() / 1000;
    if (ms <= 0)
        return 0;
    return qint32(qMin<qint64>(ms, std::numeric_limits<qint32>::max()));
}

TPlayState TFilterGraph::State() const
{
    return m_engine ? m_engine->State() : TPlayState::Stopped;
}

float TFilterGraph::Volume() const
{
    return m_engine ? m_engine->Volume() : 1.0f;
}

bool TFilterGraph::AudioOutputActive() const
{
    return m_engine && m_engine->AudioOutputActive();
}

QObject* TFilterGraph::VideoOutput() const
{
    if (!m_engine)
        return nullptr;
    for (const QPointer<QObject>& c : m_filterComponents)
        if (c)
            return c.data();
    return nullptr;
}

QImage TFilterGraph::CurrentImage() const
{
    return m_engine ? m_engine->Frame() : QImage();
}

void TFilterGraph::SetSurfaceSize(const QSize& size)
{
    if (m_engine)
        m_engine->SetSurfaceSize(size);
}

bool TFilterGraph::SeekPending() const
{
    return m_engine && m_engine->Busy();
}

// ---- exact positions

double TFilterGraph::CurrentFrameTime() const
{
    return m_engine ? m_engine->FrameTime() : -1;
}

void TFilterGraph::SeekExact(double seconds)
{
    if (m_engine && !std::isnan(seconds))
        m_engine->Seek(seconds);
}

void TFilterGraph::StepFrame(int direction)
{
    if (m_engine && direction != 0)
        m_engine->Step(direction);
}

double TFilterGraph::FrameDuration() const
{
    return m_engine ? m_engine->FrameDuration() : 0;
}

double TFilterGraph::Destination() const
{
    return m_engine ? m_engine->Destination() : -1;
}

// ---- attached components

void TFilterGraph::Attach(QObject* component)
{
    if (component && !m_components.contains(component))
        m_components.append(component);
}

void TFilterGraph::Detach(QObject* component)
{
    m_components.removeAll(component);
    m_components.removeAll(nullptr);
}

void TFilterGraph::AttachFilter(QObject* component)
{
    if (!component || m_filterComponents.contains(component))
        return;
    m_filterComponents.append(component);
    // Joining an active graph: the part is added at once.
    if (m_engine)
        if (auto* f = dynamic_cast<TGraphFilterComponent*>(component))
            f->FilterAdded(this);
}

void TFilterGraph::DetachFilter(QObject* component)
{
    if (!m_filterComponents.contains(component))
        return;
    m_filterComponents.removeAll(component);
    m_filterComponents.removeAll(nullptr);
    if (m_engine)
        if (auto* f = dynamic_cast<TGraphFilterComponent*>(component))
            f->FilterRemoving(this);
}

void TFilterGraph::SendControlEvent(TControlEvent event, int param)
{
    for (const QPointer<QObject>& c : QList<QPointer<QObject>>(m_components))
        if (auto* g = dynamic_cast<TGraphComponent*>(c.data()))
            g->ControlEvent(event, param);
}
