// The Settings dialog and Preferences.ini: loading, storing, Load Default, Cancel, the
// profile position, refused writes, the folder picker and the main window's state.
#include "TestSupport.h"
#include "app/MainForm.h"
#include "app/Shell.h"
#include "prefs/FolderPicker.h"
#include "prefs/SettingsForm.h"
#include "profiles/OutputSettingsForm.h"
#include "profiles/ValueListEditor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Lines of a file, without line ends and blank lines.
QStringList fileLines(const QByteArray& content)
{
    QStringList out;
    for (QString line : QString::fromUtf8(content).split(QLatin1Char('\n'))) {
        line.remove(QLatin1Char('\r'));
        if (!line.trimmed().isEmpty())
            out << line;
    }
    return out;
}

// The entries of one section, in file order.
QStringList sectionLines(const QByteArray& content, const QString& section)
{
    QStringList out;
    bool inside = false;
    for (const QString& line : fileLines(content)) {
        if (line.startsWith(QLatin1Char('['))) {
            inside = line.compare(QLatin1Char('[') + section + QLatin1Char(']'), Qt::CaseInsensitive) == 0;
            continue;
        }
        if (inside)
            out << line;
    }
    return out;
}

QByteArray profileFile(const QString& type, const QString& codec)
{
    return QStringLiteral("[Main]\nType=%1\nPara=1\n0=Video Codec\n\n[Video Codec]\nSort=1\nList=0\n"
                          "Caption=%2\nValue=%2\ncmd=-vcodec\n")
        .arg(type, codec)
        .toUtf8();
}

// An application folder with three profiles (A, B, C) and the given preferences, or none.
void prepareAppDir(const TempAppDir& dir, const QByteArray& prefs, bool withPrefs = true)
{
    dir.write(QStringLiteral("Profiles/A.apf"), profileFile(QStringLiteral("avi"), QStringLiteral("codec-a")));
    dir.write(QStringLiteral("Profiles/B.apf"), profileFile(QStringLiteral("mkv"), QStringLiteral("codec-b")));
    dir.write(QStringLiteral("Profiles/C.apf"), profileFile(QStringLiteral("mov"), QStringLiteral("codec-c")));
    if (withPrefs)
        dir.write(QStringLiteral("Preferences.ini"), prefs);
}

struct PickerAnswer {
    bool choose = true;
    QString folder;
    QWidget* owner = nullptr;
    QString title;
    int calls = 0;
    PickerAnswer()
    {
        SetFolderPickerHook([this](QWidget* o, const QString& t, QString* f) {
            ++calls;
            owner = o;
            title = t;
            if (choose)
                *f = folder;
            return choose;
        });
    }
    ~PickerAnswer() { SetFolderPickerHook({}); }
};

// Restores write permission so the temporary folder can be removed.
struct PermissionGuard {
    QString path;
    QFile::Permissions saved;
    explicit PermissionGuard(const QString& p) : path(p), saved(QFile::permissions(p)) {}
    ~PermissionGuard() { QFile::setPermissions(path, saved | QFile::WriteOwner); }
};

const QByteArray kStored = "[Main]\n"
                           "Version=1.8\n"
                           "Preview=0\n"
                           "Overwrite=0\n"
                           "Aptotic=1\n"
                           "Output Dir=/srv/stored/\n"
                           "Auto Open Dir=0\n"
                           "Auto Exit=1\n"
                           "Auto Turn Off=0\n"
                           "Profile=1\n"
                           "\n"
                           "[Default]\n"
                           "Preview=1\n"
                           "Overwrite=1\n"
                           "Aptotic=1\n"
                           "Output Dir=/srv/default/\n"
                           "Auto Open Dir=1\n"
                           "Auto Exit=0\n"
                           "Auto Turn Off=1\n"
                           "Profile=2\n";

struct Values {
    bool preview, overwrite, aptotic;
    QString dir;
    bool openDir, exit, turnOff;
};

void compareDialog(const Values& v)
{
    QCOMPARE(SettingForm->chkPreview->isChecked(), v.preview);
    QCOMPARE(SettingForm->chkOverwrite->isChecked(), v.overwrite);
    QCOMPARE(SettingForm->chkoutputdir->isChecked(), v.aptotic);
    QCOMPARE(SettingForm->edtOutputDir->text(), v.dir);
    QCOMPARE(SettingForm->chkOpenDir->isChecked(), v.openDir);
    QCOMPARE(SettingForm->chkExit->isChecked(), v.exit);
    QCOMPARE(SettingForm->chkTurnoff->isChecked(), v.turnOff);
}

