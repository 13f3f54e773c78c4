// Which tracks a cut keeps: the source's list as ffprobe gives it, the --tracks choice, the
// -map switches composed for each container and profile, and the encoder pointing those maps
// at its own inputs.
#include "encoder/stream_maps.h"
#include "encoder/subtitle_cues.h"
#include "split/TrackList.h"

#include <QtTest/QtTest>

namespace {

// A source with one of everything a container may or may not hold.
TrackList Source()
{
    const QByteArray json = R"({"streams": [
      {"index": 0, "codec_name": "h264", "codec_type": "video", "disposition": {"default": 1}},
      {"index": 1, "codec_name": "aac", "codec_type": "audio", "channels": 2,
       "disposition": {"default": 1}, "tags": {"language": "eng"}},
      {"index": 2, "codec_name": "ac3", "codec_type": "audio", "channels": 6,
       "disposition": {"default": 0}, "tags": {"LANGUAGE": "ger", "title": "Deutsch"}},
      {"index": 3, "codec_name": "subrip", "codec_type": "subtitle", "tags": {"language": "und"}},
      {"index": 4, "codec_name": "hdmv_pgs_subtitle", "codec_type": "subtitle",
       "disposition": {"forced": 1}, "tags": {"language": "ger"}},
      {"index": 5, "codec_type": "attachment", "tags": {"filename": "font.ttf", "mimetype": "font/ttf"}},
      {"index": 6, "codec_name": "bin_data", "codec_type": "data"}],
     "chapters": [{"start_time": "0.000000", "end_time": "2.500000", "tags": {"title": "One"}}]})";
    const std::optional<TrackList> list = ParseTrackList(json);
    return list.value_or(TrackList{});
}

} // namespace

class SplitTracksTest : public QObject {
    Q_OBJECT

private slots:
    void parsesTheList()
    {
        const TrackList list = Source();
        QCOMPARE(list.tracks.size(), 7);
        QCOMPARE(list.tracks[2].Name(), QStringLiteral("a:1"));
        QCOMPARE(list.tracks[2].language, QStringLiteral("ger")); // capital tag names too
        QCOMPARE(list.tracks[2].title, QStringLiteral("Deutsch"));
        QCOMPARE(list.tracks[2].channels, 6);
        QVERIFY(list.tracks[1].isDefault && !list.tracks[2].isDefault);
        QVERIFY(list.tracks[3].language.isEmpty()); // "und" says nothing
        QVERIFY(list.tracks[4].forced);
        QCOMPARE(list.tracks[5].Name(), QStringLiteral("t:0"));
        QCOMPARE(list.tracks[6].Name(), QStringLiteral("d:0"));
        QCOMPARE(list.chapters.size(), 1);
        QCOMPARE(list.chapters[0].end, 2.5);
        QVERIFY(!ParseTrackList("not json"));
    }

