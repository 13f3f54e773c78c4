// Split jobs through the main window with a stand-in encoder: the checks, the overwrite
// question, the command line each section gets, progress, cancel, close and failures.
#include "split_support.h"

#include "about/ProgramInfo.h"
#include "split/CommandLine.h"

#include "preview/DSTrackBar.h"

#include <QLabel>
#include <QProgressBar>
#include <QToolButton>
#include <memory>
#include <unistd.h>

class SplitJobTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_media;
    QString m_clip; // 12 s
    std::unique_ptr<TempAppDir> m_app;
    std::unique_ptr<FormsFixture> m_forms;
    std::unique_ptr<MessageLog> m_msgs;
    std::unique_ptr<ShellLog> m_shell;
    std::unique_ptr<FakeEncoder> m_fake;
    std::unique_ptr<QTemporaryDir> m_out;

    QString outDir() const { return m_out->path() + "/"; }
    QStringList captions() const
    {
        QStringList out;
        for (const MessageRequest& r : m_msgs->shown)
            out << r.caption;
        return out;
    }
    bool prepare(const QString& start, const QString& end, int sections)
    {
        return PrepareJob(m_clip, start, end, sections, m_out->path());
    }
    // What is being split: the first line of labProcessing; the second says where the
    // section lies in the source.
    static QString processing() { return MainForm->labProcessing->text().section('\n', 0, 0); }
    static QString processingTimes() { return MainForm->labProcessing->text().section('\n', 1); }
    void expectIdle()
    {
        QCOMPARE(MainForm->JobState(), JobController::State::Idle);
        QVERIFY(!MainForm->panProgress->isVisible());
        QVERIFY(MainForm->imgStart->isVisible());
        QVERIFY(!MainForm->imgCancel->isVisible());
        QVERIFY(MainForm->sbtnOpen->isEnabled());
        QVERIFY(MainForm->sbtnSettings->isEnabled());
        QVERIFY(!MainForm->tmrPreview->isActive());
        QVERIFY(MainForm->CurrentRun == nullptr);
    }

