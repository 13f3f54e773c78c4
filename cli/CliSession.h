#pragma once
#include "app/AppPaths.h"
#include "cli/CliOptions.h"
#include "cli/CliReport.h"
#include "prefs/PreferencesStore.h"
#include "split/JobPlan.h"
#include "segments/SegmentJob.h"
#include "split/SplitJob.h"

#include <QObject>
#include <QElapsedTimer>
#include <QPointer>
#include <optional>
#include <stdexcept>

// Input that refuses the whole call (exit status 2); the message names the argument or file.
class CliInputError : public std::runtime_error {
public:
    explicit CliInputError(const QString& message) : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString& message() const { return m_message; }

private:
    QString m_message;
};

// One call of veltrane-cli: reads the program's preferences and profiles, plans a job per
// source through the job runner's own functions, and runs the jobs one after another (or
// prints their plans).
class CliSession : public QObject {
    Q_OBJECT
public:
    // interruptFd: readable once SIGINT, SIGTERM or SIGHUP came (-1: none).
    CliSession(const CliOptions& options, int interruptFd);
    // Plans and runs the call from the application's event loop, which it then leaves
    // with the exit status: 0 all done, 1 a section failed, 2 bad arguments or input,
    // 130 interrupted.
    void Start();
    // Stops at once: the running encoder ends, its partial output goes, nothing else starts.
    void Interrupt();

private:
    struct SourcePlan {
        QString source;     // as given
        double length = 0;  // seconds
        std::optional<SplitJobOrder> order; // set when it passed every check
        QString refusal;
    };

    void Prepare();
    bool InterruptPending() const; // a stop signal came that was not read yet
    void ChooseProfile();
    SourcePlan PlanSource(const QString& source);
    int ListTracks(); // --list-tracks
    void RefuseClashes(QList<SourcePlan>& plans);
    std::optional<double> ProbeLength(const QString& path, QString* error);
    QString DescribeFailure(const JobCheckFailure& failure, const SourcePlan& plan, const QString& outputDir) const;
    // Everything before the first job; a status when the call ends there.
    std::optional<int> PlanAll();
    // The next source's job, or the summary and the end of the loop when none is left.
    void RunNext();
    void StartSource(int index, int count, const SplitJobOrder& order);
    void SourceEnded();
    void SourceDone(const SourceResult& r);
    // Segments of the source, apart or joined, instead of its sections.
    void StartSegments(int index, int count, const SplitJobOrder& order);
    void SegmentsEnded();
    SegmentJobOrder SegmentOrder(const SplitJobOrder& order) const;
    SplitJob::Overwrite DecideOverwrite(const JobSection& section);
    SplitJob::Overwrite AskOverwrite(const JobSection& section);
    int ExitStatus(const QList<SourceResult>& results) const;

    CliOptions m_options;
    int m_interruptFd;
    CliReport m_report;
    AppPaths m_paths;
    PreferenceValues m_prefs;
    QString m_ffprobe;
    QString m_profileName;
    QString m_profilePath;
    QString m_extension;
    QString m_switches;

    bool m_interrupted = false;
    bool m_replaceAll = false;
    bool m_noMoreAnswers = false;
    QPointer<SplitJob> m_job;
    QList<SourcePlan> m_plans;
    QList<SourceResult> m_results;
    SourceResult m_running; // the source whose job runs
    int m_current = -1;     // its place in m_plans
    bool m_stop = false;    // no further source runs
    QPointer<SegmentJob> m_segmentJob;
    QElapsedTimer m_segmentClock;
};
