// The player engine on its own, with a clock the suite moves by hand and a sound output
// that takes samples at the pace of that clock: colours against ffmpeg's conversion,
// turned pictures, the clock after a seek while playing, sound that starts late or has a
// gap, far seeks in variable-frame-rate video, a seek past a truncation, sound files, and
// sources that try to open other files or the network.
#include "preview/engine/AudioOutput.h"
#include "preview/engine/PlayerEngine.h"
#include "CoreTestSupport.h"
#include "frame_times.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <random>

using namespace vtmedia;

namespace {

constexpr int kWait = 60000;

bool Ffmpeg(const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start("ffmpeg", QStringList {"-nostdin", "-loglevel", "error", "-y"} + args);
    return p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QByteArray FfmpegOut(const QStringList& args)
{
    QProcess p;
    p.start("ffmpeg", QStringList {"-nostdin", "-loglevel", "error"} + args);
    p.waitForFinished(120000);
    return p.readAllStandardOutput();
}

// The time the clock runs on, moved by the suite.
struct FakeTime {
    std::atomic<int64_t> ns {1'000'000'000};
    double Seconds() const { return ns / 1e9; }
};

// A sound device that plays what it is given at the pace of the fake time, 200 ms of room.
// Optionally it stands still for a while after each flush, as a system service that takes
// its time to start does. It keeps every byte written (per run) for the suite to read.
struct SinkLog {
    static constexpr int kRate = 48000;
    std::mutex mx;
    int opens = 0;
    int flushes = 0;
    QByteArray written; // since the last flush
    qint64 played = 0;  // samples heard since the last flush
    int64_t last = 0;
    int64_t stallUntil = 0;
    bool paused = true;
    // Plays on up to `now` (with mx held): what was written, at the pace of the time.
    void Catch(int64_t now)
    {
        const int64_t from = std::max(last, stallUntil);
        if (!paused && now > from)
            played = std::min<qint64>(written.size() / 4, played + (now - from) * kRate / 1'000'000'000);
        last = std::max(last, now);
    }
};

class FakeSink : public SoundSink {
public:
    static constexpr int kRate = SinkLog::kRate;
    FakeSink(FakeTime* time, std::shared_ptr<SinkLog> log, double stall) : m_time(time), m_log(std::move(log)), m_stall(stall) {}
    bool Open() override
    {
        std::lock_guard<std::mutex> l(m_log->mx);
        ++m_log->opens;
        m_log->last = m_time->ns;
        return true;
    }
    int Rate() const override { return kRate; }
    int Channels() const override { return 2; }
    qint64 Free() override
    {
        std::lock_guard<std::mutex> l(m_log->mx);
        m_log->Catch(m_time->ns);
        if (m_time->ns < m_log->stallUntil && m_log->written.size() >= 4 * kRate * 60 / 1000)
            return 0; // the stalled service took its first 60 ms and no more
        return std::max<qint64>(0, 4 * kRate / 5 - (m_log->written.size() - m_log->played * 4));
    }
    qint64 Write(const char* data, qint64 size) override
    {
        std::lock_guard<std::mutex> l(m_log->mx);
        m_log->written.append(data, size);
        return size;
    }
    qint64 PlayedUs() override
    {
        std::lock_guard<std::mutex> l(m_log->mx);
        m_log->Catch(m_time->ns);
        return m_log->played * 1000000 / kRate;
    }
    void Flush() override
    {
        std::lock_guard<std::mutex> l(m_log->mx);
        ++m_log->flushes;
        m_log->written.clear();
        m_log->played = 0;
        m_log->stallUntil = m_time->ns + int64_t(m_stall * 1e9);
        m_log->last = m_time->ns;
    }
    void Pause(bool paused) override
    {
        std::lock_guard<std::mutex> l(m_log->mx);
        m_log->Catch(m_time->ns);
        m_log->paused = paused;
    }
    void SetVolume(float) override {}
    bool Broken() override { return false; }

private:
    FakeTime* m_time;
    std::shared_ptr<SinkLog> m_log;
    double m_stall;
};

struct Client : TMediaEngineClient {
    int opened = 0;
    int failed = 0;
    int frames = 0;
    QString failure;
    void EngineOpened() override { ++opened; }
    void EngineOpenFailed(int, const QString& text) override
    {
        ++failed;
        failure = text;
    }
    void EngineFrame() override { ++frames; }
    void EngineFailed(int, const QString& text) override { failure = text; }
};

// An engine on the fake time and sink.
struct Rig {
    FakeTime time;
    std::shared_ptr<SinkLog> log = std::make_shared<SinkLog>();
    Client client;
    std::unique_ptr<PlayerEngine> engine;

    explicit Rig(double stall = 0)
    {
        EngineOptions o;
        o.nowNs = [this] { return time.ns.load(); };
        o.makeSink = [this, stall] { return std::make_unique<FakeSink>(&time, log, stall); };
        engine = std::make_unique<PlayerEngine>(std::move(o));
        engine->SetClient(&client);
    }
    bool Open(const QString& path, QSize surface = QSize(1920, 1080))
    {
        engine->SetSurfaceSize(surface);
        engine->Open(path);
        QElapsedTimer t;
        t.start();
        while (!client.opened && !client.failed && t.elapsed() < kWait)
            QTest::qWait(5);
        // The sound's thread has its sink open before the suite moves the time.
        while (client.opened && engine->HasAudio() && !engine->AudioOutputActive() && t.elapsed() < kWait)
            QTest::qWait(5);
        return client.opened == 1;
    }
    bool Settle()
    {
        QElapsedTimer t;
        t.start();
        while (engine->Busy() && t.elapsed() < kWait)
            QTest::qWait(2);
        return !engine->Busy();
    }
    qint64 Written()
    {
        std::lock_guard<std::mutex> l(log->mx);
        return log->written.size();
    }
    // Moves the fake time on in 10 ms steps. Before each, the sound thread is given the
    // time to have the next 20 ms in the sink, so that it never runs dry on a slow machine
    // (a sink that runs dry loses time, as a real one does); then the engine's events run.
    void Advance(double seconds)
    {
        const double length = engine->DurationUs() / 1e6;
        QElapsedTimer open;
        open.start();
        while (engine->HasAudio() && !engine->AudioOutputActive() && open.elapsed() < kWait)
            QTest::qWait(5);
        for (int i = 0; i < std::lround(seconds * 100); ++i) {
            QElapsedTimer t;
            t.start();
            while (engine->State() == TPlayState::Playing && engine->AudioOutputActive()
                   && engine->Position() < length - 0.3 && t.elapsed() < 5000) {
                {
                    std::lock_guard<std::mutex> l(log->mx);
                    log->Catch(time.ns);
                    if (log->written.size() / 4 - log->played >= FakeSink::kRate / 50)
                        break;
                }
                QTest::qWait(1);
            }
            time.ns += 10'000'000;
            QCoreApplication::processEvents();
        }
        QTest::qWait(5);
    }
    // Seconds from the start of what was written in this run to its first sound, and to the
    // first sound after at least `after` seconds of silence.
    double SoundAfterSilence(double after)
    {
        std::lock_guard<std::mutex> l(log->mx);
        const auto* s = reinterpret_cast<const int16_t*>(log->written.constData());
        const qint64 frames = log->written.size() / 4;
        qint64 quiet = 0;
        bool heard = false;
        for (qint64 i = 0; i < frames; ++i) {
            if (std::abs(s[2 * i]) > 300) {
                if (after <= 0 || (heard && quiet >= qint64(after * FakeSink::kRate)))
                    return double(i) / FakeSink::kRate;
                heard = true;
                quiet = 0;
            } else {
                ++quiet;
            }
        }
        return -1;
    }
};

QRgb Pixel(const QByteArray& rgb24, int width, int x, int y)
{
    const auto* p = reinterpret_cast<const uchar*>(rgb24.constData()) + (y * width + x) * 3;
    return qRgb(p[0], p[1], p[2]);
}

int Distance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

} // namespace

class PreviewEngineTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // The same bars, coded with each matrix and tagged so: shown within a few levels of
    // what ffmpeg makes of them, and far from what the other matrix would give.
    void coloursFollowTheMatrix_data()
    {
        QTest::addColumn<QString>("matrix");
        QTest::addColumn<QString>("other");
        QTest::addColumn<QString>("tag");
        QTest::newRow("BT.709") << "bt709" << "bt601" << "bt709";
        QTest::newRow("BT.601") << "bt601" << "bt709" << "smpte170m";
    }
    void coloursFollowTheMatrix()
    {
        QFETCH(QString, matrix);
        QFETCH(QString, other);
        QFETCH(QString, tag);
        const QString clip = path("bars-" + matrix + ".mkv");
        // 640x360 for both, so the tag and not the size decides.
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "smptehdbars=size=640x360:rate=25:duration=1", "-vf",
                        "scale=out_color_matrix=" + matrix + ":out_range=tv,format=yuv444p", "-colorspace", tag,
                        "-color_range", "tv", "-c:v", "libx264", "-qp", "0", clip}));
        auto reference = [&](const QString& m) {
            return FfmpegOut({"-i", clip, "-frames:v", "1", "-vf",
                              "scale=in_color_matrix=" + m + ":in_range=tv,format=rgb24", "-f", "rawvideo", "-"});
        };
        const QByteArray want = reference(matrix);
        const QByteArray wrong = reference(other);
        QCOMPARE(want.size(), 640 * 360 * 3);
        Rig rig;
        QVERIFY(rig.Open(clip, QSize(640, 360)));
        const QImage shown = rig.engine->Frame();
        QCOMPARE(shown.size(), QSize(640, 360));
        int differing = 0;
        // The middle of the top bars and of the lower patches, away from the edges.
        for (int x = 30; x < 640; x += 45) {
            for (int y : {60, 260, 330}) {
                const QRgb ours = shown.pixel(x, y);
                const QRgb theirs = Pixel(want, 640, x, y);
                QVERIFY2(Distance(ours, theirs) <= 3, qPrintable(QStringLiteral("at %1,%2: %3 against ffmpeg's %4")
                                                                     .arg(x)
                                                                     .arg(y)
                                                                     .arg(ours, 6, 16)
                                                                     .arg(theirs, 6, 16)));
                if (Distance(Pixel(wrong, 640, x, y), theirs) > 8)
                    ++differing;
            }
        }
        QVERIFY(differing >= 5); // the points tell the matrices apart
        QVERIFY(rig.engine->PictureNote().isEmpty());
    }

    // An HDR source is said to be shown without tone mapping.
    void hdrIsSaidToBeShownAsCoded()
    {
        const QString clip = path("pq.mkv");
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=1", "-c:v", "libx264",
                        "-pix_fmt", "yuv420p10le", "-color_primaries", "bt2020", "-color_trc", "smpte2084",
                        "-colorspace", "bt2020nc", clip}));
        Rig rig;
        QVERIFY(rig.Open(clip));
        QVERIFY2(rig.engine->PictureNote().contains("without tone mapping"), qPrintable(rig.engine->PictureNote()));
        QVERIFY(!rig.engine->Frame().isNull());
    }

    // A phone video turned a quarter, with pixels twice as wide as high: shown upright, in
    // the shape ffmpeg turns it to. In MP4 (the track's matrix), and copied into Matroska by
    // the encoder (the track's Projection).
    void turnedPictureStandsUpright_data()
    {
        QTest::addColumn<QString>("container");
        QTest::newRow("MP4") << "mp4";
        QTest::newRow("Matroska, copied by the encoder") << "mkv";
    }

    void turnedPictureStandsUpright()
    {
        QFETCH(QString, container);
        const QString plain = path("plain.mp4");
        QString clip = path("turned.mp4");
        // 160x180 stored, pixels 2:1: 320x180 as coded; turned a quarter, 180x320. A blue
        // corner tells which way.
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i",
                        "color=c=red:s=160x180:r=25:d=1,drawbox=x=0:y=0:w=40:h=45:color=blue:t=40,setsar=2",
                        "-c:v", "libx264", "-pix_fmt", "yuv420p", plain}));
        QVERIFY(Ffmpeg({"-i", plain, "-c", "copy", "-metadata:s:v:0", "rotate=90", clip}));
        if (container == "mkv") {
            const QString copied = path("turned.mkv");
            QProcess encoder;
            encoder.start(BuiltAppDir() + "wmaspi.dll", {"-y", "-i", clip, "-ss", "0", "-t", "1", "-c", "copy", copied});
            QVERIFY(encoder.waitForFinished(60000) && encoder.exitCode() == 0);
            clip = copied;
        }
        // ffmpeg turns it on decoding: which corner is blue then.
        const QByteArray turned = FfmpegOut({"-i", clip, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
        QCOMPARE(turned.size(), 180 * 160 * 3); // 180 wide, 160 high
        const QList<QPointF> corners {{0.05, 0.05}, {0.95, 0.05}, {0.05, 0.95}, {0.95, 0.95}};
        QList<bool> blue;
        for (const QPointF& c : corners)
            blue << (qBlue(Pixel(turned, 180, int(c.x() * 180), int(c.y() * 160))) > 200);
        QCOMPARE(blue.count(true), 1);

        Rig rig;
        QVERIFY(rig.Open(clip, QSize(400, 400)));
        QCOMPARE(rig.engine->DisplaySize(), QSize(180, 320));
        const QImage shown = rig.engine->Frame();
        QCOMPARE(shown.size(), QSize(225, 400));
        for (int i = 0; i < corners.size(); ++i) {
            const QRgb p = shown.pixel(int(corners[i].x() * shown.width()), int(corners[i].y() * shown.height()));
            QVERIFY2((qBlue(p) > 200) == blue[i], qPrintable(QStringLiteral("corner %1").arg(i)));
        }
    }

    // A seek while playing: the picture goes on within 200 ms, though the sound service
    // holds still for 1.5 s after the seek; one sink serves every run.
    void clockRunsOnAfterASeekWhilePlaying()
    {
        const QString clip = path("av.mp4");
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=10", "-f", "lavfi", "-i",
                        "sine=frequency=440:duration=10", "-c:v", "libx264", "-preset", "veryfast", "-g", "50",
                        "-pix_fmt", "yuv420p", "-c:a", "aac", clip}));
        Rig rig(1.5);
        QVERIFY(rig.Open(clip));
        rig.engine->Play();
        rig.Advance(0.5);
        rig.engine->Seek(6.0);
        QVERIFY(rig.Settle());
        const double at = rig.engine->Position();
        QVERIFY2(std::abs(at - 6.0) < 0.05, qPrintable(QString::number(at)));
        rig.Advance(0.2);
        const double later = rig.engine->Position();
        QVERIFY2(later - at >= 0.15, qPrintable(QStringLiteral("%1 -> %2").arg(at).arg(later)));
        // The frames of that time follow (the engine's timer runs on real time).
        QTRY_VERIFY_WITH_TIMEOUT(rig.engine->FrameTime() >= 6.12, kWait);
        QCOMPARE(rig.log->opens, 1);
        QVERIFY(rig.log->flushes >= 2);
        // When the service plays on, its sound skips to the clock instead of pulling the
        // picture back to where the sound stood, and then keeps the clock.
        rig.Advance(1.8);
        const double after = rig.engine->Position();
        QVERIFY2(std::abs(after - (at + 2.0)) < 0.05, qPrintable(QStringLiteral("%1 -> %2").arg(at).arg(after)));
        rig.Advance(0.5);
        QVERIFY2(std::abs(rig.engine->Position() - (at + 2.5)) < 0.05, qPrintable(QString::number(rig.engine->Position())));
    }

    // Sound that starts 3 s after the picture waits behind 3 s of silence, and the clock
    // goes with it.
    void lateSoundStartsInTime()
    {
        const QString stamped = path("late-start.mkv");
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=6", "-itsoffset", "3", "-f",
                        "lavfi", "-i", "sine=frequency=440:duration=3", "-map", "0:v", "-map", "1:a", "-c:v",
                        "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-c:a", "flac", stamped}));
        const double soundStart = Probe({"-select_streams", "a:0", "-show_entries", "stream=start_time", "-of",
                                         "csv=p=0", stamped})
                                      .trimmed()
                                      .toDouble();
        QVERIFY2(soundStart > 2.9, qPrintable(QString::number(soundStart)));
        Rig rig;
        QVERIFY(rig.Open(stamped));
        rig.engine->Play();
        rig.Advance(3.5);
        const double first = rig.SoundAfterSilence(0);
        QVERIFY2(std::abs(first - soundStart) < 0.03, qPrintable(QString::number(first)));
        QVERIFY2(std::abs(rig.engine->Position() - 3.5) < 0.05, qPrintable(QString::number(rig.engine->Position())));
    }

    // Two seconds of sound missing in the middle: silence fills them, the sound after the
    // gap is heard at its time and the clock follows its time stamps.
    void soundGapKeepsTheClock()
    {
        const QString clip = path("gap.mkv");
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=8", "-f", "lavfi", "-i",
                        "sine=frequency=440:duration=8,aselect='not(between(t,2,4))'", "-c:v", "libx264", "-preset",
                        "veryfast", "-pix_fmt", "yuv420p", "-c:a", "flac", clip}));
        // ffprobe confirms the gap in the stamps.
        const QStringList stamps = Probe({"-select_streams", "a:0", "-show_entries", "packet=pts_time", "-of",
                                          "csv=p=0", clip})
                                       .split('\n', Qt::SkipEmptyParts);
        double prev = -1, gap = 0;
        for (const QString& s : stamps) {
            const double t = s.toDouble();
            if (prev >= 0)
                gap = std::max(gap, t - prev);
            prev = t;
        }
        QVERIFY2(gap > 1.5, qPrintable(QString::number(gap)));
        Rig rig;
        QVERIFY(rig.Open(clip));
        rig.engine->Play();
        rig.Advance(5.0);
        // Where the stamps say the sound comes back (the encoder's frames end a little
        // after 4 s).
        double after = -1;
        for (int i = 1; i < stamps.size() && after < 0; ++i)
            if (stamps[i].toDouble() - stamps[i - 1].toDouble() > 1.5)
                after = stamps[i].toDouble();
        const double back = rig.SoundAfterSilence(1.5);
        QVERIFY2(std::abs(back - after) < 0.03, qPrintable(QStringLiteral("%1 against %2").arg(back).arg(after)));
        QVERIFY2(std::abs(rig.engine->Position() - 5.0) < 0.05, qPrintable(QString::number(rig.engine->Position())));
    }

    // 25 and 30 fps parts one after the other: far seeks show the frame of their time.
    void variableRateFarSeeks()
    {
        const QString clip = path("vfr.mp4");
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=4", "-f", "lavfi", "-i",
                        "testsrc=size=160x120:rate=30:duration=4", "-filter_complex", "[0:v][1:v]concat=n=2:v=1",
                        "-fps_mode", "vfr", "-c:v", "libx264", "-preset", "veryfast", "-g", "30", "-pix_fmt", "yuv420p",
                        clip}));
        const std::vector<double> times = FrameTimes(clip);
        QVERIFY(times.size() > 200);
        Rig rig;
        QVERIFY(rig.Open(clip));
        std::mt19937 rnd(26);
        std::uniform_real_distribution<double> pick(0.0, 7.9);
        for (int i = 0; i < 60; ++i) {
            // Onto frame starts, a hair after them and between them.
            const double base = FrameAt(times, pick(rnd));
            const double t = base + (i % 3 == 0 ? 0 : i % 3 == 1 ? 1e-4 : 0.0299);
            rig.engine->Seek(t);
            QVERIFY(rig.Settle());
            const double want = FrameAt(times, t);
            QVERIFY2(std::abs(rig.engine->FrameTime() - want) < 1e-5,
                     qPrintable(QStringLiteral("at %1 shows %2, expected %3").arg(t).arg(rig.engine->FrameTime()).arg(want)));
        }
    }

    // A file cut off at a fraction of its stated length: a seek past the cut shows the last
    // frame that decodes and stands there.
    void seekPastTruncation()
    {
        const QString whole = path("whole.mp4");
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=20", "-c:v", "libx264", "-preset",
                        "veryfast", "-g", "25", "-pix_fmt", "yuv420p", "-movflags", "+faststart", whole}));
        const QString cut = path("cut.mp4");
        QFile in(whole);
        QVERIFY(in.open(QIODevice::ReadOnly));
        const QByteArray all = in.readAll();
        QFile out(cut);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(all.left(all.size() * 6 / 10));
        out.close();
        const std::vector<double> times = FrameTimes(cut);
        QVERIFY(!times.empty() && times.back() < 15);
        Rig rig;
        QVERIFY(rig.Open(cut));
        QVERIFY(rig.engine->DurationUs() > 19'000'000);
        // Before the cut: the exact frame. Past it: the last frame the decoder gives (with
        // frame threads the pictures still in a broken packet's decoder state are lost, so one
        // of the last few of a single-threaded decode) and the position there, not the
        // picture shown before the seek.
        for (double t : {5.0, 18.0, 6.0, 19.5}) {
            rig.engine->Seek(t);
            QVERIFY(rig.Settle());
            const double shown = rig.engine->FrameTime();
            if (t < times.back()) {
                QVERIFY2(std::abs(shown - FrameAt(times, t)) < 1e-5, qPrintable(QString::number(shown)));
                QVERIFY(std::abs(rig.engine->Position() - t) < 1e-6);
            } else {
                QVERIFY2(shown > times.back() - 0.13, qPrintable(QStringLiteral("at %1 shows %2").arg(t).arg(shown)));
                QVERIFY2(std::abs(rig.engine->Position() - shown) < 1e-6,
                         qPrintable(QStringLiteral("at %1 stands at %2").arg(t).arg(rig.engine->Position())));
            }
        }
    }

    // Sound files of each listed type open and play on the clock; a cover is the picture.
    void soundFilesOpen_data()
    {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<QStringList>("codec");
        QTest::addColumn<bool>("cover");
        QTest::newRow("mp3 with cover") << "mp3" << QStringList {"-c:a", "libmp3lame"} << true;
        QTest::newRow("m4a") << "m4a" << QStringList {"-c:a", "aac"} << false;
        QTest::newRow("flac with cover") << "flac" << QStringList {"-c:a", "flac"} << true;
        QTest::newRow("wav") << "wav" << QStringList {"-c:a", "pcm_s16le"} << false;
        QTest::newRow("ogg") << "ogg" << QStringList {"-c:a", "libvorbis"} << false;
        QTest::newRow("opus") << "opus" << QStringList {"-c:a", "libopus"} << false;
    }
    void soundFilesOpen()
    {
        QFETCH(QString, ext);
        QFETCH(QStringList, codec);
        QFETCH(bool, cover);
        const QString file = path("sound." + ext);
        QStringList args {"-f", "lavfi", "-i", "sine=frequency=440:duration=3"};
        if (cover)
            args += QStringList {"-f", "lavfi", "-i", "color=c=green:s=64x64:d=1", "-frames:v", "1", "-map", "0:a",
                                 "-map", "1:v", "-c:v", "png", "-disposition:v", "attached_pic"};
        QVERIFY(Ffmpeg(args + codec + QStringList {file}));
        Rig rig;
        QVERIFY2(rig.Open(file, QSize(128, 128)), qPrintable(rig.client.failure));
        QVERIFY(rig.engine->HasAudio());
        QVERIFY(!rig.engine->HasVideo());
        QCOMPARE(rig.engine->AudioTracks(), 1);
        QCOMPARE(!rig.engine->Frame().isNull(), cover);
        if (cover)
            QVERIFY(qGreen(rig.engine->Frame().pixel(64, 64)) > 100);
        QVERIFY(std::abs(rig.engine->DurationUs() / 1e6 - 3.0) < 0.1);
        rig.engine->Play();
        rig.Advance(1.0);
        QVERIFY2(std::abs(rig.engine->Position() - 1.0) < 0.05, qPrintable(QString::number(rig.engine->Position())));
        QVERIFY(rig.SoundAfterSilence(0) >= 0);
    }

    // Two sound tracks: the one chosen plays, from where the picture stood.
    void chosenSoundTrackPlays()
    {
        const QString clip = path("two tracks.mkv");
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=6", "-f", "lavfi", "-i",
                        "sine=frequency=440:duration=6", "-f", "lavfi", "-i", "anullsrc=r=48000:cl=stereo:d=6",
                        "-map", "0:v", "-map", "2:a", "-map", "1:a", "-c:v", "libx264", "-preset", "veryfast",
                        "-pix_fmt", "yuv420p", "-c:a", "flac", "-shortest", clip}));
        Rig rig;
        QVERIFY(rig.Open(clip));
        QCOMPARE(rig.engine->AudioTracks(), 2);
        rig.engine->SetAudioTrack(0); // the silent one
        rig.engine->Seek(2.0);
        QVERIFY(rig.Settle());
        rig.engine->Play();
        rig.Advance(0.5);
        QCOMPARE(rig.SoundAfterSilence(0), -1.0);
        rig.engine->SetAudioTrack(1);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.engine->Busy() && rig.engine->State() == TPlayState::Playing, kWait);
        QCOMPARE(rig.engine->AudioTrack(), 1);
        QVERIFY2(std::abs(rig.engine->Position() - 2.5) < 0.05, qPrintable(QString::number(rig.engine->Position())));
        rig.Advance(0.3);
        QVERIFY(rig.SoundAfterSilence(0) >= 0 && rig.SoundAfterSilence(0) < 0.05);
        QCOMPARE(rig.client.opened, 1); // the change was no new opening to the window
    }

    // A source may name other files or addresses (a playlist, a concatenation list); none
    // of them is opened: no connection reaches a listener on this machine and no other
    // file is read.
    void opensNothingButTheSource_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::newRow("playlist, network") << "list.m3u8"
                                           << "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n"
                                              "#EXTINF:2.0,\nhttp://127.0.0.1:PORT/seg.ts\n#EXT-X-ENDLIST\n";
        QTest::newRow("playlist, other file") << "local.m3u8"
                                              << "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n"
                                                 "#EXTINF:2.0,\nOTHER\n#EXT-X-ENDLIST\n";
        QTest::newRow("playlist, concat name") << "concat.m3u8"
                                               << "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n"
                                                  "#EXTINF:2.0,\nconcat:OTHER|OTHER\n#EXT-X-ENDLIST\n";
        QTest::newRow("concatenation list, other file") << "list.ffconcat" << "ffconcat version 1.0\nfile 'OTHER'\n";
        QTest::newRow("concatenation list, network")
            << "net.ffconcat" << "ffconcat version 1.0\nfile 'http://127.0.0.1:PORT/a.ts'\n";
    }
    void opensNothingButTheSource()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        const QString other = path("other.ts");
        if (!QFile::exists(other))
            QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=2", "-c:v", "mpeg2video",
                            other}));
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost));
        QString body = text;
        body.replace("PORT", QString::number(listener.serverPort())).replace("OTHER", other);
        const QString source = path(name);
        QFile f(source);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(body.toUtf8());
        f.close();
        // The same text can read the other file and reach the listener where nothing stops
        // it: ffprobe with every protocol allowed.
        Rig rig;
        rig.engine->Open(source);
        QTRY_VERIFY_WITH_TIMEOUT(rig.client.opened || rig.client.failed, kWait);
        QVERIFY(!listener.waitForNewConnection(200));
        QVERIFY2(rig.client.failed == 1, "the source opened through another file");
    }
};

QTEST_GUILESS_MAIN(PreviewEngineTest)
#include "preview_engine.moc"
