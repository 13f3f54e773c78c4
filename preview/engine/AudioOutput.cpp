#include "preview/engine/AudioOutput.h"
#include "preview/engine/Session.h"

#include <QAudioSink>
#include <QThread>
#include <QTimer>
#include <cmath>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace vtmedia {

AudioOutput::AudioOutput(Session* session, const QAudioDevice& device) : m_s(session), m_device(device)
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
    m_sink = new QAudioSink(m_device, m_format, this);
    // A short buffer: a seek or a pause is heard at once.
    m_sink->setBufferSize(m_format.bytesForDuration(200000));
    m_io = m_sink->start();
    m_working = m_io && m_sink->error() == QAudio::NoError;
    if (!m_working) {
        GiveUp();
        return;
    }
    m_sink->suspend();
    m_timer = new QTimer(this);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &AudioOutput::Tick);
    m_timer->start(10);
}

void AudioOutput::End()
{
    if (m_timer)
        m_timer->stop();
    if (m_sink) {
        m_sink->stop();
        delete m_sink;
        m_sink = nullptr;
    }
    m_io = nullptr;
    m_working = false;
}

void AudioOutput::Restart(double from)
{
    // A new run of the sink: what it still held belongs to the old position.
    m_sink->stop();
    m_io = m_sink->start();
    m_sink->suspend();
    m_segStart = from;
    m_trim = true;
    m_written = 0;
    m_pcm.clear();
    m_pcmPos = 0;
    if (!m_io)
        GiveUp();
}

void AudioOutput::GiveUp()
{
    // No sound then: the reader stops keeping packets for it and the clock runs on its own.
    m_working = false;
    m_s->SetAudioWanted(false);
}

void AudioOutput::Tick()
{
    if (!m_working)
        return;
    const AudioRun run = m_s->CurrentAudioRun();
    const int epoch = run.epoch;
    const double start = run.start;
    const bool playing = run.playing;
    if (epoch != m_epoch) {
        m_epoch = epoch;
        Restart(start);
        if (!m_working)
            return;
    }
    const float volume = m_volume;
    if (volume != m_applied) {
        m_sink->setVolume(volume);
        m_applied = volume;
    }
    if (!playing) {
        if (m_sink->state() != QAudio::SuspendedState)
            m_sink->suspend();
        return;
    }
    if (m_sink->state() == QAudio::SuspendedState)
        m_sink->resume();
    if (m_sink->state() == QAudio::StoppedState && m_sink->error() != QAudio::NoError) {
        GiveUp(); // the device went away
        return;
    }

    qint64 room = m_sink->bytesFree();
    while (room > 0) {
        if (m_pcmPos >= m_pcm.size()) {
            m_pcm.clear();
            m_pcmPos = 0;
            if (!DecodeMore())
                break;
            continue;
        }
        const qint64 n = m_io->write(m_pcm.constData() + m_pcmPos, qMin<qint64>(room, m_pcm.size() - m_pcmPos));
        if (n <= 0)
            break;
        m_pcmPos += n;
        m_written += n;
        room -= n;
    }
    // While sound is heard its position is the clock; when it runs dry (the sound ended
    // before the picture, or decoding lags) the clock runs on by itself.
    if (m_written > 0 && m_sink->state() == QAudio::ActiveState) {
        const qint64 us = m_sink->processedUSecs();
        if (us > 0)
            m_s->clock.Sync(m_segStart + double(us) / 1e6, m_epoch);
    }
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
        av_channel_layout_default(&out, m_format.channelCount());
        if (swr_alloc_set_opts2(&m_swr, &out, AV_SAMPLE_FMT_S16, m_format.sampleRate(), &in,
                                AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr)
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
    const int bytesPerFrame = m_format.bytesPerFrame();
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

    if (m_trim && frame->best_effort_timestamp != AV_NOPTS_VALUE) {
        // Line the first samples up with where the run starts: drop what lies before it,
        // fill a short gap before the first sound with silence.
        const double pts = m_s->Seconds(m_s->ast, frame->best_effort_timestamp);
        const double lead = pts - m_segStart;
        const int rate = m_format.sampleRate();
        if (lead < 0) {
            const qint64 drop = qMin<qint64>(got, std::llround(-lead * rate));
            if (drop >= got)
                return;
            out.remove(0, drop * bytesPerFrame);
        } else if (lead > 0 && lead < 2.0) {
            m_pcm.append(QByteArray(qsizetype(std::llround(lead * rate)) * bytesPerFrame, '\0'));
        }
    }
    m_trim = false;
    m_pcm.append(out);
}

} // namespace vtmedia
