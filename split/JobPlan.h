#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "split/CutPoints.h"
#include "split/SectionModes.h"
#include "split/TrackList.h"

// What a press of Start reads from the main window, as plain values.
struct JobInputs {
    QString sourcePath;     // edtSource
    QString startText;      // edtStart
    QString endText;        // edtEnd
    bool equalSections = false; // rdbEqual checked
    QString quantityText;   // edtSectionQty (read only in the equal-sections mode)
    QString profilePath;    // the selected profile's file
    QString outputDirText;  // edtOutputDir
    qint64 sourceLengthMs = 0; // length of the media in the player
    QChar decimalSeparator; // for the time codes; null: the user's
    // Exact times of the marks in seconds; when set they stand for the texts above.
    std::optional<double> startSeconds;
    std::optional<double> endSeconds;
};

// The field that gets the focus after a failed check.
enum class JobFocus { None, Source, SectionQty, Profile, OutputDir };

struct JobCheckFailure {
    int number = 0; // 1..8, in the order the checks run
    QString caption;
    QString message;
    JobFocus focus = JobFocus::None;
};

// One planned section.
struct JobSection {
    int number = 0; // from 1
    double start = 0;
    double length = 0; // what the encoder is given: a little short of the next frame when cut on frames
    QString outputPath;
    double end = 0;     // where the section really ends (start + length, without that margin)
    bool empty = false; // nothing of the source lies in it: it is not written
    // Copied video stops before the packet whose decode time, counted from start, reaches
    // this: the next section's key frame, decoded before frames that show earlier.
    std::optional<double> videoEndDts;
    bool videoDtsStored = false; // the source stores that decode time, and the output its time base
    // The copied video carries the next key frame and the pictures shown before it but decoded
    // after it; the output shows it up to here (seconds from start), the key frame not.
    std::optional<double> videoShownUntil;
    // Re-encoded video is decoded from here (seconds from the source's start, before start):
    // a clean place to begin, what lies before start dropped. Copied video (an intra refresh
    // into MP4) is copied from this key frame, what lies before start hidden by the edit list.
    std::optional<double> decodeFrom;
    // Copied video that cannot start as a copy at start (see OpenStarts.h): the encoder cuts
    // it exactly there, whatever the profile's cut points; where it cannot, the copy starts at
    // this key frame (seconds from the source's start) as a key-frame copy would.
    std::optional<double> exactStartKey;
    bool copies = false; // copied streams take nothing from before start
    bool followed = false; // another section of the job begins where this one ends
};

// The sections of a job that passed its checks.
class JobPlan {
public:
    double start = 0;
    double end = 0;
    bool equalSections = false;
    qint32 count = 0;          // N; 0 or less: nothing to run
    double sectionLength = 0;
    QString outputFolder;      // the field's text with a trailing separator
    QString baseName;          // the source's file name before its last "."
    QString extension;         // "." + the profile's "Type"
    bool lastEndsAtEnd = false; // sections of a fixed length: the last one ends at `end`
    // Sections between chosen points (chapters, split points, a size limit): count + 1
    // times from start to end. Empty: equal sections, or sections of sectionLength.
    QList<double> bounds;
    // The sections' file names (without the folder) from a name template; empty: NAME_ClipN.
    QStringList names;
    QStringList titles;        // the sections' names (chapter titles), for the template
    QString nameTemplate;      // empty: the default, NAME_ClipN
    QString profileName;       // for the template's {profile}
    // Sections that can only be placed once the source is read (its chapters, its packets'
    // sizes): see ResolveSections. Until then count is 0.
    std::optional<SectionRequest> pending;
    // No section may be larger than this (checked after each is written, and cut again
    // shorter when it is).
    std::optional<SizeLimit> sizeLimit;
    // Where the cuts really fall, once looked up in the source (see ResolveCuts); without
    // it the sections lie at the planned points.
    std::optional<CutPlan> cuts;
    // When set, section i's file name (without folder and extension) is outputNames[i - 1].
    QStringList outputNames;

    // Section i (1..count): start worked out in extended precision, stored as a double, or
    // the looked-up cuts. Every front end and the runner take their sections from here.
    JobSection Section(qint32 i) const;
    QString OutputPath(qint32 i) const;
    // The start of every output name that does not come from a template, for the sweep of
    // temporary files a killed job left; with named sections, the part all names share.
    QString NamePrefix() const;
    // The start, the points between equal sections and the end: count + 1 times (none
    // when count is 0 or less).
    QList<double> PlannedPoints() const;
};

