#include "app/Forms.h"
#include "about/AboutForm.h"
#include "app/MainForm.h"
#include "prefs/SettingsForm.h"
#include "profiles/CustomSizeForm.h"
#include "profiles/OutputSettingsForm.h"
#include "split/CountdownForm.h"
#include <QGuiApplication>
#include <QScreen>
#include <QSet>

// The pictures live in the static GUI library; register them before any window needs one.
static void InitVeltraneResources() { Q_INIT_RESOURCE(assets); }

TMainForm* MainForm = nullptr;
TSettingForm* SettingForm = nullptr;
TCountDownForm* CountDownForm = nullptr;
TAboutForm* AboutForm = nullptr;
TopSettingForm* opSettingForm = nullptr;
TSizeForm* SizeForm = nullptr;

namespace {
QSet<QWidget*> g_disablers;

void ApplyMainFormEnabled()
{
    if (MainForm)
        MainForm->setEnabled(g_disablers.isEmpty());
}
} // namespace

void DisableMainFormFor(QWidget* dialog)
{
    g_disablers.insert(dialog);
    ApplyMainFormEnabled();
}

void EnableMainFormAfter(QWidget* dialog)
{
    g_disablers.remove(dialog);
    ApplyMainFormEnabled();
}

void CreateForms(const StartOptions& options)
{
    InitVeltraneResources();
    // Each constructor runs that window's creation steps; later ones rely on earlier ones.
    MainForm = new TMainForm(options.appDir, options.arguments);
    SettingForm = new TSettingForm();
    CountDownForm = new TCountDownForm();
    AboutForm = new TAboutForm();
    opSettingForm = new TopSettingForm();
    SizeForm = new TSizeForm();
}

void DestroyForms()
{
    g_disablers.clear();
    delete SizeForm;
    SizeForm = nullptr;
    delete opSettingForm;
    opSettingForm = nullptr;
    delete AboutForm;
    AboutForm = nullptr;
    delete CountDownForm;
    CountDownForm = nullptr;
    delete SettingForm;
    SettingForm = nullptr;
    delete MainForm;
    MainForm = nullptr;
}

void CentreOverMainForm(QWidget* dialog)
{
    QRect area;
    if (MainForm && MainForm->isVisible())
        area = MainForm->frameGeometry();
    else if (QScreen* s = QGuiApplication::primaryScreen())
        area = s->availableGeometry();
    else
        return;
    const QSize size = dialog->frameGeometry().size().isValid() ? dialog->frameGeometry().size() : dialog->size();
    dialog->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
}