    void selection_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("kept"); // names of the source's tracks kept
        QTest::addColumn<QString>("missing");
        QTest::newRow("all") << "all" << true << "v:0 a:0 a:1 s:0 s:1 t:0 d:0" << "";
        QTest::newRow("kinds and numbers") << "v,a:1,s" << true << "v:0 a:1 s:0 s:1 t:0" << "";
        QTest::newRow("blanks and capitals") << " V , a:0 " << true << "v:0 a:0 t:0" << "";
        QTest::newRow("absent track") << "v,a:2" << true << "v:0 t:0" << "a:2";
        QTest::newRow("empty item") << "v,,a" << false << "" << "";
        QTest::newRow("unknown kind") << "x" << false << "" << "";
        QTest::newRow("no number") << "a:" << false << "" << "";
        QTest::newRow("negative") << "a:-1" << false << "" << "";
        QTest::newRow("stream index form") << "0:1" << false << "" << "";
    }
    void selection()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QString, kept);
        QFETCH(QString, missing);
        QString why;
        const std::optional<TrackSelection> s = ParseTrackSelection(text, &why);
        QCOMPARE(s.has_value(), valid);
        if (!s) {
            QVERIFY2(why.contains("names no tracks"), qPrintable(why));
            return;
        }
        QStringList names;
        for (const Track& t : Source().tracks)
            if (s->Keeps(t))
                names << t.Name();
        QCOMPARE(names.join(' '), kept);
        QCOMPARE(MissingTracks(*s, Source()).join(' '), missing);
    }

    // The window's check boxes: the indices left unticked become a selection the job and
    // the mapping read like --tracks.
    void selectionWithout_data()
    {
        QTest::addColumn<QList<int>>("dropped");
        QTest::addColumn<bool>("all");
        QTest::addColumn<QString>("kept");
        QTest::newRow("none left out") << QList<int>{} << true << "v:0 a:0 a:1 s:0 s:1 t:0 d:0";
        QTest::newRow("second sound") << QList<int>{2} << false << "v:0 a:0 s:0 s:1 t:0 d:0";
        QTest::newRow("video and data") << QList<int>{0, 6} << false << "a:0 a:1 s:0 s:1 t:0";
        QTest::newRow("the font is not the user's to drop") << QList<int>{5} << true << "v:0 a:0 a:1 s:0 s:1 t:0 d:0";
    }
    void selectionWithout()
    {
        QFETCH(QList<int>, dropped);
        QFETCH(bool, all);
        QFETCH(QString, kept);
        const TrackSelection s = SelectionWithout(Source(), dropped);
        QCOMPARE(s.all, all);
        QStringList names;
        for (const Track& t : Source().tracks)
            if (s.Keeps(t))
                names << t.Name();
        QCOMPARE(names.join(' '), kept);
        QVERIFY(MissingTracks(s, Source()).isEmpty());
    }

    void mapping_data()
    {
        QTest::addColumn<QString>("container");
        QTest::addColumn<QString>("switches");
        QTest::addColumn<QString>("tracks");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("leftOut"); // the tracks the note names, "" for no note

        const QString copy = " -c:v copy -c:a copy -avoid_negative_ts make_zero";
        const QString all = "-map 0:v:0 -map 0:a:0 -map 0:a:1";
        // Every kept track's flags as the source has them, in Matroska and MP4 only.
        const QString flags = " -disposition:v:0 default -disposition:a:0 default -disposition:a:1 0";
        const QString subtitleFlags = " -disposition:s:0 0 -disposition:s:1 forced";
        QTest::newRow("Matroska keeps everything as it is")
            << "mkv" << copy << "all" << all + " -map 0:s:0 -map 0:s:1 -map 0:t:0 -c:s copy" + flags + subtitleFlags << "";
        QTest::newRow("MP4: text as mov_text, pictures and fonts left out")
            << "mp4" << copy << "all" << all + " -map 0:s:0 -c:s mov_text" + flags + " -disposition:s:0 0" << "s:1 t:0";
        QTest::newRow("MPEG-TS holds no text subtitles")
            << "ts" << copy << "all" << all << "s:0 s:1 t:0";
        QTest::newRow("other containers: sound and video only")
            << "avi" << " -c:v mpeg4 -c:a mp3" << "all" << all << "s:0 s:1 t:0";
        QTest::newRow("MP3: the first sound track alone")
            << "mp3" << " -vn -c:a libmp3lame" << "all" << "-map 0:a:0" << "a:1";
        QTest::newRow("MP3: the chosen sound track")
            << "mp3" << " -vn -c:a libmp3lame" << "a:1" << "-map 0:a:1" << "";
        QTest::newRow("re-encoded into Matroska: subtitles copied, not turned into ASS")
            << "mkv" << " -c:v libx264 -c:a aac" << "all" << all + " -map 0:s:0 -map 0:s:1 -map 0:t:0 -c:s copy" + flags + subtitleFlags << "";
        QTest::newRow("the profile's subtitle codec stands")
            << "mkv" << copy + " -c:s ass" << "all" << all + " -map 0:s:0 -map 0:s:1 -map 0:t:0" + flags + subtitleFlags << "";
        QTest::newRow("the profile's own -map stands")
            << "mkv" << copy + " -map 0:a:1" << "all" << "" << "";
        QTest::newRow("a complex filter graph chooses itself")
            << "mkv" << " -filter_complex [0:v]hflip -c:a copy" << "all" << "" << "";
        QTest::newRow("-an and -sn leave their kinds out")
            << "mkv" << copy + " -an -sn" << "all" << "-map 0:v:0 -map 0:t:0 -disposition:v:0 default" << "";
        QTest::newRow("a chosen set")
            << "mp4" << copy << "v,a:1,s:0"
            << "-map 0:v:0 -map 0:a:1 -map 0:s:0 -c:s mov_text -disposition:v:0 default -disposition:a:0 0 -disposition:s:0 0" << "t:0";
        QTest::newRow("a chosen picture subtitle MP4 cannot hold")
            << "mp4" << copy << "a:0,s:1" << "-map 0:a:0 -disposition:a:0 default" << "s:1 t:0";
        QTest::newRow("the profile's own flags stand")
            << "mkv" << copy + " -disposition:a:0 0" << "a" << "-map 0:a:0 -map 0:a:1 -map 0:t:0" << "";
    }
    void mapping()
    {
        QFETCH(QString, container);
        QFETCH(QString, switches);
        QFETCH(QString, tracks);
        QFETCH(QString, arguments);
        QFETCH(QString, leftOut);
        const TrackMapping m = ComposeTrackMapping(Source(), *ParseTrackSelection(tracks), container, switches);
        QCOMPARE(m.arguments.join(' '), arguments);
        if (leftOut.isEmpty()) {
            QVERIFY2(m.notes.isEmpty(), qPrintable(m.notes.join('\n')));
            return;
        }
        QCOMPARE(m.notes.size(), 1);
        for (const QString& name : leftOut.split(' '))
            QVERIFY2(m.notes[0].contains("track " + name + " ("), qPrintable(m.notes[0]));
        QVERIFY2(m.notes[0].startsWith(container == "ts" ? QString("MPEG-TS") : container.toUpper() == "MKV" ? QString("Matroska") : container.toUpper()),
                 qPrintable(m.notes[0]));
        if (leftOut.contains("t:0"))
            QVERIFY2(m.notes[0].contains("(font.ttf)"), qPrintable(m.notes[0]));
        // MP4's chapter text track is no loss worth a note.
        QVERIFY(!m.notes[0].contains("d:0"));
    }

    void noListNoMaps()
    {
        // ffprobe could not list the source: ffmpeg's own choice rather than a broken map.
        QVERIFY(ComposeTrackMapping(TrackList{}, TrackSelection{}, "mkv", " -c copy").arguments.isEmpty());
    }

    void encoderPointsMaps_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<bool>("byKind");
        QTest::addColumn<int>("videoInput");
        QTest::addColumn<int>("otherInput");
        QTest::addColumn<bool>("piped");
        QTest::addColumn<QString>("pointed");
        QTest::addColumn<int>("dropped");
        QTest::newRow("exact: video from the pipe, the rest from the source")
            << "-c copy -map 0:v:0 -map 0:a:0 -map 0:a:1 -map 0:s -map 0:t:0 -c:s copy" << true << 1 << 0 << true
            << "-c copy -map 1:v:0 -map 0:a:0 -map 0:a:1 -map 0:s -map 0:t:0 -c:s copy" << 0;
        QTest::newRow("exact: one video track only") << "-map 0:v:0 -map 0:v:1 -map 0:a" << true << 1 << 0 << true
                                                     << "-map 1:v:0 -map 0:a" << 1;
        QTest::newRow("read twice: the rest from the second reading")
            << "-map 0:v:0 -map 0:a:1 -map 0:s:0" << true << 0 << 1 << false << "-map 0:v:0 -map 1:a:1 -map 1:s:0" << 0;
        QTest::newRow("by stream index") << "-map 0:3" << false << 0 << 1 << false << "-map 0:3" << 0;
        QTest::newRow("whole input") << "-map 0" << false << 0 << 1 << false << "-map 0" << 0;
        QTest::newRow("optional") << "-map 0:s?" << false << 0 << 1 << false << "-map 0:s?" << 0;
        QTest::newRow("negative") << "-map -0:d" << false << 0 << 1 << false << "-map -0:d" << 0;
        QTest::newRow("no maps") << "-c copy" << true << 1 << 0 << true << "-c copy" << 0;
    }
    void encoderPointsMaps()
    {
        QFETCH(QString, options);
        QFETCH(bool, byKind);
        QFETCH(int, videoInput);
        QFETCH(int, otherInput);
        QFETCH(bool, piped);
        QFETCH(QString, pointed);
        QFETCH(int, dropped);
        std::vector<std::string> o;
        for (const QString& a : options.split(' '))
            o.push_back(a.toStdString());
        QCOMPARE(MapsByKind(o), byKind);
        if (!byKind)
            return; // the encoder leaves such maps alone and keeps one input
        QCOMPARE(PointMapsAtInputs(o, videoInput, otherInput, piped), dropped);
        QStringList out;
        for (const std::string& a : o)
            out << QString::fromStdString(a);
        QCOMPARE(out.join(' '), pointed);
    }

    // Which sections read their cues ahead, and their subtitle maps pointed at that reading
    // (after the maps were pointed at the encoder's other inputs).
    void encoderTakesCues_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<bool>("readsCues");
        QTest::addColumn<QString>("pointed");
        QTest::newRow("every subtitle track") << "-map 0:v:0 -map 0:a:0 -map 0:s -c:s copy" << true
                                              << "-map 0:v:0 -map 0:a:0 -map 3:s -c:s copy";
        QTest::newRow("some") << "-map 0:v:0 -map 0:s:1 -map 0:s:0" << true << "-map 0:v:0 -map 3:s:1 -map 3:s:0";
        QTest::newRow("read twice before") << "-map 0:v:0 -map 1:a:0 -map 1:s:2" << false << "-map 0:v:0 -map 1:a:0 -map 3:s:2";
        QTest::newRow("left out") << "-map 0:v:0 -map 0:s:0 -sn" << false << "";
        QTest::newRow("no subtitles") << "-map 0:v:0 -map 0:a -c copy" << false << "-map 0:v:0 -map 0:a -c copy";
        QTest::newRow("no maps") << "-c copy" << false << "-c copy";
        QTest::newRow("optional") << "-map 0:s?" << false << "-map 0:s?";
        QTest::newRow("by stream index") << "-map 0:3" << false << "-map 0:3";
        QTest::newRow("not a stream number") << "-map 0:s:x" << false << "-map 0:s:x";
    }
    void encoderTakesCues()
    {
        QFETCH(QString, options);
        QFETCH(bool, readsCues);
        QFETCH(QString, pointed);
        std::vector<std::string> o;
        for (const QString& a : options.split(' '))
            o.push_back(a.toStdString());
        QCOMPARE(MapsSubtitlesByKind(o), readsCues);
        if (pointed.isEmpty())
            return;
        PointSubtitleMapsAt(o, 3);
        QStringList out;
        for (const std::string& a : o)
            out << QString::fromStdString(a);
        QCOMPARE(out.join(' '), pointed);
    }

    // The cues read ahead lie beside the output, hidden, in a container that holds the
    // source's subtitles as they are.
    void cueFileBesideTheOutput()
    {
        QCOMPARE(CueFilePath("/in/a.mkv", "/out/b 1.mkv"), std::string("/out/.b 1.mkv.cues.mkv"));
        QCOMPARE(CueFilePath("/in/a.MP4", "/out/b.mkv"), std::string("/out/.b.mkv.cues.mp4"));
        QCOMPARE(CueFilePath("/in/a.mov", "/out/b.mp4"), std::string("/out/.b.mp4.cues.mp4"));
        QCOMPARE(CueFilePath("/in.mp4/a", "/out/b.ts"), std::string("/out/.b.ts.cues.mkv"));
        QCOMPARE(CueFilePath("a.ts", "b.ts"), std::string(".b.ts.cues.mkv"));
    }
};

QTEST_GUILESS_MAIN(SplitTracksTest)
#include "split_tracks.moc"
