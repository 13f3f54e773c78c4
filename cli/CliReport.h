#pragma once
#include "split/JobPlan.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// How one source of a call ended.
struct SourceResult {
    enum class Outcome { NotRun, Invalid, Completed, Failed, Cancelled, EncoderMissing, Refused };
    QString source;
    Outcome outcome = Outcome::NotRun;
    qint32 sections = 0;
    int done = 0;
    int skipped = 0;
    int empty = 0;     // sections with nothing of the source in them: not written, no failure
    QString message;   // why it failed or was refused
    QStringList notes; // where the cuts really fell, what was not written and why
    qint64 elapsed = 0;
    QString outputFolder;
};

QString OutcomeName(SourceResult::Outcome outcome);

// A text a POSIX shell reads back as the same single word.
QString ShellQuote(const QString& word);

// Everything veltrane-cli tells: errors on standard error always; the plan, the sections'
// results and the summary on standard output; on a terminal a live progress line on
// standard error; with --progress json only JSON objects on standard output, one a line.
class CliReport {
public:
    enum class Mode { Quiet, Lines, Terminal, Json };
    explicit CliReport(Mode mode) : m_mode(mode) {}
    Mode GetMode() const { return m_mode; }

    void Error(const QString& message);
    void Warning(const QString& message);
    // A line of its own among the reports (not in quiet or JSON mode).
    void Line(const QString& text);
    // A source refused before anything ran for it.
    void Refused(const QString& source, const QString& message);
    // --list-tracks: the source's tracks and chapters (printed even with --quiet).
    void Tracks(const QString& source, const TrackList& list);

    // --dry-run: one source's plan. program: the encoder, first of each argument list.
    void Plan(const SplitJobOrder& order, double sourceLength, const QString& profile, const QList<PlannedSection>& sections);

    void SourceBegins(int index, int count, const SplitJobOrder& order, const QString& profile);
    // The job looks its cut points up in the source (a live line on a terminal).
    void LookingUpCuts();
    // The cut points as the job will cut them; problem: why they could not be looked up in
    // the source (they then lie at the marked times), empty when they were.
    void CutsPlaced(const QString& source, const CutPlan& cuts, const QString& problem);
    void SectionBegins(const JobSection& section);
    void Progress(int current, int total, double time);
    void Clock(qint64 elapsed, qint64 remaining);
    void SectionDone(const JobSection& section);
    void SectionSkipped(const JobSection& section);
    void SectionEmpty(const JobSection& section);
    void SectionFailed(const JobSection& section, const QString& reason);
    void SourceEnds(const SourceResult& result);
    void Summary(const QList<SourceResult>& results, int status);
    // Takes the live line off the terminal (before a question or a message).
    void ClearLine();

private:
    void Json(QJsonObject object);
    void Out(const QString& line);
    void ShowLine();
    void ShowLine(const QString& tail);

    Mode m_mode;
    bool m_lineShown = false;
    // The source and section being worked on, for the progress reports.
    QString m_source;
    QString m_name;
    int m_index = 0;
    int m_count = 0;
    qint32 m_sections = 0;
    JobSection m_section;
    int m_current = 0;
    int m_total = 0;
    double m_time = 0;
    qint64 m_elapsed = 0;
    qint64 m_remaining = 0;
    bool m_lookingUp = false;
};
