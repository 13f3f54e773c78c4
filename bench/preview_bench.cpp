// The preview against FFmpeg's own tools, each figure measured in this one run:
//
// 1. Start: the program started as its own process on an X display, time until its main
//    window is mapped, and its resident memory with no source (goals: <= 0.3 s, <= 60 MB;
//    the media back end must not be running yet).
// 2. Memory: the program playing, then paused, on a 10-minute 1080p H.264 source, against
//    ffplay playing and paused on the same file (goal: ratio <= 1.0).
// 3. Opening a ten-minute clip: time to its length and to its first frame on the surface;
//    the first opening also loads the player engine.
// 4. Seeking: 20 random positions on the 1080p source (10 s between key frames), from the
//    request to the requested frame on the surface, beside ffmpeg decoding that single
//    frame (-ss before -i, one frame); goal: median ratio <= 1.0, every frame the exact one.
// 5. Frame steps while paused: one frame forward (goal: median <= 50 ms), and back further
//    than the frames kept behind the one shown.
//
// 6. Hold after a seek while playing: from the request until the picture runs again (the
//    second frame past the new position shown), on a 1080p source, against ffplay seeking by
//    its arrow key on the same source (its clock read from its -stats line). Whether a sound
//    device was there is said: without one both run on the system clock.
//
// 7. Playback filling the screen: a 1080p source at 25 and at 30 frames a second played in
//    the window grown to the screen and in full screen; frames painted a second, frames
//    missed (a gap of more than one frame between two painted ones) and processor use,
//    against ffplay playing the same file at the same size (its own count of dropped frames
//    read from its -stats line). Goal: the source's rate, nothing missed, processor <= ffplay's.
//
// Usage: bench_preview [runs]   (default 5).
//        bench_preview --fullscreen [seconds]   part 7 alone (default 8 s a measure); needs $DISPLAY
//        bench_preview --hold [seeks]   part 6 alone (default 10 seeks). Uses $DISPLAY, else starts an Xvfb of its own
// for parts 1 and 2 (needs Xvfb and xdotool).
#include "TestSupport.h"
#include "app/MainForm.h"
#include "preview/FilterGraph.h"
#include "preview/VideoWindow.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <random>
#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

constexpr int kFps = 25;

double Median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double Max(const std::vector<double>& v)
{
    return v.empty() ? -1 : *std::max_element(v.begin(), v.end());
}

bool Run(const QString& program, const QStringList& args, int timeoutMs = 3600000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    return p.waitForFinished(timeoutMs) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Resident memory of a process in MB, or -1 once it is gone.
double RssMb(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

bool MapsHold(qint64 pid, const QByteArray& what)
{
    QFile f(QStringLiteral("/proc/%1/maps").arg(pid));
    return f.open(QIODevice::ReadOnly) && f.readAll().contains(what);
}

// Processor seconds a process has used so far.
double CpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK)) : -1;
}

int Threads(qint64 pid)
{
    return QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

// ---- an X display and its windows

class Display {
public:
    ~Display()
    {
        if (m_conn)
            xcb_disconnect(m_conn);
        if (m_xvfb.state() != QProcess::NotRunning) {
            m_xvfb.terminate();
            if (!m_xvfb.waitForFinished(5000)) {
                m_xvfb.kill();
                m_xvfb.waitForFinished(5000);
            }
        }
    }

    bool Open()
    {
        m_name = QString::fromLocal8Bit(qgetenv("DISPLAY"));
        if (m_name.isEmpty()) {
            // A display of our own: Xvfb picks a free number and writes it to its output.
            m_xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
            if (!m_xvfb.waitForStarted(5000))
                return false;
            QElapsedTimer t;
            t.start();
            while (!m_xvfb.canReadLine() && t.elapsed() < 10000)
                m_xvfb.waitForReadyRead(200);
            const QByteArray n = m_xvfb.readLine().trimmed();
            if (n.isEmpty())
                return false;
            m_name = QStringLiteral(":") + QString::fromLatin1(n);
        }
        m_conn = xcb_connect(m_name.toLocal8Bit().constData(), nullptr);
        if (xcb_connection_has_error(m_conn))
            return false;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_conn)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_conn, m_root, XCB_CW_EVENT_MASK, &mask);
        m_pidAtom = Atom("_NET_WM_PID");
        xcb_flush(m_conn);
        return true;
    }

    QString Name() const { return m_name; }

    void Drain()
    {
        while (xcb_generic_event_t* e = xcb_poll_for_event(m_conn))
            free(e);
    }

    // Waits for a top-level window of the process to be mapped; 0 on time-out.
    xcb_window_t WaitMapped(qint64 pid, int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            xcb_generic_event_t* e = xcb_poll_for_event(m_conn);
            if (!e) {
                QThread::usleep(500);
                continue;
            }
            xcb_window_t w = 0;
            if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY)
                w = reinterpret_cast<xcb_map_notify_event_t*>(e)->window;
            free(e);
            if (w && (w = OwnWindow(w, pid)))
                return w;
        }
        return 0;
    }

    QPoint Origin(xcb_window_t w)
    {
        auto* r = xcb_translate_coordinates_reply(m_conn, xcb_translate_coordinates(m_conn, w, m_root, 0, 0), nullptr);
        QPoint p;
        if (r)
            p = QPoint(r->dst_x, r->dst_y);
        free(r);
        return p;
    }

    QSize Size(xcb_window_t w)
    {
        auto* r = xcb_get_geometry_reply(m_conn, xcb_get_geometry(m_conn, w), nullptr);
        QSize s;
        if (r)
            s = QSize(r->width, r->height);
        free(r);
        return s;
    }

