#include "app/Forms.h"
#include "about/AboutForm.h"
#include "app/FocusStyle.h"
#include "app/MainForm.h"
#include "prefs/AppState.h"
#include "prefs/SettingsForm.h"
#include "profiles/CustomSizeForm.h"
#include "profiles/OutputSettingsForm.h"
#include "queue/QueueForm.h"
#include "split/CountdownForm.h"
#include <QFileInfo>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <memory>

// The pictures live in the static GUI library; register them before any window needs one.
static void InitVeltraneResources() { Q_INIT_RESOURCE(assets); }

TMainForm* MainForm = nullptr;
TSettingForm* SettingForm = nullptr;
TCountDownForm* CountDownForm = nullptr;
TAboutForm* AboutForm = nullptr;
TopSettingForm* opSettingForm = nullptr;
TSizeForm* SizeForm = nullptr;
TQueueForm* QueueForm = nullptr;

namespace {
std::unique_ptr<AppState> g_state;

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

// Enter presses the dialog's default button, or the button that has the focus, as in any
// dialog. Like Esc it sees only what the control with the focus left alone (a grid cell
// being edited keeps its Enter).
class TEnterAccepts : public QObject {
public:
    TEnterAccepts(QWidget* dialog, QPushButton* accept) : QObject(dialog), m_dialog(dialog), m_accept(accept)
    {
        accept->setDefault(true);
        dialog->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() != QEvent::KeyPress)
            return false;
        auto* k = static_cast<QKeyEvent*>(e);
        const Qt::KeyboardModifiers mods = k->modifiers() & ~Qt::KeypadModifier;
        if ((k->key() != Qt::Key_Return && k->key() != Qt::Key_Enter) || mods != Qt::NoModifier || k->isAutoRepeat())
            return false;
        auto* focused = qobject_cast<QPushButton*>(m_dialog->focusWidget());
        QPushButton* target = focused && focused->window() == m_dialog ? focused : m_accept.data();
        if (target && target->isEnabled() && target->isVisible()) {
            target->click();
            return true;
        }
        return false;
    }

private:
    QWidget* m_dialog;
    QPointer<QPushButton> m_accept;
};
} // namespace

void CreateForms(const StartOptions& options)
{
    InitVeltraneResources();
    InstallFocusStyle();
    // Each constructor runs that window's creation steps; later ones rely on earlier ones.
    g_state = std::make_unique<AppState>();
    AppState& state = *g_state;
    MainForm = new TMainForm(state, options.appDir, options.arguments);
    SetMainWindow(MainForm);
    SettingForm = new TSettingForm(state);
    CountDownForm = new TCountDownForm();
    AboutForm = new TAboutForm(MainForm->VersionText);
    opSettingForm = new TopSettingForm(state);
    SizeForm = new TSizeForm();

    // What the dialogs ask of each other and of the main window.
    QObject::connect(opSettingForm, &TopSettingForm::customSizeRequested, SizeForm, [] {
        // One dialog only: a second request brings it to the front.
        SizeForm->show();
        SizeForm->raise();
        SizeForm->activateWindow();
    });
    QObject::connect(SizeForm, &TSizeForm::sizeChosen, opSettingForm, &TopSettingForm::SetVideoSize);
    QObject::connect(SizeForm, &TSizeForm::closing, opSettingForm, &TopSettingForm::DropCustomSize);
    // The normal way out: the preferences are written and the program ends.
    QObject::connect(CountDownForm, &TCountDownForm::exitRequested, MainForm, [] { MainForm->close(); });
    QObject::connect(CountDownForm, &TCountDownForm::abandoned, MainForm, [] {
        if (MainForm->JobState() == JobController::State::Idle)
            MainForm->UnlockAfterJob();
    });
    // The queue, kept beside the preferences; the main window adds to it and shows it.
    QueueForm = new TQueueForm(QFileInfo(MainForm->Paths.preferencesFile).absolutePath() + QStringLiteral("/Queue.json"),
                               MainForm->EncoderPath);
    QueueForm->SetJobMaker([](const QString& source) { return MainForm->QueueJobFor(source, false); });
    QueueForm->SetReplaceRule([&state] { return state.Preferences().overwrite; });
    const auto showQueue = [] {
        QueueForm->show();
        QueueForm->raise();
        QueueForm->activateWindow();
    };
    QObject::connect(MainForm, &TMainForm::queueShowRequested, QueueForm, showQueue);
    QObject::connect(MainForm, &TMainForm::queueJobRequested, QueueForm, [showQueue](const QueueJob& job) {
        QueueForm->AddJob(job);
        showQueue();
    });
    // About has no Cancel: its OK closes it.
    new TEscapeCancels(SettingForm, SettingForm->btnCancel);
    new TEscapeCancels(AboutForm, AboutForm->btnOK);
    new TEscapeCancels(opSettingForm, opSettingForm->Button2);
    new TEscapeCancels(SizeForm, SizeForm->btnCancel);
    new TEnterAccepts(SettingForm, SettingForm->btnOK);
    new TEnterAccepts(AboutForm, AboutForm->btnOK);
    new TEnterAccepts(opSettingForm, opSettingForm->Button1);
    new TEnterAccepts(SizeForm, SizeForm->btnOK);
}

AppState* SharedState() { return g_state.get(); }

void DestroyForms()
{
    SetMainWindow(nullptr);
    delete QueueForm;
    QueueForm = nullptr;
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
    g_state.reset();
}
