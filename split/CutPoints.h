#pragma once
// Where the sections of a job really begin and end.
//
// The marked range and its equal points are times; a cut can only fall where the source
// allows it. A re-encoded section starts on a frame: a frame belongs to the section whose
// [start, end) holds its presentation time, and a point within half a millisecond of a
// frame time counts as that frame time, so a typed 00:00:10.077 catches the frame at
// 10.0767. A stream-copied section can only start on a key frame: each inner point moves to
// the key frame nearest to it, and the first to the key frame at or before the marked start,
// so everything marked is inside. A point beyond the end of the source becomes that end, and
// a section with nothing in it is not written.
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// ---- what a profile does with the streams

// What the switches of a profile do to the video and audio streams: copied as they are,
// or left out. When several switches name the same stream, the last one counts, as in
// ffmpeg.
struct ProfileStreams {
    bool videoCopied = false; // -c copy, -c:v copy, -codec:v copy, -vcodec copy; cut on key frames
    bool audioCopied = false; // -c copy, -c:a copy, -codec:a copy, -acodec copy
    bool videoOff = false;    // -vn
    bool audioOff = false;    // -an
    // Copied video cut on its exact frames (-cut_points exact): the encoder encodes again what
    // lies before the first key frame, so the cuts fall on frames as when re-encoding, and
    // videoCopied is false.
    bool exactCuts = false;
};
ProfileStreams AnalyseProfileSwitches(const QString& switches);

// A stream-copy profile: its cuts can only fall on key frames (the video is copied) or, with
// the video left out, on the audio's own packets. One that cuts copied video on exact
// frames is none.
bool IsStreamCopyProfile(const QString& switches);

// ---- what the source holds near the points

// One packet of the source as ffprobe lists it; times in seconds from the source's start
// (the format's start time), the scale -ss counts in.
struct ProbePacket {
    int stream = -1;
    double pts = 0;
    double dts = 0;
    double duration = 0;
    bool key = false;
    bool discard = false; // never shown (e.g. before an edit list's start)
    bool hasDts = true;   // false: the file stores none here (Matroska), dts is the pts
};

struct ProbeStream {
    int index = -1;
    QString type; // "video", "audio", ...
    qint64 timeBaseNum = 0;
    qint64 timeBaseDen = 0;
    bool attachedPicture = false;
    qint64 area = 0; // width x height
    int reorder = 0; // frames decoded ahead of their showing (has_b_frames)
    QString codec;   // ffprobe's codec_name ("h264", "hevc"); empty when not listed
    double Tick() const { return timeBaseDen > 0 ? double(timeBaseNum) / double(timeBaseDen) : 0.0; }
};

// A stretch of the source that was read whole: every packet whose presentation time lies in
// [from, to] is known, and so is the last key frame at or before `from`. A stretch that
// reached the end of the file has no `to`.
struct ReadSpan {
    double from = 0;
    std::optional<double> to;
};

struct ProbeData {
    double formatStart = 0;             // the format's start time, absolute
    std::optional<double> formatLength; // the format's duration
    QString formatName;                 // ffprobe's, e.g. "mov,mp4,m4a,3gp,3g2,mj2", "matroska,webm"
    QList<ProbeStream> streams;
    QList<ProbePacket> packets; // in any order, no two alike
    QList<ReadSpan> spans;
};

// ---- the cut points

enum class CutKind {
    Times,     // at the times themselves (re-encoded audio without video; no lookup)
    Frames,    // on frames (re-encoded video), or on packets of copied audio without video
    KeyFrames, // on key frames (copied video)
};

