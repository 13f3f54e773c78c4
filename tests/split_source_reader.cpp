// The look-up's reading of a source inside the program against ffprobe's: sources made by
// ffmpeg in several containers, read over the same stretches, must give the same streams,
// packets, format, tracks and chapters, and the same message where the reading fails.
#include "split/OpenStarts.h"
#include "split/SourceProbe.h"
#include "split/SourceReader.h"
#include "split/SourceReaderLoad.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include <algorithm>
#include <cmath>

namespace {

QString AppDir()
{
    const QByteArray env = qgetenv("VT_APP_DIR");
    return (env.isEmpty() ? QDir::currentPath() + "/app" : QString::fromLocal8Bit(env)) + "/";
}

bool Make(const QStringList& args)
{
    QProcess p;
    p.start("ffmpeg", QStringList{"-nostdin", "-loglevel", "error", "-y"} + args);
    if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("ffmpeg %s: %s", qPrintable(args.join(' ')), p.readAllStandardError().constData());
        return false;
    }
    return true;
}

// Everything a reading gives, one line per item, in an order of its own (packets sorted).
QStringList Describe(bool ok, const QString& error, const ProbeData& probe, const TrackList* tracks)
{
    QStringList lines{QString("ok %1 error %2").arg(ok).arg(error)};
    if (!ok)
        return lines;
    lines << QString("format %1 %2 %3")
                 .arg(probe.formatStart, 0, 'f', 6)
                 .arg(probe.formatLength ? QString::number(*probe.formatLength, 'f', 6) : QString("-"))
                 .arg(probe.formatName);
    for (const ProbeStream& s : probe.streams)
        lines << QString("stream %1 %2 %3/%4 pic %5 area %6 reorder %7")
                     .arg(s.index)
                     .arg(s.type)
                     .arg(s.timeBaseNum)
                     .arg(s.timeBaseDen)
                     .arg(s.attachedPicture)
                     .arg(s.area)
                     .arg(s.reorder);
    QStringList packets;
    for (const ProbePacket& p : probe.packets)
        packets << QString("packet %1 %2 %3 %4 key %5 discard %6 dts %7")
                       .arg(p.stream)
                       .arg(p.pts, 0, 'f', 6)
                       .arg(p.dts, 0, 'f', 6)
                       .arg(p.duration, 0, 'f', 6)
                       .arg(p.key)
                       .arg(p.discard)
                       .arg(p.hasDts);
    packets.sort();
    lines << packets;
    for (const ReadSpan& s : probe.spans)
        lines << QString("span %1 %2").arg(s.from, 0, 'f', 6).arg(s.to ? QString::number(*s.to, 'f', 6) : QString("end"));
    if (tracks) {
        for (const Track& t : tracks->tracks)
            lines << QString("track %1 %2 %3 %4 [%5] [%6] [%7] ch %8 default %9 forced %10 pic %11")
                         .arg(t.index)
                         .arg(t.kind)
                         .arg(t.number)
                         .arg(t.codec, t.language, t.title, t.fileName)
                         .arg(t.channels)
                         .arg(t.isDefault)
                         .arg(t.forced)
                         .arg(t.attachedPicture);
        for (const Chapter& c : tracks->chapters)
            lines << QString("chapter %1 %2 [%3]").arg(c.start, 0, 'f', 6).arg(c.end, 0, 'f', 6).arg(c.title);
    }
    return lines;
}

} // namespace

class SourceReaderTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_ffprobe;
    QString m_reader;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_ffprobe = QStandardPaths::findExecutable("ffprobe");
        QVERIFY(!m_ffprobe.isEmpty());
        m_reader = SourceReaderFor(AppDir() + "wmaspi.dll", m_ffprobe);
        QVERIFY2(!m_reader.isEmpty(), qPrintable(AppDir()));
        const QString d = m_dir.path() + "/";
        // H.264 with B-frames and AAC in MP4, a key frame every 2 s.
        QVERIFY(Make({"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=12", "-f", "lavfi", "-i",
                      "sine=duration=12", "-c:v", "libx264", "-preset", "ultrafast", "-bf", "2", "-g", "50", "-c:a",
                      "aac", "-metadata:s:a:0", "language=ger", d + "clip.mp4"}));
        // Matroska: open GOPs, two sound tracks, subtitles, chapters, titles that need escaping.
        QFile cues(d + "cues.srt");
        QVERIFY(cues.open(QIODevice::WriteOnly));
        cues.write("1\n00:00:01,000 --> 00:00:03,000\nfirst\n\n2\n00:00:06,000 --> 00:00:08,500\nsecond\n");
        cues.close();
        QFile meta(d + "chapters.txt");
        QVERIFY(meta.open(QIODevice::WriteOnly));
        meta.write(";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=5000\ntitle=Anfang \"eins\" \\\\ \xc3\xa9t\xc3\xa9\n"
                   "[CHAPTER]\nTIMEBASE=1/1000\nSTART=5000\nEND=12000\ntitle=Zwei\n");
        meta.close();
        QVERIFY(Make({"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=24000/1001:duration=12", "-f", "lavfi", "-i",
                      "sine=duration=12", "-f", "lavfi", "-i", "sine=frequency=300:duration=12", "-i", d + "cues.srt",
                      "-i", d + "chapters.txt", "-map", "0", "-map", "1", "-map", "2", "-map", "3", "-map_chapters",
                      "4", "-c:v", "libx264", "-preset", "ultrafast", "-x264-params", "keyint=60:open-gop=1", "-bf",
                      "3", "-c:a:0", "libopus", "-c:a:1", "ac3", "-c:s", "srt", "-metadata:s:a:1",
                      "title=Kommentar \"Tab\t\"", "-disposition:s:0", "forced", d + "subtitled.mkv"}));
        // A transport stream whose times start far from 0, MPEG-2 video and MP2 sound.
        QVERIFY(Make({"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=50:duration=10", "-f", "lavfi", "-i",
                      "sine=duration=10", "-c:v", "mpeg2video", "-g", "25", "-bf", "2", "-c:a", "mp2",
                      "-output_ts_offset", "3600", d + "broadcast.ts"}));
        // Sound alone.
        QVERIFY(Make({"-f", "lavfi", "-i", "sine=duration=10", "-c:a", "aac", d + "sound.m4a"}));
    }

    void sameAsFfprobe_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QList<double>>("spans"); // from, to pairs; a negative to: to the end
        QTest::addColumn<QString>("selection");
        QTest::addColumn<bool>("tracks");
        const QList<double> around{-1.01, 1.01, 3.5, 7.2, 9.9, 11.0};
        const QList<double> toEnd{-1.01, 1.01, 6.0, -1};
        for (const bool tracks : {false, true}) {
            const char* t = tracks ? ", with the tracks" : "";
            QTest::addRow("mp4, video%s", t) << "clip.mp4" << around << "V" << tracks;
            QTest::addRow("mp4, to the end%s", t) << "clip.mp4" << toEnd << "V" << tracks;
            QTest::addRow("mp4, sound%s", t) << "clip.mp4" << around << "a" << tracks;
            QTest::addRow("matroska%s", t) << "subtitled.mkv" << around << "V" << tracks;
            QTest::addRow("matroska, every stream%s", t) << "subtitled.mkv" << toEnd << "" << tracks;
            QTest::addRow("transport stream, times from 0%s", t) << "broadcast.ts" << around << "V" << tracks;
            QList<double> late;
            for (const double at : around)
                late << at + 3600;
            QTest::addRow("transport stream%s", t) << "broadcast.ts" << late << "V" << tracks;
            QTest::addRow("transport stream, sound%s", t) << "broadcast.ts" << late << "a" << tracks;
            QTest::addRow("sound alone%s", t) << "sound.m4a" << around << "a" << tracks;
            QTest::addRow("no video to select%s", t) << "sound.m4a" << around << "V" << tracks;
            QTest::addRow("missing source%s", t) << "gone.mp4" << around << "V" << tracks;
            QTest::addRow("no media%s", t) << "cues.srt.txt" << around << "V" << tracks;
        }
    }
    void sameAsFfprobe()
    {
        QFETCH(QString, file);
        QFETCH(QList<double>, spans);
        QFETCH(QString, selection);
        QFETCH(bool, tracks);
        if (file == "cues.srt.txt" && !QFile::exists(m_dir.filePath(file)))
            QVERIFY(QFile::copy(m_dir.filePath("chapters.txt"), m_dir.filePath(file)));
        QList<ReadSpan> reads;
        for (qsizetype k = 0; k + 1 < spans.size(); k += 2)
            reads << ReadSpan{spans[k], spans[k + 1] < 0 ? std::nullopt : std::optional<double>(spans[k + 1])};
        const QString source = m_dir.filePath(file);
        QStringList seen[2];
        for (const bool inProgram : {false, true}) {
            ProbeData probe;
            TrackList list;
            QString error;
            const bool ok = ReadSource(m_ffprobe, source, reads, probe, &error, nullptr, selection,
                                       tracks ? &list : nullptr, inProgram ? m_reader : QString());
            seen[inProgram] = Describe(ok, error, probe, tracks ? &list : nullptr);
        }
        for (qsizetype k = 0; k < std::max(seen[0].size(), seen[1].size()); ++k)
            QCOMPARE(seen[1].value(k), seen[0].value(k));
        const bool readable = !file.startsWith("gone") && !file.startsWith("cues");
        QCOMPARE(seen[0].first().startsWith("ok 1"), readable);
        if (readable && !(file == "sound.m4a" && selection == "V") && !QByteArray(QTest::currentDataTag()).contains("from 0"))
            QVERIFY(seen[0].filter("packet ").size() > 50);
    }

    // The tracks alone, as a job whose cut points are known lists them.
    void tracksAsFfprobe_data()
    {
        QTest::addColumn<QString>("file");
        for (const char* file : {"clip.mp4", "subtitled.mkv", "broadcast.ts", "sound.m4a", "gone.mp4", "chapters.txt"})
            QTest::newRow(file) << file;
    }
    void tracksAsFfprobe()
    {
        QFETCH(QString, file);
        const QString source = m_dir.filePath(file);
        TrackList byFfprobe, byModule;
        QString ffprobeError, moduleError;
        const bool ffprobeOk = ProbeTracks(m_ffprobe, source, byFfprobe, &ffprobeError);
        const std::optional<bool> moduleOk = ListTracksWithModule(m_reader, source, byModule, &moduleError);
        QVERIFY(moduleOk.has_value());
        QCOMPARE(Describe(*moduleOk, moduleError, ProbeData(), &byModule),
                 Describe(ffprobeOk, ffprobeError, ProbeData(), &byFfprobe));
        QCOMPARE(ffprobeOk, !file.startsWith("gone"));
    }

    // The key frames that are no I-picture (an intra refresh's recovery points), read from their
    // slice headers, are those a decoder showing every picture reports; length-prefixed units
    // and start codes alike.
    void keyFrameTypesAsDecoded_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("refresh");
        QTest::newRow("IDR key frames") << "clip.mp4" << false;
        QTest::newRow("open GOPs") << "subtitled.mkv" << false;
        for (const QString& file : {QString("refresh.mp4"), QString("refresh.ts")})
            QTest::newRow(qPrintable("intra refresh, " + file)) << file << true;
    }
    void keyFrameTypesAsDecoded()
    {
        QFETCH(QString, file);
        QFETCH(bool, refresh);
        const QString path = m_dir.filePath(file);
        if (refresh && !QFile::exists(path))
            QVERIFY(Make({"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=6", "-c:v", "libx264", "-preset",
                          "ultrafast", "-x264-params", "keyint=25:intra-refresh=1", path}));
        FfprobeRun run;
        QVERIFY(ReadWithModule(m_reader, path, {ReaderSpan{0, std::nullopt}}, "V:0", false, nullptr, 120000, run, true));
        QVERIFY2(run.ok, qPrintable(run.error));
        const QList<double> read = NonIntraKeyPackets(run.output, 0);

        // The key packets' times, and the type of the picture decoded at each.
        const auto probe = [&](const QStringList& entries) {
            QProcess p;
            p.start(m_ffprobe, QStringList{"-v", "error", "-flags2", "showall", "-select_streams", "V:0"} + entries
                                   + QStringList{"-of", "csv=p=0", path});
            p.waitForFinished(120000);
            QList<QList<QByteArray>> rows;
            for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
                if (!line.trimmed().isEmpty())
                    rows << line.trimmed().split(',');
            return rows;
        };
        QList<double> keys, decoded;
        for (const QList<QByteArray>& f : probe({"-show_entries", "packet=pts_time,flags"}))
            if (f.size() >= 2 && f.at(1).startsWith('K'))
                keys << f.at(0).toDouble();
        for (const QList<QByteArray>& f : probe({"-show_entries", "frame=best_effort_timestamp_time,pict_type"}))
            if (f.size() >= 2 && f.at(1) != "I"
                && std::any_of(keys.cbegin(), keys.cend(), [&](double k) { return std::fabs(k - f.at(0).toDouble()) < 0.001; }))
                decoded << f.at(0).toDouble();
        QCOMPARE(read.isEmpty(), !refresh);
        QCOMPARE(read.size(), decoded.size());
        for (qsizetype k = 0; k < read.size(); ++k)
            QVERIFY2(std::fabs(read.at(k) - decoded.at(k)) < 0.001, qPrintable(QString::number(read.at(k))));
    }

    // A look-up that is cancelled (the job stopped) gives up at once, as ffprobe's run does.
    void cancelled()
    {
        const std::atomic<bool> cancel{true};
        ProbeData probe;
        QString error;
        FfprobeRun run;
        QVERIFY(ReadWithModule(m_reader, m_dir.filePath("clip.mp4"), {ReaderSpan{0, std::nullopt}}, "V", false,
                               &cancel, 120000, run));
        QVERIFY(!run.ok);
        QVERIFY(run.cancelled);
        QCOMPARE(run.error, QString("Cancelled."));
        QVERIFY(!ReadSource(m_ffprobe, m_dir.filePath("clip.mp4"), {ReadSpan{0, std::nullopt}}, probe, &error, &cancel,
                            "V", nullptr, m_reader));
        QCOMPARE(error, QString("Cancelled."));
    }

    // The module is used only where ffprobe would be the system's: an ffprobe that comes with
    // the encoder is run, and without the module ffprobe runs as before.
    void whereTheModuleServes_data()
    {
        QTest::addColumn<bool>("moduleBeside");
        QTest::addColumn<bool>("ffprobeBeside");
        QTest::addColumn<bool>("used");
        QTest::newRow("module beside the encoder") << true << false << true;
        QTest::newRow("ffprobe beside the encoder") << true << true << false;
        QTest::newRow("no module") << false << false << false;
    }
    void whereTheModuleServes()
    {
        QFETCH(bool, moduleBeside);
        QFETCH(bool, ffprobeBeside);
        QFETCH(bool, used);
        QTemporaryDir tools;
        const QString encoder = tools.filePath("wmaspi.dll");
        QVERIFY(QFile::copy(AppDir() + "wmaspi.dll", encoder));
        if (moduleBeside)
            QVERIFY(QFile::copy(m_reader, tools.filePath(kSourceReaderModule)));
        if (ffprobeBeside)
            QVERIFY(QFile::copy(m_ffprobe, tools.filePath("ffprobe")));
        const QString ffprobe = FindFfprobe(encoder);
        QCOMPARE(SourceReaderFor(encoder, ffprobe), used ? tools.filePath(kSourceReaderModule) : QString());
    }
};

QTEST_GUILESS_MAIN(SourceReaderTest)
#include "split_source_reader.moc"
