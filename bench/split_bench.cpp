// How much a split job costs over ffmpeg alone, and whether a section deep into a long
// source costs more than one at its start.
//
//   bench_split [--quick] [--copy-only | --exact | --exact-codecs [--codec MPEG-2] | --join] [--rounds N]
//
// 1. A job of four equal sections of a 60 s clip, run through the main window and the
//    wmaspi.dll encoder, against the same four sections run by ffmpeg directly with the
//    same options (input seeking). Goal: ratio <= 1.05.
// 2. A 10 s section at the end of a 10-minute clip against one at its start, both
//    through the encoder. Goal: ratio <= 1.2.
// 3. A 10-minute 1080p clip (8 Mbit/s) in 10 equal sections with the shipped MP4
//    stream-copy profile, through the job runner and the encoder (cut points looked up,
//    copied video ended before each next key frame), against ffmpeg copying the same
//    key-frame ranges directly. Goal: ratio <= 1.05; the look-up's share is printed, and
//    where the rest of the job's time goes. --rounds: of this comparison (default 9).
// 4. --exact: a 10-minute 1080p H.264 clip with B-frames and a key frame every 10 s, 10
//    equal sections of 3.5 s to 10:00 (no boundary on a key frame), the MP4 stream-copy
//    profile with "Exact frames" against the same with "Key frames". Goal: the extra time
//    per section at most what re-encoding one key-frame interval costs (ffmpeg decoding
//    10 s from a key frame and encoding them as the encoder does). --rounds default 3.
// 5. --exact-codecs: as 4 for MPEG-2 (transport stream), MPEG-4 Part 2 (MP4), VP9 (WebM) and
//    AV1 (Matroska), each a 60 s 640x360 clip with a key frame every 5 s in 4 sections from
//    3.5 s, against ffmpeg re-encoding one 5 s interval as the encoder does. Same goal.
//
// 6. --join: the 10-minute 1080p clip of 4 (a key frame every 10 s), 10 segments of 20 s from
//    3.5 s, one a minute, joined into one file with "Exact frames", against ffmpeg copying the
//    same key-frame ranges directly plus re-encoding one key-frame interval per join as the
//    encoder does. Goal: ratio <= 1.
#include "TestSupport.h"
#include "segments/SegmentJob.h"
#include "app/MainForm.h"
#include "prefs/SettingsForm.h"
#include "preview/FilterGraph.h"
#include "profiles/OutputSettingsForm.h"
#include "profiles/ProfileFormat.h"
#include "profiles/ValueListEditor.h"
#include "split/CommandLine.h"
#include "split/SplitJob.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QSignalSpy>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Processor time in seconds: of this process, or of its ended and collected descendants.
double Cpu(int who)
{
    rusage u {};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Wall-clock and processor seconds of a piece of work; the processor time counts this
// process and every program it ran, so other load on the machine hardly moves it.
struct Cost {
    double wall = 0;
    double cpu = 0;
    double own = 0; // of cpu, what this process spent itself (a job's runner)
};

QString ProfileSwitches()
{
    return BuildProfileSwitches(ProfilePath(MainForm->AppDir, MainForm->cmbProfile->currentText()),
                                [](int sort, const QString& name) {
                                    const TValueListEditor* g = opSettingForm->GridForSort(sort);
                                    return g ? g->Value(name) : QString();
                                });
}

Cost RunProcess(const QString& program, const QStringList& args)
{
    const double before = Cpu(RUSAGE_CHILDREN);
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.waitForFinished(-1);
    Cost c{t.nsecsElapsed() / 1e9, Cpu(RUSAGE_CHILDREN) - before};
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed:\n%s\n", qPrintable(program), p.readAll().constData());
        return Cost{-1, -1};
    }
    return c;
}

// ffmpeg alone, with the options the encoder gives it.
Cost DirectSection(const QString& src, double start, double length, const QString& switches, const QString& out)
{
    QStringList args{"-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-ss", FormatSeconds(start), "-i", src,
                     "-t", FormatSeconds(length)};
    args += SplitCommandLine(switches);
    args << out;
    return RunProcess("ffmpeg", args);
}