const Values kStoredValues{false, false, true, QStringLiteral("/srv/stored/"), false, true, false};
const Values kDefaultValues{true, true, true, QStringLiteral("/srv/default/"), true, false, true};

void showSettings()
{
    MainForm->sbtnSettingsClick();
    QTRY_VERIFY_WITH_TIMEOUT(SettingForm->isVisible(), 10000);
}

} // namespace

class PrefsSettingsTest : public QObject {
    Q_OBJECT
private slots:
    void layoutAndCaptions();
    void missingFileGivesDefaults();
    void okWritesEightKeysInOrder();
    void storedValuesAreLoadedAtStart();
    void loadDefaultThenCancelThenOk();
    void defaultSelectsTheStoredProfileCancelKeepsThePick();
    void profilePositionOutsideListSelectsNothing();
    void unreadableNumbersReadAsDefaults();
    void aptoticOffTakesSourceFolder();
    void refusedWriteOnOkKeepsDialogOpen();
    void refusedWriteInReadOnlyFolder();
    void exitWritesAndStillEndsWhenRefused();
    void mainWindowDisabledWhileShown();
    void browseWithReplacedPicker();
    void shippedPreferencesAreSafe();
    void unusablePreferencesAreReportedOnce_data();
    void unusablePreferencesAreReportedOnce();
};

void PrefsSettingsTest::layoutAndCaptions()
{
    TempAppDir dir(false);
    prepareAppDir(dir, kStored);
    FormsFixture forms(dir.path());
    TSettingForm* f = SettingForm;
    QCOMPARE(f->windowTitle(), QStringLiteral("Settings"));
    QCOMPARE(f->chkPreview->text(), QStringLiteral("Preview the video when it is splitted."));
    QCOMPARE(f->chkOverwrite->text(), QStringLiteral("Overwrite existent output files."));
    QCOMPARE(f->chkoutputdir->text(), QStringLiteral("Use the aptotic output directory."));
    QCOMPARE(f->bbtnBrowse->text(), QStringLiteral("Browse"));
    QCOMPARE(f->chkOpenDir->text(), QStringLiteral("Open the output directory when the task is completed. "));
    QCOMPARE(f->chkExit->text(), QStringLiteral("Exit the program when the task is completed."));
    QCOMPARE(f->chkTurnoff->text(), QStringLiteral("Turn off the computer when the task is completed."));
    QCOMPARE(f->btnDefault->text(), QStringLiteral("&Load Default"));
    QCOMPARE(f->btnOK->text(), QStringLiteral("&OK"));
    QCOMPARE(f->btnCancel->text(), QStringLiteral("&Cancel"));
    QVERIFY(f->windowFlags() & Qt::Dialog);
    QVERIFY(!f->parentWidget());

    MainForm->show();
    showSettings();
    QVERIFY(f->chkPreview->isHidden());
    QVERIFY(f->edtOutputDir->isEnabled());
    QVERIFY(f->bbtnBrowse->isEnabled());
    QCOMPARE(f->minimumSize(), f->maximumSize()); // fixed border

    // Laid out top to bottom in the order of the list, Browse beside the field.
    const QList<QWidget*> column = {f->chkOverwrite, f->chkoutputdir, f->edtOutputDir, f->chkOpenDir,
                                    f->chkExit, f->chkTurnoff, f->btnOK};
    for (int i = 1; i < column.size(); ++i)
        QVERIFY2(column[i]->mapTo(f, QPoint(0, 0)).y() > column[i - 1]->mapTo(f, QPoint(0, 0)).y(),
                 qPrintable(column[i]->objectName()));
    QVERIFY(f->bbtnBrowse->mapTo(f, QPoint(0, 0)).x() > f->edtOutputDir->mapTo(f, QPoint(0, 0)).x());
    QVERIFY(qAbs(f->bbtnBrowse->mapTo(f, f->bbtnBrowse->rect().center()).y()
                 - f->edtOutputDir->mapTo(f, f->edtOutputDir->rect().center()).y())
            <= 4);

    // Tab order 0..10.
    const QList<QWidget*> expected = {f->chkPreview, f->chkOverwrite, f->chkoutputdir, f->edtOutputDir,
                                      f->chkExit,    f->chkOpenDir,   f->chkTurnoff,   f->btnDefault,
                                      f->btnOK,      f->btnCancel,    f->bbtnBrowse};
    QList<QWidget*> chain;
    QWidget* w = f->chkPreview;
    do {
        if (expected.contains(w) && !chain.contains(w))
            chain << w;
        w = w->nextInFocusChain();
    } while (w && w != f->chkPreview);
    QCOMPARE(chain, expected);

    // Centred over the main window.
    const QPoint delta = f->frameGeometry().center() - MainForm->frameGeometry().center();
    QVERIFY2(delta.manhattanLength() <= 4, qPrintable(QStringLiteral("off by %1,%2").arg(delta.x()).arg(delta.y())));
    f->close();
}

