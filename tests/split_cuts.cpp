// Where cuts fall, on made-up probes: which profiles copy, the boundary rule on frames and
// key frames, what is still to be read, the sections a plan of cuts gives, and the notes.
#include "split/CommandLine.h"
#include "split/CutPoints.h"
#include "split/JobPlan.h"
#include "split/OpenStarts.h"

#include <QtTest/QtTest>
#include <cmath>

namespace {

// A video stream of `count` frames at `rate` frames per second, a key frame every `gop`
// frames, B-frames decoded two frames ahead; read whole unless spans are given.
ProbeData Probe(double rate, int count, int gop, QList<ReadSpan> spans = {}, bool storesDts = true)
{
    ProbeData p;
    ProbeStream s;
    s.index = 0;
    s.type = "video";
    s.timeBaseNum = 1;
    s.timeBaseDen = 90000;
    s.area = 160 * 120;
    s.reorder = 2;
    p.streams << s;
    for (int k = 0; k < count; ++k) {
        ProbePacket f;
        f.stream = 0;
        f.pts = k / rate;
        f.dts = (k - 2) / rate;
        f.duration = 1 / rate;
        f.key = k % gop == 0;
        f.hasDts = storesDts;
        if (!storesDts)
            f.dts = f.pts;
        p.packets << f;
    }
    p.spans = spans.isEmpty() ? QList<ReadSpan>{ReadSpan{-1, std::nullopt}} : spans;
    p.formatName = storesDts ? "mov,mp4,m4a,3gp,3g2,mj2" : "matroska,webm";
    return p;
}

// 10 s at 25 frames per second, a key frame every 2 s that opens its group with the two
// pictures shown before it and decoded after it (an open GOP), as the codec's stream.
ProbeData OpenGroups(const QString& codec, bool storesDts)
{
    ProbeData p = Probe(25, 250, 50, {}, storesDts);
    p.streams.first().codec = codec;
    QList<int> order; // frame numbers in decode order
    for (int k = 0; k < 250; ++k) {
        if (k % 50 == 48 && k + 2 < 250)
            order << k + 2 << k << k + 1;
        else if (!(k % 50 == 49 && k + 1 < 250) && !(k % 50 == 0 && k > 0))
            order << k;
    }
    for (int at = 0; at < order.size(); ++at) {
        ProbePacket& f = p.packets[order.at(at)];
        f.dts = (at - 2) / 25.0;
        f.hasDts = true; // stored, or worked out in the file's order (Matroska)
    }
    return p;
}

QList<double> Times(const CutPlan& plan)
{
    QList<double> t;
    for (const CutPoint& c : plan.points)
        t << std::round(c.time * 1e6) / 1e6;
    return t;
}

} // namespace

class SplitCutsTest : public QObject {
    Q_OBJECT

private slots:
    void whichProfilesCopy_data()
    {
        QTest::addColumn<QString>("switches");
        QTest::addColumn<bool>("copy");
        QTest::newRow("shipped MP4 copy") << " -c:v copy -c:a copy -avoid_negative_ts make_zero -movflags +faststart" << true;
        QTest::newRow("shipped MKV copy") << " -c:v copy -c:a copy -avoid_negative_ts make_zero" << true;
        QTest::newRow("copy, sound encoded") << " -c:v copy -c:a aac" << true;
        QTest::newRow("everything") << " -c copy" << true;
        QTest::newRow("-codec") << " -codec copy" << true;
        QTest::newRow("-vcodec") << " -vcodec copy -acodec libmp3lame" << true;
        QTest::newRow("-codec:v:0") << " -codec:v:0 copy" << true;
        QTest::newRow("the last one counts") << " -c:v libx264 -c copy" << true;
        QTest::newRow("the last one counts, encoding") << " -c copy -c:v libx264" << false;
        QTest::newRow("encoding") << " -c:v libx264 -c:a aac" << false;
        QTest::newRow("sound copied, video encoded") << " -c:a copy" << false;
        QTest::newRow("another video stream") << " -c:v:1 copy" << false;
        QTest::newRow("-c:V:0, video that is no picture") << " -c:V:0 copy" << true;
        QTest::newRow("nothing named") << "" << false;
        QTest::newRow("sound only, copied") << " -vn -c:a copy" << true;
        QTest::newRow("sound only, -acodec") << " -vn  -acodec copy" << true;
        QTest::newRow("sound only, everything") << " -c copy -vn" << true;
        QTest::newRow("sound only, encoded") << " -vn -c:a libmp3lame -b:a 192k" << false;
        QTest::newRow("nothing left") << " -c copy -vn -an" << false;
        QTest::newRow("a value, not a switch") << " -metadata title=copy -c:v libx264" << false;
        // Copied video cut on exact frames is cut like encoded video.
        QTest::newRow("exact cuts") << " -c:v copy -cut_points exact -c:a copy" << false;
        QTest::newRow("key-frame cuts named") << " -c:v copy -cut_points keyframes" << true;
        QTest::newRow("exact cuts, sound only") << " -c copy -cut_points exact -vn" << true;
    }
    void whichProfilesCopy()
    {
        QFETCH(QString, switches);
        QFETCH(bool, copy);
        QCOMPARE(IsStreamCopyProfile(switches), copy);
        // Exact cuts only where copied video is left in.
        const ProfileStreams p = AnalyseProfileSwitches(switches);
        QCOMPARE(p.exactCuts, switches.contains("exact") && !switches.contains("-vn"));
        if (p.exactCuts)
            QVERIFY(!p.videoCopied && p.audioCopied);
    }

