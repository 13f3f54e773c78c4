#pragma once
// Several stretches of one source, each cut on its own or all joined into one file, and the
// small files they are kept in: a project beside the job (JSON), a plain list of times (CSV)
// and chapters (FFmpeg's metadata file). Every file read here may come from anyone: reads
// are bounded and every value is checked before it is taken.
#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

#include "split/TrackList.h" // Chapter

struct Segment {
    double start = 0; // seconds from the source's start
    double end = 0;   // later than start
    QString name;     // may be empty
    bool operator==(const Segment&) const = default;
};

// Limits on what is kept and read, so that a hostile file cannot make the program spend
// memory or time without end.
constexpr int kMaxSegments = 10000;
constexpr int kMaxSegmentName = 200;      // characters
constexpr qint64 kMaxSegmentFile = 4 << 20; // bytes of a project or CSV file
constexpr double kMaxSegmentTime = 1e7;   // seconds (over 100 days)

// The segments of one source, in the order they are cut and joined.
class SegmentList {
public:
    const QList<Segment>& Items() const { return m_items; }
    int Count() const { return int(m_items.size()); }
    bool IsEmpty() const { return m_items.isEmpty(); }
    const Segment& At(int i) const { return m_items.at(i); }

    // Each refuses (false, nothing changed) an index out of range, times that are not a
    // range (not finite, negative, end not after start, beyond kMaxSegmentTime) and a list
    // that would grow past kMaxSegments. Names are cleaned (see CleanSegmentName).
    bool Add(const Segment& segment, int at = -1); // at -1: at the end
    bool Remove(int i);
    bool Move(int from, int to);
    bool Rename(int i, const QString& name);
    bool SetTimes(int i, double start, double end);
    void Clear() { m_items.clear(); }
    // All of them, or none when one is refused.
    bool Assign(const QList<Segment>& segments);

    bool operator==(const SegmentList&) const = default;

private:
    QList<Segment> m_items;
};

bool IsValidSegmentRange(double start, double end);
// Control characters dropped, blanks at the ends trimmed, at most kMaxSegmentName characters.
QString CleanSegmentName(const QString& name);

// ---- times

// Seconds ("90", "12.5") or HH:MM:SS[.fff] (also MM:SS[.fff]); "." as the decimal point.
std::optional<double> ParseSegmentTime(const QString& text);
// HH:MM:SS.mmm
QString FormatSegmentTime(double seconds);

// ---- CSV: start,end,name

struct SegmentReadResult {
    QList<Segment> segments;
    QString error; // empty on success; else what is wrong and on which line
};

// One row per segment, "start,end,name"; a first row whose start is no time is a header.
// Names with commas, quotes or line breaks in double quotes ("" for a quote). Blank lines
// are skipped. The whole file is refused at its first wrong row.
SegmentReadResult ParseSegmentCsv(const QByteArray& text);
QByteArray SegmentCsv(const QList<Segment>& segments);

// ---- project

enum class SegmentOutput { Separate, Joined };

// What the user keeps of one source to come back to.
struct SegmentProject {
    QString sourcePath;
    std::optional<double> markStart, markEnd; // the single marked range
    QList<Segment> segments;
    SegmentOutput output = SegmentOutput::Separate;
    bool chaptersAtJoins = false;
    QString profile; // the output profile's name; may be empty
    bool operator==(const SegmentProject&) const = default;
};

QByteArray SegmentProjectJson(const SegmentProject& project);
struct SegmentProjectRead {
    std::optional<SegmentProject> project;
    QString error;
};
SegmentProjectRead ParseSegmentProject(const QByteArray& json);

// Reads a file of at most kMaxSegmentFile bytes (a larger one, a folder or a device is
// refused with a reason).
std::optional<QByteArray> ReadSegmentFile(const QString& path, QString* error);
// Writes whole or not at all.
bool WriteSegmentFile(const QString& path, const QByteArray& content, QString* error);

// ---- chapters

// FFmpeg's metadata file (";FFMETADATA1") with the chapters, times in milliseconds.
QByteArray ChapterMetadata(const QList<Chapter>& chapters);
// The segments as chapters of the source (their own times).
QList<Chapter> SegmentChapters(const QList<Segment>& segments);
// Chapters of a joined file: one per segment, each beginning where the one before ended;
// lengths[i] is segment i's length in the joined file.
QList<Chapter> JoinChapters(const QList<Segment>& segments, const QList<double>& lengths);

// ---- output names

// A segment's name as a file name: no separators, no characters other systems refuse
// (\ / : * ? " < > |), no % (several formats read it as a pattern), no control characters,
// no leading dots or trailing dots and blanks, at most 120 characters. Empty when nothing
// usable is left.
QString SegmentFileName(const QString& name);
// The file names (without folder and extension) of separate segment files:
// "<base>_<name>" for named segments, "<base>_Clip<N>" for the others, made unique.
QStringList SegmentOutputNames(const QString& baseName, const QList<Segment>& segments);
// The name of the joined file (without folder and extension).
QString JoinedOutputName(const QString& baseName);
