#include "split/KeyFrames.h"
#include "split/SourceProbe.h"

#include <QByteArrayView>
#include <algorithm>
#include <cmath>

namespace {
// Times from ffprobe carry six decimals; a picture's own time may differ by that much.
constexpr double kHair = 1e-4;

double Number(QByteArrayView text, bool* ok)
{
    return QByteArray(text.data(), text.size()).toDouble(ok);
}
} // namespace

QList<double> ReadKeyFrameTimes(const QByteArray& ffprobeOutput)
{
    QList<double> times;
    double start = 0;
    const QByteArrayView all(ffprobeOutput);
    for (qsizetype at = 0; at < all.size();) {
        qsizetype end = all.indexOf('\n', at);
        if (end < 0)
            end = all.size();
        QByteArrayView line = all.sliced(at, end - at);
        at = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        const QList<QByteArray> fields = QByteArray(line.data(), line.size()).split(',');
        bool ok = false;
        if (fields.size() >= 2 && fields.at(0) == "format") {
            const double s = Number(fields.at(1), &ok);
            if (ok && std::isfinite(s))
                start = s;
        } else if (fields.size() >= 4 && fields.at(0) == "packet") {
            // packet,pts_time,dts_time,flags: a key frame without a shown time (some AVI and
            // raw streams) is placed by its decode time.
            const QByteArray& flags = fields.at(3);
            if (!flags.contains('K') || flags.contains('D'))
                continue;
            double t = Number(fields.at(1), &ok);
            if (!ok)
                t = Number(fields.at(2), &ok);
            if (ok && std::isfinite(t))
                times.append(t);
        }
    }
    for (double& t : times)
        t -= start;
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end(), [](double a, double b) { return b - a < 1e-7; }),
                times.end());
    return times;
}

KeyFrameList ListKeyFrames(const QString& ffprobe, const QString& source, const std::atomic<bool>* cancel,
                           int limitMs)
{
    KeyFrameList list;
    if (ffprobe.isEmpty()) {
        list.error = QStringLiteral("ffprobe was not found beside the encoder or on the PATH.");
        return list;
    }
    // "V": video that is no cover picture; the first such stream, as the preview shows it.
    const QStringList args{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-hide_banner"),
                           QStringLiteral("-select_streams"), QStringLiteral("V:0"), QStringLiteral("-show_entries"),
                           QStringLiteral("format=start_time:packet=pts_time,dts_time,flags"), QStringLiteral("-of"),
                           QStringLiteral("csv=p=1")};
    const FfprobeRun run = RunFfprobe(ffprobe, args, source, cancel, limitMs);
    if (!run.ok) {
        list.error = run.error;
        return list;
    }
    list.times = ReadKeyFrameTimes(run.output);
    list.ok = true;
    return list;
}

double KeyFrameBefore(const QList<double>& times, double t)
{
    auto it = std::lower_bound(times.begin(), times.end(), t - kHair);
    return it == times.begin() ? -1 : *(it - 1);
}

double KeyFrameAfter(const QList<double>& times, double t)
{
    auto it = std::upper_bound(times.begin(), times.end(), t + kHair);
    return it == times.end() ? -1 : *it;
}