Cost ProgramJob(const QString& src, int sections, const QString& outDir)
{
    MainForm->edtSource->setText(src);
    MainForm->edtStart->setText("00:00:00");
    MainForm->edtEnd->setText("00:01:00");
    MainForm->rdbEqual->setChecked(true);
    MainForm->edtSectionQty->setText(QString::number(sections));
    MainForm->edtOutputDir->setText(outDir);
    const double selfBefore = Cpu(RUSAGE_SELF);
    const double childrenBefore = Cpu(RUSAGE_CHILDREN);
    QElapsedTimer t;
    t.start();
    RunGuarded([] { MainForm->imgStartClick(); });
    Cost c;
    c.wall = t.nsecsElapsed() / 1e9;
    // The program's own share (its window and loop) and the encoder with its ffmpeg.
    c.cpu = Cpu(RUSAGE_SELF) - selfBefore + Cpu(RUSAGE_CHILDREN) - childrenBefore;
    return c;
}

// A 10-minute 1080p clip at a bit rate of real footage: 10 s made once, then joined 60
// times; gop frames from one key frame to the next.
bool MakeLongHdClip(const QString& dir, const QString& path, int gop = 50)
{
    const QString chunk = dir + "/chunk.mp4";
    const QString list = dir + "/chunks.txt";
    QProcess p;
    p.start("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                       "testsrc2=size=1920x1080:rate=25:duration=10,noise=alls=12:allf=t", "-f", "lavfi", "-i",
                       "sine=frequency=440:duration=10", "-c:v", "libx264", "-preset", "ultrafast", "-bf", "3", "-g", QString::number(gop),
                       "-b:v", "8M", "-maxrate", "8M", "-bufsize", "16M", "-pix_fmt", "yuv420p", "-c:a", "aac",
                       "-shortest", chunk});
    if (!p.waitForFinished(600000) || p.exitCode() != 0)
        return false;
    QFile f(list);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    for (int i = 0; i < 60; ++i)
        f.write("file 'chunk.mp4'\n");
    f.close();
    p.start("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "concat", "-safe", "0", "-i", list, "-c", "copy",
                       "-movflags", "+faststart", path});
    return p.waitForFinished(600000) && p.exitCode() == 0;
}

// A shipped profile's switches with its stored choices; the "Cut points" choice as given.
QString ShippedSwitches(const QString& profileName, const QString& cutPoints = QString())
{
    return StoredProfileSwitches(ProfilePath(BuiltAppDir(), profileName), cutPoints);
}

// A job through the runner, the encoder program and ffmpeg, with every output replaced; the
// disk is settled first, so that no run pays for an earlier one's outputs.
Cost RunSplitJob(const SplitJobOrder& order, CutLookupReport* lookup = nullptr, QList<JobSection>* sections = nullptr)
{
    SplitJob job(order);
    job.SetOverwriteQuestion([](const JobSection&) { return SplitJob::Overwrite::Replace; });
    QSignalSpy ended(&job, &SplitJob::ended);
    ::sync();
    const double selfBefore = Cpu(RUSAGE_SELF);
    const double childrenBefore = Cpu(RUSAGE_CHILDREN);
    QElapsedTimer t;
    t.start();
    job.Start();
    ended.wait(3600000);
    const Cost c{t.nsecsElapsed() / 1e9, Cpu(RUSAGE_SELF) - selfBefore + Cpu(RUSAGE_CHILDREN) - childrenBefore,
                 Cpu(RUSAGE_SELF) - selfBefore};
    if (job.Result() != SplitJob::Outcome::Completed) {
        std::fprintf(stderr, "the job did not complete: %s\n", qPrintable(job.FailureReason()));
        return Cost{-1, -1};
    }
    if (lookup)
        *lookup = job.Lookup();
    if (sections) {
        sections->clear();
        for (int i = 1; i <= job.Order().plan.count; ++i)
            *sections << job.Order().plan.Section(i);
    }
    return c;
}

// 3. Stream copy through the runner against ffmpeg copying the same ranges.

double Median(QList<double> v)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

QString LoadAverage()
{
    QFile f("/proc/loadavg");
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(' ', 0, 2) : QString("?");
}

// The rounds of a comparison: --rounds N, else the fallback.
int Rounds(const QStringList& args, int fallback)
{
    const qsizetype at = args.indexOf("--rounds");
    const int asked = at >= 0 ? args.value(at + 1).toInt() : 0;
    return asked > 0 ? asked : fallback;
}

