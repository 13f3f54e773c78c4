// The main window without a mouse: the focus on every button, Space and Enter, the window's
// shortcuts (and none while typing), Esc in the dialogs, screen-reader names and pressing
// Split through them, a double click on Split, drops on any control, and captions that fit
// the font.
#include "split_support.h"

#include "about/AboutForm.h"
#include "app/Shell.h"
#include "app/TimeCode.h"
#include "prefs/FolderPicker.h"
#include "preview/DSTrackBar.h"
#include "preview/VideoWindow.h"
#include "profiles/CustomSizeForm.h"
#include "profiles/OutputSettingsForm.h"

#include <QAccessible>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QToolButton>
#include <memory>

namespace {

constexpr int kWait = 30000;
const QString kNoSource = QStringLiteral("Please specify a valid input video file.");

// All accessible interfaces under `root`, depth first.
void CollectAccessible(QAccessibleInterface* root, QList<QAccessibleInterface*>& out)
{
    if (!root)
        return;
    out << root;
    for (int i = 0; i < root->childCount(); ++i)
        CollectAccessible(root->child(i), out);
}

} // namespace

class AppKeyboardTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_media;
    QString m_clip; // 4 s at 30 frames a second
    std::unique_ptr<TempAppDir> m_app;
    std::unique_ptr<FormsFixture> m_forms;
    std::unique_ptr<MessageLog> m_log;
    std::unique_ptr<ShellLog> m_shell;

    static TMainForm* w() { return MainForm; }

    void showActive()
    {
        w()->show();
        w()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w()));
    }
    // A source paused on the frame at one second; a seek while paused shows that one frame.
    void openPaused()
    {
        w()->OpenSource(m_clip);
        w()->sbtnPausePreviewClick();
        w()->FilterGraph->SeekExact(1.0);
        QVERIFY(frameAt(1.0));
    }
    // Waits for the frame at `seconds` (a frame start, to the microsecond the player gives).
    static bool frameAt(double seconds)
    {
        QElapsedTimer t;
        t.start();
        while (qAbs(MainForm->FilterGraph->CurrentFrameTime() - seconds) > 2e-6 && t.elapsed() < kWait)
            QTest::qWait(10);
        return qAbs(MainForm->FilterGraph->CurrentFrameTime() - seconds) <= 2e-6;
    }

