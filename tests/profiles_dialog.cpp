// The profile dialog, the custom size dialog and the main window's profile list, driven
// through the real widgets on an application folder of their own.
#include "TestSupport.h"
#include "app/MainForm.h"
#include "profiles/CustomSizeForm.h"
#include "profiles/IniFile.h"
#include "profiles/OutputSettingsForm.h"
#include "profiles/ProfileSaveDialog.h"
#include "profiles/ProfileFormat.h"
#include "profiles/ValueListEditor.h"
#include "prefs/SettingsForm.h"
#include "split/CommandLine.h"
#include <QComboBox>
#include <QHeaderView>
#include <QLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <sys/stat.h>

namespace {

const QByteArray kTest = "; kept as it is\n"
                         "[Main]\nType=mkv\nPara=7\n0=Video Codec\n1=Video Size\n2=Note\n3=Fixed\n4=Audio Codec\n"
                         "5=Elsewhere\n6=Audio Bitrate\n"
                         "[Video Codec]\nSort=1\nCaption=H.264,VP9,\nValue=libx264,libvpx-vp9,\nIndex=1\ncmd=-c:v\n"
                         "[Video Size]\nSort=1\nCaption=Original Size,Custom Size,1280x720,\nValue=,,1280x720,\n"
                         "Index=0\ncmd=-s\n"
                         "[Note]\nSort=1\nList=0\nCaption=hello\nValue=hello\ncmd=-metadata\n"
                         "[Fixed]\nSort=1\nList=0\nReadOnly=1\nCaption=shown text\nValue=yuv420p\ncmd=-pix_fmt\n"
                         "[Audio Codec]\nSort=2\nReadOnly=1\nCaption=AAC,Opus,\nValue=aac,libopus,\nIndex=0\n"
                         "cmd=-c:a\n"
                         "[Elsewhere]\nSort=7\nList=0\nCaption=x\n"
                         "[Audio Bitrate]\nSort=2\nCaption=96k,128k,\nValue=96k,128k,\ncmd=-b:a\n"
                         "[Unused]\nfoo=bar\n";
const QByteArray kOther = "[Main]\nType=avi\nPara=1\n0=Audio Codec\n"
                          "[Audio Codec]\nSort=2\nCaption=MP3,\nValue=libmp3lame,\ncmd=-c:a\n";

QStringList keys(const TValueListEditor* g)
{
    QStringList k;
    for (int r = 0; r < g->EntryCount(); ++r)
        k << g->Key(r);
    return k;
}

QColor pixelAt(TValueListEditor* g, int row, int col, QPoint offset = QPoint(1, 1))
{
    const QImage img = g->viewport()->grab().toImage();
    const QRect r = g->visualRect(g->model()->index(row, col));
    return img.pixelColor(r.topLeft() + offset);
}

// The darkest pixel of a cell: its text colour, as far as smoothing lets it show.
int darkest(TValueListEditor* g, int row, int col)
{
    const QImage img = g->viewport()->grab().toImage();
    const QRect r = g->visualRect(g->model()->index(row, col)).adjusted(0, 0, -2, -2);
    int low = 255;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            low = qMin(low, qGray(img.pixel(x, y)));
    return low;
}
bool isSilverText(TValueListEditor* g, int row, int col)
{
    const int d = darkest(g, row, col);
    return d >= 185 && d <= 200;
}
bool isBlackText(TValueListEditor* g, int row, int col) { return darkest(g, row, col) < 90; }

} // namespace

class TestProfileDialog : public QObject {
    Q_OBJECT

    // An application folder with two profiles; "Test" is selected in both lists.
    struct Setup {
        MessageLog log;
        TempAppDir app{false};
        std::unique_ptr<FormsFixture> forms;
        explicit Setup(bool withProfiles = true, const QByteArray& broken = {})
        {
            if (withProfiles) {
                app.write("Profiles/Test.APF", kTest); // capital extension: still found
                app.write("Profiles/Other.apf", kOther);
            }
            if (!broken.isEmpty())
                app.write("Profiles/Broken.apf", broken);
            forms = std::make_unique<FormsFixture>(app.path());
        }
        QString testPath() const { return app.file("Profiles/Test.APF"); }
        void selectTest()
        {
            MainForm->cmbProfile->setCurrentIndex(MainForm->cmbProfile->findText("Test"));
            RunGuarded([] { MainForm->cmbProfileChange(); });
            RunGuarded([] { MainForm->BitBtn1Click(); });
        }
    };

private slots:
    void cleanup()
    {
        SetSaveDialogHook({});
    }

