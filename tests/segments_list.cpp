// The segment list and the files it is kept in: edits, CSV and project files (hostile ones
// too), chapters, output names and the join's list. Core library only.
#include "segments_support.h"

#include "segments/SegmentJob.h"
#include "segments/SegmentList.h"
#include "split/OutputFile.h"

#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <cmath>

using Segments = QList<Segment>;
Q_DECLARE_METATYPE(Segment)

class SegmentsListTest : public QObject {
    Q_OBJECT
private slots:
    void edits();
    void templateNames_data();
    void templateNames();
    void staleJoinPiecesSwept();
    void times_data();
    void times();
    void csvReads_data();
    void csvReads();
    void csvRoundTrip();
    void csvRefuses_data();
    void csvRefuses();
    void projectRoundTrip();
    void projectRefuses_data();
    void projectRefuses();
    void fileReadsAreBounded();
    void chapters();
    void outputNames_data();
    void outputNames();
    void joinList();
    void joinSound_data();
    void joinSound();
    void pieceLength();
};

void SegmentsListTest::edits()
{
    SegmentList l;
    QVERIFY(l.Add({1, 2, "a"}));
    QVERIFY(l.Add({3, 4, "b"}));
    QVERIFY(l.Add({0, 0.5, "first"}, 0));
    QCOMPARE(l.At(0).name, "first");
    QVERIFY(l.Move(0, 2));
    QCOMPARE(l.At(2).name, "first");
    QCOMPARE(l.At(0).name, "a");
    QVERIFY(l.Rename(1, "  b\tnew\n "));
    QCOMPARE(l.At(1).name, "bnew"); // control characters out, blanks trimmed
    QVERIFY(l.SetTimes(1, 5, 6));
    QCOMPARE(l.At(1).start, 5.0);
    QVERIFY(l.Remove(0));
    QCOMPARE(l.Count(), 2);

    const SegmentList before = l;
    // Refused edits change nothing.
    QVERIFY(!l.Add({2, 2, "empty"}));
    QVERIFY(!l.Add({3, 1, "backwards"}));
    QVERIFY(!l.Add({-1, 1, "negative"}));
    QVERIFY(!l.Add({qQNaN(), 1, "nan"}));
    QVERIFY(!l.Add({0, qInf(), "inf"}));
    QVERIFY(!l.Add({0, 1, "far"}, 5));
    QVERIFY(!l.Remove(2));
    QVERIFY(!l.Move(0, 2));
    QVERIFY(!l.Move(-1, 0));
    QVERIFY(!l.Rename(-1, "x"));
    QVERIFY(!l.SetTimes(0, 4, 3));
    QVERIFY(!l.Assign({{0, 1, "ok"}, {2, 1, "bad"}}));
    QVERIFY(l == before);

    QVERIFY(l.Rename(0, QString(500, QChar(0x00e9))));
    QCOMPARE(l.At(0).name.size(), kMaxSegmentName);

    SegmentList full;
    for (int i = 0; i < kMaxSegments; ++i)
        QVERIFY(full.Add({double(i), i + 0.5, QString()}));
    QVERIFY(!full.Add({0, 1, "one too many"}));
}

void SegmentsListTest::times_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("seconds"); // -1: refused
    QTest::newRow("seconds") << "90" << 90.0;
    QTest::newRow("fraction") << " 12.5 " << 12.5;
    QTest::newRow("clock") << "01:02:03.250" << 3723.25;
    QTest::newRow("minutes and seconds") << "2:03.5" << 123.5;
    QTest::newRow("long hours") << "100:00:00" << 360000.0;
    QTest::newRow("minutes 60") << "00:60:00" << -1.0;
    QTest::newRow("negative") << "-1" << -1.0;
    QTest::newRow("comma") << "1,5" << -1.0;
    QTest::newRow("exponent") << "1e3" << -1.0;
    QTest::newRow("empty") << "" << -1.0;
    QTest::newRow("words") << "start" << -1.0;
}

void SegmentsListTest::times()
{
    QFETCH(QString, text);
    QFETCH(double, seconds);
    const std::optional<double> t = ParseSegmentTime(text);
    if (seconds < 0) {
        QVERIFY(!t);
        return;
    }
    QVERIFY(t);
    QCOMPARE(*t, seconds);
    QCOMPARE(ParseSegmentTime(FormatSegmentTime(seconds)).value(), seconds);
}

