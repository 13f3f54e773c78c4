#include "preview/engine/PlayerEngine.h"
#include "preview/engine/AudioOutput.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/log.h>
}

namespace vtmedia {

namespace {
constexpr int kHistory = 24; // frames kept behind the one shown
constexpr double kEps = TFramePicker::kEpsilon;
} // namespace

PlayerEngine::PlayerEngine(EngineOptions options) : m_options(std::move(options))
{
    // Damaged files are common; the decoders' complaints about them are no news to a user.
    av_log_set_level(AV_LOG_FATAL);
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &PlayerEngine::Service);
}

PlayerEngine::~PlayerEngine()
{
    Close();
}

void PlayerEngine::Notify()
{
    // Called from the worker threads: one pending call at a time is enough.
    if (!m_notifyPending.exchange(true))
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_notifyPending = false;
                Service();
            },
            Qt::QueuedConnection);
}

void PlayerEngine::Open(const QString& path)
{
    Close();
    m_audioTrack = -1; // another source: the engine picks until told otherwise
    Begin(path);
}

void PlayerEngine::Begin(const QString& path)
{
    m_path = path;
    ++m_sessionId;
    m_s = std::make_unique<Session>(path, [this] { Notify(); }, m_options.nowNs);
    m_s->SetSurface(m_surface);
    m_s->SetAudioTrack(m_audioTrack);
    m_s->clock.SetRate(m_rate);
    m_s->clock.Set(0);
    m_open = OpenState::Opening;
    m_pending = Pending {Pending::Full, 0, 0, false};
    m_lastRequest = 0;
    m_s->Start();
}

void PlayerEngine::Close()
{
    m_timer.stop();
    if (m_audio) {
        m_audio->Stop();
        delete m_audio;
        m_audio = nullptr;
    }
    m_s.reset();
    m_open = OpenState::Closed;
    m_failureTold = false;
    m_info = StreamInfo {};
    m_hist.clear();
    m_cursor = -1;
    m_shown = QImage();
    m_shownPts = -1;
    m_pending = Pending {};
    m_steps = 0;
    m_state = TPlayState::Stopped;
    m_audioEpoch = 0;
    m_audioAt = 0;
    m_resume = Resume {};
}

qint64 PlayerEngine::DurationUs() const
{
    return m_info.ok ? m_info.durationUs : -1;
}

bool PlayerEngine::HasVideo() const
{
    return m_info.ok && m_info.hasVideo;
}

bool PlayerEngine::HasAudio() const
{
    return m_info.ok && m_info.hasAudio;
}

double PlayerEngine::FrameDuration() const
{
    return m_info.ok ? m_info.frameDuration : 0;
}

bool PlayerEngine::AudioOutputActive() const
{
    return m_audio && m_audio->Working();
}

int PlayerEngine::AudioTrack() const
{
    if (!m_info.ok || !m_s || !m_s->ast)
        return m_audioTrack;
    const auto& all = m_info.audioStreams;
    const auto it = std::find(all.begin(), all.end(), m_s->ast->index);
    return it == all.end() ? -1 : int(it - all.begin());
}

void PlayerEngine::SetAudioTrack(int track)
{
    if (m_open != OpenState::Open || track < 0 || track >= AudioTracks() || track == AudioTrack())
        return;
    m_audioTrack = track;
    // The sound's decoder and its packets are the session's from the start: open again
    // and go on where the picture was, as it was.
    const Resume resume {true, Position(), m_state};
    const QString path = m_path;
    Close();
    m_resume = resume;
    Begin(path);
}

void PlayerEngine::SetSurfaceSize(const QSize& size)
{
    m_surface = size;
    if (m_s)
        m_s->SetSurface(size);
}

void PlayerEngine::SetVolume(float linear)
{
    m_volume = std::clamp(linear, 0.0f, 1.0f);
    if (m_audio)
        m_audio->SetVolume(m_volume);
}

