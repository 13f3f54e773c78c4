#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

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
};

// The field that gets the focus after a failed check.
enum class JobFocus { None, Source, SectionQty, Profile, OutputDir };

struct JobCheckFailure {
    int number = 0; // 1..7, in the order the checks run
    QString caption;
    QString message;
    JobFocus focus = JobFocus::None;
};

// One planned section.
struct JobSection {
    int number = 0; // from 1
    double start = 0;
    double length = 0;
    QString outputPath;
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

    // Section i (1..count): start worked out in extended precision, stored as a double.
    JobSection Section(qint32 i) const;
    QString OutputPath(qint32 i) const;
};

// Runs the seven checks in order and returns the first that fails; nothing when all pass.
// On success, plan (when given) receives the sections to run.
std::optional<JobCheckFailure> CheckJob(const JobInputs& in, const QString& outputExtension, JobPlan* plan = nullptr);

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