void PrefsSettingsTest::missingFileGivesDefaults()
{
    TempAppDir dir(false);
    prepareAppDir(dir, {}, false);
    FormsFixture forms(dir.path());
    // Overwriting, exiting and powering off are never armed by a missing file.
    const Values all{true, false, true, dir.path(), true, false, false};
    compareDialog(all);
    QCOMPARE(MainForm->edtOutputDir->text(), dir.path()); // the fixed folder is in use
    QCOMPARE(MainForm->cmbProfile->count(), 3);
    QCOMPARE(MainForm->cmbProfile->currentIndex(), 0);
    QVERIFY(!QFile::exists(dir.file(QStringLiteral("Preferences.ini")))); // reading creates nothing

    // Load Default without a [Default] section gives the same values.
    SettingForm->chkExit->setChecked(true);
    SettingForm->chkPreview->setChecked(false);
    SettingForm->edtOutputDir->setText(QStringLiteral("/elsewhere/"));
    SettingForm->btnDefaultClick();
    compareDialog(all);
    QVERIFY(!QFile::exists(dir.file(QStringLiteral("Preferences.ini")))); // Load Default writes nothing
}

void PrefsSettingsTest::okWritesEightKeysInOrder()
{
    TempAppDir dir(false);
    prepareAppDir(dir, {}, false);
    FormsFixture forms(dir.path());
    MessageLog log;
    MainForm->show();
    showSettings();
    SettingForm->chkOverwrite->setChecked(false);
    SettingForm->chkTurnoff->setChecked(false);
    SettingForm->chkExit->setChecked(true);
    SettingForm->chkPreview->setChecked(false);
    SettingForm->edtOutputDir->setText(QStringLiteral("/media/out dir/"));
    MainForm->cmbProfile->setCurrentIndex(2);
    QTest::mouseClick(SettingForm->btnOK, Qt::LeftButton);

    QVERIFY(log.shown.isEmpty());
    QVERIFY(!SettingForm->isVisible());
    const QByteArray content = dir.read(QStringLiteral("Preferences.ini"));
    QCOMPARE(fileLines(content), QStringList({QStringLiteral("[Main]"), QStringLiteral("Preview=0"),
                                              QStringLiteral("Overwrite=0"), QStringLiteral("Aptotic=1"),
                                              QStringLiteral("Output Dir=/media/out dir/"),
                                              QStringLiteral("Auto Open Dir=1"), QStringLiteral("Auto Exit=1"),
                                              QStringLiteral("Auto Turn Off=0"), QStringLiteral("Profile=2")}));
    // OK hands the fixed folder and the preview flag to the main window.
    QCOMPARE(MainForm->edtOutputDir->text(), QStringLiteral("/media/out dir/"));
    QCOMPARE(MainForm->chkPreview->isChecked(), false);

    // With no profile selected, -1 is stored; without the fixed folder the main window's
    // field keeps its own value.
    showSettings();
    MainForm->cmbProfile->setCurrentIndex(-1);
    SettingForm->chkoutputdir->setChecked(false);
    SettingForm->edtOutputDir->setText(QStringLiteral("/media/unused/"));
    SettingForm->btnOKClick();
    const QStringList main = sectionLines(dir.read(QStringLiteral("Preferences.ini")), QStringLiteral("Main"));
    QVERIFY(main.contains(QStringLiteral("Profile=-1")));
    QVERIFY(main.contains(QStringLiteral("Aptotic=0")));
    QVERIFY(main.contains(QStringLiteral("Output Dir=/media/unused/")));
    QCOMPARE(MainForm->edtOutputDir->text(), QStringLiteral("/media/out dir/"));
}

