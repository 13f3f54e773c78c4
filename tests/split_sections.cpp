// Ways of dividing a range (length, size, chapters, chosen points) and the names of the
// outputs, on plain values: no ffmpeg, no window.
#include "split/JobPlan.h"
#include "split/OutputNames.h"
#include "split/SectionModes.h"

#include <QtTest/QtTest>

namespace {

// A minute of 25 fps video with a key frame every `gop` frames (key frames `keyBytes`,
// others `frameBytes`) and a sound packet every 1024/48000 s of 400 bytes.
QList<SizedPacket> Packets(int gop, qint64 keyBytes, qint64 frameBytes, double seconds = 60)
{
    QList<SizedPacket> packets;
    for (int f = 0; f < int(seconds * 25); ++f)
        packets << SizedPacket{f / 25.0, f % gop == 0 ? keyBytes : frameBytes, f % gop == 0};
    for (double t = 0; t < seconds; t += 1024.0 / 48000.0)
        packets << SizedPacket{t, 400, false};
    return packets;
}

JobPlan Plan(double start, double end, const QString& nameTemplate = QString())
{
    JobPlan plan = MakeJobPlan(start, end, false, 1, "/v/holiday.mp4", "/out", ".mp4");
    plan.nameTemplate = nameTemplate;
    plan.profileName = "MP4 - Stream copy";
    return plan;
}

} // namespace

class SplitSectionsTest : public QObject {
    Q_OBJECT

private slots:
    void names_data()
    {
        QTest::addColumn<QString>("nameTemplate");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<QStringList>("expected");
        const QStringList none{QString(), QString(), QString()};
        // The default keeps a base name as it is, even one no template would pass.
        QTest::newRow("default") << QString() << "holiday" << none
                                 << QStringList{"holiday_Clip1.mp4", "holiday_Clip2.mp4", "holiday_Clip3.mp4"};
        QTest::newRow("default spelled out, dotted base kept") << kDefaultNameTemplate << ".hidden" << none
                                 << QStringList{".hidden_Clip1.mp4", ".hidden_Clip2.mp4", ".hidden_Clip3.mp4"};
        QTest::newRow("fields") << "{source} {n:3} {start}-{end} {profile}" << "trip" << none
                                << QStringList{"trip 001 00-00-10-00-00-30 MP4 - Stream copy.mp4",
                                               "trip 002 00-00-30-00-00-50 MP4 - Stream copy.mp4",
                                               "trip 003 00-00-50-00-01-10.500 MP4 - Stream copy.mp4"};
        QTest::newRow("titles, separators and reserved characters")
            << "{title}" << "x" << QStringList{"Act 1/2: \"Go\"", "a\\b|c?*<>%", "-rf"}
            << QStringList{"Act 1_2_ _Go_.mp4", "a_b_c_____.mp4", "rf.mp4"};
        QTest::newRow("leading dots, trailing dots and blanks, empty") << "{title}" << "x"
            << QStringList{"..secret", "end. . ", ""} << QStringList{"secret.mp4", "end.mp4", "_.mp4"};
        QTest::newRow("reserved device names") << "{title}" << "x" << QStringList{"CON", "nul.txt", "com1"}
                                               << QStringList{"_CON.mp4", "_nul.txt.mp4", "_com1.mp4"};
        QTest::newRow("collisions, case folded") << "{title}" << "x" << QStringList{"Part", "part", "Part_2"}
                                                 << QStringList{"Part.mp4", "part_2.mp4", "Part_2_2.mp4"};
        QTest::newRow("no number: still unique") << "{source}" << "talk" << none
                                                 << QStringList{"talk.mp4", "talk_2.mp4", "talk_3.mp4"};
        QTest::newRow("braces and unknown fields") << "{{n}} {what} {n" << "x" << none
                                                   << QStringList{"{n} {what} {n.mp4", "{n} {what} {n_2.mp4", "{n} {what} {n_3.mp4"};
    }
    void names()
    {
        QFETCH(QString, nameTemplate);
        QFETCH(QString, source);
        QFETCH(QStringList, titles);
        QFETCH(QStringList, expected);
        QList<NameFields> fields;
        for (int i = 0; i < titles.size(); ++i)
            fields << NameFields{source, i + 1, titles.at(i), 10.0 + 20 * i, i == 2 ? 70.5 : 30.0 + 20 * i, "MP4 - Stream copy"};
        QCOMPARE(NameSections(nameTemplate, fields, ".mp4"), expected);
    }

