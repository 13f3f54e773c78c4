// Sections tile the marked range, through the job runner, the encoder program and ffmpeg.
// Re-encoded (lossless) sections: the decoded frames of all outputs are exactly the
// source's frames of the range, each once. Stream-copied sections: each starts on a key
// frame, consecutive sections share no packet and miss none, and the audio follows the same
// cuts. The cut points the runner looked up are checked against a full scan of the source.
#include "profiles/ProfileFormat.h"
#include "split/CommandLine.h"
#include "split/SplitJob.h"
#include "frame_runs.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <algorithm>
#include <cmath>

namespace {

constexpr double kHalfMs = 0.0005; // a point this close to a frame time is that frame's
constexpr double kAudioFrame = 1024.0 / 44100.0;

QString AppDir()
{
    const QByteArray env = qgetenv("VT_APP_DIR");
    return (env.isEmpty() ? QDir::currentPath() + "/app" : QString::fromLocal8Bit(env)) + "/";
}

QByteArray Run(const QString& program, const QStringList& args, bool* ok = nullptr)
{
    QProcess p;
    p.start(program, args);
    const bool done = p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (ok)
        *ok = done;
    if (!done)
        qWarning("%s failed: %s", qPrintable(program + ' ' + args.join(' ')), p.readAllStandardError().constData());
    return p.readAllStandardOutput();
}

// One frame (decoded) or one packet (as stored) of a stream, in the order of the file.
struct Item {
    double pts = 0; // seconds
    QByteArray md5;
    qint64 duration = 0; // in the stream's time base
    bool key = false;
};

// framemd5 of the first video ("v") or audio ("a") stream: decoded frames, or packets.
QList<Item> Hashes(const QString& file, const QString& kind, bool packets)
{
    QStringList args{"-nostdin", "-loglevel", "error", "-i", file, "-map", "0:" + kind + ":0"};
    if (packets)
        args << "-c" << "copy";
    else if (kind == "v")
        args << "-pix_fmt" << "yuv420p";
    args << "-f" << "framemd5" << "-";
    double tb = 0;
    QList<Item> items;
    for (const QByteArray& line : Run("ffmpeg", args).split('\n')) {
        if (line.startsWith("#tb 0:")) {
            const QList<QByteArray> r = line.mid(6).trimmed().split('/');
            tb = r.value(0).toDouble() / r.value(1).toDouble();
        }
        const QList<QByteArray> f = line.split(',');
        if (line.startsWith('#') || f.size() < 6)
            continue;
        items.append(Item{f[2].trimmed().toLongLong() * tb, f[5].trimmed(), f[3].trimmed().toLongLong(), false});
    }
    return items;
}

// The source's video packets in file order (framemd5's order too), with their key flags
// and presentation times counted from the format's start, as -ss counts.
QList<Item> SourcePackets(const QString& file)
{
    QList<Item> items = Hashes(file, "v", true);
    QList<Item> listed;
    double start = 0;
    for (const QByteArray& line : Run("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                  "packet=pts_time,duration_time,flags:format=start_time", "-of", "compact", file})
                                      .split('\n')) {
        QHash<QByteArray, QByteArray> f;
        for (const QByteArray& kv : line.split('|'))
            f.insert(kv.left(kv.indexOf('=')), kv.mid(kv.indexOf('=') + 1));
        if (line.startsWith("packet|"))
            listed.append(Item{f.value("pts_time").toDouble(), QByteArray(),
                               qint64(std::llround(f.value("duration_time").toDouble() * 1e6)),
                               f.value("flags").startsWith('K')});
        else if (line.startsWith("format|"))
            start = f.value("start_time").toDouble();
    }
    if (listed.size() != items.size())
        return {};
    for (int k = 0; k < items.size(); ++k)
        items[k] = Item{listed[k].pts - start, items[k].md5, listed[k].duration, listed[k].key}; // duration in µs
    return items;
}

// The source's frames as decoded (in the order they show), with their times.
QList<Item> SourceFrames(const QString& file, const QList<Item>& packets)
{
    QList<Item> frames = Hashes(file, "v", false);
    QList<double> times;
    for (const Item& p : packets)
        times << p.pts;
    std::sort(times.begin(), times.end());
    if (times.size() != frames.size())
        return {};
    for (int k = 0; k < frames.size(); ++k)
        frames[k].pts = times[k];
    return frames;
}

// What the dialog's grids show for a profile: each list at its stored index, each text as is.
GridValueLookup ShownValues(const QString& profile)
{
    const ProfileContent content = ReadProfile(profile);
    return [content](int, const QString& name) {
        for (const ProfileParameter& p : content.parameters) {
            if (p.name != name)
                continue;
            if (!p.list)
                return p.value;
            const QStringList items = SplitItems(p.caption);
            return p.index >= 0 && p.index < items.size() ? items.at(p.index) : QString();
        }
        return QString();
    };
}

QList<double> PlannedPoints(double start, double end, int sections)
{
    const int n = std::max(1, sections);
    QList<double> p;
    for (int i = 0; i < n; ++i)
        p << static_cast<double>(static_cast<long double>(start) + i * (static_cast<long double>(end - start) / n));
    p << end;
    return p;
}

} // namespace

class SplitTilingTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QHash<QString, QString> m_clips; // frame rate -> clip

private slots:
    void initTestCase()
    {
        QVERIFY(QFile::exists(AppDir() + "wmaspi.dll"));
        // 20 s, small, x264 with B-frames and a key frame every 2 s, AAC sound; one in MP4,
        // one in Matroska (whose millisecond time stamps fall beside the frame times).
        for (const QString& rate : {QString("25"), QString("30000/1001")}) {
            const QString clip =
                m_dir.path() + "/clip" + QString(rate).replace('/', '_') + (rate == "25" ? ".mp4" : ".mkv");
            const QString gop = rate == "25" ? "50" : "60";
            bool made = false;
            Run("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                     "testsrc=size=160x120:duration=20:rate=" + rate, "-f", "lavfi", "-i",
                                     "sine=frequency=440:duration=20", "-c:v", "libx264", "-preset", "ultrafast",
                                     "-bf", "3", "-g", gop, "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", clip},
                &made);
            QVERIFY(made);
            m_clips.insert(rate, clip);
        }
        QVERIFY(WriteLosslessProfile(m_dir.path() + "/Lossless.apf"));
    }

    void tiles_data()
    {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("end");
        QTest::addColumn<int>("sections"); // 0: the marked range out
        const QStringList profiles{"Lossless", "MP4 - Stream copy", "MKV - Stream copy"};
        for (const QString& rate : {QString("25"), QString("30000/1001")}) {
            for (const QString& profile : profiles) {
                const QString name = rate + " " + profile;
                QTest::newRow(qPrintable(name + ", 3 sections")) << rate << profile << 2.5 << 12.5 << 3;
                QTest::newRow(qPrintable(name + ", 7 sections")) << rate << profile << 1.23 << 17.9 << 7;
                QTest::newRow(qPrintable(name + ", range out")) << rate << profile << 3.3 << 11.7 << 0;
                QTest::newRow(qPrintable(name + ", past the end")) << rate << profile << 6.0 << 30.0 << 7;
            }
            // The video copied, the sound encoded again.
            QTest::newRow(qPrintable(rate + " MP4 - Stream copy with AAC, 7 sections"))
                << rate << "MP4 - Stream copy/AAC (re-encode)" << 1.23 << 17.9 << 7;
            // The shipped H.264 profile: lossy, so frames are counted; MP4 keeps a constant rate.
            QTest::newRow(qPrintable(rate + " MP4 - H.264, 7 sections")) << rate << "MP4 - H.264 + AAC" << 1.23 << 17.9 << 7;
        }
    }

    void tiles()
    {
        QFETCH(QString, rate);
        QFETCH(QString, profile);
        QFETCH(double, start);
        QFETCH(double, end);
        QFETCH(int, sections);
        const QString source = m_clips.value(rate);
        const QString audioChoice = profile.section('/', 1); // a caption picked for "Audio Codec"
        const bool lossy = profile.startsWith("MP4 - H.264");
        const QString profileFile = profile == "Lossless" ? m_dir.path() + "/Lossless.apf"
                                    : lossy               ? ProfilePath(AppDir(), profile)
                                                          : ProfilePath(AppDir(), profile.section('/', 0, 0) + " - no re-encoding");
        QVERIFY2(QFile::exists(profileFile), qPrintable(profileFile));
        const GridValueLookup shown = ShownValues(profileFile);
        const QString switches = BuildProfileSwitches(profileFile, [&](int sort, const QString& name) {
            return name == "Audio Codec" && !audioChoice.isEmpty() ? audioChoice : shown(sort, name);
        });
        const bool copy = IsStreamCopyProfile(switches);
        QCOMPARE(copy, profile != "Lossless" && !lossy);
        const bool soundCopied = AnalyseProfileSwitches(switches).audioCopied;

        QTemporaryDir out;
        const QString ext = "." + ReadProfile(profileFile).type;
        SplitJob job(SplitJobOrder{source, MakeJobPlan(start, end, sections > 0, sections, source, out.path(), ext),
                                  switches, AppDir() + "wmaspi.dll"});
        QSignalSpy ended(&job, &SplitJob::ended);
        job.Start();
        QVERIFY(ended.wait(300000));
        QCOMPARE(job.Result(), SplitJob::Outcome::Completed);
        QVERIFY2(job.Lookup().problem.isEmpty(), qPrintable(job.Lookup().problem));
        const JobPlan& plan = job.Order().plan;
        QVERIFY(plan.cuts && plan.cuts->probed);
        const int count = plan.count;

        // The sources' frames and packets, and the cut points a full scan gives.
        const QList<Item> packets = SourcePackets(source);
        const QList<Item> frames = SourceFrames(source, packets);
        QVERIFY(!frames.isEmpty());
        double sourceEnd = 0; // where the last frame ends
        for (const Item& p : packets)
            sourceEnd = std::max(sourceEnd, p.pts + p.duration / 1e6);
        const QList<double> planned = PlannedPoints(start, end, sections);
        QList<double> want;
        for (int j = 0; j < planned.size(); ++j) {
            const double p = planned[j];
            double at = sourceEnd;
            if (!copy) {
                for (const Item& f : frames)
                    if (f.pts >= p - kHalfMs) {
                        at = std::min(at, f.pts);
                    }
            } else if (j == 0 || p < sourceEnd - 1e-6) {
                double before = -1, after = -1;
                for (const Item& k : packets) {
                    if (!k.key)
                        continue;
                    if (k.pts <= p + kHalfMs)
                        before = std::max(before, k.pts);
                    else if (after < 0 || k.pts < after)
                        after = k.pts;
                }
                // The end runs on to the key frame at or after it (a whole group of pictures).
                const double end = before >= p - kHalfMs ? before : (after >= 0 ? after : sourceEnd);
                at = j == 0 ? before : (j + 1 == planned.size() ? end : (after >= 0 && after - p < p - before ? after : before));
            }
            want << std::min(at, sourceEnd);
        }
        for (int j = 1; j < want.size(); ++j)
            want[j] = std::clamp(want[j], want[j - 1], want.last());
        // Checked last, so that a fault shows first as what it does to the outputs.
        auto sameCuts = [&] {
            for (int j = 0; j < want.size(); ++j)
                QVERIFY2(std::fabs(plan.cuts->points[j].time - want[j]) < 1e-6,
                         qPrintable(QString("cut %1 at %2, a full scan says %3").arg(j).arg(plan.cuts->points[j].time).arg(want[j])));
        };

        // Written exactly when something lies in the section.
        QStringList written;
        for (int i = 1; i <= count; ++i) {
            const bool has = want[i] > want[i - 1];
            QCOMPARE(QFile::exists(plan.OutputPath(i)), has);
            if (has)
                written << plan.OutputPath(i);
        }
        if (end > 20)
            QVERIFY(written.size() < count);

        if (lossy) {
            // As many frames as the source shows between each section's cuts.
            for (int i = 1; i <= count; ++i) {
                int shown = 0;
                for (const Item& f : frames)
                    shown += f.pts >= want[i - 1] - kHalfMs && f.pts < want[i] - kHalfMs ? 1 : 0;
                QCOMPARE(Hashes(plan.OutputPath(i), "v", false).size(), shown);
            }
            sameCuts();
            return;
        }
        if (!copy) {
            // Every frame of [first cut, last cut) once, in order, and nothing else.
            QList<QByteArray> range;
            for (const Item& f : frames)
                if (f.pts >= want.first() - kHalfMs && f.pts < want.last() - kHalfMs)
                    range << f.md5;
            QList<QByteArray> got;
            for (const QString& file : written) {
                const QList<Item> v = Hashes(file, "v", false);
                const QList<Item> a = Hashes(file, "a", false);
                qint64 samples = 0;
                for (const Item& s : a)
                    samples += s.duration;
                // The sound of a section lasts as long as its pictures, within one audio frame.
                const double seconds = v.size() / (rate == "25" ? 25.0 : 30000.0 / 1001.0);
                QVERIFY2(std::fabs(samples / 44100.0 - seconds) <= kAudioFrame,
                         qPrintable(QString("%1: %2 s of sound, %3 s of pictures").arg(file).arg(samples / 44100.0).arg(seconds)));
                got += Md5s(v);
            }
            int missing = 0, repeated = 0, outside = 0;
            for (const QByteArray& m : range)
                missing += got.contains(m) ? 0 : 1;
            for (const QByteArray& m : got) {
                repeated += got.count(m) > range.count(m) && range.contains(m) ? 1 : 0;
                outside += range.contains(m) ? 0 : 1;
            }
            QCOMPARE(missing, 0);
            QCOMPARE(repeated, 0);
            QCOMPARE(outside, 0);
            QCOMPARE(got, range);
            sameCuts();
            return;
        }

        // Copied: runs of the source's packets that abut, each starting on a key frame.
        const QList<QByteArray> all = Md5s(packets);
        const QList<Item> sound = Hashes(source, "a", true);
        const QList<QByteArray> allSound = Md5s(sound);
        qsizetype next = -1, nextSound = -1;
        for (int i = 1; i <= count; ++i) {
            const QString file = plan.OutputPath(i);
            if (!written.contains(file))
                continue;
            const QList<Item> v = Hashes(file, "v", true);
            const qsizetype at = RunAt(all, Md5s(v));
            QVERIFY2(at >= 0, qPrintable(file + ": its packets are no run of the source's"));
            QVERIFY2(packets[at].key, qPrintable(file + " does not start on a key frame"));
            QVERIFY2(next < 0 || at == next, qPrintable(QString("%1 starts at packet %2, the section before ended at %3")
                                                            .arg(file).arg(at).arg(next)));
            next = at + v.size();
            const double cut = packets[at].pts;

            if (!soundCopied) {
                // Encoded again: as long as the section, give or take the encoder's priming
                // frame (which the profile's shift to zero puts on show) and the last frame's
                // padding.
                qint64 samples = 0;
                for (const Item& d : Hashes(file, "a", false))
                    samples += d.duration;
                const double length = want[i] - want[i - 1];
                QVERIFY2(std::fabs(samples / 44100.0 - length) <= 2 * kAudioFrame,
                         qPrintable(QString("%1: %2 s of sound for %3 s").arg(file).arg(samples / 44100.0).arg(length)));
                continue;
            }
            const QList<Item> a = Hashes(file, "a", true);
            const qsizetype s = RunAt(allSound, Md5s(a));
            QVERIFY2(s >= 0, qPrintable(file + ": its sound is no run of the source's"));
            QVERIFY2(nextSound < 0 || s == nextSound, qPrintable(file + ": its sound does not join the section before"));
            nextSound = s + a.size();
            // The sound starts with the pictures, within one audio frame.
            QVERIFY2(sound[s].pts >= cut - kAudioFrame && sound[s].pts < cut + kAudioFrame,
                     qPrintable(QString("%1: sound from %2 s, pictures from %3 s").arg(file).arg(sound[s].pts).arg(cut)));
        }
        // From the first cut, nothing that shows before the last one is left out.
        for (qsizetype k = 0; k < packets.size(); ++k)
            if (packets[k].pts >= want.first() && packets[k].pts < want.last() - kHalfMs)
                QVERIFY2(k < next, qPrintable(QString("packet %1 (%2 s) is in no section").arg(k).arg(packets[k].pts)));
        sameCuts();
    }

    // Where the source stores the video's decode times, a copied section reads it once;
    // its outputs hold exactly the packets, with the same times, that reading the video and
    // the rest apart gives.
    void oneReadingCopiesAsTwo_data()
    {
        QTest::addColumn<QString>("source"); // made here, by its name
        QTest::addColumn<QString>("profile");
        QTest::addColumn<bool>("once");       // whether the plan may read it once
        QTest::newRow("MP4 into MP4") << "rate25.mp4" << "MP4" << true;
        QTest::newRow("MP4, 2 sounds and subtitles, into MP4") << "subs.mp4" << "MP4" << true;
        QTest::newRow("MPEG-TS into MP4") << "broadcast.ts" << "MP4" << true;
        // Matroska counts in milliseconds: the stretched stamps would be rounded there before
        // they are put back.
        QTest::newRow("MP4 into Matroska") << "rate25.mp4" << "MKV" << false;
        // Matroska stores no decode times: ffmpeg works them out.
        QTest::newRow("Matroska into MP4") << "rate30.mkv" << "MP4" << false;
    }
    void oneReadingCopiesAsTwo()
    {
        QFETCH(QString, source);
        QFETCH(QString, profile);
        QFETCH(bool, once);
        QString clip = m_clips.value(source == "rate25.mp4" ? "25" : "30000/1001");
        if (source == "subs.mp4" || source == "broadcast.ts") {
            clip = m_dir.path() + "/" + source;
            if (!QFile::exists(clip)) {
                QFile srt(m_dir.path() + "/cues.srt");
                QVERIFY(srt.open(QIODevice::WriteOnly));
                srt.write("1\n00:00:01,000 --> 00:00:07,500\nacross a cut\n\n2\n00:00:09,000 --> 00:00:09,800\ninside\n\n");
                srt.close();
                QStringList args{"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=160x120:duration=20:rate=50",
                                 "-f", "lavfi", "-i", "sine=frequency=440:duration=20"};
                if (source == "subs.mp4")
                    args << "-i" << srt.fileName() << "-map" << "0" << "-map" << "1" << "-map" << "1" << "-map" << "2" << "-c:s" << "mov_text";
                else
                    args << "-output_ts_offset" << "95440" << "-c:a" << "mp2";
                args << "-c:v" << "libx264" << "-preset" << "ultrafast" << "-bf" << "3" << "-g" << "60" << "-pix_fmt" << "yuv420p" << clip;
                bool made = false;
                Run("ffmpeg", args, &made);
                QVERIFY(made);
            }
        }
        const QString profileFile = ProfilePath(AppDir(), profile + " - Stream copy - no re-encoding");
        const QString switches = BuildProfileSwitches(profileFile, ShownValues(profileFile));
        QTemporaryDir out;
        SplitJob job(SplitJobOrder{clip, MakeJobPlan(1.3, 17.1, true, 3, clip, out.path(), "." + ReadProfile(profileFile).type),
                                  switches, AppDir() + "wmaspi.dll"});
        QSignalSpy ended(&job, &SplitJob::ended);
        job.Start();
        QVERIFY(ended.wait(300000));
        QCOMPARE(job.Result(), SplitJob::Outcome::Completed);

        // Every stream's packets: time stamps, length, flags and a hash of the data.
        const auto packetsOf = [](const QString& file) {
            return Run("ffprobe", {"-v", "error", "-show_data_hash", "crc32", "-show_entries",
                                   "packet=stream_index,pts,dts,duration,flags,size,data_hash", "-of", "csv=p=0", file})
                .split('\n');
        };
        int readOnce = 0;
        for (int i = 1; i <= job.Order().plan.count; ++i) {
            const PlannedSection planned = PlanSection(job.Order(), i);
            QStringList args = planned.arguments;
            const qsizetype flag = args.indexOf("-video_dts");
            if (flag < 0)
                continue; // the last section runs to the source's end
            ++readOnce;
            args.remove(flag, 2);
            const QString twice = out.path() + "/twice" + planned.section.outputPath.mid(planned.section.outputPath.lastIndexOf('.'));
            args.last() = twice;
            QProcess encoder;
            encoder.start(AppDir() + "wmaspi.dll", args);
            QVERIFY(encoder.waitForFinished(120000));
            QCOMPARE(encoder.exitCode(), 0);
            const QList<QByteArray> one = packetsOf(planned.section.outputPath), two = packetsOf(twice);
            QVERIFY(one.size() > 100);
            QCOMPARE(one, two);
        }
        QCOMPARE(readOnce > 0, once);
    }
};

QTEST_GUILESS_MAIN(SplitTilingTest)
#include "split_tiling.moc"