void PrefsSettingsTest::storedValuesAreLoadedAtStart()
{
    {
        TempAppDir dir(false);
        prepareAppDir(dir, kStored);
        FormsFixture forms(dir.path());
        compareDialog(kStoredValues);
        QCOMPARE(MainForm->edtOutputDir->text(), QStringLiteral("/srv/stored/"));
        QCOMPARE(MainForm->cmbProfile->currentIndex(), 1);
    }
    {
        // Without the fixed folder the main window's field is left alone.
        TempAppDir dir(false);
        prepareAppDir(dir, "[Main]\nAptotic=0\nOutput Dir=/srv/unused/\n");
        FormsFixture forms(dir.path());
        QCOMPARE(SettingForm->edtOutputDir->text(), QStringLiteral("/srv/unused/"));
        QCOMPARE(MainForm->edtOutputDir->text(), QString());
    }
}

void PrefsSettingsTest::loadDefaultThenCancelThenOk()
{
    TempAppDir dir(false);
    prepareAppDir(dir, kStored);
    FormsFixture forms(dir.path());
    MessageLog log;
    MainForm->show();
    MainForm->edtOutputDir->setText(QStringLiteral("/picked/"));
    MainForm->chkPreview->setChecked(false);

    showSettings();
    QTest::mouseClick(SettingForm->btnDefault, Qt::LeftButton);
    compareDialog(kDefaultValues);
    QVERIFY(SettingForm->isVisible()); // Load Default keeps the dialog open
    QCOMPARE(dir.read(QStringLiteral("Preferences.ini")), kStored); // and writes nothing

    QTest::mouseClick(SettingForm->btnCancel, Qt::LeftButton);
    QVERIFY(!SettingForm->isVisible());
    compareDialog(kStoredValues);
    QCOMPARE(MainForm->edtOutputDir->text(), QStringLiteral("/picked/")); // Cancel leaves the main window
    QCOMPARE(dir.read(QStringLiteral("Preferences.ini")), kStored);

    showSettings();
    compareDialog(kStoredValues); // showing reloads nothing
    QTest::mouseClick(SettingForm->btnDefault, Qt::LeftButton);
    QTest::mouseClick(SettingForm->btnOK, Qt::LeftButton);
    QVERIFY(!SettingForm->isVisible());
    const QByteArray content = dir.read(QStringLiteral("Preferences.ini"));
    QCOMPARE(sectionLines(content, QStringLiteral("Main")),
             QStringList({QStringLiteral("Version=1.8"), QStringLiteral("Preview=1"), QStringLiteral("Overwrite=1"),
                          QStringLiteral("Aptotic=1"), QStringLiteral("Output Dir=/srv/default/"),
                          QStringLiteral("Auto Open Dir=1"), QStringLiteral("Auto Exit=0"),
                          QStringLiteral("Auto Turn Off=1"), QStringLiteral("Profile=1")}));
    // [Default] is only ever read.
    QCOMPARE(sectionLines(content, QStringLiteral("Default")), sectionLines(kStored, QStringLiteral("Default")));
    QCOMPARE(MainForm->edtOutputDir->text(), QStringLiteral("/srv/default/"));
    QCOMPARE(MainForm->chkPreview->isChecked(), true);
    QVERIFY(log.shown.isEmpty());
}