    void dialogBeforeAnyProfile()
    {
        Setup s;
        TopSettingForm* f = opSettingForm;
        QCOMPARE(f->windowTitle(), QString("Profile"));
        QCOMPARE(f->btnSaveAs->text(), QString("&Save as..."));
        QCOMPARE(f->Button1->text(), QString("&OK"));
        QCOMPARE(f->Button2->text(), QString("&Cancel"));
        QCOMPARE(f->panVideo->text(), QString("      Video"));
        QCOMPARE(f->panAudio->text(), QString("      Audio"));
        QCOMPARE(f->panAdvanced->text(), QString("      Advanced"));
        for (QPushButton* b : {f->btnVideo, f->btnAudio, f->btnAdvanced})
            QCOMPARE(b->text(), QString("-"));
        QCOMPARE(f->memDescription->toPlainText(), QString("Description:"));
        QVERIFY(f->memDescription->isHidden());
        QVERIFY(f->Bevel1->isHidden());
        QCOMPARE(keys(f->vleVideo), (QStringList{"Video Codec", "Video Size", "Bit Rate", "Frame Rate", "Aspect",
                                                 "Disable Video"}));
        QCOMPARE(keys(f->vleAudio), (QStringList{"Audio Codec", "Audio Bitrate", "Sample Rate", "Channels", "Volumn",
                                                 "Disable Audio"}));
        QCOMPARE(keys(f->vleAdvanced), (QStringList{"Bit Exact Algorithms", "Deinterlace"}));
        QVERIFY(f->vleVideo->Value("Video Codec").isEmpty());
        QCOMPARE(f->vleVideo->height(), 6 * 18);
        QCOMPARE(f->vleVideo->columnWidth(0), 160);
        QCOMPARE(f->vleVideo->rowHeight(0), 18);
        QVERIFY(f->vleVideo->horizontalHeader()->isHidden());

        // The lists: file names without extension, sorted; the dialog's copy selects none.
        QCOMPARE(MainForm->cmbProfile->count(), 2);
        QCOMPARE(MainForm->cmbProfile->itemText(0), QString("Other"));
        QCOMPARE(MainForm->cmbProfile->itemText(1), QString("Test"));
        QCOMPARE(f->cmbProfile->count(), 2);
        QCOMPARE(f->cmbProfile->currentIndex(), -1);
        QVERIFY(s.log.shown.isEmpty());
    }

    void missingProfileFolderIsReportedOnce()
    {
        Setup s(false);
        QCOMPARE(s.log.shown.size(), 1);
        QCOMPARE(s.log.shown[0].icon, MsgIcon::Error);
        QVERIFY2(s.log.lastText().contains(s.app.path() + "Profiles/"), qPrintable(s.log.lastText()));
        QCOMPARE(MainForm->cmbProfile->count(), 0);
        // The rest of the start-up went on: every window exists and drops are accepted.
        QVERIFY(MainForm->acceptDrops());
        QVERIFY(opSettingForm && SizeForm && SettingForm);
        QCOMPARE(opSettingForm->cmbProfile->count(), 0);
        MainForm->cmbProfileChange(); // nothing to load, nothing shown
        QCOMPARE(s.log.shown.size(), 1);
    }

