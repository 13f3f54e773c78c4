// Command lines, section plans and progress reading, without any window.
#include "app/VtError.h"
#include "split/CommandLine.h"
#include "split/JobPlan.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <clocale>

class SplitCommandLineTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString writeProfile(const QString& name, const QByteArray& text)
    {
        const QString path = m_dir.path() + "/" + name + ".apf";
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(text);
        return path;
    }

private slots:
    void lengthForm_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 30.0 << "30";
        QTest::newRow("half") << 12.5 << "12.5";
        QTest::newRow("third of 100") << 100.0 / 3 << "33.3333333333333";
        QTest::newRow("section of 100 s in 3") << 33.333333333333336 << "33.3333333333333";
        QTest::newRow("below one") << 0.5 << "0.5";
        QTest::newRow("tiny, no exponent") << 0.000001 << "0.000001";
        QTest::newRow("huge, no exponent") << 1e20 << "100000000000000000000";
        QTest::newRow("fifteen digits") << 2.0 / 3 << "0.666666666666667";
    }
    void lengthForm()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(FormatLength(value), text);
    }

    void secondsForTheEncoder_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 10.0 << "10";
        QTest::newRow("frame time") << 43.36 << "43.36";
        QTest::newRow("to the microsecond") << 100.0 / 3 << "33.333333";
        QTest::newRow("half a microsecond up") << 1.0000005 << "1.000001";
        QTest::newRow("29.97 frame") << 246 * 1001.0 / 30000 << "8.2082";
        QTest::newRow("small") << 0.000001 << "0.000001";
        QTest::newRow("below a microsecond") << 0.0000004 << "0";
        QTest::newRow("negative") << -0.25 << "-0.25";
        QTest::newRow("large") << 86400.0 * 365 << "31536000";
    }
    void secondsForTheEncoder()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(FormatSeconds(value), text);
    }

    void numbersIgnoreACommaLocale()
    {
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        std::setlocale(LC_ALL, "de_DE.UTF-8"); // may not exist; the Qt default is enough then
        QCOMPARE(FormatLength(12.5), QString("12.5"));
        QCOMPARE(ProgressValueOfChunk("time=10.50 ").value_or(-1), 10.5);
        QVERIFY(!ProgressValueOfChunk("time=10,50 ").has_value());
        std::setlocale(LC_ALL, "C");
        QLocale::setDefault(before);
    }

    void sectionCommandLine()
    {
        // Start and length in full precision: a start rounded to tenths would move the cut.
        QCOMPARE(BuildSectionCommandLine("/video/a.mp4", 12.34, 30, QString(), "/out/a_Clip1.mp4"),
                 QString(" -y -i \"/video/a.mp4\" -ss 12.34 -t 30 \"/out/a_Clip1.mp4\""));
        QCOMPARE(BuildSectionCommandLine("/v/a.mp4", 10, 100.0 / 3, " -c:v libx264 -an ", "/o/x.mp4"),
                 QString(" -y -i \"/v/a.mp4\" -ss 10 -t 33.333333 -c:v libx264 -an  \"/o/x.mp4\""));
        // What a section's cut adds comes right after the length.
        QCOMPARE(BuildSectionCommandLine("/v/a.mp4", 8, 4, " -c copy", "/o/x.mp4", {"-copypriorss", "0"}),
                 QString(" -y -i \"/v/a.mp4\" -ss 8 -t 4 -copypriorss 0 -c copy \"/o/x.mp4\""));
    }

    void argumentsKeepPathsWhole_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("output");
        QTest::newRow("blanks") << "/my videos/holiday clip.mp4" << "/out dir/holiday clip_Clip1.mp4";
        QTest::newRow("shell characters") << "/v/$HOME `id` ; rm -rf & *.mp4" << "/o/a'b'c|d>e_Clip2.mp4";
        QTest::newRow("non-latin") << QString::fromUtf8("/v/видео ñ 日本.mp4") << QString::fromUtf8("/o/видео_Clip1.mp4");
        QTest::newRow("leading dash") << "/v/-i.mp4" << "/o/-y_Clip1.mp4";
    }
    void argumentsKeepPathsWhole()
    {
        QFETCH(QString, source);
        QFETCH(QString, output);
        const QString switches = " -c:v libx264 -b:v 800k";
        const QStringList expected{"-y", "-i", source, "-ss", "5", "-t", "2.5", "-c:v", "libx264", "-b:v", "800k",
                                   output};
        QCOMPARE(BuildSectionArguments(source, 5, 2.5, switches, output), expected);
        // The text shown and kept as the current command line splits back the same way.
        QCOMPARE(SplitCommandLine(BuildSectionCommandLine(source, 5, 2.5, switches, output)), expected);
    }

    void doubleQuoteInAPathStaysInItsArgument()
    {
        // The text cannot carry it (nothing is escaped), which is why the encoder is started
        // from the pieces rather than from the text.
        const QString source = "/v/say \"hi\".mp4";
        const QStringList args = BuildSectionArguments(source, 0, 1, QString(), "/o/x.mp4");
        QCOMPARE(args.at(2), source);
        QCOMPARE(args.size(), 8);
    }

    void splitting()
    {
        QCOMPARE(SplitCommandLine("  a   b\t c "), QStringList({"a", "b", "c"}));
        QCOMPARE(SplitCommandLine("-vf \"scale=320:240, fps=25\" \"\""),
                 QStringList({"-vf", "scale=320:240, fps=25", ""}));
        QCOMPARE(SplitCommandLine(QString()), QStringList());
    }

    void profileSwitches()
    {
        const QString path = writeProfile("Full", R"([Main]
Type=avi
Para=8
0=Video Codec
1=Audio Codec
2=Bitrate
3=Fixed
4=No Switch
5=Mute
6=Empty Item
7=Elsewhere
[Video Codec]
Sort=1
List=1
Caption=H.264,MPEG-4,
Value=libx264,mpeg4,
cmd=-c:v
[Audio Codec]
Sort=2
Caption=AAC,
Value=aac,
cmd=-c:a
[Bitrate]
Sort=3
List=0
cmd=-b:v
[Fixed]
Sort=3
List=0
ReadOnly=1
Value=yuv420p
cmd=-pix_fmt
[No Switch]
Sort=3
List=0
[Mute]
Sort=2
List=0
cmd=-an
[Empty Item]
Sort=2
Caption=None,
Value=,
cmd=-ac
[Elsewhere]
Sort=7
List=0
cmd=-r
)");
        QStringList asked;
        const GridValueLookup grid = [&](int sort, const QString& name) {
            asked << QString("%1:%2").arg(sort).arg(name);
            if (name == "Video Codec") return QString("mpeg-4");   // case ignored
            if (name == "Audio Codec") return QString("opus");     // no such caption: passed as is
            if (name == "Bitrate") return QString("900k");
            if (name == "Fixed") return QString("shown text");
            if (name == "No Switch") return QString("x");
            if (name == "Mute") return QString("\\");
            if (name == "Empty Item") return QString("none");
            return QString("5");
        };
        QCOMPARE(BuildProfileSwitches(path, grid), QString(" -c:v mpeg4 -c:a opus -b:v 900k -pix_fmt yuv420p -an "));
        QVERIFY(!asked.contains("7:Elsewhere")); // a "Sort" outside 1..3 has no grid
    }

    void profileSwitchesEdges()
    {
        const GridValueLookup grid = [](int, const QString&) { return QString("B"); };
        QCOMPARE(BuildProfileSwitches(m_dir.path() + "/missing.apf", grid), QString());
        QCOMPARE(BuildProfileSwitches(writeProfile("NoPara", "[Main]\nType=mp4\n"), grid), QString());

        const QString shortList = writeProfile("Short", "[Main]\nPara=1\n0=P\n[P]\nSort=1\nCaption=A,B,C,\nValue=a,\ncmd=-x\n");
        try {
            BuildProfileSwitches(shortList, grid);
            QFAIL("a value list shorter than its captions must stop the press of Start");
        } catch (const EListIndexError& e) {
            QCOMPARE(e.index(), 1);
            QCOMPARE(e.message(), QString("List index out of bounds (1)"));
        }
    }

    void sectionPlan()
    {
        JobPlan plan;
        plan.start = 10;
        plan.end = 110;
        plan.equalSections = true;
        plan.count = 3;
        plan.sectionLength = 100.0 / 3;
        plan.outputFolder = "/out/";
        plan.baseName = "holiday";
        plan.extension = ".mp4";
        QCOMPARE(plan.Section(1).start, 10.0);
        QCOMPARE(plan.Section(2).start, 43.333333333333336);
        QCOMPARE(plan.Section(3).start, 76.66666666666667);
        QCOMPARE(plan.Section(3).length, 33.333333333333336);
        QCOMPARE(plan.Section(3).outputPath, QString("/out/holiday_Clip3.mp4"));
        QCOMPARE(plan.OutputPath(10), QString("/out/holiday_Clip10.mp4"));
    }

    void planOfAJob()
    {
        // The exact mark times stand for the texts; the plan and the encoder's arguments
        // come from one place for every front end.
        const QString source = m_dir.path() + "/holiday.mp4";
        QFile(source).open(QIODevice::WriteOnly);
        JobInputs in;
        in.sourcePath = source;
        in.startText = "not a time";
        in.startSeconds = 10.25;
        in.endText = "00:00:01";
        in.endSeconds = 40.25;
        in.equalSections = true;
        in.quantityText = "3";
        in.profilePath = writeProfile("Plan", "[Main]\nType=mp4\n");
        in.outputDirText = m_dir.path();
        in.sourceLengthMs = 60000;
        JobPlan plan;
        QVERIFY(!CheckJob(in, ".mkv", &plan));
        QCOMPARE(plan.start, 10.25);
        QCOMPARE(plan.sectionLength, 10.0);
        QCOMPARE(plan.Section(3).outputPath, m_dir.path() + "/holiday_Clip3.mkv");
        // Typed seconds and MM:SS are read by the job's checks as the fields read them.
        JobInputs typed = in;
        typed.startSeconds.reset();
        typed.endSeconds.reset();
        typed.startText = "10.25";
        typed.endText = "0:40.25";
        typed.decimalSeparator = QLatin1Char('.');
        JobPlan fromText;
        QVERIFY(!CheckJob(typed, ".mkv", &fromText));
        QCOMPARE(fromText.start, 10.25);
        QCOMPARE(fromText.sectionLength, 10.0);

        const SplitJobOrder order{source, plan, " -c copy", "/x/wmaspi.dll"};
        const QList<PlannedSection> all = PlanSections(order);
        QCOMPARE(all.size(), 3);
        QCOMPARE(all[1].arguments, BuildSectionArguments(source, 20.25, 10, " -c copy", plan.OutputPath(2)));
        QCOMPARE(SplitCommandLine(all[1].commandLine), all[1].arguments);
        QCOMPARE(PlanSection(order, 2, "/tmp/part.mkv").arguments.last(), QString("/tmp/part.mkv"));
    }

    void progressChunks_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<double>("value"); // -1: nothing
        QTest::newRow("plain") << QByteArray("time=10.00 ") << 10.0;
        QTest::newRow("inside a status line") << QByteArray("frame=  25 fps=0.0 time=10.00 bitrate=1") << 10.0;
        QTest::newRow("two lines, first counts") << QByteArray("time=10.00 \ntime=30.00 \n") << 10.0;
        QTest::newRow("no blank after the number") << QByteArray("time=10.00") << -1.0;
        QTest::newRow("line end is no blank") << QByteArray("time=10.00\n") << -1.0;
        QTest::newRow("any separator") << QByteArray("time:7.5 ") << 7.5;
        QTest::newRow("blank right after the separator") << QByteArray("time= 10.00 ") << -1.0;
        QTest::newRow("not a number") << QByteArray("time=00:00:10.00 ") << -1.0;
        QTest::newRow("capitals do not count") << QByteArray("TIME=10.00 ") << -1.0;
        QTest::newRow("no time at all") << QByteArray("abcd12.5 x") << -1.0;
        QTest::newRow("text ends at a zero byte") << QByteArray("ab\0time=3 ", 10) << -1.0;
    }
    void progressChunks()
    {
        QFETCH(QByteArray, chunk);
        QFETCH(double, value);
        const std::optional<double> v = ProgressValueOfChunk(chunk);
        QCOMPARE(v.value_or(-1), value);
    }

    void progressNeverGoesBack()
    {
        SectionProgress p(40);
        QVERIFY(p.Feed("time=10.00 "));
        QVERIFY(!p.Feed("time=5.00 "));
        QVERIFY(!p.Feed("time=10.00 "));
        QVERIFY(!p.Feed("time=1000000000 "));
        QVERIFY(p.Feed("time=999999999 "));
        QCOMPARE(p.LastTime(), 999999999.0);
        p.Reset();
        QCOMPARE(p.LastTime(), 0.0);
    }

    void barsAndRemainingTime()
    {
        QCOMPARE(CurrentBarPosition(10, 40), 25);
        QCOMPARE(CurrentBarPosition(42, 40), 100); // 105 clamped
        QCOMPARE(CurrentBarPosition(1, 8), 12);    // 12.5 to the even 12
        QCOMPARE(CurrentBarPosition(3, 8), 38);    // 37.5 to the even 38
        QCOMPARE(CurrentBarPosition(5, 0), 0);
        QCOMPARE(CurrentBarPosition(999999999, 0.001), 100);
        QCOMPARE(TotalBarPosition(50, 1, 4), 12);
        QCOMPARE(TotalBarPosition(50, 2, 4), 38);
        QCOMPARE(TotalBarPosition(100, 1, 1), 100);
        QCOMPARE(TotalBarPosition(0, 2000000000, 2147483647), 93); // no overflow
        QCOMPARE(RemainingSeconds(30, 25), qint64(90));
        QCOMPARE(RemainingSeconds(30, 0), qint64(0));
        QCOMPARE(RemainingSeconds(3, 100), qint64(0));
    }
};

QTEST_GUILESS_MAIN(SplitCommandLineTest)
#include "split_commandline.moc"
