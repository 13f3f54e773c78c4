#pragma once
#include <QAudioDevice>
#include <QByteArray>
#include <QObject>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>

class QThread;
class QTimer;
struct SwrContext;
struct AVFrame;

namespace vtmedia {

class Session;

// Where the sound goes: 16-bit interleaved samples at a rate and channel count of the
// sink's choosing. Opened once per source and kept open across seeks (a reopened system
// sink takes a second or two to run again). Used on the sound's thread only.
class SoundSink {
public:
    virtual ~SoundSink() = default;
    virtual bool Open() = 0; // false: no sound on this machine
    virtual int Rate() const = 0;
    virtual int Channels() const = 0;
    virtual qint64 Free() = 0; // bytes it takes now
    virtual qint64 Write(const char* data, qint64 size) = 0;
    // Microseconds of sound heard since the last Flush (or opening).
    virtual qint64 PlayedUs() = 0;
    // Drops what is queued; the count of what was heard starts again.
    virtual void Flush() = 0;
    virtual void Pause(bool paused) = 0;
    virtual void SetVolume(float volume) = 0;
    virtual bool Broken() = 0; // the device went away
};
using SoundSinkFactory = std::function<std::unique_ptr<SoundSink>()>;
// The system's audio service, through the device given.
std::unique_ptr<SoundSink> MakeSystemSink(const QAudioDevice& device);

// The sound of a session: decodes its packets and plays them through a sink on a thread of
// its own. While the sink reports progress its position sets the session's clock, so the
// picture follows the sound; while it stands still the clock runs on by itself.
class AudioOutput : public QObject {
    Q_OBJECT
public:
    AudioOutput(Session* session, SoundSinkFactory factory);
    ~AudioOutput() override;

    void Start();
    // Returns once nothing of it runs any more.
    void Stop();
    // False when the device refused to open: the clock then runs on its own.
    bool Working() const { return m_working; }
    void SetVolume(float volume) { m_volume = volume; }

    // Seconds of gap in the sound's time stamps that are filled with silence rather than
    // heard as a jump; a longer jump (a time stamp discontinuity) moves the clock instead.
    static constexpr double kMaxGap = 10.0;

private:
    void Begin();
    void End();
    void Tick();
    void Restart(double from);
    void GiveUp();
    bool DecodeMore();
    void Append(AVFrame* frame);
    void Queue(QByteArray pcm, double pts);
    double MediaTimeAt(qint64 heard) const;
    bool SkipQueued();

    Session* m_s;
    SoundSinkFactory m_factory;
    std::unique_ptr<SoundSink> m_sink;
    QThread* m_thread = nullptr;
    QTimer* m_timer = nullptr;
    SwrContext* m_swr = nullptr;
    int m_rate = 48000;
    int m_channels = 2;
    int m_swrRate = 0;
    int m_swrFormat = -1;
    int m_swrChannels = 0;
    std::atomic<bool> m_working {false};
    std::atomic<float> m_volume {1.0f};
    float m_applied = -1;
    bool m_paused = true;
    int m_decSerial = -1;
    int m_epoch = -1;
    double m_segStart = 0; // media time of the first sample of this run
    bool m_trim = true;    // samples before m_segStart are still to be dropped
    bool m_ended = false;  // the stream gave its last samples
    // Samples (per channel) of this run given out so far, silence included, and where
    // their media time jumps: sample offset and the media time there.
    qint64 m_queued = 0;
    std::deque<std::pair<qint64, double>> m_anchors;
    qint64 m_silence = 0; // bytes of silence still to write before m_pcm
    qint64 m_lastHeard = -1;
    qint64 m_written = 0;        // samples of this run handed to the sink
    qint64 m_skip = 0;           // samples still to drop to catch up with the clock
    qint64 m_syncFrom = 0;       // heard before this, the sink plays what the skip left behind
    double m_progressAt = 0;     // the clock when the sink last reported progress
    double m_soundAt = 0;        // and the media time it reported then
    QByteArray m_pcm;
    qsizetype m_pcmPos = 0;
};

} // namespace vtmedia
