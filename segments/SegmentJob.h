#pragma once
// Cuts the segments of one source, each as a job of its own (so each is cut exactly as a
// single marked range is: on frames, key frames or exact frames of copied video), into
// separate files or into pieces that the encoder program then joins into one file.
#include "segments/SegmentList.h"
#include "split/SplitJob.h"

#include <QObject>
#include <QPointer>
#include <QProcess>
#include <functional>
#include <memory>

class EncoderRun;
class JoinLock;
class PartialOutput;

struct SegmentJobOrder {
    SplitJobOrder base;        // source, profile switches, encoder, tracks; its plan is not used
    QString outputFolder;      // ends with a separator
    QString baseName;          // the source's name without extension
    QString extension;         // "." + the profile's type
    QList<Segment> segments;
    SegmentOutput output = SegmentOutput::Separate;
    bool chaptersAtJoins = false;
    QString nameTemplate;      // empty or the default: "<base>_<name>" / "<base>_Clip<N>", "<base>_Joined"
    QString profileName;       // the template's {profile}
};

// The order's files: one per segment, or the one joined file.
QStringList SegmentJobOutputs(const SegmentJobOrder& order);
// Their names without folder and extension. With a template of the user's, a separate file's
// {title} is its segment's name (made file-safe) and {n} its number; the joined file is
// number 1 with an empty {title} (it holds several segments, none of which names it), its
// {start} and {end} those of the first and last segment.
QStringList SegmentJobNames(const SegmentJobOrder& order);

// The sound switches of a profile that a join encodes the sound again with (codec, rate,
// sample rate, channels), or "-c:a copy" when the profile copies it; taken from the last
// switch of each kind, as ffmpeg does.
QStringList JoinSoundArguments(const QString& profileSwitches);

// The ffconcat list of pieces (plain names in the list's folder) with the length each one
// keeps: its time stamps run on from where the one before ended.
QByteArray JoinList(const QStringList& pieceNames, const QList<double>& lengths);

class SegmentJob : public QObject {
    Q_OBJECT
public:
    enum class Outcome { None, Completed, Cancelled, Failed, EncoderMissing, Refused };
    Q_ENUM(Outcome)

    explicit SegmentJob(const SegmentJobOrder& order, QObject* parent = nullptr);
    ~SegmentJob() override; // ends a running job as Cancel() does, without signals

    // Asked before a file is written over (separate files, or the joined file).
    void SetOverwriteQuestion(SplitJob::OverwriteQuestion question) { m_question = std::move(question); }

    void Start();
    void Cancel();
    // Holds the job where it is (the encoder stopped, no next step begun) until Resume().
    void Pause();
    void Resume();
    bool IsPaused() const { return m_paused; }

    Outcome Result() const { return m_result; }
    QString FailureReason() const { return m_reason; }
    // The files written, and the notes of the cuts (where key-frame cuts fell, ...).
    QStringList Written() const { return m_written; }
    QStringList Notes() const { return m_notes; }
    const SegmentJobOrder& Order() const { return m_order; }

Q_SIGNALS:
    // Segment i (from 1) of n begins; output: the file it is cut to (a piece when joining).
    void segmentStarted(int i, int n, const QString& output);
    // The current step (0..100) and the whole job (0..100).
    void progress(int current, int total);
    void joining(const QString& output);
    void ended(SegmentJob::Outcome outcome);

private:
    void NextSegment();
    void OnSegmentEnded(SplitJob::Outcome outcome);
    void MeasureNext();
    void Join();
    void OnJoinActivity();
    void Finish(Outcome outcome, const QString& reason = QString());
    void RemovePieces();

    SegmentJobOrder m_order;
    SplitJob::OverwriteQuestion m_question;
    QStringList m_names; // the file names (no folder, no extension) of the segment jobs
    QString m_token;     // what makes this job's piece names its own (the lock's token)
    std::unique_ptr<JoinLock> m_lock; // held while the pieces are this job's
    int m_next = 0;
    QPointer<SplitJob> m_job;
    QStringList m_pieces;      // pieces written, in order (paths)
    QList<Segment> m_joined;   // the segments the pieces hold
    QList<double> m_lengths;   // their lengths as measured
    std::unique_ptr<QProcess> m_probe;
    int m_measured = 0;
    bool m_replaceJoined = false;
    std::unique_ptr<EncoderRun> m_run;
    std::unique_ptr<PartialOutput> m_part;
    SectionProgress m_joinProgress;
    double m_joinLength = 0;
    Outcome m_result = Outcome::None;
    bool m_running = false;
    bool m_paused = false;
    std::function<void()> m_held; // the step that waits for Resume()
    QString m_reason;
    QStringList m_written;
    QStringList m_notes;
};

// A piece's length as its video (or, without video, its first stream) runs, from ffprobe's
// JSON listing of the packets of its last seconds; nothing when it holds none.
std::optional<double> PieceLengthFromProbe(const QByteArray& json);
