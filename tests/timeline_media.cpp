// The timeline read from clips ffmpeg makes: key frames as ffprobe lists them, the sound's
// peaks, the pictures, and the stored reading used again or refused when damaged.
#include "TestSupport.h"
#include "preview/DSTrackBar.h"
#include "preview/TimelineLoader.h"
#include "preview/TimelineStrip.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

bool Ffmpeg(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList {"-hide_banner", "-loglevel", "error", "-y"} + args);
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// ffprobe's key frames of the first video stream, in microseconds from the file's start.
std::vector<qint64> ProbeKeyFrames(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                        "packet=pts_time,flags:format=start_time", "-of", "csv=p=0", path});
    p.waitForFinished(60000);
    std::vector<qint64> keys;
    double start = 0;
    const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> f = line.trimmed().split(',');
        if (f.size() == 1 && !f[0].isEmpty())
            start = f[0].toDouble(); // the format's line
        else if (f.size() >= 2 && f[1].contains('K'))
            keys.push_back(std::llround(f[0].toDouble() * 1e6));
    }
    for (qint64& k : keys)
        k -= std::llround(start * 1e6);
    return keys;
}

// Opens the file in a loader and waits for the reading's end.
bool Load(TTimelineLoader& loader, const QString& path)
{
    QSignalSpy done(&loader, &TTimelineLoader::Finished);
    loader.Open(path);
    if (done.isEmpty() && !done.wait(120000))
        return false;
    return done.first().first().toBool();
}

} // namespace

class TimelineMediaTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void keyFramesMatchFfprobe_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("encode");
        QTest::newRow("every 25 pictures, B-frames, MP4")
            << "regular.mp4" << QStringList {"-c:v", "libx264", "-g", "25", "-sc_threshold", "0", "-bf", "2"};
        QTest::newRow("irregular, MP4")
            << "irregular.mp4"
            << QStringList {"-c:v", "libx264", "-g", "1000", "-sc_threshold", "0", "-force_key_frames",
                            "0,0.7,2.9,3.1,3.96,6"};
        QTest::newRow("every 30 pictures, Matroska")
            << "regular.mkv" << QStringList {"-c:v", "libx264", "-g", "30", "-sc_threshold", "0"};
        QTest::newRow("irregular, MPEG-TS (no index)")
            << "irregular.ts"
            << QStringList {"-c:v", "mpeg2video", "-g", "1000", "-force_key_frames", "0,1.2,1.6,5.04"};
    }
    void keyFramesMatchFfprobe()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, encode);
        const QString clip = m_dir.filePath(name);
        QVERIFY(Ffmpeg(QStringList {"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=8", "-f", "lavfi",
                                    "-i", "sine=frequency=440:duration=8"}
                       + encode + QStringList {"-c:a", "aac", clip}));
        const std::vector<qint64> expected = ProbeKeyFrames(clip);
        QVERIFY2(expected.size() >= 4, "ffprobe names too few key frames for the comparison to mean anything");

        TTimelineLoader loader;
        loader.SetCacheFolder(m_dir.filePath(QStringLiteral("cache-") + name));
        QVERIFY(Load(loader, clip));
        const std::vector<qint64>& keys = loader.Data().keys.times();
        QCOMPARE(keys.size(), expected.size());
        for (size_t i = 0; i < keys.size(); ++i)
            QVERIFY2(std::abs(keys[i] - expected[i]) <= 1,
                     qPrintable(QStringLiteral("key %1: %2 against ffprobe's %3").arg(i).arg(keys[i]).arg(expected[i])));
        QVERIFY(!loader.Data().thumbs.empty());
        QVERIFY(loader.Data().peaks.size() / 2 >= 7 * kPeaksPerSecond);
    }

    void storedReadingUsedAgainOrRefused()
    {
        const QString clip = m_dir.filePath(QStringLiteral("stored.mp4"));
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=6", "-f", "lavfi", "-i",
                        "sine=frequency=440:duration=6", "-c:v", "libx264", "-g", "25", "-c:a", "aac", clip}));
        const QString cache = m_dir.filePath(QStringLiteral("cache-stored"));
        TimelineData first;
        {
            TTimelineLoader loader;
            loader.SetCacheFolder(cache);
            QVERIFY(Load(loader, clip));
            first = loader.Data();
        }
        const QString file = cache + QLatin1Char('/') + TimelineSourceId::of(clip).cacheName();
        QVERIFY(QFile::exists(file));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray whole = f.readAll();
        f.close();

        // Each damage is refused: the source is read again, and stored whole again.
        const QList<QByteArray> damaged = {whole.left(whole.size() / 2), QByteArray(), whole.left(40) + QByteArray(100, 'x')};
        for (const QByteArray& bytes : damaged) {
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(bytes);
            f.close();
            TTimelineLoader loader;
            loader.SetCacheFolder(cache);
            QVERIFY(Load(loader, clip));
            QVERIFY(loader.Data().keys == first.keys);
            QCOMPARE(loader.Data().peaks, first.peaks);
            QCOMPARE(loader.Data().thumbs.size(), first.thumbs.size());
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), whole);
            f.close();
        }
        // A stored reading is one of the source as it was: a new time on the file is another.
        QVERIFY(ReadTimelineCache(whole, TimelineSourceId::of(clip)));
        QFile touched(clip);
        QVERIFY(touched.open(QIODevice::ReadWrite));
        QVERIFY(touched.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        touched.close();
        QVERIFY(!ReadTimelineCache(whole, TimelineSourceId::of(clip)));
    }

    // The bar zooms around the picture shown down to single frames, 12 pixels each, with the
    // key frames among them where they are; and out again to the whole source.
    void trackBarZoomsToFramesAndBack()
    {
        TDSTrackBar bar;
        bar.resize(400, 26);
        bar.SetMax(100);
        bar.SetTimeline(100000000, 40000);
        std::vector<qint64> keys;
        for (qint64 t = 29000000; t <= 31000000; t += 40000)
            keys.push_back(t);
        bar.SetKeyFrames(KeyFrameIndex(keys));
        bar.SetFrameTime(30.0);
        QSignalSpy views(&bar, &TDSTrackBar::ViewChanged);
        QWheelEvent wheel(QPointF(200, 10), bar.mapToGlobal(QPointF(200, 10)), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&bar, &wheel);
        QCOMPARE(bar.View().spanUs, 50000000);
        QVERIFY(bar.View().startUs <= 30000000 && bar.View().endUs() > 30000000);
        QCOMPARE(bar.Position(), 0); // zooming is no seek
        bar.Zoom(30);
        QVERIFY(bar.Zoomed());
        QVERIFY(views.count() >= 2);
        const TimelineView v = bar.View();
        QVERIFY(v.startUs <= 30000000 && v.endUs() > 30000000);
        const QList<int> marks = bar.KeyFramePixels();
        QVERIFY(marks.size() >= 30);
        for (int i = 1; i < marks.size(); ++i)
            QVERIFY2(std::abs(marks[i] - marks[i - 1] - 12) <= 1, qPrintable(QString::number(marks[i] - marks[i - 1])));
        QCOMPARE(qRound(bar.PixelOfTime(30000000)), bar.ThumbRect().center().x());
        bar.Zoom(-30);
        QVERIFY(!bar.Zoomed());
        QCOMPARE(bar.View(), (TimelineView {0, 100000000}));
    }

    // Zoomed in closer than the key frames, each picture of the strip is the source's own
    // picture at the slot's time, not its key frame's repeated: every picture of the clip
    // has a grey of its own, and the key frames are 2 s apart.
    void zoomedStripShowsPicturesAtTheirTimes()
    {
        const QString clip = m_dir.filePath(QStringLiteral("greys.mp4"));
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "color=c=black:s=160x90:r=25:d=6", "-vf",
                        "geq=lum='16+mod(N*29,220)':cb=128:cr=128", "-c:v", "libx264", "-crf", "8", "-g", "50",
                        "-keyint_min", "50", "-sc_threshold", "0", "-bf", "2", "-pix_fmt", "yuv420p", clip}));
        TTimelineLoader loader;
        loader.SetCacheFolder(m_dir.filePath(QStringLiteral("cache-greys")));
        QVERIFY(Load(loader, clip));
        QCOMPARE(loader.Data().frameUs, 40000);
        QCOMPARE(loader.Data().keys.size(), 3);

        TTimelineStrip strip;
        strip.resize(600, 60);
        strip.SetLoader(&loader);
        strip.SetView({1320000, 2000000}); // across the key frame at 2 s
        const std::vector<TTimelineStrip::Slot> places = strip.Slots();
        QVERIFY(places.size() >= 8);
        QVERIFY2(places[1].timeUs - places[0].timeUs < 2000000 / 4, "slots no closer than the key frames");
        // The grey (as RGB) of the picture shown at a time; either neighbour right at a change.
        auto grey = [](qint64 frame) { return (std::fmod(double(frame) * 29, 220.0)) * 255.0 / 219.0; };
        auto matches = [&](qint64 tUs, int value) {
            const qint64 frame = tUs / 40000;
            const bool edge = tUs % 40000 < 1000 || tUs % 40000 > 39000;
            return std::abs(value - grey(frame)) <= 8 || (edge && std::abs(value - grey(frame - 1)) <= 8)
                || (edge && std::abs(value - grey(frame + 1)) <= 8);
        };
        QString wrong;
        auto allRight = [&] {
            const QImage shot = strip.grab().toImage();
            const int y = strip.PicturesRect().center().y();
            wrong.clear();
            for (const TTimelineStrip::Slot& place : places) {
                const int value = qRed(shot.pixel(place.x + place.width / 2, y));
                if (!matches(place.timeUs, value))
                    wrong += QStringLiteral(" %1 s: %2 (picture %3 is %4);")
                                 .arg(place.timeUs / 1e6)
                                 .arg(value)
                                 .arg(place.timeUs / 40000)
                                 .arg(grey(place.timeUs / 40000));
            }
            return wrong.isEmpty();
        };
        if (!QTest::qWaitFor(allRight, 60000))
            QFAIL(qPrintable(QStringLiteral("slots not showing their own pictures:") + wrong));
        QVERIFY(loader.Frames().size() >= int(places.size()) - 1);
    }

    // A known pattern of sound: 440 Hz at half scale, silence, then 0.9 of full scale.
    void waveformOfToneAndSilence()
    {
        const QString clip = m_dir.filePath(QStringLiteral("tones.mkv"));
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=160x90:rate=25:duration=3", "-f", "lavfi", "-i",
                        "aevalsrc='if(lt(t,1),0.5,if(lt(t,2),0,0.9))*sin(2*PI*440*t)':s=44100:d=3", "-c:v",
                        "libx264", "-c:a", "pcm_s16le", clip}));
        TTimelineLoader loader;
        loader.SetCacheFolder(m_dir.filePath(QStringLiteral("cache-tones")));
        QVERIFY(Load(loader, clip));
        const QByteArray& peaks = loader.Data().peaks;
        QVERIFY(peaks.size() / 2 >= 590);
        struct Expect {
            double from, to;
            int peak;
        };
        for (const Expect& e : {Expect {0.05, 0.95, 64}, Expect {1.05, 1.95, 0}, Expect {2.05, 2.95, 114}}) {
            for (int i = int(e.from * kPeaksPerSecond); i < int(e.to * kPeaksPerSecond); ++i) {
                const int lo = qint8(peaks[2 * i]);
                const int hi = qint8(peaks[2 * i + 1]);
                QVERIFY2(std::abs(hi - e.peak) <= 2 && std::abs(lo + e.peak) <= 2,
                         qPrintable(QStringLiteral("stretch %1: %2..%3, not +-%4").arg(i).arg(lo).arg(hi).arg(e.peak)));
            }
        }
        // The pictures: in order, of the size given, spread over the source.
        const TimelineData& d = loader.Data();
        QCOMPARE(d.thumbHeight, 45);
        QCOMPARE(d.thumbWidth, 80);
        QVERIFY(d.thumbs.size() >= 1);
        for (size_t i = 0; i < d.thumbs.size(); ++i) {
            QCOMPARE(d.thumbs[i].rgb.size(), 80 * 45 * 3);
            QVERIFY(i == 0 || d.thumbs[i].timeUs > d.thumbs[i - 1].timeUs);
        }
    }
};

VT_TEST_MAIN(TimelineMediaTest)
#include "timeline_media.moc"
