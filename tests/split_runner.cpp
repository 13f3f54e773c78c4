// The job runner with a stand-in encoder: progress, failures, cancel and destruction with
// nothing left running, outputs complete or absent, and the source never an output.
#include "split_fake.h"

#include "split/CommandLine.h"
#include "split/EncoderRun.h"
#include "split/OutputFile.h"
#include "split/SplitJob.h"

#include <QSignalSpy>
#include <QtTest/QtTest>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void Write(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

} // namespace

class SplitRunnerTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeEncoder> m_fake;
    QString m_source;

    QString out(const QString& name = QString()) const { return m_dir->path() + "/out/" + name; }
    SplitJobOrder order(int sections) const
    {
        return SplitJobOrder{m_source, MakeJobPlan(0, 40, sections > 0, sections, m_source, out(), ".mp4"),
                            " -c:v libx264", FakeEncoder::Program()};
    }
    // Runs a job to its end; the question answers as given and counts its calls.
    SplitJob::Outcome run(SplitJob& job, SplitJob::Overwrite answer = SplitJob::Overwrite::Replace, int* asked = nullptr)
    {
        job.SetOverwriteQuestion([=](const JobSection&) {
            if (asked)
                ++*asked;
            return answer;
        });
        QSignalSpy ended(&job, &SplitJob::ended);
        job.Start();
        if (!ended.wait(60000))
            return SplitJob::Outcome::None;
        return job.Result();
    }
    void expectNothingRunning() const
    {
        for (const FakeRun& r : m_fake->Runs()) {
            QVERIFY2(!ProcessAlive(r.pid), "the encoder is still running");
            QVERIFY2(!ProcessAlive(r.childPid), "a program the encoder started is still running");
        }
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_fake = std::make_unique<FakeEncoder>();
        QVERIFY(QDir(m_dir->path()).mkpath("src") && QDir(m_dir->path()).mkpath("out"));
        m_source = m_dir->path() + "/src/clip.mp4";
        Write(m_source, "source");
    }
    void cleanup()
    {
        m_fake.reset();
        m_dir.reset();
    }

    void progressAndTotals()
    {
        // Each chunk waits until the test has seen the one before, so chunks never merge.
        m_fake->SetScript("=== 1\nout time=5.00 \\n\nwait r1c1\nout frame=1\\n\nwait r1c2\n"
                          "out time=15.00 \\ntime=19.00 \\n\nwait r1c3\nout time=21.00 \\n\nwait r1c4\noutput\n"
                          "=== 2\nout time=10.00 \\n\nwait r2c1\noutput\n");
        SplitJob job(order(2)); // two sections of 20 s
        job.UseExternalClock();
        QList<QList<double>> seen;
        QStringList commandLines;
        QList<qint64> clock;
        connect(&job, &SplitJob::sectionStarted, this,
                [&](const JobSection&, const QString& line) { commandLines << line; });
        connect(&job, &SplitJob::clock, this, [&](qint64 e, qint64 r) { clock = {e, r}; });
        connect(&job, &SplitJob::progress, this, [&](int current, int total, double time) {
            seen.append({double(current), double(total), time});
            const int chunks = job.CurrentRun()->ChunksRead();
            if (chunks == 1 && commandLines.size() == 1)
                for (int k = 0; k < 3; ++k)
                    job.Tick(); // with the total at 12
            m_fake->Go(QString("r%1c%2").arg(commandLines.size()).arg(chunks));
        });
        QSignalSpy finished(&job, &SplitJob::finished);
        QCOMPARE(run(job), SplitJob::Outcome::Completed);
        const QList<QList<double>> expected = {
            {0, 0, 0},                        // section 1 starts
            {25, 12, 5}, {25, 12, 5},         // 12.5 goes to the even 12; a chunk without time
            {75, 38, 15}, {100, 50, 21},      // only the first time of a chunk; 105 % held at 100
            {0, 50, 0}, {50, 75, 10},         // section 2 starts empty
        };
        QCOMPARE(seen, expected);
        QCOMPARE(clock, QList<qint64>({3, 22}));
        QCOMPARE(finished.size(), 1);
        job.Tick(); // an ended job counts no more
        QCOMPARE(clock, QList<qint64>({3, 22}));

        // The encoder got the planned arguments, writing to a temporary name that then
        // took the output's name.
        const QList<FakeRun> runs = m_fake->Runs();
        QCOMPARE(runs.size(), 2);
        for (int i = 1; i <= 2; ++i) {
            const QStringList& args = runs[i - 1].args;
            QVERIFY(IsPartOf(args.last(), out(QString("clip_Clip%1.mp4").arg(i))));
            QCOMPARE(args, PlanSection(job.Order(), i, args.last()).arguments);
            QCOMPARE(SplitCommandLine(commandLines[i - 1]), args);
            QCOMPARE(ReadAll(out(QString("clip_Clip%1.mp4").arg(i))), "fake output of run " + QByteArray::number(i) + "\n");
        }
        QVERIFY(PartsIn(out()).isEmpty());
    }

    // The encoder's notes (copied video it had to cut on key frames) reach the completion; a
    // section it found nothing for is not written and not counted as a failure. Every
    // section but the last learns that the next one starts at its end.
    void encoderNotesReachTheCompletion()
    {
        const QString why = ": exact cuts need H.264 or H.265 video, and this video is MPEG-4 part 2";
        m_fake->SetScript("=== 1\nerr wmaspi.dll: note: cut on key frames from 00:00:00.000 to 00:00:12.000" + why
                          + "\\n\noutput\n=== 2\nerr wmaspi.dll: note: cut on key frames from 00:00:12.000 to "
                            "00:00:12.000" + why + "\\n\nexit 0\n=== 3\nerr wmaspi.dll: note: cut on key frames "
                            "from 00:00:12.000\nsleep 50\nerr \\sto 00:00:40.000" + why + "\\n\noutput\n");
        SplitJobOrder s = order(3);
        s.profileSwitches = " -c:v copy -cut_points exact -c:a copy";
        SplitJob job(s);
        QSignalSpy empty(&job, &SplitJob::sectionEmpty);
        QCOMPARE(run(job), SplitJob::Outcome::Completed);
        QCOMPARE(empty.size(), 1);
        QCOMPARE(empty.first().first().value<JobSection>().number, 2);
        QVERIFY(QFile::exists(out("clip_Clip1.mp4")) && !QFile::exists(out("clip_Clip2.mp4"))
                && QFile::exists(out("clip_Clip3.mp4")));
        QVERIFY(PartsIn(out()).isEmpty());
        QCOMPARE(job.CompletionNotes(),
                 QStringList({"Sections 1 and 3 were cut on key frames instead of exact frames (exact cuts need H.264 "
                              "or H.265 video, and this video is MPEG-4 part 2): they begin at 00:00:00.000 and "
                              "00:00:12.000.",
                              "Section 2 was not written: no key frame lies between its cuts (exact cuts need H.264 or "
                              "H.265 video, and this video is MPEG-4 part 2)."}));
        const QList<FakeRun> runs = m_fake->Runs();
        QCOMPARE(runs.size(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(runs[i].args.contains("-cut_end"), i < 2);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("standing"); // what stands at the output name: "", "file", "folder"
        QTest::addColumn<QString>("reason");
        QTest::newRow("the encoder's last line") << "child\noutput\nerr [aac] Unsupported layout\\n\n"
                                                    "err Conversion failed!\\n\nout time=2.00 \\n\nexit 1\n"
                                                 << "file" << "Conversion failed!";
        QTest::newRow("a full disk") << "output\nerr Error closing file @OUT@: No space left on device\\n\nexit 1\n"
                                     << "file" << "Error closing file <output>: No space left on device";
        QTest::newRow("a status only") << "output\nexit 3\n" << "" << "The encoder ended with status 3.";
        QTest::newRow("nothing written") << "exit 0\n" << "file" << "The encoder wrote nothing to ";
        QTest::newRow("the name is a folder") << "output\nexit 0\n" << "folder" << "<output>";
    }
    void failures()
    {
        QFETCH(QString, script);
        QFETCH(QString, standing);
        QFETCH(QString, reason);
        const QString output = out("clip_Clip1.mp4");
        reason.replace("<output>", output);
        if (standing == "file")
            Write(output, "old");
        if (standing == "folder")
            QVERIFY(QDir().mkpath(output + "/inside"));
        m_fake->SetScript(script);
        SplitJob job(order(0));
        QSignalSpy failed(&job, &SplitJob::sectionFailed);
        QCOMPARE(run(job), SplitJob::Outcome::Failed);
        QCOMPARE(failed.size(), 1);
        QVERIFY2(job.FailureReason().startsWith(reason), qPrintable(job.FailureReason()));
        QCOMPARE(failed.first().at(1).toString(), job.FailureReason());
        QCOMPARE(job.FailedSection().number, 1);
        expectNothingRunning();
        QVERIFY(PartsIn(out()).isEmpty());
        if (standing == "file")
            QCOMPARE(ReadAll(output), QByteArray("old")); // a failed overwrite keeps the old file
        else
            QCOMPARE(QFileInfo(output).isFile(), false);
    }

    void cancelAndDestruction_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("cancel") << false;
        QTest::newRow("destruction") << true;
    }
    void cancelAndDestruction()
    {
        QFETCH(bool, destroy);
        Write(out("clip_Clip1.mp4"), "old");
        m_fake->SetScript("child\noutput\nout time=1.00 \\n\nhang\n");
        auto job = std::make_unique<SplitJob>(order(0));
        job->SetOverwriteQuestion([](const JobSection&) { return SplitJob::Overwrite::Replace; });
        QSignalSpy progress(job.get(), &SplitJob::progress);
        QSignalSpy cancelled(job.get(), &SplitJob::cancelled);
        QSignalSpy ended(job.get(), &SplitJob::ended);
        job->Start();
        QTRY_VERIFY_WITH_TIMEOUT(progress.size() == 2 && !m_fake->Runs().isEmpty() && m_fake->Runs()[0].childPid, 60000);
        const FakeRun r = m_fake->Runs()[0];
        QVERIFY(ProcessAlive(r.pid) && ProcessAlive(r.childPid));
        QCOMPARE(PartsIn(out()).size(), 1); // the partial file being written
        if (destroy) {
            job.reset();
        } else {
            job->Cancel();
            QCOMPARE(cancelled.size(), 1);
            QCOMPARE(ended.size(), 1);
            QCOMPARE(job->Result(), SplitJob::Outcome::Cancelled);
        }
        // Gone by the time the call returns, not some time later.
        expectNothingRunning();
        QVERIFY(PartsIn(out()).isEmpty());
        QCOMPARE(ReadAll(out("clip_Clip1.mp4")), QByteArray("old"));
    }

    void lookUpOfTheCuts_data()
    {
        // The ffprobe beside the encoder: lists a 20 s video at 25 frames per second with a
        // key frame every 2 s (B-frames decoded two frames ahead), fails, or hangs.
        QTest::addColumn<QString>("ffprobe");
        QTest::addColumn<QString>("end"); // "done", "cancel", "destroy"
        // As JSON when asked for it (the run that lists the tracks too), else one line each.
        const QString lists =
            "case \" $* \" in *' json '*)\n"
            "echo '{\"packets\": ['; i=0; while [ $i -lt 500 ]; do k=__; [ $((i % 50)) -eq 0 ] && k=K_; s=,; [ $i -eq 499 ] && s=\n"
            "echo \"{\\\"stream_index\\\": 0, \\\"pts\\\": $((i * 512)), \\\"dts\\\": $(((i - 2) * 512)), \\\"duration\\\": 512, "
            "\\\"flags\\\": \\\"$k\\\"}$s\"; i=$((i + 1)); done\n"
            "echo '], \"streams\": [{\"index\": 0, \"codec_type\": \"video\", \"codec_name\": \"h264\", \"width\": 160, "
            "\"height\": 120, \"time_base\": \"1/12800\", \"has_b_frames\": 2, \"disposition\": {\"attached_pic\": 0}}], "
            "\"chapters\": [], \"format\": {\"start_time\": \"0.000000\", \"duration\": \"20.000000\"}}'; exit 0;;\n"
            "esac\n"
            "i=0; while [ $i -lt 500 ]; do k=__; [ $((i % 50)) -eq 0 ] && k=K_\n"
            "echo \"packet|stream_index=0|pts=$((i * 512))|dts=$(((i - 2) * 512))|duration=512|flags=$k\"; i=$((i + 1)); done\n"
            "echo 'stream|index=0|codec_type=video|width=160|height=120|time_base=1/12800|has_b_frames=2|disposition:attached_pic=0'\n"
            "echo 'format|start_time=0.000000|duration=20.000000'\n";
        QTest::newRow("placed on key frames") << lists << "done";
        QTest::newRow("unreadable source") << "echo 'clip.mp4: Invalid data found when processing input' >&2; exit 1\n"
                                           << "done";
        QTest::newRow("cancelled while looking") << "exec sleep 1000\n" << "cancel";
        QTest::newRow("destroyed while looking") << "exec sleep 1000\n" << "destroy";
    }
    void lookUpOfTheCuts()
    {
        QFETCH(QString, ffprobe);
        QFETCH(QString, end);
        // The encoder in a folder of its own, with the stand-in ffprobe beside it.
        QTemporaryDir tools;
        const QString encoder = tools.path() + "/wmaspi.dll";
        QVERIFY(QFile::copy(FakeEncoder::Program(), encoder));
        QVERIFY(QFile(encoder).setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        Write(tools.path() + "/ffprobe", ("#!/bin/sh\necho $$ > \"$(dirname \"$0\")/pid\"\n"
                                          "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args\"\n" + ffprobe).toUtf8());
        QVERIFY(QFile(tools.path() + "/ffprobe").setPermissions(QFile::ReadOwner | QFile::ExeOwner));

        // 0 to 4 s in 7: the points 0, 0.571, 1.143 ... 3.429, 4 fall on the key frames 0, 0,
        // 2, 2, 2, 2, 4 and the end 4, so only sections 2 and 6 hold anything.
        auto job = std::make_unique<SplitJob>(
            SplitJobOrder{m_source, MakeJobPlan(0, 4, true, 7, m_source, out(), ".mp4"), " -c copy", encoder});
        QSignalSpy looking(job.get(), &SplitJob::lookingUpCuts);
        QSignalSpy empty(job.get(), &SplitJob::sectionEmpty);
        QSignalSpy progress(job.get(), &SplitJob::progress);
        QSignalSpy ended(job.get(), &SplitJob::ended);
        job->Start();
        if (end != "done") {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(tools.path() + "/pid"), 30000);
            const qint64 pid = ReadAll(tools.path() + "/pid").trimmed().toLongLong();
            QTRY_VERIFY(ProcessAlive(pid));
            if (end == "destroy") {
                job.reset();
            } else {
                job->Cancel();
                QCOMPARE(ended.size(), 1);
                QCOMPARE(job->Result(), SplitJob::Outcome::Cancelled);
            }
            // Gone when the call returns; nothing was encoded, nothing comes later.
            QVERIFY(!ProcessAlive(pid));
            QTest::qWait(100);
            QCOMPARE(ended.size(), end == "cancel" ? 1 : 0);
            QVERIFY(m_fake->Runs().isEmpty());
            return;
        }
        QVERIFY(ended.wait(60000));
        QCOMPARE(job->Result(), SplitJob::Outcome::Completed);
        QCOMPARE(looking.size(), 1);
        // ffprobe read around the points (here near enough to be one stretch), not the whole
        // 20 s, and took the name as a file.
        const QStringList args = QString::fromUtf8(ReadAll(tools.path() + "/args")).split('\n');
        const QStringList intervals = args.at(args.indexOf("-read_intervals") + 1).split(',');
        QCOMPARE(intervals.size(), 1);
        QVERIFY2(intervals[0].section('%', 1).toDouble() < 10, qPrintable(intervals[0]));
        QVERIFY(args.contains("file:" + m_source));

        const QList<FakeRun> runs = m_fake->Runs();
        if (ffprobe.contains("exit 1")) {
            // The points stay as planned, in full precision, and the report says why.
            QCOMPARE(job->Lookup().problem, QString("clip.mp4: Invalid data found when processing input"));
            QCOMPARE(runs.size(), 7);
            QCOMPARE(runs[2].args.mid(3, 4), QStringList({"-ss", "1.142857", "-t", "0.571429"}));
            QVERIFY(empty.isEmpty());
            return;
        }
        QVERIFY(job->Lookup().problem.isEmpty());
        QCOMPARE(job->Lookup().reads, 1);
        QCOMPARE(runs.size(), 2);
        QVERIFY(IsPartOf(runs[0].args.last(), out("clip_Clip2.mp4")));
        QVERIFY(IsPartOf(runs[1].args.last(), out("clip_Clip6.mp4")));
        // The video of each ends half a frame before the decode time of the next key frame
        // (0.08 s before it shows); copied streams take nothing from before the start.
        QCOMPARE(runs[0].args.mid(3, 8),
                 QStringList({"-ss", "0", "-t", "2", "-video_end_dts", "1.9", "-copypriorss", "0"}));
        QCOMPARE(runs[1].args.mid(3, 8),
                 QStringList({"-ss", "2", "-t", "2", "-video_end_dts", "1.9", "-copypriorss", "0"}));
        QList<int> numbers;
        for (const QList<QVariant>& e : empty)
            numbers << e.at(0).value<JobSection>().number;
        QCOMPARE(numbers, QList<int>({1, 3, 4, 5, 7}));
        QVERIFY(!QFile::exists(out("clip_Clip1.mp4")) && QFile::exists(out("clip_Clip2.mp4")));
        QCOMPARE(progress.last().at(1).toInt(), 100); // sections with nothing in them count as done
    }

    void sourceAndItsLinksAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("refused");
        QTest::newRow("hard link") << "clip_Clip2.mp4" << "hard" << true;
        QTest::newRow("symbolic link") << "clip_Clip3.mp4" << "symbolic" << true;
        QTest::newRow("relative symbolic link") << "clip_Clip1.mp4" << "relative" << true;
        QTest::newRow("a copy is another file") << "clip_Clip1.mp4" << "copy" << false;
        QTest::newRow("not an output name") << "clip_Clip4.mp4" << "hard" << false;
    }
    void sourceAndItsLinksAreRefused()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(bool, refused);
        const QString at = out(name);
        if (kind == "hard")
            QCOMPARE(::link(QFile::encodeName(m_source), QFile::encodeName(at)), 0);
        else if (kind == "symbolic")
            QVERIFY(QFile::link(m_source, at));
        else if (kind == "relative")
            QCOMPARE(::symlink("../src/clip.mp4", QFile::encodeName(at)), 0);
        else
            QVERIFY(QFile::copy(m_source, at));

        const std::optional<JobCheckFailure> failure = CheckOutputsAgainstSource(order(3).plan, m_source);
        QCOMPARE(failure.has_value(), refused);
        SplitJob job(order(3));
        const SplitJob::Outcome outcome = run(job);
        QCOMPARE(ReadAll(m_source), QByteArray("source"));
        if (!refused) {
            QCOMPARE(outcome, SplitJob::Outcome::Completed);
            return;
        }
        QCOMPARE(failure->number, 8);
        QCOMPARE(failure->caption, QString("Invalid Output File"));
        QCOMPARE(failure->message, QString("The output file \"%1\" is the source video itself or a link to it. "
                                           "Please specify another output path.").arg(at));
        QCOMPARE(outcome, SplitJob::Outcome::Refused);
        QCOMPARE(job.FailureReason(), failure->message);
        QVERIFY(m_fake->Runs().isEmpty()); // refused before anything ran
    }

    void whatStandsAtTheOutputName_data()
    {
        QTest::addColumn<QString>("standing");
        QTest::addColumn<bool>("replace");
        for (const char* s : {"nothing", "file", "link", "dangling link"}) {
            QTest::addRow("%s, replaced", s) << s << true;
            QTest::addRow("%s, skipped", s) << s << false;
        }
    }
    void whatStandsAtTheOutputName()
    {
        QFETCH(QString, standing);
        QFETCH(bool, replace);
        const QString output = out("clip_Clip1.mp4");
        const QString elsewhere = m_dir->path() + "/elsewhere.mp4";
        if (standing == "file") {
            Write(output, "old");
            QCOMPARE(::chmod(QFile::encodeName(output), 0640), 0);
        } else if (standing != "nothing") {
            QVERIFY(QFile::link(elsewhere, output));
            if (standing == "link")
                Write(elsewhere, "keep");
        }
        SplitJob job(order(0));
        int asked = 0;
        QCOMPARE(run(job, replace ? SplitJob::Overwrite::Replace : SplitJob::Overwrite::Skip, &asked),
                 SplitJob::Outcome::Completed);
        QCOMPARE(asked, standing == "nothing" ? 0 : 1);
        const QFileInfo now(output);
        if (replace || standing == "nothing") {
            // A link is replaced itself, never written through.
            QVERIFY(!now.isSymLink());
            QCOMPARE(ReadAll(output), QByteArray("fake output of run 1\n"));
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(output), &st), 0);
            if (standing == "file") // the replaced file's permissions stay
                QCOMPARE(st.st_mode & 0777, mode_t(0640));
        } else {
            QCOMPARE(now.isSymLink(), standing.contains("link"));
            if (standing == "file")
                QCOMPARE(ReadAll(output), QByteArray("old"));
            QVERIFY(m_fake->Runs().isEmpty());
        }
        QCOMPARE(ReadAll(elsewhere), QByteArray(standing == "link" ? "keep" : "<missing>"));
    }

    void leftoversOfAKilledRunAreRemoved()
    {
        const QString stale = out(".clip_Clip1.vtpart-abc123.mp4");
        const QString unrelated = out(".other_Clip1.vtpart-abc123.mp4");
        Write(stale, "partial");
        Write(unrelated, "partial");
        PartialOutput held(out("clip_Clip2.mp4")); // another job's, still running
        QVERIFY(held.Create(nullptr));
        SplitJob job(order(0));
        QCOMPARE(run(job), SplitJob::Outcome::Completed);
        QVERIFY(!QFile::exists(stale));
        QVERIFY(QFile::exists(unrelated));
        QVERIFY(QFile::exists(held.TempPath()));
    }

    void temporaryNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "holiday_Clip1.mp4";
        QTest::newRow("no extension") << "holiday_Clip1";
        QTest::newRow("longest name") << QString(122, QChar(0xe9)) + "_Clip1.mp4"; // 254 bytes
    }
    void temporaryNames()
    {
        QFETCH(QString, name);
        const QString final = out(name);
        PartialOutput part(final);
        QString error;
        QVERIFY2(part.Create(&error), qPrintable(error));
        const QFileInfo temp(part.TempPath());
        QCOMPARE(temp.absolutePath(), QFileInfo(final).absolutePath());
        QVERIFY(temp.fileName().startsWith('.'));
        QVERIFY(temp.fileName().contains(".vtpart-"));
        if (name.contains('.')) // the real extension last, for ffmpeg to pick the container by
            QVERIFY(temp.fileName().endsWith("." + QFileInfo(final).suffix()));
        QVERIFY(QFile::encodeName(temp.fileName()).size() <= 255);
        QVERIFY(part.IsEmpty());
        const mode_t mask = ::umask(0);
        ::umask(mask);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(part.TempPath()), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0666 & ~mask);

        // A name taken since the job looked is not replaced without leave.
        Write(final, "appeared");
        QVERIFY(!part.Commit(false, &error));
        QVERIFY(error.startsWith(final));
        QCOMPARE(ReadAll(final), QByteArray("appeared"));
        QVERIFY(!QFile::exists(temp.filePath()));
    }
};

QTEST_GUILESS_MAIN(SplitRunnerTest)
#include "split_runner.moc"
