// The end of a job: the success message and the output folder, or the countdown to
// exit or power-off. Power-off only ever reaches a recording hook here.
#include "split_support.h"

#include "split/CountdownForm.h"
#include "split/PowerOff.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <memory>

Q_DECLARE_METATYPE(MsgResult)

class SplitCompletionTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempAppDir> m_app;
    std::unique_ptr<FormsFixture> m_forms;
    std::unique_ptr<MessageLog> m_msgs;
    std::unique_ptr<ShellLog> m_shell;
    int m_powerOffs = 0;

    void finishJob(bool turnOff, bool exitProgram, bool openDir)
    {
        SettingForm->chkTurnoff->setChecked(turnOff);
        SettingForm->chkExit->setChecked(exitProgram);
        SettingForm->chkOpenDir->setChecked(openDir);
        MainForm->LockForJob();
        MainForm->pgbTotal->setValue(100);
        MainForm->Completion();
    }

private slots:
    void init()
    {
        m_app = std::make_unique<TempAppDir>();
        m_forms = std::make_unique<FormsFixture>(m_app->path());
        m_msgs = std::make_unique<MessageLog>();
        m_shell = std::make_unique<ShellLog>();
        m_powerOffs = 0;
        SetPowerOffHook([this] { ++m_powerOffs; });
        MainForm->show();
    }

    void cleanup()
    {
        if (CountDownForm)
            CountDownForm->tmrCountdown->stop();
        m_forms.reset();
        SetPowerOffHook([] {}); // never the real request, not even between tests
        m_msgs.reset();
        m_shell.reset();
        m_app.reset();
    }

    void countdownDialogAtRest()
    {
        QCOMPARE(CountDownForm->windowTitle(), QString("Countdown"));
        QVERIFY(CountDownForm->isHidden());
        QCOMPARE(CountDownForm->btnDoNow->text(), QString("Now"));
        QCOMPARE(CountDownForm->btnCancel->text(), QString("Cancel"));
        QCOMPARE(CountDownForm->tmrCountdown->interval(), 1000);
        QVERIFY(!CountDownForm->tmrCountdown->isActive());
        QCOMPARE(CountDownForm->Image1->size(), QSize(32, 32));
        QVERIFY(!CountDownForm->Image1->pixmap().isNull());
        QCOMPARE(CountDownForm->minimumSize(), CountDownForm->maximumSize()); // fixed border
    }

    void successMessageThenFolder_data()
    {
        QTest::addColumn<bool>("autoOpen");   // the preference opens the folder anyway
        QTest::addColumn<MsgResult>("answer"); // what the user presses
        QTest::addColumn<bool>("opened");
        QTest::newRow("opened by the preference") << true << MsgResult::Ok << true;
        QTest::newRow("offered, taken") << false << MsgResult::OpenFolder << true;
        QTest::newRow("offered, OK") << false << MsgResult::Ok << false;
    }

    void successMessageThenFolder()
    {
        QFETCH(bool, autoOpen);
        QFETCH(MsgResult, answer);
        QFETCH(bool, opened);
        MainForm->edtOutputDir->setText("/some/output"); // no trailing separator
        m_msgs->answers << answer;
        finishJob(false, false, autoOpen);
        QCOMPARE(m_msgs->shown.size(), 1);
        const MessageRequest& r = m_msgs->shown.first();
        QCOMPARE(r.caption, QString("Completed"));
        // No job ran here: nothing was written.
        QCOMPARE(r.text, QString("Splitting is completed successfully.\n\nNo file was written to /some/output."));
        QCOMPARE(r.icon, MsgIcon::Information);
        QCOMPARE(r.buttons, autoOpen ? MsgButtons::Ok : MsgButtons::OkOpenFolder);
        QCOMPARE(r.owner, static_cast<QWidget*>(MainForm));
        QCOMPARE(m_shell->opened, opened ? QStringList{"/some/output"} : QStringList()); // the field as it stands
        QCOMPARE(MainForm->JobState(), JobController::State::Idle);
        QVERIFY(!MainForm->panProgress->isVisible());
        QVERIFY(!MainForm->tmrProcess->isActive());
        QVERIFY(!MainForm->tmrPreview->isActive());
        QVERIFY(CountDownForm->isHidden());
    }

    void completionTextCountsTheFiles_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<QStringList>("notes");
        QTest::addColumn<QString>("text");
        const QString done = "Splitting is completed successfully.\n\n";
        QTest::newRow("none") << 0 << QStringList() << done + "No file was written to /out/.";
        QTest::newRow("one") << 1 << QStringList() << done + "1 file was written to /out/.";
        QTest::newRow("three, with notes") << 3 << QStringList{"a note", "another"}
                                           << done + "3 files were written to /out/.\n\na note\nanother";
    }

    void completionTextCountsTheFiles()
    {
        QFETCH(int, files);
        QFETCH(QStringList, notes);
        QFETCH(QString, text);
        QCOMPARE(CompletionText(files, "/out/", notes), text);
    }

    void powerOffWinsAndCountsDown()
    {
        finishJob(true, true, true);
        QVERIFY(m_msgs->shown.isEmpty());
        QVERIFY(m_shell->opened.isEmpty());
        QVERIFY(CountDownForm->isVisible());
        QCOMPARE(CountDownForm->CountdownMode, 1);
        QCOMPARE(CountDownForm->btnDoNow->text(), QString("Turn off Now"));
        QCOMPARE(CountDownForm->labMessage->text(), QString("The computer will be turned off within 10 seconds."));
        QCOMPARE(CountDownForm->SecondsLeft, 10);
        QVERIFY(CountDownForm->tmrCountdown->isActive());
        QVERIFY(!MainForm->isEnabled());
        QVERIFY(CountDownForm->isEnabled());
        QCOMPARE(MainForm->JobState(), JobController::State::Idle);
        QVERIFY(MainForm->panProgress->isVisible()); // the final progress stays in view
        QCOMPARE(MainForm->pgbTotal->value(), 100);
        QVERIFY(!MainForm->tmrProcess->isActive());

        for (int k = 9; k >= 1; --k) {
            CountDownForm->tmrCountdownTimer();
            QCOMPARE(CountDownForm->labMessage->text(),
                     QString("The computer will be turned off within %1 seconds.").arg(k));
        }
        QCOMPARE(m_powerOffs, 0);
        CountDownForm->tmrCountdownTimer();
        QCOMPARE(CountDownForm->labMessage->text(), QString("The computer will be turned off within 0 seconds."));
        QCOMPARE(m_powerOffs, 1);
        QVERIFY(!CountDownForm->tmrCountdown->isActive());
        QVERIFY(CountDownForm->isVisible()); // a refused request leaves it resting at 0

        CountDownForm->btnDoNow->click();
        QCOMPARE(m_powerOffs, 2);

        CountDownForm->btnCancel->click();
        QVERIFY(CountDownForm->isHidden());
        QVERIFY(MainForm->isEnabled());
        QVERIFY(!MainForm->panProgress->isVisible());
        QVERIFY(MainForm->imgStart->isVisible());
        QCOMPARE(m_powerOffs, 2);
    }

    void nowActsAtOnceAndCancelAnyTime()
    {
        finishJob(true, false, false);
        CountDownForm->tmrCountdownTimer();
        CountDownForm->tmrCountdownTimer();
        CountDownForm->btnDoNow->click();
        QCOMPARE(m_powerOffs, 1);
        QVERIFY(CountDownForm->tmrCountdown->isActive()); // the click does not stop the countdown
        CountDownForm->btnCancel->click();
        QVERIFY(!CountDownForm->tmrCountdown->isActive());
        QVERIFY(MainForm->isEnabled());
        QCOMPARE(MainForm->JobState(), JobController::State::Idle);
        QVERIFY(MainForm->imgStart->isVisible());

        // Shown again for the next job: the count starts over.
        finishJob(true, false, false);
        QCOMPARE(CountDownForm->SecondsLeft, 10);
        QCOMPARE(CountDownForm->labMessage->text(), QString("The computer will be turned off within 10 seconds."));
    }

    void restoringTheDialogDoesNotRestartTheCount()
    {
        finishJob(true, false, false);
        CountDownForm->tmrCountdownTimer();
        CountDownForm->tmrCountdownTimer();
        QCOMPARE(CountDownForm->SecondsLeft, 8);
        CountDownForm->setWindowState(Qt::WindowMinimized);
        CountDownForm->setWindowState(Qt::WindowNoState);
        QCOMPARE(CountDownForm->SecondsLeft, 8);
        QCOMPARE(CountDownForm->labMessage->text(), QString("The computer will be turned off within 8 seconds."));
        QVERIFY(CountDownForm->tmrCountdown->isActive());
    }

    void closingByTheTitleBarAbandonsTheAction()
    {
        finishJob(false, true, false);
        QVERIFY(CountDownForm->isVisible());
        CountDownForm->close();
        QVERIFY(CountDownForm->isHidden());
        QVERIFY(!CountDownForm->tmrCountdown->isActive());
        QVERIFY(MainForm->isEnabled());
        QVERIFY(!MainForm->panProgress->isVisible());
        QVERIFY(MainForm->imgStart->isVisible());
        QVERIFY(MainForm->isVisible());
    }

    // Ends with the main window closed, so it runs last.
    void exitCountdownClosesTheProgram()
    {
        MainForm->edtOutputDir->setText("/some/output");
        finishJob(false, true, true);
        QVERIFY(m_shell->opened.isEmpty());
        QVERIFY(m_msgs->shown.isEmpty());
        QCOMPARE(CountDownForm->CountdownMode, 0);
        QCOMPARE(CountDownForm->btnDoNow->text(), QString("Exit Now"));
        QCOMPARE(CountDownForm->labMessage->text(), QString("The program will exit within 10 seconds."));
        for (int k = 0; k < 9; ++k)
            CountDownForm->tmrCountdownTimer();
        QVERIFY(MainForm->isVisible());
        QFile::remove(m_app->file("Preferences.ini"));
        CountDownForm->tmrCountdownTimer();
        QVERIFY(!MainForm->isVisible()); // closed the normal way: no question while idle
        QVERIFY(m_msgs->shown.isEmpty());
        QVERIFY(QFile::exists(m_app->file("Preferences.ini"))); // preferences written on the way out
        QCOMPARE(m_powerOffs, 0);
        QTest::qWait(50); // let the quit request pass here rather than in another test
    }
};

VT_TEST_MAIN(SplitCompletionTest)
#include "split_completion.moc"