    // A long title is cut on a character's edge below the limit, and a number still fits.
    void longNamesStayUnique()
    {
        const QString title = QString(150, QChar(0x00e9)); // 300 bytes of UTF-8
        const QStringList names = NameSections("{title}", {NameFields{"x", 1, title, 0, 0, {}}, NameFields{"x", 2, title, 0, 0, {}}}, ".mkv");
        QCOMPARE(names.size(), 2);
        QVERIFY(names.at(0) != names.at(1));
        for (const QString& n : names) {
            QVERIFY2(n.toUtf8().size() <= 204, qPrintable(n));
            QVERIFY(!n.contains(QChar::ReplacementCharacter));
        }
    }

    void sizes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("bytes"); // -1: refused
        QTest::newRow("mail limit") << "25M" << qint64(25) * 1024 * 1024;
        QTest::newRow("FAT32") << "4G-1" << qint64(4) * 1024 * 1024 * 1024 - 1;
        QTest::newRow("units spelled") << "700 MiB" << qint64(700) * 1024 * 1024;
        QTest::newRow("fraction") << "1.5g" << qint64(1536) * 1024 * 1024;
        QTest::newRow("bytes") << "123456" << qint64(123456);
        QTest::newRow("too small") << "1000" << qint64(-1);
        QTest::newRow("negative") << "-5M" << qint64(-1);
        QTest::newRow("not a size") << "lots" << qint64(-1);
        QTest::newRow("unknown unit") << "4X" << qint64(-1);
    }
    void sizes()
    {
        QFETCH(QString, text);
        QFETCH(qint64, bytes);
        const std::optional<qint64> parsed = ParseByteSize(text);
        QCOMPARE(parsed.value_or(-1), bytes);
    }

    // Copied sections end on key frames, each within the limit by the estimate, and each as
    // long as the limit allows: one more key-frame interval would have passed it.
    void sizeLimitedOnKeyFrames_data()
    {
        QTest::addColumn<int>("gop");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<double>("start");
        QTest::newRow("2 s groups, 1 MiB") << 50 << qint64(1 << 20) << 0.0;
        QTest::newRow("10 s groups, 3 MiB, start inside a group") << 250 << qint64(3 << 20) << 13.0;
        QTest::newRow("1 frame groups, 200 KiB") << 1 << qint64(200 << 10) << 5.5;
    }
    void sizeLimitedOnKeyFrames()
    {
        QFETCH(int, gop);
        QFETCH(qint64, limit);
        QFETCH(double, start);
        const QList<SizedPacket> packets = Packets(gop, 60000, 9000);
        const SizeModel model;
        const SizePlan plan = PlanSizeLimitedSections(packets, start, 60, limit, true, model);
        QVERIFY2(plan.problem.isEmpty(), qPrintable(plan.problem));
        QVERIFY(plan.bounds.size() >= 3);
        QCOMPARE(plan.bounds.first(), start);
        QCOMPARE(plan.bounds.last(), 60.0);
        const double keyBefore = std::floor(start * 25 / gop) * gop / 25.0; // where the copy begins
        for (qsizetype i = 0; i + 1 < plan.bounds.size(); ++i) {
            const double from = i == 0 ? keyBefore : plan.bounds.at(i);
            const double to = plan.bounds.at(i + 1);
            QVERIFY2(EstimateBytes(packets, from, to, model) <= limit, qPrintable(QString::number(i)));
            if (i + 2 < plan.bounds.size()) {
                const double onKey = to * 25 / gop;
                QVERIFY2(std::abs(onKey - std::round(onKey)) < 1e-9, qPrintable(QString::number(to)));
                QVERIFY(EstimateBytes(packets, from, to + gop / 25.0, model) > limit * 0.99);
            }
        }
    }

    void sizeLimitProblems()
    {
        // A group of pictures larger than the limit cannot be copied in pieces.
        const SizePlan copy = PlanSizeLimitedSections(Packets(250, 900000, 90000), 0, 60, 2 << 20, true, SizeModel());
        QVERIFY(copy.bounds.isEmpty());
        QVERIFY(copy.problem.contains("alone is larger than 2 MiB"));
        // Encoded again: equal lengths from the bit rate, none without one.
        SizeModel model;
        model.bytesPerSecond = 125000; // 1 Mbit/s
        const SizePlan encoded = PlanSizeLimitedSections({}, 0, 60, 5 << 20, false, model);
        QVERIFY(encoded.problem.isEmpty());
        const double length = encoded.bounds.at(1) - encoded.bounds.at(0);
        QVERIFY(model.fixed + length * model.bytesPerSecond <= 5 << 20);
        QVERIFY(length > 30);
        QCOMPARE(encoded.bounds.last(), 60.0);
        QVERIFY(!PlanSizeLimitedSections({}, 0, 60, 5 << 20, false, SizeModel()).problem.isEmpty());
        // What was written larger than estimated makes the next estimate larger.
        SizeModel learnt = model;
        LearnFromOversizedSection(learnt, 4e6, 6000000, 30, 5 << 20);
        const SizePlan again = PlanSizeLimitedSections({}, 0, 60, 5 << 20, false, learnt);
        QVERIFY(again.bounds.at(1) - again.bounds.at(0) < length / 1.5);
    }

    void profileRates()
    {
        QCOMPARE(ProfileBytesPerSecond(" -c:v libx264 -b:v 2M -b:a 128k"), (2e6 + 128e3) / 8);
        QCOMPARE(ProfileBytesPerSecond(" -c:v libx264 -crf 23"), 0.0);
    }

    void chapters()
    {
        const QList<Chapter> list{{0, 20, "Intro"}, {20, 45, "Main"}, {45, 60, "Outro"}};
        const ChapterSections all = BoundariesAtChapters(0, 60, list);
        QCOMPARE(all.bounds, (QList<double>{0, 20, 45, 60}));
        QCOMPARE(all.titles, (QStringList{"Intro", "Main", "Outro"}));
        // A range inside: its ends cut the chapters, the titles are those it begins in.
        const ChapterSections inside = BoundariesAtChapters(10, 50, list);
        QCOMPARE(inside.bounds, (QList<double>{10, 20, 45, 50}));
        QCOMPARE(inside.titles, (QStringList{"Intro", "Main", "Outro"}));
        // Chapters starting late leave an untitled head.
        const ChapterSections late = BoundariesAtChapters(0, 60, {{5, 60, "Only"}});
        QCOMPARE(late.bounds, (QList<double>{0, 5, 60}));
        QCOMPARE(late.titles, (QStringList{"", "Only"}));
    }

    void points_data()
    {
        QTest::addColumn<QList<double>>("points");
        QTest::addColumn<QList<double>>("bounds");
        QTest::newRow("in any order") << QList<double>{40, 15} << QList<double>{10, 15, 40, 50};
        QTest::newRow("outside and at the ends dropped") << QList<double>{5, 10, 50.0004, 70} << QList<double>{10, 50};
        QTest::newRow("twice within a millisecond") << QList<double>{20, 20.0004, 20} << QList<double>{10, 20, 50};
        QTest::newRow("none") << QList<double>{} << QList<double>{10, 50};
    }
    void points()
    {
        QFETCH(QList<double>, points);
        QFETCH(QList<double>, bounds);
        QCOMPARE(BoundariesAtPoints(10, 50, points), bounds);
        // The plan's sections tile the range between them, named by the template.
        JobPlan plan = Plan(10, 50, "{n}-{title}");
        QVERIFY(ApplySectionRequest(plan, SectionRequest{SectionMode::Points, 0, 0, points}));
        QCOMPARE(plan.count, bounds.size() - 1);
        QCOMPARE(plan.PlannedPoints(), bounds);
        for (qint32 i = 1; i <= plan.count; ++i) {
            const JobSection s = plan.Section(i);
            QCOMPARE(s.start, bounds.at(i - 1));
            QCOMPARE(s.end, bounds.at(i));
            QCOMPARE(plan.OutputPath(i), QStringLiteral("/out/%1-.mp4").arg(i));
        }
    }

    void timeLists()
    {
        QCOMPARE(ParseTimeList("1:30, 0:02:45.5,600").value_or(QList<double>{}), (QList<double>{90, 165.5, 600}));
        QString why;
        QVERIFY(!ParseTimeList("1:30,,2", &why));
        QVERIFY(!ParseTimeList("1:70", &why));
        QVERIFY(why.contains("1:70"));
    }

    // Sections of a length: the last one ends at the range's end; the same as --every.
    void lengthRequest()
    {
        JobPlan plan = Plan(0, 100);
        QVERIFY(ApplySectionRequest(plan, SectionRequest{SectionMode::Length, 30}));
        const JobPlan every = MakeFixedLengthJobPlan(0, 100, 30, "/v/holiday.mp4", "/out", ".mp4");
        QCOMPARE(plan.count, 4);
        QCOMPARE(plan.PlannedPoints(), every.PlannedPoints());
        QCOMPARE(plan.Section(4).end, 100.0);
        QCOMPARE(plan.OutputPath(4), QStringLiteral("/out/holiday_Clip4.mp4"));
        JobPlan tiny = Plan(0, 100);
        QVERIFY(!ApplySectionRequest(tiny, SectionRequest{SectionMode::Length, 0.0001}));
    }
};

QTEST_APPLESS_MAIN(SplitSectionsTest)
#include "split_sections.moc"
