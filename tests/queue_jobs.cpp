// The queue of jobs without a window: jobs run one after another in their order through the
// job controller and the stand-in encoder, the queue survives a restart, and a queue file
// written by anyone is read without harm.
#include "split_fake.h"

#include "queue/JobQueue.h"
#include "queue/QueueRunner.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest/QtTest>

class QueueJobsTest : public QObject {
    Q_OBJECT

    QueueJob Job(const QString& source, const QString& outDir, int count = 1) const
    {
        QueueJob j;
        j.sourcePath = source;
        j.start = 0;
        j.end = 30;
        j.count = count;
        j.profileName = "Test";
        j.profilePath = "/profiles/Test.apf";
        j.profileSwitches = " -c:v libx264";
        j.extension = ".mp4";
        j.outputDir = outDir;
        return j;
    }

    // Orders as the window's checks would make them, without looking the source up.
    static std::optional<SplitJobOrder> Order(const QueueJob& j, QString* error)
    {
        JobPlan plan = MakeJobPlan(*j.start, *j.end, j.count > 1, j.count, j.sourcePath, j.outputDir, j.extension);
        plan.nameTemplate = j.nameTemplate;
        if (!ApplySectionRequest(plan, j.sections, error))
            return std::nullopt;
        plan.cuts = UnprobedCuts(plan.PlannedPoints(), CutKind::Frames, false);
        return SplitJobOrder{j.sourcePath, plan, j.profileSwitches, FakeEncoder::Program()};
    }

private slots:
    void threeJobsRunInOrderAndSurviveARestart()
    {
        QTemporaryDir dir;
        FakeEncoder fake;
        QVERIFY(QDir(dir.path()).mkpath("out"));
        const QString out = dir.path() + "/out";
        QStringList sources;
        for (const char* name : {"a.mp4", "b.mkv", "c.mp4"}) {
            sources << dir.path() + "/" + name;
            QFile f(sources.last());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("source");
        }
        JobQueue queue;
        QList<qint64> ids;
        ids << queue.Add(Job(sources[0], out));
        QueueJob second = Job(sources[1], out);
        second.sections = SectionRequest{SectionMode::Points, 0, 0, {10, 20}};
        second.nameTemplate = "{source}-{n:2}";
        ids << queue.Add(second);
        ids << queue.Add(Job(sources[2], out, 2));

        // Saved before running and loaded by a new program: the same jobs, all waiting.
        const QString file = dir.path() + "/Queue.json";
        QVERIFY(queue.Save(file));
        JobQueue restarted;
        int dropped = -1;
        QVERIFY(restarted.Load(file, &dropped));
        QCOMPARE(dropped, 0);
        QCOMPARE(restarted.Size(), 3);
        for (int i = 0; i < 3; ++i) {
            const QueueJob& a = queue.Jobs().at(i);
            const QueueJob& b = restarted.Jobs().at(i);
            QCOMPARE(b.sourcePath, a.sourcePath);
            QCOMPARE(b.count, a.count);
            QCOMPARE(int(b.sections.mode), int(a.sections.mode));
            QCOMPARE(b.sections.points, a.sections.points);
            QCOMPARE(b.nameTemplate, a.nameTemplate);
            QCOMPARE(b.profileSwitches, a.profileSwitches);
            QCOMPARE(b.status, QueueJob::Status::Waiting);
        }

        QueueRunner runner(restarted, FakeEncoder::Program());
        runner.SetOrderMaker(&QueueJobsTest::Order);
        QSignalSpy started(&runner, &QueueRunner::jobStarted);
        QSignalSpy idle(&runner, &QueueRunner::idle);
        runner.Start();
        QVERIFY(idle.wait(60000));
        QCOMPARE(started.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(started.at(i).at(0).toLongLong(), restarted.Jobs().at(i).id);
            QCOMPARE(restarted.Jobs().at(i).status, QueueJob::Status::Done);
            QCOMPARE(restarted.Jobs().at(i).progress, 100);
        }
        // One encoder run per section, the jobs' sections in the queue's order.
        QStringList written;
        for (const FakeRun& r : fake.Runs())
            written << QFileInfo(r.args.last()).fileName().section(".vtpart-", 0, 0).mid(1);
        QCOMPARE(written, (QStringList{"a_Clip1", "b-01", "b-02", "b-03", "c_Clip1", "c_Clip2"}));

        // What ran is kept as done; a job running when the program ended waits again.
        restarted.SetStatus(restarted.Jobs().at(2).id, QueueJob::Status::Running);
        QVERIFY(restarted.Save(file));
        JobQueue again;
        QVERIFY(again.Load(file));
        QCOMPARE(again.Jobs().at(0).status, QueueJob::Status::Done);
        QCOMPARE(again.Jobs().at(2).status, QueueJob::Status::Waiting);
    }

