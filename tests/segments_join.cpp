// Segments cut and joined through the job runner, the encoder program and ffmpeg: the joined
// file holds exactly the segments' pictures in order (each checked against the source's
// pictures), its time stamps run on without gap or overlap, its sound stays with the pictures
// at every join, and ffmpeg decodes it without a word. Separate files carry the segments'
// names, and nothing of a job is left behind, also when it is stopped.
#include "CoreTestSupport.h"
#include "segments_support.h"

#include "profiles/ProfileFormat.h"
#include "queue/QueueRunner.h"
#include "segments/SegmentJob.h"
#include "split/CommandLine.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <cmath>

namespace {

constexpr int kFps = 25;
constexpr double kSeconds = 10;
constexpr int kThumb = 64 * 48; // bytes of one small grey picture
// The sound beeps for the first half of every half second, so its edges show where it lies.
constexpr double kBeep = 0.5;

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

// Decoded pictures: their hashes, and small grey copies to tell a picture encoded again from
// its neighbours.
struct Pictures {
    QList<QByteArray> md5;
    QByteArray thumbs;
    QList<double> times;
};

Pictures Decode(const QString& file)
{
    Pictures p;
    for (const QByteArray& line : Run("ffmpeg", {"-nostdin", "-v", "error", "-i", file, "-map", "0:v:0", "-pix_fmt",
                                                 "yuv420p", "-f", "framemd5", "-"})
                                      .split('\n'))
        if (!line.startsWith('#') && line.count(',') >= 5)
            p.md5 << line.split(',').at(5).trimmed();
    p.thumbs = Run("ffmpeg", {"-nostdin", "-v", "error", "-i", file, "-map", "0:v:0", "-vf", "scale=64:48", "-pix_fmt",
                              "gray", "-f", "rawvideo", "-"});
    for (const QByteArray& line : Run("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                  "frame=best_effort_timestamp_time", "-of", "csv=p=0", file})
                                      .split('\n'))
        if (!line.trimmed().isEmpty())
            p.times << line.trimmed().split(',').first().toDouble();
    return p;
}

double Distance(const Pictures& a, int i, const Pictures& b, int j)
{
    double sum = 0;
    for (int k = 0; k < kThumb; ++k)
        sum += std::abs(int(uchar(a.thumbs[i * kThumb + k])) - int(uchar(b.thumbs[j * kThumb + k])));
    return sum / kThumb;
}

// Where the beeps of a file's first sound track begin, in seconds: each sample placed at its
// time stamp (as a player does), from the file's time 0.
QList<double> BeepStarts(const QString& file)
{
    const QByteArray pcm = Run("ffmpeg", {"-nostdin", "-v", "error", "-i", file, "-map", "0:a:0", "-af",
                                          "aresample=48000:async=1:min_hard_comp=0.001:first_pts=0", "-ac", "1", "-f",
                                          "s16le", "-"});
    const auto* samples = reinterpret_cast<const qint16*>(pcm.constData());
    const qsizetype n = pcm.size() / 2;
    constexpr int kWindow = 96; // 2 ms
    QList<double> starts;
    bool on = false;
    for (qsizetype w = 0; w + kWindow <= n; w += kWindow) {
        double e = 0;
        for (int k = 0; k < kWindow; ++k)
            e = std::max(e, double(std::abs(samples[w + k])));
        const bool now = e > 8000;
        if (now && !on)
            starts << double(w) / 48000.0;
        on = now;
    }
    return starts;
}

const QList<Segment> kSegments{{1.2, 2.6, "Intro, one"}, {4.0, 5.52, "Middle"}, {7.08, 8.0, ""}};

} // namespace

class SegmentsJoinTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_media;
    QString m_source;
    Pictures m_pictures;
    QList<double> m_beeps; // where the source's beeps begin

    SegmentJobOrder Order(const QString& profile, const QString& cutPoints, SegmentOutput output, const QString& folder)
    {
        SegmentJobOrder o;
        o.base.sourcePath = m_source;
        o.base.profileSwitches = StoredProfileSwitches(BuiltAppDir() + "Profiles/" + profile + ".apf", cutPoints);
        o.base.encoderPath = BuiltAppDir() + "wmaspi.dll";
        o.outputFolder = folder + "/";
        o.baseName = "hol";
        o.extension = ".mp4";
        o.segments = kSegments;
        o.output = output;
        o.chaptersAtJoins = true;
        return o;
    }

