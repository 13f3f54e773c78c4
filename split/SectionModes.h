#pragma once
// Ways of dividing the marked range besides N equal sections: sections of a given length,
// sections no larger than a given size, sections at the source's chapters, and sections at
// points the user chose. Pure logic; the source is read by the caller (SourceProbe,
// TrackList) and handed in as plain values.
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <optional>

#include "split/TrackList.h"

enum class SectionMode {
    Equal,    // N equal sections (or the one range out)
    Length,   // sections of a given length, the last one shorter
    Size,     // sections no larger than a given number of bytes
    Chapters, // one section per chapter of the source inside the range
    Points,   // sections between points the user chose
};

// What the user asked for beyond the range itself.
struct SectionRequest {
    SectionMode mode = SectionMode::Equal;
    double every = 0;      // Length: seconds
    qint64 maxBytes = 0;   // Size
    QList<double> points = {}; // Points: seconds from the source's start, in any order
};

// "25M", "4G", "700MB", "1.5 GiB", "4G-1", "123456" (bytes). K, M, G, T count in 1024s
// (a 4 GB FAT32 limit is 4G-1); an optional "-N" takes N bytes off. Nothing for any other text
// or a size under 1 KiB.
std::optional<qint64> ParseByteSize(const QString& text);
// Bytes for people: "25 MiB", "3.99 GiB", "812 KiB".
QString FormatByteSize(qint64 bytes);

// "1:30,2:45.5,600": times (HH:MM:SS[.mmm], MM:SS or seconds) separated by commas. Nothing
// for a list with an entry that is no time; the reason in error.
std::optional<QList<double>> ParseTimeList(const QString& text, QString* error = nullptr);

// The boundaries of sections between start and end at the given points: start, the points
// strictly inside (sorted, a point within a millisecond of another or of an end dropped), end.
QList<double> BoundariesAtPoints(double start, double end, const QList<double>& points);

// Boundaries at the chapters' starts inside start..end, with each section's chapter title
// (the title of the chapter its start lies in; empty before the first chapter).
struct ChapterSections {
    QList<double> bounds;
    QStringList titles;
};
ChapterSections BoundariesAtChapters(double start, double end, const QList<Chapter>& chapters);

// ---- sections no larger than a size

// One packet of the source with its size, as ffprobe lists it; times in seconds from the
// source's start.
struct SizedPacket {
    double time = 0; // presentation time (decode time when it has none)
    qint64 bytes = 0;
    bool key = false; // a key frame of the stream the cuts go by
};

// How a written section's size relates to its packets: the container adds a little for each
// packet and a little once.
struct SizeModel {
    double perPacket = 32;   // bytes the container adds per packet
    double fixed = 65536;    // bytes it adds once (headers, index)
    double scale = 1.0;      // grows when a written section turned out larger than estimated
    // Re-encoded sections: bytes per second of output (the profile's bit rates, else the
    // source's); 0 when unknown.
    double bytesPerSecond = 0;
};

// The estimate for the packets in [from, to).
double EstimateBytes(const QList<SizedPacket>& packets, double from, double to, const SizeModel& model);

// A size limit with what its sections were planned from, so that a section written larger
// than estimated can be cut again shorter.
struct SizeLimit {
    qint64 maxBytes = 0;
    SizeModel model;
    bool keyFrames = false; // copied: sections end on key frames (or copied packets)
    QList<SizedPacket> packets;
};

struct SizePlan {
    QList<double> bounds; // count + 1 boundaries from start to end
    QString problem;      // why no plan could be made (empty when it was)
};

// Sections from start to end, each estimated at no more than maxBytes.
// keyFrames: copied video, each section ends at the last key frame that keeps it under the
// limit (packets sorted by time; the key flags mark the cut stream's key frames). Otherwise
// the sections are of equal length, worked out from the model's bytes per second.
SizePlan PlanSizeLimitedSections(const QList<SizedPacket>& packets, double start, double end, qint64 maxBytes,
                                 bool keyFrames, const SizeModel& model);

// A written section of `written` bytes exceeded the limit: the model grows so that the same
// stretch would now be estimated at that size, with a margin (estimated: what the model
// said for it; seconds: its length).
void LearnFromOversizedSection(SizeModel& model, double estimated, qint64 written, double seconds, qint64 maxBytes);

// The bytes per second a profile asks for with -b:v/-vb and -b:a/-ab (k and M count in
// 1000s as ffmpeg reads them); 0 when it names no video bit rate.
double ProfileBytesPerSecond(const QString& switches);

class JobPlan;
struct SplitJobOrder;

// Gives the plan of a job whose sections wait for the source (its chapters or its sizes) its
// boundaries and names, reading the source with ffprobe. False with the reason in error
// (no chapters inside the range, a group of pictures larger than the limit, ffprobe missing).
bool ResolveSections(SplitJobOrder& order, QString* error, const std::atomic<bool>* cancel = nullptr);

// Gives a plan that passed the job's checks the sections the request asks for: of a length,
// between points, or left to be placed on the source (chapters, size); then names them.
// False with the reason in error (a length under a millisecond, too many sections to name).
bool ApplySectionRequest(JobPlan& plan, const SectionRequest& request, QString* error = nullptr);

// Gives the plan sections between the boundaries (count + 1 of them) and names them.
void ApplyBounds(JobPlan& plan, const QList<double>& bounds, const QStringList& titles = QStringList());
// The most sections a name template names; more are refused.
constexpr qint32 kMostNamedSections = 100000;
// Names the plan's sections from its template (none for the default one). False when there
// are more sections than a template may name.
bool NamePlanSections(JobPlan& plan);