void SegmentsListTest::csvReads_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Segments>("expected");
    QTest::newRow("header, seconds, clock")
        << QByteArray("start,end,name\n1,2.5,One\n00:00:03.000,00:00:04.500,Two\n")
        << Segments{{1, 2.5, "One"}, {3, 4.5, "Two"}};
    QTest::newRow("no header, no names, CRLF, blank lines")
        << QByteArray("1,2\r\n\r\n3,4,\r\n") << Segments{{1, 2, ""}, {3, 4, ""}};
    QTest::newRow("quoted comma, quote and line break")
        << QByteArray("1,2,\"Intro, part \"\"one\"\"\"\n3,4,\"two\nlines\"\n")
        << Segments{{1, 2, "Intro, part \"one\""}, {3, 4, "twolines"}};
    QTest::newRow("byte order mark, blanks around fields")
        << QByteArray("\xEF\xBB\xBFstart , end , name\n 1 , 2 , Name with blanks \n")
        << Segments{{1, 2, "Name with blanks"}};
    QTest::newRow("UTF-8 names") << QByteArray("0,1,K\xC3\xA4se\n") << Segments{{0, 1, QString::fromUtf8("K\xC3\xA4se")}};
    QTest::newRow("empty file") << QByteArray() << Segments{};
}

void SegmentsListTest::csvReads()
{
    QFETCH(QByteArray, text);
    QFETCH(Segments, expected);
    const SegmentReadResult r = ParseSegmentCsv(text);
    QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
    QCOMPARE(r.segments, expected);
}

void SegmentsListTest::csvRoundTrip()
{
    const Segments s{{0.04, 1.5, "plain"}, {2, 3.333333, "with, comma"}, {4, 5, "with \"quotes\""}, {6, 7, ""},
                     {8, 9, " edge "}};
    const SegmentReadResult r = ParseSegmentCsv(SegmentCsv(s));
    QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
    QCOMPARE(r.segments.size(), s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        QCOMPARE(r.segments[i].start, s[i].start);
        QCOMPARE(r.segments[i].end, s[i].end);
        QCOMPARE(r.segments[i].name, CleanSegmentName(s[i].name));
    }
}

void SegmentsListTest::csvRefuses_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error"); // a part of the message
    QTest::newRow("end before start") << QByteArray("start,end\n1,2\n5,4\n") << "line 3";
    QTest::newRow("not a time") << QByteArray("1,2\nabc,4\n") << "line 2";
    QTest::newRow("too many fields") << QByteArray("1,2,a,b\n") << "line 1";
    QTest::newRow("one field") << QByteArray("1,2\n3\n") << "line 2";
    QTest::newRow("open quote") << QByteArray("1,2,\"never closed\n3,4,x\n") << "line 1";
    QTest::newRow("text after a quote") << QByteArray("1,2,\"a\"b\n") << "line 1";
    QTest::newRow("beyond the time limit") << QByteArray("1,99999999\n") << "line 1";
    QTest::newRow("NaN in disguise") << QByteArray("nan,inf\n1,2\n") << "line 2"; // header row, then fine? no:
    QByteArray many;
    for (int i = 0; i <= kMaxSegments; ++i)
        many += QByteArray::number(i) + "," + QByteArray::number(i + 1) + "\n";
    QTest::newRow("too many rows") << many << "more than";
    QTest::newRow("too large") << QByteArray(kMaxSegmentFile + 1, 'a') << "larger";
}

void SegmentsListTest::csvRefuses()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    const SegmentReadResult r = ParseSegmentCsv(text);
    if (QTest::currentDataTag() == QLatin1String("NaN in disguise")) {
        // "nan,inf" is taken as a header, not as times: the one row after it is read.
        QVERIFY(r.error.isEmpty());
        QCOMPARE(r.segments, (Segments{{1, 2, ""}}));
        return;
    }
    QVERIFY(r.segments.isEmpty());
    QVERIFY2(r.error.contains(error), qPrintable(r.error));
}

