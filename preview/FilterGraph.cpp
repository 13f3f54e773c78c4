#include "preview/FilterGraph.h"
#include "app/Dialogs.h"

#include <QFileInfo>
#include <QTimer>
#include <algorithm>
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
    m_loadCode = 0;
    m_loadErrorText.clear();
    // The engine decides on its threads and tells EngineOpened or EngineOpenFailed; the
    // limit is checked from the event loop, as the answer is.
    if (!m_loadLimit) {
        m_loadLimit = new QTimer(this);
        m_loadLimit->setSingleShot(true);
        connect(m_loadLimit, &QTimer::timeout, this, [this] {
            if (m_load == Load::Loading)
                LoadFailed(QStringLiteral("The file did not load in time"), VT_E_TIMEOUT);
        });
    }
    m_loadLimit->start(std::max(0, LoadTimeoutMs));
    m_loadClock.start();
    m_engine->Open(m_source);
    return VT_S_OK;
}

void TFilterGraph::LoadFailed(const QString& text, qint32 code)
{
    m_load = Load::Failed;
    m_loadLimit->stop();
    m_loadCode = code;
    m_loadErrorText = text.isEmpty() ? QStringLiteral("The file cannot be played") : text;
    m_failureReported = true;
    // Closed outside the engine's own call that told of the failure.
    QTimer::singleShot(0, this, [this] {
        if (m_engine && m_load == Load::Failed)
            m_engine->Close();
    });
    emit SourceFailed(EDirectShowException::FormatMessage(m_loadErrorText, code));
}

void TFilterGraph::EngineOpened()
{
    if (m_load != Load::Loading)
        return; // too late: the file was given up
    // An answer past the limit is too late even when it comes before the limit's timer.
    if (m_loadClock.elapsed() >= std::max(0, LoadTimeoutMs)) {
        LoadFailed(QStringLiteral("The file did not load in time"), VT_E_TIMEOUT);
        return;
    }
    m_load = Load::Loaded;
    m_loadLimit->stop();
    // Full volume, normal rate, again for the new source; not checked.
    m_engine->SetVolume(1.0f);
    m_engine->SetRate(1.0);
    SendControlEvent(TControlEvent::Rendered);
    emit SourceReady();
}

void TFilterGraph::EngineOpenFailed(int error, const QString& text)
{
    if (m_load == Load::Loading)
        LoadFailed(text, VT_E_PLAYER_BASE + error);
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