    // Skip stops the running job (its partial output goes) and goes on; Pause holds the queue.
    void skipAndPause()
    {
        QTemporaryDir dir;
        FakeEncoder fake;
        fake.SetScript("out time=1.00 \\n\nwait go\noutput\nexit 0\n");
        const QString source = dir.path() + "/a.mp4";
        QFile f(source);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("source");
        f.close();
        JobQueue queue;
        const qint64 first = queue.Add(Job(source, dir.path()));
        QueueJob other = Job(source, dir.path());
        other.nameTemplate = "second";
        const qint64 second = queue.Add(other);
        QueueRunner runner(queue, FakeEncoder::Program());
        runner.SetOrderMaker(&QueueJobsTest::Order);
        QSignalSpy ended(&runner, &QueueRunner::jobEnded);
        runner.Start();
        QVERIFY(QTest::qWaitFor([&] { return fake.Runs().size() == 1; }, 30000));
        runner.Skip(first);
        QCOMPARE(queue.Find(first)->status, QueueJob::Status::Skipped);
        QVERIFY(QTest::qWaitFor([&] { return fake.Runs().size() == 2; }, 30000));
        runner.Pause();
        fake.Go("go");
        QTest::qWait(500);
        QCOMPARE(queue.Find(second)->status, QueueJob::Status::Running); // held, not ended
        runner.Resume();
        QVERIFY(QTest::qWaitFor([&] { return queue.Find(second)->status == QueueJob::Status::Done; }, 30000));
        QVERIFY(QFile::exists(dir.path() + "/second.mp4"));
        QVERIFY(!QFile::exists(dir.path() + "/a_Clip1.mp4"));
        QVERIFY(QTest::qWaitFor([&] { return !runner.IsRunning(); }, 30000));
    }