void PrefsSettingsTest::defaultSelectsTheStoredProfileCancelKeepsThePick()
{
    TempAppDir dir(false);
    prepareAppDir(dir, kStored); // stored Profile=1 in [Main], 2 in [Default]
    FormsFixture forms(dir.path());
    MessageLog log;
    QComboBox* list = MainForm->cmbProfile;
    QCOMPARE(list->count(), 3);

    MainForm->show(); // its first showing loads the selected profile; get that out of the way

    // The user picks A in the main list, which loads it.
    list->setCurrentIndex(0);
    MainForm->cmbProfileChange();
    QCOMPARE(opSettingForm->OutputExtension, QStringLiteral(".avi"));
    QCOMPARE(opSettingForm->vleVideo->Value(QStringLiteral("Video Codec")), QStringLiteral("codec-a"));
    opSettingForm->vleVideo->SetValue(QStringLiteral("Video Codec"), QStringLiteral("edited"));

    QSignalSpy activated(list, &QComboBox::activated);
    QSignalSpy changed(list, &QComboBox::currentIndexChanged);
    showSettings();
    SettingForm->btnDefaultClick();
    QCOMPARE(list->currentIndex(), 1); // always from [Main], never [Default]
    // The list names B now, so the grids hold B: a job never mixes two profiles.
    QCOMPARE(opSettingForm->OutputExtension, QStringLiteral(".mkv"));
    QCOMPARE(opSettingForm->vleVideo->Value(QStringLiteral("Video Codec")), QStringLiteral("codec-b"));
    opSettingForm->vleVideo->SetValue(QStringLiteral("Video Codec"), QStringLiteral("edited"));
    SettingForm->btnCancelClick();

    // Cancel, by its button or by Esc, leaves the profile the user picked in the main
    // window, its grids and its edits alone: it is no Settings value.
    const QList<std::function<void()>> cancels = {
        [] { SettingForm->btnCancelClick(); },
        [] { QTest::keyClick(SettingForm->focusWidget() ? SettingForm->focusWidget() : SettingForm, Qt::Key_Escape); }};
    for (const auto& cancel : cancels) {
        list->setCurrentIndex(2);
        MainForm->cmbProfileChange(); // the user picks C, which loads it
        opSettingForm->vleVideo->SetValue(QStringLiteral("Video Codec"), QStringLiteral("edited-c"));
        showSettings();
        SettingForm->chkExit->setChecked(!SettingForm->chkExit->isChecked());
        changed.clear();
        cancel();
        QTRY_VERIFY(!SettingForm->isVisible());
        QCOMPARE(list->currentIndex(), 2);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(opSettingForm->OutputExtension, QStringLiteral(".mov"));
        QCOMPARE(opSettingForm->vleVideo->Value(QStringLiteral("Video Codec")), QStringLiteral("edited-c"));
        // What a job takes: the pick, its edit, and the stored Settings values again.
        QCOMPARE(MainForm->State.ProfileIndex(), 2);
        QCOMPARE(MainForm->State.Profile().extension, QStringLiteral(".mov"));
        QCOMPARE(MainForm->State.Profile().Value(1, QStringLiteral("Video Codec")), QStringLiteral("edited-c"));
        QCOMPARE(MainForm->State.Preferences().autoExit, SettingForm->chkExit->isChecked());
        compareDialog(kStoredValues);
    }
    QCOMPARE(activated.count(), 0);
    QVERIFY(log.shown.isEmpty());
}

void PrefsSettingsTest::profilePositionOutsideListSelectsNothing()
{
    for (const QByteArray& stored : {QByteArray("[Main]\nProfile=3\n"), QByteArray("[Main]\nProfile=-2\n")}) {
        TempAppDir dir(false);
        prepareAppDir(dir, stored);
        FormsFixture forms(dir.path());
        QCOMPARE(MainForm->cmbProfile->count(), 3);
        QCOMPARE(MainForm->cmbProfile->currentIndex(), -1);
        QCOMPARE(MainForm->cmbProfile->currentText(), QString());
        // The first showing of the main window then loads nothing: the grids keep their rows.
        MainForm->show();
        QCOMPARE(opSettingForm->vleVideo->EntryCount(), 6);
        QCOMPARE(opSettingForm->OutputExtension, QStringLiteral(".mp4"));
    }
}

void PrefsSettingsTest::unreadableNumbersReadAsDefaults()
{
    TempAppDir dir(false);
    prepareAppDir(dir, "[main]\n"
                       "preview=2\n"
                       "Overwrite=yes\n"
                       "Aptotic=true\n"
                       "Auto Open Dir=0\n"
                       "Auto Exit=\n"
                       "Auto Turn Off=0x0\n"
                       "Profile=two\n");
    FormsFixture forms(dir.path());
    compareDialog(Values{true, false, true, dir.path(), false, false, false});
    QCOMPARE(MainForm->cmbProfile->currentIndex(), 0);
}

