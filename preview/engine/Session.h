#pragma once
// One opened source: the reading thread, the picture's decoding thread and what they share
// with the user-interface thread. Everything below `mx` is guarded by it.
#include "preview/FramePicker.h"
#include "preview/PlaybackClock.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

struct SwsContext;

namespace vtmedia {

constexpr int kFrameQueue = 4;      // decoded frames ready after the one shown
constexpr int kKeepBefore = 12;     // frames a step back gets ready ahead of the next ones
constexpr int kMinPackets = 25;     // the reader rests once each queue holds this many
constexpr double kMinQueued = 1.0;  // ... and this many seconds
constexpr int64_t kMaxQueuedBytes = 8 << 20;
constexpr double kLateToDecode = 0.1; // seconds behind the clock from which frames are skipped

using Clock = TPlaybackClock;

struct QueuedPacket {
    enum Kind { Data, Flush, End };
    AVPacket* pkt = nullptr;
    int serial = 0;
    Kind kind = Data;
};

struct VideoFrame {
    enum Kind : uint8_t {
        Normal,
        Before, // decoded ahead of a step back: the frames just before the answer
        Answer, // the frame a seek asked for
        After,  // the first frame past a seek's target: the one before it was the answer
    };
    QImage image;
    double pts = 0;      // seconds from the source's start
    double duration = 0; // 0 when not known
    int serial = 0;
    int request = 0;
    Kind kind = Normal;
    bool gapBefore = false; // frames before it were dropped undrawn
    bool last = false;      // the stream's last frame that decodes
};

// A seek: flush everything and decode from a key frame before the target.
struct SeekOrder {
    int serial = 0;
    int request = 0;
    double target = 0;
    double margin = 0; // seconds to start before the target (index-less formats)
    int keepBefore = 0;
    bool noSkip = false;
    bool fromStart = false; // set by the reader: decoding began at the very start
};

struct StreamInfo {
    bool ok = false;
    int error = 0;
    QString text;
    int64_t durationUs = -1;
    bool hasVideo = false;
    bool hasAudio = false;
    double frameDuration = 0;
    std::vector<double> keyFrames; // seconds, ascending; empty when the file has no index
    int quarterTurns = 0;          // clockwise turns that set the picture upright
    QSize displaySize;             // upright, with the pixels' shape; empty without video
    QString pictureNote;           // what the window should say about how it is shown
    std::vector<int> audioStreams; // the sound tracks' stream indexes, in file order
    QImage cover;                  // a sound file's picture, when it has one
};

// What the owner learns at a time: a failure not yet told, and whether opening is done.
struct SessionNews {
    int failError = 0;
    QString failText;
    bool infoReady = false;
};

// The head of the frame queue, without taking it.
struct FrameHead {
    double pts = 0;
    int request = 0;
    VideoFrame::Kind kind = VideoFrame::Normal;
};

// How the sound is to run now: from `start` whenever `epoch` changes.
struct AudioRun {
    int epoch = 0;
    double start = 0;
    bool playing = false;
};

class Session {
public:
    // notify() is called from the worker threads whenever there is news for the owner;
    // nowNs is the clock's time source (the steady clock when empty).
    Session(const QString& path, std::function<void()> notify, std::function<int64_t()> nowNs = {});
    ~Session();

    // Which sound track plays (0 the first); before Start only. -1: the one FFmpeg deems best.
    void SetAudioTrack(int track) { m_audioTrack = track; }
    void Start();
    bool Aborted() const { return abort; }
    // The one address the demuxers may open (set before opening begins).
    const QByteArray& Url() const { return m_url; }

    // ---- set once by the reader before opening is reported, read-only afterwards
    StreamInfo info;
    double startTime = 0; // seconds of the format's first time stamp
    AVFormatContext* ic = nullptr;
    AVStream* vst = nullptr;
    AVStream* ast = nullptr;
    AVCodecContext* vctx = nullptr;
    AVCodecContext* actx = nullptr;
    double Seconds(AVStream* st, int64_t ts) const;

    Clock clock;

