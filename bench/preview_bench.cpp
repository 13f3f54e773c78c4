// Opening a ten-minute source in the preview: how long from OpenSource until the player
// knows the length (the scale labels need it) and until the first frame is on the surface.
// The first opening in a process also starts the media back end; later ones reuse it.
// ffprobe reading the same length is printed beside as a yardstick.
//
// Usage: bench_preview [runs]   (default 5 warm runs after the cold one)
#include "TestSupport.h"
#include "app/MainForm.h"
#include "preview/FilterGraph.h"
#include "preview/VideoWindow.h"

#include <QDir>
#include <QElapsedTimer>
#include <QVideoFrame>
#include <QVideoSink>
#include <algorithm>
#include <cstdio>

namespace {

struct Sample {
    double lengthMs = -1; // OpenSource returned with the length known
    double frameMs = -1;  // first frame reached the surface
};

double Median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

Sample OpenOnce(const QString& clip)
{
    Sample s;
    bool framed = false;
    QElapsedTimer t;
    QMetaObject::Connection c = QObject::connect(
        MainForm->VideoWindow->videoSink(), &QVideoSink::videoFrameChanged, MainForm, [&](const QVideoFrame& f) {
            if (!framed && f.isValid()) {
                framed = true;
                s.frameMs = t.nsecsElapsed() / 1e6;
            }
        });
    t.start();
    MainForm->OpenSource(clip);
    if (MainForm->FilterGraph->SourceLength() > 0)
        s.lengthMs = t.nsecsElapsed() / 1e6;
    QElapsedTimer limit;
    limit.start();
    while (!framed && limit.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QObject::disconnect(c);
    MainForm->FilterGraph->Stop();
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    if (qgetenv("QT_QPA_PLATFORM").isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    VeltraneApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Veltrane"));
    QApplication::setQuitOnLastWindowClosed(false);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 5;

    // The clip is made once and kept beside the build.
    const QString dataDir = BuildDir() + "/bench-data";
    QDir().mkpath(dataDir);
    const QString clip = dataDir + "/preview_10min.mp4";
    if (!QFileInfo::exists(clip)) {
        std::printf("making a 10-minute clip (320x180, 25 fps, with sound) ...\n");
        std::fflush(stdout);
        if (!MakeClip(clip, 600, QStringLiteral("320x180"), 25)) {
            std::fprintf(stderr, "ffmpeg could not make %s\n", qPrintable(clip));
            return 1;
        }
    }

    QElapsedTimer probeTimer;
    probeTimer.start();
    const double probed = ProbeDuration(clip);
    const double probeMs = probeTimer.nsecsElapsed() / 1e6;

    TempAppDir appDir;
    MessageLog log;
    FormsFixture forms(appDir.path());
    MainForm->show();

    const Sample cold = OpenOnce(clip);
    std::vector<double> lengths, frames;
    for (int i = 0; i < runs; ++i) {
        const Sample s = OpenOnce(clip);
        if (s.lengthMs >= 0)
            lengths.push_back(s.lengthMs);
        if (s.frameMs >= 0)
            frames.push_back(s.frameMs);
    }

    std::printf("clip: %s (%.1f s by ffprobe, %d ms by the player)\n", qPrintable(clip), probed,
                MainForm->FilterGraph->SourceLength());
    std::printf("%-36s %10s %10s\n", "", "length", "1st frame");
    std::printf("%-36s %8.1f ms %8.1f ms\n", "cold (back end starts)", cold.lengthMs, cold.frameMs);
    std::printf("%-36s %8.1f ms %8.1f ms\n", qPrintable(QString("warm, median of %1").arg(runs)), Median(lengths),
                Median(frames));
    if (!lengths.empty())
        std::printf("%-36s %8.1f ms   (warm length / ffprobe = %.2f)\n", "ffprobe reading the length", probeMs,
                    Median(lengths) / probeMs);
    for (const MessageRequest& m : log.shown)
        std::printf("message: %s\n", qPrintable(m.text));
    return log.shown.isEmpty() && cold.lengthMs >= 0 ? 0 : 1;
}
