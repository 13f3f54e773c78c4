#pragma once
// Looking the cut points of a job up in its source with ffprobe. Only the stretches around
// the points are read, not the whole file: one run of ffprobe for an ordinary job, a second
// one only when a key frame lies far from its point or a point lies past the end.
#include "split/CutPoints.h"
#include "split/TrackList.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>

struct SplitJobOrder;

// ffprobe beside the encoder program first, then on PATH; empty when there is none.
QString FindFfprobe(const QString& encoderPath);

// One run of ffprobe over a source, the one way this program runs it: the arguments, then
// the source as a plain file ("file:", so that no name is taken for a protocol or an
// option); standard input empty; ended with the program, on cancel, or after limitMs. ok:
// it succeeded, and output holds what it printed; otherwise error says why, in a sentence.
struct FfprobeRun {
    bool ok = false;
    bool cancelled = false;
    QByteArray output;
    QString error;
};
FfprobeRun RunFfprobe(const QString& ffprobe, const QStringList& args, const QString& source,
                      const std::atomic<bool>* cancel = nullptr, int limitMs = 120000);

// Reads the given stretches of the source (seconds from its start) with ffprobe and adds
// the streams, the format and the packets it lists to probe, together with what was read.
// selection: an ffprobe stream specifier ("V", "a"); only those streams and their packets
// are listed (all when empty). With tracks, the same run also lists every track and chapter of
// the source there, as ProbeTracks does (selection is then ignored), which spares the job a
// second start of ffprobe. False when ffprobe could not be run or could not read the source
// (the reason in error), or was cancelled. With reader (see SourceReaderFor), the same is
// read inside the program, without starting ffprobe.
bool ReadSource(const QString& ffprobe, const QString& source, const QList<ReadSpan>& spans, ProbeData& probe,
                QString* error, const std::atomic<bool>* cancel = nullptr, const QString& selection = QString(),
                TrackList* tracks = nullptr, const QString& reader = QString());

struct CutLookupReport {
    CutPlan cuts;       // placed on the source, or as planned when that was not possible
    QString problem;    // why the points stay as planned; empty when they were placed
    qint64 elapsedMs = 0;
    int reads = 0;      // runs of ffprobe
    bool cancelled = false;
    bool tracksListed = false; // the tracks asked for were listed by the first run
};

// The planned points of a job (its start, its equal points, its end) placed on the source
// for the job's profile. Synchronous: the runner calls it from a thread of its own at the
// start of a job; a front end may call it to show the real sections before running any.
// Without ffprobe, or with a source it cannot read, the points stay as planned (full
// precision) and the report says why. With tracks, its first run of ffprobe also lists the
// source's tracks and chapters there (report.tracksListed; the cut points are the same either
// way); without, only the stream cut by is read.
CutLookupReport LookUpCuts(const SplitJobOrder& order, const std::atomic<bool>* cancel = nullptr,
                           TrackList* tracks = nullptr);

// LookUpCuts, with the result put into order.plan, so that JobPlan::Section and PlanSections
// give the real sections. Returns the report.
CutLookupReport ResolveCuts(SplitJobOrder& order, const std::atomic<bool>* cancel = nullptr);