int CopyBenchmark(const QString& dir, int rounds)
{
    const QString clip = dir + "/hd.mp4";
    std::printf("making a 10-minute 1080p clip...\n");
    std::fflush(stdout);
    if (!MakeLongHdClip(dir, clip)) {
        std::fprintf(stderr, "could not make the clip\n");
        return 1;
    }
    const QString switches = ShippedSwitches("MP4 - Stream copy - no re-encoding");
    std::printf("profile switches:%s\nload average before: %s\n", qPrintable(switches), qPrintable(LoadAverage()));
    const QString outDir = dir + "/out";
    QDir().mkpath(outDir);
    const int sections = 10;
    const SplitJobOrder order{clip, MakeJobPlan(0, 600, true, sections, clip, outDir, ".mp4"), switches,
                            BuiltAppDir() + "wmaspi.dll"};

    auto settle = [] { ::sync(); };
    QList<double> lookupMs;
    QList<JobSection> ranges;
    // The job as the user runs it; with resolved, its cut points looked up beforehand, which
    // leaves the runner, the encoder program and the syncing of the outputs.
    auto runJob = [&](bool resolved) -> Cost {
        SplitJobOrder s = order;
        if (resolved)
            s.plan.cuts = LookUpCuts(order).cuts;
        CutLookupReport report;
        const Cost c = RunSplitJob(s, &report, resolved ? nullptr : &ranges);
        if (c.wall >= 0 && !resolved)
            lookupMs << double(report.elapsedMs);
        return c;
    };
    // ffmpeg alone; with synced, each output is also put on the disk before the next, as the
    // program does before an output takes its name.
    auto runDirect = [&](bool synced) -> Cost {
        settle();
        Cost direct;
        for (const JobSection& s : ranges) {
            if (s.empty)
                continue;
            QStringList args{"-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-ss", FormatSeconds(s.start),
                             "-i", clip, "-t", FormatSeconds(s.end - s.start)};
            args += SplitCommandLine(switches);
            const QString out = dir + QString("/direct_%1.mp4").arg(s.number);
            args << out;
            QElapsedTimer t;
            t.start();
            Cost c = RunProcess("ffmpeg", args);
            if (c.wall < 0)
                return c;
            if (synced) {
                const double cpu = Cpu(RUSAGE_SELF);
                const int fd = ::open(QFile::encodeName(out).constData(), O_RDONLY | O_CLOEXEC);
                if (fd >= 0) {
                    ::fdatasync(fd);
                    ::close(fd);
                }
                c.wall = t.nsecsElapsed() / 1e9;
                c.cpu += Cpu(RUSAGE_SELF) - cpu;
            }
            direct.wall += c.wall;
            direct.cpu += c.cpu;
        }
        return direct;
    };
    // The first job finds the ranges and warms the file cache.
    if (runJob(false).wall < 0)
        return 1;
    lookupMs.clear();

    // The four runs of a round go in turn forwards and backwards, so that neither side
    // always follows the other; each round gives its own ratios, and the median of those
    // counts, since other work on the machine comes and goes.
    enum { Job, Resolved, Direct, Synced, Kinds };
    const char* names[Kinds] = {"job", "job, cuts known", "ffmpeg", "ffmpeg synced"};
    QList<double> wall[Kinds], wallRatio, cpuRatio, syncedRatio, share, syncing, lookup, runner;
    for (int r = 0; r < rounds; ++r) {
        Cost c[Kinds];
        for (int k = 0; k < Kinds; ++k) {
            const int kind = r % 2 == 0 ? k : Kinds - 1 - k;
            switch (kind) {
            case Job: c[kind] = runJob(false); break;
            case Resolved: c[kind] = runJob(true); break;
            case Direct: c[kind] = runDirect(false); break;
            case Synced: c[kind] = runDirect(true); break;
            }
            if (c[kind].wall < 0)
                return 1;
        }
        std::printf("round %d:", r + 1);
        for (int k = 0; k < Kinds; ++k) {
            wall[k] << c[k].wall;
            std::printf("%s %s %.3f s (processor %.3f s)", k ? "," : "", names[k], c[k].wall, c[k].cpu);
        }
        std::printf(", look-up %.0f ms; the runner's own processor time %.3f s (cuts known %.3f s)\n", lookupMs.last(),
                    c[Job].own, c[Resolved].own);
        std::fflush(stdout);
        wallRatio << c[Job].wall / c[Direct].wall;
        cpuRatio << c[Job].cpu / c[Direct].cpu;
        syncedRatio << c[Job].wall / c[Synced].wall;
        share << lookupMs.last() / 1000 / c[Job].wall;
        // Within a round, as differences between its runs.
        syncing << c[Synced].wall - c[Direct].wall;
        lookup << c[Job].wall - c[Resolved].wall;
        runner << c[Resolved].wall - c[Synced].wall;
    }
    const auto [lowest, highest] = std::minmax_element(wallRatio.cbegin(), wallRatio.cend());
    auto best = [&](int kind) { return *std::min_element(wall[kind].cbegin(), wall[kind].cend()); };
    QStringList cuts;
    for (const JobSection& s : ranges)
        cuts << QString::number(s.start, 'f', 3);
    std::printf("stream copy of a 10-minute 1080p clip in %d sections (cuts at %s), median of %d rounds "
                "(load average after: %s):\n"
                "  wall clock ratio %.3f (rounds %.3f to %.3f; best against best %.3f), processor ratio %.3f "
                "(goal <= 1.05)\n"
                "  against ffmpeg with each output synced to disk as the program does: wall clock ratio %.3f\n"
                "  key-frame look-up: %.0f ms, %.1f %% of the job's wall clock time\n"
                "  where the job's %.3f s go (medians of each round's differences): ffmpeg %.3f s, syncing the\n"
                "    outputs %+.3f s, the look-up %+.3f s, the runner and the encoder program %+.3f s\n",
                sections, qPrintable(cuts.join(", ")), rounds, qPrintable(LoadAverage()), Median(wallRatio), *lowest,
                *highest, best(Job) / best(Direct), Median(cpuRatio), Median(syncedRatio), Median(lookupMs),
                100 * Median(share), Median(wall[Job]), Median(wall[Direct]), Median(syncing), Median(lookup),
                Median(runner));
    return 0;
}