    void placesCuts_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<double>("rate");
        QTest::addColumn<QList<double>>("planned");
        QTest::addColumn<QList<double>>("cuts");
        const int frames = int(CutKind::Frames), keys = int(CutKind::KeyFrames);
        const double ntsc = 30000.0 / 1001;
        // 10 s of frames; key frames every 2 s.
        QTest::newRow("on frames") << frames << 25.0 << QList<double>{1.0, 4.333333, 7.666667} << QList<double>{1.0, 4.36, 7.68};
        QTest::newRow("half a millisecond either side")
            << frames << 25.0 << QList<double>{2.0004, 3.0006, 9.9604} << QList<double>{2.0, 3.04, 9.96};
        QTest::newRow("typed milliseconds at 29.97")
            << frames << ntsc << QList<double>{8.208, 9.877} << QList<double>{246 / ntsc, 296 / ntsc};
        QTest::newRow("past the end") << frames << 25.0 << QList<double>{6.0, 9.98, 12.0, 14.0}
                                      << QList<double>{6.0, 10.0, 10.0, 10.0};
        // The end runs on to the next key frame, here the end of the source: a whole group.
        QTest::newRow("copy: start back, inner nearest, end on a whole group")
            << keys << 25.0 << QList<double>{3.3, 5.1, 9.7} << QList<double>{2.0, 6.0, 10.0};
        QTest::newRow("copy: end on the next key frame") << keys << 25.0 << QList<double>{3.3, 7.1} << QList<double>{2.0, 8.0};
        QTest::newRow("copy: a tie goes back") << keys << 25.0 << QList<double>{0.5, 5.0, 8.0} << QList<double>{0.0, 4.0, 8.0};
        QTest::newRow("copy: start on a key frame") << keys << 25.0 << QList<double>{4.0, 6.0} << QList<double>{4.0, 6.0};
        QTest::newRow("copy: two points, one key frame")
            << keys << 25.0 << QList<double>{1.0, 3.8, 4.2, 7.0} << QList<double>{0.0, 4.0, 4.0, 8.0};
        // No key frame after 8 s: the rest goes with the section from there.
        QTest::newRow("copy: past the end") << keys << 25.0 << QList<double>{6.5, 9.5, 11.0, 13.0}
                                            << QList<double>{6.0, 8.0, 10.0, 10.0};
    }
    void placesCuts()
    {
        QFETCH(int, kind);
        QFETCH(double, rate);
        QFETCH(QList<double>, planned);
        QFETCH(QList<double>, cuts);
        const CutLookup found = PlaceCuts(planned, CutKind(kind), false, Probe(rate, int(std::round(10 * rate)), int(2 * rate)), 0);
        QVERIFY(found.plan);
        QList<double> want;
        for (double c : cuts)
            want << std::round(c * 1e6) / 1e6;
        QCOMPARE(Times(*found.plan), want);
        QVERIFY(found.plan->probed);
        QCOMPARE(found.plan->points.last().sourceEnd, planned.last() > 10.0);
    }

    void decodesFromTwoKeyFramesBack_data()
    {
        QTest::addColumn<int>("gop");          // frames at 25 per second
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("decodeFrom"); // -1: none
        QTest::newRow("inside a group") << 50 << 5.0 << 2.0;
        QTest::newRow("on a key frame") << 50 << 6.0 << 4.0;
        QTest::newRow("in the first group") << 50 << 1.0 << 0.0;
        QTest::newRow("in the second group: the first key frame is the start") << 50 << 2.5 << 0.0;
        // Key frames 30 s apart: a read seeks to the key frame before it, so both are known.
        QTest::newRow("long groups") << 750 << 35.0 << 0.0;
        QTest::newRow("on the first frame: nothing before it") << 50 << 0.0 << -1.0;
    }
    void decodesFromTwoKeyFramesBack()
    {
        QFETCH(int, gop);
        QFETCH(double, start);
        QFETCH(double, decodeFrom);
        const QList<double> planned{start, start + 1.0};
        // What the first look reads, and nothing else.
        ProbeData probe = Probe(25, 2000, gop, FirstReads(planned, CutKind::Frames));
        const CutLookup found = PlaceCuts(planned, CutKind::Frames, false, probe, 0);
        QVERIFY(found.plan);
        const std::optional<double> from = found.plan->points.first().decodeFrom;
        if (decodeFrom < 0)
            QVERIFY(!from || *from >= start - kSameTime);
        else
            QVERIFY2(from && std::fabs(*from - decodeFrom) < 1e-9, qPrintable(QString::number(from.value_or(-1))));
        // The end point starts nothing.
        QVERIFY(!found.plan->points.last().decodeFrom);
    }

    void readsOnWhereTheProbeFallsShort()
    {
        // Key frames 10 s apart: the first look around 6 s ([5, 9]) shows the one at 0 only,
        // so the look goes on to 12 s, where one nearer than 6 s away would have to be.
        const QList<double> planned{1.0, 6.0, 19.0};
        ProbeData probe = Probe(25, 500, 250, {ReadSpan{0.99, 1.01}, ReadSpan{5, 9}, ReadSpan{18.99, std::nullopt}});
        CutLookup found = PlaceCuts(planned, CutKind::KeyFrames, true, probe, 0);
        QVERIFY(!found.plan);
        QCOMPARE(found.toRead.size(), 1);
        QVERIFY(found.toRead[0].from <= 6.0 - kSameTime && found.toRead[0].to && *found.toRead[0].to >= 12.0);
        probe.spans << found.toRead;
        found = PlaceCuts(planned, CutKind::KeyFrames, true, probe, 0);
        QVERIFY(found.plan);
        QCOMPARE(Times(*found.plan), QList<double>({0.0, 10.0, 20.0}));

        // A point past what was read, in a file whose end is not known yet: read on to the end.
        probe = Probe(25, 250, 50, {ReadSpan{-1, 2.5}, ReadSpan{11.99, 13.5}});
        found = PlaceCuts({1.0, 12.0}, CutKind::Frames, false, probe, 0);
        QVERIFY(!found.plan);
        QCOMPARE(found.toRead.size(), 1);
        QVERIFY(!found.toRead[0].to);
    }

    void sectionsOfCuts()
    {
        JobPlan plan = MakeJobPlan(1.0, 9.5, true, 3, "/v/a.mkv", "/o", ".mkv");
        QCOMPARE(plan.PlannedPoints(), QList<double>({1.0, 1.0 + 8.5 / 3, 1.0 + 2 * 8.5 / 3, 9.5}));

        // Copied: each section runs from its key frame to the next, its video ending just
        // before the next key frame's decode time: two ticks before a stored one, half a frame
        // before the one ffmpeg works out for a file without. Into MP4, whose time base is the
        // source's, the encoder reads a source with stored decode times once.
        for (const bool storesDts : {true, false})
            for (const QString ext : {".mkv", ".mp4"}) {
                plan.extension = ext;
                plan.cuts = PlaceCuts(plan.PlannedPoints(), CutKind::KeyFrames, true, Probe(25, 250, 50, {}, storesDts), 0).plan;
                QVERIFY(plan.cuts);
                const JobSection s = plan.Section(2);
                QCOMPARE(s.start, 4.0);
                QCOMPARE(s.end, 6.0);
                QCOMPARE(s.length, 2.0);
                QVERIFY(s.videoEndDts);
                QCOMPARE(*s.videoEndDts, 6.0 - 0.08 - 4.0 - (storesDts ? 2 / 90000.0 : 0.02));
                QStringList args{"-video_end_dts", FormatSeconds(*s.videoEndDts)};
                if (storesDts && ext == ".mp4")
                    args << "-video_dts" << "stored";
                QCOMPARE(SectionCutArguments(s), args + QStringList({"-copypriorss", "0"}));
                // The last one runs on to a whole group of pictures: here to the source's end.
                QCOMPARE(plan.Section(3).end, 10.0);
                QVERIFY(!plan.Section(3).videoEndDts);
            }

        // Re-encoded: from frame to frame, the length a little short of the next frame.
        plan.cuts = PlaceCuts(plan.PlannedPoints(), CutKind::Frames, false, Probe(25, 250, 50), 0).plan;
        const JobSection s = plan.Section(2);
        QCOMPARE(s.start, 3.84);
        QVERIFY(s.length < s.end - s.start && s.length > s.end - s.start - 0.02);
        // Decoded from the key frame before the last one at or before its start.
        QCOMPARE(SectionCutArguments(s), QStringList({"-decode_from", "0"}));
        // Copied video cut on exact frames: the encoder learns where the next section starts,
        // which the last one has none of.
        QCOMPARE(SectionCutArguments(s, true), QStringList({"-cut_end", "next"}));
        QVERIFY(SectionCutArguments(plan.Section(3), true).isEmpty());

        // A section between two cuts on the same frame is empty; without cuts, the plan's own.
        plan.cuts->points[2] = plan.cuts->points[1];
        QVERIFY(plan.Section(2).empty);
        plan.cuts.reset();
        QCOMPARE(plan.Section(2).start, 1.0 + 8.5 / 3);
        QVERIFY(!plan.Section(2).empty);
    }

    void startsOnWholePictures_data()
    {
        QTest::addColumn<QString>("codec");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<bool>("storesDts");
        QTest::addColumn<bool>("exact"); // the sections start on the leading pictures, cut exactly
        // Without an edit list the section before cannot hide them; the exact cut resumes at a CRA.
        QTest::newRow("H.265 into Matroska") << "hevc" << ".mkv" << true << true;
        QTest::newRow("H.265 from Matroska") << "hevc" << ".mkv" << false << true;
        QTest::newRow("H.265 into MP4: the edit lists hide them") << "hevc" << ".mp4" << true << false;
        // H.264 even into MP4: its leading pictures refer to the group before, which the
        // first P-picture's memory management releases; the exact cut resumes at the I-picture.
        QTest::newRow("H.264 into Matroska") << "h264" << ".mkv" << true << true;
        QTest::newRow("H.264 into MP4") << "h264" << ".mp4" << true << true;
    }
    void startsOnWholePictures()
    {
        QFETCH(QString, codec);
        QFETCH(QString, extension);
        QFETCH(bool, storesDts);
        QFETCH(bool, exact);
        QVERIFY(ExactCutResumesAtOpenKeyFrames("hevc") && ExactCutResumesAtOpenKeyFrames("h264")
                && !ExactCutResumesAtOpenKeyFrames("mpeg2video"));
        const ProbeData probe = OpenGroups(codec, storesDts);
        CutPlan cuts = PlaceCuts({3.3, 5.9, 7.5}, CutKind::KeyFrames, true, probe, 0).plan.value();
        QCOMPARE(Times(cuts), QList<double>({2.0, 6.0, 8.0}));
        for (const CutPoint& c : cuts.points) {
            QVERIFY(c.leadingFrom);
            QCOMPARE(*c.leadingFrom, c.time - 0.08);
        }
        StartOnWholePictures(cuts, codec, 2, extension);
        // Without an edit list the end moves onto its key frame's leading pictures (past the
        // marked end), so that the last section ends on a whole group.
        const double end = extension == ".mkv" ? 7.92 : 8.0;
        QCOMPARE(Times(cuts), exact ? QList<double>({1.92, 5.92, end}) : QList<double>({2.0, 6.0, end}));
        for (int j = 0; j < 2; ++j) {
            QCOMPARE(cuts.points.at(j).exactStart, exact);
            QCOMPARE(cuts.points.at(j).keyFrame.value_or(-1), exact ? 2.0 + 4 * j : -1.0);
        }
        JobPlan plan = MakeJobPlan(3.3, 7.5, true, 2, "/v/a.mkv", "/o", extension);
        plan.cuts = cuts;
        const JobSection first = plan.Section(1), second = plan.Section(2);
        QCOMPARE(first.end, second.start);
        QCOMPARE(SectionCutArguments(second).contains("-cut_start"), exact);
        QCOMPARE(SectionCutArguments(first).contains("-video_shown_until"), !exact && storesDts && extension == ".mp4");
        if (exact)
            QCOMPARE(SectionCutArguments(first).mid(SectionCutArguments(first).indexOf("-cut_start")),
                     QStringList({"-cut_start", "2", "-cut_end", "next"}));
        QCOMPARE(CutNotes(cuts).contains("Sections 1 and 2 begin with the pictures shown before their key frames, which a "
                                         "copy cannot begin with; they were encoded again: from 00:00:01.920 to "
                                         "00:00:02.000, from 00:00:05.920 to 00:00:06.000."),
                 exact);
        // One output begun on the leading pictures is still copied from its key frame.
        CutPlan one = PlaceCuts({3.3, 5.5}, CutKind::KeyFrames, true, probe, 0).plan.value();
        StartOnWholePictures(one, codec, 2, extension);
        QVERIFY2(CutNotes(one).contains("Copied from the key frame at 00:00:02.000 on, so everything marked is inside."),
                 qPrintable(CutNotes(one).join('\n')));
    }

    void startsOnRecoveryPoints()
    {
        // Key frames of an intra refresh: copied from the one before into MP4 where there are
        // no B-frames, cut exactly otherwise.
        for (const QString extension : {".mp4", ".mkv", "B-frames.mp4"}) {
            CutPlan cuts = PlaceCuts({3.3, 5.9, 7.5}, CutKind::KeyFrames, true, Probe(25, 250, 50), 0).plan.value();
            cuts.points[0].refreshFrom = 0.0;
            cuts.points[1].refreshFrom = 4.0;
            const QString type = extension.right(4);
            StartOnWholePictures(cuts, "h264", extension == type ? 0 : 2, type);
            JobPlan plan = MakeJobPlan(3.3, 7.5, true, 2, "/v/a.mkv", "/o", type);
            plan.cuts = cuts;
            const QStringList args = SectionCutArguments(plan.Section(2));
            if (extension == ".mp4") {
                QVERIFY2(args.contains("-decode_from") && args.at(args.indexOf("-decode_from") + 1) == "4", qPrintable(args.join(' ')));
                QVERIFY(!args.contains("-cut_start"));
                QVERIFY(CutNotes(cuts).contains("Sections 1 and 2 begin on recovery points of an intra refresh: the "
                                                "video is copied from the recovery point before, whose refresh is "
                                                "whole by then, and the file does not show the pictures before the start."));
            } else {
                QVERIFY(!args.contains("-decode_from"));
                QVERIFY(args.contains("-cut_start"));
                QCOMPARE(cuts.points[1].keyFrame.value_or(-1), 6.0);
                QVERIFY(CutNotes(cuts).contains("Sections 1 and 2 begin on recovery points of an intra refresh, "
                                                "whose pictures are whole only a refresh later; the video was "
                                                "encoded again up to where a copy can resume."));
            }
        }
        // Which of ffprobe's frames are no I-picture, from the format's start.
        QCOMPARE(NonIntraFrames("1.480000,P\n2.480000,I\nN/A,P\n\n3.600000,B\n", 0.4), QList<double>({1.08, 3.2}));
    }

    void notes()
    {
        CutPlan cuts = PlaceCuts({3.3, 6.0, 9.0, 11.0, 13.0}, CutKind::KeyFrames, true, Probe(25, 250, 50), 0).plan.value();
        QCOMPARE(CutNotes(cuts), QStringList({"Copied streams are cut on key frames: the sections begin at "
                                              "00:00:02.000, 00:00:06.000 and 00:00:08.000.",
                                              "The source ends at 00:00:10.000, before the marked end.",
                                              "Section 4 was not written: the source ends before it."}));
        cuts = PlaceCuts({3.3, 8.0}, CutKind::KeyFrames, true, Probe(25, 250, 50), 0).plan.value();
        QCOMPARE(CutNotes(cuts),
                 QStringList({"Copied from the key frame at 00:00:02.000 on, so everything marked is inside."}));
        cuts = PlaceCuts({1.0, 3.9, 4.1, 7.0}, CutKind::KeyFrames, true, Probe(25, 250, 50), 0).plan.value();
        QCOMPARE(CutNotes(cuts).last(), QString("Section 2 was not written: its cuts fall on the same key frame."));
        // A thousand sections on 21 key frames: the notes stay short.
        QList<double> many;
        for (int i = 0; i <= 1000; ++i)
            many << 0.5 + i * 0.0094;
        cuts = PlaceCuts(many, CutKind::KeyFrames, true, Probe(25, 250, 12), 0).plan.value();
        QCOMPARE(CutNotes(cuts), QStringList({"Copied streams are cut on key frames: the sections begin at 00:00:00.480, "
                                              "00:00:00.960, 00:00:01.440, 00:00:01.920, 00:00:02.400, ... and "
                                              "00:00:09.600.",
                                              "The copy ends at 00:00:10.000, after the marked end, on a whole group of pictures.",
                                              "980 of the 1000 sections were not written: their cuts fall on the same key frame."}));
        // Frames that lie where they were marked need no word; nor cuts never looked up.
        cuts = PlaceCuts({2.0, 4.0, 6.0}, CutKind::Frames, false, Probe(25, 250, 50), 0).plan.value();
        QVERIFY(CutNotes(cuts).isEmpty());
        QVERIFY(CutNotes(UnprobedCuts({3.3, 20.0}, CutKind::KeyFrames, true)).isEmpty());

        QCOMPARE(FormatCutTime(3723.4567), QString("01:02:03.457"));
    }

    void encoderNotes_data()
    {
        QTest::addColumn<QStringList>("notes"); // "section|text"
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("shown");
        const QString why = ": exact cuts need H.264 or H.265 video, and this video is MPEG-4 part 2";
        auto cut = [&](int section, const QString& from, const QString& to) {
            return QString("%1|cut on key frames from %2 to %3%4").arg(section).arg(from, to, why);
        };
        QTest::newRow("one section")
            << QStringList{cut(1, "00:00:04.000", "00:00:11.920")} << 1
            << QStringList{"The video was cut on key frames instead of exact frames, from 00:00:04.000 to "
                           "00:00:11.920: exact cuts need H.264 or H.265 video, and this video is MPEG-4 part 2."};
        QTest::newRow("sections together, one with nothing in it")
            << QStringList{cut(1, "00:00:00.000", "00:00:07.960"), cut(2, "00:00:07.960", "00:00:07.960"),
                           cut(3, "00:00:07.960", "00:00:11.920"), cut(4, "00:00:11.920", "00:00:21.500")}
            << 4
            << QStringList{"Sections 1, 3 and 4 were cut on key frames instead of exact frames (exact cuts need H.264 "
                           "or H.265 video, and this video is MPEG-4 part 2): they begin at 00:00:00.000, "
                           "00:00:07.960 and 00:00:11.920.",
                           "Section 2 was not written: no key frame lies between its cuts (exact cuts need H.264 or "
                           "H.265 video, and this video is MPEG-4 part 2)."};
        QTest::newRow("a note of another kind") << QStringList{"2|something else."} << 3
                                                << QStringList{"Section 2: Something else."};
    }
    void encoderNotes()
    {
        QFETCH(QStringList, notes);
        QFETCH(int, count);
        QFETCH(QStringList, shown);
        QList<EncoderNote> list;
        for (const QString& n : notes)
            list.append(EncoderNote{n.section('|', 0, 0).toInt(), n.section('|', 1)});
        QCOMPARE(EncoderNotes(list, count), shown);
        QCOMPARE(NoteSaysNothingWritten(list.first().text), notes.first().contains("07.960 to 00:00:07.960"));
        QCOMPARE(FormatCutTime(59.9996), QString("00:01:00.000"));
    }
};

QTEST_GUILESS_MAIN(SplitCutsTest)
#include "split_cuts.moc"