void PlayerEngine::SetRate(double rate)
{
    if (!(rate > 0))
        return;
    m_rate = rate;
    if (m_s)
        m_s->clock.SetRate(rate);
}

void PlayerEngine::StartAudio()
{
    if (!m_info.hasAudio)
        return;
    SoundSinkFactory factory = m_options.makeSink;
    if (!factory) {
        // The system's audio service is asked only now, for a source with sound.
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull()) {
            // No device (a machine without sound): the clock runs on its own.
            m_s->SetAudioWanted(false);
            return;
        }
        factory = [device] { return MakeSystemSink(device); };
    }
    m_s->SetAudioWanted(true);
    m_audio = new AudioOutput(m_s.get(), std::move(factory));
    m_audio->SetVolume(m_volume);
    m_audio->Start();
}

// ---- the sequence of frames: the ones passed (m_hist), then the session's queue

int PlayerEngine::SequenceSize() const
{
    return int(m_hist.size()) + m_s->FramesReady();
}

double PlayerEngine::PtsAt(int i) const
{
    if (i < int(m_hist.size()))
        return m_hist[size_t(i)].pts;
    const std::optional<FrameHead> h = m_s->PeekFrame(i - int(m_hist.size()));
    return h ? h->pts : -1;
}

void PlayerEngine::Append(VideoFrame frame)
{
    if (frame.gapBefore)
        m_hist.clear(); // a step back must not jump over the frames that were dropped
    m_hist.push_back(std::move(frame));
    while (int(m_hist.size()) > kHistory)
        m_hist.pop_front();
    m_cursor = int(m_hist.size()) - 1;
}

void PlayerEngine::MoveTo(int i)
{
    if (i < int(m_hist.size())) {
        m_cursor = i;
        return;
    }
    int take = i - int(m_hist.size()) + 1;
    while (take-- > 0) {
        std::optional<VideoFrame> f = m_s->TakeFrame();
        if (!f)
            break;
        Append(std::move(*f));
    }
}

void PlayerEngine::Show(const VideoFrame& frame)
{
    m_shown = frame.image;
    m_shownPts = frame.pts;
    ++m_showCount;
}

void PlayerEngine::TellFrame(int countBefore)
{
    if (m_showCount != countBefore && m_client)
        m_client->EngineFrame();
}

// ---- news from the threads, and the picture in time with the clock