void PrefsSettingsTest::aptoticOffTakesSourceFolder()
{
    TempAppDir dir(false);
    prepareAppDir(dir, "[Main]\nAptotic=0\nOutput Dir=/srv/fixed/\n");
    const QString clipDir = dir.path() + QStringLiteral("clips");
    QVERIFY(QDir().mkpath(clipDir));
    const QString clip = clipDir + QStringLiteral("/a clip.mp4");
    QVERIFY(MakeClip(clip, 2));
    FormsFixture forms(dir.path());
    MessageLog log;
    QCOMPARE(MainForm->edtOutputDir->text(), QString());

    RunGuarded([&] { OpenSourceAndWait(clip); });
    QCOMPARE(MainForm->edtOutputDir->text(), clipDir + QLatin1Char('/'));

    // A source at the root keeps the single separator. The file need not be playable: the
    // folder is taken before the player is asked.
    RunGuarded([&] { OpenSourceAndWait(QStringLiteral("/veltrane-no-such-clip.mp4")); });
    QCOMPARE(MainForm->edtOutputDir->text(), QStringLiteral("/"));

    // The file decides, not the dialog: once the fixed folder is stored, opening leaves the field.
    SettingForm->chkoutputdir->setChecked(true);
    SettingForm->btnOKClick();
    QCOMPARE(MainForm->edtOutputDir->text(), QStringLiteral("/srv/fixed/"));
    RunGuarded([&] { OpenSourceAndWait(clip); });
    QCOMPARE(MainForm->edtOutputDir->text(), QStringLiteral("/srv/fixed/"));
}

void PrefsSettingsTest::refusedWriteOnOkKeepsDialogOpen()
{
    TempAppDir dir(false);
    prepareAppDir(dir, kStored);
    const QString path = dir.file(QStringLiteral("Preferences.ini"));
    FormsFixture forms(dir.path());
    MessageLog log;
    MainForm->show();
    MainForm->edtOutputDir->setText(QStringLiteral("/picked/"));
    MainForm->chkPreview->setChecked(true);

    PermissionGuard guard(path);
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

    showSettings();
    SettingForm->chkPreview->setChecked(false);
    SettingForm->edtOutputDir->setText(QStringLiteral("/srv/new/"));
    QTest::mouseClick(SettingForm->btnOK, Qt::LeftButton);

    QCOMPARE(log.shown.size(), 1);
    QCOMPARE(log.shown.first().icon, MsgIcon::Error);
    QCOMPARE(log.lastText(), QStringLiteral("Unable to write to ") + path + QLatin1Char('.'));
    QVERIFY(SettingForm->isVisible());
    QVERIFY(!MainForm->isEnabled());
    QCOMPARE(MainForm->edtOutputDir->text(), QStringLiteral("/picked/"));
    QCOMPARE(MainForm->chkPreview->isChecked(), true);
    QCOMPARE(dir.read(QStringLiteral("Preferences.ini")), kStored); // nothing lost
    compareDialog(Values{false, false, true, QStringLiteral("/srv/new/"), false, true, false});

    // Once the file can be written again, OK goes through.
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
    log.clear();
    QTest::mouseClick(SettingForm->btnOK, Qt::LeftButton);
    QVERIFY(log.shown.isEmpty());
    QVERIFY(!SettingForm->isVisible());
    QVERIFY(MainForm->isEnabled());
    QCOMPARE(MainForm->edtOutputDir->text(), QStringLiteral("/srv/new/"));
    QVERIFY(sectionLines(dir.read(QStringLiteral("Preferences.ini")), QStringLiteral("Main"))
                .contains(QStringLiteral("Preview=0")));
}

void PrefsSettingsTest::refusedWriteInReadOnlyFolder()
{
    TempAppDir dir(false);
    prepareAppDir(dir, {}, false);
    FormsFixture forms(dir.path());
    MessageLog log;
    QString folder = dir.path();
    folder.chop(1);
    PermissionGuard guard(folder);
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup));

    RunGuarded([] { SettingForm->WritePreferences(); });
    QCOMPARE(log.shown.size(), 1);
    QCOMPARE(log.lastText(),
             QStringLiteral("Unable to write to ") + dir.file(QStringLiteral("Preferences.ini")) + QLatin1Char('.'));
    QVERIFY(!QFile::exists(dir.file(QStringLiteral("Preferences.ini"))));
}

