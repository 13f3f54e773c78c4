// The preview player in the main window: opening a source, the track bar's ticks and
// seeking, the buttons before a source, and a file the player refuses.
#include "TestSupport.h"
#include "app/MainForm.h"
#include "app/TimeCode.h"
#include "preview/DSTrackBar.h"
#include "preview/FilterGraph.h"
#include "preview/RangeMath.h"
#include "preview/VideoWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>

namespace {

// Records the control events the graph sends, after the window's own components.
class EventRecorder : public QObject, public TGraphComponent {
public:
    QStringList events;
    void ControlEvent(TControlEvent e, int param) override
    {
        static const char* const names[] = {"play", "pause", "stop", "rendering", "rendered", "active"};
        QString n = QLatin1String(names[int(e)]);
        if (e == TControlEvent::Active)
            n += QStringLiteral("(%1)").arg(param);
        events << n;
    }
};

constexpr int kWait = 30000;
// A paused player reports the position it was sent to, give or take a frame.
constexpr qint64 kSlack = 100;

} // namespace

class PreviewPlayerTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_clips;
    QString m_clip5; // 5 s
    QString m_clip8; // 8 s
    QString m_bad;   // text under a video name
    QString m_hour;  // 59 min 59.9 s, picture only

    static TPlayState state() { return MainForm->FilterGraph->State(); }
    // The player's position in milliseconds, as the track bar reads it.
    static qint64 position()
    {
        qint64 ms = -1;
        if (MainForm->FilterGraph->MediaSeeking())
            MainForm->FilterGraph->MediaSeeking()->GetCurrentPosition(ms);
        return ms;
    }
    static void setPosition(qint64 ms) { MainForm->FilterGraph->MediaSeeking()->SetPositions(ms); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_clips.isValid());
        m_clip5 = m_clips.filePath("five.mp4");
        m_clip8 = m_clips.filePath("eight seconds.mp4"); // a blank in the name on purpose
        m_bad = m_clips.filePath("x.mp4");
        QVERIFY(MakeClip(m_clip5, 5, "160x120"));
        QVERIFY(MakeClip(m_clip8, 8, "160x120"));
        m_hour = m_clips.filePath("hour.mp4");
        QProcess ff;
        ff.start("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                            "color=c=0x203040:s=64x48:r=10:d=3599.9", "-c:v", "libx264", "-preset", "ultrafast", "-g",
                            "300", "-pix_fmt", "yuv420p", m_hour});
        QVERIFY(ff.waitForFinished(300000) && ff.exitCode() == 0);
        QFile f(m_bad);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("This is a text file, not a video.\n");
    }

    void buttonsBeforeAnySourceDoNothing()
    {
        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        QVERIFY(!MainForm->FilterGraph->Active());
        // The window comes up without the player: neither its engine nor a decoder is loaded.
        MainForm->show();
        QVERIFY(QTest::qWaitForWindowExposed(MainForm));
        QFile maps("/proc/self/maps");
        QVERIFY(maps.open(QIODevice::ReadOnly));
        const QByteArray mapped = maps.readAll();
        for (const char* lib : {"veltrane-media", "libavcodec", "libavformat", "libQt6Multimedia", "libgst"})
            QVERIFY2(!mapped.contains(lib), lib);
        QTest::mouseClick(MainForm->sbtnPlayPreview, Qt::LeftButton);
        QTest::mouseClick(MainForm->sbtnPausePreview, Qt::LeftButton);
        QTest::mouseClick(MainForm->sbtnStopPreview, Qt::LeftButton);
        QVERIFY(!MainForm->FilterGraph->Active());
        QVERIFY(!MainForm->tkbProgress->TimerRunning());
        QCOMPARE(MainForm->FilterGraph->SourceLength(), 0);
        QVERIFY(!MainForm->FilterGraph->Play());
        QVERIFY(!MainForm->FilterGraph->Pause());
        QVERIFY(!MainForm->FilterGraph->Stop());
        QCOMPARE(MainForm->FilterGraph->RenderSource(m_clip5), VT_S_FALSE);
        QVERIFY(log.shown.isEmpty());
        // The bar keeps its start-up range; the surface under the banner shows nothing.
        QCOMPARE(MainForm->tkbProgress->Min(), 0);
        QCOMPARE(MainForm->tkbProgress->Max(), 10);
        QVERIFY(!MainForm->VideoWindow->SurfaceVisible());
        QCOMPARE(MainForm->labCurrent->text(), QStringLiteral("00:00:00"));
    }

    void openingPlaysAndSetsTheScale()
    {
        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        EventRecorder rec;
        MainForm->FilterGraph->Attach(&rec);
        // The window runs on while the player opens the file: nothing that follows the
        // opening is done yet, and the answer comes from the event loop.
        MainForm->OpenSource(m_clip5);
        QVERIFY(MainForm->OpeningSource());
        QVERIFY(MainForm->FilterGraph->Loading());
        QCOMPARE(MainForm->labRight->text(), QStringLiteral("00:00:00"));
        QCOMPARE(rec.events, QStringList({"active(1)", "stop", "rendering"}));
        QTRY_VERIFY_WITH_TIMEOUT(!MainForm->OpeningSource(), kWait);
        QVERIFY(log.shown.isEmpty());

        QCOMPARE(rec.events, QStringList({"active(1)", "stop", "rendering", "rendered", "play"}));
        const qint32 len = MainForm->FilterGraph->SourceLength();
        const double probed = ProbeDuration(m_clip5) * 1000;
        QVERIFY2(qAbs(len - probed) < 250, qPrintable(QString("length %1 probed %2").arg(len).arg(probed)));
        QCOMPARE(MainForm->labMiddle->text(), FormatTimeCode(len / 2000.0));
        QCOMPARE(MainForm->labRight->text(), FormatTimeCode(len / 1000.0));
        QCOMPARE(MainForm->labRight->text(), QStringLiteral("00:00:05"));
        QCOMPARE(MainForm->labMiddle->text(), QStringLiteral("00:00:02"));
        QCOMPARE(MainForm->labLeft->text(), QStringLiteral("00:00:00"));
        QCOMPARE(state(), TPlayState::Playing);
        QVERIFY(MainForm->VideoWindow->isVisibleTo(MainForm));
        QVERIFY(MainForm->VideoWindow->SurfaceVisible());
        QCOMPARE(MainForm->VideoWindow->Surface()->geometry(), MainForm->VideoWindow->rect());
        QCOMPARE(MainForm->FilterGraph->Volume(), 1.0f);

        // The bar is as long as the source from the first picture on.
        QCOMPARE(MainForm->tkbProgress->Max(), len / 1000);
        QVERIFY(MainForm->tkbProgress->TimerRunning());
        QSignalSpy ticks(MainForm->tkbProgress, &TDSTrackBar::OnTimer);
        QTRY_COMPARE_WITH_TIMEOUT(MainForm->tkbProgress->Max(), len / 1000, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!ticks.isEmpty(), kWait);
        QCOMPARE(ticks.first().at(2).value<quint32>(), quint32(len));
        QVERIFY(ticks.first().at(1).value<quint32>() <= quint32(len));
        // labCurrent tells the picture shown, the thumb its whole second.
        QTRY_VERIFY_WITH_TIMEOUT(MainForm->tkbProgress->Position() >= 1, kWait);
        MainForm->sbtnPausePreviewClick();
        QCOMPARE(MainForm->labCurrent->text(), FormatPositionTime(MainForm->FilterGraph->CurrentFrameTime()));
        QCOMPARE(MainForm->tkbProgress->Position(), int(MainForm->FilterGraph->CurrentFrameTime()));

        // Frames reach the surface.
        QSignalSpy frames(MainForm->FilterGraph, &TFilterGraph::FrameShown);
        MainForm->sbtnStopPreviewClick();
        MainForm->sbtnPlayPreviewClick();
        QTRY_VERIFY_WITH_TIMEOUT(!frames.isEmpty(), kWait);
        MainForm->FilterGraph->Detach(&rec);
    }

    void timerRunsOnlyWhilePlayingAndIfEnabledAtPlay()
    {
        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        OpenSourceAndWait(m_clip5);
        TDSTrackBar* bar = MainForm->tkbProgress;
        QVERIFY(bar->TimerRunning());
        QTest::mouseClick(MainForm->sbtnPausePreview, Qt::LeftButton);
        QVERIFY(!bar->TimerRunning());
        QTRY_COMPARE_WITH_TIMEOUT(state(), TPlayState::Paused, kWait);
        QTest::mouseClick(MainForm->sbtnPlayPreview, Qt::LeftButton);
        QVERIFY(bar->TimerRunning());
        QTRY_VERIFY_WITH_TIMEOUT(position() >= 500, kWait);
        QTest::mouseClick(MainForm->sbtnStopPreview, Qt::LeftButton);
        QVERIFY(!bar->TimerRunning());
        // Stop holds the picture and the position, and Play goes on from there.
        QTRY_COMPARE_WITH_TIMEOUT(state(), TPlayState::Paused, kWait);
        const qint64 held = position();
        QVERIFY(held >= 500 && MainForm->FilterGraph->CurrentFrameTime() >= 0);
        MainForm->sbtnPlayPreviewClick();
        QTRY_VERIFY_WITH_TIMEOUT(position() > held + 200, kWait);
        MainForm->sbtnStopPreviewClick();

        // Disabled at Play: no ticks for this run, even when enabled again later.
        bar->setEnabled(false);
        MainForm->sbtnPlayPreviewClick();
        QVERIFY(!bar->TimerRunning());
        bar->setEnabled(true);
        QVERIFY(!bar->TimerRunning());
        MainForm->sbtnPlayPreviewClick();
        QVERIFY(bar->TimerRunning());
        // A disabled window around the bar does not count: only the bar's own state does.
        MainForm->sbtnPausePreviewClick();
        MainForm->setEnabled(false);
        MainForm->sbtnPlayPreviewClick();
        QVERIFY(bar->TimerRunning());
        MainForm->setEnabled(true);

        // During a job the preview holds its picture, and the position is that picture's.
        MainForm->sbtnStopPreviewClick();
        QTRY_COMPARE_WITH_TIMEOUT(state(), TPlayState::Paused, kWait);
        const double picture = MainForm->FilterGraph->CurrentFrameTime();
        bar->SetMax(100);
        bar->SetPosition(50);
        MainForm->tmrPreviewTimer();
        QCOMPARE(MainForm->labCurrent->text(), FormatPositionTime(picture));
        QCOMPARE(bar->Position(), int(picture));
        QCOMPARE(bar->Max(), MainForm->FilterGraph->SourceLength() / 1000);
        QVERIFY(log.shown.isEmpty());
    }

    // A job stops the preview: the bar's own timer stops, the position stays the picture's,
    // and after the job playback waits for Play.
    void thePreviewDuringAJob()
    {
        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        OpenSourceAndWait(m_clip5);
        TDSTrackBar* bar = MainForm->tkbProgress;
        QTRY_COMPARE_WITH_TIMEOUT(bar->Max(), 5, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(bar->Position() >= 1, kWait);
        MainForm->LockForJob();
        QVERIFY(!bar->TimerRunning());
        QVERIFY(MainForm->tmrPreview->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(state(), TPlayState::Stopped, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(MainForm->labCurrent->text(),
                                  FormatPositionTime(MainForm->FilterGraph->CurrentFrameTime()), kWait);
        QCOMPARE(bar->Position(), int(MainForm->FilterGraph->CurrentFrameTime()));
        MainForm->tmrProcess->stop();
        MainForm->UnlockAfterJob();
        QVERIFY(!MainForm->tmrPreview->isActive());
        QVERIFY(!bar->TimerRunning());
        QCOMPARE(state(), TPlayState::Stopped);
        MainForm->sbtnPlayPreviewClick();
        QVERIFY(bar->TimerRunning());
        QVERIFY(log.shown.isEmpty());
    }

    void seekingWithTheMouse()
    {
        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        MainForm->show();
        OpenSourceAndWait(m_clip8);
        TDSTrackBar* bar = MainForm->tkbProgress;
        const qint32 len = MainForm->FilterGraph->SourceLength();
        QTRY_COMPARE_WITH_TIMEOUT(bar->Max(), len / 1000, kWait);
        QCOMPARE(bar->Max(), 8);
        MainForm->sbtnPausePreviewClick();
        QTRY_COMPARE_WITH_TIMEOUT(state(), TPlayState::Paused, kWait);
        setPosition(1000);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(position() - (qint64(1000))) <= kSlack, kWait);
        // The picture has arrived: the thumb follows it no more until the next one.
        QTRY_VERIFY_WITH_TIMEOUT(!MainForm->FilterGraph->SeekPending(), kWait);

        // A key or a page step moves the thumb and seeks as a release does; the position
        // label follows the picture while paused.
        bar->SetPosition(0); // the program's own moves do not seek
        QCoreApplication::processEvents();
        QVERIFY(qAbs(position() - 1000) <= kSlack);
        for (int i = 0; i < 6; ++i)
            QTest::keyClick(bar, Qt::Key_Up);
        QCOMPARE(bar->Position(), 6);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(position() - qint64(len) * 6 / 8) <= kSlack, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(MainForm->labCurrent->text().startsWith("00:00:06."), kWait);
        QTest::keyClick(bar, Qt::Key_PageUp);
        QCOMPARE(bar->Position(), 8);
        QTest::keyClick(bar, Qt::Key_PageDown);
        QCOMPARE(bar->Position(), 6);
        QTest::keyClick(bar, Qt::Key_Down);
        QCOMPARE(bar->Position(), 5);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(position() - qint64(len) * 5 / 8) <= kSlack, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(MainForm->labCurrent->text().startsWith("00:00:05."), kWait);
        QTest::keyClick(bar, Qt::Key_Up);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(position() - qint64(len) * 6 / 8) <= kSlack, kWait);

        // Left button down on the thumb: ticks leave it alone; release seeks to its share.
        QSignalSpy ticks(bar, &TDSTrackBar::OnTimer);
        QTest::mousePress(bar, Qt::LeftButton, {}, bar->ThumbRect().center());
        QVERIFY(bar->MouseDown());
        bar->Tick();
        QCOMPARE(ticks.count(), 0);
        QCOMPARE(bar->Position(), 6);
        QTest::mouseRelease(bar, Qt::LeftButton, {}, bar->ThumbRect().center());
        QVERIFY(!bar->MouseDown());
        const qint64 expected6 = qint64(len) * 6 / 8;
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(position() - (expected6)) <= kSlack, kWait);

        // Dragging the thumb, then releasing.
        const QPoint from = bar->ThumbRect().center();
        QTest::mousePress(bar, Qt::LeftButton, {}, from);
        QTest::mouseMove(bar, QPoint(bar->PixelOfPosition(2), from.y()));
        QCOMPARE(bar->Position(), 2);
        QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(bar->PixelOfPosition(2), from.y()));
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(position() - (qint64(len) * 2 / 8)) <= kSlack, kWait);

        // A click away from the thumb moves it one page towards the click, and seeks there.
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() - 3, from.y()));
        QCOMPARE(bar->Position(), 4);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(position() - (qint64(len) * 4 / 8)) <= kSlack, kWait);
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(2, from.y()));
        QCOMPARE(bar->Position(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(position() - (qint64(len) * 2 / 8)) <= kSlack, kWait);

        // The right button: releasing it clears the flag and does not seek; the left
        // button's release seeks as always.
        QTest::mousePress(bar, Qt::LeftButton, {}, bar->ThumbRect().center());
        QVERIFY(bar->MouseDown());
        bar->SetPosition(7);
        QTest::mouseClick(bar, Qt::RightButton, {}, bar->ThumbRect().center());
        QVERIFY(!bar->MouseDown());
        QCOMPARE(bar->Position(), 7);
        QCoreApplication::processEvents();
        QVERIFY(qAbs(position() - qint64(len) * 2 / 8) <= kSlack);
        QTest::mouseRelease(bar, Qt::LeftButton, {}, bar->ThumbRect().center());
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(position() - qint64(len) * 7 / 8) <= kSlack, kWait);

        // Max 0 (a source under a second): no seek, no division.
        bar->SetMax(0);
        QCOMPARE(bar->Position(), 0);
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->ThumbRect().center());
        QCoreApplication::processEvents();
        QVERIFY(qAbs(position() - qint64(len) * 7 / 8) <= kSlack);

        // A tick while paused puts Max and the thumb back where the player stands, once its
        // picture is shown.
        QTRY_VERIFY_WITH_TIMEOUT(!MainForm->FilterGraph->SeekPending(), kWait);
        bar->Tick();
        QCOMPARE(bar->Max(), 8);
        QCOMPARE(bar->Position(), int(position() / 1000));
        QVERIFY(bar->Position() >= 6);
        QCOMPARE(MainForm->labCurrent->text(), FormatPositionTime(MainForm->FilterGraph->CurrentFrameTime()));
        QVERIFY(log.shown.isEmpty());
    }

    void secondSourceReplacesTheFirst()
    {
        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        OpenSourceAndWait(m_clip8);
        QTRY_COMPARE_WITH_TIMEOUT(MainForm->tkbProgress->Max(), 8, kWait);
        MainForm->tkbProgress->SetSelStart(2);
        MainForm->tkbProgress->SetSelEnd(6);

        OpenSourceAndWait(m_clip5);
        QVERIFY(log.shown.isEmpty());
        QCOMPARE(MainForm->FilterGraph->Source(), m_clip5);
        QCOMPARE(MainForm->FilterGraph->VideoOutput(), static_cast<QObject*>(MainForm->VideoWindow));
        QCOMPARE(state(), TPlayState::Playing);
        QCOMPARE(MainForm->labRight->text(), QStringLiteral("00:00:05"));
        QCOMPARE(MainForm->tkbProgress->SelStart(), 0);
        QCOMPARE(MainForm->tkbProgress->SelEnd(), 0);
        // The bar is the new source's from its first picture on.
        QCOMPARE(MainForm->tkbProgress->Max(), 5);
    }

    // Characters that mean something in an address are only part of the name here.
    void aNameWithAddressCharactersOpens()
    {
        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        const QString odd = m_clips.filePath(QStringLiteral("odd #1 %20 ?x=y&z [a] é.mp4"));
        QVERIFY(QFile::exists(odd) || QFile::copy(m_clip5, odd));
        OpenSourceAndWait(odd);
        QVERIFY2(log.shown.isEmpty(), qPrintable(log.lastText()));
        QCOMPARE(MainForm->labRight->text(), QStringLiteral("00:00:05"));
        QCOMPARE(state(), TPlayState::Playing);
    }

    void aSourceJustUnderAnHour()
    {
        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        OpenSourceAndWait(m_hour);
        QCOMPARE(MainForm->FilterGraph->SourceLength(), 3599900);
        QCOMPARE(MainForm->labRight->text(), QStringLiteral("00:59:59"));
        QCOMPARE(MainForm->labMiddle->text(), QStringLiteral("00:29:59"));
        QTRY_COMPARE_WITH_TIMEOUT(MainForm->tkbProgress->Max(), 3599, kWait);
        QCOMPARE(MainForm->tkbProgress->Frequency(), 60);
        QVERIFY(log.shown.isEmpty());
    }

    void aFileThePlayerRefusesIsReportedOnce()
    {
        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        SetOpenDialogHook([this](QWidget*, const QString&) { return m_bad; });
        QTest::mouseClick(MainForm->sbtnOpen, Qt::LeftButton);
        SetOpenDialogHook({});

        QTRY_VERIFY_WITH_TIMEOUT(!MainForm->OpeningSource(), kWait);
        QCOMPARE(log.shown.size(), 1);
        const MessageRequest box = log.shown.first();
        QCOMPARE(box.icon, MsgIcon::Error);
        QVERIFY2(box.text.contains(QStringLiteral(" ($8004020")) && box.text.endsWith(QStringLiteral(").")),
                 qPrintable(box.text));
        QVERIFY(!box.text.startsWith(QStringLiteral(" (")));
        // The opening stopped at the player: nothing after it was done.
        QVERIFY(MainForm->SourceLoaded);
        QVERIFY(MainForm->panbanner->isHidden());
        QCOMPARE(MainForm->edtSource->text(), m_bad);
        QCOMPARE(MainForm->labMiddle->text(), QStringLiteral("00:00:00"));
        QCOMPARE(MainForm->labRight->text(), QStringLiteral("00:00:00"));
        QVERIFY(state() != TPlayState::Playing);
        QVERIFY(!MainForm->tkbProgress->TimerRunning());
        QVERIFY(!MainForm->VideoWindow->SurfaceVisible());

        // The back end's follow-up errors are not shown again.
        QTest::qWait(1500);
        QCOMPARE(log.shown.size(), 1);

        // The program goes on: Play does nothing harmful, and a good file opens.
        MainForm->sbtnPlayPreviewClick();
        QCOMPARE(log.shown.size(), 1);
        OpenSourceAndWait(m_clip5);
        QCOMPARE(log.shown.size(), 1);
        QCOMPARE(MainForm->labRight->text(), QStringLiteral("00:00:05"));
        QCOMPARE(state(), TPlayState::Playing);
    }

    // A refused second source: the field, the output folder and the flag take the new file;
    // the scale, the marked range, the length label and the job state stay as they were.
    void aRefusedSecondSourceKeepsTheRange()
    {
        TempAppDir app; // the shipped preferences: output beside the source
        MessageLog log;
        FormsFixture forms(app.path());
        OpenSourceAndWait(m_clip8);
        MainForm->sbtnPausePreviewClick();
        MainForm->ApplyStartTime(2);
        MainForm->ApplyEndTime(6);
        QCOMPARE(MainForm->JobState(), JobController::State::Idle);
        const QString length = MainForm->labLength->text();
        MainForm->edtOutputDir->setText(QStringLiteral("/elsewhere/"));

        const QString bad = QDir(app.path()).filePath(QStringLiteral("refused.mp4"));
        QVERIFY(QFile::copy(m_bad, bad));
        RunGuarded([&] { OpenSourceAndWait(bad); });
        QCOMPARE(log.shown.size(), 1);
        QCOMPARE(MainForm->edtSource->text(), bad);
        QCOMPARE(MainForm->edtOutputDir->text(), app.path());
        QVERIFY(MainForm->SourceLoaded);
        QCOMPARE(MainForm->labRight->text(), QStringLiteral("00:00:08"));
        QCOMPARE(MainForm->labMiddle->text(), QStringLiteral("00:00:04"));
        QCOMPARE(MainForm->tkbProgress->SelStart(), 2);
        QCOMPARE(MainForm->tkbProgress->SelEnd(), 6);
        QCOMPARE(MainForm->edtStart->text(), QStringLiteral("00:00:02"));
        QCOMPARE(MainForm->edtEnd->text(), QStringLiteral("00:00:06"));
        QVERIFY(!MainForm->labStart->isHidden());
        QVERIFY(!MainForm->labEnd->isHidden());
        QVERIFY(!MainForm->labLength->isHidden());
        QCOMPARE(MainForm->labLength->text(), length);
    }

    void aSourceThatDoesNotLoadInTimeIsReported()
    {
        TempAppDir app;
        MessageLog log;
        FormsFixture forms(app.path());
        MainForm->FilterGraph->LoadTimeoutMs = 0; // the engine's answer always comes later
        RunGuarded([this] { OpenSourceAndWait(m_clip5); });
        QCOMPARE(log.shown.size(), 1);
        QCOMPARE(log.lastText(), QStringLiteral("The file did not load in time ($800705B4)."));
        QCOMPARE(MainForm->labRight->text(), QStringLiteral("00:00:00"));
        QVERIFY(MainForm->FilterGraph->Active());
        // With time enough, the same file opens.
        MainForm->FilterGraph->LoadTimeoutMs = 60000;
        RunGuarded([this] { OpenSourceAndWait(m_clip5); });
        QCOMPARE(log.shown.size(), 1);
        QCOMPARE(MainForm->labRight->text(), QStringLiteral("00:00:05"));
    }

    void refusedFileMessageFormat()
    {
        QCOMPARE(EDirectShowException::FormatMessage(QStringLiteral("Could not determine type of stream."),
                                                     VT_E_PLAYER_BASE + 1),
                 QStringLiteral("Could not determine type of stream. ($80040201)."));
        QCOMPARE(EDirectShowException::FormatMessage(QString(300, QLatin1Char('a')), VT_E_TIMEOUT),
                 QString(255, QLatin1Char('a')) + QStringLiteral(" ($800705B4)."));
        EDirectShowException e(QStringLiteral("x"), qint32(0x8004022Fu));
        QCOMPARE(e.message(), QStringLiteral("x ($8004022F)."));
        QCOMPARE(ErrorBoxText(e.message()), e.message());
    }
};

VT_TEST_MAIN(PreviewPlayerTest)
#include "preview_player.moc"
