#include "preview/engine/AudioOutput.h"
#include "preview/engine/Session.h"

#include <QAudioSink>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace vtmedia {

namespace {

// Differences between where the sound's time stamps say a frame starts and where the
// samples before it end that are rounding, not a gap.
constexpr double kStampSlack = 0.1;
// A sink that stood still this long and then plays on lags the clock, which ran on: the
// sound skips ahead to it instead of pulling the picture back.
constexpr double kStandStill = 0.1;

class SystemSink : public SoundSink {
public:
    explicit SystemSink(const QAudioDevice& device) : m_device(device)
    {
        m_format.setSampleRate(48000);
        m_format.setChannelCount(2);
        m_format.setSampleFormat(QAudioFormat::Int16);
        const QAudioFormat preferred = device.preferredFormat();
        if (preferred.sampleRate() >= 8000 && preferred.sampleRate() <= 192000) {
            QAudioFormat f = m_format;
            f.setSampleRate(preferred.sampleRate());
            if (device.isFormatSupported(f))
                m_format = f;
        }
    }
    ~SystemSink() override
    {
        if (m_sink)
            m_sink->stop();
    }

    bool Open() override
    {
        m_sink = std::make_unique<QAudioSink>(m_device, m_format);
        // A short buffer: a seek or a pause is heard at once.
        m_sink->setBufferSize(m_format.bytesForDuration(200000));
        m_io = m_sink->start();
        if (!m_io || m_sink->error() != QAudio::NoError)
            return false;
        m_sink->suspend();
        m_paused = true;
        return true;
    }
    int Rate() const override { return m_format.sampleRate(); }
    int Channels() const override { return m_format.channelCount(); }
    qint64 Free() override { return m_io ? m_sink->bytesFree() : 0; }
    qint64 Write(const char* data, qint64 size) override { return m_io ? m_io->write(data, size) : -1; }
    qint64 PlayedUs() override { return std::max<qint64>(0, m_sink->processedUSecs() - m_base); }
    void Flush() override
    {
        // Drops what the service still holds without closing the stream; only where the
        // backend stops on it is it started again.
        m_sink->reset();
        if (m_sink->state() == QAudio::StoppedState)
            m_io = m_sink->start();
        if (m_paused)
            m_sink->suspend();
        m_base = m_sink->processedUSecs();
    }
    void Pause(bool paused) override
    {
        m_paused = paused;
        if (paused && m_sink->state() != QAudio::SuspendedState)
            m_sink->suspend();
        else if (!paused && m_sink->state() == QAudio::SuspendedState)
            m_sink->resume();
    }
    void SetVolume(float volume) override { m_sink->setVolume(volume); }
    bool Broken() override
    {
        return !m_io || (m_sink->state() == QAudio::StoppedState && m_sink->error() != QAudio::NoError);
    }

private:
    QAudioDevice m_device;
    QAudioFormat m_format;
    std::unique_ptr<QAudioSink> m_sink;
    QIODevice* m_io = nullptr;
    qint64 m_base = 0;
    bool m_paused = true;
};

} // namespace

std::unique_ptr<SoundSink> MakeSystemSink(const QAudioDevice& device)
{
    return std::make_unique<SystemSink>(device);
}

AudioOutput::AudioOutput(Session* session, SoundSinkFactory factory) : m_s(session), m_factory(std::move(factory)) {}

AudioOutput::~AudioOutput()
{
    swr_free(&m_swr);
}

void AudioOutput::Start()
{
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("VeltraneSound"));
    moveToThread(m_thread);
    connect(m_thread, &QThread::started, this, &AudioOutput::Begin);
    m_thread->start();
}

