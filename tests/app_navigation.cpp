// Where the window says the picture is, and moving about from the keyboard: the position
// label against the frame shown after playing, pausing, seeking, stepping and a job; quick
// presses that add up; Go To, the marks and the key frames on a clip whose key frames are
// known; time fields that take seconds and MM:SS and mark what they cannot read.
#include "TestSupport.h"
#include "shown_frames.h"
#include "frame_times.h"
#include "app/MainForm.h"
#include "app/Navigation.h"
#include "app/TimeCode.h"
#include "preview/DSTrackBar.h"
#include "preview/FilterGraph.h"
#include "preview/VideoWindow.h"
#include "split/KeyFrames.h"

#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStandardPaths>
#include <memory>

namespace {

constexpr int kWait = 30000;
// Key frames forced at these times (frames of a 25 fps clip); none between.
const QList<double> kKeys{0.0, 1.2, 5.0, 7.4, 9.0};


// The label tells the picture on the surface, to the millisecond.
#define COMPARE_LABEL_TO_PICTURE()                                                                          \
    QCOMPARE(MainForm->labCurrent->text(), FormatPositionTime(Graph()->CurrentFrameTime()))

} // namespace

class AppNavigationTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_media;
    QString m_clip; // 12 s, 25 fps, B-frames, key frames at kKeys
    std::vector<double> m_times;
    std::unique_ptr<TempAppDir> m_app;
    std::unique_ptr<FormsFixture> m_forms;
    std::unique_ptr<MessageLog> m_log;

    void openPausedAt(double seconds)
    {
        MainForm->show();
        MainForm->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(MainForm));
        OpenSourceAndWait(m_clip);
        MainForm->sbtnPausePreviewClick();
        Graph()->SeekExact(seconds);
        COMPARE_TIME(Settled(), FrameAt(m_times, seconds));
        MainForm->VideoWindow->setFocus();
    }

