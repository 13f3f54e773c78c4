// The main window as the user meets it: caption, controls, faces, opening sources.
#include "TestSupport.h"
#include "about/ProgramInfo.h"
#include "app/ImageControl.h"
#include "app/MainForm.h"
#include "app/PathUtils.h"
#include "app/VtError.h"
#include "app/Shell.h"
#include "prefs/SettingsForm.h"
#include "profiles/OutputSettingsForm.h"
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>

class TestMainWindow : public QObject {
    Q_OBJECT

    // Drops a list of local paths on the main window the way the desktop does.
    static void drop(const QStringList& paths)
    {
        QList<QUrl> urls;
        for (const QString& p : paths)
            urls << QUrl::fromLocalFile(p);
        dropUrls(urls);
    }
    static void dropUrls(const QList<QUrl>& urls)
    {
        auto* mime = new QMimeData;
        mime->setUrls(urls);
        // The desktop announces the drag before it drops.
        QDragEnterEvent enter(QPoint(200, 200), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(MainForm, &enter);
        QDropEvent ev(QPointF(200, 200), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(MainForm, &ev);
        delete mime;
        // The player's answer; the window takes no other drop until it has come.
        QTRY_VERIFY_WITH_TIMEOUT(!MainForm->OpeningSource(), 60000);
    }

    static QString touch(const QString& path)
    {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write("x");
        return path;
    }

private Q_SLOTS:
    void captionAndControls()
    {
        TempAppDir dir(false);
        FormsFixture forms(dir.path());
        QCOMPARE(MainForm->windowTitle(), QStringLiteral("Veltrane V1.8"));
        QCOMPARE(MainForm->AppDir, dir.path());
        QCOMPARE(MainForm->EncoderPath, dir.path() + "wmaspi.dll");
        QCOMPARE(MainForm->HelpFile, dir.path() + "Veltrane.html");
        QCOMPARE(MainForm->labProgramName->text(), QStringLiteral("Veltrane"));
        QCOMPARE(ApplicationTitle(), QStringLiteral("Veltrane"));

        // Captions and initial texts.
        QCOMPARE(MainForm->sbtnOpen->text(), QStringLiteral("Open Video"));
        QCOMPARE(MainForm->sbtnSettings->text(), QStringLiteral("Settings"));
        QCOMPARE(MainForm->sbtnAbout->text(), QStringLiteral("About"));
        QCOMPARE(MainForm->sbtnHelp->text(), QStringLiteral("Help"));
        QCOMPARE(MainForm->sbtnPlayPreview->text(), QStringLiteral("Play"));
        QCOMPARE(MainForm->sbtnPausePreview->text(), QStringLiteral("Pause"));
        QCOMPARE(MainForm->sbtnStopPreview->text(), QStringLiteral("Stop"));
        QCOMPARE(MainForm->sbtnSelStart->text(), QStringLiteral("Start Time"));
        QCOMPARE(MainForm->sbtnSelEnd->text(), QStringLiteral("End time"));
        QCOMPARE(MainForm->sbtnErase->text(), QStringLiteral("Clear"));
        QCOMPARE(MainForm->Label2->text(), QStringLiteral("Source:"));
        QCOMPARE(MainForm->rdbStartEnd->text(), QStringLiteral("Split the marked rang out."));
        QVERIFY(MainForm->rdbStartEnd->isChecked());
        QCOMPARE(MainForm->Label4->text(), QStringLiteral("Start Time:"));
        QCOMPARE(MainForm->edtStart->text(), QStringLiteral("00:00:00"));
        QCOMPARE(MainForm->Label5->text(), QStringLiteral("End Time:"));
        QCOMPARE(MainForm->edtEnd->text(), QStringLiteral("00:00:00"));
        QCOMPARE(MainForm->rdbEqual->text(), QStringLiteral("Split the marked rang to "));
        QCOMPARE(MainForm->Label7->text(), QStringLiteral("equal sections."));
        QVERIFY(MainForm->edtSectionQty->text().isEmpty());
        QCOMPARE(MainForm->Label10->text(), QStringLiteral("Output Profile:"));
        QCOMPARE(MainForm->BitBtn1->text(), QStringLiteral("Detail"));
        QCOMPARE(MainForm->Label3->text(), QStringLiteral("Output Path:"));
        QCOMPARE(MainForm->bbtnBrowse->text(), QStringLiteral("Browse"));
        QVERIFY(MainForm->edtSource->text().isEmpty());
        for (QLabel* l : {MainForm->labLeft, MainForm->labMiddle, MainForm->labRight, MainForm->labCurrent})
            QCOMPARE(l->text(), QStringLiteral("00:00:00"));
        QVERIFY(!MainForm->cmbProfile->isEditable());

        // Hidden at start.
        MainForm->show();
        QVERIFY(!MainForm->labStart->isVisible());
        QVERIFY(!MainForm->labEnd->isVisible());
        QVERIFY(!MainForm->labLength->isVisible());
        QVERIFY(!MainForm->imgCancel->isVisible());
        QVERIFY(MainForm->imgStart->isVisible());
        QVERIFY(!MainForm->panProgress->isVisible());
        QVERIFY(!MainForm->chkPreview->isVisible());
        QVERIFY(MainForm->panbanner->isVisible());
        QCOMPARE(MainForm->panProgress->height(), 289 + 64); // and the timeline strip's height
        QVERIFY(MainForm->panProgress->geometry().bottom() < MainForm->imgStart->geometry().top());
        // Resizable down to the form as drawn, and maximised.
        QCOMPARE(MainForm->minimumSize(), QSize(840, 448 + 64));
        QVERIFY(MainForm->maximumSize().width() > 840 && MainForm->maximumSize().height() > 448);
        QVERIFY(MainForm->windowFlags() & Qt::WindowMaximizeButtonHint);
        QVERIFY(MainForm->windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!MainForm->tmrPreview->isActive());
        QVERIFY(!MainForm->tmrProcess->isActive());
        QCOMPARE(MainForm->tmrPreview->interval(), 1000);
        QCOMPARE(MainForm->tmrProcess->interval(), 1000);
        QCOMPARE(MainForm->JobState(), JobController::State::Idle);
        QVERIFY(!MainForm->SourceLoaded);

        // Tab order of the job region.
        const QList<QWidget*> order = {MainForm->edtSource,     MainForm->rdbStartEnd, MainForm->edtStart,
                                       MainForm->edtEnd,        MainForm->rdbEqual,    MainForm->edtSectionQty,
                                       MainForm->cmbProfile,    MainForm->BitBtn1,     MainForm->edtOutputDir,
                                       MainForm->bbtnBrowse};
        QList<QWidget*> chain;
        QWidget* w = order.first();
        do {
            if (order.contains(w))
                chain << w;
            w = w->nextInFocusChain();
        } while (w != order.first() && chain.size() < order.size());
        QCOMPARE(chain, order);
    }

    void versionFromPreferences()
    {
        TempAppDir dir(false);
        dir.write("Preferences.ini", "[main]\r\nversion = \"2.0\"\r\n");
        FormsFixture forms(dir.path());
        QCOMPARE(MainForm->windowTitle(), QStringLiteral("Veltrane V2.0"));
        QCOMPARE(MainForm->VersionText, QStringLiteral("2.0"));
    }

    void bannerText()
    {
        QCOMPARE(BannerText(QStringLiteral("Veltrane")), QStringLiteral("Veltrane"));
        QCOMPARE(BannerText(QStringLiteral("Big Video Cutter")), QStringLiteral("Video Cutter"));
        QCOMPARE(MainCaption(QStringLiteral("Veltrane"), QStringLiteral("1.8")), QStringLiteral("Veltrane V1.8"));
    }

    // The faces follow the mouse: hover, press, release, and back to normal over a panel.
    void imageButtonFaces()
    {
        TempAppDir dir(false);
        FormsFixture forms(dir.path());
        TMainForm* f = MainForm;
        QCOMPARE(f->iglStart.size(), 6);
        for (const QPixmap& p : f->iglStart)
            QCOMPARE(p.size(), QSize(133, 65));
        auto face = [](TImage* img) { return img->pixmap().toImage(); };
        QCOMPARE(face(f->imgStart), f->iglStart[0].toImage());
        QCOMPARE(face(f->imgCancel), f->iglStart[3].toImage());

        Q_EMIT f->imgStart->mouseMoved();
        QCOMPARE(f->imgStart->Tag, 1);
        QCOMPARE(face(f->imgStart), f->iglStart[1].toImage());
        Q_EMIT f->imgStart->mouseDown(Qt::RightButton); // any button presses the face
        QCOMPARE(f->imgStart->Tag, 2);
        QCOMPARE(face(f->imgStart), f->iglStart[2].toImage());
        Q_EMIT f->imgStart->mouseMoved(); // a move while pressed changes nothing
        QCOMPARE(f->imgStart->Tag, 2);
        Q_EMIT f->imgStart->mouseUp(Qt::RightButton);
        QCOMPARE(f->imgStart->Tag, 1);
        QCOMPARE(face(f->imgStart), f->iglStart[1].toImage());

        Q_EMIT f->imgCancel->mouseDown(Qt::LeftButton);
        QCOMPARE(f->imgCancel->Tag, 2);
        QCOMPARE(face(f->imgCancel), f->iglStart[5].toImage());

        Q_EMIT f->Image4->mouseMoved();
        QCOMPARE(f->imgStart->Tag, 0);
        QCOMPARE(f->imgCancel->Tag, 0);
        QCOMPARE(face(f->imgStart), f->iglStart[0].toImage());
        QCOMPARE(face(f->imgCancel), f->iglStart[3].toImage());

        Q_EMIT f->imgCancel->mouseMoved();
        QCOMPARE(face(f->imgCancel), f->iglStart[4].toImage());
        Q_EMIT f->panLeft->mouseMoved();
        QCOMPARE(f->imgCancel->Tag, 0);
        QCOMPARE(face(f->imgCancel), f->iglStart[3].toImage());
    }

    // The same with the mouse itself: a move over the image is not also a move over the
    // region behind it, and the preview region's background counts as the region.
    void facesFollowTheRealMouse()
    {
        TempAppDir dir(false);
        FormsFixture forms(dir.path());
        TMainForm* f = MainForm;
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f));
        auto face = [](TImage* img) { return img->pixmap().toImage(); };
        const QPoint centre = f->imgStart->rect().center();

        QTest::mouseMove(f->imgStart, centre);
        QTRY_COMPARE(f->imgStart->Tag, 1);
        QTest::mouseMove(f->imgStart, centre + QPoint(3, 2));
        QCOMPARE(f->imgStart->Tag, 1);
        QCOMPARE(face(f->imgStart), f->iglStart[1].toImage());
        QTest::mousePress(f->imgStart, Qt::LeftButton, {}, centre);
        QCOMPARE(f->imgStart->Tag, 2);
        QTest::mouseMove(f->imgStart, centre + QPoint(5, 0));
        QCOMPARE(f->imgStart->Tag, 2);
        QCOMPARE(face(f->imgStart), f->iglStart[2].toImage());
        // Released away from the image: the face goes to hover, and no job starts.
        QTest::mouseRelease(f->imgStart, Qt::LeftButton, {}, QPoint(-30, -30));
        QCOMPARE(f->imgStart->Tag, 1);
        QCOMPARE(f->JobState(), JobController::State::Idle);

        QTest::mouseMove(f->Image2, QPoint(5, f->Image2->height() - 5));
        QTRY_COMPARE(f->imgStart->Tag, 0);
        QCOMPARE(face(f->imgStart), f->iglStart[0].toImage());
        QTest::mouseMove(f->imgStart, centre);
        QTRY_COMPARE(f->imgStart->Tag, 1);
        QTest::mouseMove(f->Image4, QPoint(5, 5));
        QTRY_COMPARE(f->imgStart->Tag, 0);
    }