// 4. Exact cuts against key-frame cuts of the same copy profile.
int ExactBenchmark(const QString& dir, int rounds)
{
    const QString clip = dir + "/hd.mp4";
    const int gop = 250; // 10 s at 25 fps
    std::printf("making a 10-minute 1080p clip, a key frame every 10 s...\n");
    std::fflush(stdout);
    if (!MakeLongHdClip(dir, clip, gop)) {
        std::fprintf(stderr, "could not make the clip\n");
        return 1;
    }
    const QString profile = "MP4 - Stream copy - no re-encoding";
    const QString keySwitches = ShippedSwitches(profile, "Key frames (fastest)");
    const QString exactSwitches = ShippedSwitches(profile, "Exact frames (re-encode up to the first key frame)");
    std::printf("key frames:%s\nexact frames:%s\nload average before: %s\n", qPrintable(keySwitches),
                qPrintable(exactSwitches), qPrintable(LoadAverage()));
    const QString outDir = dir + "/out";
    QDir().mkpath(outDir);
    const int sections = 10;
    const double start = 3.5;
    auto order = [&](const QString& switches) {
        return SplitJobOrder{clip, MakeJobPlan(start, 600, true, sections, clip, outDir, ".mp4"), switches,
                            BuiltAppDir() + "wmaspi.dll"};
    };
    // What re-encoding one key-frame interval costs: decoding it from its key frame and
    // encoding it as the encoder program does (libx264, preset faster, quality 16).
    auto oneInterval = [&] {
        return RunProcess("ffmpeg", {"-nostdin", "-hide_banner", "-loglevel", "error", "-ss", "300", "-i", clip,
                                     "-frames:v", QString::number(gop), "-an", "-c:v", "libx264", "-preset", "faster",
                                     "-crf", "16", "-f", "null", "-"});
    };
    if (RunSplitJob(order(keySwitches)).wall < 0) // warms the file cache
        return 1;
    QList<double> keyWall, exactWall, ratio, extraPerSection, intervalWall, bound;
    for (int r = 0; r < rounds; ++r) {
        // Alternating order, so that neither side always follows the other.
        Cost key, exact;
        if (r % 2 == 0) {
            key = RunSplitJob(order(keySwitches));
            exact = RunSplitJob(order(exactSwitches));
        } else {
            exact = RunSplitJob(order(exactSwitches));
            key = RunSplitJob(order(keySwitches));
        }
        const Cost interval = oneInterval();
        if (key.wall < 0 || exact.wall < 0 || interval.wall < 0)
            return 1;
        keyWall << key.wall;
        exactWall << exact.wall;
        ratio << exact.wall / key.wall;
        extraPerSection << (exact.wall - key.wall) / sections;
        intervalWall << interval.wall;
        bound << (exact.wall - key.wall) / sections / interval.wall;
        std::printf("round %d: key frames %.3f s (processor %.3f s), exact frames %.3f s (processor %.3f s), "
                    "one interval re-encoded %.3f s\n",
                    r + 1, key.wall, key.cpu, exact.wall, exact.cpu, interval.wall);
        std::fflush(stdout);
    }
    std::printf("10-minute 1080p H.264 (B-frames, key frame every 10 s), %d sections from %.1f s, median of %d "
                "rounds (load average after: %s):\n"
                "  key frames %.3f s, exact frames %.3f s, ratio %.3f\n"
                "  extra per section %.3f s; re-encoding one key-frame interval %.3f s; extra per section / one "
                "interval %.2f (goal <= 1)\n",
                sections, start, rounds, qPrintable(LoadAverage()), Median(keyWall), Median(exactWall), Median(ratio),
                Median(extraPerSection), Median(intervalWall), Median(bound));
    return 0;
}

