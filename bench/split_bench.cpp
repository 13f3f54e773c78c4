// How much a split job costs over ffmpeg alone, and whether a section deep into a long
// source costs more than one at its start.
//
//   bench_split [--quick]
//
// 1. A job of four equal sections of a 60 s clip, run through the main window and the
//    wmaspi.dll encoder, against the same four sections run by ffmpeg directly with the
//    same options (input seeking). Goal: ratio <= 1.05.
// 2. A 10 s section at the end of a 10-minute clip against one at its start, both
//    through the encoder. Goal: ratio <= 1.2.
#include "TestSupport.h"
#include "app/MainForm.h"
#include "prefs/SettingsForm.h"
#include "preview/FilterGraph.h"
#include "profiles/OutputSettingsForm.h"
#include "profiles/ProfileFormat.h"
#include "profiles/ValueListEditor.h"
#include "split/CommandLine.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

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
    QStringList args{"-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-ss", FormatStartOffset(start), "-i", src,
                     "-t", FormatLength(length)};
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

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    VeltraneApplication app(argc, argv);
    QApplication::setApplicationName("Veltrane");
    QApplication::setQuitOnLastWindowClosed(false);
    const bool quick = app.arguments().contains("--quick");
    const int rounds = quick ? 1 : 3;

    QTemporaryDir work;
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
        if (messages.lastText() != "Splitting is completed successfully.") {
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
    return 0;
}