void SegmentsListTest::projectRoundTrip()
{
    SegmentProject p;
    p.sourcePath = QString::fromUtf8("/videos/Urlaub \xC3\xA4/holiday.mp4");
    p.markStart = 1.5;
    p.markEnd = 9.25;
    p.segments = {{1, 2, "One"}, {3, 4.040, "Two, \"quoted\""}};
    p.output = SegmentOutput::Joined;
    p.chaptersAtJoins = true;
    p.profile = "MP4 - Stream copy - no re-encoding";
    const SegmentProjectRead r = ParseSegmentProject(SegmentProjectJson(p));
    QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
    QVERIFY(r.project);
    QVERIFY(*r.project == p);

    // Written whole through a file and read back the same.
    QTemporaryDir dir;
    const QString path = dir.filePath("holiday.vtsegments");
    QString error;
    QVERIFY(WriteSegmentFile(path, SegmentProjectJson(p), &error));
    const std::optional<QByteArray> back = ReadSegmentFile(path, &error);
    QVERIFY(back);
    QVERIFY(*ParseSegmentProject(*back).project == p);
}

void SegmentsListTest::projectRefuses_data()
{
    QTest::addColumn<QByteArray>("json");
    const QByteArray head = R"("format":"veltrane-segments","version":1,"source":"/a.mp4")";
    QTest::newRow("not JSON") << QByteArray("{nope");
    QTest::newRow("an array") << QByteArray("[]");
    QTest::newRow("another format") << QByteArray(R"({"format":"x","version":1,"source":"/a","segments":[]})");
    QTest::newRow("later version") << QByteArray(R"({"format":"veltrane-segments","version":2,"source":"/a","segments":[]})");
    QTest::newRow("no segments") << "{" + head + "}";
    QTest::newRow("segments not a list") << "{" + head + R"(,"segments":{"start":1}})";
    QTest::newRow("time as text") << "{" + head + R"(,"segments":[{"start":"1","end":2}]})";
    QTest::newRow("negative time") << "{" + head + R"(,"segments":[{"start":-1,"end":2}]})";
    QTest::newRow("huge time") << "{" + head + R"(,"segments":[{"start":1,"end":1e300}]})";
    QTest::newRow("end before start") << "{" + head + R"(,"segments":[{"start":3,"end":2}]})";
    QTest::newRow("name not text") << "{" + head + R"(,"segments":[{"start":1,"end":2,"name":[1]}]})";
    QTest::newRow("mark not a time") << "{" + head + R"(,"start":"x","segments":[]})";
    QTest::newRow("unknown output") << "{" + head + R"(,"segments":[],"output":"rm -rf"})";
    QTest::newRow("control characters in the source")
        << QByteArray(R"({"format":"veltrane-segments","version":1,"source":"/a\nb","segments":[]})");
    QTest::newRow("source path too long")
        << R"({"format":"veltrane-segments","version":1,"source":")" + QByteArray(5000, 'a') + R"(","segments":[]})";
    QByteArray many = "{" + head + R"(,"segments":[)";
    for (int i = 0; i <= kMaxSegments; ++i)
        many += (i ? "," : "") + QByteArray(R"({"start":1,"end":2})");
    QTest::newRow("too many segments") << many + "]}";
    QTest::newRow("too large") << QByteArray(kMaxSegmentFile + 1, ' ');
}

void SegmentsListTest::projectRefuses()
{
    QFETCH(QByteArray, json);
    const SegmentProjectRead r = ParseSegmentProject(json);
    QVERIFY(!r.project);
    QVERIFY(!r.error.isEmpty());
}

void SegmentsListTest::fileReadsAreBounded()
{
    QTemporaryDir dir;
    QString error;
    QVERIFY(!ReadSegmentFile(dir.path(), &error)); // a folder
    QVERIFY(!ReadSegmentFile("/dev/zero", &error)); // endless
    QVERIFY(!ReadSegmentFile(dir.filePath("missing.csv"), &error));
    QFile big(dir.filePath("big.csv"));
    QVERIFY(big.open(QIODevice::WriteOnly));
    big.resize(kMaxSegmentFile + 10);
    big.close();
    QVERIFY(!ReadSegmentFile(big.fileName(), &error));
    QVERIFY(error.contains("larger"));
}

