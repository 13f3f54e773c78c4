#pragma once
#include "app/VtError.h"
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QAudioOutput;
#include <QMediaPlayer>

// Result codes of the player operations: success codes are 0 or positive, failures negative.
constexpr qint32 VT_S_OK = 0;
constexpr qint32 VT_S_FALSE = 1;
// A failure reported by the media back end: this base with the back end's error number.
constexpr qint32 VT_E_PLAYER_BASE = qint32(0x80040200u);
// The media neither loaded nor failed within the waiting time.
constexpr qint32 VT_E_TIMEOUT = qint32(0x800705B4u);

inline bool VtFailed(qint32 code) { return code < 0; }

// A failure of the media player. The message is the player's own text followed by the
// code in upper-case hexadecimal: "Could not determine type of stream. ($80040201)."
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

// A component that contributes a part of its own to the graph (the video window's surface).
class TGraphFilterComponent {
public:
    virtual ~TGraphFilterComponent() = default;
    virtual void FilterAdding() {}
    virtual void FilterAdded(QMediaPlayer* player) = 0;   // becomes the player's video output
    virtual void FilterRemoving(QMediaPlayer* player) = 0; // stops being it
    virtual void FilterRemoved() {}
};

// Position and length of the loaded media, all in milliseconds.
class TMediaSeeking {
public:
    explicit TMediaSeeking(QMediaPlayer* player) : m_player(player) {}
    // false when there is no player or its length is not known.
    bool GetDuration(qint64& ms) const;
    bool GetCurrentPosition(qint64& ms) const;
    // Playback runs to the end of the media: the stop position is its length.
    bool GetStopPosition(qint64& ms) const;
    // Moves the current position; the stop position stays.
    void SetPositions(qint64 currentMs);
    void SetRate(double rate);
    // The container's own length, for sources whose length the back end never reports
    // (MPEG transport streams); 0 when the back end reports one.
    qint64 KnownLengthMs = 0;

private:
    QPointer<QMediaPlayer> m_player;
};

// The media graph behind the preview: one player with its audio output; the video window
// and the track bar are bound to it.
class TFilterGraph : public QObject {
    Q_OBJECT
public:
    explicit TFilterGraph(QObject* parent = nullptr);
    ~TFilterGraph() override;

    bool Active() const { return m_player != nullptr; }
    void SetActive(bool active);

    // Stops the player and drops its source; the attached components stay bound.
    void ResetGraph();
    // Loads the file and waits until it is ready or refused. Returns VT_S_FALSE without a
    // graph; raises EDirectShowException when the file cannot be played.
    qint32 RenderSource(const QString& path);
    bool Play();
    bool Pause();
    bool Stop();
    qint32 SourceLength() const; // milliseconds; 0 without a graph or a known length

    // The attached components, in the order they were attached. A component may be both.
    void Attach(QObject* component);
    void Detach(QObject* component);
    void AttachFilter(QObject* component);
    void DetachFilter(QObject* component);

    QMediaPlayer* Player() const { return m_player; }
    QAudioOutput* AudioOutput() const { return m_audio; }
    // Null while the graph is inactive.
    TMediaSeeking* MediaSeeking() const { return m_seeking; }

    // How long RenderSource waits for the player to load or refuse a file.
    int LoadTimeoutMs = 60000;

private:
    void SendControlEvent(TControlEvent event, int param = 0);
    void onPlayerError(int error, const QString& text);

    QMediaPlayer* m_player = nullptr;
    QAudioOutput* m_audio = nullptr;
    TMediaSeeking* m_seeking = nullptr;
    QList<QPointer<QObject>> m_components;
    QList<QPointer<QObject>> m_filterComponents;
    bool m_rendering = false;
    bool m_failureReported = false;
    int m_renderError = 0;
    QString m_renderErrorText;

    // ---- exact positions
public:
    // Presentation time, in seconds, of the frame on the surface; -1 when none.
    double CurrentFrameTime() const;
    // Shows the frame whose display interval holds `seconds` (the last frame starting at or
    // before it); playing goes on from there, paused stays paused.
    void SeekExact(double seconds);
    // While paused: shows the next (+1) or previous (-1) frame. Does nothing while playing.
    void StepFrame(int direction);
    // Duration of one video frame in seconds; 0 when not known.
    double FrameDuration() const;
};
