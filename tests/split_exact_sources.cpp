// Exact cuts on the kinds of video people cut: x264 with open GOPs and with intra refresh (no
// IDR picture after the first), x265 with its default open GOPs (CRA and RASL pictures) and
// with closed GOPs (IDR with RADL pictures), a variable-frame-rate source into MP4, and a
// subtitled Matroska file with two sounds. Each is cut as one range and in 3 sections through
// the job runner, the encoder program and ffmpeg, and every section is checked picture by
// picture: the source's own picture at that time (copied) or one close to it (encoded again),
// the range's count and times, every stream starting at 0, a constant rate kept constant in
// MP4, no word from ffmpeg's decoder, the same pictures from a second decoder (GStreamer's
// openh264 / libde265), and a note where a section had to be encoded again as a whole.
#include "CoreTestSupport.h"
#include "profiles/ProfileFormat.h"
#include "split/CommandLine.h"
#include "split/SplitJob.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <algorithm>
#include <cmath>

namespace {

constexpr double kHalfMs = 0.0005;
// How long each cue of the subtitled source shows.
constexpr double kCueShown = 1.5;
// Pictures encoded again: each at least this close to the source's (dB, all planes). A
// picture shown from the wrong time or decoded from missing references is far below.
constexpr double kLeastPsnr = 32;
// MPEG-2, MPEG-4 Part 2, VP9 and AV1 are encoded again at a quality the eye does not tell apart.
constexpr double kVisuallyLossless = 40;
// Pictures at a join of key-frame copies that B-pictures may spoil or lose.
constexpr qsizetype kOpenGopLead = 2;
const QString kExact = "Exact frames (re-encode up to the first key frame)";
const QString kEncodedWhole = "every picture was encoded again";

QString AppDir()
{
    const QByteArray env = qgetenv("VT_APP_DIR");
    return (env.isEmpty() ? QDir::currentPath() + "/app" : QString::fromLocal8Bit(env)) + "/";
}

QByteArray Run(const QString& program, const QStringList& args, QByteArray* errors = nullptr, bool* ok = nullptr)
{
    QProcess p;
    p.start(program, args);
    const bool done = p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (ok)
        *ok = done;
    const QByteArray err = p.readAllStandardError();
    if (errors)
        *errors = err;
    if (!done)
        qWarning("%s failed: %s", qPrintable(program + ' ' + args.join(' ')), err.constData());
    return p.readAllStandardOutput();
}

struct Frame {
    double time = 0; // shown, seconds
    QByteArray md5;  // of the picture as 8-bit 4:2:0
    bool key = false;
    QByteArray fields; // interlaced, top field first (ffprobe's 0/1 each)
};

// The decoded pictures of a file in the order they show, at their times (as stored: no
// start subtracted), each picture once whatever the rate.
QList<Frame> Frames(const QString& file)
{
    // AVI keeps no presentation times for the pictures B-frames refer to: each is given the
    // next one's decode time, where it shows (the last one would have none).
    const QStringList times = file.endsWith(".avi") ? QStringList{"-fflags", "+genpts"} : QStringList();
    QList<QByteArray> md5s;
    for (const QByteArray& line : Run("ffmpeg", QStringList{"-nostdin", "-v", "error"} + times + QStringList{"-i", file, "-map", "0:v:0", "-fps_mode",
                                                 "passthrough", "-pix_fmt", "yuv420p", "-f", "framemd5", "-"})
                                      .split('\n'))
        if (!line.startsWith('#') && line.count(',') >= 5)
            md5s << line.split(',').at(5).trimmed();
    QList<Frame> frames;
    for (const QByteArray& line : Run("ffprobe", QStringList{"-v", "error"} + times + QStringList{"-select_streams", "v:0", "-show_entries",
                                                  "frame=best_effort_timestamp_time,key_frame,interlaced_frame,top_field_first", "-of",
                                                  "csv=p=0", file})
                                      .split('\n')) {
        const QList<QByteArray> f = line.trimmed().split(',');
        if (f.size() >= 4 && f[1] != "N/A")
            frames << Frame{f[1].toDouble(), QByteArray(), f[0] == "1", f[2] + f[3]};
    }
    if (frames.size() != md5s.size())
        return {};
    for (int k = 0; k < frames.size(); ++k)
        frames[k].md5 = md5s[k];
    return frames;
}

double FormatStart(const QString& file)
{
    return Run("ffprobe", {"-v", "error", "-show_entries", "format=start_time", "-of", "csv=p=0", file}).trimmed().toDouble();
}

struct StreamStart {
    QString type;
    double start = 0;
};
QList<StreamStart> StreamStarts(const QString& file)
{
    QList<StreamStart> out;
    for (const QByteArray& line : Run("ffprobe", {"-v", "error", "-show_entries", "stream=codec_type,start_time", "-of",
                                                  "csv=p=0", file})
                                      .split('\n')) {
        const QList<QByteArray> f = line.trimmed().split(',');
        if (f.size() >= 2)
            out << StreamStart{QString::fromLatin1(f[0]), f[1].toDouble()};
    }
    return out;
}

// Presentation times (seconds, as stored) of the packets of the first stream of a kind, or of
// the stream named ("a:1").
QList<double> PacketTimes(const QString& file, const QString& kind, const QString& entry = "pts_time")
{
    QList<double> times;
    const QString stream = kind.contains(':') ? kind : kind + ":0";
    for (const QByteArray& line : Run("ffprobe", {"-v", "error", "-select_streams", stream, "-show_entries",
                                                  "packet=" + entry, "-of", "csv=p=0", file})
                                      .split('\n')) {
        const QByteArray value = line.split(',').first().trimmed(); // a packet with side data ends in a comma
        if (!value.isEmpty() && value != "N/A")
            times << value.toDouble();
    }
    return times;
}

// The PSNR (dB, all planes) of each picture of `out` against the source's pictures from
// frame `first` on, paired in order.
QList<double> PsnrPerPicture(const QString& out, const QString& source, int first, const QString& stats)
{
    Run("ffmpeg", {"-nostdin", "-v", "error", "-i", out, "-i", source, "-lavfi",
                   QString("[0:v]setpts=PTS-STARTPTS[a];[1:v]trim=start_frame=%1,setpts=PTS-STARTPTS[b];"
                           "[a][b]psnr=stats_file=%2:shortest=1")
                       .arg(first)
                       .arg(stats),
                   "-f", "null", "-"});
    QList<double> psnr;
    QFile f(stats);
    if (!f.open(QIODevice::ReadOnly))
        return psnr;
    const QRegularExpression value("psnr_avg:(inf|[0-9.]+)");
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QRegularExpressionMatch m = value.match(QString::fromLatin1(line));
        if (m.hasMatch())
            psnr << (m.captured(1) == "inf" ? 1000.0 : m.captured(1).toDouble());
    }
    return psnr;
}