    // Dropped files: the first one only, compared in lower case, files only, not during a job.
    void dropDecisions()
    {
        TempAppDir dir(false);
        QDir().mkpath(dir.file("Profiles"));
        FormsFixture forms(dir.path());
        const QString txt = touch(dir.file("notes.txt"));
        const QString avi = touch(dir.file("CLIP.AVI"));
        QDir().mkpath(dir.file("folder.avi"));

        {
            MessageLog log;
            drop({txt, avi});
            QVERIFY(MainForm->edtSource->text().isEmpty()); // only the first counts
            QCOMPARE(log.shown.size(), 1);                  // and it is named as unsupported
            QVERIFY2(log.lastText().contains(txt), qPrintable(log.lastText()));
        }
        drop({dir.file("folder.avi")});
        QVERIFY(MainForm->edtSource->text().isEmpty()); // a folder is no video
        drop({dir.file("gone.mp4")});
        QVERIFY(MainForm->edtSource->text().isEmpty());
        // A first item that is no local file is still the first: the video after it is ignored.
        dropUrls({QUrl("https://example.invalid/a.avi"), QUrl::fromLocalFile(avi)});
        QVERIFY(MainForm->edtSource->text().isEmpty());

        MainForm->panProgress->show(); // a job is running
        RunGuarded([&] { drop({avi}); });
        QVERIFY(MainForm->edtSource->text().isEmpty());
        MainForm->panProgress->hide();

        MessageLog log; // the placeholder file may be refused by the player; that is reported
        drop({avi, txt});
        QCOMPARE(MainForm->edtSource->text(), avi);
        QVERIFY(MainForm->SourceLoaded);
        QVERIFY(!MainForm->panbanner->isVisible());

        // A long path is taken whole.
        const QString deep = dir.file(QString(120, 'd') + "/" + QString(120, 'e'));
        QVERIFY(QDir().mkpath(deep));
        const QString longClip = touch(deep + "/clip.mp4");
        QVERIFY(longClip.size() > 260);
        drop({longClip});
        QCOMPARE(MainForm->edtSource->text(), longClip);
    }