    static SegmentJob::Outcome RunJob(SegmentJob& job)
    {
        QSignalSpy ended(&job, &SegmentJob::ended);
        job.Start();
        if (!ended.wait(600000))
            return SegmentJob::Outcome::None;
        return job.Result();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QFile::exists(BuiltAppDir() + "wmaspi.dll"));
        m_source = m_media.filePath("hol.mp4");
        // B-frames, a key frame every second, and a beep every half second.
        Run("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                       QString("testsrc2=size=320x240:rate=%1").arg(kFps), "-f", "lavfi", "-i",
                       QString("aevalsrc=if(lt(mod(t\\,%1)\\,%2)\\,0.8*sin(2*PI*880*t)\\,0):s=48000").arg(kBeep).arg(kBeep / 2),
                       "-t", QString::number(kSeconds), "-c:v", "libx264", "-preset", "veryfast", "-bf", "2", "-g",
                       QString::number(kFps), "-sc_threshold", "0", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a",
                       "128k", m_source});
        m_pictures = Decode(m_source);
        m_beeps = BeepStarts(m_source);
        QCOMPARE(m_beeps.size(), int(kSeconds / kBeep));
        QCOMPARE(m_pictures.md5.size(), int(kSeconds * kFps));
        QCOMPARE(m_pictures.thumbs.size(), qsizetype(kSeconds * kFps * kThumb));
    }

    void joined_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("cutPoints");
        QTest::addColumn<bool>("keyFrames"); // each segment widened to the key frames around it
        QTest::addColumn<bool>("copied");    // the pictures are the source's, bit for bit
        QTest::newRow("stream copy, exact frames") << "MP4 - Stream copy - no re-encoding"
                                                   << "Exact frames (re-encode up to the first key frame)" << false << false;
        QTest::newRow("stream copy, key frames") << "MP4 - Stream copy - no re-encoding" << "Key frames (fastest)" << true << true;
        QTest::newRow("re-encoded") << "MP4 - H.264 + AAC" << "" << false << false;
    }

    void joined()
    {
        QFETCH(QString, profile);
        QFETCH(QString, cutPoints);
        QFETCH(bool, keyFrames);
        QFETCH(bool, copied);
        QTemporaryDir out;
        SegmentJob job(Order(profile, cutPoints, SegmentOutput::Joined, out.path()));
        QCOMPARE(RunJob(job), SegmentJob::Outcome::Completed);
        const QString joined = out.filePath("hol_Joined.mp4");
        QCOMPARE(job.Written(), QStringList{joined});
        // The pieces, the list and the chapters are gone.
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"hol_Joined.mp4"});

        // The source's pictures each segment holds, in order, and where each join falls.
        QList<int> expected;
        QList<double> joins;
        for (const Segment& s : kSegments) {
            const int first = keyFrames ? int(std::floor(s.start)) * kFps : int(std::ceil(s.start * kFps - 0.0125));
            const int end = keyFrames ? int(std::ceil(s.end)) * kFps : int(std::ceil(s.end * kFps - 0.0125));
            for (int i = first; i < end; ++i)
                expected << i;
            joins << double(expected.size()) / kFps;
        }
        const Pictures got = Decode(joined);
        QCOMPARE(got.md5.size(), expected.size());
        int same = 0;
        for (int k = 0; k < expected.size(); ++k) {
            const int want = expected[k];
            if (got.md5[k] == m_pictures.md5[want]) {
                ++same;
                continue;
            }
            QVERIFY2(!copied, qPrintable(QString("picture %1 is not the source's %2").arg(k).arg(want)));
            // Encoded again: closer to its own source picture than to either neighbour.
            const double own = Distance(got, k, m_pictures, want);
            for (int n : {want - 1, want + 1})
                if (n >= 0 && n < m_pictures.md5.size())
                    QVERIFY2(own < Distance(got, k, m_pictures, n),
                             qPrintable(QString("picture %1 looks more like source picture %2 than %3").arg(k).arg(n).arg(want)));
            QVERIFY2(own < 4, qPrintable(QString("picture %1 is far from source picture %2 (%3)").arg(k).arg(want).arg(own)));
        }
        if (!cutPoints.isEmpty())
            QVERIFY2(same >= expected.size() / 2, qPrintable(QString("only %1 pictures copied").arg(same))); // the rest only near the cuts

        // Time stamps run on: one picture every 1/25 s from 0, across the joins too.
        QCOMPARE(got.times.size(), expected.size());
        for (int k = 0; k < got.times.size(); ++k)
            QVERIFY2(std::abs(got.times[k] - double(k) / kFps) < 0.002,
                     qPrintable(QString("picture %1 shows at %2").arg(k).arg(got.times[k])));

        // The sound stays with the pictures: every beep of a segment starts where it started in
        // the source, counted from the segment's place in the joined file, within one sound frame.
        constexpr double kSoundFrame = 1024.0 / 44100.0;
        const QList<double> beeps = BeepStarts(joined);
        double offset = 0;
        int checked = 0;
        for (int s = 0; s < kSegments.size(); ++s) {
            const double from = double(expected[s == 0 ? 0 : int(std::lround(joins[s - 1] * kFps))]) / kFps;
            const double to = from + joins[s] - offset;
            for (double b : m_beeps) {
                if (b - from < 0.03 || b > to - 0.05)
                    continue; // a beep cut at a join has no edge of its own
                const double at = offset + (b - from);
                double nearest = 1e9;
                for (double x : beeps)
                    if (std::abs(x - at) < std::abs(nearest))
                        nearest = x - at;
                QVERIFY2(std::abs(nearest) <= kSoundFrame,
                         qPrintable(QString("the beep of source time %1 is %2 s off at %3").arg(b).arg(nearest).arg(at)));
                ++checked;
            }
            offset = joins[s];
        }
        QVERIFY(checked >= 5);
        // No more sound than pictures, give or take a sound frame.
        const double video = double(expected.size()) / kFps;
        const double sound = Run("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries", "stream=duration",
                                             "-of", "csv=p=0", joined}).trimmed().toDouble();
        QVERIFY2(std::abs(sound - video) <= 2 * kSoundFrame, qPrintable(QString("sound %1 s, pictures %2 s").arg(sound).arg(video)));

        // A chapter at every join.
        const QList<QByteArray> chapters = Run("ffprobe", {"-v", "error", "-show_entries", "chapter=start_time,end_time",
                                                           "-of", "csv=p=0", joined}).trimmed().split('\n');
        QCOMPARE(chapters.size(), kSegments.size());
        for (int s = 1; s < kSegments.size(); ++s)
            QVERIFY(std::abs(chapters[s].split(',').first().toDouble() - joins[s - 1]) < 0.002);

        QByteArray errors;
        Run("ffmpeg", {"-nostdin", "-v", "error", "-i", joined, "-f", "null", "-"}, &errors);
        QVERIFY2(errors.trimmed().isEmpty(), errors.constData());
    }

    void separateFilesAreNamed()
    {
        QTemporaryDir out;
        SegmentJob job(Order("MP4 - Stream copy - no re-encoding", "Key frames (fastest)", SegmentOutput::Separate, out.path()));
        QCOMPARE(RunJob(job), SegmentJob::Outcome::Completed);
        const QStringList names{"hol_Clip3.mp4", "hol_Intro, one.mp4", "hol_Middle.mp4"};
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), names);
        QCOMPARE(job.Written().size(), 3);
        QVERIFY(std::abs(ProbeDuration(out.filePath("hol_Middle.mp4")) - 2.0) < 0.05); // 4 s to the key frame at 6 s
    }

    // A job put in the queue, kept in its file across a restart and run from there, writes what
    // the same segments give from the window; a killed join's pieces in that folder go first.
    void queuedJobCutsAsTheWindowDoes()
    {
        const QString profile = "MP4 - Stream copy - no re-encoding";
        QTemporaryDir direct, queued;
        SegmentJob job(Order(profile, "Key frames (fastest)", SegmentOutput::Joined, direct.path()));
        QCOMPARE(RunJob(job), SegmentJob::Outcome::Completed);
        QVERIFY(!LeaveStaleJoin(queued.path(), {"vtjoin-%1-1.mp4", "vtjoin-%1.txt"}).isEmpty());

        QueueJob q;
        q.sourcePath = m_source;
        q.profileName = profile;
        q.profilePath = BuiltAppDir() + "Profiles/" + profile + ".apf";
        q.profileSwitches = job.Order().base.profileSwitches;
        q.extension = ".mp4";
        q.outputDir = queued.path();
        q.segments = kSegments;
        q.segmentOutput = SegmentOutput::Joined;
        q.chaptersAtJoins = true;
        JobQueue before;
        before.Add(q);
        const QString file = queued.filePath("Queue.json");
        QVERIFY(before.Save(file));
        JobQueue queue;
        QVERIFY(queue.Load(file));
        QVERIFY(QFile::remove(file));
        QueueRunner runner(queue, BuiltAppDir() + "wmaspi.dll");
        QSignalSpy idle(&runner, &QueueRunner::idle);
        runner.Start();
        QVERIFY(idle.wait(600000));
        QCOMPARE(queue.Jobs().first().status, QueueJob::Status::Done);
        QCOMPARE(QDir(queued.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"hol_Joined.mp4"});

        const QString a = direct.filePath("hol_Joined.mp4"), b = queued.filePath("hol_Joined.mp4");
        QCOMPARE(Decode(b).md5, Decode(a).md5);
        const QStringList what{"-v", "error", "-show_entries", "chapter=start_time,end_time:stream=codec_name,duration",
                               "-of", "csv=p=0"};
        QCOMPARE(Run("ffprobe", what + QStringList{b}), Run("ffprobe", what + QStringList{a}));
    }

    // Paused (as a queue's Pause does) in its first segment, a job begins no other until it
    // goes on, and then ends as it would have.
    void pausedJobWaits()
    {
        QTemporaryDir out;
        SegmentJob job(Order("MP4 - Stream copy - no re-encoding", "Key frames (fastest)", SegmentOutput::Joined, out.path()));
        QList<int> started;
        connect(&job, &SegmentJob::segmentStarted, &job, [&](int i) {
            started << i;
            if (i == 1)
                job.Pause();
        });
        QSignalSpy ended(&job, &SegmentJob::ended);
        job.Start();
        QVERIFY(QTest::qWaitFor([&] { return !started.isEmpty(); }, 60000));
        QTest::qWait(1500);
        QCOMPARE(started, QList<int>{1});
        QCOMPARE(ended.size(), 0);
        QVERIFY(job.IsPaused());
        job.Resume();
        QVERIFY(ended.size() == 1 || ended.wait(600000));
        QCOMPARE(job.Result(), SegmentJob::Outcome::Completed);
        QCOMPARE(started, (QList<int>{1, 2, 3}));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"hol_Joined.mp4"});
    }

    void stoppedJobLeavesNothing()
    {
        QTemporaryDir out;
        SegmentJob job(Order("MP4 - H.264 + AAC", "", SegmentOutput::Joined, out.path()));
        connect(&job, &SegmentJob::segmentStarted, &job, [&job](int i) {
            if (i == 2)
                QMetaObject::invokeMethod(&job, &SegmentJob::Cancel, Qt::QueuedConnection);
        });
        QCOMPARE(RunJob(job), SegmentJob::Outcome::Cancelled);
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
    }

    void encoderRefusesForeignLists_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::newRow("another folder") << QByteArray("ffconcat version 1.0\nfile '../secret.mp4'\n");
        QTest::newRow("absolute path") << QByteArray("ffconcat version 1.0\nfile '/etc/passwd'\n");
        QTest::newRow("protocol") << QByteArray("ffconcat version 1.0\nfile 'http://example.com/a.mp4'\n");
        QTest::newRow("options of the demuxer") << QByteArray("ffconcat version 1.0\nfile 'a.mp4'\noption protocol_whitelist http\n");
        QTest::newRow("hidden file") << QByteArray("ffconcat version 1.0\nfile '.a.mp4'\n");
        QTest::newRow("no version") << QByteArray("file 'a.mp4'\n");
        QTest::newRow("not a number") << QByteArray("ffconcat version 1.0\nfile 'a.mp4'\noutpoint 1e9\n");
    }

    void encoderRefusesForeignLists()
    {
        QFETCH(QByteArray, list);
        QTemporaryDir out;
        QFile f(out.filePath("vtjoin-x.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(list) == list.size());
        f.close();
        QProcess p;
        p.start(BuiltAppDir() + "wmaspi.dll", {"-join", f.fileName(), out.filePath("joined.mp4")});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("not one the program wrote"));
        QVERIFY(!QFile::exists(out.filePath("joined.mp4")));
    }
};

QTEST_GUILESS_MAIN(SegmentsJoinTest)
#include "segments_join.moc"