private:
    xcb_atom_t Atom(const char* name)
    {
        auto* r = xcb_intern_atom_reply(m_conn, xcb_intern_atom(m_conn, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : 0;
        free(r);
        return a;
    }

    // w itself when the process owns it, else the client window a window manager's frame
    // holds (a managed window is mapped into its frame, whose own map is what the root sees).
    xcb_window_t OwnWindow(xcb_window_t w, qint64 pid)
    {
        if (WindowPid(w) == pid)
            return w;
        auto* tree = xcb_query_tree_reply(m_conn, xcb_query_tree(m_conn, w), nullptr);
        xcb_window_t found = 0;
        if (tree) {
            const xcb_window_t* children = xcb_query_tree_children(tree);
            for (int k = 0; k < xcb_query_tree_children_length(tree) && !found; ++k)
                found = OwnWindow(children[k], pid);
            free(tree);
        }
        return found;
    }

    qint64 WindowPid(xcb_window_t w)
    {
        auto* r = xcb_get_property_reply(
            m_conn, xcb_get_property(m_conn, 0, w, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        qint64 pid = -1;
        if (r && xcb_get_property_value_length(r) == 4)
            pid = *static_cast<uint32_t*>(xcb_get_property_value(r));
        free(r);
        return pid;
    }

    QProcess m_xvfb;
    QString m_name;
    xcb_connection_t* m_conn = nullptr;
    xcb_window_t m_root = 0;
    xcb_atom_t m_pidAtom = 0;
};

void XdoTool(const Display& d, const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", d.Name());
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("xdotool"), args);
    p.waitForFinished(10000);
}

// A program started on the display; killed when it goes out of scope.
class Child {
public:
    Child(const Display& d, const QString& program, const QStringList& args, const QString& dir = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", d.Name());
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.remove("VT_APP_DIR");
        m_p.setProcessEnvironment(env);
        m_p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_p.setStandardOutputFile(QProcess::nullDevice());
        if (!dir.isEmpty())
            m_p.setWorkingDirectory(dir);
        m_p.start(program, args);
        m_p.waitForStarted(10000);
    }
    ~Child()
    {
        if (m_p.state() != QProcess::NotRunning) {
            m_p.kill();
            m_p.waitForFinished(10000);
        }
    }
    qint64 Pid() const { return m_p.processId(); }

private:
    QProcess m_p;
};

// Highest resident memory of a process over a span of time, sampled every 100 ms.
double PeakRss(qint64 pid, int ms)
{
    double peak = -1;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        peak = std::max(peak, RssMb(pid));
        QThread::msleep(100);
    }
    return peak;
}

// A ready application folder of our own, so the runs leave the build's settings alone.
QString CopyApp(const QTemporaryDir& dir)
{
    const QString to = dir.path() + "/";
    QDir().mkpath(to + "Profiles");
    for (const QFileInfo& fi : QDir(BuiltAppDir()).entryInfoList(QDir::Files))
        QFile::copy(fi.filePath(), to + fi.fileName());
    for (const QFileInfo& fi : QDir(BuiltAppDir() + "Profiles").entryInfoList(QDir::Files))
        QFile::copy(fi.filePath(), to + "Profiles/" + fi.fileName());
    return to + "veltrane";
}

// ---- 1 and 2: separate processes

void StartAndMemory(const QString& clip, int runs)
{
    Display d;
    if (!d.Open()) {
        std::printf("\n(no X display and no Xvfb: start and memory figures left out)\n");
        return;
    }
    QTemporaryDir appDir;
    const QString program = CopyApp(appDir);

    std::printf("\n1. Start (X display %s, %d runs)\n", qPrintable(d.Name()), runs);
    std::vector<double> shown, rss;
    bool backEndAtShow = false;
    bool decodersAtShow = false;
    int threadsAtShow = 0;
    for (int i = 0; i < runs; ++i) {
        d.Drain();
        QElapsedTimer t;
        t.start();
        Child c(d, program, {});
        const xcb_window_t w = d.WaitMapped(c.Pid(), 30000);
        const double ms = t.nsecsElapsed() / 1e6;
        if (!w) {
            std::printf("   the main window did not show\n");
            return;
        }
        shown.push_back(ms);
        backEndAtShow = backEndAtShow || MapsHold(c.Pid(), "libgstreamer-1.0");
        decodersAtShow = decodersAtShow || MapsHold(c.Pid(), "libavcodec");
        threadsAtShow = std::max(threadsAtShow, Threads(c.Pid()));
        QThread::msleep(1500);
        rss.push_back(RssMb(c.Pid()));
    }
    std::printf("   window mapped after start: median %.0f ms, worst %.0f ms, first %.0f ms (goal <= 300 ms)\n",
                Median(shown), Max(shown), shown.front());
    std::printf("   resident memory, no source: median %.1f MB (goal <= 60 MB)\n", Median(rss));
    std::printf("   when shown: GStreamer loaded %s, FFmpeg's decoders loaded %s, %d threads\n",
                backEndAtShow ? "yes" : "no", decodersAtShow ? "yes" : "no", threadsAtShow);

    std::printf("\n2. Memory on %s\n", qPrintable(QFileInfo(clip).fileName()));
    double ourPlay = -1, ourPause = -1, ffPlay = -1, ffPause = -1;
    double ourPlayCpu = -1, ourPauseCpu = -1, ffPlayCpu = -1, ffPauseCpu = -1;
    // Processor share over a span, to show that pausing took.
    auto sample = [](qint64 pid, double& rss, double& cpu) {
        const double before = CpuSeconds(pid);
        rss = PeakRss(pid, 6000);
        cpu = (CpuSeconds(pid) - before) / 6.0 * 100;
    };
    {
        d.Drain();
        Child c(d, program, {clip});
        const xcb_window_t w = d.WaitMapped(c.Pid(), 30000);
        if (w) {
            QThread::msleep(2000);
            sample(c.Pid(), ourPlay, ourPlayCpu);
            // The Pause button of the preview, in window coordinates.
            const QPoint at = d.Origin(w) + QPoint(115, 64 + 349);
            XdoTool(d, {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
            QThread::msleep(1000);
            sample(c.Pid(), ourPause, ourPauseCpu);
        }
    }
    {
        d.Drain();
        Child c(d, QStringLiteral("ffplay"), {"-hide_banner", "-loglevel", "quiet", clip});
        const xcb_window_t w = d.WaitMapped(c.Pid(), 30000);
        if (w) {
            QThread::msleep(2000);
            sample(c.Pid(), ffPlay, ffPlayCpu);
            const QPoint at = d.Origin(w) + QPoint(d.Size(w).width() / 2, d.Size(w).height() / 2);
            XdoTool(d, {"mousemove", QString::number(at.x()), QString::number(at.y()), "key", "p"});
            QThread::msleep(1000);
            sample(c.Pid(), ffPause, ffPauseCpu);
        }
    }
    std::printf("   %-10s %12s %12s   (processor while playing / paused)\n", "", "playing", "paused");
    std::printf("   %-10s %9.1f MB %9.1f MB   (%.0f%% / %.0f%%)\n", "Veltrane", ourPlay, ourPause, ourPlayCpu,
                ourPauseCpu);
    std::printf("   %-10s %9.1f MB %9.1f MB   (%.0f%% / %.0f%%)\n", "ffplay", ffPlay, ffPause, ffPlayCpu, ffPauseCpu);
    if (ffPlay > 0 && ffPause > 0)
        std::printf("   ratio      %12.2f %12.2f    (goal <= 1.0)\n", ourPlay / ffPlay, ourPause / ffPause);
}

// ---- 4 and 5: in this process, through the main window's graph

// What the surface showed after a request: when the first frame came, and when (if at all)
// the frame at `expected` seconds (within a millisecond) was there.
struct Shown {
    double firstMs = -1;
    double firstTime = -1;
    std::optional<double> exactMs;
};

Shown WaitFrame(const QElapsedTimer& t, double expected, int limitMs = 30000)
{
    TFilterGraph* g = MainForm->FilterGraph;
    Shown r;
    auto at = [&] { return std::abs(g->CurrentFrameTime() - expected) < 1e-3; };
    if (!at()) {
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(g, &TFilterGraph::FrameShown, &loop, [&] {
            if (r.firstMs < 0) {
                r.firstMs = t.nsecsElapsed() / 1e6;
                r.firstTime = g->CurrentFrameTime();
                // A player that shows another frame settles there: give it a moment more.
                limit.start(std::min(limitMs, 1500));
            }
            if (at())
                loop.quit();
        });
        limit.start(limitMs);
        loop.exec();
    }
    if (at())
        r.exactMs = t.nsecsElapsed() / 1e6;
    if (r.firstMs < 0 && r.exactMs) {
        r.firstMs = *r.exactMs;
        r.firstTime = expected;
    }
    return r;
}

void SeekingAndSteps(const QString& clip, int positions)
{
    TFilterGraph* g = MainForm->FilterGraph;
    MainForm->OpenSource(clip);
    {
        // Smoothness first: how many of the source's frames reach the surface while playing.
        int shown = 0;
        QMetaObject::Connection c = QObject::connect(g, &TFilterGraph::FrameShown, [&] { ++shown; });
        QTest::qWait(1000);
        shown = 0;
        const double from = g->CurrentFrameTime();
        QTest::qWait(4000);
        const double span = g->CurrentFrameTime() - from;
        QObject::disconnect(c);
        std::printf("\n   playing %s: %.1f frames a second on the surface (the source has %d), "
                    "%.2f s of media in 4 s\n",
                    qPrintable(QFileInfo(clip).fileName()), shown / 4.0, kFps, span);
    }
    MainForm->sbtnPausePreviewClick();
    const double length = g->SourceLength() / 1000.0;
    QElapsedTimer t;
    t.start();
    WaitFrame(t, 0, 10000);

    std::printf("\n4. Seeking on %s (%d positions, 10 s between key frames)\n", qPrintable(QFileInfo(clip).fileName()),
                positions);
    std::mt19937 rng(15);
    std::uniform_int_distribution<int> frame(0, int(length * kFps) - 2);
    std::vector<double> ours, first, ffmpeg;
    int exact = 0;
    for (int i = 0; i < positions; ++i) {
        const int k = frame(rng);
        const double expected = double(k) / kFps;
        // Inside the frame's display interval, not on its edge.
        const double request = (k + 0.5) / kFps;
        QElapsedTimer s;
        s.start();
        g->SeekExact(request);
        const Shown r = WaitFrame(s, expected, 10000);
        if (r.firstMs >= 0)
            first.push_back(r.firstMs);
        if (r.exactMs) {
            ++exact;
            ours.push_back(*r.exactMs);
        } else {
            std::printf("   %.3f s: shows %.3f s instead of %.3f s\n", request, g->CurrentFrameTime(), expected);
        }
        QElapsedTimer f;
        f.start();
        Run(QStringLiteral("ffmpeg"), {"-nostdin", "-v", "error", "-ss", QString::number(request, 'f', 3), "-i", clip,
                                       "-frames:v", "1", "-an", "-f", "null", "-"});
        ffmpeg.push_back(f.nsecsElapsed() / 1e6);
    }
    std::printf("   %-28s %10s %10s\n", "", "median", "worst");
    std::printf("   %-28s %7.0f ms %7.0f ms   exact frame %d of %d\n", "Veltrane, request to frame", Median(ours),
                Max(ours), exact, positions);
    std::printf("   %-28s %7.0f ms %7.0f ms\n", "Veltrane, to the first frame", Median(first), Max(first));
    std::printf("   %-28s %7.0f ms %7.0f ms\n", "ffmpeg, one frame", Median(ffmpeg), Max(ffmpeg));
    if (!ours.empty())
        std::printf("   ratio %32.2f %10.2f   (goal: median <= 1.0)\n", Median(ours) / Median(ffmpeg),
                    Max(ours) / Max(ffmpeg));

    // Back twice as far as forward: past the frames kept behind, so one step seeks.
    std::printf("\n5. Frame steps while paused (%d forward, then %d back)\n", positions, 2 * positions);
    const double fd = g->FrameDuration() > 0 ? g->FrameDuration() : 1.0 / kFps;
    for (int direction : {+1, -1}) {
        std::vector<double> steps, firsts;
        int right = 0;
        const int count = direction > 0 ? positions : 2 * positions;
        double at = g->CurrentFrameTime();
        for (int i = 0; i < count; ++i) {
            const double expected = std::max(0.0, at + direction * fd);
            QElapsedTimer s;
            s.start();
            g->StepFrame(direction);
            const Shown r = WaitFrame(s, expected, 10000);
            if (r.exactMs) {
                ++right;
                steps.push_back(*r.exactMs);
            }
            if (r.firstMs >= 0)
                firsts.push_back(r.firstMs);
            if (!r.exactMs)
                std::printf("   a step %s from %.3f s shows %.3f s instead of %.3f s\n",
                            direction > 0 ? "forward" : "back", at, g->CurrentFrameTime(), expected);
            at = g->CurrentFrameTime();
        }
        std::printf("   one frame %-8s median %6.1f ms, worst %6.1f ms, exact %d of %d%s\n",
                    direction > 0 ? "forward" : "back", Median(steps), Max(steps), right, count,
                    direction > 0 ? "   (goal: median <= 50 ms)" : "");
        if (right < count)
            std::printf("   %-18s median %6.1f ms, worst %6.1f ms to the first frame shown\n", "", Median(firsts),
                        Max(firsts));
    }
}

// ---- 6: the hold after a seek while playing

// Ours: through the main window's graph, in this process.
std::vector<double> OurHolds(const QString& clip, int seeks, double length)
{
    TFilterGraph* g = MainForm->FilterGraph;
    MainForm->OpenSource(clip);
    QTest::qWait(1500);
    std::mt19937 rnd(6);
    std::uniform_real_distribution<double> pick(5, length - 15);
    std::vector<double> holds;
    for (int i = 0; i < seeks; ++i) {
        const double target = pick(rnd);
        QElapsedTimer t;
        t.start();
        g->SeekExact(target);
        // Running again: a frame two frames past the target is on the surface.
        while (g->CurrentFrameTime() < target + 1.5 / kFps && t.elapsed() < 10000)
            QTest::qWait(1);
        holds.push_back(t.nsecsElapsed() / 1e6);
        QTest::qWait(1000);
    }
    MainForm->sbtnPausePreviewClick();
    return holds;
}

// ffplay on its own display, seeking 10 s on with its arrow key; its -stats line shows its
// clock about every 30 ms. Empty when it could not be driven.
std::vector<double> FfplayHolds(const QString& clip, int seeks)
{
    std::vector<double> holds;
    Display d;
    if (!d.Open())
        return holds;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", d.Name());
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("ffplay"), {"-hide_banner", "-stats", "-x", "640", "-y", "360", clip});
    if (!p.waitForStarted(10000))
        return holds;
    QByteArray pending;
    double clock = -1;
    // Reads what ffplay printed so far; the clock is the first number of its last line.
    auto read = [&](int waitMs) {
        p.waitForReadyRead(waitMs);
        pending += p.readAllStandardError();
        const int end = std::max(pending.lastIndexOf('\r'), pending.lastIndexOf('\n'));
        if (end < 0)
            return;
        const QList<QByteArray> lines = pending.left(end).split('\r');
        pending = pending.mid(end + 1);
        for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
            bool ok = false;
            const double v = it->trimmed().split(' ').value(0).toDouble(&ok);
            if (ok && !std::isnan(v)) {
                clock = v;
                return;
            }
        }
    };
    QElapsedTimer up;
    up.start();
    while (clock < 3 && up.elapsed() < 20000)
        read(50);
    const xcb_window_t w = d.WaitMapped(p.processId(), 5000);
    if (clock < 3 || !w) {
        p.kill();
        p.waitForFinished(5000);
        return holds;
    }
    const QString window = QString::number(w);
    XdoTool(d, {"windowfocus", "--sync", window});
    for (int i = 0; i < seeks; ++i) {
        read(0);
        const double before = clock;
        QElapsedTimer t;
        t.start();
        XdoTool(d, {"key", "--window", window, "Right"});
        // First the jump, then two frames of running on from where it landed.
        double landed = -1;
        while (t.elapsed() < 10000) {
            read(5);
            if (landed < 0 && clock > before + 5)
                landed = clock;
            if (landed >= 0 && clock >= landed + 1.5 / kFps)
                break;
        }
        holds.push_back(landed >= 0 && t.elapsed() < 10000 ? t.nsecsElapsed() / 1e6 : -1);
        QThread::msleep(1000);
        read(0);
    }
    p.kill();
    p.waitForFinished(5000);
    return holds;
}

void HoldAfterSeek(const QString& clip, int seeks)
{
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", clip});
    probe.waitForFinished(60000);
    const double seconds = probe.readAllStandardOutput().trimmed().toDouble();
    const bool device = !QMediaDevices::defaultAudioOutput().isNull();
    std::printf("\n6. Hold after a seek while playing, %s (%d seeks; sound device: %s)\n",
                qPrintable(QFileInfo(clip).fileName()), seeks, device ? "yes" : "none, both on the system clock");
    const std::vector<double> ours = OurHolds(clip, seeks, seconds);
    std::vector<double> theirs = FfplayHolds(clip, seeks);
    const bool missed = std::count(theirs.begin(), theirs.end(), -1.0) > 0;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), -1.0), theirs.end());
    std::printf("   %-28s %10s %10s\n", "", "median", "worst");
    std::printf("   %-28s %7.0f ms %7.0f ms\n", "Veltrane, request to running", Median(ours), Max(ours));
    if (theirs.empty()) {
        std::printf("   ffplay could not be driven on the display\n");
        return;
    }
    std::printf("   %-28s %7.0f ms %7.0f ms%s\n", "ffplay, key to running", Median(theirs), Max(theirs),
                missed ? "   (some seeks not seen)" : "");
    std::printf("   ratio %32.2f\n", Median(ours) / Median(theirs));
}

