#pragma once
// The key frames of a source: where a picture can be decoded from, and where a stream copy
// can cut. Read with ffprobe from the packets alone (nothing is decoded), so a long source
// is listed in seconds; callers run it off the interface thread.
#include <QList>
#include <QString>
#include <atomic>

struct KeyFrameList {
    bool ok = false;
    QList<double> times; // seconds from the source's start, ascending, each once
    QString error;       // why there is no list, in a sentence
};

// The key frames of the source's first video stream (not a cover picture). A source without
// video gives an empty list that is ok. Cancelled through cancel, or after limitMs.
KeyFrameList ListKeyFrames(const QString& ffprobe, const QString& source,
                           const std::atomic<bool>* cancel = nullptr, int limitMs = 600000);

// The list from ffprobe's output for "-show_entries format=start_time:packet=pts_time,dts_time,
// flags -of csv=p=1": times counted from the format's start, discarded packets left out.
QList<double> ReadKeyFrameTimes(const QByteArray& ffprobeOutput);

// The last key frame before t (earlier by more than a hair), or the first one after it;
// nothing (-1) when there is none that way.
double KeyFrameBefore(const QList<double>& times, double t);
double KeyFrameAfter(const QList<double>& times, double t);
