// The preview shows the exact frame asked for: after a seek, after a step either way,
// in every container the program lists, with ffprobe's time stamps as the reference.
// Damaged files are refused with their name; a source with sound only runs on the clock.
#include "TestSupport.h"
#include "shown_frames.h"
#include "frame_times.h"
#include "app/MainForm.h"
#include "preview/DSTrackBar.h"
#include "preview/FilterGraph.h"
#include "preview/VideoWindow.h"

#include <QProcess>
#include <QSignalSpy>
#include <algorithm>
#include <random>
#include <sys/stat.h>

namespace {

constexpr int kWait = 30000;


} // namespace

class PreviewFramesTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_gop; // 12 s, 25 fps, B-frames, a key frame every 5 s

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_gop = m_dir.filePath("gop.mp4");
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=12", "-f", "lavfi", "-i",
                        "sine=frequency=440:duration=12", "-c:v", "libx264", "-preset", "veryfast", "-bf", "3", "-g",
                        "125", "-keyint_min", "125", "-sc_threshold", "0", "-pix_fmt", "yuv420p", "-c:a", "aac",
                        "-shortest", m_gop}));
    }

    // Seeks forward and back, inside and across key-frame intervals, onto frame starts and
    // between them, past the end; then steps either way, further than the frames kept.
    void exactFramesAfterSeeksAndSteps()
    {
        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        const std::vector<double> times = FrameTimes(m_gop);
        QCOMPARE(int(times.size()), 300);
        OpenSourceAndWait(m_gop);
        MainForm->sbtnPausePreviewClick();
        QCOMPARE(Graph()->FrameDuration(), 0.04);

        for (double t : {6.02, 6.1, 6.5, 9.999, 5.0, 4.99, 0.0, 0.039, 0.04, 11.4, 2.5, 3.0, 11.96, 50.0, 7.3}) {
            Graph()->SeekExact(t);
            COMPARE_TIME(Settled(), FrameAt(times, t));
            // The track bar reads the position sought (the length at most), in milliseconds.
            qint64 ms = -1;
            QVERIFY(Graph()->MediaSeeking()->GetCurrentPosition(ms));
            QCOMPARE(ms, qint64(std::llround(std::min(t, 12.0) * 1000)));
        }

        // Back across the key frame at 5 s and beyond the frames a step back keeps ready.
        Graph()->SeekExact(5.1);
        double at = Settled();
        COMPARE_TIME(at, 5.08);
        auto index = [&](double t) { return int(std::lower_bound(times.begin(), times.end(), t - 1e-6) - times.begin()); };
        for (int i = 0; i < 30; ++i) {
            Graph()->StepFrame(-1);
            const double now = Settled();
            COMPARE_TIME(now, times[size_t(index(at) - 1)]);
            at = now;
        }
        // Forward beyond the frames decoded ahead and across the key frame again.
        for (int i = 0; i < 40; ++i) {
            Graph()->StepFrame(+1);
            const double now = Settled();
            COMPARE_TIME(now, times[size_t(index(at) + 1)]);
            at = now;
        }
        // Steps asked for faster than they are shown all count, in order.
        for (int i = 0; i < 5; ++i)
            Graph()->StepFrame(-1);
        Graph()->StepFrame(+1);
        COMPARE_TIME(Settled(), times[size_t(index(at) - 4)]);
        // At the first frame a step back stays there; at the last a step forward does.
        Graph()->SeekExact(0);
        Graph()->StepFrame(-1);
        COMPARE_TIME(Settled(), times.front());
        Graph()->SeekExact(100);
        Graph()->StepFrame(+1);
        COMPARE_TIME(Settled(), times.back());
        QVERIFY(log.shown.isEmpty());
    }

    // While playing, steps do nothing; a seek shows its frame and playing goes on from it.
    void playingGoesOnFromASeek()
    {
        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        const std::vector<double> times = FrameTimes(m_gop);
        OpenSourceAndWait(m_gop);
        QCOMPARE(Graph()->State(), TPlayState::Playing);
        Graph()->SeekExact(7.77);
        QSignalSpy shown(Graph(), &TFilterGraph::FrameShown);
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), kWait);
        COMPARE_TIME(shown.first().first().toDouble(), FrameAt(times, 7.77));
        QTRY_VERIFY_WITH_TIMEOUT(Graph()->CurrentFrameTime() > 8.0, kWait);
        QCOMPARE(Graph()->State(), TPlayState::Playing);
        const double before = Graph()->CurrentFrameTime();
        Graph()->StepFrame(-1);
        QVERIFY(Graph()->CurrentFrameTime() >= before);
        QVERIFY(!Graph()->SeekPending());
        // Paused, the picture holds; Play goes on from the frame shown.
        MainForm->sbtnPausePreviewClick();
        const double held = Graph()->CurrentFrameTime();
        QTest::qWait(300);
        QCOMPARE(Graph()->CurrentFrameTime(), held);
        MainForm->sbtnPlayPreviewClick();
        QTRY_VERIFY_WITH_TIMEOUT(Graph()->CurrentFrameTime() > held, kWait);
        QVERIFY(Graph()->CurrentFrameTime() < held + 2);
        QVERIFY(log.shown.isEmpty());
    }

    // Seeks, steps, Play and Pause in quick succession, none waited for: afterwards the
    // player still answers exactly (no request lost, no thread stuck).
    void aStormOfRequests()
    {
        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        const std::vector<double> times = FrameTimes(m_gop);
        OpenSourceAndWait(m_gop);
        std::mt19937 rng(15);
        std::uniform_real_distribution<double> anywhere(-1.0, 13.0);
        std::uniform_int_distribution<int> what(0, 9);
        for (int i = 0; i < 300; ++i) {
            switch (what(rng)) {
            case 0:
                Graph()->Play();
                break;
            case 1:
                Graph()->Pause();
                break;
            case 2:
            case 3:
            case 4:
                Graph()->SeekExact(anywhere(rng));
                break;
            case 5:
                Graph()->SeekExact(Graph()->CurrentFrameTime() + 0.3);
                break;
            case 6:
            case 7:
                Graph()->StepFrame(+1);
                break;
            default:
                Graph()->StepFrame(-1);
                break;
            }
            QTest::qWait(i % 7 == 0 ? 20 : 0);
        }
        Graph()->Pause();
        for (double t : {8.88, 8.9, 2.22}) {
            Graph()->SeekExact(t);
            COMPARE_TIME(Settled(), FrameAt(times, t));
        }
        Graph()->StepFrame(-1);
        COMPARE_TIME(Settled(), FrameAt(times, 2.22) - 0.04);
        QVERIFY(log.shown.isEmpty());
    }

    void everyListedContainerOpensAndSeeksExactly_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QStringList>("codecs");
        const QStringList h264 {"-c:v", "libx264", "-preset", "veryfast", "-g", "30", "-pix_fmt", "yuv420p"};
        const QStringList aac {"-c:a", "aac"};
        QTest::newRow("avi") << ".avi" << QStringList {"-c:v", "mpeg4", "-c:a", "libmp3lame"};
        QTest::newRow("mpg") << ".mpg" << QStringList {"-c:v", "mpeg1video", "-c:a", "mp2"};
        QTest::newRow("mpeg") << ".mpeg" << QStringList {"-c:v", "mpeg2video", "-bf", "2", "-c:a", "mp2"};
        QTest::newRow("mp4") << ".mp4" << h264 + aac;
        QTest::newRow("wmv") << ".wmv" << QStringList {"-c:v", "wmv2", "-c:a", "wmav2"};
        QTest::newRow("mov") << ".mov" << h264 + aac;
        QTest::newRow("vob") << ".vob" << QStringList {"-f", "vob", "-c:v", "mpeg2video", "-c:a", "ac3"};
        QTest::newRow("asf") << ".asf" << QStringList {"-c:v", "msmpeg4", "-c:a", "wmav2"};
        QTest::newRow("mkv") << ".mkv" << h264 + QStringList {"-c:a", "libvorbis"};
        QTest::newRow("webm") << ".webm"
                              << QStringList {"-c:v", "libvpx", "-deadline", "realtime", "-cpu-used", "8", "-c:a",
                                              "libopus"};
        QTest::newRow("m4v") << ".m4v" << QStringList {"-f", "mp4"} + h264 + aac;
        QTest::newRow("ts") << ".ts" << QStringList {"-f", "mpegts"} + h264 + aac;
        QTest::newRow("m2ts") << ".m2ts" << QStringList {"-f", "mpegts", "-mpegts_m2ts_mode", "1"} + h264 + aac;
        QTest::newRow("mts") << ".mts" << QStringList {"-f", "mpegts", "-c:v", "mpeg2video", "-c:a", "mp2"};
        QTest::newRow("flv") << ".flv" << QStringList {"-f", "flv"} + h264 + aac;
        QTest::newRow("3gp") << ".3gp" << QStringList {"-f", "3gp"} + h264 + QStringList {"-c:a", "aac", "-ar", "16000"};
        QTest::newRow("ogv") << ".ogv" << QStringList {"-c:v", "libtheora", "-c:a", "libvorbis"};
    }

    void everyListedContainerOpensAndSeeksExactly()
    {
        QFETCH(QString, extension);
        QFETCH(QStringList, codecs);
        const QString file = m_dir.filePath("clip" + extension);
        QVERIFY(Ffmpeg(QStringList {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=4", "-f", "lavfi", "-i",
                                    "sine=frequency=440:duration=4:sample_rate=48000"}
                       + codecs + QStringList {"-shortest", file}));
        const std::vector<double> times = FrameTimes(file);
        QVERIFY(times.size() >= 90);

        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        Graph()->SetActive(true);
        QCOMPARE(RenderAndWait(Graph(), file), VT_S_OK);
        QVERIFY(qAbs(Graph()->SourceLength() - 4000) <= 200);
        COMPARE_TIME(Graph()->CurrentFrameTime(), times.front());
        Graph()->Play();
        QTRY_VERIFY_WITH_TIMEOUT(Graph()->CurrentFrameTime() > times[5], kWait);
        Graph()->Pause();
        for (double t : {2.51, 1.03, 3.2}) {
            Graph()->SeekExact(t);
            COMPARE_TIME(Settled(), FrameAt(times, t));
        }
        const auto i = std::lower_bound(times.begin(), times.end(), FrameAt(times, 3.2) - 1e-6) - times.begin();
        Graph()->StepFrame(+1);
        COMPARE_TIME(Settled(), times[size_t(i + 1)]);
        for (int k = 0; k < 3; ++k)
            Graph()->StepFrame(-1);
        COMPARE_TIME(Settled(), times[size_t(i - 2)]);
        QVERIFY(log.shown.isEmpty());
    }

    // Frames come scaled to fit the surface, with the shape their pixels give them.
    void picturesKeepTheirShape_data()
    {
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("sar");
        QTest::addColumn<QSize>("shown");
        QTest::newRow("4:3") << "160x120" << "1" << QSize(320, 240);
        QTest::newRow("wide pixels") << "160x120" << "2" << QSize(440, 165);
        QTest::newRow("1080p") << "1920x1080" << "1" << QSize(427, 240);
        QTest::newRow("tall") << "100x400" << "1" << QSize(60, 240);
    }

    void picturesKeepTheirShape()
    {
        QFETCH(QString, size);
        QFETCH(QString, sar);
        QFETCH(QSize, shown);
        const QString file = m_dir.filePath("shape.mp4");
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=25:duration=1", "-vf", "setsar=" + sar,
                        "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", file}));
        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        QCOMPARE(MainForm->VideoWindow->size(), QSize(440, 240));
        Graph()->SetActive(true);
        QCOMPARE(RenderAndWait(Graph(), file), VT_S_OK);
        QCOMPARE(Graph()->CurrentImage().size(), shown);
    }

    // Each refused file raises the player failure, with the file's name and the cause.
    void damagedFilesAreRefusedWithTheirName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // "-" for none at all, "dir" for a folder
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("cause");
        QTest::newRow("missing") << "gone.mp4" << QByteArray("-") << int(meResource) << "No such file";
        QTest::newRow("folder") << "folder.mkv" << QByteArray("dir") << int(meResource) << "folder";
        QTest::newRow("pipe") << "pipe.mp4" << QByteArray("fifo") << int(meResource) << "not a regular file";
        QTest::newRow("empty") << "empty.avi" << QByteArray() << int(meFormat) << "";
        QTest::newRow("text") << "notes.ts" << QByteArray("Only text here.\n").repeated(400) << int(meFormat) << "";
        QTest::newRow("truncated") << "cut short.mp4" << QByteArray("truncate") << int(meFormat) << "";
        QTest::newRow("garbled picture") << "garbled.mp4" << QByteArray("garble") << int(meFormat)
                                         << "could not be decoded";
    }

    void damagedFilesAreRefusedWithTheirName()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(int, error);
        QFETCH(QString, cause);
        const QString file = m_dir.filePath(name);
        if (content == "dir") {
            QVERIFY(QDir().mkpath(file));
        } else if (content == "fifo") {
            QVERIFY(mkfifo(QFile::encodeName(file).constData(), 0600) == 0);
        } else if (content == "truncate" || content == "garble") {
            // The index at the front and the pictures overwritten, or the index cut off.
            const QString whole = m_dir.filePath("whole.mp4");
            QStringList args {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=2", "-c:v", "libx264",
                              "-pix_fmt", "yuv420p"};
            if (content == "garble")
                args << "-movflags" << "+faststart";
            QVERIFY(Ffmpeg(args << whole));
            QFile in(whole);
            QVERIFY(in.open(QIODevice::ReadOnly));
            QByteArray data = in.readAll();
            if (content == "truncate") {
                data.truncate(data.size() / 2);
            } else {
                const qsizetype mdat = data.indexOf("mdat");
                QVERIFY(mdat > 0);
                for (qsizetype k = mdat + 4; k < data.size(); ++k)
                    data[k] = char((k * 7919) >> 3);
            }
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(data);
        } else if (content != "-") {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(content);
        }
        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        Graph()->SetActive(true);
        try {
            RenderAndWait(Graph(), file);
            QFAIL("the file was accepted");
        } catch (const EDirectShowException& e) {
            QCOMPARE(e.code(), VT_E_PLAYER_BASE + error);
            QVERIFY2(e.message().startsWith(name + " cannot be played: "), qPrintable(e.message()));
            QVERIFY2(e.message().contains(cause), qPrintable(e.message()));
            QVERIFY(e.message().endsWith(" ($" + QString::number(quint32(VT_E_PLAYER_BASE + error), 16).toUpper() + ")."));
        }
        QVERIFY(!Graph()->Play());
        QCOMPARE(Graph()->CurrentFrameTime(), -1.0);
        // The same graph opens a good file afterwards.
        QCOMPARE(RenderAndWait(Graph(), m_gop), VT_S_OK);
        QCOMPARE(Graph()->SourceLength(), 12000);
    }

    // Without a sound device (as here) the clock runs by itself: sound-only sources and the
    // pictures of sources with sound move on.
    void soundOnlyRunsOnTheClock()
    {
        const QString file = m_dir.filePath("tone.m4a.mp4");
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=6", "-c:a", "aac", file}));
        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        OpenSourceAndWait(file);
        QVERIFY(log.shown.isEmpty());
        QVERIFY(qAbs(Graph()->SourceLength() - 6000) <= 100);
        QCOMPARE(Graph()->CurrentFrameTime(), -1.0);
        QCOMPARE(Graph()->FrameDuration(), 0.0);
        QTRY_VERIFY_WITH_TIMEOUT(MainForm->tkbProgress->Position() >= 1, kWait);
        Graph()->SeekExact(4.5);
        qint64 ms = 0;
        QVERIFY(Graph()->MediaSeeking()->GetCurrentPosition(ms));
        QVERIFY(ms >= 4500 && ms < 5500);
        // Played to the end, the position stays at the length.
        QTRY_VERIFY_WITH_TIMEOUT(Graph()->MediaSeeking()->GetCurrentPosition(ms) && ms == 6000, kWait);
        QCOMPARE(Graph()->State(), TPlayState::Playing);
    }
};

VT_TEST_MAIN(PreviewFramesTest)
#include "preview_frames.moc"