    // The program's first argument: a video, or a ".tmp" list file whose first line names one.
    void commandLineSource()
    {
        TempAppDir dir(false);
        QDir().mkpath(dir.file("Profiles"));
        const QString clip = touch(dir.file("a b.mp4"));
        dir.write("list.TMP", (clip + "\nsomething else\n").toUtf8());
        {
            MessageLog log;
            FormsFixture forms(dir.path(), {dir.file("list.TMP")});
            QCOMPARE(MainForm->edtSource->text(), clip);
            QVERIFY(MainForm->acceptDrops());
        }
        QVERIFY(QFile::exists(dir.file("list.TMP"))); // the list file stays

        dir.write("empty.tmp", "");
        dir.write("notes.txt", "x");
        dir.write("names-notes.tmp", dir.file("notes.txt").toUtf8());
        QDir().mkpath(dir.file("dir.mp4"));
        // Nothing named: nothing is opened and nothing reported. A file of another type: it
        // is named in a message.
        const QList<QPair<QString, bool>> bad = {
            {dir.file("empty.tmp"), false},   {dir.file("dir.mp4"), false},  {dir.file("missing.mp4"), false},
            {dir.file("missing.tmp"), false}, {QString(), false},            {dir.file("notes.txt"), true},
            {dir.file("names-notes.tmp"), true}};
        for (const auto& [arg, reported] : bad) {
            MessageLog log;
            FormsFixture forms(dir.path(), {arg});
            QVERIFY2(MainForm->edtSource->text().isEmpty(), qPrintable(arg));
            QVERIFY(!MainForm->SourceLoaded);
            QCOMPARE(log.shown.size(), reported ? 1 : 0);
            if (reported)
                QVERIFY2(log.lastText().contains(dir.file("notes.txt")) && log.lastText().contains(".ogv"),
                         qPrintable(log.lastText()));
            QVERIFY(MainForm->acceptDrops());
        }

        // A relative name is taken from the current folder and made absolute, so the output
        // folder beside the source is its real folder.
        dir.write("Preferences.ini", "[Main]\nAptotic=0\n");
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        {
            MessageLog log; // the placeholder is refused by the player
            FormsFixture forms(dir.path(), {"a b.mp4"});
            QVERIFY(QDir::setCurrent(before));
            QCOMPARE(MainForm->edtSource->text(), clip);
            QCOMPARE(MainForm->edtOutputDir->text(), dir.path());
        }
        QDir::setCurrent(before);
    }

