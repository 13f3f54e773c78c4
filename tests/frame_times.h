#pragma once
// Frame times of a clip as ffprobe decodes them, for suites that check which picture shows.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <vector>

inline QString Probe(const QStringList& args)
{
    QProcess p;
    p.start("ffprobe", QStringList {"-v", "error"} + args);
    p.waitForFinished(60000);
    return QString::fromLatin1(p.readAllStandardOutput());
}

// Start times of the video frames, from the source's start, as ffprobe decodes them.
inline std::vector<double> FrameTimes(const QString& file)
{
    const double start = Probe({"-show_entries", "format=start_time", "-of", "csv=p=0", file}).trimmed().toDouble();
    std::vector<double> times;
    for (const QString& line : Probe({"-select_streams", "v:0", "-show_entries", "frame=best_effort_timestamp_time",
                                      "-of", "csv=p=0", file})
                                   .split('\n', Qt::SkipEmptyParts)) {
        bool ok = false;
        const double t = line.trimmed().remove(',').toDouble(&ok);
        if (ok)
            times.push_back(t - start);
    }
    std::sort(times.begin(), times.end());
    return times;
}

// The frame whose display interval holds t: the last one starting at or before it.
inline double FrameAt(const std::vector<double>& times, double t)
{
    auto it = std::upper_bound(times.begin(), times.end(), t + 1e-6);
    return it == times.begin() ? times.front() : *(it - 1);
}