// 5. Exact cuts against key-frame cuts for the other codecs exact cuts serve.
int ExactCodecsBenchmark(const QString& dir, int rounds, const QString& only)
{
    struct Codec {
        const char* name;
        QString file, profile, extension;
        QStringList make;     // the source's video encoder
        QStringList interval; // as the encoder program encodes the head
    };
    const int gop = 125; // 5 s at 25 fps
    const QStringList fixedQ{"-q:v", "2", "-qmin", "1", "-bf", "0", "-flags", "+cgop", "-sc_threshold", "1000000000"};
    const QList<Codec> codecs{
        {"MPEG-2", "mpeg2.ts", "MKV - Stream copy - no re-encoding", ".mkv",
         {"-c:v", "mpeg2video", "-q:v", "4", "-bf", "2", "-c:a", "mp2"}, QStringList{"-c:v", "mpeg2video"} + fixedQ},
        {"MPEG-4 Part 2", "mpeg4.mp4", "MP4 - Stream copy - no re-encoding", ".mp4",
         {"-c:v", "mpeg4", "-q:v", "4", "-bf", "2", "-c:a", "aac"}, QStringList{"-c:v", "mpeg4"} + fixedQ},
        {"VP9", "vp9.webm", "MKV - Stream copy - no re-encoding", ".mkv",
         {"-c:v", "libvpx-vp9", "-crf", "32", "-b:v", "0", "-cpu-used", "8", "-c:a", "libopus"},
         {"-c:v", "libvpx-vp9", "-crf", "12", "-b:v", "0", "-cpu-used", "5", "-lag-in-frames", "0", "-auto-alt-ref",
          "0", "-row-mt", "1", "-deadline", "good"}},
        {"AV1", "av1.mkv", "MKV - Stream copy - no re-encoding", ".mkv",
         {"-c:v", "libaom-av1", "-crf", "35", "-cpu-used", "8", "-c:a", "libopus"},
         {"-c:v", "libaom-av1", "-crf", "12", "-cpu-used", "8", "-lag-in-frames", "0", "-usage", "realtime",
          "-row-mt", "1"}},
    };
    const int sections = 4;
    const double start = 3.5;
    for (const Codec& c : codecs) {
        if (!only.isEmpty() && only != QLatin1String(c.name))
            continue;
        const QString clip = dir + "/" + c.file;
        std::printf("making a 60 s 640x360 %s clip, a key frame every 5 s...\n", c.name);
        std::fflush(stdout);
        if (RunProcess("ffmpeg", QStringList{"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                             "testsrc2=size=640x360:rate=25:duration=60", "-f", "lavfi", "-i",
                                             "sine=duration=60", "-g", QString::number(gop)}
                                     + c.make + QStringList{clip})
                .wall < 0)
            return 1;
        const QString outDir = dir + "/out-" + QString(c.file).section('.', 0, 0);
        QDir().mkpath(outDir);
        const QString keySwitches = ShippedSwitches(c.profile, "Key frames (fastest)");
        const QString exactSwitches = ShippedSwitches(c.profile, "Exact frames (re-encode up to the first key frame)");
        auto order = [&](const QString& switches) {
            return SplitJobOrder{clip, MakeJobPlan(start, 60, true, sections, clip, outDir, c.extension), switches,
                                BuiltAppDir() + "wmaspi.dll"};
        };
        if (RunSplitJob(order(keySwitches)).wall < 0)
            return 1;
        QList<double> keyWall, exactWall, intervalWall, bound, cpuBound;
        for (int r = 0; r < rounds; ++r) {
            Cost key, exact;
            if (r % 2 == 0) {
                key = RunSplitJob(order(keySwitches));
                exact = RunSplitJob(order(exactSwitches));
            } else {
                exact = RunSplitJob(order(exactSwitches));
                key = RunSplitJob(order(keySwitches));
            }
            const Cost interval = RunProcess("ffmpeg", QStringList{"-nostdin", "-hide_banner", "-loglevel", "error", "-ss",
                                                                   "30", "-i", clip, "-frames:v", QString::number(gop),
                                                                   "-an"}
                                                           + c.interval + QStringList{"-f", "null", "-"});
            if (key.wall < 0 || exact.wall < 0 || interval.wall < 0)
                return 1;
            keyWall << key.wall;
            exactWall << exact.wall;
            intervalWall << interval.wall;
            bound << (exact.wall - key.wall) / sections / interval.wall;
            // Processor time: steadier than the clock on a machine others share.
            if (interval.cpu > 0)
                cpuBound << (exact.cpu - key.cpu) / sections / interval.cpu;
        }
        std::printf("%s, %d sections from %.1f s, median of %d rounds (load average after: %s):\n"
                    "  key frames %.3f s, exact frames %.3f s; re-encoding one key-frame interval %.3f s; extra "
                    "per section / one interval %.2f (goal <= 1); in processor time %.2f\n",
                    c.name, sections, start, rounds, qPrintable(LoadAverage()), Median(keyWall), Median(exactWall),
                    Median(intervalWall), Median(bound), cpuBound.isEmpty() ? 0.0 : Median(cpuBound));
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

// 6. Segments joined with exact frames against copying them and re-encoding an interval per join.
int JoinBenchmark(const QString& dir, int rounds)
{
    const QString clip = dir + "/hd.mp4";
    const int gop = 250;
    std::printf("making a 10-minute 1080p clip, a key frame every 10 s...\n");
    std::fflush(stdout);
    if (!MakeLongHdClip(dir, clip, gop)) {
        std::fprintf(stderr, "could not make the clip\n");
        return 1;
    }
    const QString outDir = dir + "/out";
    QDir().mkpath(outDir);
    QList<Segment> segments;
    for (int k = 0; k < 10; ++k)
        segments << Segment{3.5 + 60.0 * k, 23.5 + 60.0 * k, QString()};
    SegmentJobOrder order;
    order.base.sourcePath = clip;
    order.base.profileSwitches = ShippedSwitches("MP4 - Stream copy - no re-encoding", "Exact frames (re-encode up to the first key frame)");
    order.base.encoderPath = BuiltAppDir() + "wmaspi.dll";
    order.outputFolder = outDir + "/";
    order.baseName = "hd";
    order.extension = ".mp4";
    order.segments = segments;
    order.output = SegmentOutput::Joined;
    std::printf("exact frames:%s\nload average before: %s\n", qPrintable(order.base.profileSwitches), qPrintable(LoadAverage()));
    auto join = [&]() {
        SegmentJob job(order);
        job.SetOverwriteQuestion([](const JobSection&) { return SplitJob::Overwrite::Replace; });
        QSignalSpy ended(&job, &SegmentJob::ended);
        ::sync();
        const double children = Cpu(RUSAGE_CHILDREN), self = Cpu(RUSAGE_SELF);
        QElapsedTimer t;
        t.start();
        job.Start();
        ended.wait(3600000);
        const Cost c{t.nsecsElapsed() / 1e9, Cpu(RUSAGE_SELF) - self + Cpu(RUSAGE_CHILDREN) - children};
        if (job.Result() != SegmentJob::Outcome::Completed) {
            std::fprintf(stderr, "the join did not complete: %s\n", qPrintable(job.FailureReason()));
            return Cost{-1, -1};
        }
        return c;
    };
    // ffmpeg copying each segment's key-frame range (from the key frame before its start to the
    // one after its end) into a file of its own.
    auto copy = [&]() {
        ::sync();
        Cost all{0, 0};
        for (int k = 0; k < segments.size(); ++k) {
            const double from = std::floor(segments[k].start / 10) * 10, to = std::ceil(segments[k].end / 10) * 10;
            const Cost c = RunProcess("ffmpeg", {"-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-ss",
                                                 QString::number(from), "-i", clip, "-t", QString::number(to - from),
                                                 "-c", "copy", "-avoid_negative_ts", "make_zero",
                                                 outDir + QString("/copy%1.mp4").arg(k)});
            all.wall += c.wall;
            all.cpu += c.cpu;
        }
        return all;
    };
    auto oneInterval = [&] {
        return RunProcess("ffmpeg", {"-nostdin", "-hide_banner", "-loglevel", "error", "-ss", "300", "-i", clip,
                                     "-frames:v", QString::number(gop), "-an", "-c:v", "libx264", "-preset", "faster",
                                     "-crf", "16", "-f", "null", "-"});
    };
    copy(); // warms the file cache
    const int joins = int(segments.size()) - 1;
    QList<double> joinWall, copyWall, intervalWall, ratio;
    for (int r = 0; r < rounds; ++r) {
        const Cost j = join();
        const Cost c = copy();
        const Cost i = oneInterval();
        if (j.wall < 0 || c.wall < 0 || i.wall < 0)
            return 1;
        joinWall << j.wall;
        copyWall << c.wall;
        intervalWall << i.wall;
        ratio << j.wall / (c.wall + joins * i.wall);
        std::printf("round %d: joined %.3f s (processor %.3f s); copied %.3f s (processor %.3f s); one interval "
                    "re-encoded %.3f s (processor %.3f s)\n",
                    r + 1, j.wall, j.cpu, c.wall, c.cpu, i.wall, i.cpu);
        std::fflush(stdout);
    }
    std::printf("10 segments of 20 s joined with exact frames, %d rounds (load average after: %s):\n"
                "  joined %.3f s; copied %.3f s + %d x one interval %.3f s = %.3f s; ratio %.3f (goal <= 1)\n",
                rounds, qPrintable(LoadAverage()), Median(joinWall), Median(copyWall), joins, Median(intervalWall),
                Median(copyWall) + joins * Median(intervalWall), Median(ratio));
    return Median(ratio) <= 1.0 ? 0 : 1;
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The player engine beside the built program, as the test suites find it.
    if (qEnvironmentVariableIsEmpty("VT_APP_DIR"))
        qputenv("VT_APP_DIR", BuiltAppDir().toLocal8Bit());
    VeltraneApplication app(argc, argv);
    QApplication::setApplicationName("Veltrane");
    QApplication::setQuitOnLastWindowClosed(false);
    const bool quick = app.arguments().contains("--quick");
    const int rounds = quick ? 1 : 3;

    QTemporaryDir work;
    if (app.arguments().contains("--copy-only"))
        return CopyBenchmark(work.path(), Rounds(app.arguments(), quick ? 3 : 9));
    if (app.arguments().contains("--exact-codecs"))
    {
        const qsizetype at = app.arguments().indexOf("--codec");
        return ExactCodecsBenchmark(work.path(), Rounds(app.arguments(), quick ? 1 : 3),
                                    at > 0 ? app.arguments().value(at + 1) : QString());
    }
    if (app.arguments().contains("--join"))
        return JoinBenchmark(work.path(), Rounds(app.arguments(), quick ? 1 : 3));
    if (app.arguments().contains("--exact"))
        return ExactBenchmark(work.path(), Rounds(app.arguments(), quick ? 1 : 3));
    const QString clip = work.path() + "/clip.mp4";
    const QString longClip = work.path() + "/long.mp4";
    std::printf("making clips...\n");
    std::fflush(stdout);
    if (!MakeClip(clip, 60, "640x360") || !MakeClip(longClip, 600, "320x240")) {
        std::fprintf(stderr, "could not make the clips\n");
        return 1;
    }

    TempAppDir appDir;
    FormsFixture forms(appDir.path());
    MessageLog messages;
    ShellLog shell;
    MainForm->show();
    MainForm->EncoderPath = BuiltAppDir() + "wmaspi.dll";
    for (int i = 0; i < MainForm->cmbProfile->count(); ++i)
        if (MainForm->cmbProfile->itemText(i).startsWith("MP4 - H.264"))
            MainForm->cmbProfile->setCurrentIndex(i);
    MainForm->cmbProfileChange();
    SettingForm->chkOverwrite->setChecked(true);
    SettingForm->chkTurnoff->setChecked(false);
    SettingForm->chkExit->setChecked(false);
    SettingForm->chkOpenDir->setChecked(false);
    MainForm->OpenSource(clip);
    QElapsedTimer wait;
    wait.start();
    while (MainForm->FilterGraph->SourceLength() <= 0 && wait.elapsed() < 60000)
        QTest::qWait(20);
    if (MainForm->FilterGraph->SourceLength() <= 0) {
        std::fprintf(stderr, "the player gave no length for the clip\n");
        return 1;
    }
    const QString switches = ProfileSwitches();
    std::printf("profile switches:%s\n", qPrintable(switches));

    // 1. Whole job against ffmpeg alone.
    const int sections = 4;
    const double length = 60.0 / sections;
    // Rounds alternate which side goes first; the ratio of each round is taken, and the
    // median of those, since other work on the machine comes and goes.
    QList<double> wallRatios, cpuRatios;
    double ownCpu = 0, jobCpu = 0;
    auto runDirect = [&]() -> Cost {
        Cost direct;
        for (int i = 1; i <= sections; ++i) {
            const Cost s = DirectSection(clip, (i - 1) * length, length, switches,
                                         work.path() + QString("/direct_%1.mp4").arg(i));
            if (s.wall < 0)
                return Cost{-1, -1};
            direct.wall += s.wall;
            direct.cpu += s.cpu;
        }
        return direct;
    };
    auto runJob = [&]() -> Cost {
        messages.clear();
        const double selfBefore = Cpu(RUSAGE_SELF);
        const Cost job = ProgramJob(clip, sections, work.path());
        ownCpu += Cpu(RUSAGE_SELF) - selfBefore;
        jobCpu += job.cpu;
        if (!messages.lastText().startsWith("Splitting is completed successfully.")) {
            std::fprintf(stderr, "the job did not complete: %s\n", qPrintable(messages.lastText()));
            return Cost{-1, -1};
        }
        return job;
    };
    const int jobRounds = quick ? 1 : 5;
    for (int r = 0; r < jobRounds; ++r) {
        Cost job, direct;
        if (r % 2 == 0) {
            job = runJob();
            direct = runDirect();
        } else {
            direct = runDirect();
            job = runJob();
        }
        if (job.wall < 0 || direct.wall < 0)
            return 1;
        std::printf("round %d: through the program %.3f s (processor %.3f s), ffmpeg directly %.3f s (processor %.3f s)\n",
                    r + 1, job.wall, job.cpu, direct.wall, direct.cpu);
        std::fflush(stdout);
        wallRatios << job.wall / direct.wall;
        cpuRatios << job.cpu / direct.cpu;
    }
    auto median = [](QList<double> v) {
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };
    std::printf("whole job (%d sections of %.0f s, 640x360), median of %d rounds:\n"
                "  wall clock ratio %.3f, processor ratio %.3f (goal <= 1.05)\n"
                "  the program's own processor time: %.2f %% of the jobs' total\n",
                sections, length, jobRounds, median(wallRatios), median(cpuRatios), 100.0 * ownCpu / jobCpu);

    // 2. Deep into a long source against its start, through the encoder.
    const QString encoder = BuiltAppDir() + "wmaspi.dll";
    auto section = [&](double start) {
        const QStringList args =
            BuildSectionArguments(longClip, start, 10, switches, work.path() + "/long_section.mp4");
        return RunProcess(encoder, args);
    };
    Cost bestStart{1e9, 1e9}, bestEnd{1e9, 1e9};
    for (int r = 0; r < rounds; ++r) {
        const Cost a = section(0);
        const Cost b = section(590);
        if (a.wall < 0 || b.wall < 0)
            return 1;
        std::printf("round %d: section at 0 s %.3f s (processor %.3f s), at 590 s %.3f s (processor %.3f s)\n", r + 1,
                    a.wall, a.cpu, b.wall, b.cpu);
        std::fflush(stdout);
        bestStart = {std::min(bestStart.wall, a.wall), std::min(bestStart.cpu, a.cpu)};
        bestEnd = {std::min(bestEnd.wall, b.wall), std::min(bestEnd.cpu, b.cpu)};
    }
    std::printf("10 s section of a 10-minute clip, end against start, best of %d:\n"
                "  wall clock: %.3f s / %.3f s, ratio %.3f (goal <= 1.2)\n"
                "  processor:  %.3f s / %.3f s, ratio %.3f (goal <= 1.2)\n",
                rounds, bestEnd.wall, bestStart.wall, bestEnd.wall / bestStart.wall, bestEnd.cpu, bestStart.cpu,
                bestEnd.cpu / bestStart.cpu);
    return CopyBenchmark(work.path(), Rounds(app.arguments(), quick ? 3 : 9));
}
