// veltrane-cli as a user runs it: argument errors and their exit statuses, the plan of a dry
// run, the same encoder arguments as the window, real jobs checked with ffprobe, batches,
// JSON progress, existing outputs, the preferences' defaults, and interruption.
#include "split_support.h"

#include "split/CommandLine.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <csignal>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct CliRun {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

// An application folder of veltrane-cli's own: the shipped profiles and preferences, the
// program, and the real encoder or the stand-in under the encoder's name.
class CliApp {
public:
    explicit CliApp(bool realEncoder)
    {
        QFile::copy(BuiltAppDir() + "veltrane-cli", m_dir.file("veltrane-cli"));
        QFile::copy(realEncoder ? BuiltAppDir() + "wmaspi.dll" : FakeEncoder::Program(), m_dir.file("wmaspi.dll"));
    }
    QString path() const { return m_dir.path(); }
    QString program() const { return m_dir.file("veltrane-cli"); }
    void write(const QString& name, const QByteArray& content) const { m_dir.write(name, content); }
    CliRun run(const QStringList& args, int timeoutMs = 120000) const
    {
        QProcess p;
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(program(), args);
        CliRun r;
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
        } else if (p.exitStatus() == QProcess::NormalExit) {
            r.status = p.exitCode();
        }
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }

private:
    TempAppDir m_dir;
};

// Every line of standard output as a JSON object; fails the test on a line that is none.
QList<QJsonObject> JsonLines(const QByteArray& out)
{
    QList<QJsonObject> objects;
    for (const QByteArray& line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            QTest::qFail(qPrintable("not a JSON object: " + QString::fromUtf8(line)), __FILE__, __LINE__);
            return {};
        }
        objects << doc.object();
    }
    return objects;
}

QList<QJsonObject> Events(const QList<QJsonObject>& all, const QString& name)
{
    QList<QJsonObject> out;
    for (const QJsonObject& o : all)
        if (o.value("event").toString() == name)
            out << o;
    return out;
}

QStringList Outcomes(const QList<QJsonObject>& all)
{
    QStringList out;
    const QList<QJsonObject> summary = Events(all, "summary");
    for (const QJsonValue& v : summary.value(0).value("sources").toArray())
        out << v.toObject().value("outcome").toString();
    return out;
}

qint64 ProcessGroup(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2).split(' ').value(2).toLongLong();
}

