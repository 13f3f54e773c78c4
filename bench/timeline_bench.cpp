// The timeline of a long 1080p H.264 source against ffmpeg decoding just its key frames and
// its sound (`ffmpeg -skip_frame nokey -i SOURCE -f null -`), each figure measured in this run:
//
// 1. Reading: time until the pictures, the waveform and the key frames are ready, from an
//    empty cache folder (goal: <= 1.5 x ffmpeg's time), and the longest the event loop was
//    held meanwhile (goal: <= 50 ms) while it drives a strip as the window does: drawn on
//    every change and its position moved at 25 pictures a second. The same loop without a
//    reading is measured in the same run for as long (a minute at most), for the machine's
//    own load; the 99th percentiles of the holds are printed beside the longest. The reading runs
//    behind the window at nice 10, so ffmpeg runs at nice 10 as well: on a machine busy with
//    other work both get the same share. Processor times are printed beside the wall clock.
// 2. Memory: the bytes the timeline keeps, and how far the process's resident memory grew
//    while it was read (goal: <= 64 MB): the high-water mark after the reading against the
//    resident memory when the mark was reset (/proc/self/clear_refs) just before it.
// 3. Opening again: the stored reading, from a new loader (as at the next start).
//
// Usage: bench_timeline [minutes] [runs]   (default 120 minutes, 1 run; the clip, made once
// with ffmpeg, is kept in the build's bench-data folder).
#include "CoreTestSupport.h"
#include "preview/TimelineLoader.h"
#include "preview/TimelineScan.h"
#include "preview/TimelineStrip.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>

namespace {

bool Run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A figure of /proc/self/status ("VmHWM:", "VmRSS:"), in bytes.
qint64 StatusBytes(const char* field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const int n = int(strlen(field));
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(n).trimmed().split(' ').first().toLongLong() * 1024;
    return -1;
}

// Sets the high-water mark back to the resident memory now; false where the kernel does
// not allow it (the growth is then measured from the mark as it stood).
bool ResetPeakResident()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

struct Reading {
    double seconds = -1;
    double longestHoldMs = 0;
    std::vector<double> holdsMs; // every tick's hold
    bool whole = false;
};

// A strip as the window shows it, its position moving on at 25 pictures a second and drawn
// at once, as the picture shown moves it while playing.
struct Window {
    explicit Window(TTimelineLoader& loader)
    {
        strip.resize(1600, 60);
        strip.SetLoader(&loader);
        QObject::connect(&loader, &TTimelineLoader::Changed, &strip, [this, &loader] {
            strip.SetView(TimelineZoom::Whole(loader.Data().durationUs));
        });
        strip.show();
        QObject::connect(&playing, &QTimer::timeout, &strip, [this] {
            position += 0.04;
            strip.SetPosition(position);
        });
        playing.start(40);
    }
    TTimelineStrip strip;
    QTimer playing;
    double position = 0;
};

// Opens the source in a new loader and turns the event loop until the reading ends, timing
// the gaps between 5 ms ticks.
Reading Read(const QString& source, const QString& cache)
{
    TTimelineLoader loader;
    loader.SetCacheFolder(cache);
    Window window(loader);
    Reading r;
    QEventLoop loop;
    QElapsedTimer clock;
    QElapsedTimer gap;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        r.holdsMs.push_back(gap.nsecsElapsed() / 1e6 - 5);
        r.longestHoldMs = std::max(r.longestHoldMs, r.holdsMs.back());
        gap.restart();
    });
    QObject::connect(&loader, &TTimelineLoader::Finished, [&](bool whole) {
        r.seconds = clock.nsecsElapsed() / 1e9;
        r.whole = whole;
        loop.quit();
    });
    clock.start();
    gap.start();
    tick.start();
    loader.Open(source);
    if (r.seconds < 0)
        loop.exec();
    return r;
}

double CpuSeconds(int who)
{
    rusage u {};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The share `q` of the holds lies at or below the figure returned.
double Quantile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    const size_t i = std::min(v.size() - 1, size_t(q * double(v.size())));
    std::nth_element(v.begin(), v.begin() + qsizetype(i), v.end());
    return v[i];
}