void AudioOutput::Stop()
{
    if (!m_thread)
        return;
    QMetaObject::invokeMethod(this, &AudioOutput::End, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

void AudioOutput::Begin()
{
    m_sink = m_factory ? m_factory() : nullptr;
    if (!m_sink || !m_sink->Open() || m_sink->Rate() <= 0 || m_sink->Channels() <= 0) {
        m_sink.reset();
        GiveUp();
        return;
    }
    m_rate = m_sink->Rate();
    m_channels = m_sink->Channels();
    m_working = true;
    m_sink->Pause(true);
    m_paused = true;
    m_timer = new QTimer(this);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &AudioOutput::Tick);
    m_timer->start(10);
}

void AudioOutput::End()
{
    if (m_timer)
        m_timer->stop();
    m_sink.reset();
    m_working = false;
}

void AudioOutput::Restart(double from)
{
    // A new run at another position: what the sink still held belongs to the old one. The
    // sink stays open; it only drops its queue.
    m_sink->Flush();
    m_segStart = from;
    m_trim = true;
    m_queued = 0;
    m_anchors.assign(1, {0, from});
    m_silence = 0;
    m_lastHeard = -1;
    m_written = 0;
    m_skip = 0;
    m_syncFrom = 0;
    m_progressAt = from;
    m_soundAt = from;
    m_pcm.clear();
    m_pcmPos = 0;
}

void AudioOutput::GiveUp()
{
    // No sound then: the reader stops keeping packets for it and the clock runs on its own.
    m_working = false;
    m_s->SetAudioWanted(false);
}

double AudioOutput::MediaTimeAt(qint64 sample) const
{
    auto it = m_anchors.rbegin();
    while (it != m_anchors.rend() && it->first > sample)
        ++it;
    if (it == m_anchors.rend())
        it = m_anchors.rend() - 1;
    return it->second + double(sample - it->first) / m_rate;
}

void AudioOutput::Tick()
{
    if (!m_working)
        return;
    const AudioRun run = m_s->CurrentAudioRun();
    if (run.epoch != m_epoch) {
        m_epoch = run.epoch;
        Restart(run.start);
    }
    const float volume = m_volume;
    if (volume != m_applied) {
        m_sink->SetVolume(volume);
        m_applied = volume;
    }
    if (!run.playing) {
        if (!m_paused)
            m_sink->Pause(true);
        m_paused = true;
        return;
    }
    if (m_paused)
        m_sink->Pause(false);
    m_paused = false;
    if (m_sink->Broken()) {
        GiveUp(); // the device went away
        return;
    }

    static const QByteArray zeros(16384, '\0');
    const int bytesPerFrame = m_channels * 2;
    qint64 room = m_sink->Free();
    while (room > 0) {
        if (m_skip > 0 && SkipQueued())
            continue;
        const char* data = nullptr;
        qint64 size = 0;
        if (m_silence > 0) {
            data = zeros.constData();
            size = std::min<qint64>({m_silence, room, zeros.size()});
        } else if (m_pcmPos < m_pcm.size()) {
            data = m_pcm.constData() + m_pcmPos;
            size = std::min<qint64>(room, m_pcm.size() - m_pcmPos);
        } else {
            m_pcm.clear();
            m_pcmPos = 0;
            if (!DecodeMore())
                break;
            continue;
        }
        const qint64 n = m_sink->Write(data, size);
        if (n <= 0)
            break;
        m_written += n / bytesPerFrame;
        if (m_silence > 0)
            m_silence -= n;
        else
            m_pcmPos += n;
        room -= n;
    }
    // While the sink reports progress its position is the clock. While it stands still
    // (a device that takes its time to start, the sound ran dry before the picture's end)
    // the clock runs on by itself instead of holding the picture.
    const qint64 heardUs = m_sink->PlayedUs();
    if (heardUs > 0 && heardUs != m_lastHeard) {
        m_lastHeard = heardUs;
        const qint64 heard = heardUs * m_rate / 1000000;
        while (m_anchors.size() > 1 && m_anchors[1].first <= heard)
            m_anchors.pop_front();
        const double now = m_s->clock.Now();
        const double sound = MediaTimeAt(heard);
        // How far the sink fell behind the clock since its last report.
        const double fell = (now - m_progressAt) - (sound - m_soundAt);
        if (heard >= m_syncFrom && m_skip == 0) {
            if (fell > kStandStill && now - sound > kStandStill && m_s->clock.Running()) {
                // Playing again after standing still: drop the sound the clock has passed.
                m_skip = std::llround((now - sound) * m_rate);
                m_syncFrom = m_written;
            } else {
                m_s->clock.Sync(sound, m_epoch);
            }
        }
        m_progressAt = now;
        m_soundAt = sound;
    }
}

bool AudioOutput::SkipQueued()
{
    // Drops up to m_skip samples of what is queued but not yet written: silence first,
    // then decoded sound. The samples written from here on are that much later in media time.
    const int bytesPerFrame = m_channels * 2;
    qint64 dropped = 0;
    if (m_silence > 0) {
        const qint64 n = std::min(m_skip, m_silence / bytesPerFrame);
        m_silence -= n * bytesPerFrame;
        dropped += n;
    }
    if (dropped < m_skip && m_silence == 0 && m_pcmPos < m_pcm.size()) {
        const qint64 n = std::min(m_skip - dropped, (m_pcm.size() - m_pcmPos) / bytesPerFrame);
        m_pcmPos += n * bytesPerFrame;
        dropped += n;
    }
    if (dropped == 0) {
        if (m_silence > 0 || m_pcmPos < m_pcm.size())
            return false;
        m_pcm.clear();
        m_pcmPos = 0;
        return DecodeMore(); // without packets yet, the skip waits for them
    }
    // The stream offset m_written now plays what lay `dropped` samples later.
    const double at = MediaTimeAt(m_written + dropped);
    std::deque<std::pair<qint64, double>> kept;
    for (const auto& a : m_anchors) {
        if (a.first <= m_written)
            kept.push_back(a);
        else if (a.first > m_written + dropped)
            kept.push_back({a.first - dropped, a.second});
    }
    kept.insert(std::upper_bound(kept.begin(), kept.end(), std::make_pair(m_written, at),
                                 [](const auto& x, const auto& y) { return x.first < y.first; }),
                {m_written, at});
    m_anchors = std::move(kept);
    m_queued -= dropped;
    m_skip -= dropped;
    return true;
}

bool AudioOutput::DecodeMore()
{
    const std::optional<QueuedPacket> next = m_s->TakeAudioPacket();
    if (!next)
        return false;
    QueuedPacket q = *next;
    AVCodecContext* ctx = m_s->actx;
    switch (q.kind) {
    case QueuedPacket::Flush:
        avcodec_flush_buffers(ctx);
        swr_free(&m_swr);
        m_decSerial = q.serial;
        m_ended = false;
        return true;
    case QueuedPacket::End:
        if (q.serial == m_decSerial && !m_ended) {
            avcodec_send_packet(ctx, nullptr);
            m_ended = true;
        } else {
            return true;
        }
        break;
    case QueuedPacket::Data:
        if (q.serial != m_decSerial) {
            av_packet_free(&q.pkt);
            return true;
        }
        avcodec_send_packet(ctx, q.pkt);
        av_packet_free(&q.pkt);
        break;
    }
    AVFrame* frame = av_frame_alloc();
    while (avcodec_receive_frame(ctx, frame) >= 0) {
        Append(frame);
        av_frame_unref(frame);
    }
    av_frame_free(&frame);
    if (m_ended)
        avcodec_flush_buffers(ctx);
    return true;
}

void AudioOutput::Append(AVFrame* frame)
{
    const int channels = frame->ch_layout.nb_channels;
    if (channels <= 0 || frame->sample_rate <= 0 || frame->nb_samples <= 0)
        return;
    if (!m_swr || m_swrRate != frame->sample_rate || m_swrFormat != frame->format || m_swrChannels != channels) {
        swr_free(&m_swr);
        AVChannelLayout in {};
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&in, channels);
        else
            av_channel_layout_copy(&in, &frame->ch_layout);
        AVChannelLayout out {};
        av_channel_layout_default(&out, m_channels);
        if (swr_alloc_set_opts2(&m_swr, &out, AV_SAMPLE_FMT_S16, m_rate, &in, AVSampleFormat(frame->format),
                                frame->sample_rate, 0, nullptr)
                < 0
            || swr_init(m_swr) < 0)
            swr_free(&m_swr);
        av_channel_layout_uninit(&in);
        av_channel_layout_uninit(&out);
        m_swrRate = frame->sample_rate;
        m_swrFormat = frame->format;
        m_swrChannels = channels;
        if (!m_swr)
            return;
    }
    const int bytesPerFrame = m_channels * 2;
    const int capacity = swr_get_out_samples(m_swr, frame->nb_samples);
    if (capacity <= 0)
        return;
    QByteArray out(qsizetype(capacity) * bytesPerFrame, Qt::Uninitialized);
    uint8_t* dst = reinterpret_cast<uint8_t*>(out.data());
    const int got = swr_convert(m_swr, &dst, capacity, const_cast<const uint8_t**>(frame->extended_data),
                                frame->nb_samples);
    if (got <= 0)
        return;
    out.truncate(qsizetype(got) * bytesPerFrame);
    // The resampler holds a few samples back: the first one out is that much older.
    const double delay = double(swr_get_delay(m_swr, m_rate)) / m_rate;
    const double pts = frame->best_effort_timestamp != AV_NOPTS_VALUE
        ? m_s->Seconds(m_s->ast, frame->best_effort_timestamp) - delay + double(frame->nb_samples) / frame->sample_rate
            - double(got) / m_rate
        : NAN;
    Queue(std::move(out), pts);
}