    void loadingFillsTheGrids()
    {
        Setup s;
        s.selectTest();
        TopSettingForm* f = opSettingForm;
        QVERIFY(f->isVisible());
        QCOMPARE(f->cmbProfile->currentText(), QString("Test"));
        QCOMPARE(f->OutputExtension, QString(".mkv"));
        QCOMPARE(keys(f->vleVideo), (QStringList{"Video Codec", "Video Size", "Note", "Fixed"}));
        QCOMPARE(keys(f->vleAudio), (QStringList{"Audio Codec", "Audio Bitrate"}));
        QCOMPARE(keys(f->vleAdvanced), QStringList{});
        QCOMPARE(f->vleAdvanced->RowCount(), 1); // one blank row
        QCOMPARE(f->vleAdvanced->height(), 18);
        QCOMPARE(f->vleVideo->height(), 4 * 18);

        QCOMPARE(f->vleVideo->Value("Video Codec"), QString("VP9"));
        QCOMPARE(f->vleAudio->Value("Audio Bitrate"), QString("96k")); // no "Index": the first item
        const TItemProp list = f->vleVideo->ItemProps(0);
        QCOMPARE(list.EditStyle, esPickList);
        QVERIFY(list.ReadOnly);
        QCOMPARE(list.PickList, (QStringList{"H.264", "VP9"}));
        const TItemProp fixed = f->vleVideo->ItemProps(3);
        QCOMPARE(fixed.EditStyle, esSimple);
        QVERIFY(fixed.ReadOnly);
        QCOMPARE(f->vleVideo->Value("Fixed"), QString("shown text"));
        QVERIFY(!f->vleVideo->ItemProps(2).ReadOnly);

        // A pick-list row is edited through a drop-down that takes no typing; a
        // read-only text row has no editor at all.
        f->vleVideo->setCurrentCell(0, 1);
        f->vleVideo->edit(f->vleVideo->model()->index(0, 1));
        auto* box = f->vleVideo->findChild<QComboBox*>();
        QVERIFY(box);
        QVERIFY(!box->isEditable());
        QCOMPARE(box->count(), 2);
        QCOMPARE(box->currentText(), QString("VP9"));
        box->setCurrentIndex(0);
        emit box->activated(0);
        QCOMPARE(f->vleVideo->Value("Video Codec"), QString("H.264"));
        QTest::keyClicks(box, "V"); // no typing in a pick list
        QCOMPARE(f->vleVideo->Value("Video Codec"), QString("H.264"));
        QTest::keyClick(box, Qt::Key_Down); // moves to the next row, leaves the choice alone
        QCOMPARE(f->vleVideo->CurrentRow(), 1);
        QCOMPARE(f->vleVideo->Value("Video Codec"), QString("H.264"));

        // An editable text row takes typing; the change is reported.
        QSignalSpy changes(f->vleVideo, &TValueListEditor::StringsChange);
        f->vleVideo->setCurrentCell(2, 1);
        auto* line = f->vleVideo->findChild<QLineEdit*>();
        QVERIFY(line);
        line->selectAll();
        QTest::keyClicks(line, "typed");
        QTest::keyClick(line, Qt::Key_Return);
        QTRY_COMPARE(f->vleVideo->Value("Note"), QString("typed"));
        QVERIFY(changes.count() >= 1);
        f->vleVideo->setCurrentCell(3, 1);
        QVERIFY(!(f->vleVideo->item(3, 1)->flags() & Qt::ItemIsEditable));

        // The user may size the key column by dragging its edge.
        QWidget* port = f->vleVideo->viewport();
        QTest::mousePress(port, Qt::LeftButton, {}, QPoint(160, 5));
        QTest::mouseMove(port, QPoint(200, 5));
        QTest::mouseRelease(port, Qt::LeftButton, {}, QPoint(200, 5));
        QCOMPARE(f->vleVideo->columnWidth(0), 200);

        // The main list's profile replaces the grids; the dialog's list keeps its name.
        MainForm->cmbProfile->setCurrentIndex(0);
        MainForm->cmbProfileChange();
        QCOMPARE(f->OutputExtension, QString(".avi"));
        QCOMPARE(keys(f->vleAudio), QStringList{"Audio Codec"});
        QCOMPARE(keys(f->vleVideo), QStringList{});
        QCOMPARE(f->cmbProfile->currentText(), QString("Test"));
    }

