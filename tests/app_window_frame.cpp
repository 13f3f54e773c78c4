// The main window's frame: its smallest size is the form as it always was, pixel for pixel;
// a larger window gives the room to the picture, whose shape stays that of the source
// (turned upright, pixels of their own shape); full screen and back; the window's place
// kept in the preferences; the focus drawn on every control; Enter in the dialogs.
#include "TestSupport.h"

#include "about/AboutForm.h"
#include "app/ImageControl.h"
#include "app/MainForm.h"
#include "prefs/PreferencesStore.h"
#include "prefs/SettingsForm.h"
#include "prefs/WindowPlacement.h"
#include "preview/DSTrackBar.h"
#include "preview/FilterGraph.h"
#include "preview/VideoWindow.h"
#include "profiles/CustomSizeForm.h"
#include "profiles/OutputSettingsForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <memory>

namespace {

// The form as drawn, and the timeline strip under the track bar that every window has.
constexpr int kTimeline = 64;
const QSize kSmallest(840, 448 + kTimeline);

constexpr int kWait = 30000;

bool Ffmpeg(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-y"} + args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The bounding box of the lit pixels of a picture on black.
QRect LitArea(const QImage& image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) > 128)
                box |= QRect(x, y, 1, 1);
    return box;
}

// Every control's place, by object name and class, for comparing two layouts.
QStringList Places(QWidget* root)
{
    QStringList out;
    for (QWidget* w : root->findChildren<QWidget*>())
        out << QStringLiteral("%1/%2 %3,%4 %5x%6")
                   .arg(QLatin1String(w->metaObject()->className()), w->objectName())
                   .arg(w->x())
                   .arg(w->y())
                   .arg(w->width())
                   .arg(w->height());
    return out;
}

} // namespace

class WindowFrameTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_media;
    std::unique_ptr<TempAppDir> m_app;
    std::unique_ptr<FormsFixture> m_forms;
    std::unique_ptr<MessageLog> m_log;

    QString media(const QString& name) const { return m_media.filePath(name); }

    void showActive()
    {
        MainForm->show();
        MainForm->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(MainForm));
    }

    // The source paused on a frame that has been painted.
    void openPaused(const QString& clip)
    {
        OpenSourceAndWait(clip); // the opening finishes later and starts playing then
        MainForm->sbtnPausePreviewClick();
        MainForm->FilterGraph->SeekExact(0.4);
        QTRY_VERIFY_WITH_TIMEOUT(MainForm->FilterGraph->CurrentFrameTime() >= 0.39, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!MainForm->FilterGraph->CurrentImage().isNull(), kWait);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_media.isValid());
        // White pictures, so their shape on the black surface is easy to measure.
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "color=c=white:s=320x180:r=25:d=2", "-c:v", "libx264", "-pix_fmt",
                        "yuv420p", media("plain.mp4")}));
        // A phone video: stored 320x180, to be shown turned a quarter, 180x320.
        QVERIFY(Ffmpeg({"-i", media("plain.mp4"), "-c", "copy", "-metadata:s:v:0", "rotate=90", media("rotated.mp4")}));
        // PAL widescreen: 720x576 stored, pixels 64:45 wide, shown 16:9.
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "color=c=white:s=720x576:r=25:d=2", "-vf", "setsar=64/45", "-c:v",
                        "libx264", "-pix_fmt", "yuv420p", media("anamorphic.mp4")}));
    }

    void init()
    {
        m_app = std::make_unique<TempAppDir>();
        m_log = std::make_unique<MessageLog>();
        m_forms = std::make_unique<FormsFixture>(m_app->path());
    }

    void cleanup()
    {
        m_forms.reset();
        m_log.reset();
        m_app.reset();
    }

    void smallestSizeIsTheFormAsDrawn()
    {
        showActive();
        QCOMPARE(MainForm->minimumSize(), kSmallest);
        QCOMPARE(MainForm->size(), kSmallest);
        QVERIFY(MainForm->maximumSize().width() > 4000);
        QVERIFY(MainForm->windowFlags() & Qt::WindowMaximizeButtonHint);
        const QStringList places = Places(MainForm);
        const QImage picture = MainForm->grab().toImage();
        // Larger and back: every control where it was, every pixel as it was.
        MainForm->resize(1500, 950);
        QCOMPARE(MainForm->size(), QSize(1500, 950));
        QVERIFY(Places(MainForm) != places);
        MainForm->resize(500, 300); // below the smallest size
        QCOMPARE(MainForm->size(), kSmallest);
        QCOMPARE(Places(MainForm), places);
        QCOMPARE(MainForm->grab().toImage(), picture);
    }

    void largerWindowGivesTheRoomToThePicture()
    {
        showActive();
        TMainForm* f = MainForm;
        const QRect video = f->VideoWindow->geometry();
        const QRect bar = f->tkbProgress->geometry();
        const QRect play = f->sbtnPlayPreview->geometry();
        const QRect clear = f->sbtnErase->geometry();
        const QRect source = f->edtSource->geometry();
        const QRect face = f->imgStart->geometry();
        const int rightGap = f->width() - f->panRight->geometry().right();
        f->resize(840 + 400, kSmallest.height() + 300);
        QCOMPARE(f->VideoWindow->geometry(), video.adjusted(0, 0, 400, 300));
        QCOMPARE(f->tkbProgress->geometry(), bar.translated(0, 300).adjusted(0, 0, 400, 0));
        QCOMPARE(f->sbtnPlayPreview->geometry(), play.translated(0, 300));
        QCOMPARE(f->sbtnErase->geometry(), clear.translated(0, 300));
        // The job region keeps its width and its fields; the faces stay at its foot.
        QCOMPARE(f->width() - f->panRight->geometry().right(), rightGap);
        QCOMPARE(f->edtSource->geometry(), source);
        QCOMPARE(f->imgStart->geometry(), face.translated(0, 300));
        QVERIFY(f->panProgress->geometry().bottom() < f->imgStart->geometry().top());

        // A strip added under the bar takes its height from the picture, not from the buttons.
        auto* strip = new QWidget;
        f->AddPreviewStrip(strip, 80);
        QCOMPARE(f->minimumHeight(), kSmallest.height() + 80);
        QCOMPARE(f->VideoWindow->height(), video.height() + 300 - 80);
        QCOMPARE(strip->y(), f->tkbProgress->y() + 311 - 256 + kTimeline);
        QCOMPARE(strip->height(), 80);
        QCOMPARE(f->sbtnPlayPreview->geometry(), play.translated(0, 300));
        QVERIFY(strip->geometry().bottom() < f->sbtnPlayPreview->y());
        // One in the job region lies between the output folder and Split, under the progress.
        auto* list = new QWidget;
        f->AddJobStrip(list, 120);
        QVERIFY(list->y() > f->bbtnBrowse->geometry().bottom());
        QVERIFY(list->geometry().bottom() < f->imgStart->y());
        QVERIFY(list->height() >= 120);
        QVERIFY(f->panRight->children().indexOf(list) < f->panRight->children().indexOf(f->panProgress));
    }

    void pictureKeepsTheSourceShape_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<double>("aspect"); // width / height as shown
        QTest::addColumn<QSize>("window");
        QTest::newRow("rotated, smallest") << "rotated.mp4" << 180.0 / 320 << kSmallest;
        QTest::newRow("rotated, wide") << "rotated.mp4" << 180.0 / 320 << QSize(1500, 700);
        QTest::newRow("rotated, tall") << "rotated.mp4" << 180.0 / 320 << QSize(900, 1200);
        QTest::newRow("anamorphic, smallest") << "anamorphic.mp4" << 16.0 / 9 << kSmallest;
        QTest::newRow("anamorphic, wide") << "anamorphic.mp4" << 16.0 / 9 << QSize(1600, 700);
        QTest::newRow("anamorphic, tall") << "anamorphic.mp4" << 16.0 / 9 << QSize(900, 1200);
        QTest::newRow("anamorphic, full screen") << "anamorphic.mp4" << 16.0 / 9 << QSize();
    }

    void pictureKeepsTheSourceShape()
    {
        QFETCH(QString, clip);
        QFETCH(double, aspect);
        QFETCH(QSize, window);
        showActive();
        openPaused(media(clip));
        if (window.isValid()) {
            MainForm->resize(window);
            QCOMPARE(MainForm->size(), window);
        } else {
            MainForm->SetFullScreen(true);
            QVERIFY(MainForm->IsFullScreen());
            QTRY_COMPARE(MainForm->VideoWindow->size(), MainForm->size());
        }
        QWidget* surface = MainForm->VideoWindow->Surface();
        QTRY_COMPARE(surface->size(), MainForm->VideoWindow->size());
        QVERIFY(MainForm->VideoWindow->SurfaceVisible());
        // The picture fills the surface one way and is centred the other.
        QRect lit;
        QTRY_VERIFY_WITH_TIMEOUT((lit = LitArea(surface->grab().toImage()),
                                  lit.width() >= surface->width() - 2 || lit.height() >= surface->height() - 2),
                                 kWait);
        const double shown = double(lit.width()) / lit.height();
        QVERIFY2(qAbs(shown / aspect - 1) < 0.02,
                 qPrintable(QString("%1x%2 in %3x%4").arg(lit.width()).arg(lit.height()).arg(surface->width()).arg(surface->height())));
        QVERIFY(qAbs(lit.center().x() - surface->width() / 2) <= 2 && qAbs(lit.center().y() - surface->height() / 2) <= 2);
    }

    void fullScreenAndBackWithThePlayerKeys()
    {
        showActive();
        TMainForm* f = MainForm;
        f->SetFullScreen(true);
        QVERIFY(!f->IsFullScreen()); // nothing to show yet
        QVERIFY(f->panbanner->isVisible());
        f->resize(1000, 600);
        const QStringList places = Places(f);
        openPaused(media("plain.mp4"));
        const QRect normal = f->geometry();

        QTest::mouseDClick(f->VideoWindow, Qt::LeftButton);
        QVERIFY(f->IsFullScreen());
        QVERIFY(f->windowState() & Qt::WindowFullScreen);
        QTRY_COMPARE(f->VideoWindow->geometry(), f->rect());
        for (QWidget* w : {static_cast<QWidget*>(f->panToolbar), static_cast<QWidget*>(f->panRight),
                           static_cast<QWidget*>(f->tkbProgress), static_cast<QWidget*>(f->sbtnPlayPreview)})
            QVERIFY(!w->isVisible());
        QVERIFY(f->VideoWindow->hasFocus());
        // The player's keys work there: a frame on, a second on, play and pause, a mark.
        const double at = f->FilterGraph->CurrentFrameTime();
        QTest::keyClick(f->VideoWindow, Qt::Key_Right);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(f->FilterGraph->CurrentFrameTime() - (at + 0.04)) < 1e-3, kWait);
        QTest::keyClick(f->VideoWindow, Qt::Key_Right, Qt::ShiftModifier);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(f->FilterGraph->CurrentFrameTime() - (at + 1.04)) < 1e-3, kWait);
        QTest::keyClick(f->VideoWindow, Qt::Key_I);
        QCOMPARE(f->edtStart->text(), QStringLiteral("00:00:01.440"));
        QTest::keyClick(f->VideoWindow, Qt::Key_Space);
        QVERIFY(f->Playing());
        QTest::keyClick(f->VideoWindow, Qt::Key_Space);
        QVERIFY(!f->Playing());

        QTest::keyClick(f->VideoWindow, Qt::Key_Escape);
        QVERIFY(!f->IsFullScreen());
        QVERIFY(!(f->windowState() & Qt::WindowFullScreen));
        QTRY_COMPARE(f->geometry(), normal);
        QCOMPARE(f->minimumSize(), kSmallest);
        QVERIFY(f->panRight->isVisible() && f->panToolbar->isVisible() && f->tkbProgress->isVisible());
        QVERIFY(f->labStart->isVisible()); // the mark made in full screen
        QVERIFY(!f->panbanner->isVisible());
        // F goes there and back as well.
        QTest::keyClick(f->VideoWindow, Qt::Key_F);
        QVERIFY(f->IsFullScreen());
        QTest::keyClick(f->VideoWindow, Qt::Key_F);
        QVERIFY(!f->IsFullScreen());
        QTRY_COMPARE(f->geometry(), normal);
        QStringList now = Places(f);
        // Only what opening a source and the mark changed.
        const auto moved = [](const QStringList& a, const QStringList& b) {
            QStringList d;
            for (int i = 0; i < a.size() && i < b.size(); ++i)
                if (a[i] != b[i] && !a[i].contains("labStart") && !a[i].contains("labEnd")
                    && !a[i].contains("VideoSurface"))
                    d << a[i] + " -> " + b[i];
            return d;
        };
        QCOMPARE(moved(places, now), QStringList());
        // In a text field F is a letter.
        f->edtSource->setFocus();
        QTest::keyClick(f->edtSource, Qt::Key_F);
        QVERIFY(!f->IsFullScreen());
    }

    void placementKeptAcrossRuns()
    {
        showActive();
        if (!MainForm->screen()->availableGeometry().contains(QRect(120, 90, 1100, 700)))
            QSKIP("the screen is too small (run through CTest, which gives it 1600x1000)");
        MainForm->setGeometry(QRect(120, 90, 1100, 700));
        MainForm->FormClose();
        const QString ini = QString::fromUtf8(m_app->read("Preferences.ini"));
        QVERIFY2(ini.contains("[Window]") && ini.contains("Width=1100") && ini.contains("Height=700"), qPrintable(ini));
        m_forms.reset();
        m_forms = std::make_unique<FormsFixture>(m_app->path());
        showActive();
        QCOMPARE(MainForm->size(), QSize(1100, 700));
        QCOMPARE(MainForm->geometry().topLeft(), QPoint(120, 90));
    }

    void placementFromTheFile_data()
    {
        QTest::addColumn<QString>("window"); // the [Window] section, empty for none
        QTest::addColumn<QRect>("expected"); // null: none stored, centred
        const QRect screen(0, 0, 1600, 1000);
        QTest::newRow("an old file") << "" << QRect();
        QTest::newRow("as stored") << "Left=100\nTop=50\nWidth=1000\nHeight=700" << QRect(100, 50, 1000, 700);
        QTest::newRow("smaller than the form") << "Left=100\nTop=50\nWidth=300\nHeight=200" << QRect(100, 50, 840, 448);
        QTest::newRow("larger than the screen") << "Left=0\nTop=0\nWidth=5000\nHeight=4000" << screen;
        QTest::newRow("hanging off the right") << "Left=1400\nTop=100\nWidth=900\nHeight=500" << QRect(700, 100, 900, 500);
        QTest::newRow("off every screen") << "Left=5000\nTop=5000\nWidth=900\nHeight=500"
                                          << QRect(QPoint(350, 250), QSize(900, 500));
        QTest::newRow("above the screen") << "Left=100\nTop=-400\nWidth=900\nHeight=500"
                                          << QRect(QPoint(350, 250), QSize(900, 500));
        QTest::newRow("a number out of range") << "Left=100\nTop=50\nWidth=99999999\nHeight=700" << QRect();
        QTest::newRow("a negative size") << "Left=100\nTop=50\nWidth=-900\nHeight=700" << QRect();
        QTest::newRow("text") << "Left=here\nTop=50\nWidth=900\nHeight=700" << QRect();
        QTest::newRow("a key missing") << "Left=100\nTop=50\nWidth=900" << QRect();
    }

    void placementFromTheFile()
    {
        QFETCH(QString, window);
        QFETCH(QRect, expected);
        QString ini = "[Main]\nVersion=1.8\nProfile=0\n";
        if (!window.isEmpty())
            ini += "[Window]\n" + window + "\n";
        m_app->write("Preferences.ini", ini.toUtf8());
        const WindowPlacement stored = ReadWindowPlacement(PreferencesStore(m_app->file("Preferences.ini"), QString()));
        const QRect screen(0, 0, 1600, 1000);
        QCOMPARE(FitWindowPlacement(stored, QSize(840, 448), {screen}, screen), expected);
        // The program opens with any of them.
        m_forms.reset();
        m_forms = std::make_unique<FormsFixture>(m_app->path());
        MainForm->show();
        QVERIFY(MainForm->width() >= 840 && MainForm->height() >= 448);
        QVERIFY(m_log->shown.isEmpty());
    }

    void focusIsDrawn_data()
    {
        QTest::addColumn<QString>("window");
        QTest::newRow("main window") << "main";
        QTest::newRow("Settings") << "Settings";
        QTest::newRow("custom size") << "size";
        QTest::newRow("About") << "About";
    }

    void focusIsDrawn()
    {
        QFETCH(QString, window);
        showActive();
        MainForm->OpenSource(media("plain.mp4"));
        MainForm->sbtnPausePreviewClick();
        QWidget* w = window == "main" ? static_cast<QWidget*>(MainForm)
                     : window == "Settings" ? static_cast<QWidget*>(SettingForm)
                     : window == "size" ? static_cast<QWidget*>(SizeForm)
                                        : static_cast<QWidget*>(AboutForm);
        if (w != MainForm) {
            w->show();
            w->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(w));
        }
        // Every control the Tab key reaches looks different with the focus.
        QList<QWidget*> controls;
        for (QWidget* c : w->findChildren<QWidget*>())
            if ((c->focusPolicy() & Qt::TabFocus) && c->isVisible() && c->isEnabled() && !c->focusProxy()
                && !(qobject_cast<QRadioButton*>(c) && !static_cast<QRadioButton*>(c)->isChecked()))
                controls << c; // of the split modes, Tab reaches the chosen one; arrows the other
        QVERIFY(!controls.isEmpty());
        if (w == MainForm) {
            QVERIFY(controls.size() >= 20);
            QVERIFY(controls.contains(MainForm->sbtnOpen) && controls.contains(MainForm->sbtnErase)
                    && controls.contains(MainForm->imgStart));
            MainForm->VideoWindow->setFocus();
        }
        if (QWidget* focused = w->focusWidget())
            focused->clearFocus();
        QHash<QWidget*, QImage> without;
        for (QWidget* c : std::as_const(controls))
            without.insert(c, c->grab().toImage());
        if (w != MainForm) { // Tab goes on from its first control, and comes back to it
            w->activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), w);
            controls.first()->setFocus(Qt::OtherFocusReason);
        }
        QList<QWidget*> visited;
        for (int i = 0; i < 2 * controls.size() + 2 && visited.size() < controls.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : w, Qt::Key_Tab);
            QWidget* c = QApplication::focusWidget();
            if (!controls.contains(c) || visited.contains(c))
                continue;
            visited << c;
            QVERIFY2(c->grab().toImage() != without.value(c), qPrintable(c->objectName()));
        }
        QStringList missed;
        for (QWidget* c : std::as_const(controls))
            if (!visited.contains(c))
                missed << c->objectName();
        QVERIFY2(missed.isEmpty(), qPrintable(missed.join(" ")));
    }

    void enterPressesTheDefaultButton_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<bool>("onCancel"); // the focus on Cancel: Enter presses that one
        QTest::newRow("Settings") << "Settings" << false;
        QTest::newRow("Settings, Cancel focused") << "Settings" << true;
        QTest::newRow("About") << "About" << false;
        QTest::newRow("profile") << "profile" << false;
        QTest::newRow("profile, Cancel focused") << "profile" << true;
        QTest::newRow("custom size") << "size" << false;
        QTest::newRow("custom size, Cancel focused") << "size" << true;
    }

    void enterPressesTheDefaultButton()
    {
        QFETCH(QString, dialog);
        QFETCH(bool, onCancel);
        showActive();
        QWidget* d = nullptr;
        QPushButton* ok = nullptr;
        QPushButton* cancel = nullptr;
        QWidget* field = nullptr; // where the focus is when Enter comes, unless on Cancel
        if (dialog == "Settings") {
            d = SettingForm, ok = SettingForm->btnOK, cancel = SettingForm->btnCancel;
            field = SettingForm->chkOverwrite;
        } else if (dialog == "About") {
            d = AboutForm, ok = AboutForm->btnOK;
        } else if (dialog == "profile") {
            d = opSettingForm, ok = opSettingForm->Button1, cancel = opSettingForm->Button2;
        } else {
            d = SizeForm, ok = SizeForm->btnOK, cancel = SizeForm->btnCancel;
            SizeForm->edtWidth->setText("640");
            SizeForm->edtHeight->setText("360");
            field = SizeForm->edtWidth;
        }
        int okPressed = 0, cancelPressed = 0;
        connect(ok, &QPushButton::clicked, this, [&] { ++okPressed; });
        if (cancel)
            connect(cancel, &QPushButton::clicked, this, [&] { ++cancelPressed; });
        d->show();
        d->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(d));
        QVERIFY(ok->isDefault());
        QWidget* target = onCancel ? cancel : field ? field : d->focusWidget() ? d->focusWidget() : d;
        target->setFocus(Qt::TabFocusReason);
        const QByteArray before = m_app->read("Preferences.ini");
        if (dialog == "Settings")
            SettingForm->chkOverwrite->setChecked(!SettingForm->chkOverwrite->isChecked());
        QTest::keyClick(target, Qt::Key_Return);
        QCOMPARE(okPressed, onCancel ? 0 : 1);
        QCOMPARE(cancelPressed, onCancel ? 1 : 0);
        QTRY_VERIFY(!d->isVisible());
        if (dialog == "Settings") {
            // OK wrote the preferences; Cancel did not.
            QCOMPARE(m_app->read("Preferences.ini") != before, !onCancel);
        }
    }
};

VT_TEST_MAIN(WindowFrameTest)
#include "app_window_frame.moc"
