#pragma once
#include "split/JobPlan.h"
#include "split/SourceProbe.h"

#include <QObject>
#include <QPointer>
#include <QHash>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>

class QThread;

class EncoderRun;
class PartialOutput;

// Runs the sections of a planned job one after another, each by one run of the encoder
// program, and reports what happens. Each output is written under a temporary name and put
// in place only when the encoder succeeded (see PartialOutput).
//
// Before the first section the job looks its cut points up in the source (LookUpCuts, on a
// thread of its own so the caller's loop goes on), unless the plan already holds them; a
// section with nothing of the source in it is not written.
//
// Event driven: Start() returns at once and the job goes on while the caller's event loop
// runs; the signals come from that loop, or from Cancel() itself. Nothing the job started
// is left running once it has ended, been cancelled or been destroyed.
class SplitJob : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        None,           // not started yet, or still running
        Completed,      // every section done or skipped
        Cancelled,      // Cancel()
        Declined,       // the overwrite question answered Stop
        Failed,         // a section failed: FailedSection(), FailureReason()
        EncoderMissing, // the encoder program could not be started
        Refused,        // an output name is the source or a link to it: FailureReason()
    };
    Q_ENUM(Outcome)

    // What to do about an output name at which something already stands.
    enum class Overwrite { Replace, Skip, Stop };
    using OverwriteQuestion = std::function<Overwrite(const JobSection& section)>;

    explicit SplitJob(const SplitJobOrder& order, QObject* parent = nullptr);
    ~SplitJob() override; // ends a running job as Cancel() does, but without signals

    // Asked right before a section would run, when its output name is taken (a symbolic
    // link that leads nowhere counts). May show a dialog. Without one, the file is kept
    // and the section skipped.
    void SetOverwriteQuestion(OverwriteQuestion question);
    // The caller counts the seconds by calling Tick() (the window keeps its own timer);
    // otherwise the job runs a one-second timer of its own from Start() to its end.
    void UseExternalClock();

    // Starts the job; the first section begins once the event loop runs.
    void Start();
    // Stops the job at once: the encoder and what it started are ended and gone, the
    // partial output is removed, and cancelled() and ended() are emitted before it returns.
    void Cancel();
    // One second of the job: elapsed and remaining times move on (see clock()). Seconds
    // while the job is paused or waits for the overwrite question are not counted.
    void Tick();
    // Holds the job while the user is asked whether to stop it: the encoder and what it
    // started are stopped where they are (their files stay open), and the job neither
    // ends, nor moves on to the next section, nor counts seconds until Resume(). Cancel()
    // ends a paused job as any other.
    void Pause();
    void Resume();

    bool IsRunning() const { return m_state == State::Running; }
    bool IsPaused() const { return m_paused; }
    Outcome Result() const { return m_result; }
    const SplitJobOrder& Order() const { return m_order; }
    // The encoder of the running section (nothing between sections) and its command line.
    EncoderRun* CurrentRun() const;
    QString CurrentCommandLine() const { return m_commandLine; }
    int CurrentPosition() const { return m_current; }
    int TotalPosition() const { return m_total; }
    qint64 Elapsed() const { return m_elapsed; }
    // After Failed or Refused.
    JobSection FailedSection() const { return m_failedSection; }
    QString FailureReason() const { return m_reason; }
    // After Refused: the check that refused the job, with its caption.
    std::optional<JobCheckFailure> Refusal() const { return m_refusal; }
    // How the cut points were looked up: time taken, runs of ffprobe, or why the points
    // stayed as planned. Set once the sections begin.
    const CutLookupReport& Lookup() const { return m_lookupReport; }
    // What the encoder noted for the user, by section (e.g. copied video it had to cut on key
    // frames instead of exact ones).
    const QList<EncoderNote>& EncoderNotesOfJob() const { return m_encoderNotes; }
    // What the completion tells about the cuts: CutNotes and the encoder's notes.
    QStringList CompletionNotes() const;

Q_SIGNALS:
    // The job looks its cut points up in the source; cutsPlaced() follows (with the points
    // as planned when they could not be looked up).
    void lookingUpCuts();
    void cutsPlaced(const CutPlan& cuts);
    // A section is about to be encoded (after any overwrite question). commandLine: what
    // the encoder is started with, as one text; empty when its file could not be made.
    void sectionStarted(const JobSection& section, const QString& commandLine);
    // After each read of the encoder's output, once with the current bar at 0 when a
    // section starts, and after a section with nothing in it (the total moves past it): the
    // bars' positions (0..100) and the section's last reported time.
    void progress(int currentPosition, int totalPosition, double sectionTime);
    // Once per second while the job runs: the seconds counted and the seconds left, worked
    // out from the total bar's position.
    void clock(qint64 elapsedSeconds, qint64 remainingSeconds);
    // The section's output is complete and in place.
    void sectionDone(const JobSection& section);
    // The overwrite question said Skip: the file at the output name stays as it was.
    void sectionSkipped(const JobSection& section);
    // Nothing of the source lies in the section (it starts where the source has ended, two
    // key-frame cuts fell on the same frame, or the encoder found nothing between the key
    // frames it had to cut on): no file is written for it.
    void sectionEmpty(const JobSection& section);
    // The section failed: the encoder's last line of text, or what went wrong. Its partial
    // output is gone, and a file it was to replace is kept. ended(Failed) follows.
    void sectionFailed(const JobSection& section, const QString& reason);
    void finished();  // every section done or skipped; ended(Completed) follows
    void cancelled(); // Cancel(); ended(Cancelled) follows
    // Always the last signal of a job, once.
    void ended(SplitJob::Outcome outcome);

private:
    enum class State { Idle, Running, Ended };

    void Begin();
    void StartLookup();
    bool RecutShorter(qint64 written);
    void OnCutsFound(const CutLookupReport& report);
    void StopLookup();
    void NextSection();
    void RunSection(const JobSection& section, bool replace);
    void OnActivity();
    void EndSection();
    void FailSection(const QString& reason);
    void Finish(Outcome outcome);
    void DropRun();

    SplitJobOrder m_order;
    OverwriteQuestion m_question;
    State m_state = State::Idle;
    Outcome m_result = Outcome::None;
    QTimer m_timer;
    bool m_externalClock = false;
    bool m_paused = false;
    bool m_asking = false;         // the overwrite question is open
    bool m_pendingNext = false;    // the next section waits for Resume()
    bool m_pendingActivity = false; // the encoder's output or end waits for Resume()

    qint64 m_next = 1; // the section to look at next; wide enough to step past the largest count
    JobSection m_section;
    bool m_replace = false;
    QPointer<EncoderRun> m_run;
    bool m_runStarted = false;
    std::unique_ptr<PartialOutput> m_part;
    SectionProgress m_progress;
    QString m_commandLine;

    int m_current = 0;
    int m_total = 0;
    qint64 m_elapsed = 0;
    JobSection m_failedSection;
    QString m_reason;
    std::optional<JobCheckFailure> m_refusal;

    QThread* m_lookup = nullptr;
    std::shared_ptr<std::atomic<bool>> m_stopLookup;
    CutLookupReport m_lookupReport;
    QHash<qint32, int> m_recuts; // how often each section was cut again shorter
    QList<EncoderNote> m_encoderNotes;
};