    // Open Video: the dialog gets the exact filter; any chosen file is opened unchecked.
    void openDialog()
    {
        TempAppDir dir(false);
        FormsFixture forms(dir.path());
        QString seenFilter;
        QString answer;
        SetOpenDialogHook([&](QWidget*, const QString& filter) {
            seenFilter = filter;
            return answer;
        });
        MainForm->sbtnOpenClick();
        QCOMPARE(seenFilter, BuildOpenFilter());
        QVERIFY(MainForm->edtSource->text().isEmpty()); // cancelled

        answer = touch(dir.file("odd.xyz"));
        MessageLog log;
        RunGuarded([] { MainForm->sbtnOpenClick(); });
        QCOMPARE(MainForm->edtSource->text(), answer);
        SetOpenDialogHook({});
        QVERIFY(QtNameFilters(BuildOpenFilter()).startsWith("All Support Files (*.avi *.mpg *.mpeg *.mp4"));
    }

    // Opening a source resets the range but keeps mode, count and profile.
    void openingKeepsModeAndCount()
    {
        TempAppDir dir;
        dir.write("Preferences.ini", "[Main]\nAptotic=0\n");
        QDir().mkpath(dir.file("sub"));
        const QString clip = dir.file("sub/a.mp4");
        QVERIFY(MakeClip(clip, 2, "160x120"));
        FormsFixture forms(dir.path());
        MessageLog log;
        MainForm->rdbEqual->setChecked(true);
        MainForm->edtSectionQty->setText("4");
        MainForm->cmbProfile->setCurrentIndex(2);
        const QString profile = MainForm->cmbProfile->currentText();
        MainForm->SourceLoaded = true; // as after an earlier source
        MainForm->ApplyStartTime(0.5);
        MainForm->ApplyEndTime(1.5);
        OpenSourceAndWait(clip);
        QVERIFY2(log.shown.isEmpty(), qPrintable(log.lastText()));
        QCOMPARE(MainForm->edtSource->text(), clip);
        QCOMPARE(MainForm->edtOutputDir->text(), dir.path() + "sub/");
        QCOMPARE(MainForm->labRight->text(), QStringLiteral("00:00:02"));
        QVERIFY(MainForm->rdbEqual->isChecked());
        QCOMPARE(MainForm->edtSectionQty->text(), QStringLiteral("4"));
        QCOMPARE(MainForm->cmbProfile->currentText(), profile);
        QCOMPARE(MainForm->edtStart->text(), QStringLiteral("00:00:00"));
        QCOMPARE(MainForm->edtEnd->text(), QStringLiteral("00:00:00"));
        QCOMPARE(MainForm->StartSecondsForJob(), 0.0);
        QVERIFY(MainForm->labStart->isHidden() && MainForm->labEnd->isHidden() && MainForm->labLength->isHidden());
        QCOMPARE(MainForm->JobState(), JobController::State::Idle);
    }