void SegmentsListTest::chapters()
{
    const Segments s{{10, 12.5, "Intro; = #1\\"}, {20, 21, ""}};
    QCOMPARE(ChapterMetadata(SegmentChapters(s)),
             QByteArray(";FFMETADATA1\n\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=10000\nEND=12500\ntitle=Intro\\; \\= \\#1\\\\\n"
                        "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=20000\nEND=21000\ntitle=Segment 2\n"));
    const QList<Chapter> joined = JoinChapters(s, {2.48, 1.0});
    QCOMPARE(joined.size(), 2);
    QCOMPARE(joined[0].start, 0.0);
    QCOMPARE(joined[1].start, 2.48); // where the first piece really ended
    QCOMPARE(joined[1].end, 3.48);
}

void SegmentsListTest::outputNames_data()
{
    QTest::addColumn<Segments>("segments");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("numbered") << Segments{{0, 1, ""}, {1, 2, ""}} << QStringList{"hol_Clip1", "hol_Clip2"};
    QTest::newRow("named") << Segments{{0, 1, "Intro"}, {1, 2, ""}} << QStringList{"hol_Intro", "hol_Clip2"};
    QTest::newRow("separators and patterns")
        << Segments{{0, 1, "../../etc/passwd"}, {1, 2, "a:b*c?%d|e"}} << QStringList{"hol__.._etc_passwd", "hol_a_b_c__d_e"};
    QTest::newRow("dots and blanks only") << Segments{{0, 1, " ... "}} << QStringList{"hol_Clip1"};
    QTest::newRow("same name twice, any case")
        << Segments{{0, 1, "Take"}, {1, 2, "take"}, {2, 3, "Take"}} << QStringList{"hol_Take", "hol_take (2)", "hol_Take (3)"};
    QTest::newRow("long name cut") << Segments{{0, 1, QString(300, 'x')}} << QStringList{"hol_" + QString(120, 'x')};
}

void SegmentsListTest::outputNames()
{
    QFETCH(Segments, segments);
    QFETCH(QStringList, names);
    QCOMPARE(SegmentOutputNames("hol", segments), names);
}

void SegmentsListTest::templateNames_data()
{
    QTest::addColumn<QString>("nameTemplate");
    QTest::addColumn<bool>("joined");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("default, separate") << "" << false << QStringList{"hol_Intro", "hol_Clip2", "hol_a_b", "hol_take"};
    QTest::newRow("default written out") << "{source}_Clip{n}" << false << QStringList{"hol_Intro", "hol_Clip2", "hol_a_b", "hol_take"};
    QTest::newRow("number and name") << "{n} {title}" << false << QStringList{"1 Intro", "2", "3 a_b", "4 take"};
    QTest::newRow("names alike in any case") << "{title}" << false << QStringList{"Intro", "_", "a_b", "take"};
    QTest::newRow("padded with times") << "{profile}-{n:2}-{start}" << false
                                       << QStringList{"MP4-01-00-00-01.500", "MP4-02-00-00-05", "MP4-03-00-00-09", "MP4-04-00-00-12"};
    QTest::newRow("default, joined") << "" << true << QStringList{"hol_Joined"};
    QTest::newRow("joined: no title") << "{source} {title}" << true << QStringList{"hol"};
    QTest::newRow("joined: first start, last end") << "{source}_{n}_{start}_{end}" << true
                                                   << QStringList{"hol_1_00-00-01.500_00-00-14"};
}

void SegmentsListTest::templateNames()
{
    QFETCH(QString, nameTemplate);
    QFETCH(bool, joined);
    QFETCH(QStringList, names);
    SegmentJobOrder order;
    order.baseName = "hol";
    order.extension = ".mp4";
    order.profileName = "MP4";
    order.nameTemplate = nameTemplate;
    order.output = joined ? SegmentOutput::Joined : SegmentOutput::Separate;
    order.segments = {{1.5, 3, "Intro"}, {5, 6, ""}, {9, 10, "a/b"}, {12, 14, "take"}};
    QCOMPARE(SegmentJobNames(order), names);
    order.outputFolder = "/out/";
    QCOMPARE(SegmentJobOutputs(order).first(), "/out/" + names.first() + ".mp4");
    // Names alike but for case get a number: folders on FAT32 and NTFS do not tell them apart.
    order.segments.last().name = "INTRO";
    if (!joined && nameTemplate == "{title}")
        QCOMPARE(SegmentJobNames(order).last(), "INTRO_2");
}