    // ---- the owner's side (the user-interface thread)
    SessionNews TakeNews();
    void SetSurface(const QSize& size);
    void SetPlaying(bool playing);
    bool Playing();
    // Flushes everything and has the reader seek; returns the new epoch's serial.
    int OrderSeek(SeekOrder order);
    // A seek forward that searches on from where decoding stands, without a flush.
    void SearchOn(int request, double target);
    // The frame queue of the current epoch (older frames are dropped on the way).
    int FramesReady();
    std::optional<FrameHead> PeekFrame(int i = 0);
    std::optional<VideoFrame> TakeFrame();
    // The frame at the head comes after the answer instead of being one.
    void DemoteHead();
    // The decoder gave everything it had in this epoch.
    bool VideoEnded();
    // Starts a new run of the sound at `from`.
    void NewAudioRun(int epoch, double from);

    // ---- the sound's side
    void SetAudioWanted(bool wanted);
    AudioRun CurrentAudioRun();
    // The next packet of the current epoch for the sound's decoder.
    std::optional<QueuedPacket> TakeAudioPacket();

private:
    void OrderSeekLocked(const SeekOrder& order);
    void ClearQueuesLocked();
    void DropStaleFramesLocked();
    void ReaderMain();
    bool OpenInput();
    void Fail(int error, const QString& text);
    bool FailLocked(int error, const QString& text);
    bool EnoughLocked() const;
    void DoSeek(const SeekOrder& order);

    void VideoMain();
    void Feed(AVPacket* pkt);
    void Decode(AVPacket* pkt);
    void Process(AVFrame* frame);
    void Output(AVFrame* frame, double pts, double duration, VideoFrame::Kind kind);
    void Push(VideoFrame frame);
    QImage Convert(AVFrame* frame);
    QImage CoverArt();
    void Reseek(double margin, bool noSkip);
    void KeepBefore(AVFrame* frame, double pts, double duration);
    void FlushBefore();

    std::atomic<bool> abort {false};

    // ---- shared: everything below is guarded by mx
    std::mutex mx;
    std::condition_variable cvReader;
    std::condition_variable cvVideo;
    bool infoReady = false;
    bool openFailed = false;
    int failError = 0;
    QString failText;  // a read or decode failure after opening (or the opening's own)
    bool failNew = false;
    std::deque<QueuedPacket> vq;
    std::deque<QueuedPacket> aq;
    int64_t vqBytes = 0;
    int64_t aqBytes = 0;
    double vqSeconds = 0;
    double aqSeconds = 0;
    enum AudioUse { AudioUnknown, AudioWanted, AudioUnwanted } audioUse = AudioUnknown;
    bool readerEof = false;
    std::optional<SeekOrder> seek; // waiting for the reader
    int serial = 0;                // the current flush epoch
    SeekOrder active;              // what the decoders seek in this epoch
    // A seek forward that goes on decoding from where the decoder stands.
    bool contPending = false;
    int contRequest = 0;
    double contTarget = 0;
    std::deque<VideoFrame> frames;
    bool videoEnded = false; // the decoder gave everything it had in this epoch
    bool firstFrame = false; // a frame was decoded since opening
    QSize surface {440, 240};
    bool playing = false;
    // The sound starts again at `audioStart` whenever `audioEpoch` changes.
    int audioEpoch = 0;
    double audioStart = 0;

    QString m_path;
    QByteArray m_url;
    int m_audioTrack = -1;
    std::function<void()> m_notify;
    std::thread m_reader;
    std::thread m_video;

    // Video thread only.
    TFramePicker m_picker;
    int m_decSerial = -1;
    SeekOrder m_order;
    int m_request = 0;
    bool m_contSearch = false; // searching on without a seek
    AVFrame* m_held = nullptr; // the frame that may be the one a search wants
    double m_heldPts = 0;
    double m_heldDuration = 0;
    std::deque<VideoFrame> m_before;
    double m_lastPts = -1;
    int m_dropped = 0;
    bool m_gap = false;
    bool m_gaveFrame = false; // a frame went out in this epoch
    bool m_draining = false;  // the frames going out now are the stream's last
    int m_packetsWithoutFrame = 0;
    SwsContext* m_sws = nullptr;
};

QString FileName(const QString& path);

} // namespace vtmedia