// ---- 3: opening

struct Opening {
    double lengthMs = -1; // OpenSource returned with the length known
    double frameMs = -1;  // first frame reached the surface
};

Opening OpenOnce(const QString& clip)
{
    Opening s;
    QElapsedTimer t;
    t.start();
    MainForm->OpenSource(clip);
    if (MainForm->FilterGraph->SourceLength() > 0)
        s.lengthMs = t.nsecsElapsed() / 1e6;
    const Shown r = WaitFrame(t, 0, 30000);
    s.frameMs = r.exactMs ? *r.exactMs : r.firstMs;
    MainForm->FilterGraph->Stop();
    return s;
}

void OpeningTimes(const QString& clip, int runs)
{
    QElapsedTimer probeTimer;
    probeTimer.start();
    const double probed = ProbeDuration(clip);
    const double probeMs = probeTimer.nsecsElapsed() / 1e6;

    const Opening first = OpenOnce(clip);
    std::vector<double> lengths, frames;
    for (int i = 0; i < runs; ++i) {
        const Opening s = OpenOnce(clip);
        if (s.lengthMs >= 0)
            lengths.push_back(s.lengthMs);
        if (s.frameMs >= 0)
            frames.push_back(s.frameMs);
    }
    std::printf("\n3. Opening %s (%.1f s by ffprobe, %d ms by the player)\n", qPrintable(QFileInfo(clip).fileName()),
                probed, MainForm->FilterGraph->SourceLength());
    std::printf("   %-34s %10s %10s\n", "", "length", "1st frame");
    std::printf("   %-34s %7.1f ms %7.1f ms\n", "first (the player engine loads)", first.lengthMs, first.frameMs);
    std::printf("   %-34s %7.1f ms %7.1f ms\n", qPrintable(QString("again, median of %1").arg(runs)), Median(lengths),
                Median(frames));
    if (!lengths.empty())
        std::printf("   %-34s %7.1f ms   (length / ffprobe = %.2f)\n", "ffprobe reading the length", probeMs,
                    Median(lengths) / probeMs);
}