// Pieces of a killed join go; a user's file of a like name, pieces whose lock file is no lock
// of ours and a running join's pieces stay.
void SegmentsListTest::staleJoinPiecesSwept()
{
    QTemporaryDir dir;
    const QString folder = dir.path();
    auto write = [&](const QString& name, const QByteArray& content) {
        QFile f(folder + "/" + name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    };
    const QString stale = LeaveStaleJoin(folder, {"vtjoin-%1-1.mp4", "vtjoin-%1-2.mp4", "vtjoin-%1.txt", "vtjoin-%1.ffmeta"});
    QVERIFY(!stale.isEmpty());
    // The piece being written when it was killed, under its temporary name (locked by nobody).
    PartialOutput part(folder + "/vtjoin-" + stale + "-3.mp4");
    QString error;
    QVERIFY(part.Create(&error));
    const QString hiddenPart = QFileInfo(part.TempPath()).fileName();
    part.Discard();
    write(hiddenPart, "half");
    write("vtjoin-notes.txt", "mine");
    write("vtjoin-abc-1.mp4", "mine");
    write("vtjoin-def.lock", "my own lock file\n");
    write("vtjoin-def-1.mp4", "mine");
    JoinLock live;
    QVERIFY(live.Acquire(folder, &error));
    write("vtjoin-" + live.Token() + "-1.mp4", "running");

    QCOMPARE(SweepStaleJoinPieces(folder), 6); // four pieces, the half-written one, the lock
    QStringList kept = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    QStringList expected{"vtjoin-abc-1.mp4", "vtjoin-def-1.mp4", "vtjoin-def.lock", "vtjoin-notes.txt",
                         "vtjoin-" + live.Token() + "-1.mp4", "vtjoin-" + live.Token() + ".lock"};
    expected.sort();
    QCOMPARE(kept, expected);
    QCOMPARE(SweepStaleJoinPieces(folder), 0);
    // A job that ends takes its lock with it.
    const QString lockPath = live.Path();
    live.Release();
    QVERIFY(!QFile::exists(lockPath));
}

void SegmentsListTest::joinList()
{
    QCOMPARE(JoinList({"vtjoin-a-1.mp4", "vtjoin-a-2.mp4"}, {1.4, 0.92}),
             QByteArray("ffconcat version 1.0\nfile 'vtjoin-a-1.mp4'\ninpoint 0\noutpoint 1.400000\n"
                        "file 'vtjoin-a-2.mp4'\ninpoint 0\noutpoint 0.920000\n"));
}

void SegmentsListTest::joinSound_data()
{
    QTest::addColumn<QString>("switches");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("copied") << "-c:v copy -c:a copy" << QStringList{"-c:a", "copy"};
    QTest::newRow("all copied") << "-c copy" << QStringList{"-c:a", "copy"};
    QTest::newRow("no sound") << "-c:v libx264 -an" << QStringList{"-c:a", "copy"};
    QTest::newRow("encoded, last one counts")
        << "-c:v libx264 -acodec mp3 -c:a aac -b:a 128k -ar 48000 -ac 2 -af volume=2"
        << QStringList{"-c:a", "aac", "-b:a", "128k", "-ar", "48000", "-ac", "2"};
}

void SegmentsListTest::joinSound()
{
    QFETCH(QString, switches);
    QFETCH(QStringList, args);
    QCOMPARE(JoinSoundArguments(switches), args);
}

void SegmentsListTest::pieceLength()
{
    const QByteArray json = R"({"packets":[
        {"stream_index":1,"pts_time":"1.380000","duration_time":"0.021333"},
        {"stream_index":0,"pts_time":"1.360000","duration_time":"0.040000"},
        {"stream_index":0,"pts_time":"1.280000","duration_time":"0.040000"},
        {"stream_index":1,"pts_time":"1.420000","duration_time":"0.021333"}],
      "streams":[{"index":0,"codec_type":"video","disposition":{"attached_pic":0}},{"index":1,"codec_type":"audio"}]})";
    QCOMPARE(PieceLengthFromProbe(json).value(), 1.4); // the pictures', not the sound's
    const QByteArray sound = R"({"packets":[{"stream_index":0,"pts_time":"2.0","duration_time":"0.5"}],
      "streams":[{"index":0,"codec_type":"audio"}]})";
    QCOMPARE(PieceLengthFromProbe(sound).value(), 2.5);
    QVERIFY(!PieceLengthFromProbe("{}"));
}

QTEST_GUILESS_MAIN(SegmentsListTest)
#include "segments_list.moc"