    void badIndexStopsLoadingKeepingEarlierRows()
    {
        Setup s;
        QByteArray bad = kTest;
        bad.replace("Index=0\ncmd=-s", "Index=3\ncmd=-s");
        s.app.write("Profiles/Test.APF", bad);
        s.selectTest();
        QCOMPARE(s.log.lastText(), QString("List index out of bounds (3)"));
        QCOMPARE(s.log.shown.last().icon, MsgIcon::Error);
        // The row of the bad parameter was added first: no value, but its pick list.
        TValueListEditor* v = opSettingForm->vleVideo;
        QCOMPARE(keys(v), (QStringList{"Video Codec", "Video Size"}));
        QVERIFY(v->Value("Video Size").isEmpty());
        const TItemProp props = v->ItemProps(1);
        QCOMPARE(props.EditStyle, esPickList);
        QCOMPARE(props.PickList, (QStringList{"Original Size", "Custom Size", "1280x720"}));
        QVERIFY(!props.ReadOnly);
        QCOMPARE(v->height(), 2 * 18);

        s.log.clear();
        bad.replace("Index=3\ncmd=-s", "Index=-1\ncmd=-s");
        s.app.write("Profiles/Test.APF", bad);
        RunGuarded([&] { opSettingForm->LoadProfile(s.testPath()); });
        QCOMPARE(s.log.lastText(), QString("List index out of bounds (-1)"));
    }

    void okWritesValuesOnly()
    {
        Setup s;
        s.selectTest();
        TopSettingForm* f = opSettingForm;
        f->vleVideo->SetValue("Video Codec", "h.264"); // letter case does not matter
        f->vleVideo->SetValue("Video Size", "640x480");
        f->vleVideo->SetValue("Note", "typed");
        f->vleVideo->SetValue("Fixed", "ignored");
        f->vleAudio->SetValue("Audio Codec", "Opus"); // read-only list: used, never written
        f->vleAudio->SetValue("Audio Bitrate", "128k");
        RunGuarded([&] { f->Button1Click(); });
        QVERIFY(s.log.shown.isEmpty());
        QVERIFY(!f->isVisible());
        QByteArray expected = kTest;
        expected.replace("Index=1\ncmd=-c:v", "Index=0\ncmd=-c:v");
        expected.replace("Caption=hello\nValue=hello", "Caption=typed\nValue=typed");
        expected.replace("cmd=-b:a\n", "cmd=-b:a\nIndex=1\n");
        QCOMPARE(s.app.read("Profiles/Test.APF"), expected);
        // The file keeps "Original Size" (Index=0 unchanged); the grid keeps the custom size.
        QCOMPARE(f->vleVideo->Value("Video Size"), QString("640x480"));
        QCOMPARE(f->vleAudio->Value("Audio Codec"), QString("Opus"));
    }

    void okStopsOnARefusedWrite()
    {
        Setup s;
        s.selectTest();
        // The store refuses a file without write permission even for root.
        QFile::setPermissions(s.testPath(), QFile::ReadOwner);
        opSettingForm->vleVideo->SetValue("Video Size", "640x480");
        opSettingForm->vleVideo->SetValue("Note", "typed");
        RunGuarded([] { opSettingForm->Button1Click(); });
        QCOMPARE(s.log.shown.size(), 1);
        QVERIFY(s.log.lastText().startsWith("Unable to write to "));
        QVERIFY(opSettingForm->isVisible());
        QCOMPARE(opSettingForm->vleVideo->Value("Video Size"), QString("640x480"));
    }

