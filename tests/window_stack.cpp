// Dialogs over the main window: it stays disabled until the last of them closes.
#include "TestSupport.h"
#include "about/AboutForm.h"
#include "app/MainForm.h"
#include "prefs/SettingsForm.h"

class TestWindowStack : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void mainWindowFreedByTheLastDialogOnly()
    {
        TempAppDir dir;
        FormsFixture forms(dir.path());
        MainForm->show();
        AboutForm->show();
        QVERIFY(!MainForm->isEnabled());
        SettingForm->show();
        QVERIFY(!MainForm->isEnabled());
        AboutForm->close();
        QVERIFY2(!MainForm->isEnabled(), "closing About must not free the main window under Settings");
        SettingForm->close();
        QVERIFY(MainForm->isEnabled());
    }
};

VT_TEST_MAIN(TestWindowStack)
#include "window_stack.moc"