void PlayerEngine::Service()
{
    if (!m_s)
        return;
    const int shownBefore = m_showCount;
    int failError = 0;
    QString failText;
    bool infoNow = false;
    {
        const SessionNews news = m_s->TakeNews();
        failError = news.failError;
        failText = news.failText;
        if (m_open == OpenState::Opening && news.infoReady && !m_info.ok) {
            m_info = m_s->info;
            infoNow = true;
        }
    }
    if (failError != 0) {
        if (m_open == OpenState::Opening) {
            m_open = OpenState::Failed;
            Halt(TPlayState::Stopped);
            if (m_client)
                m_client->EngineOpenFailed(failError, failText);
            return;
        }
        if (!m_failureTold) {
            m_failureTold = true;
            if (m_client)
                m_client->EngineFailed(failError, failText);
            if (!m_s)
                return;
        }
    }
    if (m_open != OpenState::Opening && m_open != OpenState::Open)
        return;
    if (infoNow) {
        StartAudio();
        if (!m_info.hasVideo && !m_info.cover.isNull()) {
            // A sound file's cover stands for the picture.
            m_shown = m_info.cover;
            ++m_showCount;
        }
    }
    if (!m_info.ok)
        return;

    bool changed = false;
    bool resolved = false;
    if (!m_info.hasVideo) {
        resolved = m_pending.kind != Pending::None;
    } else {
        while (m_pending.kind != Pending::None) {
            const std::optional<FrameHead> head = m_s->PeekFrame();
            if (!head) {
                // Nothing more comes in this epoch: what is shown stays.
                if (m_s->VideoEnded())
                    resolved = true;
                break;
            }
            if (m_pending.kind == Pending::Full) {
                std::optional<VideoFrame> g = m_s->TakeFrame();
                if (!g)
                    continue;
                if (g->kind == VideoFrame::Before) {
                    m_hist.push_back(std::move(*g));
                    continue;
                }
                Append(std::move(*g));
                changed = resolved = true;
                break;
            }
            if (m_pending.kind == Pending::Next) {
                std::optional<VideoFrame> g = m_s->TakeFrame();
                if (!g)
                    continue;
                Append(std::move(*g));
                changed = resolved = true;
                break;
            }
            // A search on from where decoding stood.
            if (head->request == m_pending.request && head->kind == VideoFrame::Answer) {
                std::optional<VideoFrame> g = m_s->TakeFrame();
                if (!g)
                    continue;
                m_hist.clear(); // the frames between were passed over undrawn
                Append(std::move(*g));
                changed = resolved = true;
                break;
            }
            if (head->request == m_pending.request && head->kind == VideoFrame::After) {
                m_s->DemoteHead(); // the frame shown is the one; this comes next
                resolved = true;
                break;
            }
            if (head->pts <= m_pending.target + kEps) {
                // Decoded before the search began: on the way to the target.
                std::optional<VideoFrame> g = m_s->TakeFrame();
                if (!g)
                    continue;
                Append(std::move(*g));
                changed = true;
                continue;
            }
            resolved = true;
            break;
        }
        if (changed && m_cursor >= 0)
            Show(m_hist[size_t(m_cursor)]);
    }
    if (resolved)
        Resolved();

    if (m_open == OpenState::Opening && m_pending.kind == Pending::None) {
        m_open = OpenState::Open;
        if (m_resume.on) {
            const Resume r = m_resume;
            m_resume = Resume {};
            Seek(r.at);
            if (r.state == TPlayState::Playing)
                Play();
            else
                Halt(r.state);
            return;
        }
        if (m_client)
            m_client->EngineOpened();
        if (!m_s)
            return;
    }

    // Playing: the frames whose time has come.
    if (m_state == TPlayState::Playing && m_pending.kind == Pending::None && m_info.hasVideo) {
        const double now = m_s->clock.Now();
        bool moved = false;
        while (m_cursor + 1 < SequenceSize() && PtsAt(m_cursor + 1) <= now + 0.002) {
            MoveTo(m_cursor + 1);
            moved = true;
        }
        if (moved && m_cursor >= 0) {
            Show(m_hist[size_t(m_cursor)]);
            changed = true;
        }
    }
    (void)changed;
    TellFrame(shownBefore);
    if (m_s)
        Schedule();
}

void PlayerEngine::Schedule()
{
    m_timer.stop();
    if (!m_s || m_state != TPlayState::Playing || m_pending.kind != Pending::None || !m_info.hasVideo)
        return;
    const double next = m_cursor + 1 < SequenceSize() ? PtsAt(m_cursor + 1) : -1;
    if (next < 0)
        return; // the decoder tells when the next frame is there
    const double wait = (next - m_s->clock.Now()) * 1000 / m_rate;
    m_timer.start(int(std::clamp(std::ceil(wait), 1.0, 500.0)));
}

void PlayerEngine::Resolved()
{
    const Pending p = m_pending;
    m_pending = Pending {};
    // A seek stands at its target; a step at the frame it shows. A seek past the last frame
    // that decodes (a truncated file whose stated length runs on) stands at that frame.
    double at = (p.step || p.kind == Pending::Next) && m_shownPts >= 0 ? m_shownPts : p.target;
    if (p.kind == Pending::Full && !p.step && m_cursor >= 0 && m_hist[size_t(m_cursor)].last) {
        const double end = m_shownPts + std::max(m_info.frameDuration, 0.0);
        if (p.target > end + kEps)
            at = m_shownPts;
    }
    if (p.kind == Pending::Next && m_shownPts < 0)
        at = m_s->clock.Now();
    m_s->clock.Set(std::max(0.0, at));
    if (m_state == TPlayState::Playing)
        m_s->clock.Run(true);
    // Steps asked for while it was on its way.
    while (m_steps != 0 && m_pending.kind == Pending::None && m_state != TPlayState::Playing) {
        const int d = m_steps > 0 ? 1 : -1;
        m_steps -= d;
        StepOnce(d);
    }
}