void AudioOutput::Queue(QByteArray pcm, double pts)
{
    const int bytesPerFrame = m_channels * 2;
    if (!std::isnan(pts)) {
        if (m_trim) {
            // Line the first samples up with where the run starts: drop what lies before
            // it; sound that starts later than the picture waits behind silence, however
            // late it starts.
            const double lead = pts - m_segStart;
            if (lead < 0) {
                const qint64 drop = std::llround(-lead * m_rate);
                if (drop >= pcm.size() / bytesPerFrame)
                    return;
                pcm.remove(0, drop * bytesPerFrame);
            } else {
                const qint64 pad = std::llround(lead * m_rate);
                m_silence += pad * bytesPerFrame;
                m_queued += pad;
            }
        } else {
            // Later samples follow their time stamps, not only their count: a gap (damaged
            // data, a stream that pauses) is filled with silence, a jump moves the clock.
            const double diff = pts - MediaTimeAt(m_queued);
            if (diff > kStampSlack && diff <= kMaxGap) {
                const qint64 pad = std::llround(diff * m_rate);
                m_pcm.append(QByteArray(qsizetype(pad * bytesPerFrame), '\0'));
                m_queued += pad;
            } else if (diff < -kStampSlack || diff > kMaxGap) {
                m_anchors.push_back({m_queued, pts});
            }
        }
    }
    m_trim = false;
    m_queued += pcm.size() / bytesPerFrame;
    m_pcm.append(pcm);
}

} // namespace vtmedia