    void cancelCloseAndDetail()
    {
        Setup s;
        s.selectTest();
        TopSettingForm* f = opSettingForm;
        f->vleVideo->SetValue("Note", "edited");
        f->Button2Click(); // Cancel: hidden, the file's values back
        QVERIFY(!f->isVisible());
        QCOMPARE(f->vleVideo->Value("Note"), QString("hello"));

        // Closed by its close box: the edits stay and a second "Detail" shows them.
        MainForm->BitBtn1Click();
        f->vleVideo->SetValue("Note", "kept");
        f->close();
        QVERIFY(!f->isVisible());
        QCOMPARE(f->vleVideo->Value("Note"), QString("kept"));
        MainForm->BitBtn1Click();
        QVERIFY(f->isVisible());
        QCOMPARE(f->vleVideo->Value("Note"), QString("kept"));

        // Another position in the main list: "Detail" loads that profile afresh.
        f->hide();
        MainForm->cmbProfile->setCurrentIndex(0);
        MainForm->BitBtn1Click();
        QCOMPARE(f->cmbProfile->currentIndex(), 0);
        QCOMPARE(f->OutputExtension, QString(".avi"));

        // The dialog's own list loads its choice.
        f->cmbProfile->setCurrentIndex(1);
        f->cmbProfileChange();
        QCOMPARE(f->vleVideo->Value("Note"), QString("hello"));
        QCOMPARE(MainForm->cmbProfile->currentIndex(), 0);
    }

    void saveAsCopiesWithTheGridValues()
    {
        Setup s;
        s.selectTest();
        TopSettingForm* f = opSettingForm;
        QString askedFilter, askedExt, askedFolder;
        QString answer = s.app.file("Profiles/Copy");
        SetSaveDialogHook([&](QWidget*, const QString& filter, const QString& ext, const QString& folder) {
            askedFilter = filter;
            askedExt = ext;
            askedFolder = folder;
            return answer;
        });
        s.app.write("Profiles/Copy.apf", "old file, replaced without a question\n");
        f->vleVideo->SetValue("Note", "copied");
        f->vleVideo->SetValue("Video Size", "640x480"); // no item: stored as "Original Size"
        f->vleVideo->SetValue("Video Codec", "H.264");
        RunGuarded([&] { f->btnSaveAsClick(); });
        QVERIFY(s.log.shown.isEmpty());
        QCOMPARE(askedFilter, QString("Profiles (*.apf)|*.apf"));
        QCOMPARE(askedExt, QString("apf"));
        QCOMPARE(askedFolder, s.app.path() + "Profiles/");
        const QString copy = s.app.file("Profiles/Copy.apf");
        TIniFile ini(copy);
        QCOMPARE(ini.GetText("Note", "Caption", ""), QString("copied"));
        QCOMPARE(ini.GetInteger("Video Codec", "Index", -9), 0);
        QCOMPARE(ini.GetInteger("Video Size", "Index", -9), 0);
        QCOMPARE(ini.GetText("Unused", "foo", ""), QString("bar"));
        QCOMPARE(s.app.read("Profiles/Test.APF"), kTest); // the source is untouched
        QVERIFY(f->isVisible());
        f->LoadProfile(copy); // what Save as stored loads again
        QCOMPARE(f->vleVideo->Value("Video Size"), QString("Original Size"));

        // Cancelled: nothing written.
        answer.clear();
        f->vleVideo->SetValue("Note", "not saved");
        RunGuarded([&] { f->btnSaveAsClick(); });
        QCOMPARE(TIniFile(copy).GetText("Note", "Caption", ""), QString("copied"));

        // A copy that cannot be made is reported, and no values-only file appears.
        answer = s.app.path() + "no/such/folder/x.apf";
        RunGuarded([&] { f->btnSaveAsClick(); });
        QCOMPARE(s.log.shown.size(), 1);
        QVERIFY(s.log.lastText().startsWith("Unable to write to "));
        QVERIFY(!QFile::exists(answer));

        // Saving onto the profile itself keeps the file whole.
        s.log.clear();
        answer = s.testPath();
        f->vleVideo->SetValue("Note", "self");
        RunGuarded([&] { f->btnSaveAsClick(); });
        QVERIFY(s.log.shown.isEmpty());
        QCOMPARE(TIniFile(s.testPath()).GetText("Note", "Value", ""), QString("self"));
        QCOMPARE(TIniFile(s.testPath()).GetText("Fixed", "Value", ""), QString("yuv420p"));

        // A read-only profile is refused, also for the super-user: it keeps content and mode.
        QVERIFY(QFile::setPermissions(copy, QFile::ReadOwner));
        const QByteArray before = s.app.read("Profiles/Copy.apf");
        answer = copy;
        RunGuarded([&] { f->btnSaveAsClick(); });
        QCOMPARE(s.log.lastText(), "Unable to write to " + copy + ".");
        QCOMPARE(s.app.read("Profiles/Copy.apf"), before);
        QCOMPARE(QFile::permissions(copy) & ~(QFile::ReadUser | QFile::WriteUser), QFile::ReadOwner);
    }

