// Copied video cut on exact frames, through the job runner, the encoder program and ffmpeg,
// on H.264 and H.265 clips with B-frames and 10 s between key frames: each section holds
// exactly the marked frames at their times, the frames from its first key frame on are the
// source's own, the outputs decode without a word and play in the preview, and the sound
// follows the same cuts. A video the encoder cannot match is cut on key frames, and the
// completion says so.
#include "split_support.h"
#include "profiles/OutputSettingsForm.h"
#include "profiles/ProfileFormat.h"
#include "profiles/ValueListEditor.h"
#include "split/CommandLine.h"
#include "split/SplitJob.h"
#include "frame_runs.h"

#include <QLabel>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace {

constexpr double kHalfMs = 0.0005;
const QString kExact = "Exact frames (re-encode up to the first key frame)";

QByteArray Run(const QString& program, const QStringList& args, QByteArray* errors = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        qWarning("%s failed: %s", qPrintable(program + ' ' + args.join(' ')), p.readAllStandardError().constData());
    if (errors)
        *errors = p.readAllStandardError();
    return p.readAllStandardOutput();
}

struct Frame {
    double time = 0; // presented, seconds from the file's start
    QByteArray md5;
    bool key = false;
};

// The decoded pictures of a file in the order they show, with their times; for the source
// also which of them are key frames.
QList<Frame> Frames(const QString& file)
{
    QList<Frame> frames;
    for (const QByteArray& line : Run("ffmpeg", {"-nostdin", "-v", "error", "-i", file, "-map", "0:v:0", "-pix_fmt",
                                                 "yuv420p", "-f", "framemd5", "-"})
                                      .split('\n'))
        if (!line.startsWith('#') && line.count(',') >= 5)
            frames.append(Frame{0, line.split(',').at(5).trimmed(), false});
    const double start =
        Run("ffprobe", {"-v", "error", "-show_entries", "format=start_time", "-of", "csv=p=0", file}).trimmed().toDouble();
    QList<Frame> shown;
    for (const QByteArray& line : Run("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                  "frame=best_effort_timestamp_time,key_frame", "-of", "csv=p=0", file})
                                      .split('\n')) {
        const QList<QByteArray> f = line.trimmed().split(',');
        if (f.size() >= 2 && f[1] != "N/A")
            shown.append(Frame{f[1].toDouble() - start, QByteArray(), f[0] == "1"});
    }
    if (shown.size() != frames.size())
        return {};
    for (int k = 0; k < frames.size(); ++k) {
        frames[k].time = shown[k].time;
        frames[k].key = shown[k].key;
    }
    return frames;
}

// The first audio stream's packets as stored: md5 and presentation time.
QList<Frame> SoundPackets(const QString& file)
{
    QList<Frame> packets;
    double tb = 0;
    for (const QByteArray& line : Run("ffmpeg", {"-nostdin", "-v", "error", "-i", file, "-map", "0:a:0", "-c", "copy",
                                                 "-f", "framemd5", "-"})
                                      .split('\n')) {
        if (line.startsWith("#tb 0:")) {
            const QList<QByteArray> r = line.mid(6).trimmed().split('/');
            tb = r.value(0).toDouble() / r.value(1).toDouble();
        }
        const QList<QByteArray> f = line.split(',');
        if (!line.startsWith('#') && f.size() >= 6)
            packets.append(Frame{f[2].trimmed().toLongLong() * tb, f[5].trimmed(), false});
    }
    return packets;
}

// How alike two runs of pictures look: ffmpeg's mean PSNR over all planes (dB).
double Psnr(const QString& out, const QString& source, double from, int frames)
{
    QByteArray said;
    Run("ffmpeg", {"-nostdin", "-v", "info", "-i", out, "-ss", QString::number(from, 'f', 6), "-i", source,
                   "-frames:v", QString::number(frames), "-lavfi",
                   "[0:v]setpts=PTS-STARTPTS[a];[1:v]setpts=PTS-STARTPTS[b];[a][b]psnr", "-f", "null", "-"},
        &said);
    const QRegularExpressionMatch m = QRegularExpression("average:([0-9.]+|inf)").match(QString::fromLatin1(said));
    return !m.hasMatch() ? 0 : m.captured(1) == "inf" ? 1000 : m.captured(1).toDouble();
}

} // namespace

class SplitExactTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_media;
    QTemporaryDir m_outputs;
    QHash<QString, QString> m_clips;
    QString m_played; // an output with pictures encoded again before a copy

    QString Clip(const QString& name) const { return m_clips.value(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(QFile::exists(BuiltAppDir() + "wmaspi.dll"));
        // 24 s at 320x180 with B-frames, a key frame every 10 s; x265 also starts its later key
        // frames with pictures shown before them (open GOPs).
        const QStringList x264{"-c:v", "libx264", "-preset", "veryfast", "-bf", "3", "-g", "250", "-sc_threshold", "0"};
        const QStringList x265{"-c:v", "libx265", "-preset", "ultrafast", "-x265-params",
                               "keyint=250:min-keyint=250:scenecut=0:bframes=4:log-level=error"};
        struct Made {
            QString name, rate;
            QStringList video;
            QString pixels, sound;
        };
        const QList<Made> made{{"h264.mp4", "25", x264, "yuv420p", "aac"},
                               {"h264.mkv", "30000/1001", x264, "yuv420p", "aac"},
                               {"h265.mp4", "25", x265, "yuv420p", "aac"},
                               {"h265.mkv", "25", x265, "yuv420p10le", "libopus"},
                               {"mpeg1.avi", "25", {"-c:v", "mpeg1video", "-bf", "2", "-g", "100"}, "yuv420p", "libmp3lame"}};
        for (const Made& m : made) {
            const QString path = m_media.path() + "/" + m.name;
            QProcess p;
            p.start("ffmpeg", QStringList{"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                          "testsrc2=size=320x180:duration=24:rate=" + m.rate, "-f", "lavfi", "-i",
                                          "sine=frequency=440:duration=24:sample_rate=48000"}
                                  + m.video + QStringList{"-pix_fmt", m.pixels, "-c:a", m.sound, "-shortest", path});
            QVERIFY(p.waitForFinished(300000) && p.exitCode() == 0);
            m_clips.insert(m.name, path);
        }
    }

    void sectionsHoldExactlyTheMarkedFrames_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("end");
        QTest::addColumn<int>("sections"); // 0: the range out
        QTest::newRow("H.264 in MP4, 3 sections") << "h264.mp4" << "MP4" << 1.23 << 23.5 << 3;
        QTest::newRow("H.264 in Matroska at 29.97, 4 sections") << "h264.mkv" << "MKV" << 0.5 << 23.0 << 4;
        QTest::newRow("H.265 in MP4, the range out") << "h265.mp4" << "MP4" << 3.3 << 17.7 << 0;
        QTest::newRow("10-bit H.265 in Matroska, cuts on key frames") << "h265.mkv" << "MKV" << 10.0 << 22.0 << 3;
        QTest::newRow("H.264 into Matroska, inside one key-frame interval") << "h264.mp4" << "MKV" << 2.0 << 6.0 << 2;
    }

    void sectionsHoldExactlyTheMarkedFrames()
    {
        QFETCH(QString, clip);
        QFETCH(QString, profile);
        QFETCH(double, start);
        QFETCH(double, end);
        QFETCH(int, sections);
        const QString source = Clip(clip);
        const QString profileFile = ProfilePath(BuiltAppDir(), profile + " - Stream copy - no re-encoding");
        const QString switches = StoredProfileSwitches(profileFile, kExact);
        QVERIFY2(switches.contains("-cut_points exact"), qPrintable(switches));
        QVERIFY(AnalyseProfileSwitches(switches).exactCuts);

        const QString out = m_outputs.path() + "/" + QString(QTest::currentDataTag()).replace(' ', '_');
        QVERIFY(QDir().mkpath(out));
        SplitJob job(SplitJobOrder{source, MakeJobPlan(start, end, sections > 0, sections, source, out,
                                                      "." + ReadProfile(profileFile).type),
                                  switches, BuiltAppDir() + "wmaspi.dll"});
        QList<int> bars;
        connect(&job, &SplitJob::sectionDone, this, [&](const JobSection&) { bars << job.CurrentPosition(); });
        QSignalSpy ended(&job, &SplitJob::ended);
        job.Start();
        QVERIFY(ended.wait(600000));
        QCOMPARE(job.Result(), SplitJob::Outcome::Completed);
        // Cut on frames, where they were marked: nothing to tell.
        QVERIFY2(job.CompletionNotes().isEmpty(), qPrintable(job.CompletionNotes().join('\n')));
        const JobPlan& plan = job.Order().plan;
        QCOMPARE(plan.cuts->kind, CutKind::Frames);
        QCOMPARE(bars, QList<int>(plan.count, 100));

        // The section boundaries: the first frame at or after each planned point.
        const QList<Frame> frames = Frames(source);
        const QList<Frame> sound = SoundPackets(source);
        QVERIFY(!frames.isEmpty() && !sound.isEmpty());
        const double audioFrame = sound[1].time - sound[0].time;
        QList<double> cuts;
        for (const double p : plan.PlannedPoints()) {
            double at = frames.last().time + 1;
            for (const Frame& f : frames)
                if (f.time >= p - kHalfMs)
                    at = std::min(at, f.time);
            cuts << at;
        }
        qsizetype nextSound = -1;
        for (int i = 1; i <= plan.count; ++i) {
            const QString file = plan.OutputPath(i);
            const double from = cuts[i - 1], to = cuts[i];
            QList<Frame> want;
            for (const Frame& f : frames)
                if (f.time >= from - kHalfMs && f.time < to - kHalfMs)
                    want << f;
            const QList<Frame> got = Frames(file);
            QCOMPARE(got.size(), want.size());

            QByteArray errors;
            Run("ffmpeg", {"-nostdin", "-v", "error", "-i", file, "-f", "null", "-"}, &errors);
            QVERIFY2(errors.isEmpty(), errors.constData());

            // At the source's times, counted from the section's start, which is 0.
            QVERIFY2(std::fabs(got[0].time) < 1e-6, qPrintable(QString("%1 starts at %2 s").arg(file).arg(got[0].time)));
            for (int k = 0; k < want.size(); ++k)
                QVERIFY2(std::fabs(got[k].time - (want[k].time - from)) < 0.001,
                         qPrintable(QString("%1: frame %2 at %3 s, the source's at %4 s").arg(file).arg(k).arg(got[k].time).arg(want[k].time - from)));

            // From the first key frame on, up to the last one, the source's own pictures; the
            // rest encoded again, at most one key-frame interval, and looking like the source.
            int firstKey = -1, lastKey = -1, again = 0;
            for (int k = 0; k < want.size(); ++k) {
                if (want[k].key) {
                    firstKey = firstKey < 0 ? k : firstKey;
                    lastKey = k;
                }
                again += got[k].md5 != want[k].md5 ? 1 : 0;
            }
            for (int k = std::max(firstKey, 0); firstKey >= 0 && k <= std::max(firstKey, lastKey - 1); ++k)
                QVERIFY2(got[k].md5 == want[k].md5, qPrintable(QString("%1: copied frame %2 differs").arg(file).arg(k)));
            QVERIFY2(again <= 260, qPrintable(QString("%1: %2 frames encoded again").arg(file).arg(again)));
            if (again > 0) {
                const double psnr = Psnr(file, source, from, int(want.size()));
                QVERIFY2(psnr > 38, qPrintable(QString("%1: %2 dB").arg(file).arg(psnr)));
            }
            if (m_played.isEmpty() && firstKey > 0 && again >= firstKey)
                m_played = file; // encoded again before a copy

            // The sound: a run of the source's packets, joining the section before, starting
            // with the pictures within one audio frame.
            const QList<Frame> a = SoundPackets(file);
            const qsizetype s = RunAt(Md5s(sound), Md5s(a));
            QVERIFY2(s >= 0, qPrintable(file + ": its sound is no run of the source's"));
            QVERIFY2(nextSound < 0 || s == nextSound, qPrintable(file + ": its sound does not join the section before"));
            nextSound = s + a.size();
            QVERIFY2(std::fabs(sound[s].time - from) < audioFrame,
                     qPrintable(QString("%1: sound from %2 s, pictures from %3 s").arg(file).arg(sound[s].time).arg(from)));
        }
    }

    // An output whose pictures were partly encoded again plays in the program's preview:
    // after seeks into each part, the picture shown is the one at that time.
    void playsInThePreview()
    {
        if (m_played.isEmpty())
            QSKIP("no output with pictures encoded again before a copy");
        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        QList<double> times;
        for (const Frame& f : Frames(m_played))
            times << f.time;
        QVERIFY(times.size() > 10);
        OpenSourceAndWait(m_played);
        QElapsedTimer t;
        t.start();
        while (MainForm->FilterGraph->SourceLength() <= 0 && t.elapsed() < 30000)
            QTest::qWait(20);
        MainForm->sbtnPausePreviewClick();
        for (const double at : {0.0, times[2] + 0.01, times[times.size() / 2], times[times.size() - 3], times.last(), 0.5}) {
            MainForm->FilterGraph->SeekExact(at);
            t.restart();
            while (MainForm->FilterGraph->SeekPending() && t.elapsed() < 30000)
                QTest::qWait(5);
            const double expected = *(std::upper_bound(times.begin(), times.end(), at + 1e-6) - 1);
            QVERIFY2(std::fabs(MainForm->FilterGraph->CurrentFrameTime() - expected) < 1e-3,
                     qPrintable(QString("at %1 s shows %2 s, expected %3 s").arg(at).arg(MainForm->FilterGraph->CurrentFrameTime()).arg(expected)));
            QVERIFY(!MainForm->FilterGraph->CurrentImage().isNull());
        }
        QVERIFY2(log.shown.isEmpty(), qPrintable(log.lastText()));
    }

    // Joined recordings whose pictures change size midway match no single encoder: the
    // section fails with the reason, not a library's "Generic error".
    void aVideoThatChangesItsPicturesSaysWhere()
    {
        const QString joined = m_media.path() + "/joined.ts", list = m_media.path() + "/joined.txt";
        QFile f(list);
        QVERIFY(f.open(QIODevice::WriteOnly));
        for (const QString size : {"320x180", "160x120"}) {
            const QString part = m_media.path() + "/part" + size + ".ts";
            Run("ffmpeg", {"-nostdin", "-y", "-f", "lavfi", "-i", "testsrc2=rate=25:duration=4:size=" + size, "-c:v",
                           "libx264", "-bf", "3", "-g", "50", "-pix_fmt", "yuv420p", part});
            f.write("file '" + part.toUtf8() + "'\n");
        }
        f.close();
        Run("ffmpeg", {"-nostdin", "-y", "-f", "concat", "-safe", "0", "-i", list, "-c", "copy", joined});
        QProcess p;
        p.start(BuiltAppDir() + "wmaspi.dll", {"-y", "-i", joined, "-ss", "3.3", "-t", "2.8", "-c:v", "copy",
                                               "-cut_points", "exact", m_outputs.path() + "/joined.mp4"});
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitCode(), 1);
        QCOMPARE(p.readAllStandardError().trimmed(),
                 QByteArray("wmaspi.dll: the video changes its picture size or format near 00:00:06.040; it cannot be "
                            "cut on exact frames there (choose Key frames as Cut points)"));
    }

    // MPEG-1 video (video CDs) cannot be matched: the window's job cuts it on key frames, the
    // sections still tile without overlap, and the completion says why.
    void otherCodecFallsBackToKeyFrames()
    {
        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        QTemporaryDir out;
        MainForm->EncoderPath = BuiltAppDir() + "wmaspi.dll";
        QVERIFY(SelectProfile("MP4 - Stream copy"));
        opSettingForm->GridForSort(1)->SetValue("Cut points", kExact);
        QVERIFY(PrepareJob(Clip("mpeg1.avi"), "00:00:02", "00:00:21.5", 3, out.path()));
        PressStart();
        const QString text = log.lastText();
        QVERIFY2(text.startsWith("Splitting is completed successfully.")
                     && text.contains("Sections 1 to 3 were cut on key frames instead of exact frames (exact cuts "
                                      "need H.264, H.265, MPEG-2, MPEG-4 Part 2, VP9 or AV1 video, and this video is "
                                      "MPEG-1 video): they begin at 00:00:00.000, 00:00:07.960 and 00:00:11.920."),
                 qPrintable(text));
        QCOMPARE(MainForm->labCurProgress->text(), QString("100%"));

        // Each section a run of the source's packets from a key frame, abutting.
        const QString source = Clip("mpeg1.avi");
        const QList<QByteArray> all = Md5s(SoundPackets(source)); // the sound follows the video's cuts
        const QStringList copy{"-nostdin", "-v", "error", "-map", "0:v:0", "-c", "copy", "-f", "framemd5", "-"};
        QList<QByteArray> video;
        for (const QByteArray& l : Run("ffmpeg", QStringList{"-i", source} + copy).split('\n'))
            if (!l.startsWith('#') && l.count(',') >= 5)
                video << l.split(',').at(5).trimmed();
        qsizetype next = 0, nextSound = -1;
        for (int i = 1; i <= 3; ++i) {
            const QString file = out.path() + QString("/mpeg1_Clip%1.mp4").arg(i);
            QList<QByteArray> v;
            for (const QByteArray& l : Run("ffmpeg", QStringList{"-i", file} + copy).split('\n'))
                if (!l.startsWith('#') && l.count(',') >= 5)
                    v << l.split(',').at(5).trimmed();
            QCOMPARE(RunAt(video, v), next);
            next += v.size();
            const QList<QByteArray> a = Md5s(SoundPackets(file));
            const qsizetype s = RunAt(all, a);
            QVERIFY2(s >= 0 && (nextSound < 0 || s == nextSound), qPrintable(QString("section %1: sound packets from %2, not %3").arg(i).arg(s).arg(nextSound)));
            nextSound = s + a.size();
        }
    }
};

VT_TEST_MAIN(SplitExactTest)
#include "split_exact.moc"