    void helpOpensThroughShell()
    {
        TempAppDir dir(false);
        FormsFixture forms(dir.path());
        ShellLog shell;
        MessageLog log;
        MainForm->sbtnHelpClick();
        QCOMPARE(shell.opened, QStringList{dir.path() + "Veltrane.html"});
        QVERIFY(log.shown.isEmpty());
        // No program to show it: said, with the file's path.
        shell.starts = false;
        MainForm->sbtnHelpClick();
        QCOMPARE(log.shown.size(), 1);
        QCOMPARE(log.lastText(), QStringLiteral("No program could be started to open \"%1\".")
                                     .arg(dir.path() + "Veltrane.html"));
        // A folder and a web address say what was missing.
        QVERIFY(!ShellOpen(dir.path()));
        QCOMPARE(log.lastText(), QStringLiteral("No file manager could be started to open the folder \"%1\".")
                                     .arg(dir.path()));
        QVERIFY(!ShellOpen("https://example.invalid/"));
        QCOMPARE(log.lastText(), QStringLiteral("No web browser could be started to open https://example.invalid/."));
    }

    // An error escaping an event handler is shown once and the program goes on.
    void errorBoxForEscapingErrors()
    {
        MessageLog log;
        QPushButton b;
        QObject::connect(&b, &QPushButton::clicked, [] { throw EVeltraneError("Unable to write to /x/y.ini"); });
        QTest::mouseClick(&b, Qt::LeftButton);
        QCOMPARE(log.shown.size(), 1);
        QCOMPARE(log.shown[0].icon, MsgIcon::Error);
        QCOMPARE(log.shown[0].caption, QStringLiteral("Veltrane"));
        QCOMPARE(log.shown[0].text, QStringLiteral("Unable to write to /x/y.ini."));
        QCOMPARE(ErrorBoxText("Done."), QStringLiteral("Done."));
        QCOMPARE(ErrorBoxText("Failed ($80040265)."), QStringLiteral("Failed ($80040265)."));
        QCOMPARE(ErrorBoxText("List index out of bounds (3)"), QStringLiteral("List index out of bounds (3)"));
        QCOMPARE(ErrorBoxText("abc"), QStringLiteral("abc."));
    }

