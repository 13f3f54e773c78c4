#pragma once
#include "preview/MediaEngine.h"
#include "preview/engine/Session.h"

#include <QObject>
#include <QTimer>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>

namespace vtmedia {

class AudioOutput;
class SoundSink;

// What a test replaces: the time the clock runs on and where the sound goes.
struct EngineOptions {
    std::function<int64_t()> nowNs;                         // the steady clock when empty
    std::function<std::unique_ptr<SoundSink>()> makeSink;  // the system's device when empty
};

// The engine as the user-interface thread sees it: which frame is shown and when, the
// frames just shown (for steps back) and the seeks on their way.
class PlayerEngine : public QObject, public TMediaEngine {
    Q_OBJECT
public:
    explicit PlayerEngine(EngineOptions options = {});
    ~PlayerEngine() override;

    void SetClient(TMediaEngineClient* client) override { m_client = client; }
    void Open(const QString& path) override;
    void Close() override;
    qint64 DurationUs() const override;
    bool HasVideo() const override;
    bool HasAudio() const override;
    void Play() override;
    void Pause() override;
    void Stop() override;
    TPlayState State() const override { return m_state; }
    double Position() const override;
    void Seek(double seconds) override;
    void Step(int direction) override;
    bool Busy() const override { return m_pending.kind != Pending::None || m_steps != 0; }
    double Destination() const override;
    double FrameTime() const override { return m_shownPts; }
    double FrameDuration() const override;
    QImage Frame() const override { return m_shown; }
    void SetSurfaceSize(const QSize& size) override;
    void SetVolume(float linear) override;
    float Volume() const override { return m_volume; }
    void SetRate(double rate) override;
    double Rate() const override { return m_rate; }
    bool AudioOutputActive() const override;
    QSize DisplaySize() const override { return m_info.ok ? m_info.displaySize : QSize(); }
    QString PictureNote() const override { return m_info.ok ? m_info.pictureNote : QString(); }
    int AudioTracks() const override { return m_info.ok ? int(m_info.audioStreams.size()) : 0; }
    int AudioTrack() const override;
    void SetAudioTrack(int track) override;

private:
    struct Pending {
        enum Kind { None, Full, Cont, Next } kind = None;
        int request = 0;
        double target = 0;
        bool step = false; // the position follows the frame, not the target
    };

    void Notify();
    void Begin(const QString& path);
    void Service();
    void Halt(TPlayState state);
    void StartAudio();
    void FullSeek(double target, int keepBefore, bool step);
    void StepOnce(int direction);
    void Resolved();
    void TellFrame(int countBefore);
    bool SameRun(double from, double to) const;
    void NewAudioRun(double from);
    // The frames passed, then the session's queue, as one sequence.
    int SequenceSize() const;
    double PtsAt(int i) const;
    void MoveTo(int i);
    void Append(VideoFrame frame);
    void Show(const VideoFrame& frame);
    void Schedule();

    EngineOptions m_options;
    TMediaEngineClient* m_client = nullptr;
    std::unique_ptr<Session> m_s;
    AudioOutput* m_audio = nullptr;
    int m_sessionId = 0;
    std::atomic<bool> m_notifyPending {false};
    enum class OpenState { Closed, Opening, Open, Failed } m_open = OpenState::Closed;
    bool m_failureTold = false;
    StreamInfo m_info;
    QString m_path;
    int m_audioTrack = -1;
    // After a change of sound track the source opens again and goes on from here, unseen
    // by the client.
    struct Resume {
        bool on = false;
        double at = 0;
        TPlayState state = TPlayState::Stopped;
    } m_resume;

    // Frames shown or passed since the last seek, in order, without gaps; m_cursor is
    // the one on the surface. Frames still to come are in the session's queue.
    std::deque<VideoFrame> m_hist;
    int m_cursor = -1;
    QImage m_shown;
    double m_shownPts = -1;
    int m_showCount = 0;
    Pending m_pending;
    int m_steps = 0; // steps asked for while a seek was on its way
    int m_lastRequest = 0;
    TPlayState m_state = TPlayState::Stopped;
    QTimer m_timer;
    float m_volume = 1.0f;
    double m_rate = 1.0;
    QSize m_surface {440, 240};
    int m_audioEpoch = 0;
    double m_audioAt = 0; // where the sound goes on when playing starts again
};

} // namespace vtmedia