// The holds of the same event loop over the same ticks, the strip drawn and moving but
// nothing read, for as long as the reading took: what the machine's own load costs.
std::vector<double> IdleHoldsMs(const QString& source, const QString& cache, int ms)
{
    TTimelineLoader loader;
    loader.SetCacheFolder(cache);
    Window window(loader);
    loader.Open(source); // from the stored reading: no reading runs
    std::vector<double> holds;
    QEventLoop loop;
    QElapsedTimer gap;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        holds.push_back(gap.nsecsElapsed() / 1e6 - 5);
        gap.restart();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    gap.start();
    tick.start();
    loop.exec();
    return holds;
}

} // namespace

int main(int argc, char** argv)
{
    if (qgetenv("DISPLAY").isEmpty() && qgetenv("QT_QPA_PLATFORM").isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (qgetenv("VT_APP_DIR").isEmpty())
        qputenv("VT_APP_DIR", BuiltAppDir().toLocal8Bit());
    const int minutes = argc > 1 ? std::max(1, atoi(argv[1])) : 120;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 1;

    const QString dataDir = BuildDir() + "/bench-data";
    QDir().mkpath(dataDir);
    const QString source = dataDir + QStringLiteral("/timeline_1080p_%1min.mp4").arg(minutes);
    if (!QFileInfo::exists(source)) {
        // Thirty seconds encoded once, then copied end to end: hours of 1080p in a minute or two.
        std::printf("making a %d-minute 1080p clip (H.264 with B-frames, a key frame every 2 s, AAC stereo) ...\n",
                    minutes);
        std::fflush(stdout);
        const QString piece = dataDir + "/timeline_1080p_30s.mp4";
        const QString list = dataDir + "/timeline_pieces.txt";
        const QString part = source + ".part.mp4";
        QFile pieces(list);
        bool ok = QFileInfo::exists(piece)
            || Run(QStringLiteral("ffmpeg"),
                   {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc2=s=1920x1080:r=25:d=30", "-f",
                    "lavfi", "-i", "sine=f=440:r=48000:d=30", "-c:v", "libx264", "-preset", "veryfast", "-g", "50",
                    "-keyint_min", "50", "-sc_threshold", "0", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "128k",
                    "-ac", "2", "-shortest", piece});
        ok = ok && pieces.open(QIODevice::WriteOnly);
        for (int i = 0; ok && i < minutes * 2; ++i)
            pieces.write("file '" + QFileInfo(piece).fileName().toUtf8() + "'\n");
        pieces.close();
        ok = ok
            && Run(QStringLiteral("ffmpeg"), {"-nostdin", "-loglevel", "error", "-y", "-f", "concat", "-safe", "0", "-i",
                                              list, "-c", "copy", part})
            && QFile::rename(part, source);
        if (!ok) {
            std::fprintf(stderr, "ffmpeg could not make %s\n", qPrintable(source));
            return 1;
        }
    }
    std::printf("source: %s (%.0f MB)\n", qPrintable(source), QFileInfo(source).size() / 1e6);

    // The program has loaded the player's module by the time a timeline is read: so here.
    QString error;
    if (!LoadTimelineScanner(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::vector<double> ffmpeg, ours, again, holds, idles, ffmpegCpu, oursCpu, holdsP99, idlesP99;
    qint64 dataBytes = 0;
    qint64 grown = 0;
    bool markReset = true;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer t;
        t.start();
        const double childCpu0 = CpuSeconds(RUSAGE_CHILDREN);
        if (!Run(QStringLiteral("nice"), {"-n", "10", "ffmpeg", "-nostdin", "-loglevel", "error", "-skip_frame", "nokey",
                                          "-i", source, "-f", "null", "-"})) {
            std::fprintf(stderr, "ffmpeg failed\n");
            return 1;
        }
        ffmpeg.push_back(t.nsecsElapsed() / 1e9);
        ffmpegCpu.push_back(CpuSeconds(RUSAGE_CHILDREN) - childCpu0);

        QTemporaryDir cache;
        markReset = ResetPeakResident() && markReset;
        const qint64 before = markReset ? StatusBytes("VmRSS:") : StatusBytes("VmHWM:");
        const double cpu0 = CpuSeconds(RUSAGE_SELF);
        const Reading first = Read(source, cache.path());
        oursCpu.push_back(CpuSeconds(RUSAGE_SELF) - cpu0);
        grown = std::max(grown, StatusBytes("VmHWM:") - before);
        if (!first.whole) {
            std::fprintf(stderr, "the timeline was not read whole\n");
            return 1;
        }
        ours.push_back(first.seconds);
        holds.push_back(first.longestHoldMs);
        holdsP99.push_back(Quantile(first.holdsMs, 0.99));
        const Reading second = Read(source, cache.path());
        again.push_back(second.seconds);
        const std::vector<double> idle = IdleHoldsMs(source, cache.path(), int(std::clamp(first.seconds, 5.0, 60.0) * 1000));
        idles.push_back(idle.empty() ? 0 : *std::max_element(idle.begin(), idle.end()));
        idlesP99.push_back(Quantile(idle, 0.99));
        {
            TTimelineLoader loader;
            loader.SetCacheFolder(cache.path());
            QEventLoop loop;
            QObject::connect(&loader, &TTimelineLoader::Finished, &loop, &QEventLoop::quit);
            loader.Open(source);
            loop.exec();
            dataBytes = loader.Data().memoryBytes();
            std::printf("run %d: ffmpeg %.2f s, timeline %.2f s (%d key frames, %zu pictures, %lld peaks), "
                        "again %.3f s, longest hold %.1f ms\n",
                        run + 1, ffmpeg.back(), ours.back(), loader.Data().keys.size(), loader.Data().thumbs.size(),
                        qlonglong(loader.Data().peaks.size() / 2), again.back(), holds.back());
        }
        std::fflush(stdout);
    }
    const double idle = *std::max_element(idles.begin(), idles.end());
    const double hold = *std::max_element(holds.begin(), holds.end());
    rusage children {};
    getrusage(RUSAGE_CHILDREN, &children);
    const double best = *std::min_element(ffmpeg.begin(), ffmpeg.end());
    const double oursBest = *std::min_element(ours.begin(), ours.end());
    std::printf("\nffmpeg -skip_frame nokey (key frames and sound): %.2f s (best of %d)\n", best, runs);
    std::printf("timeline ready:                                 %.2f s (best of %d)  ratio %.2f (goal <= 1.5)\n",
                oursBest, runs, oursBest / best);
    std::printf("processor time: ffmpeg %.1f s, timeline %.1f s  ratio %.2f\n",
                *std::min_element(ffmpegCpu.begin(), ffmpegCpu.end()), *std::min_element(oursCpu.begin(), oursCpu.end()),
                *std::min_element(oursCpu.begin(), oursCpu.end()) / *std::min_element(ffmpegCpu.begin(), ffmpegCpu.end()));
    std::printf("opening again (stored reading):                 %.3f s\n",
                *std::min_element(again.begin(), again.end()));
    std::printf("longest hold of the event loop while reading:   %.1f ms (goal <= 50); the same loop idle: %.1f ms;"
                " ratio %.2f\n",
                hold, idle, idle > 0 ? hold / idle : 0.0);
    const double p99 = *std::max_element(holdsP99.begin(), holdsP99.end());
    const double idleP99 = *std::max_element(idlesP99.begin(), idlesP99.end());
    std::printf("  99th percentile of the holds: %.1f ms while reading, %.1f ms idle; ratio %.2f\n", p99, idleP99,
                idleP99 > 0 ? p99 / idleP99 : 0.0);
    std::printf("timeline memory: %.1f MB kept, resident memory grew %.1f MB while reading (goal <= 64; %s);\n"
                "                 ffmpeg's own peak resident: %.1f MB\n",
                dataBytes / 1048576.0, grown / 1048576.0,
                markReset ? "high-water mark reset before" : "the mark could not be reset: growth of the peak",
                children.ru_maxrss / 1024.0);
    return 0;
}