    void hostileFiles_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("loads");
        QTest::addColumn<int>("jobs");
        QTest::addColumn<int>("dropped");
        const QByteArray good = R"({"source":"/v/a.mp4","extension":".mp4","count":2})";
        auto queue = [](const QByteArray& jobs) { return R"({"queue":1,"jobs":[)" + jobs + "]}"; };
        QTest::newRow("good") << queue(good) << true << 1 << 0;
        QTest::newRow("not JSON") << QByteArray("\x00\xff{[") << false << 0 << 0;
        QTest::newRow("another program's JSON") << QByteArray(R"({"jobs":[]})") << false << 0 << 0;
        QTest::newRow("relative source") << queue(R"({"source":"a.mp4","extension":".mp4"})") << true << 0 << 1;
        QTest::newRow("extension with a path") << queue(R"({"source":"/a.mp4","extension":"/../../x"})") << true << 0 << 1;
        QTest::newRow("template with a folder") << queue(R"({"source":"/a.mp4","extension":".mp4","name":"../x"})") << true << 0 << 1;
        QTest::newRow("relative output folder") << queue(R"({"source":"/a.mp4","extension":".mp4","outputDir":"x"})") << true << 0 << 1;
        QTest::newRow("huge count") << queue(R"({"source":"/a.mp4","extension":".mp4","count":1e12})") << true << 0 << 1;
        QTest::newRow("fractional count") << queue(R"({"source":"/a.mp4","extension":".mp4","count":2.5})") << true << 0 << 1;
        QTest::newRow("negative time") << queue(R"({"source":"/a.mp4","extension":".mp4","start":-4})") << true << 0 << 1;
        QTest::newRow("end before start") << queue(R"({"source":"/a.mp4","extension":".mp4","start":9,"end":3})") << true << 0 << 1;
        QTest::newRow("wrong types") << queue(R"({"source":7,"extension":".mp4"},"text",[1])") << true << 0 << 3;
        QTest::newRow("unknown mode") << queue(R"({"source":"/a.mp4","extension":".mp4","mode":"rm -rf"})") << true << 0 << 1;
        QTest::newRow("size under 1K") << queue(R"({"source":"/a.mp4","extension":".mp4","mode":"size","maxBytes":10})") << true << 0 << 1;
        QTest::newRow("length of nothing") << queue(R"({"source":"/a.mp4","extension":".mp4","mode":"length","every":0})") << true << 0 << 1;
        QTest::newRow("points not numbers") << queue(R"({"source":"/a.mp4","extension":".mp4","points":["x"]})") << true << 0 << 1;
        QTest::newRow("segments") << queue(R"({"source":"/a.mp4","extension":".mp4","segments":[{"start":1,"end":2,"name":"A"},{"start":0,"end":0.5}],"segmentOutput":"joined","chaptersAtJoins":true})") << true << 1 << 0;
        QTest::newRow("segment ends before it starts") << queue(R"({"source":"/a.mp4","extension":".mp4","segments":[{"start":1,"end":2},{"start":5,"end":3}]})") << true << 0 << 1;
        QTest::newRow("segment time not a number") << queue(R"({"source":"/a.mp4","extension":".mp4","segments":[{"start":"0","end":2}]})") << true << 0 << 1;
        QTest::newRow("segment past any recording") << queue(R"({"source":"/a.mp4","extension":".mp4","segments":[{"start":0,"end":1e300}]})") << true << 0 << 1;
        QTest::newRow("segment name with a line break") << queue(R"({"source":"/a.mp4","extension":".mp4","segments":[{"start":0,"end":1,"name":"a\nb"}]})") << true << 0 << 1;
        QTest::newRow("segment name too long") << queue(R"({"source":"/a.mp4","extension":".mp4","segments":[{"start":0,"end":1,"name":")" + QByteArray(201, 'x') + R"("}]})") << true << 0 << 1;
        QTest::newRow("segments not a list") << queue(R"({"source":"/a.mp4","extension":".mp4","segments":{"start":0}})") << true << 0 << 1;
        QTest::newRow("segment not an object") << queue(R"({"source":"/a.mp4","extension":".mp4","segments":[3]})") << true << 0 << 1;
        QTest::newRow("unknown segment output") << queue(R"({"source":"/a.mp4","extension":".mp4","segments":[{"start":0,"end":1}],"segmentOutput":"both"})") << true << 0 << 1;
        QTest::newRow("chapters not true or false") << queue(R"({"source":"/a.mp4","extension":".mp4","chaptersAtJoins":"yes"})") << true << 0 << 1;
        QTest::newRow("good beside bad") << queue(good + R"(,{"source":""},)" + good) << true << 2 << 1;
        QTest::newRow("too large") << QByteArray(9 * 1024 * 1024, ' ') << false << 0 << 0;
    }
    void hostileFiles()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, loads);
        QFETCH(int, jobs);
        QFETCH(int, dropped);
        QTemporaryDir dir;
        const QString file = dir.path() + "/Queue.json";
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(json);
        f.close();
        JobQueue queue;
        queue.Add(QueueJob{}); // what a refused file leaves alone
        int bad = -1;
        QString error;
        QCOMPARE(queue.Load(file, &bad, &error), loads);
        if (!loads) {
            QVERIFY(!error.isEmpty());
            QCOMPARE(queue.Size(), 1);
            return;
        }
        QCOMPARE(queue.Size(), jobs);
        QCOMPARE(bad, dropped);
    }

    // A job with segments comes back as it went, and a queue file with a job it cannot take
    // says which job and what is wrong with it.
    void segmentsKept()
    {
        QTemporaryDir dir;
        JobQueue queue;
        QueueJob job = Job("/v/a.mp4", dir.path());
        job.start.reset();
        job.end.reset();
        job.segments = {{61.5, 70, "Intro, \"one\""}, {1, 2, ""}, {100, 200.04, "Ünïcode"}};
        job.segmentOutput = SegmentOutput::Joined;
        job.chaptersAtJoins = true;
        job.nameTemplate = "{n} {title}";
        queue.Add(job);
        queue.Add(Job("/v/b.mp4", dir.path()));
        const QString file = dir.path() + "/Queue.json";
        QVERIFY(queue.Save(file));
        JobQueue again;
        QVERIFY(again.Load(file));
        QCOMPARE(again.Size(), 2);
        const QueueJob& back = again.Jobs().at(0);
        QCOMPARE(back.segments, job.segments);
        QCOMPARE(back.segmentOutput, SegmentOutput::Joined);
        QCOMPARE(back.chaptersAtJoins, true);
        QCOMPARE(back.nameTemplate, job.nameTemplate);
        QVERIFY(again.Jobs().at(1).segments.isEmpty());
        QCOMPARE(again.Jobs().at(1).segmentOutput, SegmentOutput::Separate);

        // The first job's second segment turned around by hand.
        QJsonObject root = QJsonDocument::fromJson(queue.ToJson()).object();
        QJsonArray jobs = root["jobs"].toArray();
        QJsonObject first = jobs[0].toObject();
        QJsonArray segments = first["segments"].toArray();
        QJsonObject turned = segments[1].toObject();
        turned["start"] = 9;
        segments[1] = turned;
        first["segments"] = segments;
        jobs[0] = first;
        root["jobs"] = jobs;
        const QByteArray text = QJsonDocument(root).toJson();
        int dropped = 0;
        QStringList problems;
        QVERIFY(again.FromJson(text, &dropped, nullptr, &problems));
        QCOMPARE(dropped, 1);
        QCOMPARE(problems, QStringList{"job 1: segment 2 is no range of times"});
        QCOMPARE(again.Size(), 1);
    }

    // A folder or a device where the file should be is no queue; no file is an empty one.
    void notAFile()
    {
        QTemporaryDir dir;
        JobQueue queue;
        QVERIFY(!queue.Load(dir.path()));
        QVERIFY(!queue.Load("/dev/zero"));
        QVERIFY(queue.Load(dir.path() + "/none.json"));
        QCOMPARE(queue.Size(), 0);
    }
};

QTEST_GUILESS_MAIN(QueueJobsTest)
#include "queue_jobs.moc"