void PrefsSettingsTest::exitWritesAndStillEndsWhenRefused()
{
    {
        // Closing the main window stores the live values, unsaved ones included.
        TempAppDir dir(false);
        prepareAppDir(dir, kStored);
        FormsFixture forms(dir.path());
        MessageLog log;
        MainForm->show();
        showSettings();
        SettingForm->chkTurnoff->setChecked(true);
        SettingForm->close(); // the close box keeps the controls, unsaved
        QVERIFY(SettingForm->chkTurnoff->isChecked());
        QVERIFY(MainForm->close());
        QVERIFY(log.shown.isEmpty());
        const QStringList main = sectionLines(dir.read(QStringLiteral("Preferences.ini")), QStringLiteral("Main"));
        QVERIFY(main.contains(QStringLiteral("Auto Turn Off=1")));
        QVERIFY(main.contains(QStringLiteral("Version=1.8"))); // other keys stay
    }
    {
        TempAppDir dir(false);
        prepareAppDir(dir, kStored);
        const QString path = dir.file(QStringLiteral("Preferences.ini"));
        FormsFixture forms(dir.path());
        MessageLog log;
        PermissionGuard guard(path);
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
        MainForm->show();
        QVERIFY(MainForm->close()); // the error is shown and the window closes anyway
        QVERIFY(!MainForm->isVisible());
        QCOMPARE(log.shown.size(), 1);
        QCOMPARE(log.lastText(), QStringLiteral("Unable to write to ") + path + QLatin1Char('.'));
        QCOMPARE(dir.read(QStringLiteral("Preferences.ini")), kStored);
    }
}

void PrefsSettingsTest::mainWindowDisabledWhileShown()
{
    TempAppDir dir(false);
    prepareAppDir(dir, kStored);
    FormsFixture forms(dir.path());
    MessageLog log;
    MainForm->show();
    QVERIFY(MainForm->isEnabled());

    showSettings();
    QVERIFY(!MainForm->isEnabled());
    QVERIFY(SettingForm->isEnabled()); // a disabled main window does not disable the dialog
    QTest::mouseClick(SettingForm->btnOK, Qt::LeftButton);
    QVERIFY(!SettingForm->isVisible());
    QVERIFY(MainForm->isEnabled());

    showSettings();
    QVERIFY(!MainForm->isEnabled());
    QTest::mouseClick(SettingForm->btnCancel, Qt::LeftButton);
    QVERIFY(!SettingForm->isVisible());
    QVERIFY(MainForm->isEnabled());

    showSettings();
    QVERIFY(!MainForm->isEnabled());
    SettingForm->chkExit->setChecked(false);
    QVERIFY(SettingForm->close()); // the title-bar close box
    QVERIFY(MainForm->isEnabled());
    QVERIFY(!SettingForm->chkExit->isChecked()); // kept as left, not reloaded
    showSettings();
    QVERIFY(!SettingForm->chkExit->isChecked());
    SettingForm->hide();
    QVERIFY(MainForm->isEnabled());
    QVERIFY(log.shown.isEmpty());
}

