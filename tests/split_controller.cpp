// The job controller with the stand-in encoder: a job held for a question cannot end behind
// it and Yes stops it, held time and question time are not worked time, and a finished
// job reports full bars and nothing remaining.
#include "split_fake.h"

#include "split/CommandLine.h"
#include "split/EncoderRun.h"
#include "split/JobController.h"

#include <QSignalSpy>
#include <QtTest/QtTest>
#include <memory>

class SplitControllerTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeEncoder> m_fake;
    QString m_source;

    QString out(const QString& name = QString()) const { return m_dir->path() + "/out/" + name; }
    SplitJobOrder order(int sections) const
    {
        return SplitJobOrder{m_source, MakeJobPlan(0, 40, sections > 1, sections, m_source, out(), ".mp4"),
                             " -c:v libx264", FakeEncoder::Program()};
    }
    // Waits until the running section's encoder has been read from `chunks` times.
    static bool WaitForChunks(JobController& c, int chunks)
    {
        return QTest::qWaitFor([&] {
            const EncoderRun* run = c.Job() ? c.Job()->CurrentRun() : nullptr;
            return run && run->ChunksRead() >= chunks;
        }, 60000);
    }
    static QStringList Written(const QString& folder)
    {
        return QDir(folder).entryList(QDir::Files);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_fake = std::make_unique<FakeEncoder>();
        QVERIFY(QDir(m_dir->path()).mkpath("src") && QDir(m_dir->path()).mkpath("out"));
        m_source = m_dir->path() + "/src/clip.mp4";
        QFile f(m_source);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("source");
    }
    void cleanup()
    {
        m_fake.reset();
        m_dir.reset();
    }

    // The last section's encoder is let go while the job is held for the question; it
    // must not finish, whatever the answer then is.
    void heldJobCannotEndBehindTheQuestion_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("Yes stops it") << true;
        QTest::newRow("No lets it finish") << false;
    }
    void heldJobCannotEndBehindTheQuestion()
    {
        QFETCH(bool, yes);
        m_fake->SetScript("out time=1.00 \\n\nwait go\noutput\nexit 0\n");
        JobController c;
        QSignalSpy ended(&c, &JobController::ended);
        QVERIFY(c.Start(order(1), true, {}));
        QVERIFY(WaitForChunks(c, 1));
        const QList<FakeRun> runs = m_fake->Runs();
        QCOMPARE(runs.size(), 1);

        c.Pause(); // the question opens
        QCOMPARE(c.CurrentState(), JobController::State::Paused);
        m_fake->Go("go"); // the encoder would now write its file and end
        QTest::qWait(700);
        QCOMPARE(ended.size(), 0);
        QCOMPARE(c.CurrentState(), JobController::State::Paused);
        QVERIFY(Written(out()).isEmpty());

        if (yes) {
            c.Cancel();
            QCOMPARE(ended.size(), 1); // before Cancel returned
            QCOMPARE(ended[0][0].value<SplitJob::Outcome>(), SplitJob::Outcome::Cancelled);
            QVERIFY(Written(out()).isEmpty()); // nor a partial file
            QVERIFY(!ProcessAlive(runs[0].pid));
        } else {
            c.Resume();
            QVERIFY(ended.wait(60000));
            QCOMPARE(ended[0][0].value<SplitJob::Outcome>(), SplitJob::Outcome::Completed);
            QCOMPARE(Written(out()).size(), 1);
        }
        QCOMPARE(c.CurrentState(), JobController::State::Idle);
    }

    // A job held between two sections (the first one done while the question was open)
    // starts no next section until it is let go.
    void heldJobStartsNoNextSection()
    {
        m_fake->SetScript("out time=1.00 \\n\nwait go\noutput\nexit 0\n");
        JobController c;
        QSignalSpy ended(&c, &JobController::ended);
        QVERIFY(c.Start(order(2), true, {}));
        QVERIFY(WaitForChunks(c, 1));
        c.Pause();
        m_fake->Go("go");
        QTest::qWait(700);
        QCOMPARE(m_fake->Runs().size(), 1);
        c.Resume();
        QVERIFY(ended.wait(60000));
        QCOMPARE(ended[0][0].value<SplitJob::Outcome>(), SplitJob::Outcome::Completed);
        QCOMPARE(m_fake->Runs().size(), 2);
    }

    // Seconds pass (the window's timer ticks) while the job is held and while the
    // overwrite question is open: neither counts as worked time.
    void onlyWorkingTimeIsCounted()
    {
        m_fake->SetScript("out time=10.00 \\n\nwait go\noutput\nexit 0\n");
        QFile taken(out("clip_Clip1.mp4"));
        QVERIFY(taken.open(QIODevice::WriteOnly));
        taken.close();
        JobController c;
        QSignalSpy clock(&c, &JobController::clock);
        QSignalSpy ended(&c, &JobController::ended);
        int asked = 0;
        QVERIFY(c.Start(order(2), false, [&](const JobSection&) {
            ++asked;
            for (int k = 0; k < 600; ++k) // ten minutes of thinking
                c.Tick();
            return true;
        }));
        QVERIFY(WaitForChunks(c, 1));
        QCOMPARE(asked, 1);
        QCOMPARE(c.Job()->Elapsed(), 0);
        c.Tick();
        c.Tick();
        c.Pause();
        for (int k = 0; k < 100; ++k)
            c.Tick();
        c.Resume();
        c.Tick();
        QCOMPARE(c.Job()->Elapsed(), 3);
        // 3 s for a quarter of the job: 9 s left, not hours.
        QCOMPARE(clock.last()[0].toLongLong(), 3);
        QCOMPARE(clock.last()[1].toLongLong(), 9);
        m_fake->Go("go");
        QVERIFY(ended.wait(60000));
    }

    // The encoder's last report of a section may be well short of its end (a fast copy):
    // the finished job still shows full bars and nothing remaining.
    void finishedJobShowsTheFinishedState()
    {
        m_fake->SetScript("out time=1.00 \\n\noutput\nexit 0\n");
        JobController c;
        QSignalSpy progress(&c, &JobController::progress);
        QSignalSpy clock(&c, &JobController::clock);
        QSignalSpy ended(&c, &JobController::ended);
        QVERIFY(c.Start(order(3), true, {}));
        QVERIFY(ended.wait(60000));
        QCOMPARE(ended[0][0].value<SplitJob::Outcome>(), SplitJob::Outcome::Completed);
        QCOMPARE(progress.last(), (QList<QVariant>{100, 100}));
        QCOMPARE(clock.last()[1].toLongLong(), 0);
        QCOMPARE(clock.last()[0].toLongLong(), c.Job()->Elapsed());
    }

    // A program that cannot be run is reported as such, without the window having waited.
    void missingEncoder()
    {
        SplitJobOrder o = order(1);
        o.encoderPath = m_dir->path() + "/no-such-encoder";
        JobController c;
        QSignalSpy ended(&c, &JobController::ended);
        QVERIFY(c.Start(o, true, {}));
        QVERIFY(ended.wait(60000));
        QCOMPARE(ended[0][0].value<SplitJob::Outcome>(), SplitJob::Outcome::EncoderMissing);
        QVERIFY(Written(out()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(SplitControllerTest)
#include "split_controller.moc"
