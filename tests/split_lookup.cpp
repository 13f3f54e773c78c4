// The look-up whose first run of ffprobe also lists the tracks places every cut exactly where
// the look-up of the cut stream alone does, and lists the same tracks and chapters as a probe
// of the tracks alone, over sources made here by ffmpeg: MP4 with B-frames, Matroska with
// chapters and a subtitle, MPEG-TS, and variable frame rate.
#include "split/SourceProbe.h"
#include "split/JobPlan.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest/QtTest>

namespace {

bool Make(const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-v", "error", "-y"} + args);
    if (!p.waitForFinished(300000) || p.exitCode() != 0) {
        qWarning().noquote() << p.readAll();
        return false;
    }
    return true;
}

QString Described(const CutPlan& plan)
{
    QStringList out{QString("kind %1 probed %2 copies %3 end %4")
                        .arg(int(plan.kind))
                        .arg(plan.probed)
                        .arg(plan.copies)
                        .arg(plan.sourceEnd ? QString::number(*plan.sourceEnd, 'g', 17) : "-")};
    const auto opt = [](const std::optional<double>& v) { return v ? QString::number(*v, 'g', 17) : QString("-"); };
    for (const CutPoint& c : plan.points)
        out << QString("%1 %2 %3 %4 %5 %6 %7 %8")
                   .arg(QString::number(c.time, 'g', 17))
                   .arg(c.sourceEnd)
                   .arg(QString::number(c.margin, 'g', 17), opt(c.dts), QString::number(c.dtsMargin, 'g', 17))
                   .arg(c.dtsStored)
                   .arg(opt(c.leadingEndDts), opt(c.decodeFrom));
    return out.join('\n');
}

QString Described(const TrackList& list)
{
    QStringList out;
    for (const Track& t : list.tracks)
        out << QString("%1 %2 %3 %4 %5 %6 %7 %8%9%10 %11")
                   .arg(t.index)
                   .arg(t.Name(), t.codec, t.language, t.title)
                   .arg(t.channels)
                   .arg(t.fileName)
                   .arg(t.isDefault)
                   .arg(t.forced)
                   .arg(t.attachedPicture)
                   .arg(t.kind);
    for (const Chapter& c : list.chapters)
        out << QString("chapter %1 %2 %3").arg(c.start, 0, 'g', 17).arg(c.end, 0, 'g', 17).arg(c.title);
    return out.join('\n');
}

} // namespace

class SplitLookup : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString d = m_dir.path();
        const QStringList picture{"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=12", "-f", "lavfi", "-i",
                                  "sine=duration=12"};
        QFile chapters(d + "/chapters.txt");
        QVERIFY(chapters.open(QIODevice::WriteOnly));
        chapters.write(";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=5000\ntitle=One\n"
                       "[CHAPTER]\nTIMEBASE=1/1000\nSTART=5000\nEND=12000\ntitle=Two | three\n");
        chapters.close();
        QFile subs(d + "/subs.srt");
        QVERIFY(subs.open(QIODevice::WriteOnly));
        subs.write("1\n00:00:01,000 --> 00:00:03,000\nHello\n\n2\n00:00:06,500 --> 00:00:08,000\nAgain\n");
        subs.close();
        const QStringList h264{"-c:v", "libx264", "-preset", "ultrafast", "-bf", "3", "-g", "30", "-keyint_min", "30",
                               "-sc_threshold", "0"};
        QVERIFY(Make(picture + h264 + QStringList{"-c:a", "aac", "-metadata:s:a:0", "language=eng", d + "/bframes.mp4"}));
        QVERIFY(Make(picture + QStringList{"-i", d + "/subs.srt", "-i", d + "/chapters.txt", "-map", "0:v", "-map", "1:a",
                                           "-map", "2:s", "-map_chapters", "3"}
                     + h264
                     + QStringList{"-c:a", "libopus", "-c:s", "srt", "-metadata:s:s:0", "language=ger",
                                   "-metadata:s:s:0", "title=Untertitel", "-disposition:s:0", "forced",
                                   d + "/subtitled.mkv"}));
        QVERIFY(Make(picture + h264 + QStringList{"-c:a", "mp2", d + "/broadcast.ts"}));
        // Frames at uneven times: every third one left out.
        QVERIFY(Make(QStringList{"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30:duration=12", "-f", "lavfi", "-i",
                                 "sine=duration=12", "-vf", "select='not(eq(mod(n\\,3)\\,1))'", "-fps_mode", "vfr"}
                     + h264 + QStringList{"-c:a", "aac", d + "/vfr.mp4"}));
    }

    void sameCutsAndTracks_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("switches");
        QTest::addColumn<int>("sections");
        const QStringList files{"bframes.mp4", "subtitled.mkv", "broadcast.ts", "vfr.mp4"};
        const QList<QPair<const char*, QString>> profiles{
            {"key frames", " -c copy"},
            {"re-encoded", " -c:v libx264 -c:a aac"},
            {"sound copied alone", " -vn -c:a copy"},
        };
        for (const QString& f : files)
            for (const auto& [name, switches] : profiles)
                for (const int sections : {1, 3, 7})
                    QTest::newRow(qPrintable(QString("%1 %2 %3").arg(f, name).arg(sections)))
                        << f << switches << sections;
    }

    void sameCutsAndTracks()
    {
        QFETCH(QString, file);
        QFETCH(QString, switches);
        QFETCH(int, sections);
        const QString source = m_dir.filePath(file);
        const QString ext = "." + QFileInfo(file).suffix();
        // The marked end lies past the source's end on purpose: the last point then moves.
        const SplitJobOrder order{source, MakeJobPlan(0.3, 12.5, true, sections, source, m_dir.path(), ext), switches,
                                  QString()};

        const CutLookupReport alone = LookUpCuts(order);
        TrackList tracks;
        const CutLookupReport together = LookUpCuts(order, nullptr, &tracks);
        QVERIFY2(alone.problem.isEmpty(), qPrintable(alone.problem));
        QVERIFY(alone.cuts.probed);
        QVERIFY(!alone.tracksListed);
        QVERIFY(together.tracksListed);
        QCOMPARE(Described(together.cuts), Described(alone.cuts));
        QCOMPARE(together.problem, alone.problem);

        TrackList listed;
        QString error;
        QVERIFY2(ProbeTracks(FindFfprobe(QString()), source, listed, &error), qPrintable(error));
        QVERIFY(!listed.tracks.isEmpty());
        QCOMPARE(Described(tracks), Described(listed));
        if (file.endsWith(".mkv")) {
            QCOMPARE(listed.chapters.size(), 2);
            QCOMPARE(listed.chapters.at(1).title, QString("Two | three"));
        }
    }
};

QTEST_GUILESS_MAIN(SplitLookup)
#include "split_lookup.moc"