void PrefsSettingsTest::browseWithReplacedPicker()
{
    TempAppDir dir(false);
    prepareAppDir(dir, kStored);
    FormsFixture forms(dir.path());
    MessageLog log;
    PickerAnswer picker;
    MainForm->show();
    showSettings();

    picker.folder = QStringLiteral("/data/clips out");
    QTest::mouseClick(SettingForm->bbtnBrowse, Qt::LeftButton);
    QCOMPARE(picker.calls, 1);
    QCOMPARE(picker.owner, static_cast<QWidget*>(SettingForm));
    QCOMPARE(picker.title, QStringLiteral("Select the output directory."));
    QCOMPARE(SettingForm->edtOutputDir->text(), QStringLiteral("/data/clips out/"));

    picker.folder = QStringLiteral("/");
    SettingForm->bbtnBrowseClick();
    QCOMPARE(SettingForm->edtOutputDir->text(), QStringLiteral("/"));

    picker.choose = false;
    SettingForm->bbtnBrowseClick();
    QCOMPARE(SettingForm->edtOutputDir->text(), QStringLiteral("/"));
    QTest::mouseClick(SettingForm->btnCancel, Qt::LeftButton);
    QCOMPARE(SettingForm->edtOutputDir->text(), QStringLiteral("/srv/stored/"));

    // The main window's Browse fills its own field and leaves the preferences alone.
    picker.choose = true;
    picker.folder = QStringLiteral("/data/other");
    picker.calls = 0;
    QTest::mouseClick(MainForm->bbtnBrowse, Qt::LeftButton);
    QCOMPARE(picker.calls, 1);
    QCOMPARE(picker.owner, static_cast<QWidget*>(MainForm));
    QCOMPARE(picker.title, QStringLiteral("Select the output directory."));
    QCOMPARE(MainForm->edtOutputDir->text(), QStringLiteral("/data/other/"));
    picker.folder = QStringLiteral("/");
    MainForm->bbtnBrowseClick();
    QCOMPARE(MainForm->edtOutputDir->text(), QStringLiteral("/"));
    picker.choose = false;
    MainForm->bbtnBrowseClick();
    QCOMPARE(MainForm->edtOutputDir->text(), QStringLiteral("/"));
    QCOMPARE(SettingForm->edtOutputDir->text(), QStringLiteral("/srv/stored/"));
    QCOMPARE(dir.read(QStringLiteral("Preferences.ini")), kStored);
    QVERIFY(log.shown.isEmpty());
}

void PrefsSettingsTest::shippedPreferencesAreSafe()
{
    TempAppDir dir(true);
    QVERIFY(QFile::exists(dir.file(QStringLiteral("Preferences.ini"))));
    FormsFixture forms(dir.path());
    ShellLog shell;
    // No automatic exit or power-off, ask before overwriting, output beside the source.
    QVERIFY(!SettingForm->chkTurnoff->isChecked());
    QVERIFY(!SettingForm->chkExit->isChecked());
    QVERIFY(!SettingForm->chkOverwrite->isChecked());
    QVERIFY(!SettingForm->chkoutputdir->isChecked());
    QCOMPARE(MainForm->VersionText, QStringLiteral("1.8"));
    QCOMPARE(MainForm->cmbProfile->currentText(), QStringLiteral("MP4 - H.264 + AAC"));
    // Load Default keeps the same safe choices.
    SettingForm->chkTurnoff->setChecked(true);
    SettingForm->chkExit->setChecked(true);
    SettingForm->btnDefaultClick();
    QVERIFY(!SettingForm->chkTurnoff->isChecked());
    QVERIFY(!SettingForm->chkExit->isChecked());
    QVERIFY(!SettingForm->chkOverwrite->isChecked());
    QVERIFY(!SettingForm->chkoutputdir->isChecked());
    QCOMPARE(SettingForm->edtOutputDir->text(), dir.path());
    QVERIFY(shell.opened.isEmpty());
}

void PrefsSettingsTest::unusablePreferencesAreReportedOnce_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("pipe") << "fifo";
    QTest::newRow("folder") << "folder";
    QTest::newRow("endless device") << "device";
}

void PrefsSettingsTest::unusablePreferencesAreReportedOnce()
{
    QFETCH(QString, kind);
    TempAppDir dir(false);
    prepareAppDir(dir, {}, false);
    const QString path = dir.file(QStringLiteral("Preferences.ini"));
    if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    else if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(path));
    else
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    // The program starts at once with the defaults, and says why once.
    MessageLog log;
    FormsFixture forms(dir.path());
    QCOMPARE(log.shown.size(), 1);
    QCOMPARE(log.shown.last().icon, MsgIcon::Error);
    QCOMPARE(log.lastText(), QStringLiteral("Unable to read ") + path + QStringLiteral(": it is not a regular file."));
    compareDialog({true, false, true, dir.path(), true, false, false});
    // Closing cannot store the values there; the thing in its place stays as it was.
    MainForm->show();
    QVERIFY(MainForm->close());
    QCOMPARE(log.shown.size(), 2);
    QCOMPARE(log.lastText(), QStringLiteral("Unable to write to ") + path + QLatin1Char('.'));
    QVERIFY(!QFileInfo(path).isFile());
    QCOMPARE(QFileInfo(path).isDir(), kind == QLatin1String("folder"));
}

VT_TEST_MAIN(PrefsSettingsTest)
#include "prefs_settings.moc"