    void customSizeFlow()
    {
        Setup s;
        s.selectTest();
        TValueListEditor* v = opSettingForm->vleVideo;
        TSizeForm* d = SizeForm;
        QCOMPARE(d->windowTitle(), QString("Video Size of output files"));
        QCOMPARE(d->Label1->text(), QString("Width:"));
        QCOMPARE(d->Label2->text(), QString("Height:"));
        QCOMPARE(d->btnOK->text(), QString("&OK"));
        QCOMPARE(d->btnCancel->text(), QString("&Cancel"));

        // Choosing "Custom Size" in the drop-down of the current row opens the dialog.
        const int row = v->FindRow("Video Size");
        const auto choose = [&](const QString& item) {
            v->setCurrentCell(row, 1);
            v->edit(v->model()->index(row, 1));
            QComboBox* box = nullptr;
            for (QComboBox* b : v->findChildren<QComboBox*>())
                if (b->isVisible())
                    box = b;
            QVERIFY(box);
            box->setCurrentIndex(box->findText(item));
            emit box->activated(box->currentIndex());
        };
        struct ShowCounter : QObject {
            int shown = 0;
            bool eventFilter(QObject*, QEvent* e) override
            {
                shown += e->type() == QEvent::Show;
                return false;
            }
        } counter;
        d->installEventFilter(&counter);
        choose("Custom Size");
        QVERIFY(d->isVisible());
        QVERIFY(!MainForm->isEnabled());
        QVERIFY(opSettingForm->isEnabled());

        // Choosing it a second time while the dialog is open opens no other dialog, and
        // does not reopen this one (what was typed stays).
        d->edtWidth->setText("720");
        choose("Original Size");
        choose("Custom Size");
        QCOMPARE(v->Value("Video Size"), QString("Custom Size"));
        int visibleSizeDialogs = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            visibleSizeDialogs += qobject_cast<TSizeForm*>(w) && w->isVisible();
        QCOMPARE(visibleSizeDialogs, 1);
        QCOMPARE(counter.shown, 1);
        QCOMPARE(d->edtWidth->text(), QString("720"));
        d->removeEventFilter(&counter);

        d->edtWidth->setText("640");
        d->edtHeight->clear();
        d->btnOKClick();
        QCOMPARE(s.log.lastCaption(), QString("Incorrect Height"));
        QCOMPARE(s.log.lastText(), QString("Please specify a proper height for output videos."));
        QCOMPARE(s.log.shown.last().icon, MsgIcon::Information);
        QCOMPARE(d->focusWidget(), d->edtHeight);
        QVERIFY(d->isVisible());
        QCOMPARE(v->Value("Video Size"), QString("Custom Size"));

        d->edtWidth->setText("wide");
        d->btnOKClick();
        QCOMPARE(s.log.lastCaption(), QString("Incorrect Width"));
        QCOMPARE(s.log.lastText(), QString("Please specify a proper width for output videos."));
        QCOMPARE(d->focusWidget(), d->edtWidth);

        d->edtWidth->setText("+640");
        d->edtHeight->setText("480");
        QTest::keyClick(d->edtHeight, Qt::Key_Return); // Enter confirms
        QVERIFY(!d->isVisible());
        QVERIFY(MainForm->isEnabled());
        QCOMPARE(v->Value("Video Size"), QString("+640x480")); // as typed

        // The fields keep their text; Cancel and the close box fall back to "Original Size".
        v->SetValue("Video Size", "Custom Size");
        QVERIFY(d->isVisible());
        QCOMPARE(d->edtWidth->text(), QString("+640"));
        QCOMPARE(d->edtHeight->text(), QString("480"));
        d->btnCancelClick();
        QVERIFY(!d->isVisible());
        QCOMPARE(v->Value("Video Size"), QString("Original Size"));
        QVERIFY(MainForm->isEnabled());
        v->SetValue("Video Size", "Custom Size");
        d->close();
        QCOMPARE(v->Value("Video Size"), QString("Original Size"));
        QVERIFY(MainForm->isEnabled());

        // Only the current row counts: a change elsewhere opens nothing.
        v->setCurrentCell(0, 1);
        v->SetValue("Video Size", "Custom Size");
        QVERIFY(!d->isVisible());
    }

