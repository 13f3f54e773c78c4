#include "preview/FilterGraph.h"
#include "app/Dialogs.h"

#include <QAudioOutput>
#include <QEventLoop>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QMediaMetaData>
#include <QVideoFrame>
#include <QVideoSink>
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
    if (!m_player)
        return false;
    const qint64 length = m_player->duration() > 0 ? m_player->duration() : KnownLengthMs;
    if (length <= 0)
        return false;
    ms = length;
    return true;
}

bool TMediaSeeking::GetCurrentPosition(qint64& ms) const
{
    if (!m_player)
        return false;
    ms = qMax<qint64>(0, m_player->position());
    return true;
}

bool TMediaSeeking::GetStopPosition(qint64& ms) const
{
    return GetDuration(ms);
}

void TMediaSeeking::SetPositions(qint64 currentMs)
{
    if (m_player)
        m_player->setPosition(qMax<qint64>(0, currentMs));
}

void TMediaSeeking::SetRate(double rate)
{
    if (m_player)
        m_player->setPlaybackRate(rate);
}

// ---- the container's length, where the back end reports none

// Read by ffprobe: transport streams (.ts, .m2ts, .mts) carry no length the media back end
// picks up, yet the scale, the marks and the job need one. 0 when it cannot be read.
static qint64 ContainerLengthMs(const QString& path)
{
    const QString probe = QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
    if (probe.isEmpty())
        return 0;
    QProcess p;
    p.start(probe, {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                    QStringLiteral("format=duration"), QStringLiteral("-of"), QStringLiteral("default=nw=1:nk=1"),
                    QStringLiteral("file:") + QFileInfo(path).absoluteFilePath()});
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        p.kill();
        p.waitForFinished(1000);
        return 0;
    }
    bool ok = false;
    const double seconds = QString::fromLatin1(p.readAllStandardOutput()).trimmed().toDouble(&ok);
    return ok && seconds > 0 && seconds < 9.0e12 ? qint64(seconds * 1000.0) : 0;
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
        m_player = new QMediaPlayer(this);
        m_player->setObjectName(QStringLiteral("FilterGraphPlayer"));
        // The program never changes the volume: full, as the player's own default would not promise.
        m_audio = new QAudioOutput(this);
        m_audio->setVolume(1.0f);
        m_player->setAudioOutput(m_audio);
        connect(m_player, &QMediaPlayer::errorOccurred, this,
                [this](QMediaPlayer::Error error, const QString& text) { onPlayerError(int(error), text); });
        m_seeking = new TMediaSeeking(m_player);
        for (const QPointer<QObject>& c : QList<QPointer<QObject>>(m_filterComponents)) {
            if (auto* f = dynamic_cast<TGraphFilterComponent*>(c.data())) {
                f->FilterAdding();
                f->FilterAdded(m_player);
            }
        }
        SendControlEvent(TControlEvent::Active, 1);
        return;
    }

    SendControlEvent(TControlEvent::Active, 0);
    for (const QPointer<QObject>& c : QList<QPointer<QObject>>(m_filterComponents)) {
        if (auto* f = dynamic_cast<TGraphFilterComponent*>(c.data())) {
            f->FilterRemoving(m_player);
            f->FilterRemoved();
        }
    }
    QMediaPlayer* player = m_player;
    QAudioOutput* audio = m_audio;
    TMediaSeeking* seeking = m_seeking;
    m_player = nullptr;
    m_audio = nullptr;
    m_seeking = nullptr;
    player->disconnect(this);
    player->stop();
    delete seeking;
    delete player;
    delete audio;
}

void TFilterGraph::ResetGraph()
{
    if (!m_player)
        return;
    Stop();
    // Drops the old chain; the video output and the audio output stay set.
    m_player->setSource(QUrl());
}