// ---- 7: playback filling the screen

struct Playback {
    QSize size;         // the surface
    double rate = -1;   // distinct frames painted a second
    int painted = 0;
    int missed = 0;     // frames the source has between painted ones
    double cpu = -1;    // percent of one core
};

// Counts the frames the surface paints: each paint of a frame time not painted before.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* surface) : m_surface(surface) { surface->installEventFilter(this); }
    ~PaintCounter() override { m_surface->removeEventFilter(this); }
    std::vector<double> times;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) {
            const double t = MainForm->FilterGraph->CurrentFrameTime();
            if (t >= 0 && (times.empty() || t != times.back()))
                times.push_back(t);
        }
        return false;
    }

private:
    QWidget* m_surface;
};

Playback MeasurePlayback(double seconds, double fps)
{
    TMainForm* f = MainForm;
    f->FilterGraph->SeekExact(0);
    f->sbtnPlayPreviewClick();
    QTest::qWait(1500);
    Playback r;
    r.size = f->VideoWindow->Surface()->size();
    PaintCounter counter(f->VideoWindow->Surface());
    const qint64 self = QCoreApplication::applicationPid();
    const double cpu0 = CpuSeconds(self);
    QElapsedTimer t;
    t.start();
    QTest::qWait(int(seconds * 1000));
    const double wall = t.nsecsElapsed() / 1e9;
    r.cpu = (CpuSeconds(self) - cpu0) / wall * 100;
    r.painted = int(counter.times.size());
    r.rate = r.painted / wall;
    for (size_t i = 1; i < counter.times.size(); ++i)
        r.missed += std::max(0, int(std::lround((counter.times[i] - counter.times[i - 1]) * fps)) - 1);
    return r;
}