private slots:
    void initTestCase()
    {
        m_clip = m_media.path() + "/clip.mp4";
        QVERIFY(MakeClip(m_clip, 12));
    }

    void init()
    {
        m_app = std::make_unique<TempAppDir>();
        m_forms = std::make_unique<FormsFixture>(m_app->path());
        m_msgs = std::make_unique<MessageLog>();
        m_shell = std::make_unique<ShellLog>();
        m_fake = std::make_unique<FakeEncoder>();
        m_out = std::make_unique<QTemporaryDir>();
        MainForm->show();
        QVERIFY(SelectProfile("MP4 - H.264"));
        MainForm->EncoderPath = FakeEncoder::Program();
    }

    void cleanup()
    {
        m_forms.reset();
        m_msgs.reset();
        m_shell.reset();
        m_fake.reset();
        m_out.reset();
        m_app.reset();
    }

    void checksInOrder()
    {
        QVERIFY(prepare("00:00:02", "00:00:08", 2));
        struct Case {
            std::function<void()> spoil;
            std::function<void()> mend;
            QString caption, message;
            QWidget* focus;
        };
        const QString missingProfile = "No Such Profile";
        const QString sourceMessage =
            "The output file \"%1\" is the source video itself or a link to it. Please specify another output path.";
        const QList<Case> cases = {
            {[] { MainForm->edtSource->setText("/no/such/video.mp4"); },
             [this] { MainForm->edtSource->setText(m_clip); }, "Invalid File",
             "Please specify a valid input video file.", MainForm->edtSource},
            {[] { MainForm->edtStart->setText("00:00:30"); }, [] { MainForm->edtStart->setText("00:00:02"); },
             "Invalid Start Time", "Please varify the Start Time you selected.", nullptr},
            {[] { MainForm->edtStart->setText("two"); }, [] { MainForm->edtStart->setText("00:00:02"); },
             "Invalid Start Time", "Please varify the Start Time you selected.", nullptr},
            {[] { MainForm->edtEnd->setText("00:00:00"); }, [] { MainForm->edtEnd->setText("00:00:08"); },
             "Invalid End Time", "Please varify the End Time you selected.", nullptr},
            {[] { MainForm->edtEnd->setText("00:00:01"); }, [] { MainForm->edtEnd->setText("00:00:08"); },
             "Invalid Time", "The End Time should be later than the Start Time.", nullptr},
            {[] { MainForm->edtSectionQty->setText(""); }, [] { MainForm->edtSectionQty->setText("2"); },
             "Invalid Section", "Please specify a valid section quantity.", MainForm->edtSectionQty},
            {[&] {
                 MainForm->cmbProfile->addItem(missingProfile);
                 MainForm->cmbProfile->setCurrentIndex(MainForm->cmbProfile->count() - 1);
             },
             [] { QVERIFY(SelectProfile("MP4 - H.264")); }, "Invalid Output Path",
             "Please select a valid output profile.", MainForm->cmbProfile},
            {[] { MainForm->edtOutputDir->setText("/no/such/folder"); },
             [this] { MainForm->edtOutputDir->setText(m_out->path()); }, "Invalid Output Path",
             "Please specify a valid output path.", MainForm->edtOutputDir},
            // An output name that is the source, by a hard or a symbolic link.
            {[this] { QVERIFY(::link(QFile::encodeName(m_clip), QFile::encodeName(outDir() + "clip_Clip2.mp4")) == 0); },
             [this] { QFile::remove(outDir() + "clip_Clip2.mp4"); }, "Invalid Output File",
             sourceMessage.arg(outDir() + "clip_Clip2.mp4"), MainForm->edtOutputDir},
            {[this] { QVERIFY(QFile::link(m_clip, outDir() + "clip_Clip1.mp4")); },
             [this] { QFile::remove(outDir() + "clip_Clip1.mp4"); }, "Invalid Output File",
             sourceMessage.arg(outDir() + "clip_Clip1.mp4"), MainForm->edtOutputDir},
        };
        for (const Case& c : cases) {
            m_msgs->clear();
            MainForm->edtStart->setFocus();
            c.spoil();
            PressStart();
            QCOMPARE(m_msgs->shown.size(), 1);
            const MessageRequest& r = m_msgs->shown.first();
            QCOMPARE(r.caption, c.caption);
            QCOMPARE(r.text, c.message);
            QCOMPARE(r.icon, MsgIcon::Information);
            QCOMPARE(r.buttons, MsgButtons::Ok);
            QCOMPARE(r.owner, static_cast<QWidget*>(MainForm));
            QCOMPARE(MainForm->focusWidget(), c.focus ? c.focus : static_cast<QWidget*>(MainForm->edtStart));
            expectIdle();
            c.mend();
        }
        QVERIFY(m_fake->Runs().isEmpty());
        // The one-section mode never reads the quantity.
        MainForm->edtSectionQty->setText("");
        MainForm->rdbStartEnd->setChecked(true);
        m_msgs->clear();
        PressStart();
        QCOMPARE(m_msgs->lastText(), QString("Splitting is completed successfully.\n\n1 file was written to %1.")
                                         .arg(MainForm->edtOutputDir->text()));
        QCOMPARE(m_fake->Runs().size(), 1);
    }

    void nothingLoadedInThePlayer()
    {
        // The source typed in, never opened: the player knows no length, so no start fits.
        MainForm->edtSource->setText(m_clip);
        MainForm->edtStart->setText("00:00:00");
        MainForm->edtEnd->setText("00:00:05");
        MainForm->edtOutputDir->setText(m_out->path());
        PressStart();
        QCOMPARE(captions(), QStringList{"Invalid Start Time"});
        QVERIFY(m_fake->Runs().isEmpty());
    }

    void shortValueListStopsThePress()
    {
        QVERIFY(prepare("00:00:00", "00:00:10", 2));
        m_app->write("Profiles/Short.apf", "[Main]\nType=mkv\nPara=1\n0=Codec\n"
                                           "[Codec]\nSort=1\nCaption=A,B,\nValue=a,\nIndex=1\ncmd=-c:v\n");
        MainForm->cmbProfile->addItem("Short");
        MainForm->cmbProfile->setCurrentIndex(MainForm->cmbProfile->count() - 1);
        MainForm->cmbProfileChange(); // the grid now shows "B", whose value item is missing
        PressStart();
        QCOMPARE(m_msgs->shown.size(), 1);
        QCOMPARE(m_msgs->shown.first().icon, MsgIcon::Error);
        QCOMPARE(m_msgs->lastText(), QString("List index out of bounds (1)")); // ")" sorts before "."
        QVERIFY(m_fake->Runs().isEmpty());
        expectIdle();
    }

    void quantityOfZeroGoesStraightToCompletion()
    {
        QVERIFY(prepare("00:00:00", "00:00:10", 0));
        MainForm->rdbEqual->setChecked(true);
        MainForm->edtSectionQty->setText("0");
        PressStart();
        QCOMPARE(captions(), QStringList{"Completed"});
        QVERIFY(m_fake->Runs().isEmpty());
        expectIdle();
    }

    void sectionsGetTheirCommandLines()
    {
        QVERIFY(prepare("00:00:01", "00:00:11", 3));
        MainForm->edtOutputDir->setText(m_out->path()); // no trailing separator
        PressStart();
        const QList<FakeRun> runs = m_fake->Runs();
        QCOMPARE(runs.size(), 3);
        // Re-encoded sections start on the clip's frames (25 per second), given in full
        // precision: the first frame at or after 1, 4.333..., 7.666...; each ends less than
        // half a frame before the next one starts.
        const QList<double> starts{1.0, 4.36, 7.68, 11.0};
        for (int i = 0; i < 3; ++i) {
            const QStringList& a = runs[i].args;
            QCOMPARE(a.mid(0, 5), QStringList({"-y", "-i", m_clip, "-ss", FormatSeconds(starts[i])}));
            QCOMPARE(a.at(5), QString("-t"));
            const double shortOfNext = starts[i + 1] - starts[i] - a.at(6).toDouble();
            QVERIFY2(shortOfNext > 0 && shortOfNext < 0.02, qPrintable(a.at(6)));
            // Written under a temporary name, then put in place.
            QVERIFY2(IsPartOf(a.last(), outDir() + QString("clip_Clip%1.mp4").arg(i + 1)), qPrintable(a.last()));
            QVERIFY(a.contains("libx264"));
            QVERIFY(QFile::exists(outDir() + QString("clip_Clip%1.mp4").arg(i + 1)));
        }
        QCOMPARE(MainForm->edtOutputDir->text(), m_out->path()); // the field is left as it was
        // The shown command line of the last section splits into what the encoder got.
        QCOMPARE(SplitCommandLine(MainForm->CurrentCommandLine), runs[2].args);
        QCOMPARE(processingTimes(), QString("00:00:07.680 to 00:00:11.000"));
        QCOMPARE(captions(), QStringList{"Completed"});
        expectIdle();
    }

    void rangePastTheEndOfTheSource()
    {
        // 12 s of source, 10 s to 110 s in 3: the first section ends with the source, the
        // others hold nothing and are not written; the completion says so.
        QVERIFY(prepare("00:00:10", "00:01:50", 3));
        PressStart();
        const QList<FakeRun> runs = m_fake->Runs();
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs[0].args.mid(3, 4), QStringList({"-ss", "10", "-t", "2"}));
        QVERIFY(QFile::exists(outDir() + "clip_Clip1.mp4"));
        QVERIFY(!QFile::exists(outDir() + "clip_Clip2.mp4") && !QFile::exists(outDir() + "clip_Clip3.mp4"));
        QCOMPARE(captions(), QStringList{"Completed"});
        QCOMPARE(m_msgs->lastText(), QString("Splitting is completed successfully.\n\n"
                                             "1 file was written to %1.\n\n"
                                             "The source ends at 00:00:12.000, before the marked end.\n"
                                             "Sections 2 and 3 were not written: the source ends before them.")
                                         .arg(MainForm->edtOutputDir->text()));
        expectIdle();
    }

    void oddPathsReachTheEncoderWhole()
    {
        const QString odd = m_media.path() + "/my \"odd\" $clip 'x' & ;.mp4";
        QVERIFY(QFile::copy(m_clip, odd) || QFile::exists(odd));
        QVERIFY(PrepareJob(odd, "00:00:01", "00:00:03", 0, m_out->path()));
        PressStart();
        const QList<FakeRun> runs = m_fake->Runs();
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs[0].args.at(2), odd);
        QVERIFY(IsPartOf(runs[0].args.last(), outDir() + "my \"odd\" $clip 'x' & ;_Clip1.mp4"));
        QVERIFY(QFile::exists(outDir() + "my \"odd\" $clip 'x' & ;_Clip1.mp4"));
        QCOMPARE(processing(), QString("Splitting: my \"odd\" $clip 'x' & ;.mp4"));
        QCOMPARE(processingTimes(), QString("00:00:01.000 to 00:00:03.000"));
    }

    void overwriteQuestionInEqualSections()
    {
        QVERIFY(prepare("00:00:00", "00:00:09", 3));
        SettingForm->chkOverwrite->setChecked(false);
        for (int i = 1; i <= 3; ++i) {
            QFile f(outDir() + QString("clip_Clip%1.mp4").arg(i));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("old");
        }
        m_msgs->answers = {MsgResult::Yes, MsgResult::No, MsgResult::Yes};
        PressStart();
        QCOMPARE(captions(), QStringList({"Overwrite", "Overwrite", "Overwrite", "Completed"}));
        const MessageRequest& q = m_msgs->shown.first();
        QCOMPARE(q.text, QString("The output file is existent. Overwrite it?"));
        QCOMPARE(q.icon, MsgIcon::Question);
        QCOMPARE(q.buttons, MsgButtons::YesNo);
        QCOMPARE(q.owner, static_cast<QWidget*>(MainForm));
        const QList<FakeRun> runs = m_fake->Runs();
        QCOMPARE(runs.size(), 2);
        QVERIFY(IsPartOf(runs[0].args.last(), outDir() + "clip_Clip1.mp4"));
        QVERIFY(IsPartOf(runs[1].args.last(), outDir() + "clip_Clip3.mp4"));
        QFile second(outDir() + "clip_Clip2.mp4");
        QVERIFY(second.open(QIODevice::ReadOnly));
        QCOMPARE(second.readAll(), QByteArray("old"));

        // All skipped: still the completion action.
        m_msgs->clear();
        m_msgs->answers = {MsgResult::No, MsgResult::No, MsgResult::No};
        PressStart();
        QCOMPARE(captions(), QStringList({"Overwrite", "Overwrite", "Overwrite", "Completed"}));
        QCOMPARE(m_fake->Runs().size(), 2);

        // Ticked: replaced without a question.
        m_msgs->clear();
        SettingForm->chkOverwrite->setChecked(true);
        PressStart();
        QCOMPARE(captions(), QStringList{"Completed"});
        QCOMPARE(m_fake->Runs().size(), 5);
    }

    void overwriteNoEndsTheOneSectionJob()
    {
        QVERIFY(prepare("00:00:01", "00:00:04", 0));
        SettingForm->chkOverwrite->setChecked(false);
        QFile f(outDir() + "clip_Clip1.mp4");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        m_msgs->answers = {MsgResult::No};
        PressStart();
        QCOMPARE(captions(), QStringList{"Overwrite"});
        QVERIFY(m_fake->Runs().isEmpty());
        expectIdle();
        QVERIFY(!MainForm->tmrProcess->isActive());

        m_msgs->clear();
        m_msgs->answers = {MsgResult::Yes};
        PressStart();
        QCOMPARE(captions(), QStringList({"Overwrite", "Completed"}));
        QCOMPARE(m_fake->Runs().size(), 1);
    }

    void progressOfOneSection()
    {
        // One section of 40 s, the whole 12 s clip: the section ends with the source.
        QVERIFY(prepare("00:00:00", "00:00:40", 0));
        m_fake->SetScript("out frame=  1 time=3.00 bitrate=1\\n\nwait g1\n"
                          "out time=6.00 \\ntime=11.70 \\n\nwait g2\n"
                          "out time=11.40\nwait g3\n"
                          "out time=9.00 \\n\nwait g4\n"
                          "out time=4.50 \\n\nwait g5\n"
                          "out time=1000000000 \\n\nwait g6\n"
                          "out time=12.60 \\n\nwait g7\n"
                          "output\nexit 0\n");
        struct Seen {
            int current, total;
            QString curLabel, totalLabel;
        };
        QList<Seen> seen;
        int previous = 0;
        bool backwards = false;
        auto chunks = [](int n) {
            return [n] {
                return MainForm->CurrentRun && MainForm->CurrentRun->ChunksRead() == n
                       && !MainForm->CurrentRun->HasOutput();
            };
        };
        auto note = [&](const QString& go) {
            return [&, go] {
                seen.append({MainForm->pgbCurrent->value(), MainForm->pgbTotal->value(),
                             MainForm->labCurProgress->text(), MainForm->labTotalProgress->text()});
                m_fake->Go(go);
            };
        };
        JobDriver d;
        d.Watch([&] {
            const int v = MainForm->pgbCurrent->value();
            backwards = backwards || (v != 0 && v < previous);
            previous = v;
        });
        for (int k = 1; k <= 7; ++k)
            d.Then(chunks(k), note(QString("g%1").arg(k)));
        d.Start();
        PressStart();
        d.Stop();
        QVERIFY(!d.TimedOut());
        QCOMPARE(seen.size(), 7);
        QCOMPARE(seen[0].current, 25);       // 3.00 of 12 s
        QCOMPARE(seen[0].curLabel, QString("25%"));
        QCOMPARE(seen[0].total, 25);
        QCOMPARE(seen[0].totalLabel, QString("25%"));
        QCOMPARE(seen[1].current, 50);       // only the first of two lines
        QCOMPARE(seen[2].current, 50);       // no blank after the number: nothing
        QCOMPARE(seen[3].current, 75);       // so the next, smaller value still counts
        QCOMPARE(seen[4].current, 75);       // smaller: ignored
        QCOMPARE(seen[5].current, 75);       // out of range: ignored
        QCOMPARE(seen[6].current, 100);      // 105 clamped
        QCOMPARE(seen[6].curLabel, QString("100%"));
        QCOMPARE(seen[6].total, 100);
        QVERIFY(!backwards);
        // The ended section's bar stays as its label says, until the next section starts.
        QCOMPARE(MainForm->pgbCurrent->value(), 100);
        QCOMPARE(MainForm->labCurProgress->text(), QString("100%"));
        QCOMPARE(captions(), QStringList{"Completed"});
        QCOMPARE(processing(), QString("Splitting: clip.mp4"));
        QCOMPARE(processingTimes(), QString("00:00:00.000 to 00:00:12.000"));
    }

    void totalProgressOverSections()
    {
        QVERIFY(prepare("00:00:00", "00:00:12", 4)); // 3 s each
        m_fake->SetScript("=== 1\nout time=1.50 \\n\nwait s1\noutput\n=== 2\nout time=1.50 \\n\nwait s2\noutput\n"
                          "=== 3\noutput\n=== 4\noutput\n");
        QList<int> totals;
        QStringList labels;
        JobDriver d;
        for (int s = 1; s <= 2; ++s) {
            d.Then([s] { return MainForm->CurrentRun && MainForm->CurrentRun->ChunksRead() == 1
                                && processing() == QString("Splitting: Section %1").arg(s); },
                   [&, s] {
                       totals << MainForm->pgbTotal->value();
                       labels << MainForm->labTotalProgress->text();
                       m_fake->Go(QString("s%1").arg(s));
                   });
        }
        d.Start();
        PressStart();
        d.Stop();
        QVERIFY(!d.TimedOut());
        QCOMPARE(totals, QList<int>({12, 38})); // 12.5 and 37.5 to the even neighbour
        QCOMPARE(labels, QStringList({"12%", "38%"}));
        QCOMPARE(m_fake->Runs().size(), 4);
    }

    void barsAgreeWithTheirLabels()
    {
        // Steps of 1 % and less: QProgressBar by itself leaves such steps unpainted.
        QVERIFY(prepare("00:00:00", "00:00:12", 2)); // 6 s each: 0.06 s is 1 %
        m_fake->SetScript("=== 1\nout time=0.06 \\n\nwait a1\nout time=0.12 \\n\nwait a2\nout time=0.18 \\n\nwait a3\noutput\n"
                          "=== 2\nwait b0\nout time=0.06 \\n\nwait b1\noutput\n");
        struct PaintSpy : QObject {
            QHash<QObject*, int> painted;
            bool eventFilter(QObject* o, QEvent* e) override
            {
                if (e->type() == QEvent::Paint)
                    painted[o] = static_cast<QProgressBar*>(o)->value();
                return false;
            }
        } spy;
        MainForm->pgbCurrent->installEventFilter(&spy);
        MainForm->pgbTotal->installEventFilter(&spy);
        QStringList shown; // "painted/label" of both bars at each step
        auto look = [&] {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
            shown << QString("%1/%2 %3/%4")
                         .arg(spy.painted.value(MainForm->pgbCurrent, -1))
                         .arg(MainForm->labCurProgress->text())
                         .arg(spy.painted.value(MainForm->pgbTotal, -1))
                         .arg(MainForm->labTotalProgress->text());
        };
        auto at = [](int section, int chunks) {
            return [=] {
                return MainForm->CurrentRun && MainForm->CurrentRun->ChunksRead() == chunks
                       && !MainForm->CurrentRun->HasOutput()
                       && processing() == QString("Splitting: Section %1").arg(section);
            };
        };
        JobDriver d;
        for (const QString go : {"a1", "a2", "a3"})
            d.Then(at(1, go.mid(1).toInt()), [&, go] { look(); m_fake->Go(go); });
        d.Then(at(2, 0), [&] { look(); m_fake->Go("b0"); });
        d.Then(at(2, 1), [&] { look(); m_fake->Go("b1"); });
        d.Start();
        PressStart();
        d.Stop();
        QVERIFY(!d.TimedOut());
        look(); // after the job: finished, whatever the encoder's last report said
        QCOMPARE(shown, QStringList({"1/1% 0/0%", "2/2% 1/1%", "3/3% 2/2%", "0/0% 2/2%", "1/1% 50/50%", "100/100% 100/100%"}));
        QCOMPARE(captions(), QStringList{"Completed"});
    }

    void elapsedAndRemainingTime()
    {
        MainForm->LockForJob();
        QCOMPARE(MainForm->labElapsed->text(), QString());
        MainForm->pgbTotal->setValue(0);
        MainForm->tmrProcessTimer();
        QCOMPARE(MainForm->labElapsed->text(), QString("00:00:01"));
        QCOMPARE(MainForm->labRemaining->text(), QString("00:00:00"));
        MainForm->pgbTotal->setValue(25);
        for (int k = 2; k <= 30; ++k)
            MainForm->tmrProcessTimer();
        QCOMPARE(MainForm->ElapsedCounter, 30);
        QCOMPARE(MainForm->labElapsed->text(), QString("00:00:30"));
        QCOMPARE(MainForm->labRemaining->text(), QString("00:01:30"));
        MainForm->tmrProcess->stop();
        MainForm->UnlockAfterJob();
    }

    void jobLayout()
    {
        MainForm->LockForJob();
        QVERIFY(MainForm->panProgress->isVisible());
        QVERIFY(!MainForm->imgStart->isVisible());
        QVERIFY(MainForm->imgCancel->isVisible());
        QVERIFY(!MainForm->sbtnOpen->isEnabled());
        QVERIFY(!MainForm->sbtnSettings->isEnabled());
        QVERIFY(MainForm->sbtnAbout->isEnabled());
        QVERIFY(MainForm->sbtnHelp->isEnabled());
        QVERIFY(!MainForm->tkbProgress->isEnabled());
        for (QToolButton* w : {MainForm->sbtnPlayPreview, MainForm->sbtnPausePreview, MainForm->sbtnStopPreview,
                               MainForm->sbtnSelStart, MainForm->sbtnSelEnd, MainForm->sbtnErase})
            QVERIFY(!w->isEnabled());
        QVERIFY(MainForm->tmrPreview->isActive());
        QVERIFY(MainForm->tmrProcess->isActive());
        QCOMPARE(MainForm->labCurProgress->text(), QString("0%"));
        QCOMPARE(MainForm->labTotalProgress->text(), QString("0%"));
        MainForm->UnlockAfterJob();
        QCOMPARE(MainForm->JobState(), JobController::State::Idle);
        QVERIFY(MainForm->sbtnPlayPreview->isEnabled());
        QVERIFY(MainForm->imgStart->isVisible());
        QVERIFY(!MainForm->panProgress->isVisible());
        MainForm->tmrProcess->stop();
    }

    void cancelWhileTheEncoderIsSilent()
    {
        QVERIFY(prepare("00:00:00", "00:00:10", 2));
        // Prints once, starts a child as ffmpeg would, then says nothing more.
        m_fake->SetScript("child\nout time=1.00 \\n\nhang\n");
        FakeRun run;
        JobDriver d;
        d.Then([] { return MainForm->CurrentRun && MainForm->CurrentRun->ChunksRead() == 1; },
               [&] {
                   m_msgs->answers = {MsgResult::No}; // first thought better of it
                   MainForm->imgCancelClick();
               });
        d.Then([&] {
                   const auto runs = m_fake->Runs();
                   if (runs.isEmpty() || runs[0].childPid == 0)
                       return false;
                   run = runs[0];
                   // Timer ticks are served while the encoder says nothing.
                   return MainForm->JobState() == JobController::State::Running && MainForm->ElapsedCounter >= 2
                          && MainForm->labElapsed->text().startsWith("00:00:0");
               },
               [&] {
                   QVERIFY(ProcessAlive(run.pid));
                   QVERIFY(ProcessAlive(run.childPid));
                   m_msgs->answers = {MsgResult::Yes};
                   MainForm->imgCancelClick();
               });
        d.Start();
        PressStart();
        d.Stop();
        QVERIFY(!d.TimedOut());
        QCOMPARE(captions(), QStringList({"Query", "Query"}));
        QCOMPARE(m_msgs->shown.first().text, QString("Do you want to cancel the splitting?"));
        QCOMPARE(m_msgs->shown.first().icon, MsgIcon::Question);
        QCOMPARE(m_msgs->shown.first().buttons, MsgButtons::YesNo);
        QCOMPARE(m_fake->Runs().size(), 1); // the second section never started
        QVERIFY(PartsIn(m_out->path()).isEmpty()); // nor is its partial file left
        expectIdle();
        QVERIFY(!MainForm->tmrProcess->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!ProcessAlive(run.pid), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!ProcessAlive(run.childPid), 10000);

        // A new job can start at once.
        m_fake->SetScript(QString());
        m_msgs->clear();
        PressStart();
        QCOMPARE(captions(), QStringList{"Completed"});
    }

    void missingEncoder()
    {
        QVERIFY(prepare("00:00:00", "00:00:10", 2));
        MainForm->EncoderPath = m_app->path() + "wmaspi.dll";
        QVERIFY(!QFile::exists(MainForm->EncoderPath));
        PressStart();
        QCOMPARE(m_msgs->shown.size(), 1);
        QCOMPARE(m_msgs->lastText(), QString("Error. Please re-install ") + ProgramInfo().productName);
        QCOMPARE(m_msgs->lastText(), QString("Error. Please re-install Veltrane"));
        QCOMPARE(m_msgs->lastCaption(), QString("Veltrane"));
        QCOMPARE(m_msgs->shown.first().icon, MsgIcon::None);
        QCOMPARE(m_msgs->shown.first().buttons, MsgButtons::Ok);
        QCOMPARE(processing(), QString("Splitting: Section 1"));
        expectIdle();
        QVERIFY(!MainForm->tmrProcess->isActive());
    }

    void failingSectionIsReported()
    {
        QVERIFY(prepare("00:00:00", "00:00:09", 3));
        m_fake->SetScript("=== 1\noutput\nexit 0\n"
                          "=== 2\nout time=1.00 \\n\nerr [aac] Unsupported channel layout\\n\n"
                          "err Conversion failed!\\n\nout time=2.00 \\n\nexit 1\n");
        PressStart();
        QCOMPARE(m_fake->Runs().size(), 2); // nothing after the failed section
        QCOMPARE(m_msgs->shown.size(), 1);
        const QString text = m_msgs->lastText();
        QVERIFY2(text.contains("Section 2"), qPrintable(text));
        QVERIFY2(text.contains("Conversion failed!"), qPrintable(text));
        QCOMPARE(m_msgs->shown.first().icon, MsgIcon::Error);
        QVERIFY(!captions().contains("Completed"));
        QVERIFY(QFile::exists(outDir() + "clip_Clip1.mp4")); // earlier files stay
        QVERIFY(!QFile::exists(outDir() + "clip_Clip2.mp4"));
        QVERIFY(PartsIn(m_out->path()).isEmpty());
        expectIdle();
        QVERIFY(!MainForm->tmrProcess->isActive());
        QVERIFY(m_shell->opened.isEmpty());
    }

    void silentFailureIsReportedToo()
    {
        QVERIFY(prepare("00:00:00", "00:00:05", 0));
        m_fake->SetScript("exit 3\n");
        PressStart();
        QCOMPARE(m_msgs->shown.size(), 1);
        QVERIFY2(m_msgs->lastText().contains("Section 1"), qPrintable(m_msgs->lastText()));
        QVERIFY2(m_msgs->lastText().contains("3"), qPrintable(m_msgs->lastText()));
        expectIdle();
    }

    // The encoder finishes the last section while the user still reads the cancel (or
    // close) question: Yes wins, no success is reported, no completion action runs.
    void cancelQuestionWinsOverTheLastSection_data()
    {
        QTest::addColumn<bool>("closing");
        QTest::newRow("Cancel") << false;
        QTest::newRow("Close") << true;
    }
    void cancelQuestionWinsOverTheLastSection()
    {
        QFETCH(bool, closing);
        QVERIFY(prepare("00:00:00", "00:00:10", 0));
        SettingForm->chkOpenDir->setChecked(true);
        m_fake->SetScript("out time=1.00 \\n\nwait go\noutput\nexit 0\n");
        QStringList asked;
        SetMessageHook([&](const MessageRequest& r) {
            asked << r.caption;
            if (r.buttons != MsgButtons::YesNo)
                return MsgResult::Ok;
            m_fake->Go("go"); // the encoder could write its file and end now
            QTest::qWait(700);
            return MsgResult::Yes;
        });
        bool stopped = false;
        JobDriver d;
        d.Then([] { return MainForm->CurrentRun && MainForm->CurrentRun->ChunksRead() >= 1; },
               [&] {
                   if (closing)
                       stopped = MainForm->FormCloseQuery();
                   else
                       MainForm->imgCancelClick();
               });
        d.Start();
        PressStart();
        d.Stop();
        m_msgs.reset();
        m_msgs = std::make_unique<MessageLog>();
        QVERIFY(!d.TimedOut());
        QCOMPARE(asked, QStringList{closing ? "Exit Query" : "Query"});
        QCOMPARE(stopped, closing);
        QVERIFY(m_shell->opened.isEmpty());
        QVERIFY(QDir(outDir()).entryList(QDir::Files).isEmpty());
        expectIdle();
    }

    // Closing ends the program's event loops, so this runs last.
    void closingDuringAJob()
    {
        QVERIFY(prepare("00:00:00", "00:00:10", 0));
        m_fake->SetScript("child\nhang\n");
        FakeRun run;
        bool closed = false;
        JobDriver d;
        d.Then([&] {
                   const auto runs = m_fake->Runs();
                   if (runs.isEmpty() || runs[0].childPid == 0 || !MainForm->CurrentRun)
                       return false;
                   run = runs[0];
                   return true;
               },
               [&] {
                   m_msgs->answers = {MsgResult::No};
                   MainForm->close(); // kept open, job goes on
               });
        d.Then([] { return MainForm->isVisible() && MainForm->JobState() == JobController::State::Running; },
               [&] {
                   m_msgs->answers = {MsgResult::Yes};
                   closed = MainForm->close();
               });
        d.Start();
        PressStart();
        d.Stop();
        QVERIFY(!d.TimedOut());
        QVERIFY(closed);
        QCOMPARE(captions(), QStringList({"Exit Query", "Exit Query"}));
        QCOMPARE(m_msgs->shown.first().text, QString("Do you want to cancel the splitting and exit?"));
        QCOMPARE(MainForm->JobState(), JobController::State::Idle);
        QVERIFY(MainForm->CurrentRun == nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(!ProcessAlive(run.pid), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!ProcessAlive(run.childPid), 10000);
        QTest::qWait(50); // let the quit request pass here rather than in another test
    }
};

VT_TEST_MAIN(SplitJobTest)
#include "split_job.moc"
