#pragma once
#include "app/VtError.h"
#include "preview/MediaEngine.h"
#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QTimer;

// Result codes of the player operations: success codes are 0 or positive, failures negative.
constexpr qint32 VT_S_OK = 0;
constexpr qint32 VT_S_FALSE = 1;
// A failure reported by the player: this base with the player's error class (TMediaError).
constexpr qint32 VT_E_PLAYER_BASE = qint32(0x80040200u);
// The media neither loaded nor failed within the waiting time.
constexpr qint32 VT_E_TIMEOUT = qint32(0x800705B4u);

inline bool VtFailed(qint32 code) { return code < 0; }

// A failure of the media player. The message is the player's own text followed by the
// code in upper-case hexadecimal: "x.mp4 cannot be played: ... ($80040202)."
class EDirectShowException : public EVeltraneError {
public:
    EDirectShowException(const QString& playerText, qint32 code)
        : EVeltraneError(FormatMessage(playerText, code)), m_code(code) {}
    qint32 code() const { return m_code; }
    static QString FormatMessage(const QString& playerText, qint32 code);

private:
    qint32 m_code;
};

// What the graph tells the components attached to it, in attachment order.
enum class TControlEvent { Play, Pause, Stop, Rendering, Rendered, Active };

// A component that receives the graph's control events (the video window, the track bar).
class TGraphComponent {
public:
    virtual ~TGraphComponent() = default;
    // param is 1 or 0 for Active (after activation / at the start of deactivation), else 0.
    virtual void ControlEvent(TControlEvent event, int param) = 0;
};

class TFilterGraph;

// A component that contributes a part of its own to the graph (the video window's surface).
class TGraphFilterComponent {
public:
    virtual ~TGraphFilterComponent() = default;
    virtual void FilterAdded(TFilterGraph* graph) = 0;    // starts showing the graph's frames
    virtual void FilterRemoving(TFilterGraph* graph) = 0; // stops
};

// Position and length of the loaded media, all in milliseconds.
class TMediaSeeking {
public:
    explicit TMediaSeeking(TFilterGraph* graph) : m_graph(graph) {}
    // false when there is no source or its length is not known.
    bool GetDuration(qint64& ms) const;
    bool GetCurrentPosition(qint64& ms) const;
    // Playback runs to the end of the media: the stop position is its length.
    bool GetStopPosition(qint64& ms) const;
    // Moves the current position to the frame shown at that time; the stop position stays.
    void SetPositions(qint64 currentMs);
    void SetRate(double rate);

private:
    QPointer<TFilterGraph> m_graph;
};

// The media graph behind the preview: the player engine, which the video window and the
// track bar are bound to. The engine is loaded when the graph becomes active, that is when
// the first source is opened.
class TFilterGraph : public QObject, private TMediaEngineClient {
    Q_OBJECT
public:
    explicit TFilterGraph(QObject* parent = nullptr);
    ~TFilterGraph() override;

    bool Active() const { return m_engine != nullptr; }
    // Raises EDirectShowException when the engine cannot be loaded.
    void SetActive(bool active);

    // Stops the player and drops its source; the attached components stay bound.
    void ResetGraph();
    // Starts opening the file and returns at once: SourceReady follows when its first frame
    // is ready, SourceFailed when it is refused or does not load in time. Returns VT_S_FALSE
    // without a graph; raises EDirectShowException for a path that names nothing.
    qint32 RenderSource(const QString& path);
    // Between RenderSource and SourceReady or SourceFailed.
    bool Loading() const { return m_load == Load::Loading; }
    // The last refusal: the player's own text and the code (0 when the last opening worked).
    QString FailureText() const { return m_loadErrorText; }
    qint32 FailureCode() const { return m_loadCode; }
    bool Play();
    bool Pause();
    bool Stop();
    qint32 SourceLength() const; // milliseconds; 0 without a graph or a known length

    // The attached components, in the order they were attached. A component may be both.
    void Attach(QObject* component);
    void Detach(QObject* component);
    void AttachFilter(QObject* component);
    void DetachFilter(QObject* component);

    // Null while the graph is inactive.
    TMediaSeeking* MediaSeeking() const { return m_seeking; }
    TMediaEngine* Engine() const { return m_engine; }

    // The player's state; Stopped while inactive or empty.
    TPlayState State() const;
    // The file rendered last (empty after ResetGraph).
    QString Source() const { return m_source; }
    // Linear volume 0..1; full unless changed.
    float Volume() const;
    // Whether sound reaches a device (the offscreen test machine has none).
    bool AudioOutputActive() const;
    // The component that shows the frames (the video window), or null.
    QObject* VideoOutput() const;
    // The frame on the surface, scaled to fit it; null before the first.
    QImage CurrentImage() const;
    // Frames are scaled on the decoding thread to fit this size (device pixels).
    void SetSurfaceSize(const QSize& size);
    // True while a seek or frame step has not reached the surface yet.
    bool SeekPending() const;

    // How long the player may take to load or refuse a file (0: no time at all).
    int LoadTimeoutMs = 60000;

    // ---- exact positions
    // Presentation time, in seconds, of the frame on the surface; -1 when none.
    double CurrentFrameTime() const;
    // Shows the frame whose display interval holds `seconds` (the last frame starting at or
    // before it); playing goes on from there, paused stays paused.
    void SeekExact(double seconds);
    // While paused: shows the next (+1) or previous (-1) frame. Does nothing while playing.
    void StepFrame(int direction);
    // Duration of one video frame in seconds; 0 when not known.
    double FrameDuration() const;
    // Where the picture stands once the seeks and steps asked for have arrived (the frame
    // shown when none is on its way); -1 without a source. Moves "from here" start from it.
    double Destination() const;

Q_SIGNALS:
    // A new frame is on the surface (-1: none any more).
    void FrameShown(double seconds);
    // The file RenderSource opens can be played: its length is known, its first frame shown.
    void SourceReady();
    // It cannot: message is the failure as the error box shows it ("x.mp4 cannot be played:
    // ... ($80040202).").
    void SourceFailed(const QString& message);

private:
    void SendControlEvent(TControlEvent event, int param = 0);
    void LoadFailed(const QString& text, qint32 code);
    bool Playable() const;

    void EngineOpened() override;
    void EngineOpenFailed(int error, const QString& text) override;
    void EngineFrame() override;
    void EngineFailed(int error, const QString& text) override;

    TMediaEngine* m_engine = nullptr;
    TMediaSeeking* m_seeking = nullptr;
    QList<QPointer<QObject>> m_components;
    QList<QPointer<QObject>> m_filterComponents;
    QString m_source;
    enum class Load { None, Loading, Loaded, Failed } m_load = Load::None;
    QString m_loadErrorText;
    qint32 m_loadCode = 0;
    QTimer* m_loadLimit = nullptr;
    QElapsedTimer m_loadClock; // since the opening began: an answer after the limit is too late
    bool m_failureReported = false;
};