    void closingTheDialogMakesBothListsAgree_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("OK") << "ok";
        QTest::newRow("Cancel") << "cancel";
        QTest::newRow("close box") << "close";
    }

    void closingTheDialogMakesBothListsAgree()
    {
        QFETCH(QString, way);
        Setup s;
        s.selectTest();
        TopSettingForm* f = opSettingForm;
        // Another profile chosen in the dialog's own list: while it is open, the main list
        // keeps its name; once it closes, the main list names the profile the grids hold.
        f->cmbProfile->setCurrentIndex(f->cmbProfile->findText("Other"));
        f->cmbProfileChange();
        QCOMPARE(MainForm->cmbProfile->currentText(), QString("Test"));
        if (way == "ok")
            RunGuarded([f] { f->Button1Click(); });
        else if (way == "cancel")
            RunGuarded([f] { f->Button2Click(); });
        else
            f->close();
        QVERIFY(!f->isVisible());
        QCOMPARE(MainForm->cmbProfile->currentText(), QString("Other"));
        QCOMPARE(f->cmbProfile->currentText(), QString("Other"));
        // So a job takes all its switches from that one profile.
        const QString path = ProfilePath(MainForm->AppDir, MainForm->cmbProfile->currentText());
        QCOMPARE(BuildProfileSwitches(path,
                                      [f](int sort, const QString& name) {
                                          return f->GridForSort(sort) ? f->GridForSort(sort)->Value(name) : QString();
                                      }),
                 QString(" -c:a libmp3lame"));
        QVERIFY(s.log.shown.isEmpty());
    }

    void theDialogsListFollowsWhenItsChoiceCannotCount()
    {
        Setup s(true, "[Main]\nPara=2147483647\n");
        s.selectTest();
        TopSettingForm* f = opSettingForm;
        // A profile that cannot be loaded leaves the grids with the one they hold.
        f->cmbProfile->setCurrentIndex(f->cmbProfile->findText("Broken"));
        RunGuarded([f] { f->cmbProfileChange(); });
        QVERIFY2(s.log.lastText().contains(s.app.file("Profiles/Broken.apf")), qPrintable(s.log.lastText()));
        QCOMPARE(f->OutputExtension, QString(".mkv"));
        f->close();
        QCOMPARE(f->cmbProfile->currentText(), QString("Test"));
        QCOMPARE(MainForm->cmbProfile->currentText(), QString("Test"));

        // The main list chose meanwhile: the grids hold its profile, the dialog's list follows.
        MainForm->BitBtn1Click();
        MainForm->cmbProfile->setCurrentIndex(MainForm->cmbProfile->findText("Other"));
        MainForm->cmbProfileChange();
        QCOMPARE(f->cmbProfile->currentText(), QString("Test"));
        f->close();
        QCOMPARE(f->cmbProfile->currentText(), QString("Other"));
        QCOMPARE(MainForm->cmbProfile->currentText(), QString("Other"));
        QCOMPARE(keys(f->vleAudio), QStringList{"Audio Codec"});
    }

    void hostileProfileChosenInTheMainList_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("error");
        QTest::newRow("pipe") << "fifo" << "it is not a regular file";
        QTest::newRow("huge count") << "count" << "damaged";
    }

    void hostileProfileChosenInTheMainList()
    {
        QFETCH(QString, kind);
        QFETCH(QString, error);
        Setup s;
        s.selectTest();
        const QString other = s.app.file("Profiles/Other.apf");
        QVERIFY(QFile::remove(other));
        if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(other).constData(), 0644), 0);
        else
            s.app.write("Profiles/Other.apf", "[Main]\nType=avi\nPara=2147483647\n");
        // Chosen after start: reported at once, naming the file; the grids keep their profile.
        MainForm->cmbProfile->setCurrentIndex(MainForm->cmbProfile->findText("Other"));
        RunGuarded([] { MainForm->cmbProfileChange(); });
        QCOMPARE(s.log.shown.size(), 1);
        QVERIFY2(s.log.lastText().contains(other) && s.log.lastText().contains(error), qPrintable(s.log.lastText()));
        QCOMPARE(opSettingForm->OutputExtension, QString(".mkv"));
        QCOMPARE(keys(opSettingForm->vleAudio), (QStringList{"Audio Codec", "Audio Bitrate"}));
    }

    void collapseAndExpand()
    {
        Setup s;
        s.selectTest();
        TopSettingForm* f = opSettingForm;
        QWidget* content = f->ScrollBox1->widget();
        f->btnVideoClick();
        QCOMPARE(f->btnVideo->text(), QString("+"));
        QCOMPARE(f->vleVideo->height(), 1);
        content->layout()->activate();
        QCOMPARE(f->panAudio->y(), f->vleVideo->y() + 1);
        f->btnVideoClick();
        QCOMPARE(f->btnVideo->text(), QString("-"));
        QCOMPARE(f->vleVideo->height(), 4 * 18 + 1);
        content->layout()->activate();
        QCOMPARE(f->panAudio->y(), f->vleVideo->y() + f->vleVideo->height());

        // Loading sets every grid's height from its rows, a collapsed one too; its button
        // keeps its caption, and pressing it expands the grid.
        f->btnAudioClick();
        QCOMPARE(f->vleAudio->height(), 1);
        f->LoadProfile(s.testPath());
        QCOMPARE(f->vleAudio->height(), 2 * 18);
        QCOMPARE(f->btnAudio->text(), QString("+"));
        f->btnAudioClick();
        QCOMPARE(f->vleAudio->height(), 2 * 18 + 1);
        QCOMPARE(f->btnAudio->text(), QString("-"));
    }

    void drawCellColours()
    {
        Setup s;
        s.selectTest();
        TopSettingForm* f = opSettingForm;
        QVERIFY(QTest::qWaitForWindowExposed(f));
        TValueListEditor* v = f->vleVideo;
        const QColor window = v->palette().color(QPalette::Base);
        const QColor face = v->palette().color(QPalette::Button);

        // The read-only text row is current: no editor covers it.
        const int fixed = v->FindRow("Fixed");
        v->setCurrentCell(fixed, 1);
        v->setFocus();
        QTRY_VERIFY(v->HasInputFocus());
        QCOMPARE(pixelAt(v, fixed, 0), QColor(49, 106, 197));
        QVERIFY(isBlackText(v, fixed, 0)); // the standard text colour on the blue
        QCOMPARE(pixelAt(v, fixed, 1), window);
        QVERIFY(isSilverText(v, fixed, 1));
        QCOMPARE(pixelAt(v, 0, 0), face);   // key of another row
        QCOMPARE(pixelAt(v, 0, 1), window); // value of another row
        QVERIFY(isBlackText(v, 2, 1)); // an editable text row is not silver

        // Without the focus the current key cell is plain.
        f->cmbProfile->setFocus();
        QTRY_VERIFY(!v->HasInputFocus());
        QCOMPARE(pixelAt(v, fixed, 0), window);
        QVERIFY(isBlackText(v, fixed, 0));
        QVERIFY(isSilverText(v, fixed, 1));

        // A pick-list row with the read-only mark is drawn like any other.
        v->setCurrentCell(2, 1);
        QVERIFY(isBlackText(f->vleAudio, 0, 1));
    }
};

VT_TEST_MAIN(TestProfileDialog)
#include "profiles_dialog.moc"