struct FfplayRun {
    double cpu = -1;
    int dropped = -1; // its "fd=" count over the measure
};

// ffplay on the display at the given size (full screen when `full`), measured as ours.
FfplayRun FfplayPlayback(const Display& d, const QString& clip, QSize size, bool full, double seconds)
{
    FfplayRun r;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", d.Name());
    p.setProcessEnvironment(env);
    QStringList args = {"-hide_banner", "-stats", "-autoexit"};
    if (full)
        args << "-fs";
    else
        args << "-x" << QString::number(size.width()) << "-y" << QString::number(size.height());
    p.start(QStringLiteral("ffplay"), args << clip);
    if (!p.waitForStarted(10000))
        return r;
    QByteArray pending;
    int fd = -1;
    auto read = [&](int waitMs) {
        p.waitForReadyRead(waitMs);
        pending += p.readAllStandardError();
        const int at = pending.lastIndexOf("fd=");
        if (at >= 0) {
            bool ok = false;
            const int v = pending.mid(at + 3).trimmed().split(' ').value(0).toInt(&ok);
            if (ok)
                fd = v;
            pending = pending.mid(at + 3);
        }
    };
    QElapsedTimer up;
    up.start();
    while (up.elapsed() < 1500)
        read(50);
    const int fd0 = fd;
    const double cpu0 = CpuSeconds(p.processId());
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < seconds * 1000)
        read(50);
    const double cpu1 = CpuSeconds(p.processId());
    r.cpu = cpu0 >= 0 && cpu1 >= 0 ? (cpu1 - cpu0) / (t.nsecsElapsed() / 1e9) * 100 : -1;
    r.dropped = fd >= 0 && fd0 >= 0 ? fd - fd0 : -1;
    p.kill();
    p.waitForFinished(5000);
    return r;
}