QStringList Entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::Dirs | QDir::NoDotAndDotDot);
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool RunFfmpeg(const QStringList& args)
{
    QProcess p;
    p.start("ffmpeg", QStringList{"-nostdin", "-loglevel", "error", "-y"} + args);
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

class CliTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_media;
    QString m_clip;  // 12 s
    QString m_short; // 5 s, in a folder of its own
    QString m_sparse; // 12 s, key frames at 0, 5 and 10 s
    QString m_mute;   // 10 s of video, 12 s of sound
    QString m_sound;  // 12 s of sound, no video
    double m_clipLength = 0;

    QStringList expand(QStringList args, const QString& out) const
    {
        for (QString& a : args)
            a.replace("@CLIP@", m_clip).replace("@SHORT@", m_short).replace("@OUT@", out).replace("@MEDIA@", m_media.path());
        return args;
    }

private slots:
    void initTestCase()
    {
        m_clip = m_media.path() + "/clip.mp4";
        QVERIFY(MakeClip(m_clip, 12));
        QVERIFY(QDir(m_media.path()).mkpath("other"));
        m_short = m_media.path() + "/other/short.mp4";
        QVERIFY(MakeClip(m_short, 5));
        m_clipLength = ProbeDuration(m_clip);
        QVERIFY(m_clipLength > 11);
        QFile text(m_media.path() + "/notes.mp4");
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a video\n");
        QVERIFY(QFile::copy(m_clip, m_media.path() + "/other/clip.mp4"));
        m_sparse = m_media.path() + "/sparse.mp4";
        QVERIFY(RunFfmpeg({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=12", "-c:v", "libx264",
                           "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-g", "125", "-keyint_min", "125",
                           "-sc_threshold", "0", m_sparse}));
        m_mute = m_media.path() + "/mute.mp4";
        QVERIFY(RunFfmpeg({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=10", "-f", "lavfi", "-i",
                           "sine=frequency=440:duration=12", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt",
                           "yuv420p", "-c:a", "aac", m_mute}));
        m_sound = m_media.path() + "/sound.mp4";
        QVERIFY(RunFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=12", "-c:a", "aac", m_sound}));
        QVERIFY(QFile::link("loop.apf", m_media.path() + "/loop.apf"));
        QVERIFY(QFile::link("loop.mp4", m_media.path() + "/loop.mp4"));
        QFile named(m_media.path() + "/named.csv");
        QVERIFY(named.open(QIODevice::WriteOnly));
        named.write("start,end,name\n1,2,Intro\n3,4,\n5,6,\"a/b: c\"\n");
    }

    void arguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said"); // on standard output for 0, on standard error otherwise
        QTest::newRow("help") << QStringList{"--help"} << 0 << "--every <DURATION>";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "veltrane-cli " VT_VERSION "\n";
        QTest::newRow("no source") << QStringList{"--sections", "2"} << 2 << "no SOURCE given";
        QTest::newRow("unknown option") << QStringList{"--fast", "@CLIP@"} << 2 << "Unknown option 'fast'";
        QTest::newRow("sections not a number") << QStringList{"--sections", "two", "@CLIP@"} << 2 << "--sections two:";
        QTest::newRow("no sections") << QStringList{"--sections", "0", "@CLIP@"} << 2 << "--sections 0:";
        QTest::newRow("sections and every") << QStringList{"--sections", "2", "--every", "5", "@CLIP@"} << 2
                                            << "--sections and --every";
        QTest::newRow("every nothing") << QStringList{"--every", "0", "@CLIP@"} << 2 << "--every 0:";
        QTest::newRow("start not a time") << QStringList{"--start", "1:75:00", "@CLIP@"} << 2 << "--start 1:75:00: not a time";
        QTest::newRow("seconds of MM:SS above 59") << QStringList{"--start", "1:60", "@CLIP@"} << 2 << "--start 1:60: not a time";
        QTest::newRow("a signed time") << QStringList{"--end", "+5", "@CLIP@"} << 2 << "--end +5: not a time";
        QTest::newRow("start given twice") << QStringList{"--start", "1", "--start", "2", "@CLIP@"} << 2 << "--start is given more than once";
        QTest::newRow("start past the end") << QStringList{"--start", "00:00:30", "@CLIP@"} << 2
                                            << "--start 00:00:30 is not before the end of @CLIP@ (its length is 00:00:12.000)";
        QTest::newRow("end before start") << QStringList{"--start", "5", "--end", "4.5", "@CLIP@"} << 2
                                          << "--end 4.5 is not later than --start 5";
        QTest::newRow("missing source") << QStringList{"@MEDIA@/gone.mp4"} << 2 << "@MEDIA@/gone.mp4: no such file";
        QTest::newRow("a folder as source") << QStringList{"@MEDIA@"} << 2 << "@MEDIA@: not a file";
        QTest::newRow("not a video") << QStringList{"@MEDIA@/notes.mp4"} << 2 << "@MEDIA@/notes.mp4: its length cannot be read (ffprobe:";
        QTest::newRow("unknown profile") << QStringList{"--profile", "Nope", "@CLIP@"} << 2 << "--profile Nope: no such profile";
        QTest::newRow("missing profile file") << QStringList{"--profile", "@MEDIA@/x.apf", "@CLIP@"} << 2 << "--profile @MEDIA@/x.apf: no such file";
        // What keeps a name from being read is said as it is, not as "no such file".
        QTest::newRow("a folder as profile") << QStringList{"--profile", "@MEDIA@/other", "@CLIP@"} << 2
                                             << "--profile @MEDIA@/other: not a file (a folder)";
        QTest::newRow("a profile in a link loop") << QStringList{"--profile", "@MEDIA@/loop.apf", "@CLIP@"} << 2
                                                  << "--profile @MEDIA@/loop.apf: its symbolic links form a loop";
        const QString longName = "@MEDIA@/" + QString(300, 'a') + ".apf";
        QTest::newRow("a profile name too long") << QStringList{"--profile", longName, "@CLIP@"} << 2
                                                 << "--profile " + longName + ": the path is longer than the system allows";
        QTest::newRow("a source in a link loop") << QStringList{"@MEDIA@/loop.mp4"} << 2
                                                 << "@MEDIA@/loop.mp4: its symbolic links form a loop";
        QTest::newRow("bad index in the profile") << QStringList{"--profile", "@OUT@/bad.apf", "@CLIP@"} << 2
                                                  << "bad.apf: List index out of bounds (7)";
        QTest::newRow("no output folder") << QStringList{"--output", "@MEDIA@/none", "@CLIP@"} << 2 << "--output @MEDIA@/none: no such folder";
        QTest::newRow("progress format") << QStringList{"--progress", "xml", "@CLIP@"} << 2 << "--progress xml";
        QTest::newRow("overwrite both ways") << QStringList{"--overwrite", "--no-overwrite", "@CLIP@"} << 2 << "cannot be used together";
        QTest::newRow("two sources, one set of names") << QStringList{"--output", "@OUT@", "@CLIP@", "@MEDIA@/other/clip.mp4"} << 2
                                                       << "would replace those of @CLIP@";
        QTest::newRow("tracks not a list") << QStringList{"--tracks", "v;a", "@CLIP@"} << 2
                                           << "--tracks v;a: \"v;a\" names no tracks";
        QTest::newRow("a track the source lacks") << QStringList{"--tracks", "v,a:1", "@CLIP@"} << 2
                                                  << "--tracks v,a:1 names a:1, which it does not have";
        QTest::newRow("list tracks") << QStringList{"--list-tracks", "@CLIP@"} << 0 << "1      a:0    aac";
        QTest::newRow("list tracks of no file") << QStringList{"--list-tracks", "@MEDIA@/gone.mp4"} << 2
                                                << "@MEDIA@/gone.mp4: no such file";
        QTest::newRow("an output that is the source") << QStringList{"--sections", "2", "--output", "@OUT@", "@CLIP@"} << 2
                                                      << "@OUT@/clip_Clip2.mp4\" is the source video itself or a link to it";
        QTest::newRow("a range backwards") << QStringList{"--range", "5-4", "@CLIP@"} << 2 << "--range 5-4: not START-END";
        QTest::newRow("a range and a start") << QStringList{"--range", "1-2", "--start", "1", "@CLIP@"} << 2
                                             << "--start cannot be used with segments";
        QTest::newRow("join without segments") << QStringList{"--join", "@CLIP@"} << 2 << "--join needs --segments or --range";
        QTest::newRow("no segments file") << QStringList{"--segments", "@MEDIA@/none.csv", "@CLIP@"} << 2
                                          << "--segments: @MEDIA@/none.csv cannot be read";
        QTest::newRow("a segment's output that is the source")
            << QStringList{"--range", "1-2", "--range", "3-4", "--output", "@OUT@", "@CLIP@"} << 2
            << "@OUT@/clip_Clip2.mp4\" is the source video itself or a link to it";
        QTest::newRow("segments planned") << QStringList{"--dry-run", "--range", "1-2", "--range", "00:00:03.5-4", "--join", "@CLIP@"}
                                          << 0 << "segment 2: 00:00:03.500 - 00:00:04.000";
        // Segment names fill {title}: each file of its own, or one joined file without a title.
        for (const char* shown : {"1 Intro", "2.mp4", "3 a_b_ c"})
            QTest::newRow(qPrintable(QString("named segments: ") + shown))
                << QStringList{"--dry-run", "--segments", "@MEDIA@/named.csv", "--name", "{n} {title}", "--output", "@OUT@", "@CLIP@"}
                << 0 << QString("-> @OUT@/") + shown;
        QTest::newRow("named segments joined")
            << QStringList{"--dry-run", "--segments", "@MEDIA@/named.csv", "--join", "--name", "{source} {n} {title}", "--output",
                           "@OUT@", "@CLIP@"}
            << 0 << "joined into @OUT@/clip 1.mp4";
    }

    void arguments()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, said);
        CliApp app(false);
        FakeEncoder fake;
        QTemporaryDir out;
        // A profile whose list parameter points past its items.
        QFile bad(out.path() + "/bad.apf");
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("[Main]\nType=mp4\nPara=1\n0=Video Codec\n[Video Codec]\nSort=1\ncmd=-c:v\nCaption=A,B,\nValue=a,b,\nIndex=7\n");
        bad.close();
        QVERIFY(QFile::link(m_clip, out.path() + "/clip_Clip2.mp4"));
        const CliRun r = app.run(expand(args, out.path()));
        QCOMPARE(r.status, status);
        const QString text = QString::fromLocal8Bit(status == 0 ? r.out : r.err);
        const QString wanted = expand({said}, out.path()).first();
        QVERIFY2(text.contains(wanted), qPrintable(text));
        QVERIFY(fake.Runs().isEmpty());
        QCOMPARE(Entries(out.path()), QStringList({"bad.apf", "clip_Clip2.mp4"}));
    }

    void linksNeitherWidgetsNorMultimedia()
    {
        QProcess ldd;
        ldd.start("ldd", {BuiltAppDir() + "veltrane-cli"});
        QVERIFY(ldd.waitForFinished(60000) && ldd.exitCode() == 0);
        const QByteArray libs = ldd.readAllStandardOutput();
        QVERIFY(libs.contains("libQt6Core"));
        QVERIFY2(!libs.contains("libQt6Widgets") && !libs.contains("libQt6Multimedia") && !libs.contains("libQt6Gui"),
                 libs.constData());
    }

    void dryRun_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QList<double>>("sections"); // start, length, ...
        QTest::addColumn<QString>("line");           // a line of the plain plan
        QTest::newRow("the whole source") << QStringList{} << QList<double>{0, 12}
                                          << "  section 1/1: 00:00:00.000 to 00:00:12.000 -> @OUT@/clip_Clip1.mp4\n";
        QTest::newRow("three equal sections") << QStringList{"--start", "00:02", "--end", "8", "--sections", "3"}
                                              << QList<double>{2, 2, 4, 2, 6, 2}
                                              << "  range: 00:00:02.000 to 00:00:08.000, 3 sections\n";
        QTest::newRow("every 5 s, the last shorter") << QStringList{"--every", "5"} << QList<double>{0, 5, 5, 5, 10, 2}
                                                     << "  section 3/3: 00:00:10.000 to 00:00:12.000 -> @OUT@/clip_Clip3.mp4\n";
        QTest::newRow("an end past the source's end") << QStringList{"--end", "00:00:20", "--every", "5"}
                                                      << QList<double>{0, 5, 5, 5, 10, 2}
                                                      << "  section 3/3: 00:00:10.000 to 00:00:12.000 -> @OUT@/clip_Clip3.mp4\n";
        // 1.5 s falls between two frames of the 25 fps clip: the cuts lie on the frames after.
        QTest::newRow("every, a whole number of times")
            << QStringList{"--start", "00:00:01.500", "--end", "7.5", "--every", "00:00:02"}
            << QList<double>{1.52, 2, 3.52, 2, 5.52, 2} << "  section 2/3: 00:00:03.520 to 00:00:05.520";
    }

    void dryRun()
    {
        QFETCH(QStringList, args);
        QFETCH(QList<double>, sections);
        QFETCH(QString, line);
        CliApp app(false);
        FakeEncoder fake;
        QTemporaryDir out;
        args << "--dry-run" << "--output" << out.path() << m_clip;

        const CliRun plain = app.run(args);
        QCOMPARE(plain.status, 0);
        QVERIFY2(plain.out.contains(expand({line}, out.path()).first().toLocal8Bit()), plain.out.constData());

        const CliRun json = app.run(args + QStringList{"--progress", "json"});
        QCOMPARE(json.status, 0);
        const QList<QJsonObject> plan = Events(JsonLines(json.out), "plan");
        QCOMPARE(plan.size(), sections.size() / 2);
        for (int i = 0; i < plan.size(); ++i) {
            const double start = sections[2 * i], length = sections[2 * i + 1];
            const QString output = out.path() + QString("/clip_Clip%1.mp4").arg(i + 1);
            QCOMPARE(plan[i].value("start").toDouble(), start);
            QCOMPARE(plan[i].value("length").toDouble(), length);
            QCOMPARE(plan[i].value("output").toString(), output);
            QStringList arguments;
            for (const QJsonValue& v : plan[i].value("arguments").toArray())
                arguments << v.toString();
            // In full precision, on the clip's frames; the length stops short of the next
            // section's first frame by less than half a frame.
            QCOMPARE(arguments.mid(0, 7), QStringList({app.path() + "wmaspi.dll", "-y", "-i", m_clip, "-ss",
                                                       FormatSeconds(start), "-t"}));
            const double shortOfEnd = length - arguments.at(7).toDouble();
            QVERIFY2(shortOfEnd >= 0 && shortOfEnd < 0.02, qPrintable(arguments.at(7)));
            QCOMPARE(arguments.last(), output);
            QVERIFY(arguments.contains("libx264")); // the profile the shipped preferences select
        }
        QVERIFY(fake.Runs().isEmpty());
        QVERIFY(Entries(out.path()).isEmpty());
    }

    void sameArgumentsAsTheWindow_data()
    {
        QTest::addColumn<QString>("profile");
        for (const QString& file : QDir(BuiltAppDir() + "Profiles").entryList({"*.apf"}, QDir::Files))
            QTest::newRow(qPrintable(file)) << QFileInfo(file).completeBaseName();
    }

    void sameArgumentsAsTheWindow()
    {
        QFETCH(QString, profile);
        CliApp app(false);
        FakeEncoder fake;
        QTemporaryDir out;
        {
            FormsFixture forms(app.path());
            MessageLog msgs;
            MainForm->show();
            QVERIFY(SelectProfile(profile));
            MainForm->EncoderPath = FakeEncoder::Program();
            QVERIFY(PrepareJob(m_clip, "00:00:02", "00:00:08", 3, out.path()));
            PressStart();
            QCOMPARE(msgs.lastCaption(), QString("Completed"));
        }
        QCOMPARE(fake.Runs().size(), 3);
        const CliRun r = app.run({"--profile", profile, "--start", "00:00:02", "--end", "00:00:08", "--sections", "3",
                                  "--overwrite", "--output", out.path(), m_clip});
        QVERIFY2(r.status == 0, r.err.constData());
        const QList<FakeRun> runs = fake.Runs();
        QCOMPARE(runs.size(), 6);
        for (int i = 0; i < 3; ++i) {
            const QStringList window = runs[i].args, cli = runs[i + 3].args;
            QCOMPARE(cli.mid(0, cli.size() - 1), window.mid(0, window.size() - 1));
            const QString final = out.path() + QString("/clip_Clip%1.").arg(i + 1) + QFileInfo(window.last()).suffix();
            QVERIFY(IsPartOf(window.last(), final) && IsPartOf(cli.last(), final));
        }
    }

    void realJobInThreeSections()
    {
        CliApp app(true);
        QTemporaryDir out;
        const CliRun r = app.run({"--sections", "3", "--output", out.path(), m_clip}, 600000);
        QVERIFY2(r.status == 0, r.err.constData());
        for (int i = 1; i <= 3; ++i) {
            const QString file = out.path() + QString("/clip_Clip%1.mp4").arg(i);
            QVERIFY2(qAbs(ProbeDuration(file) - 4.0) < 0.3, qPrintable(file));
            const QStringList streams = ProbeStreams(file);
            QVERIFY(streams.contains("video=h264") && streams.contains("audio=aac"));
            QVERIFY(r.out.contains(QString("clip.mp4: section %1/3 done: %2\n").arg(i).arg(file).toLocal8Bit()));
        }
        QCOMPARE(Entries(out.path()).size(), 3);
        QVERIFY2(r.out.contains("Summary:\n  done" + QByteArray(9, ' ') + m_clip.toLocal8Bit() + ": 3 of 3 sections written to "),
                 r.out.constData());
    }

    void batchWithJsonProgress()
    {
        CliApp app(true);
        QTemporaryDir out;
        const CliRun r = app.run({"--every", "2.5", "--progress", "json", "--output", out.path(), m_short, m_clip}, 900000);
        QVERIFY2(r.status == 0, r.err.constData());
        const QList<QJsonObject> events = JsonLines(r.out);
        QCOMPARE(Events(events, "source").size(), 2);
        QCOMPARE(Events(events, "section-done").size(), 2 + 5);
        QCOMPARE(Outcomes(events), QStringList({"done", "done"}));
        QCOMPARE(events.last().value("event").toString(), QString("summary"));
        QCOMPARE(events.last().value("status").toInt(), 0);
        int lastTotal = 0;
        QString source;
        for (const QJsonObject& e : Events(events, "progress")) {
            QVERIFY(!e.value("source").toString().isEmpty());
            if (e.value("source").toString() != source)
                lastTotal = 0, source = e.value("source").toString();
            const int percent = e.value("percent").toInt(-1), total = e.value("total").toInt(-1);
            QVERIFY(percent >= 0 && percent <= 100 && total >= lastTotal && total <= 100);
            QVERIFY(e.contains("elapsed") && e.contains("remaining") && e.contains("time"));
            lastTotal = total;
        }
        // Sections of 2.5 s, the last one of each source shorter.
        const QList<double> lengths{2.5, 2.5, 2.5, 2.5, 2.5, 2.5, 2};
        const QStringList names{"short_Clip1", "short_Clip2", "clip_Clip1", "clip_Clip2", "clip_Clip3", "clip_Clip4", "clip_Clip5"};
        for (int i = 0; i < names.size(); ++i) {
            const QString file = out.path() + "/" + names[i] + ".mp4";
            QVERIFY2(qAbs(ProbeDuration(file) - lengths[i]) < 0.3, qPrintable(file));
            QVERIFY(ProbeStreams(file).contains("video=h264"));
        }
        QCOMPARE(Entries(out.path()).size(), names.size());
    }

    // Sections with nothing in them are reported and not counted as failures; the notes
    // say where the cuts fell; a look-up that fails is said, and the job still runs.
    void emptySectionsAndCutNotes_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("lookupFails"); // an ffprobe beside the encoder that reads no stretch
        QTest::addColumn<QList<int>>("empty");
        QTest::addColumn<QStringList>("notes");
        const QString sameKey = "Section %1 was not written: its cuts fall on the same key frame.";
        QTest::newRow("copy cuts on the same key frame")
            << "sparse" << QStringList{"--profile", "MP4 - Stream copy - no re-encoding", "--sections", "6"} << false
            << QList<int>{1, 3, 5}
            << QStringList{"Copied streams are cut on key frames: the sections begin at 00:00:00.000, 00:00:05.000 "
                           "and 00:00:10.000.",
                           sameKey.arg(1), sameKey.arg(3), sameKey.arg(5)};
        QTest::newRow("the video ends before the sound")
            << "mute" << QStringList{"--sections", "6"} << false << QList<int>{6}
            << QStringList{"The source ends at 00:00:10.000, before the marked end.",
                           "Section 6 was not written: no frame of the source lies in it."};
        // A video profile on a source without video: cut on the sound's packets.
        QTest::newRow("sound only") << "sound"
                                    << QStringList{"--profile", "MP4 - Stream copy - no re-encoding", "--sections", "3"}
                                    << false << QList<int>{} << QStringList{};
        QTest::newRow("the cut points cannot be looked up")
            << "clip" << QStringList{"--sections", "3"} << true << QList<int>{} << QStringList{};
    }

    void emptySectionsAndCutNotes()
    {
        QFETCH(QString, source);
        QFETCH(QStringList, args);
        QFETCH(bool, lookupFails);
        QFETCH(QList<int>, empty);
        QFETCH(QStringList, notes);
        CliApp app(false);
        if (lookupFails) {
            app.write("ffprobe", "#!/bin/sh\nfor a; do [ \"$a\" = -read_intervals ] && { echo 'no stretch read' >&2; exit 1; }; "
                                 "done\nexec '" + QStandardPaths::findExecutable("ffprobe").toUtf8() + "' \"$@\"\n");
            QVERIFY(QFile::setPermissions(app.path() + "ffprobe", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        const QString path = m_media.path() + "/" + source + ".mp4";
        const QString warning = lookupFails ? path + ": the cut points could not be looked up in the source, so the "
                                                     "sections lie at the marked times: no stretch read"
                                            : QString("could not be looked up");
        const int count = args.last().toInt();
        QStringList written;
        for (int i = 1; i <= count; ++i)
            if (!empty.contains(i))
                written << source + QString("_Clip%1.mp4").arg(i);

        for (const bool json : {false, true}) {
            FakeEncoder fake;
            QTemporaryDir out;
            const CliRun r = app.run(args + QStringList{"--output", out.path(), path}
                                     + (json ? QStringList{"--progress", "json"} : QStringList{}));
            QCOMPARE(r.status, 0);
            QCOMPARE(fake.Runs().size(), written.size());
            QCOMPARE(Entries(out.path()), written);
            QCOMPARE(QString::fromLocal8Bit(r.err).contains(warning), lookupFails);
            if (!json) {
                const QString text = QString::fromLocal8Bit(r.out);
                for (const int i : empty)
                    QVERIFY2(text.contains(QString("%1.mp4: section %2/%3 not written: nothing of the source in it\n")
                                               .arg(source).arg(i).arg(count)),
                             qPrintable(text));
                for (const QString& note : notes)
                    QVERIFY2(text.contains(source + ".mp4: " + note + "\n"), qPrintable(text));
                QString summary = QString(": %1 of %2 sections written to %3/").arg(written.size()).arg(count).arg(out.path());
                if (!empty.isEmpty())
                    summary += QString(", %1 not written (nothing of the source in %2)")
                                   .arg(empty.size())
                                   .arg(empty.size() == 1 ? "it" : "them");
                QVERIFY2(text.contains("  done         " + path + summary + " ("), qPrintable(text));
                continue;
            }
            const QList<QJsonObject> events = JsonLines(r.out);
            const QJsonObject cuts = Events(events, "cuts").value(0);
            QCOMPARE(cuts.value("probed").toBool(), !lookupFails);
            QCOMPARE(cuts.value("problem").toString(), lookupFails ? QString("no stretch read") : QString());
            QList<int> reported;
            for (const QJsonObject& e : Events(events, "section-empty"))
                reported << e.value("section").toInt();
            QCOMPARE(reported, empty);
            const QJsonObject end = Events(events, "source-end").value(0);
            QCOMPARE(end.value("empty").toInt(), empty.size());
            QCOMPARE(end.value("notes").toArray(), QJsonArray::fromStringList(notes));
            const QJsonObject summary = Events(events, "summary").value(0);
            QCOMPARE(summary.value("sources").toArray().at(0).toObject().value("empty").toInt(), empty.size());
        }
    }

    void keepGoing_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("runs");
        QTest::addColumn<QStringList>("outcomes");
        const QString failFirst = "=== 1\nerr No space left on device\\n\nexit 1\n=== 2\noutput\n";
        QTest::newRow("stops at a failure") << QStringList{failFirst, "@CLIP@", "@SHORT@"} << 1 << 1
                                            << QStringList{"failed", "not-run"};
        QTest::newRow("keeps going") << QStringList{failFirst, "--keep-going", "@CLIP@", "@SHORT@"} << 1 << 2
                                     << QStringList{"failed", "done"};
        QTest::newRow("a bad source refuses the call") << QStringList{"", "@MEDIA@/gone.mp4", "@CLIP@"} << 2 << 0
                                                       << QStringList{"invalid", "not-run"};
        QTest::newRow("a bad source with --keep-going") << QStringList{"", "--keep-going", "@MEDIA@/gone.mp4", "@CLIP@"}
                                                        << 2 << 1 << QStringList{"invalid", "done"};
    }

    void keepGoing()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(int, runs);
        QFETCH(QStringList, outcomes);
        CliApp app(false);
        FakeEncoder fake;
        fake.SetScript(args.takeFirst());
        QTemporaryDir out;
        const CliRun r = app.run(expand(args, out.path()) + QStringList{"--progress", "json", "--output", out.path()});
        QCOMPARE(r.status, status);
        QCOMPARE(fake.Runs().size(), runs);
        const QList<QJsonObject> events = JsonLines(r.out);
        QCOMPARE(Outcomes(events), outcomes);
        if (outcomes.first() == "failed") {
            QVERIFY(r.err.contains(m_clip.toLocal8Bit() + ": section 1/1 failed: No space left on device"));
            QCOMPARE(Events(events, "section-failed").value(0).value("reason").toString(), QString("No space left on device"));
        }
        QVERIFY(PartsIn(out.path()).isEmpty());
    }

    void existingOutput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("nobody to ask") << QStringList{} << false;
        QTest::newRow("--no-overwrite") << QStringList{"--no-overwrite"} << false;
        QTest::newRow("--overwrite") << QStringList{"--overwrite"} << true;
    }

    void existingOutput()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, replaced);
        CliApp app(false);
        FakeEncoder fake;
        QTemporaryDir out;
        const QString target = out.path() + "/clip_Clip2.mp4";
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();
        const CliRun r = app.run(args + QStringList{"--sections", "2", "--output", out.path(), m_clip});
        QCOMPARE(r.status, 0);
        QCOMPARE(fake.Runs().size(), replaced ? 2 : 1);
        QCOMPARE(ReadAll(target), replaced ? QByteArray("fake output of run 2\n") : QByteArray("old"));
        QCOMPARE(r.out.contains("section 2/2 skipped: " + target.toLocal8Bit() + " exists and is kept"), !replaced);
    }

    void preferences_data()
    {
        QTest::addColumn<QByteArray>("main");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected"); // the first output, or the error
        QTest::newRow("beside the source") << QByteArray("Aptotic=0\nOutput Dir=@OUT@\nProfile=3\n") << QStringList{} << 0
                                           << "@MEDIA@/clip_Clip1.mp4";
        QTest::newRow("the fixed folder and another profile")
            << QByteArray("Aptotic=1\nOutput Dir=@OUT@\nProfile=0\n") << QStringList{} << 0 << "@OUT@/clip_Clip1.avi";
        QTest::newRow("--output before the fixed folder")
            << QByteArray("Aptotic=1\nOutput Dir=@MEDIA@/none\nProfile=3\n") << QStringList{"--output", "@OUT@"} << 0
            << "@OUT@/clip_Clip1.mp4";
        QTest::newRow("a fixed folder that is gone") << QByteArray("Aptotic=1\nOutput Dir=@MEDIA@/none\n") << QStringList{} << 2
                                                     << "the output folder @MEDIA@/none that the preferences";
        QTest::newRow("no profile selected") << QByteArray("Profile=7\n") << QStringList{} << 2
                                             << "select no profile of the 7";
    }

    void preferences()
    {
        QFETCH(QByteArray, main);
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, expected);
        CliApp app(false);
        QTemporaryDir out;
        app.write("Preferences.ini", "[Main]\n" + expand({QString::fromUtf8(main)}, out.path()).first().toUtf8());
        const CliRun r = app.run(expand(args, out.path()) + QStringList{"--dry-run", "--progress", "json", m_clip});
        QCOMPARE(r.status, status);
        expected = expand({expected}, out.path()).first();
        if (status == 0)
            QCOMPARE(Events(JsonLines(r.out), "plan").value(0).value("output").toString(), expected);
        else
            QVERIFY2(QString::fromLocal8Bit(r.err).contains(expected), r.err.constData());
    }

    // Preferences that cannot be read are said once, and the shipped choices stand in:
    // outputs beside the source with the MP4 profile, never into the program's folder.
    void unusablePreferences_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("junk") << "junk";
        QTest::newRow("pipe") << "fifo";
        QTest::newRow("endless device") << "device";
    }
    void unusablePreferences()
    {
        QFETCH(QString, kind);
        CliApp app(false);
        const QString prefs = QDir(app.path()).filePath("Preferences.ini");
        QFile::remove(prefs);
        if (kind == "junk")
            app.write("Preferences.ini", QByteArray("\x7f""ELF\x02\x01 not settings \xff\xfe\n", 24));
        else if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(prefs).constData(), 0644), 0);
        else
            QVERIFY(QFile::link("/dev/zero", prefs));
        const CliRun r = app.run({"--dry-run", "--progress", "json", m_clip});
        QCOMPARE(r.status, 0);
        QCOMPARE(Events(JsonLines(r.out), "plan").value(0).value("output").toString(),
                 m_media.path() + "/clip_Clip1.mp4");
        const QString err = QString::fromLocal8Bit(r.err);
        QVERIFY2(err.count("Unable to read " + prefs) == 1 && err.contains("the defaults are used"), r.err.constData());
    }

    void interrupted_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("Ctrl+C") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
    }

    void interrupted()
    {
        QFETCH(int, signal);
        CliApp app(false);
        FakeEncoder fake;
        fake.SetScript("child\nhang\n"); // an encoder that says nothing and would never end
        QTemporaryDir out;
        QProcess cli;
        cli.start(app.program(), {"--sections", "2", "--output", out.path(), m_clip});
        QTRY_VERIFY_WITH_TIMEOUT(fake.Runs().size() == 1 && fake.Runs()[0].childPid > 0, 60000);
        const FakeRun run = fake.Runs()[0];
        QVERIFY(ProcessAlive(run.pid) && ProcessAlive(run.childPid));
        QCOMPARE(Entries(out.path()).size(), 1); // the hidden temporary output
        // A terminal's Ctrl+C goes to its foreground group, which the encoder is not in.
        QVERIFY(ProcessGroup(run.pid) != ProcessGroup(cli.processId()));
        ::kill(static_cast<pid_t>(cli.processId()), signal);
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 130);
        QVERIFY(!ProcessAlive(run.pid) && !ProcessAlive(run.childPid));
        QCOMPARE(Entries(out.path()), QStringList());
        QCOMPARE(fake.Runs().size(), 1);
        QVERIFY(cli.readAllStandardOutput().contains("  interrupted  " + m_clip.toLocal8Bit() + ": 0 of 2 sections"));
    }

    // A terminal's Ctrl+C reaches ffprobe too, which may end before the program reads its
    // own signal: still an interruption, not a source whose length cannot be read.
    void interruptedWhileReadingTheLength()
    {
        CliApp app(false);
        app.write("ffprobe", "#!/bin/sh\necho $$ > \"$(dirname \"$0\")/probe.pid\"\nexec sleep 60\n");
        QVERIFY(QFile::setPermissions(app.path() + "/ffprobe", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QTemporaryDir out;
        QProcess cli;
        cli.setChildProcessModifier([] { ::setpgid(0, 0); }); // a foreground group of its own
        cli.start(app.program(), {"--output", out.path(), m_clip});
        QTRY_VERIFY_WITH_TIMEOUT(QFile(app.path() + "/probe.pid").size() > 0, 60000);
        ::kill(-static_cast<pid_t>(cli.processId()), SIGINT);
        QVERIFY(cli.waitForFinished(30000));
        const QByteArray err = cli.readAllStandardError();
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QVERIFY2(cli.exitCode() == 130 && err.contains("interrupted") && !err.contains("ffprobe"), err.constData());
    }
};

VT_TEST_MAIN(CliTest)
#include "cli_veltrane.moc"
