// Split points and section modes in the window: X sets and takes away a point at the frame
// shown, the track bar draws them, Split cuts at them (the stand-in encoder gets one run per
// section, at the points), Ctrl+J puts the same job into the queue; a value that is no size
// is refused with its message.
#include "split_support.h"

#include "preview/DSTrackBar.h"
#include "preview/VideoWindow.h"
#include "queue/QueueForm.h"
#include "split/SectionModeRow.h"

#include <QtTest/QtTest>

class AppSectionsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_media;
    QTemporaryDir m_out;
    QString m_clip; // 4 s at 30 frames a second
    std::unique_ptr<TempAppDir> m_app;
    std::unique_ptr<FormsFixture> m_forms;
    std::unique_ptr<MessageLog> m_log;
    std::unique_ptr<FakeEncoder> m_fake;

    static bool FrameAt(double seconds)
    {
        QElapsedTimer t;
        t.start();
        while (qAbs(MainForm->FilterGraph->CurrentFrameTime() - seconds) > 2e-6 && t.elapsed() < 30000)
            QTest::qWait(10);
        return qAbs(MainForm->FilterGraph->CurrentFrameTime() - seconds) <= 2e-6;
    }
    static void PointAt(double seconds)
    {
        MainForm->FilterGraph->SeekExact(seconds);
        QVERIFY(FrameAt(seconds));
        QTest::keyClick(MainForm, Qt::Key_X);
    }

private slots:
    void initTestCase()
    {
        m_clip = m_media.filePath("clip.mp4");
        QVERIFY(MakeClip(m_clip, 4, "160x120", 30));
    }
    void init()
    {
        m_app = std::make_unique<TempAppDir>();
        m_forms = std::make_unique<FormsFixture>(m_app->path());
        m_log = std::make_unique<MessageLog>();
        m_fake = std::make_unique<FakeEncoder>();
        MainForm->show();
        MainForm->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(MainForm));
    }
    void cleanup()
    {
        m_forms.reset();
        m_fake.reset();
        m_log.reset();
        m_app.reset();
    }

    void splitPointsCutTheRange()
    {
        QVERIFY(PrepareJob(m_clip, "00:00:00", "00:00:04", 0, m_out.path()));
        MainForm->sbtnPausePreviewClick();
        MainForm->VideoWindow->setFocus();
        PointAt(1.0);
        PointAt(2.5);
        PointAt(3.0);
        PointAt(3.0); // again at a point: taken away
        const QList<double> points{1.0, 2.5};
        QCOMPARE(MainForm->SectionModes->Points(), points);
        QCOMPARE(MainForm->tkbProgress->SplitPoints(), points);

        MainForm->SectionModes->rdbSections->setChecked(true);
        MainForm->SectionModes->cmbSectionMode->setCurrentIndex(3); // split points
        MainForm->EncoderPath = FakeEncoder::Program();
        PressStart();
        QCOMPARE(m_log->lastCaption(), QString("Completed"));
        QStringList starts;
        for (const FakeRun& r : m_fake->Runs())
            starts << r.args.value(r.args.indexOf("-ss") + 1);
        QCOMPARE(starts, (QStringList{"0", "1", "2.5"}));
        for (int i = 1; i <= 3; ++i)
            QVERIFY(QFile::exists(m_out.filePath(QStringLiteral("clip_Clip%1.mp4").arg(i))));

        // The same job into the queue: its range, its points, the profile as it stands.
        QTest::keyClick(MainForm, Qt::Key_J, Qt::ControlModifier);
        QCOMPARE(QueueForm->Queue().Size(), 1);
        const QueueJob& job = QueueForm->Queue().Jobs().first();
        QCOMPARE(job.sourcePath, m_clip);
        QCOMPARE(job.start.value_or(-1), 0.0);
        QCOMPARE(job.end.value_or(-1), 4.0);
        QCOMPARE(int(job.sections.mode), int(SectionMode::Points));
        QCOMPARE(job.sections.points, points);
        QCOMPARE(job.profileName, MainForm->cmbProfile->currentText());
        QVERIFY(!job.profileSwitches.isEmpty());
    }

    void valuesThatAreNoSizeOrLength_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        QTest::newRow("size") << 1 << "lots" << "Please specify a valid size limit, such as 25M or 4G-1.";
        QTest::newRow("length") << 0 << "5 minutes" << "Please specify a valid section length (HH:MM:SS).";
        QTest::newRow("no split point") << 3 << "" << "Please mark a split point inside the range (X on the timeline).";
    }
    void valuesThatAreNoSizeOrLength()
    {
        QFETCH(int, mode);
        QFETCH(QString, value);
        QFETCH(QString, message);
        QVERIFY(PrepareJob(m_clip, "00:00:00", "00:00:04", 0, m_out.path()));
        MainForm->EncoderPath = FakeEncoder::Program();
        MainForm->SectionModes->cmbSectionMode->setCurrentIndex(mode);
        MainForm->SectionModes->rdbSections->setChecked(true);
        if (mode != 3)
            MainForm->SectionModes->edtSectionValue->setText(value);
        PressStart();
        QCOMPARE(m_log->lastCaption(), QString("Invalid Section"));
        QCOMPARE(m_log->lastText(), message);
        QVERIFY(m_fake->Runs().isEmpty());
    }
};

QTEST_MAIN(AppSectionsTest)
#include "app_sections.moc"