private slots:
    void initTestCase()
    {
        m_clip = m_media.filePath("thirty.mp4");
        QVERIFY(MakeClip(m_clip, 4, "160x120", 30));
    }

    void init()
    {
        m_app = std::make_unique<TempAppDir>();
        m_forms = std::make_unique<FormsFixture>(m_app->path());
        m_log = std::make_unique<MessageLog>();
        m_shell = std::make_unique<ShellLog>();
    }

    void cleanup()
    {
        SetOpenDialogHook({});
        SetFolderPickerHook({});
        m_forms.reset();
        m_shell.reset();
        m_log.reset();
        m_app.reset();
    }

    // Tab visits every button in the order of the regions; Space and Enter press each one.
    void everyButtonTakesTheFocusAndActsOnSpaceAndEnter()
    {
        showActive();
        const QList<QWidget*> order = {w()->sbtnOpen,        w()->sbtnSettings,     w()->sbtnAbout,
                                       w()->sbtnHelp,        w()->tkbProgress,      w()->sbtnPlayPreview,
                                       w()->sbtnPausePreview, w()->sbtnStopPreview, w()->sbtnSelStart,
                                       w()->sbtnSelEnd,      w()->sbtnErase,        w()->edtSource,
                                       w()->rdbStartEnd,     w()->edtStart,         w()->edtEnd,
                                       w()->edtSectionQty,   w()->cmbProfile,
                                       w()->BitBtn1,         w()->edtOutputDir,     w()->bbtnBrowse,
                                       w()->imgStart};
        w()->sbtnOpen->setFocus(Qt::TabFocusReason);
        QList<QWidget*> visited{QApplication::focusWidget()};
        for (qsizetype i = 1; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget();
        }
        QCOMPARE(visited, order);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w()->sbtnOpen); // round again
        // The two split modes are one stop, the checked one; arrows move between them.
        w()->rdbStartEnd->setFocus(Qt::TabFocusReason);
        QTest::keyClick(w()->rdbStartEnd, Qt::Key_Down);
        QVERIFY(w()->rdbEqual->hasFocus());
        QVERIFY(w()->rdbEqual->isChecked());
        QTest::keyClick(w()->rdbEqual, Qt::Key_Up);
        QVERIFY(w()->rdbStartEnd->hasFocus());
        QVERIFY(w()->rdbStartEnd->isChecked());
        w()->edtEnd->setFocus(Qt::TabFocusReason);
        QTest::keyClick(w()->edtEnd, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w()->edtSectionQty));

        int opened = 0;
        SetOpenDialogHook([&](QWidget*, const QString&) {
            ++opened;
            return QString();
        });
        int picked = 0;
        SetFolderPickerHook([&](QWidget*, const QString&, QString*) {
            ++picked;
            return false;
        });
        const auto press = [](QWidget* button, Qt::Key key) {
            MainForm->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(MainForm));
            button->setFocus(Qt::TabFocusReason);
            QVERIFY(button->hasFocus());
            QTest::keyClick(button, key);
        };
        for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return}) {
            const int before = opened;
            press(w()->sbtnOpen, key);
            QTRY_COMPARE(opened, before + 1);
            press(w()->sbtnHelp, key);
            QTRY_COMPARE(m_shell->opened.size(), key == Qt::Key_Space ? 1 : 2);
            press(w()->sbtnAbout, key);
            QTRY_VERIFY(AboutForm->isVisible());
            AboutForm->close();
            press(w()->sbtnSettings, key);
            QTRY_VERIFY(SettingForm->isVisible());
            SettingForm->btnCancel->click();
            press(w()->BitBtn1, key);
            QTRY_VERIFY(opSettingForm->isVisible());
            opSettingForm->Button2->click();
            const int pickedBefore = picked;
            press(w()->bbtnBrowse, key);
            QTRY_COMPARE(picked, pickedBefore + 1);
            // Split checks the job at once: there is no source.
            const qsizetype shown = m_log->shown.size();
            press(w()->imgStart, key);
            QTRY_COMPARE(m_log->shown.size(), shown + 1);
            QCOMPARE(m_log->lastText(), kNoSource);
        }
        QVERIFY(w()->isEnabled());

        // The preview buttons with a source.
        openPaused();
        press(w()->sbtnPlayPreview, Qt::Key_Space);
        QTRY_VERIFY(w()->Playing());
        press(w()->sbtnPausePreview, Qt::Key_Return);
        QTRY_VERIFY(!w()->Playing());
        press(w()->sbtnPlayPreview, Qt::Key_Return);
        QTRY_VERIFY(w()->Playing());
        press(w()->sbtnStopPreview, Qt::Key_Space);
        QTRY_VERIFY(!w()->Playing());
        press(w()->sbtnSelStart, Qt::Key_Return);
        QTRY_VERIFY(!w()->labStart->isHidden());
        press(w()->sbtnSelEnd, Qt::Key_Space);
        QTRY_VERIFY(!w()->labEnd->isHidden());
        press(w()->sbtnErase, Qt::Key_Return);
        QTRY_VERIFY(w()->labStart->isHidden());
        // A radio button is checked by Space.
        w()->rdbStartEnd->setChecked(false);
        press(w()->rdbStartEnd, Qt::Key_Space);
        QVERIFY(w()->rdbStartEnd->isChecked());
    }

    // Each shortcut, with the picture holding the focus; marks take the frame shown, to the
    // millisecond in their fields and exactly for the job.
    void shortcutsDriveThePlayerAndTheMarks()
    {
        showActive();
        openPaused();
        QWidget* picture = w()->VideoWindow;
        QTest::mouseClick(picture, Qt::LeftButton); // a click on the picture gives it the focus
        QVERIFY(picture->hasFocus());
        const double frame = w()->FilterGraph->FrameDuration();
        QVERIFY2(qAbs(frame - 1.0 / 30) < 1e-9, qPrintable(QString::number(frame)));

        // Space plays and pauses.
        QTest::keyClick(picture, Qt::Key_Space);
        QVERIFY(w()->Playing());
        QTest::keyClick(picture, Qt::Key_Space);
        QVERIFY(!w()->Playing());

        // Home, then one frame forward, two, and back.
        QTest::keyClick(picture, Qt::Key_Home);
        QVERIFY(frameAt(0));
        QCOMPARE(w()->labCurrent->text(), QStringLiteral("00:00:00"));
        QTest::keyClick(picture, Qt::Key_Right);
        QVERIFY(frameAt(0.033333));
        QTest::keyClick(picture, Qt::Key_Right);
        QVERIFY(frameAt(0.066667));
        QTest::keyClick(picture, Qt::Key_Left);
        QVERIFY(frameAt(0.033333));

        // I takes that frame as the start.
        QTest::keyClick(picture, Qt::Key_I);
        const double start = w()->FilterGraph->CurrentFrameTime();
        QCOMPARE(w()->edtStart->text(), QStringLiteral("00:00:00.033"));
        QCOMPARE(w()->StartSecondsForJob(), start);
        QCOMPARE(ParseTimeCode(w()->StartTextForJob()), start);
        QVERIFY(!w()->labStart->isHidden());

        // Shift+Right: one second on; O takes it as the end.
        QTest::keyClick(picture, Qt::Key_Right, Qt::ShiftModifier);
        QVERIFY(frameAt(1.033333));
        QCOMPARE(w()->labCurrent->text(), QStringLiteral("00:00:01"));
        QCOMPARE(w()->tkbProgress->Position(), 1);
        QTest::keyClick(picture, Qt::Key_O);
        QCOMPARE(w()->edtEnd->text(), QStringLiteral("00:00:01.033"));
        QCOMPARE(w()->EndSecondsForJob(), w()->FilterGraph->CurrentFrameTime());
        QCOMPARE(w()->labLength->text(), QStringLiteral("The length of the marked rang is 00:00:01"));
        QTest::keyClick(picture, Qt::Key_Left, Qt::ShiftModifier);
        QVERIFY(frameAt(0.033333));

        // End: the last frame.
        QTest::keyClick(picture, Qt::Key_End);
        QTRY_VERIFY_WITH_TIMEOUT(w()->FilterGraph->CurrentFrameTime() > 3.9, kWait);
        QCOMPARE(w()->labCurrent->text(), QStringLiteral("00:00:04"));

        // Ctrl+O opens, F1 shows the help.
        int opened = 0;
        SetOpenDialogHook([&](QWidget*, const QString&) {
            ++opened;
            return QString();
        });
        QTest::keyClick(picture, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(opened, 1);
        QTest::keyClick(picture, Qt::Key_F1);
        QCOMPARE(m_shell->opened, QStringList{w()->HelpFile});

        // The same from the position bar; while playing, no frame step.
        w()->tkbProgress->setFocus(Qt::TabFocusReason);
        QTest::keyClick(w()->tkbProgress, Qt::Key_Home);
        QVERIFY(frameAt(0));
        QTest::keyClick(w()->tkbProgress, Qt::Key_Space);
        QVERIFY(w()->Playing());
        QTest::keyClick(w()->tkbProgress, Qt::Key_Space);
        QTest::keyClick(w()->tkbProgress, Qt::Key_Right);
        QTRY_VERIFY_WITH_TIMEOUT(w()->FilterGraph->CurrentFrameTime() > 0, kWait);
        QVERIFY2(m_log->shown.isEmpty(), qPrintable(m_log->lastText()));
    }

    // While a text field has the focus, the keys are the field's: no shortcut acts.
    void noShortcutWhileTyping()
    {
        showActive();
        openPaused();
        int opened = 0;
        SetOpenDialogHook([&](QWidget*, const QString&) {
            ++opened;
            return QString();
        });
        const double frameBefore = w()->FilterGraph->CurrentFrameTime();
        for (QLineEdit* field : {w()->edtSource, w()->edtStart, w()->edtSectionQty, w()->edtOutputDir}) {
            field->setFocus(Qt::MouseFocusReason);
            field->clear();
            QTest::keyClicks(field, "io ");
            QTest::keyClick(field, Qt::Key_Left);
            QTest::keyClick(field, Qt::Key_Right, Qt::ShiftModifier);
            QTest::keyClick(field, Qt::Key_Home);
            QTest::keyClick(field, Qt::Key_End);
            QTest::keyClick(field, Qt::Key_O, Qt::ControlModifier);
            QTest::keyClick(field, Qt::Key_F1);
            QCOMPARE(field->text(), QStringLiteral("io "));
            QVERIFY(field->hasFocus());
        }
        QCoreApplication::processEvents();
        QCOMPARE(opened, 0);
        QVERIFY(m_shell->opened.isEmpty());
        QVERIFY(!w()->Playing());
        QVERIFY(w()->labStart->isHidden());
        QVERIFY(w()->labEnd->isHidden());
        QTest::qWait(200);
        QCOMPARE(w()->FilterGraph->CurrentFrameTime(), frameBefore);
    }

    // Esc closes each dialog as its Cancel does (About has only OK).
    void escapeClosesEachDialog()
    {
        showActive();
        const QList<QWidget*> dialogs = {SettingForm, AboutForm, opSettingForm, SizeForm};
        for (QWidget* dialog : dialogs) {
            if (dialog == SettingForm)
                w()->sbtnSettingsClick();
            else if (dialog == AboutForm)
                w()->sbtnAboutClick();
            else if (dialog == opSettingForm)
                w()->BitBtn1Click();
            else
                SizeForm->show();
            QVERIFY(dialog->isVisible());
            QWidget* target = dialog->focusWidget() ? dialog->focusWidget() : dialog;
            QTest::keyClick(target, Qt::Key_Escape);
            QTRY_VERIFY2(!dialog->isVisible(), qPrintable(dialog->objectName()));
            QTRY_VERIFY(w()->isEnabled());
        }
        // Cancel semantics: what was changed in Settings is dropped.
        const bool overwrite = SettingForm->chkOverwrite->isChecked();
        w()->sbtnSettingsClick();
        SettingForm->chkOverwrite->setChecked(!overwrite);
        QTest::keyClick(SettingForm->chkOverwrite, Qt::Key_Escape);
        QTRY_VERIFY(!SettingForm->isVisible());
        w()->sbtnSettingsClick();
        QCOMPARE(SettingForm->chkOverwrite->isChecked(), overwrite);
        SettingForm->btnCancel->click();
    }

    // Every control has a name a screen reader reads; Split is found and pressed through
    // the accessibility interface.
    void screenReadersFindAndPressSplit()
    {
        showActive();
        const QList<QPair<QWidget*, QString>> names = {
            {w()->sbtnOpen, "Open Video"},        {w()->sbtnSettings, "Settings"},
            {w()->sbtnAbout, "About"},            {w()->sbtnHelp, "Help"},
            {w()->sbtnPlayPreview, "Play"},       {w()->sbtnPausePreview, "Pause"},
            {w()->sbtnStopPreview, "Stop"},       {w()->sbtnSelStart, "Start Time"},
            {w()->sbtnSelEnd, "End time"},        {w()->sbtnErase, "Clear"},
            {w()->tkbProgress, "Position"},       {w()->edtSource, "Source"},
            {w()->edtStart, "Start Time"},        {w()->edtEnd, "End Time"},
            {w()->edtSectionQty, "Equal sections"},
            {w()->BitBtn1, "Detail"},             {w()->edtOutputDir, "Output Path"},
            {w()->bbtnBrowse, "Browse"},          {w()->imgStart, "Split"},
            {w()->imgCancel, "Stop"},             {w()->rdbStartEnd, "Split the marked rang out."},
            {w()->rdbEqual, "Split the marked rang to"}};
        for (const auto& [widget, name] : names) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(widget);
            QVERIFY(a);
            QCOMPARE(a->text(QAccessible::Name), name);
        }
        // The profile list reads its entry as its name on this platform; its label is named
        // through the label relation.
        QCOMPARE(w()->cmbProfile->accessibleName(), QStringLiteral("Output Profile"));
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(w()->cmbProfile);
        bool labelled = false;
        for (const auto& relation : list->relations(QAccessible::Label))
            labelled = labelled || relation.first->object() == w()->Label10;
        QVERIFY(labelled);
        // And no control that takes the focus goes without one.
        for (QWidget* c : w()->findChildren<QWidget*>())
            if (c->focusPolicy() != Qt::NoFocus && !c->isWindow())
                QVERIFY2(!QAccessible::queryAccessibleInterface(c)->text(QAccessible::Name).isEmpty(),
                         qPrintable(c->objectName() + " " + c->metaObject()->className()));

        QList<QAccessibleInterface*> all;
        CollectAccessible(QAccessible::queryAccessibleInterface(w()), all);
        QAccessibleInterface* split = nullptr;
        for (QAccessibleInterface* a : all)
            if (a->text(QAccessible::Name) == QLatin1String("Split") && !a->state().invisible)
                split = a;
        QVERIFY(split);
        QCOMPARE(split->role(), QAccessible::Button);
        QVERIFY(split->actionInterface());
        QVERIFY(split->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
        split->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(m_log->shown.size(), 1);
        QCOMPARE(m_log->lastText(), kNoSource);
    }

    // A double click on Split starts one job; its second press, on the Stop face that took
    // Split's place, asks nothing. When the job is done and no file manager can be started
    // for the output folder, that is said with the folder.
    void doubleClickOnSplitStartsOnce()
    {
        showActive();
        FakeEncoder fake;
        fake.SetScript("wait go\noutput\nexit 0\n");
        QTemporaryDir out;
        QVERIFY(PrepareJob(m_clip, "00:00:00", "00:00:02", 0, out.path()));
        SettingForm->chkOpenDir->setChecked(true);
        w()->EncoderPath = FakeEncoder::Program();
        m_shell->starts = false;

        const QPoint at = w()->imgStart->rect().center();
        const auto secondHalf = [&] {
            // What the window delivers for the second press of a double click: a double
            // click event to the control now under the pointer, then the release.
            QWidget* under = w()->childAt(w()->imgStart->mapTo(w(), at));
            QVERIFY(under);
            const QPoint local = under->mapFrom(w(), w()->imgStart->mapTo(w(), at));
            QMouseEvent dbl(QEvent::MouseButtonDblClick, local, under->mapToGlobal(local), Qt::LeftButton,
                            Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(under, &dbl);
            QMouseEvent up(QEvent::MouseButtonRelease, local, under->mapToGlobal(local), Qt::LeftButton,
                           Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(under, &up);
        };
        QWidget* underSecond = nullptr;
        JobDriver driver;
        driver.Then([] { return MainForm->imgCancel->isVisible() && MainForm->CurrentRun; },
                    [&] {
                        underSecond = w()->childAt(w()->imgStart->mapTo(w(), at));
                        secondHalf();
                        fake.Go("go");
                    });
        driver.Start();
        QTest::mousePress(w()->imgStart, Qt::LeftButton, {}, at);
        QTest::mouseRelease(w()->imgStart, Qt::LeftButton, {}, at);
        driver.Stop();
        QVERIFY(!driver.TimedOut());
        QCOMPARE(underSecond, static_cast<QWidget*>(w()->imgCancel));
        QCOMPARE(fake.Runs().size(), 1);
        QStringList texts;
        for (const MessageRequest& r : m_log->shown)
            texts << r.text;
        QCOMPARE(texts, QStringList({"Splitting is completed successfully.",
                                     QString("No file manager could be started to open the folder \"%1\".")
                                         .arg(w()->edtOutputDir->text())}));
        QVERIFY(w()->imgStart->isVisible());

        // Without a source the job is refused; the double click still says so only once.
        m_log->clear();
        w()->edtSource->setText(m_app->file("gone.mp4"));
        QTest::mousePress(w()->imgStart, Qt::LeftButton, {}, at);
        QTest::mouseRelease(w()->imgStart, Qt::LeftButton, {}, at);
        secondHalf();
        QCOMPARE(m_log->shown.size(), 1);
    }

    // A file dropped on a field, the picture or any other control opens as a drop on the
    // window does; the field keeps its text.
    void dropsOnAnyControlOpenTheFile()
    {
        showActive();
        const QString clip = m_app->file("dropped clip.mp4");
        QVERIFY(QFile::copy(m_clip, clip));
        QList<QWidget*> targets = {w()->edtSource, w()->edtStart, w()->edtOutputDir, w()->VideoWindow,
                                   w()->cmbProfile, w()->tkbProgress, w()->labLength};
        for (QWidget* target : targets) {
            const QPoint inWindow = target->mapTo(w(), target->rect().center());
            QWidget* child = w()->childAt(inWindow);
            QVERIFY2(child, qPrintable(target->objectName()));
            w()->edtSource->setText("typed");
            auto* lineEdit = qobject_cast<QLineEdit*>(child);
            const QString fieldText = lineEdit ? lineEdit->text() : QString();
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(clip)});
            mime.setText(clip);
            const QPoint local = child->mapFrom(w(), inWindow);
            QDragEnterEvent enter(local, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(child, &enter);
            QVERIFY2(enter.isAccepted(), qPrintable(child->objectName()));
            QDragMoveEvent move(local, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(child, &move);
            QVERIFY2(move.isAccepted(), qPrintable(child->objectName() + " " + child->metaObject()->className()));
            QDropEvent drop(local, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(child, &drop);
            QCOMPARE(w()->edtSource->text(), clip);
            if (lineEdit && lineEdit != w()->edtSource)
                QCOMPARE(lineEdit->text(), fieldText);
        }
        QVERIFY2(m_log->shown.isEmpty(), qPrintable(m_log->lastText()));
        // An unsupported file dropped on a field is named, and nothing is typed.
        const QString notes = m_app->file("notes.txt");
        m_app->write("notes.txt", "x");
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(notes)});
        mime.setText(notes);
        QDragEnterEvent enter(QPoint(4, 4), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w()->edtStart, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(4, 4), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w()->edtStart, &drop);
        QCOMPARE(w()->edtStart->text(), QStringLiteral("00:00:00"));
        QCOMPARE(m_log->shown.size(), 1);
        QVERIFY(m_log->lastText().contains(notes));
    }

    // No caption, time or profile name is cut off, at the default font and at a 1.25 times
    // larger one; the larger font makes a larger window with the same regions.
    void captionsFitTheFont_data()
    {
        QTest::addColumn<double>("scale");
        QTest::newRow("default") << 1.0;
        QTest::newRow("1.25x") << 1.25;
    }
    void captionsFitTheFont()
    {
        QFETCH(double, scale);
        const QFont original = QApplication::font();
        QFont big = original;
        big.setPointSizeF(original.pointSizeF() * scale);
        QApplication::setFont(big);
        m_forms.reset();
        m_forms = std::make_unique<FormsFixture>(m_app->path());
        QApplication::setFont(original);
        w()->show();
        QVERIFY(QTest::qWaitForWindowExposed(w()));
        if (scale > 1) {
            QVERIFY(w()->LayoutScale > 1.1);
            QVERIFY(w()->width() > 840 && w()->height() > 448);
        }
        // The regions keep their places.
        QCOMPARE(w()->panToolbar->geometry().top(), 0);
        QCOMPARE(w()->panLeft->geometry().top(), w()->panToolbar->geometry().bottom() + 1);
        QCOMPARE(w()->panRight->geometry().left(), w()->panLeft->geometry().right() + 1);
        QCOMPARE(w()->panRight->geometry().right(), w()->width() - 1);

        const auto fits = [](QWidget* c, int textWidth, int room) {
            QVERIFY2(textWidth <= room, qPrintable(QString("%1: %2 px of text in %3 px")
                                                       .arg(c->objectName()).arg(textWidth).arg(room)));
        };
        for (QLabel* l : w()->findChildren<QLabel*>())
            if (!l->text().isEmpty() && l->pixmap().isNull())
                fits(l, l->fontMetrics().horizontalAdvance(l->text()), l->contentsRect().width());
        for (QToolButton* b : w()->findChildren<QToolButton*>())
            fits(b, b->fontMetrics().horizontalAdvance(b->text()), b->width() - 6); // frame and padding
        for (QAbstractButton* b : w()->findChildren<QAbstractButton*>()) {
            if (qobject_cast<QToolButton*>(b) || b->isHidden())
                continue;
            QStyleOptionButton opt;
            opt.initFrom(b);
            opt.text = b->text();
            opt.icon = b->icon();
            opt.iconSize = b->iconSize();
            const bool radio = qobject_cast<QRadioButton*>(b);
            const QRect room =
                b->style()->subElementRect(radio ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents, &opt, b);
            const int icon = b->icon().isNull() ? 0 : b->iconSize().width() + 4;
            fits(b, b->fontMetrics().horizontalAdvance(b->text()) + icon, room.width());
        }
        QStyleOptionComboBox opt;
        opt.initFrom(w()->cmbProfile);
        const QRect field = w()->cmbProfile->style()->subControlRect(QStyle::CC_ComboBox, &opt,
                                                                     QStyle::SC_ComboBoxEditField, w()->cmbProfile);
        QVERIFY(w()->cmbProfile->count() >= 5);
        for (int i = 0; i < w()->cmbProfile->count(); ++i)
            fits(w()->cmbProfile, w()->cmbProfile->fontMetrics().horizontalAdvance(w()->cmbProfile->itemText(i)),
                 field.width());
        for (QLineEdit* e : {w()->edtStart, w()->edtEnd})
            fits(e, e->fontMetrics().horizontalAdvance("00:00:00.000"), e->contentsRect().width() - 4);
        fits(w()->labLength,
             w()->labLength->fontMetrics().horizontalAdvance("The length of the marked rang is 00:00:00.000"),
             w()->labLength->width());
    }
};

VT_TEST_MAIN(AppKeyboardTest)
#include "app_keyboard.moc"