private slots:
    void initTestCase()
    {
        m_clip = m_media.filePath("keys.mp4");
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=12", "-f", "lavfi", "-i",
                        "sine=frequency=440:duration=12", "-c:v", "libx264", "-preset", "veryfast", "-bf", "2",
                        "-g", "1000", "-keyint_min", "1000", "-sc_threshold", "0", "-force_key_frames",
                        "0,1.2,5,7.4,9", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", m_clip}));
        m_times = FrameTimes(m_clip);
        QCOMPARE(int(m_times.size()), 300);
    }

    void init()
    {
        m_app = std::make_unique<TempAppDir>();
        m_forms = std::make_unique<FormsFixture>(m_app->path());
        m_log = std::make_unique<MessageLog>();
    }

    void cleanup()
    {
        QVERIFY2(m_log->shown.isEmpty(), qPrintable(m_log->lastText()));
        m_forms.reset();
        m_log.reset();
        m_app.reset();
    }

    // The list the key-frame keys go by is the one ffmpeg was told to make.
    void keyFramesAreListed()
    {
        const KeyFrameList list = ListKeyFrames(QStandardPaths::findExecutable("ffprobe"), m_clip);
        QVERIFY2(list.ok, qPrintable(list.error));
        QCOMPARE(list.times.size(), kKeys.size());
        for (qsizetype i = 0; i < kKeys.size(); ++i)
            COMPARE_TIME(list.times.at(i), kKeys.at(i));
        QCOMPARE(KeyFrameBefore(list.times, 5.0), 1.2);
        QCOMPARE(KeyFrameAfter(list.times, 5.0), 7.4);
        QCOMPARE(KeyFrameBefore(list.times, 0.0), -1.0);
        QCOMPARE(KeyFrameAfter(list.times, 9.5), -1.0);
        const KeyFrameList none = ListKeyFrames(QString(), m_clip);
        QVERIFY(!none.ok && !none.error.isEmpty());
    }

    // Playing, the label follows every picture; paused, after a seek, a step and a job it
    // tells the picture on the surface, not a second rounded down or the source's length.
    void positionShownIsThePictureShown()
    {
        openPausedAt(3.0);
        COMPARE_LABEL_TO_PICTURE();
        QCOMPARE(MainForm->labCurrent->text(), QStringLiteral("00:00:03.000"));

        QSignalSpy shown(Graph(), &TFilterGraph::FrameShown);
        int checked = 0;
        connect(Graph(), &TFilterGraph::FrameShown, this, [&](double t) {
            if (t >= 0 && MainForm->labCurrent->text() == FormatPositionTime(t))
                ++checked;
        });
        MainForm->sbtnPlayPreviewClick();
        QTRY_VERIFY_WITH_TIMEOUT(shown.count() >= 10, kWait);
        MainForm->sbtnPausePreviewClick();
        Settled();
        QCOMPARE(checked, shown.count()); // every picture, as it was shown
        COMPARE_LABEL_TO_PICTURE();

        for (double t : {7.77, 0.5, 11.99}) {
            Graph()->SeekExact(t);
            COMPARE_TIME(Settled(), FrameAt(m_times, t));
            COMPARE_LABEL_TO_PICTURE();
        }
        QTest::keyClick(MainForm->VideoWindow, Qt::Key_Left);
        Settled();
        COMPARE_LABEL_TO_PICTURE();
        QCOMPARE(MainForm->tkbProgress->Position(), int(Graph()->CurrentFrameTime()));

        // A job stops the preview where it is; during and after it the position is that picture's.
        const QString before = MainForm->labCurrent->text();
        MainForm->LockForJob();
        MainForm->tmrPreviewTimer();
        QCOMPARE(MainForm->labCurrent->text(), before);
        MainForm->tmrProcess->stop();
        MainForm->UnlockAfterJob();
        COMPARE_LABEL_TO_PICTURE();
        QCOMPARE(MainForm->tkbProgress->Position(), int(Graph()->CurrentFrameTime()));
    }

    // A right-click on the position shows the frame number too, and the choice is kept for
    // the next start.
    void frameNumberOnRequest()
    {
        openPausedAt(5.08);
        QLabel* frame = MainForm->Navigator->labFrame;
        QVERIFY(frame->isHidden());
        QTest::mouseClick(MainForm->labCurrent, Qt::RightButton);
        QVERIFY(frame->isVisible());
        QCOMPARE(frame->text(), QStringLiteral("Frame 127"));
        QTest::keyClick(MainForm->VideoWindow, Qt::Key_Right);
        Settled();
        QCOMPARE(frame->text(), QStringLiteral("Frame 128"));

        m_forms.reset();
        m_forms = std::make_unique<FormsFixture>(m_app->path());
        QVERIFY(MainForm->Navigator->ShowsFrameNumber());
        QTest::mouseClick(MainForm->labCurrent, Qt::RightButton);
        m_forms.reset();
        m_forms = std::make_unique<FormsFixture>(m_app->path());
        QVERIFY(!MainForm->Navigator->ShowsFrameNumber());
        QVERIFY(MainForm->Navigator->labFrame->isHidden());
    }

    // Presses sent faster than the pictures come each move on from where the one before
    // will land: together they move by the sum of their steps.
    void quickPressesAddUp_data()
    {
        QTest::addColumn<double>("from");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("presses");
        QTest::addColumn<double>("to");
        QTest::newRow("ten seconds on") << 0.4 << int(Qt::Key_Right) << int(Qt::ShiftModifier) << 10 << 10.4;
        QTest::newRow("seven seconds back") << 11.0 << int(Qt::Key_Left) << int(Qt::ShiftModifier) << 7 << 4.0;
        QTest::newRow("past the start") << 2.0 << int(Qt::Key_Left) << int(Qt::ShiftModifier) << 5 << 0.0;
        QTest::newRow("twelve frames on") << 4.8 << int(Qt::Key_Right) << 0 << 12 << 5.28;
        QTest::newRow("nine frames back across a key frame") << 5.2 << int(Qt::Key_Left) << 0 << 9 << 4.84;
        QTest::newRow("three key frames on") << 0.5 << int(Qt::Key_Right) << int(Qt::ControlModifier) << 3 << 7.4;
        QTest::newRow("two key frames back") << 8.0 << int(Qt::Key_Left) << int(Qt::ControlModifier) << 2 << 5.0;
    }

    void quickPressesAddUp()
    {
        QFETCH(double, from);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, presses);
        QFETCH(double, to);
        openPausedAt(from);
        for (int i = 0; i < presses; ++i)
            QTest::keyClick(MainForm->VideoWindow, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        if (modifiers == Qt::ControlModifier && !MainForm->Navigator->KeyFramesKnown())
            QVERIFY(QSignalSpy(MainForm->Navigator, &TNavigator::KeyFramesRead).wait(kWait));
        COMPARE_TIME(Settled(), FrameAt(m_times, to));
        COMPARE_LABEL_TO_PICTURE();
    }

    // Ctrl+G, [ and ], Ctrl+Left and Ctrl+Right, one at a time.
    void navigationKeys_data()
    {
        QTest::addColumn<double>("from");
        QTest::addColumn<QString>("keys"); // g: Ctrl+G then the text; [, ], <, >
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("to");
        QTest::newRow("go to seconds") << 1.0 << "g" << "7.5" << 7.5;
        QTest::newRow("go to MM:SS") << 1.0 << "g" << "0:09.04" << 9.04;
        QTest::newRow("go to HH:MM:SS.mmm") << 9.0 << "g" << "00:00:02.123" << 2.123;
        QTest::newRow("go past the end") << 1.0 << "g" << "90" << 12.0;
        QTest::newRow("start mark") << 10.0 << "[" << "3.2" << 3.2;
        QTest::newRow("end mark") << 1.0 << "]" << "00:08.04" << 8.04;
        QTest::newRow("key frame after") << 1.0 << ">" << "" << 1.2;
        QTest::newRow("key frame after one shown") << 5.0 << ">" << "" << 7.4;
        QTest::newRow("key frame before") << 5.1 << "<" << "" << 5.0;
        QTest::newRow("key frame before one shown") << 5.0 << "<" << "" << 1.2;
        QTest::newRow("no key frame after the last") << 10.0 << ">" << "" << 10.0;
    }

    void navigationKeys()
    {
        QFETCH(double, from);
        QFETCH(QString, keys);
        QFETCH(QString, text);
        QFETCH(double, to);
        openPausedAt(from);
        QWidget* picture = MainForm->VideoWindow;
        if (keys == "g") {
            QTest::keyClick(picture, Qt::Key_G, Qt::ControlModifier);
            QPointer<TGoToTimeDialog> dialog = MainForm->Navigator->GoToDialog;
            QVERIFY(dialog && dialog->isVisible());
            QCOMPARE(dialog->edtTime->text(), FormatPositionTime(FrameAt(m_times, from)));
            dialog->edtTime->setText(text);
            QTest::keyClick(dialog->edtTime, Qt::Key_Return);
            QTRY_VERIFY(!dialog);
        } else if (keys == "[" || keys == "]") {
            QLineEdit* field = keys == "[" ? MainForm->edtStart : MainForm->edtEnd;
            field->setText(text);
            keys == "[" ? MainForm->edtStartExit() : MainForm->edtEndExit();
            QTest::keyClick(picture, keys == "[" ? Qt::Key_BracketLeft : Qt::Key_BracketRight);
        } else {
            QSignalSpy read(MainForm->Navigator, &TNavigator::KeyFramesRead);
            QTest::keyClick(picture, keys == "<" ? Qt::Key_Left : Qt::Key_Right, Qt::ControlModifier);
            QVERIFY(read.wait(kWait));
        }
        COMPARE_TIME(Settled(), FrameAt(m_times, to));
        COMPARE_LABEL_TO_PICTURE();
    }

    // Go To with a text that is no time stays open, marked; Esc closes it without a move.
    void goToRefusesWhatItCannotRead()
    {
        openPausedAt(2.0);
        QTest::keyClick(MainForm->VideoWindow, Qt::Key_G, Qt::ControlModifier);
        QPointer<TGoToTimeDialog> dialog = MainForm->Navigator->GoToDialog;
        QVERIFY(dialog);
        dialog->edtTime->setText("two");
        QTest::keyClick(dialog->edtTime, Qt::Key_Return);
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(dialog->edtTime->toolTip().contains("MM:SS"));
        QTest::keyClick(dialog->edtTime, Qt::Key_Escape);
        QTRY_VERIFY(!dialog);
        COMPARE_TIME(Settled(), 2.0);
    }

    // Seconds and MM:SS are taken into the range as HH:MM:SS.mmm is; a text that is no time
    // is marked as it is typed, kept, and the job reads none from it.
    void typedTimes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("seconds"); // -1: not a time
        QTest::newRow("seconds") << "90" << 90.0;
        QTest::newRow("seconds with a fraction") << "5.5" << 5.5;
        QTest::newRow("MM:SS") << "01:30" << 90.0;
        QTest::newRow("MM:SS with a fraction") << "1:02.25" << 62.25;
        QTest::newRow("HH:MM:SS.mmm") << "00:00:07.040" << 7.04;
        QTest::newRow("words") << "five" << -1.0;
        QTest::newRow("four parts") << "1:2:3:4" << -1.0;
        QTest::newRow("a fraction alone") << ".5" << -1.0;
        QTest::newRow("empty") << "" << -1.0;
    }

    void typedTimes()
    {
        QFETCH(QString, text);
        QFETCH(double, seconds);
        openPausedAt(1.0);
        for (QLineEdit* field : {MainForm->edtStart, MainForm->edtEnd}) {
            field->setFocus();
            field->selectAll();
            QTest::keyClick(field, Qt::Key_Backspace);
            QTest::keyClicks(field, text);
            const bool marked = field->property("unreadableTime").toBool();
            QCOMPARE(marked, seconds == -1);
            QCOMPARE(field->toolTip().startsWith("Not a time."), seconds == -1);
            QVERIFY(field->toolTip().contains("MM:SS"));
            QTest::keyClick(field, Qt::Key_Return);
            const double taken = field == MainForm->edtStart ? MainForm->StartSecondsForJob() : MainForm->EndSecondsForJob();
            QCOMPARE(taken, seconds);
            if (seconds == -1) {
                QCOMPARE(field->text(), text); // kept as typed, still marked
                QVERIFY(field->property("unreadableTime").toBool());
            } else {
                QCOMPARE(field->text(), FormatExactTimeCode(seconds));
            }
        }
        MainForm->VideoWindow->setFocus();
        // Clear takes the marks away from the fields too.
        MainForm->sbtnEraseClick();
        QVERIFY(!MainForm->edtStart->property("unreadableTime").toBool());
    }
};

VT_TEST_MAIN(AppNavigationTest)
#include "app_navigation.moc"