void PlayerEngine::NewAudioRun(double from)
{
    m_s->NewAudioRun(++m_audioEpoch, from);
    m_s->clock.SetEpoch(m_audioEpoch);
    m_audioAt = from;
}

// ---- commands

void PlayerEngine::Halt(TPlayState state)
{
    if (m_s && m_state == TPlayState::Playing) {
        m_s->clock.Run(false);
        m_audioAt = m_s->clock.Now();
    }
    m_state = state;
    m_timer.stop();
    if (m_s)
        m_s->SetPlaying(false);
}

void PlayerEngine::Play()
{
    if (!m_s || m_open != OpenState::Open || m_state == TPlayState::Playing)
        return;
    // Played to the end: from the start again.
    const double length = m_info.durationUs > 0 ? m_info.durationUs / 1e6 : 0;
    if (length > 0 && m_pending.kind == Pending::None && Position() >= length - 1e-3)
        Seek(0);
    m_state = TPlayState::Playing;
    m_s->SetPlaying(true);
    if (m_pending.kind == Pending::None) {
        const double at = Position();
        // Frames stepped while paused moved the picture away from where the sound stopped.
        if (std::abs(at - m_audioAt) > 0.03)
            NewAudioRun(at);
        m_s->clock.Set(at);
        m_s->clock.Run(true);
    }
    Service();
}

void PlayerEngine::Pause()
{
    if (m_s && m_open == OpenState::Open)
        Halt(TPlayState::Paused);
}

void PlayerEngine::Stop()
{
    if (m_s && m_open == OpenState::Open)
        Halt(TPlayState::Stopped);
}

double PlayerEngine::Position() const
{
    if (!m_s)
        return 0;
    double p = (m_pending.kind == Pending::Full || m_pending.kind == Pending::Cont) ? m_pending.target
                                                                                    : m_s->clock.Now();
    const double length = m_info.durationUs > 0 ? m_info.durationUs / 1e6 : -1;
    if (length >= 0 && p > length)
        p = length;
    return std::max(0.0, p);
}

double PlayerEngine::Destination() const
{
    if (!m_s)
        return -1;
    const double frame = std::max(m_info.frameDuration, 0.0);
    double at = 0;
    switch (m_pending.kind) {
    case Pending::Full:
        // A step back beyond the frames kept seeks to just before the frame shown: it lands
        // on the frame before.
        at = m_pending.step ? m_pending.target + 1e-5 - frame : m_pending.target;
        break;
    case Pending::Cont:
        at = m_pending.target;
        break;
    case Pending::Next:
        at = m_shownPts + frame;
        break;
    case Pending::None:
        at = m_shownPts >= 0 ? m_shownPts : Position();
        break;
    }
    at += m_steps * frame;
    const double length = m_info.durationUs > 0 ? m_info.durationUs / 1e6 : -1;
    if (length >= 0 && at > length)
        at = length;
    return std::max(0.0, at);
}

bool PlayerEngine::SameRun(double from, double to) const
{
    // Decoding on is no more work than a seek when no key frame lies between.
    const std::vector<double>& keys = m_info.keyFrames;
    if (keys.empty())
        return to - from <= 1.0;
    auto it = std::upper_bound(keys.begin(), keys.end(), to + kEps);
    if (it == keys.begin())
        return true;
    return *(it - 1) <= from + kEps;
}

