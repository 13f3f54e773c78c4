// Whole jobs through the real encoder program and ffmpeg, checked with ffprobe.
#include "split_support.h"

#include <QLabel>
#include <QProgressBar>
#include <memory>

class SplitEndToEndTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_media;
    QString m_clip; // 9 s, 320x240, H.264 + AAC
    std::unique_ptr<TempAppDir> m_app;
    std::unique_ptr<FormsFixture> m_forms;
    std::unique_ptr<MessageLog> m_msgs;
    std::unique_ptr<ShellLog> m_shell;
    std::unique_ptr<QTemporaryDir> m_out;

    QString outFile(int i) const { return m_out->path() + QString("/clip_Clip%1.mp4").arg(i); }

private slots:
    void initTestCase()
    {
        m_clip = m_media.path() + "/clip.mp4";
        QVERIFY(MakeClip(m_clip, 9));
        QVERIFY(QFile::exists(BuiltAppDir() + "wmaspi.dll"));
    }

    void init()
    {
        m_app = std::make_unique<TempAppDir>();
        // Paced to real time, so a section is still running when it is cancelled.
        m_app->write("Profiles/Paced.apf", "[Main]\nType=mp4\nPara=3\n0=Codec\n1=Pace\n2=Speed\n"
                                           "[Codec]\nSort=1\nList=0\nReadOnly=1\nValue=libx264\ncmd=-c:v\n"
                                           "[Pace]\nSort=3\nList=0\nReadOnly=1\nValue=realtime\ncmd=-vf\n"
                                           "[Speed]\nSort=3\nList=0\nReadOnly=1\nValue=ultrafast\ncmd=-preset\n");
        m_app->write("Profiles/Broken.apf", "[Main]\nType=mp4\nPara=1\n0=Codec\n"
                                            "[Codec]\nSort=1\nList=0\nReadOnly=1\nValue=no_such_codec\ncmd=-c:v\n");
        m_forms = std::make_unique<FormsFixture>(m_app->path());
        m_msgs = std::make_unique<MessageLog>();
        m_shell = std::make_unique<ShellLog>();
        m_out = std::make_unique<QTemporaryDir>();
        MainForm->show();
        MainForm->EncoderPath = BuiltAppDir() + "wmaspi.dll";
    }

    void cleanup()
    {
        m_forms.reset();
        m_msgs.reset();
        m_shell.reset();
        m_out.reset();
        m_app.reset();
    }

    void threeEqualSectionsReencoded()
    {
        QVERIFY(SelectProfile("MP4 - H.264"));
        QVERIFY(PrepareJob(m_clip, "00:00:00", "00:00:09", 3, m_out->path()));
        PressStart();
        QCOMPARE(m_msgs->lastText(), QString("Splitting is completed successfully.\n\n3 files were written to %1.")
                                         .arg(MainForm->edtOutputDir->text()));
        QCOMPARE(m_msgs->shown.size(), 1);
        for (int i = 1; i <= 3; ++i) {
            QVERIFY2(QFile::exists(outFile(i)), qPrintable(outFile(i)));
            const double d = ProbeDuration(outFile(i));
            QVERIFY2(qAbs(d - 3.0) < 0.3, qPrintable(QString("section %1 lasts %2 s").arg(i).arg(d)));
            const QStringList streams = ProbeStreams(outFile(i));
            QVERIFY2(streams.contains("video=h264") && streams.contains("audio=aac"), qPrintable(streams.join(' ')));
        }
        QVERIFY(!QFile::exists(outFile(4)));
        // The last section's final progress stays shown.
        QVERIFY2(MainForm->labCurProgress->text().chopped(1).toInt() >= 90, qPrintable(MainForm->labCurProgress->text()));
    }

    void markedRangeOut()
    {
        QVERIFY(SelectProfile("MP4 - H.264"));
        QVERIFY(PrepareJob(m_clip, "00:00:02", "00:00:07", 0, m_out->path()));
        PressStart();
        QCOMPARE(m_msgs->lastText(), QString("Splitting is completed successfully.\n\n1 file was written to %1.")
                                         .arg(MainForm->edtOutputDir->text()));
        const double d = ProbeDuration(outFile(1));
        QVERIFY2(qAbs(d - 5.0) < 0.3, qPrintable(QString("the range lasts %1 s").arg(d)));
        QVERIFY(!QFile::exists(outFile(2)));
    }

    void cancelLeavesNoEncoderAndNoFfmpeg()
    {
        QVERIFY(SelectProfile("Paced"));
        QVERIFY(PrepareJob(m_clip, "00:00:00", "00:00:09", 0, m_out->path()));
        qint64 encoder = 0;
        QList<qint64> ffmpeg;
        JobDriver d;
        d.Then([&] {
                   if (!MainForm->CurrentRun || MainForm->CurrentRun->ChunksRead() < 1)
                       return false;
                   encoder = MainForm->CurrentRun->ProcessId();
                   ffmpeg = ChildrenOf(encoder);
                   return !ffmpeg.isEmpty();
               },
               [] { MainForm->imgCancelClick(); });
        d.Start();
        PressStart();
        d.Stop();
        QVERIFY(!d.TimedOut());
        QCOMPARE(m_msgs->lastCaption(), QString("Query"));
        QCOMPARE(MainForm->JobState(), JobController::State::Idle);
        QVERIFY(!ProcessAlive(encoder));
        for (qint64 p : ffmpeg)
            QTRY_VERIFY_WITH_TIMEOUT(!ProcessAlive(p), 10000);
    }

    void ffmpegFailureIsReported()
    {
        QVERIFY(SelectProfile("Broken"));
        QVERIFY(PrepareJob(m_clip, "00:00:00", "00:00:09", 2, m_out->path()));
        PressStart();
        QCOMPARE(m_msgs->shown.size(), 1);
        const QString text = m_msgs->lastText();
        QVERIFY2(text.contains("Section 1") && text.contains("no_such_codec"), qPrintable(text));
        QCOMPARE(MainForm->JobState(), JobController::State::Idle);
        QVERIFY(!MainForm->panProgress->isVisible());
    }
};

VT_TEST_MAIN(SplitEndToEndTest)
#include "split_endtoend.moc"
