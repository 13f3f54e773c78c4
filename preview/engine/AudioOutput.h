#pragma once
#include <QAudioDevice>
#include <QAudioFormat>
#include <QByteArray>
#include <QObject>
#include <atomic>

class QAudioSink;
class QIODevice;
class QThread;
class QTimer;
struct SwrContext;
struct AVFrame;

namespace vtmedia {

class Session;

// The sound of a session: decodes its packets and plays them through the system's audio
// service on a thread of its own. While it plays, what the service reports as heard sets
// the session's clock, so the picture follows the sound.
class AudioOutput : public QObject {
    Q_OBJECT
public:
    AudioOutput(Session* session, const QAudioDevice& device);
    ~AudioOutput() override;

    void Start();
    // Returns once nothing of it runs any more.
    void Stop();
    // False when the device refused to open: the clock then runs on its own.
    bool Working() const { return m_working; }
    void SetVolume(float volume) { m_volume = volume; }

private:
    void Begin();
    void End();
    void Tick();
    void Restart(double from);
    void GiveUp();
    bool DecodeMore();
    void Append(AVFrame* frame);

    Session* m_s;
    QAudioDevice m_device;
    QAudioFormat m_format;
    QThread* m_thread = nullptr;
    QTimer* m_timer = nullptr;
    QAudioSink* m_sink = nullptr;
    QIODevice* m_io = nullptr;
    SwrContext* m_swr = nullptr;
    int m_swrRate = 0;
    int m_swrFormat = -1;
    int m_swrChannels = 0;
    std::atomic<bool> m_working {false};
    std::atomic<float> m_volume {1.0f};
    float m_applied = -1;
    int m_decSerial = -1;
    int m_epoch = -1;
    double m_segStart = 0;  // media time of the first sample of this run of the sink
    bool m_trim = true;     // samples before m_segStart are still to be dropped
    bool m_ended = false;   // the stream gave its last samples
    qint64 m_written = 0;
    QByteArray m_pcm;
    qsizetype m_pcmPos = 0;
};

} // namespace vtmedia
