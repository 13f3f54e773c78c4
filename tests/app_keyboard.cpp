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
#include "split/SectionModeRow.h"

#include <QAccessible>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QToolButton>
#include <algorithm>
#include <functional>
#include <memory>

namespace {

constexpr int kWait = 30000;
const QString kNoSource = QStringLiteral("Please specify a valid input video file.");
const QString kNoEnd = QStringLiteral("Please varify the End Time you selected.");

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
        OpenSourceAndWait(m_clip);
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
        openPaused();
        TMainForm* f = w();
        // Tracks takes the focus once the source's tracks have been listed.
        QTRY_VERIFY_WITH_TIMEOUT(f->btnTracks->isEnabled(), 30000);
        // The two split modes are one stop, the checked one; arrows move between them.
        const QList<QWidget*> order = {f->sbtnOpen,     f->sbtnSettings,     f->sbtnAbout,       f->sbtnHelp,
                                       f->sbtnSegments, f->tkbProgress,  f->sbtnPlayPreview,  f->sbtnPausePreview, f->sbtnStopPreview,
                                       f->sbtnSelStart, f->sbtnSelEnd,       f->sbtnErase,       f->edtSource,
                                       f->rdbStartEnd,  f->edtStart,         f->edtEnd,          f->edtSectionQty,
                                       f->SectionModes->cmbSectionMode, f->SectionModes->edtSectionValue,
                                       f->cmbProfile,   f->btnTracks,        f->BitBtn1,          f->edtOutputDir,    f->bbtnBrowse,
                                       f->imgStart,     f->btnAddToQueue,    f->btnQueue,        f->sbtnOpen};
        f->sbtnOpen->setFocus(Qt::TabFocusReason);
        QList<QWidget*> visited{QApplication::focusWidget()};
        while (visited.size() < order.size()) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget();
        }
        QCOMPARE(visited, order);
        f->rdbStartEnd->setFocus(Qt::TabFocusReason);
        QTest::keyClick(f->rdbStartEnd, Qt::Key_Down);
        QVERIFY(f->rdbEqual->hasFocus() && f->rdbEqual->isChecked());
        QTest::keyClick(f->rdbEqual, Qt::Key_Up);
        QVERIFY(f->rdbStartEnd->hasFocus() && f->rdbStartEnd->isChecked());

        int opened = 0;
        SetOpenDialogHook([&](QWidget*, const QString&) { return ++opened, QString(); });
        int picked = 0;
        SetFolderPickerHook([&](QWidget*, const QString&, QString*) { return ++picked, false; });
        // Each button, what pressing it shows, and how to close what it opened.
        const QList<std::tuple<QWidget*, std::function<bool()>, std::function<void()>>> buttons = {
            {f->sbtnOpen, [&] { return opened > 0; }, [&] { opened = 0; }},
            {f->sbtnHelp, [&] { return !m_shell->opened.isEmpty(); }, [&] { m_shell->opened.clear(); }},
            {f->sbtnAbout, [] { return AboutForm->isVisible(); }, [] { AboutForm->close(); }},
            {f->sbtnSettings, [] { return SettingForm->isVisible(); }, [] { SettingForm->btnCancel->click(); }},
            {f->BitBtn1, [] { return opSettingForm->isVisible(); }, [] { opSettingForm->Button2->click(); }},
            {f->bbtnBrowse, [&] { return picked > 0; }, [&] { picked = 0; }},
            {f->sbtnPlayPreview, [f] { return f->Playing(); }, [] {}},
            {f->sbtnStopPreview, [f] { return !f->Playing(); }, [f] { f->sbtnPlayPreviewClick(); }},
            {f->sbtnPausePreview, [f] { return !f->Playing(); }, [] {}},
            {f->sbtnSelStart, [f] { return !f->labStart->isHidden(); }, [] {}},
            {f->sbtnSelEnd, [f] { return !f->labEnd->isHidden(); }, [] {}},
            {f->sbtnErase, [f] { return f->labStart->isHidden() && f->labEnd->isHidden(); }, [] {}},
            // Split checks the job at once: the end time is still 0.
            {f->imgStart, [&] { return m_log->lastText() == kNoEnd; }, [&] { m_log->clear(); }},
        };
        for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return}) {
            for (const auto& [button, pressed, close] : buttons) {
                f->activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(f));
                button->setFocus(Qt::TabFocusReason);
                QVERIFY(button->hasFocus());
                QTest::keyClick(button, key);
                QTRY_VERIFY2(pressed(), qPrintable(button->objectName()));
                close();
            }
        }
        QCOMPARE(m_log->shown.size(), 0);
    }

    // Each shortcut, from the picture and from the position bar; the marks take the frame
    // shown, to the millisecond in their fields and exactly for the job.
    void shortcutsDriveThePlayerAndTheMarks()
    {
        showActive();
        openPaused();
        QWidget* picture = w()->VideoWindow;
        QTest::mouseClick(picture, Qt::LeftButton); // a click on the picture gives it the focus
        QVERIFY(picture->hasFocus());
        QCOMPARE(w()->FilterGraph->FrameDuration(), 1.0 / 30);
        const auto key = [&](Qt::Key k, Qt::KeyboardModifiers m = {}) { QTest::keyClick(picture, k, m); };

        key(Qt::Key_Space);
        QVERIFY(w()->Playing());
        key(Qt::Key_Space);
        QVERIFY(!w()->Playing());
        key(Qt::Key_Home);
        QVERIFY(frameAt(0));
        key(Qt::Key_Right);
        QVERIFY(frameAt(0.033333));
        key(Qt::Key_Right);
        QVERIFY(frameAt(0.066667));
        key(Qt::Key_Left);
        QVERIFY(frameAt(0.033333));
        key(Qt::Key_I);
        QCOMPARE(w()->edtStart->text(), QStringLiteral("00:00:00.033"));
        QCOMPARE(w()->StartSecondsForJob(), w()->FilterGraph->CurrentFrameTime());
        QCOMPARE(ParseTimeCode(w()->StartTextForJob()), w()->FilterGraph->CurrentFrameTime());
        key(Qt::Key_Right, Qt::ShiftModifier);
        QVERIFY(frameAt(1.033333));
        QCOMPARE(w()->labCurrent->text(), QStringLiteral("00:00:01.033")); // the picture's, while paused
        key(Qt::Key_O);
        QCOMPARE(w()->edtEnd->text(), QStringLiteral("00:00:01.033"));
        QCOMPARE(w()->EndSecondsForJob(), w()->FilterGraph->CurrentFrameTime());
        QCOMPARE(w()->labLength->text(), QStringLiteral("The length of the marked rang is 00:00:01"));
        key(Qt::Key_Left, Qt::ShiftModifier);
        QVERIFY(frameAt(0.033333));
        key(Qt::Key_End);
        QTRY_VERIFY_WITH_TIMEOUT(w()->FilterGraph->CurrentFrameTime() > 3.9, kWait); // the last frame
        QCOMPARE(w()->labCurrent->text(), FormatPositionTime(w()->FilterGraph->CurrentFrameTime()));
        int opened = 0;
        SetOpenDialogHook([&](QWidget*, const QString&) { return ++opened, QString(); });
        key(Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(opened, 1);
        key(Qt::Key_F1);
        QCOMPARE(m_shell->opened, QStringList{w()->HelpFile});
        // The position bar passes them on.
        QTest::keyClick(w()->tkbProgress, Qt::Key_Home);
        QVERIFY(frameAt(0));
        QVERIFY2(m_log->shown.isEmpty(), qPrintable(m_log->lastText()));
    }

    // While a text field has the focus, the keys are the field's: no shortcut acts.
    void noShortcutWhileTyping()
    {
        showActive();
        openPaused();
        int opened = 0;
        SetOpenDialogHook([&](QWidget*, const QString&) { return ++opened, QString(); });
        for (QLineEdit* field : {w()->edtSource, w()->edtStart, w()->edtSectionQty, w()->edtOutputDir}) {
            field->setFocus(Qt::MouseFocusReason);
            field->clear();
            QTest::keyClicks(field, "io ");
            for (const auto& [k, m] : QList<QPair<Qt::Key, Qt::KeyboardModifiers>>{
                     {Qt::Key_Left, {}}, {Qt::Key_Right, Qt::ShiftModifier}, {Qt::Key_Home, {}},
                     {Qt::Key_End, {}}, {Qt::Key_O, Qt::ControlModifier}, {Qt::Key_F1, {}}})
                QTest::keyClick(field, k, m);
            QCOMPARE(field->text(), QStringLiteral("io "));
            QVERIFY(field->hasFocus());
        }
        QTest::qWait(200);
        QCOMPARE(opened, 0);
        QVERIFY(m_shell->opened.isEmpty());
        QVERIFY(!w()->Playing());
        QVERIFY(w()->labStart->isHidden() && w()->labEnd->isHidden());
        QCOMPARE(w()->FilterGraph->CurrentFrameTime(), 1.0);
    }

    // Esc closes each dialog as its Cancel does (About has only OK): what was changed in
    // Settings is dropped.
    void escapeClosesEachDialog()
    {
        showActive();
        const bool overwrite = SettingForm->chkOverwrite->isChecked();
        const QList<QPair<QWidget*, std::function<void()>>> dialogs = {
            {SettingForm, [] { MainForm->sbtnSettingsClick(); }}, {AboutForm, [] { MainForm->sbtnAboutClick(); }},
            {opSettingForm, [] { MainForm->BitBtn1Click(); }},     {SizeForm, [] { SizeForm->show(); }}};
        for (const auto& [dialog, show] : dialogs) {
            show();
            QVERIFY(dialog->isVisible());
            SettingForm->chkOverwrite->setChecked(!overwrite);
            QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, Qt::Key_Escape);
            QTRY_VERIFY2(!dialog->isVisible(), qPrintable(dialog->objectName()));
            QTRY_VERIFY(w()->isEnabled());
            if (dialog == SettingForm)
                QCOMPARE(SettingForm->chkOverwrite->isChecked(), overwrite);
        }
    }

    // Every control has a name a screen reader reads; Split is found and pressed through
    // the accessibility interface.
    void screenReadersFindAndPressSplit()
    {
        showActive();
        TMainForm* f = w();
        const QList<QPair<QWidget*, const char*>> names = {
            {f->sbtnOpen, "Open Video"}, {f->sbtnSelEnd, "End time"},       {f->tkbProgress, "Position"},
            {f->edtSource, "Source"},    {f->edtStart, "Start Time"},       {f->edtEnd, "End Time"},
            {f->imgStart, "Split"},      {f->edtSectionQty, "Equal sections"}, {f->edtOutputDir, "Output Path"},
            {f->imgCancel, "Stop"},      {f->BitBtn1, "Detail"},            {f->rdbEqual, "Split the marked rang to"}};
        for (const auto& [widget, name] : names)
            QCOMPARE(QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name), QString(name));
        // The profile list reads its entry as its name here; its label comes through the
        // label relation.
        QCOMPARE(f->cmbProfile->accessibleName(), QStringLiteral("Output Profile"));
        const auto relations = QAccessible::queryAccessibleInterface(f->cmbProfile)->relations(QAccessible::Label);
        QVERIFY(std::any_of(relations.begin(), relations.end(),
                            [f](const auto& r) { return r.first->object() == f->Label10; }));
        // No control that takes the focus goes without a name.
        for (QWidget* c : f->findChildren<QWidget*>())
            if (c->focusPolicy() != Qt::NoFocus && !c->isWindow())
                QVERIFY2(!QAccessible::queryAccessibleInterface(c)->text(QAccessible::Name).isEmpty(),
                         qPrintable(c->objectName()));

        QList<QAccessibleInterface*> all;
        CollectAccessible(QAccessible::queryAccessibleInterface(f), all);
        const auto split = std::find_if(all.begin(), all.end(), [](QAccessibleInterface* a) {
            return a->text(QAccessible::Name) == QLatin1String("Split") && !a->state().invisible;
        });
        QVERIFY(split != all.end());
        QCOMPARE((*split)->role(), QAccessible::Button);
        QVERIFY((*split)->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
        (*split)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(m_log->shown.size(), 1);
        QCOMPARE(m_log->lastText(), kNoSource);
    }

    // A double click on Split starts one job; its second press lands on the Stop face that
    // took Split's place and asks nothing. When no file manager can be started for the
    // output folder at the end, that is said with the folder.
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

        const QPoint at = w()->imgStart->mapTo(w(), w()->imgStart->rect().center());
        QWidget* underSecond = nullptr;
        // What the window delivers for the second press of a double click: a double-click
        // event to the control now under the pointer, then the release.
        const auto secondHalf = [&] {
            underSecond = w()->childAt(at);
            const QPoint local = underSecond->mapFrom(w(), at);
            QMouseEvent dbl(QEvent::MouseButtonDblClick, local, underSecond->mapToGlobal(local), Qt::LeftButton,
                            Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(underSecond, &dbl);
            QMouseEvent up(QEvent::MouseButtonRelease, local, underSecond->mapToGlobal(local), Qt::LeftButton,
                           Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(underSecond, &up);
        };
        JobDriver driver;
        driver.Then([] { return MainForm->imgCancel->isVisible() && MainForm->CurrentRun; },
                    [&] {
                        secondHalf();
                        fake.Go("go");
                    });
        driver.Start();
        QTest::mouseClick(w()->imgStart, Qt::LeftButton, {}, w()->imgStart->rect().center());
        QVERIFY(QTest::qWaitFor([] { return MainForm->JobState() == JobController::State::Idle; }, 120000));
        driver.Stop();
        QVERIFY(!driver.TimedOut());
        QCOMPARE(underSecond, static_cast<QWidget*>(w()->imgCancel));
        QCOMPARE(fake.Runs().size(), 1);
        QCOMPARE(m_log->shown.size(), 2);
        QCOMPARE(m_log->shown.first().text, QStringLiteral("Splitting is completed successfully.\n\n1 file was written to %1.")
                                                 .arg(w()->edtOutputDir->text()));
        QCOMPARE(m_log->lastText(), QString("No file manager could be started to open the folder \"%1\".")
                                        .arg(w()->edtOutputDir->text()));
    }

    // A file dropped on a field, the picture or any other control opens as a drop on the
    // window does; a field keeps its text, and an unsupported file is named.
    void dropsOnAnyControlOpenTheFile()
    {
        showActive();
        const QString clip = m_app->file("dropped clip.mp4");
        QVERIFY(QFile::copy(m_clip, clip));
        m_app->write("notes.txt", "x");
        const auto dropOn = [](QWidget* target, const QString& file) {
            const QPoint inWindow = target->mapTo(MainForm, target->rect().center());
            QWidget* child = MainForm->childAt(inWindow); // the control under the point
            const QPoint local = child->mapFrom(MainForm, inWindow);
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(file)});
            mime.setText(file);
            QDragEnterEvent enter(local, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(child, &enter);
            QDragMoveEvent move(local, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(child, &move);
            QVERIFY2(enter.isAccepted() && move.isAccepted(), qPrintable(child->objectName()));
            QDropEvent drop(local, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(child, &drop);
        };
        for (QWidget* target : QList<QWidget*>{w()->edtSource, w()->edtStart, w()->VideoWindow, w()->cmbProfile,
                                               w()->tkbProgress, w()->labLength}) {
            w()->edtSource->setText("typed");
            dropOn(target, clip);
            QCOMPARE(w()->edtSource->text(), clip);
            QTRY_VERIFY_WITH_TIMEOUT(!w()->OpeningSource(), kWait); // a drop meanwhile is ignored
            QCOMPARE(w()->edtStart->text(), QStringLiteral("00:00:00"));
        }
        QVERIFY2(m_log->shown.isEmpty(), qPrintable(m_log->lastText()));
        dropOn(w()->edtEnd, m_app->file("notes.txt"));
        QCOMPARE(w()->edtEnd->text(), QStringLiteral("00:00:00"));
        QCOMPARE(m_log->shown.size(), 1);
        QVERIFY(m_log->lastText().contains(m_app->file("notes.txt")));
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
        TMainForm* f = w();
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f));
        QCOMPARE(f->LayoutScale > 1.1, scale > 1);
        QCOMPARE(f->panLeft->geometry().top(), f->panToolbar->geometry().bottom() + 1);
        QCOMPARE(f->panRight->geometry().left(), f->panLeft->geometry().right() + 1);
        QCOMPARE(f->panRight->geometry().right(), f->width() - 1);

        const auto fits = [](QWidget* c, const QString& text, int room) {
            const int width = c->fontMetrics().horizontalAdvance(text);
            QVERIFY2(width <= room, qPrintable(QString("%1: %2 px in %3").arg(c->objectName()).arg(width).arg(room)));
        };
        for (QLabel* l : f->findChildren<QLabel*>())
            if (l->pixmap().isNull())
                fits(l, l->text(), l->contentsRect().width());
        for (QToolButton* b : f->findChildren<QToolButton*>())
            fits(b, b->text(), b->width() - 6); // less the frame and the padding
        for (QAbstractButton* b : f->findChildren<QAbstractButton*>()) {
            const bool radio = qobject_cast<QRadioButton*>(b);
            if (!radio && !qobject_cast<QPushButton*>(b))
                continue;
            QStyleOptionButton opt;
            opt.initFrom(b);
            const QRect room = b->style()->subElementRect(radio ? QStyle::SE_RadioButtonContents
                                                                : QStyle::SE_PushButtonContents, &opt, b);
            fits(b, b->text(), room.width() - (b->icon().isNull() ? 0 : b->iconSize().width() + 4));
        }
        QStyleOptionComboBox opt;
        opt.initFrom(f->cmbProfile);
        const int field = f->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField,
                                                     f->cmbProfile).width();
        for (int i = 0; i < f->cmbProfile->count(); ++i)
            fits(f->cmbProfile, f->cmbProfile->itemText(i), field);
        fits(f->edtStart, "00:00:00.000", f->edtStart->contentsRect().width() - 4);
        fits(f->labLength, "The length of the marked rang is 00:00:00.000", f->labLength->width());
    }
};

VT_TEST_MAIN(AppKeyboardTest)
#include "app_keyboard.moc"