qint32 TFilterGraph::RenderSource(const QString& path)
{
    if (!m_player)
        return VT_S_FALSE;
    SendControlEvent(TControlEvent::Rendering);

    m_renderError = 0;
    m_renderErrorText.clear();
    m_failureReported = false;
    m_seeking->KnownLengthMs = 0;
    const QUrl url = path.isEmpty() ? QUrl() : QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    if (url.isEmpty()) {
        m_failureReported = true;
        throw EDirectShowException(QStringLiteral("Resource not found."),
                                   VT_E_PLAYER_BASE + int(QMediaPlayer::ResourceError));
    }

    auto settled = [this] {
        if (m_renderError != 0)
            return true;
        switch (m_player->mediaStatus()) {
        case QMediaPlayer::LoadedMedia:
        case QMediaPlayer::BufferingMedia:
        case QMediaPlayer::BufferedMedia:
        case QMediaPlayer::StalledMedia:
        case QMediaPlayer::EndOfMedia:
        case QMediaPlayer::InvalidMedia:
            return true;
        default:
            return false;
        }
    };

    // The rest of the program needs the length right after this call, and a refused file
    // must fail here, in the caller's handler: wait for the player to decide.
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    bool timedOut = false;
    connect(&limit, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    connect(m_player, &QMediaPlayer::mediaStatusChanged, &loop, [&] {
        if (settled())
            loop.quit();
    });
    connect(m_player, &QMediaPlayer::errorOccurred, &loop, [&] {
        if (settled())
            loop.quit();
    });

    m_rendering = true;
    m_player->setSource(url);
    if (!settled()) {
        limit.start(LoadTimeoutMs);
        // Input waits until the file is decided, so no handler runs half-way through an opening.
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    m_rendering = false;

    if (m_renderError != 0 || m_player->mediaStatus() == QMediaPlayer::InvalidMedia) {
        m_failureReported = true;
        const int error = m_renderError != 0 ? m_renderError : int(m_player->error());
        QString text = !m_renderErrorText.isEmpty() ? m_renderErrorText : m_player->errorString();
        if (text.isEmpty())
            text = QStringLiteral("The file cannot be played");
        throw EDirectShowException(text, VT_E_PLAYER_BASE + error);
    }
    if (timedOut) {
        m_failureReported = true;
        m_player->setSource(QUrl());
        throw EDirectShowException(QStringLiteral("The file did not load in time"), VT_E_TIMEOUT);
    }

    if (m_player->duration() <= 0)
        m_seeking->KnownLengthMs = ContainerLengthMs(path);
    // Full volume, normal rate, again for the new chain; not checked.
    m_audio->setVolume(1.0f);
    m_audio->setMuted(false);
    m_seeking->SetRate(1.0);
    SendControlEvent(TControlEvent::Rendered);
    return VT_S_OK;
}

void TFilterGraph::onPlayerError(int error, const QString& text)
{
    if (error == int(QMediaPlayer::NoError))
        return;
    if (m_rendering) {
        // The first error is the one that names the cause; the back end adds follow-ups.
        if (m_renderError == 0) {
            m_renderError = error;
            m_renderErrorText = text;
        }
        return;
    }
    // A failure while playing: shown once per source, outside the player's own call chain.
    if (m_failureReported)
        return;
    m_failureReported = true;
    const QString message = EDirectShowException::FormatMessage(
        text.isEmpty() ? QStringLiteral("The file cannot be played") : text, VT_E_PLAYER_BASE + error);
    QTimer::singleShot(0, this, [message] { ShowErrorBox(message); });
}

static bool playable(const QMediaPlayer* p)
{
    const auto s = p->mediaStatus();
    return s != QMediaPlayer::NoMedia && s != QMediaPlayer::InvalidMedia;
}

bool TFilterGraph::Play()
{
    if (!m_player)
        return false;
    SendControlEvent(TControlEvent::Play);
    m_player->play();
    return playable(m_player);
}

bool TFilterGraph::Pause()
{
    if (!m_player)
        return false;
    SendControlEvent(TControlEvent::Pause);
    m_player->pause();
    return playable(m_player);
}

bool TFilterGraph::Stop()
{
    if (!m_player)
        return false;
    SendControlEvent(TControlEvent::Stop);
    m_player->stop();
    return playable(m_player);
}

qint32 TFilterGraph::SourceLength() const
{
    if (!m_player)
        return 0;
    qint64 ms = m_player->duration();
    if (ms <= 0 && m_seeking)
        ms = m_seeking->KnownLengthMs;
    if (ms <= 0)
        return 0;
    return qint32(qMin<qint64>(ms, std::numeric_limits<qint32>::max()));
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
    if (m_player)
        if (auto* f = dynamic_cast<TGraphFilterComponent*>(component)) {
            f->FilterAdding();
            f->FilterAdded(m_player);
        }
}

void TFilterGraph::DetachFilter(QObject* component)
{
    if (!m_filterComponents.contains(component))
        return;
    m_filterComponents.removeAll(component);
    m_filterComponents.removeAll(nullptr);
    if (m_player)
        if (auto* f = dynamic_cast<TGraphFilterComponent*>(component)) {
            f->FilterRemoving(m_player);
            f->FilterRemoved();
        }
}

void TFilterGraph::SendControlEvent(TControlEvent event, int param)
{
    for (const QPointer<QObject>& c : QList<QPointer<QObject>>(m_components))
        if (auto* g = dynamic_cast<TGraphComponent*>(c.data()))
            g->ControlEvent(event, param);
}

// ---- exact positions

double TFilterGraph::CurrentFrameTime() const
{
    if (!m_player || !m_player->videoSink())
        return -1;
    const QVideoFrame frame = m_player->videoSink()->videoFrame();
    if (!frame.isValid() || frame.startTime() < 0)
        return -1;
    // After a seek the back end stamps the first frame with the seek target rather than
    // with its own start; its end is still its own, so the start follows from the rate.
    qint64 startUs = frame.startTime();
    const double duration = FrameDuration();
    if (duration > 0 && frame.endTime() > startUs) {
        const qint64 fullUs = qint64(std::llround(duration * 1e6));
        if (frame.endTime() - startUs < fullUs - 1)
            startUs = qMax<qint64>(0, frame.endTime() - fullUs);
    }
    return double(startUs) / 1e6;
}

void TFilterGraph::SeekExact(double seconds)
{
    if (!m_player || std::isnan(seconds))
        return;
    // The back end seeks to whole milliseconds and shows the frame covering that time:
    // the next millisecond at or after the target stays inside the target's frame.
    double ms = std::ceil(qMax(0.0, seconds) * 1000.0 - 1e-6);
    // At or past the end the last frame is the one to show, not the end of the stream.
    if (m_player->duration() > 0)
        ms = qMin(ms, double(m_player->duration() - 1));
    m_player->setPosition(qint64(qMin(ms, 9.0e15)));
}

void TFilterGraph::StepFrame(int direction)
{
    if (!m_player || direction == 0 || m_player->playbackState() == QMediaPlayer::PlayingState)
        return;
    const double duration = FrameDuration();
    if (duration <= 0)
        return;
    double now = CurrentFrameTime();
    if (now < 0)
        now = m_player->position() / 1000.0;
    SeekExact(qMax(0.0, now + (direction > 0 ? duration : -duration)));
}

double TFilterGraph::FrameDuration() const
{
    if (!m_player)
        return 0;
    const double rate = m_player->metaData().value(QMediaMetaData::VideoFrameRate).toDouble();
    if (rate > 0)
        return 1.0 / rate;
    if (m_player->videoSink()) {
        const QVideoFrame frame = m_player->videoSink()->videoFrame();
        if (frame.isValid() && frame.startTime() >= 0 && frame.endTime() > frame.startTime())
            return double(frame.endTime() - frame.startTime()) / 1e6;
    }
    return 0;
}