// The pictures GStreamer's `decoder` makes of a file, as md5s of 8-bit 4:2:0 pictures; empty
// with errors set when the pipeline failed or said anything.
QList<QByteArray> GstPictures(const QString& file, const QString& decoder, int width, int height, const QString& raw,
                              QByteArray& errors)
{
    const bool mp4 = file.endsWith(".mp4");
    const QString parser = decoder.contains("265")     ? "h265parse"
                           : decoder.contains("mpeg2") ? "mpegvideoparse"
                           : decoder.contains("mpeg4") ? "mpeg4videoparse"
                           : decoder.contains("vp9")   ? "vp9parse"
                           : decoder.contains("av1")   ? "av1parse"
                                                       : "h264parse";
    const QString pipeline =
        QString("filesrc location=%1 ! %2 ! %3 ! %4 ! videoconvert ! video/x-raw,format=I420 ! filesink location=%5")
            .arg(file, mp4 ? "qtdemux" : "matroskademux", parser, decoder, raw);
    bool ok = false;
    const QByteArray said = Run("gst-launch-1.0", QStringList{"-q"} + QProcess::splitCommand(pipeline), &errors, &ok);
    if (!ok || said.contains("ERROR") || said.contains("WARNING") || !errors.trimmed().isEmpty()) {
        errors = said + errors;
        if (errors.isEmpty())
            errors = "gst-launch-1.0 failed";
        return {};
    }
    QFile f(raw);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const qint64 size = qint64(width) * height * 3 / 2;
    QList<QByteArray> md5s;
    while (true) {
        const QByteArray picture = f.read(size);
        if (picture.size() < size)
            break;
        md5s << QCryptographicHash::hash(picture, QCryptographicHash::Md5).toHex();
    }
    return md5s;
}

