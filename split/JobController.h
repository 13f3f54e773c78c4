#pragma once
#include "split/SplitJob.h"

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

// The window's side of a split job, without a widget: it owns the running SplitJob, knows
// what state the job is in, and says in its signals what the progress panel shows. The
// window starts, pauses, resumes and cancels through it and never waits for the job: the
// end comes as ended().
//
// A question put to the user while the job runs (cancel? close?) is asked between Pause()
// and Resume() or Cancel(): meanwhile the encoder is stopped where it is, so the job cannot
// end behind the question's back, and the seconds the user takes are not counted.
class JobController : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,    // no job, or the last one has ended
        Running, // a job is under way
        Paused,  // held while the user is asked something
    };
    Q_ENUM(State)

    // Asked when a section's output name is taken and the preferences do not say to
    // replace it: true replaces the file.
    using ReplaceQuestion = std::function<bool(const JobSection& section)>;

    explicit JobController(QObject* parent = nullptr);
    ~JobController() override; // a running job ends as by Cancel(), without signals

    State CurrentState() const { return m_state; }
    bool IsActive() const { return m_state != State::Idle; }

    // Starts a job on `order` unless one is under way. alwaysReplace: an existing output
    // is replaced without asking; otherwise `ask` decides (No skips the section of an
    // equal split, and ends a one-section job).
    bool Start(const SplitJobOrder& order, bool alwaysReplace, ReplaceQuestion ask);
    void Pause();
    void Resume();
    // Ends the job at once; ended(Cancelled) comes before this returns.
    void Cancel();
    // One second of working time (from the window's process timer).
    void Tick();

    // The running job, or the one that ended last (its result and reports stay readable
    // until the next Start).
    SplitJob* Job() const { return m_job.get(); }
    // What the completion message adds: where the cuts fell, what the encoder noted.
    QStringList CompletionNotes() const;
    // Outputs the last job put in place (skipped and empty sections are not counted).
    int FilesWritten() const { return m_written; }

Q_SIGNALS:
    void stateChanged(JobController::State state);
    // What the panel says is being done ("Finding the cut points...", the section).
    void processing(const QString& text);
    // A section's encoder started (run and its command line) or went (nullptr).
    void runChanged(EncoderRun* run, const QString& commandLine);
    // The two bars, 0..100.
    void progress(int currentPosition, int totalPosition);
    // Seconds worked and seconds left.
    void clock(qint64 elapsedSeconds, qint64 remainingSeconds);
    // The job is over; CurrentState() is Idle again. On Completed the panel has already
    // been told the finished state: both bars at 100, nothing left to do.
    void ended(SplitJob::Outcome outcome);

private:
    void SetState(State state);
    QString SectionText(const JobSection& section) const;
    void OnEnded(SplitJob::Outcome outcome);

    State m_state = State::Idle;
    std::unique_ptr<SplitJob> m_job;
    int m_written = 0;
};

// The completion message: "Splitting is completed successfully.", then how many files were
// written to which folder (as the user typed it, with this system's separators), then the
// notes on where the cuts fell.
QString CompletionText(int filesWritten, const QString& outputFolder, const QStringList& notes);
