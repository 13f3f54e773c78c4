#pragma once
// The preview's player engine: FFmpeg's libraries decode on threads of their own, the
// sound goes out through the system's audio service and its clock drives the picture.
// It lives in a module of its own (veltrane-media.so), loaded when the first source is
// opened, so a program that shows no video never pays for the decoders.
#include <QImage>
#include <QSize>
#include <QString>

enum class TPlayState { Stopped, Paused, Playing };

// Failure classes, as the rest of the program reports them (added to the player base code).
enum TMediaError : int {
    meNone = 0,
    meResource = 1,     // the file is missing or cannot be read
    meFormat = 2,       // not a container or a stream the decoders know, or no frame decodes
    meAccessDenied = 4, // no permission to read it
};

// What the engine tells its owner. Always called on the thread that created the engine.
class TMediaEngineClient {
public:
    virtual ~TMediaEngineClient() = default;
    // Open() is decided: either the file is ready (its first frame is current when it has
    // a picture) or it failed with one of TMediaError and a text naming the cause.
    virtual void EngineOpened() = 0;
    virtual void EngineOpenFailed(int error, const QString& text) = 0;
    // The frame on the surface changed.
    virtual void EngineFrame() = 0;
    // Reading failed while playing (the file went away, a disk error).
    virtual void EngineFailed(int error, const QString& text) = 0;
};

class TMediaEngine {
public:
    virtual ~TMediaEngine() = default;
    virtual void SetClient(TMediaEngineClient* client) = 0;

    // Starts opening a file; the client hears EngineOpened or EngineOpenFailed.
    virtual void Open(const QString& path) = 0;
    // Ends every thread and forgets the source; nothing is told after it returns.
    virtual void Close() = 0;

    virtual qint64 DurationUs() const = 0; // -1 when not known
    virtual bool HasVideo() const = 0;
    virtual bool HasAudio() const = 0;

    virtual void Play() = 0;
    virtual void Pause() = 0;
    // Holds the picture and the position, as Pause does; Play goes on from there.
    virtual void Stop() = 0;
    virtual TPlayState State() const = 0;

    // Seconds from the start of the source: the clock while playing, else the frame shown
    // (or the position a seek is on its way to).
    virtual double Position() const = 0;
    // Shows the last frame that starts at or before `seconds`.
    virtual void Seek(double seconds) = 0;
    // While not playing: the next (+1) or previous (-1) frame.
    virtual void Step(int direction) = 0;
    // True while a seek or a step has not reached the surface yet.
    virtual bool Busy() const = 0;
    // Where the picture stands once the seeks and steps on their way have arrived: the
    // target of the last seek, moved by the steps asked for after it (a frame each); the
    // frame shown when nothing is on its way. -1 without a source. A command that moves on
    // from "here" starts from this, so quick commands add up instead of being lost.
    virtual double Destination() const = 0;

    virtual double FrameTime() const = 0;     // start of the frame shown, seconds; -1 none
    virtual double FrameDuration() const = 0; // 0 when not known
    virtual QImage Frame() const = 0;         // the frame shown, scaled for the surface
    // Frames are scaled to fit this size (in device pixels) on the decoding thread.
    virtual void SetSurfaceSize(const QSize& size) = 0;

    virtual void SetVolume(float linear) = 0; // 0..1
    virtual float Volume() const = 0;
    virtual void SetRate(double rate) = 0;
    virtual double Rate() const = 0;
    // Whether sound reaches an output device (false where the system has none).
    virtual bool AudioOutputActive() const = 0;

    // The picture's size as shown: upright (a turned phone video stands), with the shape of
    // its pixels; empty without a picture.
    virtual QSize DisplaySize() const = 0;
    // What the window should say about how the picture is shown (an HDR source is shown
    // without tone mapping); empty when nothing.
    virtual QString PictureNote() const = 0;
    // The source's sound tracks and the one that plays (0 the first; -1 when none). A
    // source opens with the track FFmpeg deems best; choosing another, once it is open,
    // goes on at the same place and state without a new EngineOpened.
    virtual int AudioTracks() const = 0;
    virtual int AudioTrack() const = 0;
    virtual void SetAudioTrack(int track) = 0;
};

// The module's one exported function.
using TCreateMediaEngine = TMediaEngine* (*)();
#define VT_MEDIA_ENGINE_ENTRY "VtCreateMediaEngine"
#define VT_MEDIA_MODULE_NAME "veltrane-media.so"

// Loads the module (once) and makes an engine; nullptr with a reason when it cannot.
TMediaEngine* CreateMediaEngine(QString* error);