void FullScreenPlayback(const QString& clip, double fps, double seconds)
{
    Display d;
    if (!d.Open())
        return;
    TMainForm* f = MainForm;
    f->OpenSource(clip);
    const QRect screen = f->screen()->availableGeometry();
    std::printf("\n7. Playback filling the screen, %s (%.0f fps), screen %dx%d, %.0f s each\n",
                qPrintable(QFileInfo(clip).fileName()), fps, f->screen()->geometry().width(),
                f->screen()->geometry().height(), seconds);
    std::printf("   %-34s %11s %8s %7s %8s\n", "", "surface", "fps", "missed", "cpu");
    const auto line = [](const char* what, const Playback& r) {
        std::printf("   %-34s %5dx%-5d %8.2f %7d %7.0f%%\n", what, r.size.width(), r.size.height(), r.rate, r.missed,
                    r.cpu);
    };
    f->setGeometry(screen.adjusted(0, 30, 0, 0)); // below the title bar
    QTest::qWait(500);
    const Playback grown = MeasurePlayback(seconds, fps);
    line("Veltrane, window grown to screen", grown);
    f->SetFullScreen(true);
    QTest::qWait(800);
    const Playback full = MeasurePlayback(seconds, fps);
    line("Veltrane, full screen", full);
    f->SetFullScreen(false);
    f->sbtnPausePreviewClick();
    QTest::qWait(300);
    const FfplayRun ffGrown = FfplayPlayback(d, clip, grown.size, false, seconds);
    const FfplayRun ffFull = FfplayPlayback(d, clip, QSize(), true, seconds);
    if (ffGrown.cpu < 0 && ffFull.cpu < 0) {
        std::printf("   ffplay could not be run\n");
        return;
    }
    std::printf("   %-34s %5dx%-5d %8s %7d %7.0f%%   (its own dropped-frame count)\n", "ffplay, same size",
                grown.size.width(), grown.size.height(), "-", ffGrown.dropped, ffGrown.cpu);
    std::printf("   %-34s %11s %8s %7d %7.0f%%\n", "ffplay, full screen (-fs)", "", "-", ffFull.dropped, ffFull.cpu);
    if (ffGrown.cpu > 0 && ffFull.cpu > 0)
        std::printf("   processor ratio (goal <= 1.0): grown %.2f, full screen %.2f\n", grown.cpu / ffGrown.cpu,
                    full.cpu / ffFull.cpu);
}

} // namespace