    // Closing the main window writes the preferences and ends the program, closing a dialog
    // that is still open. It ends the event loop, so it runs last.
    // A drop that arrives while a source is still loading opens nothing in between.
    void dropWhileLoadingIsIgnored()
    {
        TempAppDir dir(false);
        QDir().mkpath(dir.file("Profiles"));
        const QString first = dir.file("first.mp4");
        const QString second = dir.file("second.mp4");
        QVERIFY(MakeClip(first, 2));
        QVERIFY(MakeClip(second, 3));
        FormsFixture forms(dir.path());
        MessageLog log;
        // The timer fires inside the player's wait for the first file.
        QTimer::singleShot(0, [&] { MainForm->WMDropFiles({second}); });
        OpenSourceAndWait(first);
        QTest::qWait(50);
        QCOMPARE(MainForm->edtSource->text(), first);
        QCOMPARE(MainForm->labRight->text(), QStringLiteral("00:00:02"));
        QVERIFY(log.shown.isEmpty());
        // Once loaded, a drop opens as usual.
        MainForm->WMDropFiles({second});
        QCOMPARE(MainForm->edtSource->text(), second);
    }

    void closingEndsTheProgram()
    {
        TempAppDir dir;
        FormsFixture forms(dir.path());
        MessageLog log;
        QFile::remove(dir.file("Preferences.ini"));
        MainForm->show();
        opSettingForm->show(); // the profile dialog leaves the main window usable
        QVERIFY(MainForm->isEnabled());
        QTimer::singleShot(0, MainForm, [] { MainForm->close(); });
        // Only if the program failed to end.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(7); });
        guard.start(60000);
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(!MainForm->isVisible());
        QVERIFY(!opSettingForm->isVisible());
        QVERIFY(QFile::exists(dir.file("Preferences.ini")));
        QVERIFY(log.shown.isEmpty());
    }
};

VT_TEST_MAIN(TestMainWindow)
#include "app_mainwindow.moc"
