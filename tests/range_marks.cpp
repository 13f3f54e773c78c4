// The marked range in the main window: typed times, the Start Time / End time / Clear
// buttons, the marks under the track bar and the length label.
#include "TestSupport.h"
#include "about/AboutForm.h"
#include "app/ImageControl.h"
#include "app/MainForm.h"
#include "app/TimeCode.h"
#include "preview/DSTrackBar.h"
#include "preview/FilterGraph.h"
#include "preview/RangeMath.h"

#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QToolButton>

namespace {

// A two-hour clip of one colour, one frame a second, no sound: long enough for typed
// hours, and quick to make.
bool MakeLongClip(const QString& path, int seconds)
{
    QProcess p;
    p.start("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                       QString("color=c=0x203040:s=64x48:r=1:d=%1").arg(seconds), "-c:v", "libx264", "-preset",
                       "ultrafast", "-g", "300", "-pix_fmt", "yuv420p", path});
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

const QString kOrderError = QStringLiteral("The End Time should be later than the Start Time.");
const QString kLengthPrefix = QStringLiteral("The length of the marked rang is ");

} // namespace

class RangeMarksTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_clips;
    QString m_long;
    QString m_short;
    TempAppDir* m_app = nullptr;
    MessageLog* m_log = nullptr;
    FormsFixture* m_forms = nullptr;

    TMainForm* w() const { return MainForm; }
    TDSTrackBar* bar() const { return MainForm->tkbProgress; }

    void type(QLineEdit* field, const QString& text)
    {
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, text);
        QCOMPARE(field->text(), text);
    }
    void enter(QLineEdit* field, const QString& text)
    {
        type(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }

    // A loaded source, paused at once so no tick changes the bar, and a bar whose Max
    // makes every odd second fall on half a pixel (two positions a pixel).
    void openLong(int max = -1)
    {
        OpenSourceAndWait(m_long);
        w()->sbtnPausePreviewClick();
        QCOMPARE(bar()->Max(), 7200); // the source's length from its first picture on
        bar()->SetMax(max >= 0 ? max : 2 * barWidth());
        QCOMPARE(bar()->x(), 6);
    }
    int barWidth() const { return MainForm->tkbProgress->width(); }
    // Where the marks stand: their share of the bar, kept inside the preview region.
    int startLeft(int sel) const
    {
        return KeepInside(StartMarkLeft(6, barWidth(), sel, bar()->Max()), w()->labStart->width(), w()->panLeft->width());
    }
    int endLeft(int sel) const
    {
        return KeepInside(EndMarkLeft(6, barWidth(), sel, bar()->Max(), w()->labEnd->width()), w()->labEnd->width(),
                          w()->panLeft->width());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_clips.isValid());
        m_long = m_clips.filePath("long.mp4");
        m_short = m_clips.filePath("short.mp4");
        QVERIFY(MakeLongClip(m_long, 7200));
        QVERIFY(MakeClip(m_short, 3, "160x120"));
    }

    void init()
    {
        m_app = new TempAppDir;
        m_log = new MessageLog;
        m_forms = new FormsFixture(m_app->path());
    }

    void cleanup()
    {
        QVERIFY2(m_log->shown.isEmpty(), qPrintable(m_log->lastText()));
        delete m_forms;
        delete m_log;
        delete m_app;
    }

    void nothingHappensBeforeASource()
    {
        enter(w()->edtStart, "1:2:3");
        enter(w()->edtEnd, "00:00:10");
        w()->edtStartExit();
        w()->edtEndExit();
        bar()->SetPosition(5);
        QTest::mouseClick(w()->sbtnSelStart, Qt::LeftButton);
        QTest::mouseClick(w()->sbtnSelEnd, Qt::LeftButton);
        QTest::mouseClick(w()->sbtnErase, Qt::LeftButton);
        QCOMPARE(w()->edtStart->text(), QStringLiteral("1:2:3"));
        QCOMPARE(w()->edtEnd->text(), QStringLiteral("00:00:10"));
        QCOMPARE(bar()->SelStart(), 0);
        QCOMPARE(bar()->SelEnd(), 0);
        QVERIFY(w()->labStart->isHidden());
        QVERIFY(w()->labEnd->isHidden());
        QVERIFY(w()->labLength->isHidden());
        // The section count click works without a source.
        QVERIFY(w()->rdbStartEnd->isChecked());
        QTest::mouseClick(w()->edtSectionQty, Qt::LeftButton);
        QVERIFY(w()->rdbEqual->isChecked());
        QVERIFY(!w()->rdbStartEnd->isChecked());
    }

    void typedStartTimes()
    {
        openLong();
        QCOMPARE(w()->FilterGraph->SourceLength(), 7200000);
        enter(w()->edtStart, "1:2:3");
        QCOMPARE(bar()->SelStart(), 3723);
        QCOMPARE(w()->edtStart->text(), QStringLiteral("01:02:03"));
        QCOMPARE(w()->labStart->text(), QStringLiteral("[ 01:02:03"));
        QVERIFY(w()->labStart->isVisibleTo(w()));
        QVERIFY(w()->labLength->isVisibleTo(w()));
        QVERIFY(w()->labEnd->isHidden());
        QCOMPARE(w()->labLength->text(), kOrderError); // the end is still 0
        // Past the bar's end (a Max set shorter than the source), the mark stays inside the region.
        QVERIFY(StartMarkLeft(6, barWidth(), 3723, bar()->Max()) > w()->panLeft->width());
        QCOMPARE(w()->labStart->x() + w()->labStart->width(), w()->panLeft->width());
        QCOMPARE(w()->labStart->y(), 298);
        QCOMPARE(w()->labStart->width(), w()->labStart->sizeHint().width());

        // A fraction is accepted, rounded half to even on the bar, and kept in the text to
        // the millisecond.
        enter(w()->edtStart, "00:00:10.5");
        QCOMPARE(bar()->SelStart(), 10);
        QCOMPARE(w()->edtStart->text(), QStringLiteral("00:00:10.500"));
        QCOMPARE(w()->labStart->text(), QStringLiteral("[ 00:00:10.500"));
        enter(w()->edtStart, "00:00:11.5");
        QCOMPARE(bar()->SelStart(), 12);
        QCOMPARE(w()->edtStart->text(), QStringLiteral("00:00:11.500"));
        // 5 s at two positions a pixel is 2.5 px: the half goes to the even pixel.
        enter(w()->edtStart, "0:0:5");
        QCOMPARE(bar()->SelStart(), 5);
        QCOMPARE(w()->labStart->x(), 8);
        enter(w()->edtStart, "0:0:7");
        QCOMPARE(w()->labStart->x(), 10);
    }

    void textThatIsNoTimeCodeChangesNothing()
    {
        openLong();
        enter(w()->edtStart, "00:00:20");
        enter(w()->edtEnd, "00:00:40");
        const QPoint startPos = w()->labStart->pos();
        const QString length = w()->labLength->text();
        for (const QString& bad : {QStringLiteral("abc"), QStringLiteral("10:00:00:00"), QStringLiteral("00:00:.5"),
                                   QStringLiteral("1 :2:3"), QStringLiteral(""), QStringLiteral("00:00:-1")}) {
            enter(w()->edtStart, bad);
            QCOMPARE(w()->edtStart->text(), bad);
            w()->edtStartExit();
            QCOMPARE(w()->edtStart->text(), bad);
            enter(w()->edtEnd, bad);
            QCOMPARE(w()->edtEnd->text(), bad);
            QCOMPARE(bar()->SelStart(), 20);
            QCOMPARE(bar()->SelEnd(), 40);
            QCOMPARE(w()->labStart->text(), QStringLiteral("[ 00:00:20"));
            QCOMPARE(w()->labEnd->text(), QStringLiteral("00:00:40 ]"));
            QCOMPARE(w()->labStart->pos(), startPos);
            QCOMPARE(w()->labLength->text(), length);
        }
    }

    void endTimesAndTheLength()
    {
        openLong();
        enter(w()->edtStart, "00:00:10");
        // The length from the exact marks, to the millisecond; the bar's end rounds to 91.
        enter(w()->edtEnd, "00:01:30.7");
        QCOMPARE(bar()->SelEnd(), 91);
        QCOMPARE(w()->edtEnd->text(), QStringLiteral("00:01:30.700"));
        QCOMPARE(w()->labEnd->text(), QStringLiteral("00:01:30.700 ]"));
        QCOMPARE(w()->labLength->text(), kLengthPrefix + "00:01:20.700");
        QVERIFY(w()->labEnd->isVisibleTo(w()));
        QCOMPARE(w()->labEnd->x(), endLeft(91));
        // Applying the start again measures from the same marks, not from the bar.
        enter(w()->edtStart, "00:00:10");
        QCOMPARE(w()->labLength->text(), kLengthPrefix + "00:01:20.700");
        enter(w()->edtEnd, "00:01:31");
        QCOMPARE(w()->labLength->text(), kLengthPrefix + "00:01:21");

        // Equal ends, and an end before the start.
        enter(w()->edtEnd, "0:0:10");
        QCOMPARE(bar()->SelEnd(), 10);
        QCOMPARE(w()->labLength->text(), kOrderError);
        enter(w()->edtEnd, "0:0:5");
        QCOMPARE(w()->labLength->text(), kOrderError);
        // The start moved past the end reports the same.
        enter(w()->edtEnd, "0:1:0");
        enter(w()->edtStart, "0:2:0");
        QCOMPARE(w()->labLength->text(), kOrderError);
    }

    void anEndBeyondTheSourceStopsAtItsLength()
    {
        openLong(7200);
        enter(w()->edtStart, "01:00:00");
        enter(w()->edtEnd, "05:00:00");
        QCOMPARE(bar()->SelEnd(), 7200);
        QCOMPARE(w()->edtEnd->text(), QStringLiteral("05:00:00"));
        QCOMPARE(w()->labEnd->text(), QStringLiteral("05:00:00 ]"));
        QCOMPARE(w()->labEnd->x(), 6 + barWidth() - w()->labEnd->width());
        QCOMPARE(w()->labLength->text(), kLengthPrefix + "01:00:00");
        // A start beyond the source likewise.
        enter(w()->edtStart, "3:0:0");
        QCOMPARE(bar()->SelStart(), 7200);
        QCOMPARE(w()->edtStart->text(), QStringLiteral("03:00:00"));
        QCOMPARE(w()->labLength->text(), kOrderError);
        // No lower limit: a negative time goes onto the bar as it is.
        enter(w()->edtStart, "0:-1:0");
        QCOMPARE(bar()->SelStart(), -60);
        QCOMPARE(w()->edtStart->text(), QStringLiteral("00:-01:00"));
    }

    // Start Time and End time take the frame shown (one a second in this clip).
    void buttonsTakeTheFrameShown()
    {
        openLong(7200);
        const auto showFrameAt = [this](int second) {
            bar()->SetPosition(second);
            bar()->SeekToThumb();
            QTRY_COMPARE_WITH_TIMEOUT(w()->FilterGraph->CurrentFrameTime(), double(second), 30000);
        };
        showFrameAt(75);
        QTest::mouseClick(w()->sbtnSelStart, Qt::LeftButton);
        QCOMPARE(bar()->SelStart(), 75);
        QCOMPARE(w()->edtStart->text(), QStringLiteral("00:01:15"));
        QCOMPARE(w()->labStart->text(), QStringLiteral("[ 00:01:15"));
        QVERIFY(w()->labStart->isVisibleTo(w()));
        QCOMPARE(w()->labStart->x(), startLeft(75));
        QCOMPARE(w()->labLength->text(), kOrderError);
        QCOMPARE(w()->StartSecondsForJob(), 75.0);
        // The end button does not look at the start.
        showFrameAt(30);
        QTest::mouseClick(w()->sbtnSelEnd, Qt::LeftButton);
        QCOMPARE(bar()->SelEnd(), 30);
        QCOMPARE(w()->edtEnd->text(), QStringLiteral("00:00:30"));
        QCOMPARE(w()->labEnd->text(), QStringLiteral("00:00:30 ]"));
        QCOMPARE(w()->labLength->text(), kOrderError);
        showFrameAt(700);
        QTest::mouseClick(w()->sbtnSelEnd, Qt::LeftButton);
        QCOMPARE(w()->labLength->text(), kLengthPrefix + "00:10:25");
        QCOMPARE(w()->labEnd->x(), endLeft(700));
        // Tab reaches the buttons, but a click does not take the focus from a field being edited.
        QCOMPARE(w()->sbtnSelStart->focusPolicy(), Qt::TabFocus);
    }

    // Near the start of a long source the end mark would stand left of the preview region,
    // near its end the start mark right of it: both stay inside.
    void marksStayInsideThePreviewRegion()
    {
        openLong(7200);
        enter(w()->edtEnd, "0:0:30");
        QVERIFY(EndMarkLeft(6, barWidth(), 30, 7200, w()->labEnd->width()) < 0);
        QCOMPARE(w()->labEnd->x(), 0);
        enter(w()->edtStart, "1:59:59.5");
        QVERIFY(StartMarkLeft(6, barWidth(), 7200, 7200) + w()->labStart->width() > w()->panLeft->width());
        QCOMPARE(w()->labStart->x() + w()->labStart->width(), w()->panLeft->width());
        for (QLabel* mark : {w()->labStart, w()->labEnd})
            QVERIFY(w()->panLeft->rect().contains(mark->geometry()));
    }

    // The job takes the exact marks while the fields show them, and what a field reads as
    // otherwise; Enter on an unchanged field keeps its mark's exact time.
    void theJobTakesTheExactMarks()
    {
        openLong(7200);
        w()->ApplyStartTime(1.0 / 3.0);
        w()->ApplyEndTime(3725.0 + 2.0 / 3.0);
        QCOMPARE(w()->edtStart->text(), QStringLiteral("00:00:00.333"));
        QCOMPARE(w()->edtEnd->text(), QStringLiteral("01:02:05.667"));
        QCOMPARE(w()->labLength->text(), kLengthPrefix + "01:02:05.333");
        QTest::keyClick(w()->edtStart, Qt::Key_Return);
        QCOMPARE(w()->StartSecondsForJob(), 1.0 / 3.0);
        QCOMPARE(ParseTimeCode(w()->EndTextForJob()), 3725.0 + 2.0 / 3.0);
        type(w()->edtStart, "00:00:12.5"); // changed, even before Enter
        QCOMPARE(w()->StartSecondsForJob(), 12.5);
        QCOMPARE(w()->StartTextForJob(), QStringLiteral("00:00:12.5"));
        type(w()->edtEnd, "nonsense");
        QCOMPARE(w()->EndSecondsForJob(), -1.0);
        QTest::mouseClick(w()->sbtnErase, Qt::LeftButton);
        QCOMPARE(w()->StartSecondsForJob(), 0.0);
    }

    void marksCloseTogetherStackAndComeBack()
    {
        openLong();
        enter(w()->edtStart, "0:1:40"); // 100 s: x = 56
        QCOMPARE(w()->labStart->x(), 56);
        enter(w()->edtEnd, "0:1:50");
        QVERIFY(MarksOverlap(w()->labStart->x(), w()->labStart->width(), w()->labEnd->x(), w()->labEnd->width()));
        QCOMPARE(w()->labEnd->y(), w()->labStart->y() + 10);
        // Only the end that was set moves sideways; the height is settled either way.
        enter(w()->edtEnd, "0:10:0");
        QCOMPARE(w()->labEnd->y(), w()->labStart->y());
        QCOMPARE(w()->labStart->x(), 56);
        // Moving the start onto the end drops the end mark again.
        enter(w()->edtStart, "0:9:50");
        QCOMPARE(w()->labEnd->y(), w()->labStart->y() + 10);
        QCOMPARE(w()->labEnd->x(), endLeft(600));
        enter(w()->edtStart, "0:0:0");
        QCOMPARE(w()->labEnd->y(), w()->labStart->y());
    }

    void clearKeepsTheSplitMode()
    {
        openLong();
        w()->rdbEqual->setChecked(true);
        w()->edtSectionQty->setText("4");
        enter(w()->edtStart, "0:0:10");
        enter(w()->edtEnd, "0:0:50");
        QTest::mouseClick(w()->sbtnErase, Qt::LeftButton);
        QCOMPARE(bar()->SelStart(), 0);
        QCOMPARE(bar()->SelEnd(), 0);
        QCOMPARE(w()->edtStart->text(), QStringLiteral("00:00:00"));
        QCOMPARE(w()->edtEnd->text(), QStringLiteral("00:00:00"));
        QVERIFY(w()->labStart->isHidden());
        QVERIFY(w()->labEnd->isHidden());
        QVERIFY(w()->labLength->isHidden());
        QVERIFY(w()->rdbEqual->isChecked());
        QCOMPARE(w()->edtSectionQty->text(), QStringLiteral("4"));
        // Opening a source resets the range the same way.
        enter(w()->edtStart, "0:0:10");
        enter(w()->edtEnd, "0:0:50");
        OpenSourceAndWait(m_short);
        QCOMPARE(bar()->SelStart(), 0);
        QCOMPARE(bar()->SelEnd(), 0);
        QVERIFY(w()->labStart->isHidden());
        QCOMPARE(w()->edtStart->text(), QStringLiteral("00:00:00"));
        QVERIFY(w()->rdbEqual->isChecked());
    }

    void leavingAFieldActsLikeEnter()
    {
        openLong();
        w()->show();
        w()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w()));
        w()->edtStart->setFocus(Qt::OtherFocusReason);
        type(w()->edtStart, "0:2:0");
        QCOMPARE(bar()->SelStart(), 0);
        w()->edtEnd->setFocus(Qt::TabFocusReason);
        QCOMPARE(bar()->SelStart(), 120);
        QCOMPARE(w()->edtStart->text(), QStringLiteral("00:02:00"));
        type(w()->edtEnd, "0:3:0");
        // Pressing a preview button keeps the focus in the field: nothing is applied.
        QTest::mouseClick(w()->sbtnPausePreview, Qt::LeftButton);
        QVERIFY(w()->edtEnd->hasFocus());
        QCOMPARE(bar()->SelEnd(), 0);
        w()->edtSource->setFocus(Qt::MouseFocusReason);
        QCOMPARE(bar()->SelEnd(), 180);
        QCOMPARE(w()->labLength->text(), kLengthPrefix + "00:01:00");

        // Tabbing into the section count leaves the split mode alone; a click changes it.
        w()->edtSectionQty->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(w()->edtSectionQty, "3");
        QVERIFY(w()->rdbStartEnd->isChecked());
        QTest::mouseClick(w()->edtSectionQty, Qt::LeftButton);
        QVERIFY(w()->rdbEqual->isChecked());
    }

    // A dialog that disables the window while it is shown does not take the typed time
    // from the field, and the field has the focus again once the dialog is closed.
    void aDialogShownIsNotLeavingTheField()
    {
        openLong();
        w()->show();
        w()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w()));
        w()->edtStart->setFocus(Qt::MouseFocusReason);
        type(w()->edtStart, "0:0:5");
        QTest::mouseClick(w()->sbtnAbout, Qt::LeftButton);
        QVERIFY(AboutForm->isVisible());
        QVERIFY(!w()->isEnabled());
        QCoreApplication::processEvents();
        QCOMPARE(bar()->SelStart(), 0);
        QCOMPARE(w()->edtStart->text(), QStringLiteral("0:0:5"));
        QVERIFY(w()->labStart->isHidden());

        AboutForm->close();
        QVERIFY(w()->isEnabled());
        w()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w()));
        QTRY_VERIFY_WITH_TIMEOUT(w()->edtStart->hasFocus(), 10000);
        QCOMPARE(bar()->SelStart(), 0);
        // Leaving it now takes the time, as always.
        w()->edtSource->setFocus(Qt::MouseFocusReason);
        QCOMPARE(bar()->SelStart(), 5);
        QCOMPARE(w()->edtStart->text(), QStringLiteral("00:00:05"));

        // Pressing the Split image does not take the focus either.
        w()->edtEnd->setFocus(Qt::MouseFocusReason);
        type(w()->edtEnd, "0:0:9");
        const QPoint inside = w()->imgStart->rect().center();
        QTest::mousePress(w()->imgStart, Qt::LeftButton, {}, inside);
        QVERIFY(w()->edtEnd->hasFocus());
        // Released away from the image: no click, so no job.
        QTest::mouseRelease(w()->imgStart, Qt::LeftButton, {}, QPoint(-20, -20));
        QVERIFY(w()->edtEnd->hasFocus());
        QCOMPARE(bar()->SelEnd(), 0);
        QCOMPARE(w()->JobState(), JobController::State::Idle);
    }

    // Only a click of the left button in the section count picks the equal sections.
    void onlyALeftClickInTheCountPicksEqualSections()
    {
        QVERIFY(w()->rdbStartEnd->isChecked());
        QTest::mouseClick(w()->edtSectionQty, Qt::RightButton);
        QTest::mouseClick(w()->edtSectionQty, Qt::MiddleButton);
        QVERIFY(w()->rdbStartEnd->isChecked());
        // Pressed in the field and released outside it is no click.
        QTest::mousePress(w()->edtSectionQty, Qt::LeftButton);
        QTest::mouseRelease(w()->edtSectionQty, Qt::LeftButton, {}, QPoint(-30, 5));
        QVERIFY(w()->rdbStartEnd->isChecked());
        QTest::mouseClick(w()->edtSectionQty, Qt::LeftButton);
        QVERIFY(w()->rdbEqual->isChecked());
    }

    void maxZeroPlacesMarksWithoutDividing()
    {
        openLong(0);
        QCOMPARE(bar()->Max(), 0);
        enter(w()->edtStart, "0:0:0");
        QCOMPARE(w()->labStart->x(), 6);
        enter(w()->edtEnd, "0:0:1");
        QCOMPARE(w()->labEnd->x(), 6 + barWidth() - w()->labEnd->width());
        QCOMPARE(w()->labLength->text(), kLengthPrefix + "00:00:01");
    }
};

VT_TEST_MAIN(RangeMarksTest)
#include "range_marks.moc"