bool HasGstElement(const QString& name)
{
    QProcess p;
    p.start("gst-inspect-1.0", {"--exists", name});
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

class SplitExactSourcesTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_media;
    QHash<QString, QString> m_sources;

    // The stream-copy profile's switches, its cut points as given.
    static QString Switches(const QString& profile, const QString& cutPoints)
    {
        return StoredProfileSwitches(ProfilePath(AppDir(), profile + " - Stream copy - no re-encoding"), cutPoints);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QFile::exists(AppDir() + "wmaspi.dll"));
        QVERIFY2(!QStandardPaths::findExecutable("gst-launch-1.0").isEmpty(), "GStreamer's tools are missing (tools/install-deps.sh)");
        // Subtitles for the Matroska source: a cue every 2 s, kCueShown long.
        const QString srt = m_media.path() + "/cues.srt";
        QFile cues(srt);
        QVERIFY(cues.open(QIODevice::WriteOnly));
        auto clock = [](double s) {
            const qint64 ms = qRound64(s * 1000);
            return QString::asprintf("%02lld:%02lld:%02lld,%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
        };
        for (int k = 0; k < 20; ++k)
            cues.write(QString("%1\n%2 --> %3\nLine %1\n\n").arg(k + 1).arg(clock(k * 2 + 0.5), clock(k * 2 + 0.5 + kCueShown)).toUtf8());
        cues.close();

        const QString picture = "testsrc2=size=320x180:rate=";
        const QStringList x264{"-c:v", "libx264", "-preset", "veryfast", "-bf", "3", "-pix_fmt", "yuv420p"};
        // MPEG-2 as DVDs and broadcasts have it: open GOPs of 12 with 2 B-pictures, MPEG-1 layer II sound.
        const QStringList mpeg2{"-f",  "lavfi", "-i",   picture + "25:duration=12", "-f", "lavfi", "-i", "sine=duration=12",
                                "-c:v", "mpeg2video", "-q:v", "3", "-g", "12", "-bf", "2", "-c:a", "mp2"};
        const QStringList x265{"-c:v", "libx265", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-x265-params"};
        struct Made {
            QString name;
            QStringList args;
        };
        QList<Made> made{
            {"x264-open-gop.mp4",
             QStringList{"-f", "lavfi", "-i", picture + "25:duration=12", "-f", "lavfi", "-i", "sine=duration=12"} + x264
                 + QStringList{"-x264-params", "open-gop=1:keyint=50:min-keyint=50:scenecut=0", "-c:a", "aac"}},
            {"x264-intra-refresh.mp4",
             QStringList{"-f", "lavfi", "-i", picture + "25:duration=12", "-f", "lavfi", "-i", "sine=duration=12"} + x264
                 + QStringList{"-x264-params", "intra-refresh=1:keyint=50:scenecut=0", "-c:a", "aac"}},
            {"x265-open-gop.mkv",
             QStringList{"-f", "lavfi", "-i", picture + "25:duration=12", "-f", "lavfi", "-i", "sine=duration=12"} + x265
                 + QStringList{"keyint=50:min-keyint=50:scenecut=0:bframes=4:log-level=error", "-c:a", "libopus"}},
            {"x265-radl.mp4",
             QStringList{"-f", "lavfi", "-i", picture + "25:duration=12", "-f", "lavfi", "-i", "sine=duration=12"} + x265
                 + QStringList{"keyint=50:min-keyint=50:scenecut=0:bframes=4:open-gop=0:radl=2:log-level=error", "-c:a",
                               "aac"}},
            // 50 pictures a second with 15 of every 50 left out: 0.3 s holes every second.
            {"vfr.mkv",
             QStringList{"-f", "lavfi", "-i", picture + "50:duration=12", "-f", "lavfi", "-i", "sine=duration=12", "-vf",
                         "select='not(between(mod(n\\,50)\\,10\\,24))'", "-fps_mode", "vfr"}
                 + x264 + QStringList{"-g", "100", "-sc_threshold", "0", "-c:a", "aac"}},
            {"subtitled.mkv",
             QStringList{"-f", "lavfi", "-i", picture + "24000/1001:duration=40", "-f", "lavfi", "-i",
                         "sine=duration=40:sample_rate=48000", "-f", "lavfi", "-i",
                         "sine=frequency=300:duration=40:sample_rate=48000", "-i", srt, "-map", "0", "-map", "1", "-map",
                         "2", "-map", "3"}
                 + x264
                 + QStringList{"-g", "240", "-sc_threshold", "0", "-c:a:0", "libopus", "-c:a:1", "ac3", "-c:s", "srt"}},
        };
        // MPEG-4 Part 2 as camcorders and DivX wrote it: B-frames, H.263 quantisers and MPEG ones.
        const QStringList mpeg4{"-f",  "lavfi", "-i",   picture + "25:duration=12", "-f", "lavfi", "-i", "sine=duration=12",
                                "-c:v", "mpeg4", "-q:v", "3", "-g", "12", "-bf", "2"};
        made << Made{"mpeg4.mp4", mpeg4 + QStringList{"-c:a", "aac"}}
             << Made{"mpeg4-mpeg-quant.mkv", mpeg4 + QStringList{"-mpeg_quant", "1", "-c:a", "libmp3lame"}}
             << Made{"mpeg4-no-b-frames.avi", mpeg4.mid(0, mpeg4.size() - 2) + QStringList{"-bf", "0", "-c:a", "libmp3lame"}}
             << Made{"mpeg4.avi", mpeg4 + QStringList{"-c:a", "libmp3lame"}};
        // MPEG-1 in AVI as old captures have it, the MP3 sound timed in whole packets.
        made << Made{"mpeg1.avi", QStringList{"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=12", "-f", "lavfi",
                                              "-i", "sine=frequency=440:duration=12", "-c:v", "mpeg1video", "-c:a", "libmp3lame"}};
        // VP9 and AV1 as downloads have them: a key frame every 2 s, hidden reference frames.
        const QStringList sine{"-f", "lavfi", "-i", picture + "25:duration=12", "-f", "lavfi", "-i", "sine=duration=12"};
        const QStringList vp9 = sine + QStringList{"-c:v", "libvpx-vp9", "-crf", "30", "-b:v", "0", "-cpu-used", "8", "-g", "50"};
        const QStringList av1 = sine + QStringList{"-c:v", "libaom-av1", "-crf", "35", "-cpu-used", "8", "-g", "50"};
        made << Made{"vp9.webm", vp9 + QStringList{"-c:a", "libopus"}} << Made{"vp9.mp4", vp9 + QStringList{"-c:a", "aac"}}
             << Made{"av1.mp4", av1 + QStringList{"-c:a", "aac"}} << Made{"av1.mkv", av1 + QStringList{"-c:a", "libopus"}}
             << Made{"av1.webm", av1 + QStringList{"-c:a", "libopus"}};
        // Interlaced MPEG-2 as broadcasts have it: fields, the top one first, coded as frames.
        made << Made{"mpeg2-interlaced.ts",
                     QStringList{"-f", "lavfi", "-i", picture + "50:duration=12", "-f", "lavfi", "-i", "sine=duration=12",
                                 "-vf", "tinterlace=interleave_top,setfield=tff", "-c:v", "mpeg2video", "-q:v", "3",
                                 "-flags", "+ildct+ilme", "-top", "1", "-g", "12", "-bf", "2", "-c:a", "mp2"}};
        // Interlaced H.264 as camcorders and broadcasts have it: fields, the top one first, coded
        // as frames of macroblock pairs (MBAFF), with B-frames.
        const QStringList mbaff{"-f", "lavfi", "-i", picture + "50:duration=12", "-f", "lavfi", "-i", "sine=duration=12",
                                "-vf", "tinterlace=interleave_top,setfield=tff", "-c:v", "libx264", "-preset", "veryfast",
                                "-pix_fmt", "yuv420p", "-bf", "2", "-flags", "+ildct+ilme", "-x264-params",
                                "tff=1:keyint=50:min-keyint=50:scenecut=0"};
        made << Made{"mbaff.mp4", mbaff + QStringList{"-c:a", "aac"}} << Made{"mbaff.mkv", mbaff + QStringList{"-c:a", "aac"}}
             << Made{"mbaff.m2ts", mbaff + QStringList{"-c:a", "ac3", "-mpegts_m2ts_mode", "1", "-f", "mpegts"}};
        made << Made{"mpeg2.mpg", mpeg2} << Made{"mpeg2.ts", mpeg2} << Made{"mpeg2.mkv", mpeg2};
        for (const Made& m : made) {
            const QString path = m_media.path() + "/" + m.name;
            bool ok = false;
            Run("ffmpeg", QStringList{"-nostdin", "-v", "error", "-y"} + m.args + QStringList{path}, nullptr, &ok);
            QVERIFY2(ok, qPrintable(m.name));
            m_sources.insert(m.name, path);
        }
        // The same packed as DivX wrote it: a B-frame in each reference picture's packet, N-VOPs.
        const QString packed = m_media.path() + "/mpeg4-packed.avi";
        bool packedOk = false;
        Run(VT_DIVX_PACK_PATH, {m_sources.value("mpeg4.avi"), packed}, nullptr, &packedOk);
        QVERIFY(packedOk);
        QVERIFY(Run("ffprobe", {"-v", "error", "-show_entries", "stream=codec_tag_string", "-select_streams", "v", "-of", "csv=p=0", packed})
                    .startsWith("DX50"));
        m_sources.insert("mpeg4-packed.avi", packed);
        // Interlaced H.264 as fields, each a picture of its own (PAFF), lossless: an IDR frame a second.
        const QString fields = m_media.path() + "/fields.yuv", paff = m_media.path() + "/paff.h264";
        bool paffOk = false;
        Run("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", picture + "50:duration=8", "-vf",
                       "tinterlace=interleave_top,setfield=tff", "-pix_fmt", "yuv420p", "-f", "rawvideo", fields},
            nullptr, &paffOk);
        QVERIFY(paffOk);
        Run(VT_PAFF_PCM_PATH, {fields, "320", "180", "25", paff}, nullptr, &paffOk);
        QVERIFY(paffOk);
        QFile::remove(fields);
        Run("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "h264", "-framerate", "25", "-i", paff, "-f", "lavfi", "-i",
                       "sine=duration=8", "-c:v", "copy", "-c:a", "aac", "-shortest", m_media.path() + "/paff.mkv"},
            nullptr, &paffOk);
        QVERIFY(paffOk);
        QFile::remove(paff);
        m_sources.insert("paff.mkv", m_media.path() + "/paff.mkv");
    }

    void everyPictureAtItsTime_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("end");
        QTest::addColumn<int>("sections"); // 0: the range out
        QTest::addColumn<bool>("copies");       // from the first key frame in a section on, the source's pictures
        QTest::addColumn<bool>("encodedWhole"); // sections holding a key frame are encoded again, and say so
        QTest::addColumn<bool>("constantRate");
        QTest::addColumn<QString>("decoder");   // GStreamer's second decoder
        QTest::addColumn<double>("leastPsnr");  // of each picture encoded again
        struct Row {
            const char* name;
            QString source, profile;
            double start, end;
            bool copies, whole, constant;
            QString decoder;
            double leastPsnr = kLeastPsnr;
        };
        const QList<Row> rows{
            {"x264 open GOP", "x264-open-gop.mp4", "MP4", 3.3, 10.1, true, false, true, "avdec_h264"},
            {"x264 intra refresh", "x264-intra-refresh.mp4", "MP4", 3.3, 10.1, false, true, true, "avdec_h264"},
            {"x265 open GOP", "x265-open-gop.mkv", "MKV", 1.3, 10.5, true, false, true, "libde265dec"},
            {"x265 open GOP into MP4", "x265-open-gop.mkv", "MP4", 1.3, 10.5, true, false, true, "libde265dec"},
            {"x265 closed GOP with RADL", "x265-radl.mp4", "MP4", 1.3, 10.5, true, false, true, "libde265dec"},
            {"variable rate H.264 into MP4", "vfr.mkv", "MP4", 1.3, 10.5, true, false, false, "avdec_h264"},
            {"subtitled Matroska", "subtitled.mkv", "MKV", 12.401, 34.840, true, false, true, "avdec_h264"},
            {"MPEG-2 program stream", "mpeg2.mpg", "MKV", 1.3, 10.5, true, false, true, "avdec_mpeg2video", kVisuallyLossless},
            {"MPEG-2 transport stream into MP4", "mpeg2.ts", "MP4", 1.3, 10.5, true, false, true, "avdec_mpeg2video", kVisuallyLossless},
            {"MPEG-2 in Matroska", "mpeg2.mkv", "MKV", 1.3, 10.5, true, false, true, "avdec_mpeg2video", kVisuallyLossless},
            {"MPEG-4 Part 2 in MP4", "mpeg4.mp4", "MP4", 1.3, 10.5, true, false, true, "avdec_mpeg4", kVisuallyLossless},
            {"MPEG-4 Part 2 with MPEG quantisers in Matroska", "mpeg4-mpeg-quant.mkv", "MKV", 1.3, 10.5, true, false, true, "avdec_mpeg4", kVisuallyLossless},
            {"interlaced MPEG-2", "mpeg2-interlaced.ts", "MKV", 1.3, 10.5, true, false, true, "avdec_mpeg2video", kVisuallyLossless},
            {"interlaced H.264 (MBAFF) in MP4", "mbaff.mp4", "MP4", 1.3, 10.5, true, false, true, "avdec_h264", kVisuallyLossless},
            {"interlaced H.264 (MBAFF) in Matroska", "mbaff.mkv", "MKV", 1.3, 10.5, true, false, true, "avdec_h264", kVisuallyLossless},
            {"interlaced H.264 (MBAFF) in M2TS into Matroska", "mbaff.m2ts", "MKV", 1.3, 10.5, true, false, true, "avdec_h264", kVisuallyLossless},
            {"interlaced H.264 (MBAFF) in M2TS into MP4", "mbaff.m2ts", "MP4", 1.3, 10.5, true, false, true, "avdec_h264", kVisuallyLossless},
            {"VP9 in WebM", "vp9.webm", "MKV", 1.3, 10.5, true, false, true, "vp9dec", kVisuallyLossless},
            {"VP9 in MP4", "vp9.mp4", "MP4", 1.3, 10.5, true, false, true, "vp9dec", kVisuallyLossless},
            {"AV1 in MP4", "av1.mp4", "MP4", 1.3, 10.5, true, false, true, "av1dec", kVisuallyLossless},
            {"AV1 in Matroska", "av1.mkv", "MKV", 1.3, 10.5, true, false, true, "av1dec", kVisuallyLossless},
            {"AV1 in WebM into MP4", "av1.webm", "MP4", 1.3, 10.5, true, false, true, "av1dec", kVisuallyLossless},
            {"MPEG-4 Part 2 without B-frames in AVI", "mpeg4-no-b-frames.avi", "MP4", 1.3, 10.5, true, false, true, "avdec_mpeg4", kVisuallyLossless},
            {"MPEG-4 Part 2 with B-frames in AVI", "mpeg4.avi", "MKV", 1.3, 10.5, true, false, true, "avdec_mpeg4", kVisuallyLossless},
            {"MPEG-4 Part 2 with B-frames in AVI into MP4", "mpeg4.avi", "MP4", 1.3, 10.5, true, false, true, "avdec_mpeg4", kVisuallyLossless},
            {"MPEG-4 Part 2 with packed B-frames (DivX) in AVI", "mpeg4-packed.avi", "MKV", 1.3, 10.5, true, false, true, "avdec_mpeg4", kVisuallyLossless},
            {"MPEG-4 Part 2 with packed B-frames (DivX) in AVI into MP4", "mpeg4-packed.avi", "MP4", 1.3, 10.5, true, false, true, "avdec_mpeg4", kVisuallyLossless},
        };
        for (const Row& r : rows)
            for (const int sections : {0, 3})
                QTest::newRow(qPrintable(QString("%1, %2").arg(r.name, sections ? "3 sections" : "one range")))
                    << r.source << r.profile << r.start << r.end << sections << r.copies << r.whole << r.constant
                    << r.decoder << r.leastPsnr;
    }

    void everyPictureAtItsTime()
    {
        QFETCH(QString, source);
        QFETCH(QString, profile);
        QFETCH(double, start);
        QFETCH(double, end);
        QFETCH(int, sections);
        QFETCH(bool, copies);
        QFETCH(bool, encodedWhole);
        QFETCH(bool, constantRate);
        QFETCH(QString, decoder);
        QFETCH(double, leastPsnr);
        if (!HasGstElement(decoder))
            QSKIP(qPrintable("GStreamer has no " + decoder));
        const QString path = m_sources.value(source);
        const QString switches = Switches(profile, kExact);
        QVERIFY(AnalyseProfileSwitches(switches).exactCuts);

        QTemporaryDir out;
        out.setAutoRemove(qEnvironmentVariableIsEmpty("VT_KEEP_OUTPUT"));
        SplitJob job(SplitJobOrder{path, MakeJobPlan(start, end, sections > 0, sections, path, out.path(), "." + profile.toLower()),
                                  switches, AppDir() + "wmaspi.dll"});
        QSignalSpy ended(&job, &SplitJob::ended);
        job.Start();
        QVERIFY(ended.wait(600000));
        QCOMPARE(job.Result(), SplitJob::Outcome::Completed);
        const JobPlan& plan = job.Order().plan;
        const QString notes = job.CompletionNotes().join('\n');

        // The source's pictures, from its start as the cuts count; each section from the first
        // picture at or after its point to the next section's.
        const double sourceStart = FormatStart(path);
        QList<Frame> frames = Frames(path);
        QVERIFY(!frames.isEmpty());
        for (Frame& f : frames)
            f.time -= sourceStart;
        const double gap = (frames.last().time - frames.first().time) / (frames.size() - 1);
        QList<double> cuts;
        for (const double p : plan.PlannedPoints()) {
            double at = frames.last().time + 1;
            for (const Frame& f : frames)
                if (f.time >= p - kHalfMs)
                    at = std::min(at, f.time);
            cuts << at;
        }
        // Sound starts within one of its frames (packets) of the video; each sound track has
        // frames of its own length (Opus 20 ms, AC-3 32 ms), and every track is kept in order.
        QList<double> soundFrames;
        for (QList<double> sound; !(sound = PacketTimes(path, QString("a:%1").arg(soundFrames.size()))).isEmpty();)
            soundFrames << (sound.size() > 1 ? (sound.last() - sound.first()) / (sound.size() - 1) : gap);
        QList<double> cues; // the source's subtitle cues, from its start
        for (const double t : PacketTimes(path, "s"))
            cues << t - sourceStart;

        int sectionsWhole = 0;
        for (int i = 1; i <= plan.count; ++i) {
            const QString file = plan.OutputPath(i);
            const QString name = QFileInfo(file).fileName();
            const double from = cuts[i - 1], to = cuts[i];
            QList<int> want; // indices into frames
            for (int k = 0; k < frames.size(); ++k)
                if (frames[k].time >= from - kHalfMs && frames[k].time < to - kHalfMs)
                    want << k;
            const QList<Frame> got = Frames(file);
            QCOMPARE(got.size(), want.size());
            QVERIFY(!got.isEmpty());

            // At the source's times, the first at 0; interlaced where the source's are, with the
            // same field first.
            for (int k = 0; k < got.size(); ++k)
                QVERIFY2(got[k].fields == frames[want[k]].fields,
                         qPrintable(QString("%1: picture %2 has fields %3, the source's %4")
                                        .arg(name).arg(k).arg(got[k].fields, frames[want[k]].fields)));
            for (int k = 0; k < got.size(); ++k)
                QVERIFY2(std::fabs(got[k].time - (frames[want[k]].time - from)) < 0.001,
                         qPrintable(QString("%1: picture %2 at %3 s, the source's at %4 s")
                                        .arg(name).arg(k).arg(got[k].time).arg(frames[want[k]].time - from)));

            // Every stream starts at 0 within one picture; subtitles with their first cue, or
            // at 0 with the one still shown at the cut.
            int soundTrack = 0;
            for (const StreamStart& s : StreamStarts(file)) {
                if (s.type == "subtitle") {
                    const auto shown = [&](double c) { return c < to - kHalfMs && c + kCueShown > from + kHalfMs; };
                    double first = -1;
                    for (const double c : cues)
                        if (shown(c) && (first < 0 || c < first))
                            first = std::max(c, from);
                    const QList<double> outCues = PacketTimes(file, "s");
                    QVERIFY2(!outCues.isEmpty() && first >= 0 && std::fabs(outCues.first() - (first - from)) < gap,
                             qPrintable(QString("%1: first cue at %2 s, not at %3 s")
                                            .arg(name).arg(outCues.value(0, -1)).arg(first - from)));
                    QCOMPARE(outCues.size(), int(std::count_if(cues.begin(), cues.end(), shown)));
                } else if (s.type == "audio") {
                    const double soundFrame = soundFrames.value(soundTrack++, gap);
                    QVERIFY2(std::fabs(s.start) < soundFrame + kHalfMs,
                             qPrintable(QString("%1: the sound starts at %2 s, its frames last %3 s")
                                            .arg(name).arg(s.start).arg(soundFrame)));
                } else {
                    QVERIFY2(std::fabs(s.start) < gap,
                             qPrintable(QString("%1: the %2 starts at %3 s").arg(name, s.type).arg(s.start)));
                }
            }

            // The source's own pictures, or encoded again close to them: a run at the start and
            // one at the end at most.
            const QList<double> psnr = PsnrPerPicture(file, path, want.first(), out.path() + "/psnr.txt");
            QCOMPARE(psnr.size(), got.size());
            int firstSame = -1, lastSame = -1, again = 0;
            for (int k = 0; k < got.size(); ++k) {
                if (got[k].md5 == frames[want[k]].md5) {
                    firstSame = firstSame < 0 ? k : firstSame;
                    lastSame = k;
                    continue;
                }
                ++again;
                QVERIFY2(psnr[k] >= leastPsnr, qPrintable(QString("%1: picture %2 (%3 s) at %4 dB")
                                                               .arg(name).arg(k).arg(got[k].time).arg(psnr[k])));
            }
            for (int k = firstSame; firstSame >= 0 && k <= lastSame; ++k)
                QVERIFY2(got[k].md5 == frames[want[k]].md5,
                         qPrintable(QString("%1: picture %2 inside the copy differs").arg(name).arg(k)));
            int firstKey = -1;
            for (int k = 1; k < want.size() && firstKey < 0; ++k)
                firstKey = frames[want[k]].key ? k : -1;
            if (copies && firstKey > 0)
                QVERIFY2(firstSame >= 0 && firstSame <= firstKey,
                         qPrintable(QString("%1: copied from picture %2, a key frame at %3").arg(name).arg(firstSame).arg(firstKey)));
            if (again == got.size())
                ++sectionsWhole;

            // MP4 keeps decode times: a constant rate stays one.
            if (constantRate && file.endsWith(".mp4")) {
                const QList<double> dts = PacketTimes(file, "v", "dts_time");
                for (int k = 2; k < dts.size(); ++k)
                    QVERIFY2(std::fabs((dts[k] - dts[k - 1]) - (dts[1] - dts[0])) < 1e-6,
                             qPrintable(QString("%1: decode times step %2 s, then %3 s at packet %4")
                                            .arg(name).arg(dts[1] - dts[0]).arg(dts[k] - dts[k - 1]).arg(k)));
            }

            // Not a word from ffmpeg's decoder; GStreamer's second one makes the same pictures.
            QByteArray errors;
            Run("ffmpeg", {"-nostdin", "-v", "error", "-i", file, "-f", "null", "-"}, &errors);
            QVERIFY2(errors.isEmpty(), qPrintable(name + ": " + errors));
            const QList<QByteArray> second = GstPictures(file, decoder, 320, 180, out.path() + "/raw.yuv", errors);
            QVERIFY2(errors.isEmpty(), qPrintable(name + ": " + errors));
            QCOMPARE(second.size(), got.size());
            for (int k = 0; k < got.size(); ++k)
                QVERIFY2(second[k] == got[k].md5, qPrintable(QString("%1: %2 decodes picture %3 (%4 s) otherwise")
                                                                 .arg(name, decoder).arg(k).arg(got[k].time)));
        }

        // A section encoded again as a whole only where nothing lets a copy resume, and then
        // the completion says so.
        if (encodedWhole) {
            QCOMPARE(sectionsWhole, plan.count);
            QVERIFY2(notes.contains(kEncodedWhole, Qt::CaseInsensitive), qPrintable(notes));
        } else {
            QVERIFY2(!notes.contains(kEncodedWhole, Qt::CaseInsensitive), qPrintable(notes));
        }
    }

    // Copied sound in 3 sections holds the one range's packets, each once: a packet across a
    // join belongs to one side (AVI times MP3 in whole packets, which ffmpeg rounds a seek to).
    void soundPacketsOnce_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("cutPoints");
        QTest::newRow("MPEG-1 in AVI with MP3, key frames") << "mpeg1.avi" << "MKV" << QString();
        QTest::newRow("MPEG-1 in AVI with MP3, exact frames (on key frames)") << "mpeg1.avi" << "MKV" << kExact;
        QTest::newRow("MPEG-4 Part 2 in AVI with MP3, key frames into MP4") << "mpeg4.avi" << "MP4" << QString();
        QTest::newRow("MPEG-4 Part 2 in AVI with MP3, exact frames") << "mpeg4.avi" << "MKV" << kExact;
        QTest::newRow("MPEG-4 Part 2 in AVI with MP3, exact frames into MP4") << "mpeg4.avi" << "MP4" << kExact;
        QTest::newRow("DivX packed MPEG-4 Part 2 in AVI with MP3, exact frames") << "mpeg4-packed.avi" << "MKV" << kExact;
        // Sound timed to the millisecond, as a check on the test itself.
        QTest::newRow("MP3 in Matroska, exact frames") << "mpeg4-mpeg-quant.mkv" << "MKV" << kExact;
        QTest::newRow("AAC in MP4, key frames") << "mpeg4.mp4" << "MP4" << QString();
    }
    void soundPacketsOnce()
    {
        QFETCH(QString, source);
        QFETCH(QString, profile);
        QFETCH(QString, cutPoints);
        const QString path = m_sources.value(source);
        QTemporaryDir out;
        const auto sound = [&](int sections) {
            QList<QByteArray> hashes;
            const QString folder = out.path() + QString("/%1").arg(sections);
            if (!QDir().mkpath(folder))
                return hashes;
            SplitJob job(SplitJobOrder{path, MakeJobPlan(1.3, 10.5, sections > 0, sections, path, folder, "." + profile.toLower()),
                                      Switches(profile, cutPoints), AppDir() + "wmaspi.dll"});
            QSignalSpy ended(&job, &SplitJob::ended);
            job.Start();
            if (!ended.wait(600000) || job.Result() != SplitJob::Outcome::Completed)
                return hashes;
            for (int i = 1; i <= job.Order().plan.count; ++i)
                for (const QByteArray& line : Run("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_data_hash", "md5",
                                                              "-show_entries", "packet=data_hash", "-of", "csv=p=0",
                                                              job.Order().plan.OutputPath(i)})
                                                  .split('\n'))
                    if (!line.trimmed().isEmpty())
                        hashes << line.trimmed();
            return hashes;
        };
        const QList<QByteArray> whole = sound(0), parts = sound(3);
        QVERIFY(whole.size() > 300);
        for (qsizetype k = 0; k < std::min(whole.size(), parts.size()); ++k)
            QVERIFY2(parts[k] == whole[k], qPrintable(QString("sound packet %1 of %2 in the sections, %3 in the range: %4, %5")
                                                          .arg(k).arg(parts.size()).arg(whole.size())
                                                          .arg(QString::fromLatin1(parts[k]), QString::fromLatin1(whole[k]))));
        QCOMPARE(parts.size(), whole.size());
    }

    // Copies on key frames of sources that give some pictures no presentation time (a program
    // stream's, AVI's before B-frames): each section a run of the source's pictures in their
    // order, one after the other, each at its time.
    void keyFrameCopies_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("cutPoints");
        QTest::addColumn<QString>("note"); // the completion says it
        QTest::addColumn<QString>("decoder"); // GStreamer's, silent on each section; empty: none
        QTest::newRow("MPEG-2 program stream into Matroska") << "mpeg2.mpg" << "MKV" << QString() << QString() << QString();
        QTest::newRow("MPEG-2 program stream into MP4") << "mpeg2.mpg" << "MP4" << QString() << QString() << QString();
        QTest::newRow("MPEG-4 Part 2 with B-frames in AVI into Matroska") << "mpeg4.avi" << "MKV" << QString() << QString() << QString();
        QTest::newRow("MPEG-4 Part 2 with B-frames in AVI into MP4") << "mpeg4.avi" << "MP4" << QString() << QString() << QString();
        // Exact cuts fall back to key frames on H.264 fields coded as pictures, and say why.
        QTest::newRow("interlaced H.264 (PAFF), exact frames asked") << "paff.mkv" << "MKV" << kExact << "(PAFF)" << "avdec_h264";
        QTest::newRow("interlaced H.264 (PAFF) into MP4, exact frames asked") << "paff.mkv" << "MP4" << kExact << "(PAFF)" << "avdec_h264";
    }
    void keyFrameCopies()
    {
        QFETCH(QString, source);
        QFETCH(QString, profile);
        QFETCH(QString, cutPoints);
        QFETCH(QString, note);
        QFETCH(QString, decoder);
        const QString path = m_sources.value(source);
        QTemporaryDir out;
        const double end = source == "paff.mkv" ? 7.5 : 10.5;
        SplitJob job(SplitJobOrder{path, MakeJobPlan(1.3, end, true, 3, path, out.path(), "." + profile.toLower()),
                                  Switches(profile, cutPoints), AppDir() + "wmaspi.dll"});
        QSignalSpy ended(&job, &SplitJob::ended);
        job.Start();
        QVERIFY(ended.wait(600000));
        QCOMPARE(job.Result(), SplitJob::Outcome::Completed);
        const QList<Frame> frames = Frames(path);
        QVERIFY(!frames.isEmpty());
        qsizetype next = -1;
        for (int i = 1; i <= job.Order().plan.count; ++i) {
            const QString file = job.Order().plan.OutputPath(i);
            const QList<Frame> got = Frames(file);
            QVERIFY2(!got.isEmpty(), qPrintable(file));
            // An open GOP's first B-pictures refer to pictures before the copy (a known limit of
            // key-frame copies): the source's from the first one found on.
            qsizetype lead = 0, at = -1;
            for (; lead <= kOpenGopLead && lead < got.size() && at < 0; lead += at < 0 ? 1 : 0)
                for (qsizetype k = 0; k < frames.size() && at < 0; ++k)
                    at = frames[k].md5 == got[lead].md5 ? k : -1;
            // No picture twice; at a join the B-pictures decoded after the next key frame are
            // lost, a known limit of key-frame copies.
            QVERIFY2(at >= 0 && (next < 0 || (at - lead >= next && at - lead <= next + kOpenGopLead)),
                     qPrintable(QString("%1 starts at picture %2 (after %3 others), the section before ended at %4")
                                    .arg(file).arg(at).arg(lead).arg(next)));
            QVERIFY(at + got.size() - lead <= frames.size());
            for (qsizetype k = lead; k < got.size(); ++k) {
                QVERIFY2(got[k].md5 == frames[at + k - lead].md5, qPrintable(QString("%1: picture %2").arg(file).arg(k)));
                QVERIFY2(std::fabs((got[k].time - got[lead].time) - (frames[at + k - lead].time - frames[at].time)) < 0.001,
                         qPrintable(QString("%1: picture %2 at %3 s").arg(file).arg(k).arg(got[k].time)));
            }
            next = at + got.size() - lead;
            QByteArray errors;
            Run("ffmpeg", {"-nostdin", "-v", "error", "-i", file, "-f", "null", "-"}, &errors);
            QVERIFY2(errors.isEmpty(), qPrintable(file + ": " + errors));
            if (!decoder.isEmpty()) {
                for (qsizetype k = 0; k < got.size(); ++k)
                    QVERIFY2(got[k].fields == frames[at + k - lead].fields, qPrintable(QString("%1: picture %2 fields").arg(file).arg(k)));
                const QList<QByteArray> second = GstPictures(file, decoder, 320, 180, out.path() + "/raw.yuv", errors);
                QVERIFY2(errors.isEmpty(), qPrintable(file + ": " + errors));
                QCOMPARE(second.size(), got.size());
                for (qsizetype k = 0; k < got.size(); ++k)
                    QVERIFY2(second[k] == got[k].md5, qPrintable(QString("%1: %2 decodes picture %3 otherwise").arg(file, decoder).arg(k)));
            }
        }
        const QString notes = job.CompletionNotes().join('\n');
        QVERIFY2(notes.contains(note), qPrintable(notes));
    }
};

QTEST_GUILESS_MAIN(SplitExactSourcesTest)
#include "split_exact_sources.moc"
