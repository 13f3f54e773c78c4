#pragma once
// Where a look-up reads its source: with the module of SourceReader.h inside the program, or
// by a run of ffprobe.
#include "split/SourceProbe.h"

#include <QList>
#include <QString>
#include <atomic>
#include <optional>

// The reading module beside the encoder, when a look-up may use it instead of ffprobe; empty
// otherwise. An ffprobe beside the encoder (an FFmpeg of its own that the program comes with)
// is always run, so that the cuts follow the FFmpeg that copies the sections.
QString SourceReaderFor(const QString& encoderPath, const QString& ffprobe);

// One stretch to read, in seconds as ffprobe's -read_intervals counts them (absolute).
struct ReaderSpan {
    double from = 0;
    std::optional<double> to; // none: to the end of the file
};

// Reads the stretches with the module and returns what ffprobe would print as JSON for the
// look-up's entries (see SourceReader.h), with ffprobe's messages for a failure, a cancel and
// a run past limitMs. False (run untouched) when the module cannot be loaded: ffprobe then
// does the reading.
bool ReadWithModule(const QString& module, const QString& source, const QList<ReaderSpan>& spans,
                    const QString& selection, bool chapters, const std::atomic<bool>* cancel, int limitMs,
                    FfprobeRun& run, bool pictureTypes = false);

// The source's tracks and chapters read with the module, as ProbeTracks lists them. Nothing
// when the module cannot be loaded (ffprobe then lists them); otherwise whether they were
// listed, with ffprobe's reason in error when not.
std::optional<bool> ListTracksWithModule(const QString& module, const QString& source, TrackList& list,
                                         QString* error, const std::atomic<bool>* cancel = nullptr);
