#include "app/Forms.h"
#include "about/AboutForm.h"
#include "app/MainForm.h"
#include "prefs/SettingsForm.h"
#include "profiles/CustomSizeForm.h"
#include "profiles/OutputSettingsForm.h"
#include "split/CountdownForm.h"
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
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

// Esc closes a dialog as its Cancel button does. It sees only what the control with the
// focus left alone, so Esc still ends the editing of a grid cell first.
class TEscapeCancels : public QObject {
public:
    TEscapeCancels(QWidget* dialog, QPushButton* cancel) : QObject(dialog), m_cancel(cancel)
    {
        dialog->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::KeyPress) {
            auto* k = static_cast<QKeyEvent*>(e);
            if (k->key() == Qt::Key_Escape && k->modifiers() == Qt::NoModifier && m_cancel && m_cancel->isEnabled()) {
                m_cancel->click();
                return true;
            }
        }
        return false;
    }

private:
    QPointer<QPushButton> m_cancel;
};
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
    // About has no Cancel: its OK closes it.
    new TEscapeCancels(SettingForm, SettingForm->btnCancel);
    new TEscapeCancels(AboutForm, AboutForm->btnOK);
    new TEscapeCancels(opSettingForm, opSettingForm->Button2);
    new TEscapeCancels(SizeForm, SizeForm->btnCancel);
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