int main(int argc, char** argv)
{
    const bool fullOnly = argc > 1 && QByteArray(argv[1]) == "--fullscreen";
    if (fullOnly && qgetenv("DISPLAY").isEmpty()) {
        std::fprintf(stderr, "--fullscreen paints on a real display: set DISPLAY (an Xvfb will do)\n");
        return 2;
    }
    // Part 7 paints on the display as a user sees it.
    if (fullOnly)
        qputenv("QT_QPA_PLATFORM", "xcb");
    if (qgetenv("QT_QPA_PLATFORM").isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The player engine is loaded from the built application's folder.
    if (qgetenv("VT_APP_DIR").isEmpty())
        qputenv("VT_APP_DIR", BuiltAppDir().toLocal8Bit());
    VeltraneApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Veltrane"));
    QApplication::setQuitOnLastWindowClosed(false);
    const bool holdOnly = argc > 1 && QByteArray(argv[1]) == "--hold";
    const int runs = argc > (holdOnly ? 2 : 1) ? qMax(1, atoi(argv[holdOnly ? 2 : 1])) : (holdOnly ? 10 : 5);

    // The clips are made once and kept beside the build.
    const QString dataDir = BuildDir() + "/bench-data";
    QDir().mkpath(dataDir);
    // 1080p at 25 and 30 frames a second, 30 s each.
    const auto hdClip = [&](int fps) {
        const QString path = dataDir + QStringLiteral("/preview_1080p_%1fps_30s.mp4").arg(fps);
        if (!QFileInfo::exists(path)
            && !Run(QStringLiteral("ffmpeg"),
                    {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                     QStringLiteral("testsrc2=s=1920x1080:r=%1:d=30").arg(fps), "-f", "lavfi", "-i",
                     "sine=f=440:r=48000:d=30", "-c:v", "libx264", "-preset", "veryfast", "-g", QString::number(fps * 2),
                     "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", path}))
            return QString();
        return path;
    };
    if (fullOnly) {
        const double seconds = argc > 2 ? qMax(2.0, atof(argv[2])) : 8.0;
        TempAppDir appDir;
        MessageLog log;
        FormsFixture forms(appDir.path());
        MainForm->show();
        for (int fps : {25, 30}) {
            const QString clip = hdClip(fps);
            if (clip.isEmpty()) {
                std::fprintf(stderr, "ffmpeg could not make the %d fps clip\n", fps);
                return 1;
            }
            FullScreenPlayback(clip, fps, seconds);
        }
        return 0;
    }
    if (holdOnly) {
        // A minute of 1080p is enough for seeks 10 s apart.
        const QString hd = dataDir + "/preview_1080p_1min.mp4";
        if (!QFileInfo::exists(hd)
            && !Run(QStringLiteral("ffmpeg"),
                    {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                     QStringLiteral("testsrc2=s=1920x1080:r=%1:d=60").arg(kFps), "-f", "lavfi", "-i",
                     "sine=f=440:r=48000:d=60", "-c:v", "libx264", "-preset", "veryfast", "-g", "250", "-pix_fmt",
                     "yuv420p", "-c:a", "aac", "-shortest", hd})) {
            std::fprintf(stderr, "ffmpeg could not make %s\n", qPrintable(hd));
            return 1;
        }
        TempAppDir appDir;
        MessageLog log;
        FormsFixture forms(appDir.path());
        MainForm->show();
        HoldAfterSeek(hd, runs);
        return 0;
    }
    const QString small = dataDir + "/preview_10min.mp4";
    if (!QFileInfo::exists(small)) {
        std::printf("making a 10-minute clip (320x180, 25 fps, with sound) ...\n");
        std::fflush(stdout);
        if (!MakeClip(small, 600, QStringLiteral("320x180"), kFps)) {
            std::fprintf(stderr, "ffmpeg could not make %s\n", qPrintable(small));
            return 1;
        }
    }
    const QString big = dataDir + "/preview_1080p_10min.mp4";
    if (!QFileInfo::exists(big)) {
        std::printf("making a 10-minute 1080p clip (H.264 with B-frames, a key frame every 10 s, AAC) ...\n");
        std::fflush(stdout);
        const QString part = big + ".part.mp4";
        if (!Run(QStringLiteral("ffmpeg"),
                 {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                  QStringLiteral("testsrc2=s=1920x1080:r=%1:d=600").arg(kFps), "-f", "lavfi", "-i",
                  "sine=f=440:r=48000:d=600", "-c:v", "libx264", "-preset", "veryfast", "-g", "250", "-keyint_min",
                  "250", "-sc_threshold", "0", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "128k", "-ac", "2",
                  "-shortest", part})
            || !QFile::rename(part, big)) {
            std::fprintf(stderr, "ffmpeg could not make %s\n", qPrintable(big));
            return 1;
        }
    }

    StartAndMemory(big, runs);

    TempAppDir appDir;
    MessageLog log;
    FormsFixture forms(appDir.path());
    MainForm->show();
    OpeningTimes(small, runs);
    SeekingAndSteps(big, 20);
    HoldAfterSeek(big, 10);

    for (const MessageRequest& m : log.shown)
        std::printf("message: %s\n", qPrintable(m.text));
    return log.shown.isEmpty() ? 0 : 1;
}
