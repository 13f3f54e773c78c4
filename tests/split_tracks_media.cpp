// Every track through real cuts: clips made by ffmpeg with two sound tracks, subtitles,
// chapters, a font and rotation, cut on key frames, on exact frames and re-encoded, as one
// range and as three sections, through the job runner, the encoder program and ffmpeg.
#include "split/SplitJob.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <cmath>

namespace {

constexpr double kSoundFrame = 1024.0 / 44100.0;
constexpr double kStart = 1.3, kEnd = 4.7;

QString AppDir()
{
    const QByteArray env = qgetenv("VT_APP_DIR");
    return (env.isEmpty() ? QDir::currentPath() + "/app" : QString::fromLocal8Bit(env)) + "/";
}

// Standard output of a run; error receives what it wrote to standard error.
QByteArray Run(const QString& program, const QStringList& args, bool* ok = nullptr, QByteArray* error = nullptr)
{
    QProcess p;
    p.start(program, args);
    const bool done = p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (ok)
        *ok = done;
    const QByteArray err = p.readAllStandardError();
    if (error)
        *error = err;
    if (!done)
        qWarning("%s failed: %s", qPrintable(program + ' ' + args.join(' ')), err.constData());
    return p.readAllStandardOutput();
}

QJsonObject Probe(const QString& file)
{
    return QJsonDocument::fromJson(Run("ffprobe", {"-v", "error", "-of", "json", "-show_streams", "-show_chapters",
                                                   "-show_entries", "packet=stream_index,pts_time,duration_time",
                                                   file}))
        .object();
}

// A picture subtitle stream as Blu-ray discs carry it (PGS): at each cue's start a white bar,
// cleared at its end.
QByteArray PictureCues(const QList<std::pair<double, double>>& cues, int width, int height)
{
    QByteArray out;
    const auto put = [](QByteArray& b, quint32 value, int bytes) {
        for (int k = bytes - 1; k >= 0; --k)
            b.append(char((value >> (8 * k)) & 0xff));
    };
    const auto segment = [&](double at, int type, const QByteArray& data) {
        out.append("PG");
        put(out, quint32(qRound64(at * 90000)), 4);
        put(out, 0, 4);
        put(out, quint32(type), 1);
        put(out, quint32(data.size()), 2);
        out.append(data);
    };
    const int w = width / 2, h = height / 6, x = width / 4, y = height - 2 * h;
    int number = 0;
    for (const auto& [from, to] : cues) {
        for (const bool show : {true, false}) {
            const double at = show ? from : to;
            QByteArray composition;
            put(composition, quint32(width), 2);
            put(composition, quint32(height), 2);
            put(composition, 0x10, 1);
            put(composition, quint32(++number), 2);
            put(composition, show ? 0x80 : 0, 1); // a new picture, or one that clears the last
            put(composition, 0, 2);
            put(composition, show ? 1 : 0, 1);
            if (show) {
                put(composition, 0, 4);
                put(composition, quint32(x), 2);
                put(composition, quint32(y), 2);
            }
            segment(at, 0x16, composition);
            QByteArray window;
            for (const int v : {1, 0})
                put(window, quint32(v), 1);
            for (const int v : {x, y, w, h})
                put(window, quint32(v), 2);
            segment(at, 0x17, window);
            if (show) {
                segment(at, 0x14, QByteArray::fromHex("0000" "01eb8080ff")); // colour 1: white
                QByteArray lines;
                for (int row = 0; row < h; ++row) {
                    lines.append(QByteArray::fromHex("00"));
                    put(lines, 0xc000u | quint32(w), 2); // w pixels of colour 1
                    lines.append(QByteArray::fromHex("010000"));
                }
                QByteArray object;
                put(object, 0, 3);
                put(object, 0xc0, 1);
                put(object, quint32(lines.size() + 4), 3);
                put(object, quint32(w), 2);
                put(object, quint32(h), 2);
                object.append(lines);
                segment(at, 0x15, object);
            }
            segment(at, 0x80, QByteArray());
        }
    }
    return out;
}

// kind, language, default and forced flags of each track worth comparing; MP4's chapter text
// track is the chapters' own.
QStringList Tracks(const QJsonObject& probe)
{
    QStringList tracks;
    for (const QJsonValue& v : probe["streams"].toArray()) {
        const QJsonObject s = v.toObject();
        if (s["codec_name"].toString() == "bin_data")
            continue;
        QString language;
        const QJsonObject tags = s["tags"].toObject();
        for (auto it = tags.begin(); it != tags.end(); ++it)
            if (it.key().compare("language", Qt::CaseInsensitive) == 0 && it.value().toString() != "und")
                language = it.value().toString();
        const QJsonObject flags = s["disposition"].toObject();
        tracks << QStringLiteral("%1/%2%3%4")
                      .arg(s["codec_type"].toString(), language, flags["default"].toInt() ? "/default" : "",
                           flags["forced"].toInt() ? "/forced" : "");
    }
    return tracks;
}

// Seconds from the first packet's start to the last one's end, per stream index.
QMap<int, double> Starts(const QJsonObject& probe)
{
    QMap<int, double> first;
    for (const QJsonValue& v : probe["packets"].toArray()) {
        const QJsonObject p = v.toObject();
        const int s = p["stream_index"].toInt();
        const double pts = p["pts_time"].toString().toDouble();
        first[s] = first.contains(s) ? std::min(first[s], pts) : pts;
    }
    return first;
}

QMap<int, double> Durations(const QJsonObject& probe)
{
    QMap<int, double> first, last;
    for (const QJsonValue& v : probe["packets"].toArray()) {
        const QJsonObject p = v.toObject();
        const int s = p["stream_index"].toInt();
        const double pts = p["pts_time"].toString().toDouble();
        const double end = pts + p["duration_time"].toString().toDouble();
        first[s] = first.contains(s) ? std::min(first[s], pts) : pts;
        last[s] = last.contains(s) ? std::max(last[s], end) : end;
    }
    QMap<int, double> d;
    for (auto it = first.begin(); it != first.end(); ++it)
        d[it.key()] = last[it.key()] - it.value();
    return d;
}

constexpr double kVideoFrame = 1.0 / 25;

// A file's picture subtitle packets as (seconds from the file's start, bytes).
QList<std::pair<double, int>> PictureCues(const QString& file)
{
    const double start = Run("ffprobe", {"-v", "error", "-show_entries", "format=start_time", "-of", "csv=p=0", file})
                             .trimmed()
                             .toDouble();
    QList<std::pair<double, int>> cues;
    for (const QByteArray& line : Run("ffprobe", {"-v", "error", "-select_streams", "s", "-show_entries",
                                                   "packet=pts_time,size", "-of", "csv=p=0", file})
                                      .split('\n')) {
        const QList<QByteArray> f = line.trimmed().split(',');
        if (f.size() >= 2)
            cues.append({f[0].toDouble() - start, f[1].toInt()});
    }
    return cues;
}

// A text cue as a player shows it: from, to (seconds) and its words; for ASS also its style.
struct Cue {
    double from = 0, to = 0;
    QString text;
};

// The cues of a file's text subtitle track (0:s:track), as SRT gives them, in order; for ASS
// tracks with the style and override tags of each (its Dialogue line from the style on).
QList<Cue> TextCues(const QString& file, int track, bool ass)
{
    bool ok = false;
    const QString map = QString("0:s:%1").arg(track);
    const QList<QByteArray> blocks =
        Run("ffmpeg", {"-v", "error", "-i", file, "-map", map, "-f", "srt", "-"}, &ok).split('\n');
    QList<Cue> cues;
    static const QRegularExpression times("^(\\d+):(\\d+):(\\d+),(\\d+) --> (\\d+):(\\d+):(\\d+),(\\d+)");
    for (int k = 0; k < blocks.size(); ++k) {
        const QRegularExpressionMatch m = times.match(QString::fromUtf8(blocks[k]).trimmed());
        if (!m.hasMatch())
            continue;
        const auto at = [&m](int n) {
            return m.captured(n).toInt() * 3600 + m.captured(n + 1).toInt() * 60 + m.captured(n + 2).toInt()
                   + m.captured(n + 3).toInt() / 1000.0;
        };
        cues.append({at(1), at(5), k + 1 < blocks.size() ? QString::fromUtf8(blocks[k + 1]).trimmed() : QString()});
    }
    if (ass) {
        // "Dialogue: layer,start,end,Style,..." -> "Style,...,Text"
        QStringList events;
        for (const QByteArray& line : Run("ffmpeg", {"-v", "error", "-i", file, "-map", map, "-c:s", "copy", "-f", "ass", "-"})
                                          .split('\n'))
            if (line.startsWith("Dialogue:"))
                events << QString::fromUtf8(line).trimmed().section(',', 3);
        if (events.size() != cues.size())
            return {};
        for (int k = 0; k < cues.size(); ++k)
            cues[k].text = events[k];
    }
    return ok ? cues : QList<Cue>{};
}

// The source's cues that a section from a to b shows, cut to it and counted from a: one that
// starts before a begins at 0. Cues shown less than a frame there are left to either side.
QList<Cue> CuesWithin(const QList<Cue>& source, double a, double b)
{
    QList<Cue> within;
    for (const Cue& c : source)
        if (std::min(c.to, b) - std::max(c.from, a) > kVideoFrame)
            within.append({std::max(c.from, a) - a, std::min(c.to, b) - a, c.text});
    return within;
}

// What differs between the cues a section shows and those it should; empty when they agree
// within a frame.
QString CueDifference(const QList<Cue>& got, const QList<Cue>& want)
{
    QList<Cue> shown;
    for (const Cue& c : got)
        if (c.to - c.from > kVideoFrame)
            shown.append(c);
    const auto list = [](const QList<Cue>& cues) {
        QStringList l;
        for (const Cue& c : cues)
            l << QString("%1-%2 %3").arg(c.from, 0, 'f', 3).arg(c.to, 0, 'f', 3).arg(c.text);
        return l.join("; ");
    };
    bool same = shown.size() == want.size();
    for (int k = 0; same && k < want.size(); ++k)
        same = std::abs(shown[k].from - want[k].from) <= kVideoFrame + 1e-3
               && std::abs(shown[k].to - want[k].to) <= kVideoFrame + 1e-3 && shown[k].text == want[k].text;
    return same ? QString() : "cues " + list(got) + ", not " + list(want);
}

} // namespace

class SplitTracksMediaTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString Path(const QString& name) const { return m_dir.filePath(name); }

    bool Make(const QStringList& args)
    {
        bool ok = false;
        Run("ffmpeg", QStringList{"-v", "error", "-y"} + args, &ok);
        return ok;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QStringList fonts = QDir("/usr/share/fonts/truetype/dejavu").entryList({"*.ttf"});
        QVERIFY2(!fonts.isEmpty(), "a .ttf font in /usr/share/fonts/truetype/dejavu");
        QFile srt(Path("cues.srt"));
        QVERIFY(srt.open(QIODevice::WriteOnly));
        srt.write("1\n00:00:00,500 --> 00:00:02,500\nHello\n\n2\n00:00:03,000 --> 00:00:05,000\nWorld\n");
        srt.close();
        QFile chapters(Path("chapters.txt"));
        QVERIFY(chapters.open(QIODevice::WriteOnly));
        chapters.write(";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=2000\ntitle=One\n"
                       "[CHAPTER]\nTIMEBASE=1/1000\nSTART=2000\nEND=4000\ntitle=Two\n"
                       "[CHAPTER]\nTIMEBASE=1/1000\nSTART=4000\nEND=6000\ntitle=Three\n");
        chapters.close();
        // Styled cues: a style of their own and an override tag, which a cut must keep.
        QFile ass(Path("cues.ass"));
        QVERIFY(ass.open(QIODevice::WriteOnly));
        ass.write("[Script Info]\nScriptType: v4.00+\nPlayResX: 384\nPlayResY: 288\n\n[V4+ Styles]\n"
                  "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, "
                  "Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, "
                  "Alignment, MarginL, MarginR, MarginV, Encoding\n"
                  "Style: Default,DejaVu Sans,16,&Hffffff,&Hffffff,&H0,&H0,0,0,0,0,100,100,0,0,1,1,0,2,10,10,10,0\n"
                  "Style: Sign,DejaVu Sans,20,&H00ffff,&Hffffff,&H0,&H0,1,0,0,0,100,100,0,0,1,1,0,8,10,10,10,0\n\n"
                  "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
                  "Dialogue: 0,0:00:00.50,0:00:02.50,Default,,0,0,0,,Hello\n"
                  "Dialogue: 0,0:00:03.00,0:00:05.00,Sign,,0,0,0,,{\\i1}World\n");
        ass.close();
        // Key frames a second apart, B-frames, two sound tracks.
        QVERIFY(Make({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=6", "-f", "lavfi", "-i",
                      "sine=frequency=440:duration=6", "-f", "lavfi", "-i", "sine=frequency=660:duration=6", "-map",
                      "0", "-map", "1", "-map", "2", "-c:v", "libx264", "-preset", "ultrafast", "-bf", "2", "-g", "25",
                      "-c:a", "aac", "-metadata:s:a:0", "language=eng", "-metadata:s:a:1", "language=ger",
                      Path("base.mkv")}));
        QVERIFY(Make({"-i", Path("base.mkv"), "-i", Path("cues.srt"), "-i", Path("cues.ass"), "-i",
                      Path("chapters.txt"), "-map", "0", "-map", "1", "-map", "2", "-map_chapters", "3", "-c", "copy",
                      "-metadata:s:s:0", "language=eng", "-metadata:s:s:1", "language=ger", "-disposition:s:1",
                      "forced", "-attach", "/usr/share/fonts/truetype/dejavu/" + fonts.first(), "-metadata:s:t",
                      "mimetype=font/ttf", Path("clip.mkv")}));
        QVERIFY(Make({"-i", Path("base.mkv"), "-i", Path("cues.srt"), "-i", Path("chapters.txt"), "-map", "0",
                      "-map", "1", "-map_chapters", "2", "-c:v", "copy", "-c:a", "copy", "-c:s", "mov_text",
                      "-metadata:s:s:0", "language=eng", "-metadata:s:v", "rotate=90", Path("clip.mp4")}));
        // A broadcast: two sound PIDs and DVB subtitles (made from picture cues, which is all
        // ffmpeg's DVB subtitle encoder takes).
        QFile pictureCues(Path("cues.sup"));
        QVERIFY(pictureCues.open(QIODevice::WriteOnly));
        pictureCues.write(PictureCues({{0.5, 2.0}, {2.5, 4.0}, {4.5, 5.5}}, 160, 120));
        pictureCues.close();
        QVERIFY(Make({"-i", Path("base.mkv"), "-fix_sub_duration", "-itsoffset", "0.5", "-i", Path("cues.sup"), "-map",
                      "0", "-map", "1", "-c:v", "copy", "-c:a", "copy", "-c:s", "dvbsub", "-metadata:s:s:0",
                      "language=fin", Path("clip.ts")}));
        QCOMPARE(Tracks(Probe(Path("clip.ts"))), QStringList({"video/", "audio/eng", "audio/ger", "subtitle/fin"}));
    }

    void cut_data()
    {
        QTest::addColumn<QString>("container");
        QTest::addColumn<QString>("switches");
        QTest::addColumn<int>("sections");
        const QString copy = " -c:v copy -c:a copy -avoid_negative_ts make_zero";
        const QList<std::pair<const char*, QString>> ways{
            {"key frames", copy}, {"exact frames", " -cut_points exact" + copy},
            {"re-encoded", " -c:v libx264 -preset ultrafast -c:a aac"}};
        for (const char* container : {"mkv", "mp4", "ts"})
            for (const auto& [way, switches] : ways)
                for (int sections : {0, 3})
                    QTest::addRow("%s, %s, %d sections", container, way, std::max(1, sections))
                        << QString(container) << switches << sections;
        // Copied pictures with subtitles that ffmpeg encodes anew (SRT into ASS): none from
        // before the cut, whether or not a key frame before it is read.
        for (int sections : {0, 3})
            QTest::addRow("mkv, key frames, subtitles encoded, %d sections", std::max(1, sections))
                << QString("mkv") << copy + " -c:s ass" << sections;
        QTest::addRow("mkv, exact frames, subtitles encoded, 3 sections") << QString("mkv") << " -cut_points exact" + copy + " -c:s ass" << 3;
    }
    void cut()
    {
        QFETCH(QString, container);
        QFETCH(QString, switches);
        QFETCH(int, sections);
        const QString source = Path("clip." + container);
        const QJsonObject in = Probe(source);
        QTemporaryDir out;
        SplitJob job(SplitJobOrder{source,
                                   MakeJobPlan(kStart, kEnd, sections > 0, sections, source, out.path(), "." + container),
                                   switches, AppDir() + "wmaspi.dll", TrackSelection{}, std::nullopt});
        // A user's file that carries the name of the first section's cues read ahead is kept.
        const QString usersFile = out.path() + "/." + QFileInfo(job.Order().plan.Section(1).outputPath).fileName()
            + (container == "mp4" ? ".cues.mp4" : ".cues.mkv");
        {
            QFile f(usersFile);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("mine") == 4);
        }
        QSignalSpy ended(&job, &SplitJob::ended);
        job.Start();
        QVERIFY(ended.wait(300000));
        QCOMPARE(job.Result(), SplitJob::Outcome::Completed);
        {
            QFile f(usersFile);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("mine"));
            QVERIFY(f.remove());
        }
        // Nothing here fell back to key frames or lost a track on the way.
        for (const QString& note : job.CompletionNotes())
            QVERIFY2(!note.contains("instead of exact frames") && !note.contains("cannot hold"), qPrintable(note));

        const bool encoded = switches.contains("libx264");
        const JobPlan& plan = job.Order().plan;
        // Nothing left in the folder but the sections (the cues read ahead are removed).
        QStringList written;
        for (int i = 1; i <= plan.count; ++i)
            written << QFileInfo(plan.Section(i).outputPath).fileName();
        QStringList left = QDir(out.path()).entryList(QDir::Files | QDir::Hidden);
        written.sort();
        left.sort();
        QCOMPARE(left, written);
        for (int i = 1; i <= plan.count; ++i) {
            const JobSection s = plan.Section(i);
            const QJsonObject o = Probe(s.outputPath);
            QVERIFY2(Tracks(o) == Tracks(in),
                     qPrintable(s.outputPath + ": " + Tracks(o).join(' ') + ", the source's " + Tracks(in).join(' ')));

            // Rotation: kept by a copy; applied to the pictures by an encoding.
            if (container == "mp4") {
                const QJsonObject v = o["streams"].toArray().first().toObject();
                const bool turned = v["width"].toInt() == 120;
                int rotation = 0;
                for (const QJsonValue& d : v["side_data_list"].toArray())
                    rotation = std::abs(d.toObject()["rotation"].toInt(rotation));
                QVERIFY2(encoded ? turned : rotation == 90, qPrintable(s.outputPath));
            }

            // The chapters inside the section, counted from its start.
            if (container != "ts") {
                // The sound and subtitles run to the section's end, and the chapters with them.
                const double length = s.end - s.start;
                QList<std::pair<double, double>> want;
                for (const QJsonValue& v : in["chapters"].toArray()) {
                    const double a = v.toObject()["start_time"].toString().toDouble() - s.start;
                    const double b = v.toObject()["end_time"].toString().toDouble() - s.start;
                    if (b > 0.001 && a < length - 0.001)
                        want.append({std::max(0.0, a), std::min(length, b)});
                }
                const QJsonArray got = o["chapters"].toArray();
                QVERIFY2(got.size() == want.size(), qPrintable(QString("%1: %2 chapters, not %3").arg(s.outputPath).arg(got.size()).arg(want.size())));
                for (int k = 0; k < got.size(); ++k) {
                    // The copy's first picture may show a little after the cut (B-frames).
                    QVERIFY2(std::abs(got[k].toObject()["start_time"].toString().toDouble() - want[k].first) < 0.1,
                             qPrintable(QString("%1: chapter %2").arg(s.outputPath).arg(k)));
                    QVERIFY2(std::abs(got[k].toObject()["end_time"].toString().toDouble() - want[k].second) < 0.1,
                             qPrintable(QString("%1: chapter %2").arg(s.outputPath).arg(k)));
                }
            }

            // Every sound track starts and ends with the video, give or take a sound frame at
            // each end: each tiles the range as the video does.
            const QMap<int, double> lengths = Durations(o), starts = Starts(o);
            const QJsonArray streams = o["streams"].toArray();
            double video = -1, videoStart = 0;
            for (const QJsonValue& v : streams)
                if (v.toObject()["codec_type"] == "video" && video < 0) {
                    video = lengths.value(v.toObject()["index"].toInt(), -1);
                    videoStart = starts.value(v.toObject()["index"].toInt());
                }
            QVERIFY(video > 0);
            for (const QJsonValue& v : streams) {
                if (v.toObject()["codec_type"] != "audio")
                    continue;
                const int index = v.toObject()["index"].toInt();
                const double length = lengths.value(index, -1), start = starts.value(index);
                qInfo("%s: section %d: sound %.3f s from %.3f s, video %.3f s from %.3f s", QTest::currentDataTag(), i,
                      length, start, video, videoStart);
                QVERIFY2(std::abs(start - videoStart) <= kSoundFrame + 1e-3,
                         qPrintable(QString("%1: sound from %2 s, video from %3 s").arg(s.outputPath).arg(start).arg(videoStart)));
                QVERIFY2(std::abs((start + length) - (videoStart + video)) <= kSoundFrame + 1e-3,
                         qPrintable(QString("%1: sound to %2 s, video to %3 s")
                                        .arg(s.outputPath).arg(start + length).arg(videoStart + video)));
            }

            // Text cues: each one the section shows, cut to it, with its words and style; one
            // shown across a cut in both sections, from the second one's start.
            if (container != "ts") {
                const int textTracks = container == "mkv" ? 2 : 1;
                for (int t = 0; t < textTracks; ++t) {
                    const bool ass = t == 1;
                    const QList<Cue> original = TextCues(source, t, ass);
                    QVERIFY(original.size() == 2);
                    const QString difference =
                        CueDifference(TextCues(s.outputPath, t, ass), CuesWithin(original, s.start, s.end));
                    QVERIFY2(difference.isEmpty(), qPrintable(QString("%1, subtitle track %2: %3").arg(s.outputPath).arg(t).arg(difference)));
                }
            } else {
                // Picture cues (a picture each, or an empty one that clears it, shown until the
                // next): none from before the cut, and the one shown at the section's start
                // shows from 0.
                const QList<std::pair<double, int>> original = PictureCues(source), got = PictureCues(s.outputPath);
                int shown = 0;
                for (const auto& [at, size] : original)
                    if (at < s.start)
                        shown = size;
                // Those from before the start lie together at the first one's time (the
                // file's start may lie a sound frame before it), the last of them counts.
                int showing = 0;
                for (const auto& [at, size] : got) {
                    QVERIFY2(at > -kVideoFrame, qPrintable(QString("%1: a picture cue at %2 s").arg(s.outputPath).arg(at)));
                    if (at <= kVideoFrame && at <= got.first().first + 1e-3)
                        showing = size;
                }
                qInfo("section %d from %.3f s: the cue shown at the start is %d bytes, %d in the section", i, s.start, shown,
                      showing);
                QVERIFY2(showing == shown, qPrintable(QString("%1: at its start a cue of %2 bytes, not %3").arg(s.outputPath).arg(showing).arg(shown)));
            }

            QByteArray said;
            bool ok = false;
            Run("ffmpeg", {"-v", "error", "-i", s.outputPath, "-map", "0:v", "-map", "0:a", "-f", "null", "-"}, &ok,
                &said);
            QVERIFY2(ok && said.isEmpty(), said.constData());
        }
    }
};

QTEST_GUILESS_MAIN(SplitTracksMediaTest)
#include "split_tracks_media.moc"