void PlayerEngine::FullSeek(double target, int keepBefore, bool step)
{
    SeekOrder o;
    o.request = ++m_lastRequest;
    o.target = target;
    o.keepBefore = keepBefore;
    m_s->OrderSeek(o);
    m_hist.clear();
    m_cursor = -1;
    m_timer.stop();
    m_s->clock.Run(false);
    m_s->clock.Set(target);
    NewAudioRun(target);
    if (!m_info.hasVideo) {
        // Sound alone: the position is the target at once.
        if (m_state == TPlayState::Playing)
            m_s->clock.Run(true);
        return;
    }
    m_pending = Pending {Pending::Full, o.request, target, step};
}

void PlayerEngine::Seek(double seconds)
{
    if (!m_s || m_open != OpenState::Open)
        return;
    double t = std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0;
    const double length = m_info.durationUs > 0 ? m_info.durationUs / 1e6 : -1;
    if (length >= 0 && t > length)
        t = length; // at or past the end: the last frame
    m_steps = 0;
    if (!m_info.hasVideo || m_pending.kind != Pending::None) {
        FullSeek(t, 0, false);
        return;
    }
    const int shownBefore = m_showCount;
    enum { Far, Here, Search } how = Far;
    {
        const int n = SequenceSize();
        int i = n - 1;
        while (i >= 0 && PtsAt(i) > t + kEps)
            --i;
        if (i >= 0 && (i < n - 1 || (m_s->VideoEnded() && m_s->FramesReady() == 0 && i == n - 1))) {
            // Among the frames at hand, with the next one known to start later.
            MoveTo(i);
            how = Here;
        } else if (i >= 0 && i == n - 1 && SameRun(PtsAt(i), t)) {
            MoveTo(i);
            how = Search;
            m_pending = Pending {Pending::Cont, ++m_lastRequest, t, false};
            m_s->SearchOn(m_pending.request, t);
        }
        if (how != Far && m_cursor >= 0)
            Show(m_hist[size_t(m_cursor)]);
    }
    if (how == Far) {
        FullSeek(t, 0, false);
        return;
    }
    m_s->clock.Set(t);
    NewAudioRun(t);
    if (how == Search)
        m_s->clock.Run(false);
    TellFrame(shownBefore);
    if (!m_s)
        return;
    if (how == Search)
        Service(); // frames already queued may settle it
    else
        Schedule();
}

void PlayerEngine::Step(int direction)
{
    if (!m_s || m_open != OpenState::Open || m_state == TPlayState::Playing || direction == 0 || !m_info.hasVideo)
        return;
    const int d = direction > 0 ? 1 : -1;
    if (m_pending.kind != Pending::None) {
        m_steps += d;
        return;
    }
    const int shownBefore = m_showCount;
    StepOnce(d);
    TellFrame(shownBefore);
}

void PlayerEngine::StepOnce(int d)
{
    if (d > 0) {
        bool wait = false;
        if (m_cursor + 1 < SequenceSize()) {
            MoveTo(m_cursor + 1);
            Show(m_hist[size_t(m_cursor)]);
        } else if (!m_s->VideoEnded()) {
            wait = true;
        }
        if (wait)
            m_pending = Pending {Pending::Next, ++m_lastRequest, 0, true};
        else
            m_s->clock.Set(std::max(0.0, m_shownPts));
        return;
    }
    if (m_cursor > 0) {
        --m_cursor;
        Show(m_hist[size_t(m_cursor)]);
        m_s->clock.Set(std::max(0.0, m_shownPts));
    } else if (m_shownPts >= 0) {
        // Back past the frames kept: seek to the one before, with a few more before it.
        FullSeek(std::max(0.0, m_shownPts - 1e-5), kKeepBefore, true);
    }
}

} // namespace vtmedia

extern "C" __attribute__((visibility("default"))) TMediaEngine* VtCreateMediaEngine()
{
    return new vtmedia::PlayerEngine;
}