// The plan of a job over start..end seconds: one section, or count equal ones, written to
// outputFolder (a separator is added when missing) and named after the source.
JobPlan MakeJobPlan(double start, double end, bool equalSections, qint32 count, const QString& sourcePath,
                    const QString& outputFolder, const QString& outputExtension);

// Sections of `every` seconds over start..end, the last one shorter where the range is
// no multiple of it; a remainder under a millisecond stays with the section before.
JobPlan MakeFixedLengthJobPlan(double start, double end, double every, const QString& sourcePath,
                               const QString& outputFolder, const QString& outputExtension);

// Runs the checks in order and returns the first that fails; nothing when all pass.
// On success, plan (when given) receives the sections to run. The last check refuses an
// output name that is the source itself or a link to it.
std::optional<JobCheckFailure> CheckJob(const JobInputs& in, const QString& outputExtension, JobPlan* plan = nullptr);

// That last check on its own, for a plan made without the window's inputs.
std::optional<JobCheckFailure> CheckOutputsAgainstSource(const JobPlan& plan, const QString& sourcePath);

// Everything a job needs to run, as plain values.
struct SplitJobOrder {
    QString sourcePath;
    JobPlan plan;
    QString profileSwitches; // as BuildProfileSwitches gives them
    QString encoderPath;
    TrackSelection tracks = {}; // which of the source's tracks to keep
    // The switches that keep them and what was left out, once the source's tracks are
    // known (see ResolveTracks); without it ffmpeg picks one stream of each kind.
    std::optional<TrackMapping> mapping = {};
};

// Lists the source's tracks with ffprobe and puts the mapping for the order's profile and
// output into order.mapping. False (the mapping left unset) when the source could not be
// listed; the reason in error.
bool ResolveTracks(SplitJobOrder& order, QString* error = nullptr, const std::atomic<bool>* cancel = nullptr);

// One section with what the encoder gets for it.
struct PlannedSection {
    JobSection section;
    QStringList arguments; // the encoder's arguments; the last one is the file it writes
    QString commandLine;   // the same as one text, as the program shows it
};

// Section i of a job. writtenPath: the file the encoder is to write; empty for the
// section's output path (the runner passes its temporary name).
PlannedSection PlanSection(const SplitJobOrder& order, qint32 i, const QString& writtenPath = QString());
// Every section of a job, in order.
QList<PlannedSection> PlanSections(const SplitJobOrder& order);
// What a section's cut adds to the encoder's arguments after -t: the decode time where
// copied video stops (an option of the encoder program, not of ffmpeg), and that copied
// streams take nothing from before the start. With copied video cut on exact frames
// (exactCuts), whether the next section begins at this one's end, so that a copy the
// encoder has to start on key frames after all ends where the next one starts.
QStringList SectionCutArguments(const JobSection& section, bool exactCuts = false);

// ---- progress

// The number behind the first "time" of one chunk of encoder output: skip the four
// letters and one separator character, take the text up to the next blank. Empty
// (nothing) when the chunk holds no "time", no blank follows, or the text is no number.
// The decimal point is always ".".
std::optional<double> ProgressValueOfChunk(const QByteArray& chunk);

// Values at or above this are never progress.
constexpr double kProgressLimit = 1000000000.0;

// Bar positions and the remaining time take the nearest whole number, a half going to
// the even one.
// A progress bar position: clamped to 0..100.
int ClampBarPosition(double position);
// pgbCurrent for the last reported time of a section (section length not 0).
int CurrentBarPosition(double lastTime, double sectionLength);
// pgbTotal from the current bar's position, the section number (from 1) and the count.
int TotalBarPosition(int currentPosition, qint64 sectionNumber, qint64 sectionCount);
// Remaining seconds after `elapsed` ticks with the total bar at `totalPosition`.
qint64 RemainingSeconds(qint64 elapsed, int totalPosition);

// Keeps the progress of one running section.
class SectionProgress {
public:
    explicit SectionProgress(double sectionLength = 0) : m_length(sectionLength) {}
    // Looks at one chunk; returns true when it moved the last reported time.
    bool Feed(const QByteArray& chunk);
    double LastTime() const { return m_last; }
    double Length() const { return m_length; }
    void Reset() { m_last = 0; }

private:
    double m_length;
    double m_last = 0;
};