struct CutPoint {
    double time = 0;           // where the section boundary lies
    bool sourceEnd = false;    // the source ends here, before the planned point
    double margin = 0;         // Frames: how far before `time` a section ending here stops
    std::optional<double> dts; // KeyFrames: decode time of the key frame's packet
    double dtsMargin = 0;      // KeyFrames: how far before `dts` copied video stops
    bool dtsStored = false;    // KeyFrames: the source stores `dts` (else it is worked out)
    // KeyFrames, where `dts` is stored: the key frame opens a group whose first pictures are
    // shown before it but decoded after it (open GOPs, RASL and RADL pictures); the decode
    // time of the first picture after those.
    std::optional<double> leadingEndDts;
    // KeyFrames, where the decode order is known: the earliest picture shown of the key
    // frame's group, when it opens with pictures shown before the key frame.
    std::optional<double> leadingFrom;
    // KeyFrames: the key frame is a recovery point of an intra-refresh stream, its pictures
    // whole only a refresh later; the key frame before it, whose refresh is whole by then.
    std::optional<double> refreshFrom;
    // KeyFrames: the section starting here cannot begin as a copy (see OpenStarts.h): its
    // video is cut exactly at `time`, encoded again up to keyFrame and copied from there.
    bool exactStart = false;
    std::optional<double> keyFrame;
    // Frames, on video: where decoding must begin for the section starting here to open on
    // clean pictures: the key frame before the last one at or before `time` (a key frame of
    // an intra-refresh stream only starts a refresh, and an open GOP's key frame leaves the
    // pictures shown just before it undecodable). None: no key frame lies within reach.
    std::optional<double> decodeFrom;
};

struct CutPlan {
    CutKind kind = CutKind::Times;
    bool copies = false;     // some stream is copied: nothing before a cut goes with it
    bool probed = false;     // the points were placed on the source (else: as planned)
    QList<CutPoint> points;  // count + 1 boundaries, in order
    std::optional<double> sourceEnd;
    QList<double> planned;   // the points as marked and divided, for reports
};

// The cut stream of a probe: the first video stream that is no attached picture, unless
// the profile leaves the video out; else the first audio stream. -1 when there is none.
int CutStream(const ProbeData& probe, const ProfileStreams& profile);
CutKind KindOfCut(const ProbeData& probe, const ProfileStreams& profile);

// A point and a frame time this close count as one.
constexpr double kSameTime = 0.0005;
// How far before a re-encoded section's start the look-up searches for key frames to decode from.
constexpr double kDecodeReach = 20.0;

// The result of one look at the probe: the plan when every point is settled; otherwise the
// stretches still to read (from, to; to empty: up to the end of the file).
struct CutLookup {
    std::optional<CutPlan> plan;
    QList<ReadSpan> toRead;
};
// Places the planned points (start, inner points, end) on the source as far as the probe
// covers them.
CutLookup PlaceCuts(const QList<double>& planned, CutKind kind, bool copies, const ProbeData& probe,
                    int stream);

// The planned points without a look at the source: full precision, nothing moved.
CutPlan UnprobedCuts(const QList<double>& planned, CutKind kind, bool copies);

// The stretches to read first around the planned points.
QList<ReadSpan> FirstReads(const QList<double>& planned, CutKind kind);

// ---- reports

// A time as HH:MM:SS.mmm, to the nearest millisecond.
QString FormatCutTime(double seconds);

// What the user should know about the cuts after a job: where key-frame cuts fell, sections
// that were not written and why, a source that ended before the marked end. Empty when the
// cuts lie where they were marked.
QStringList CutNotes(const CutPlan& cuts);

// A note of the encoder for one section. The encoder says "cut on key frames from
// HH:MM:SS.mmm to HH:MM:SS.mmm: <why>" when it could not cut copied video on exact frames
// (both times equal: nothing lay between the key frames, and it wrote nothing).
struct EncoderNote {
    qint32 section = 0;
    QString text;
};
// Whether a note says that the encoder wrote nothing for its section.
bool NoteSaysNothingWritten(const QString& text);
// The notes as the completion shows them, sections with the same reason together.
QStringList EncoderNotes(const QList<EncoderNote>& notes, qint32 sectionCount);
