#include "prefs/SettingsForm.h"
#include "app/AppPaths.h"
#include "app/Dialogs.h"
#include "app/Forms.h"
#include "app/MainForm.h"
#include "app/PathUtils.h"
#include "app/VtError.h"
#include "prefs/FolderPicker.h"
#include "prefs/PreferencesStore.h"
#include "profiles/OutputSettingsForm.h"
#include "profiles/ProfileFormat.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QIcon>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QWindow>

namespace {

const QString kMain = QStringLiteral("Main");
const QString kDefault = QStringLiteral("Default");

QCheckBox* makeCheck(QWidget* parent, const char* name, const QString& caption)
{
    auto* c = new QCheckBox(caption, parent);
    c->setObjectName(QLatin1String(name));
    return c;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

} // namespace

TSettingForm::TSettingForm(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("SettingForm"));
    setWindowTitle(QStringLiteral("Settings"));
    setWindowIcon(QIcon(QStringLiteral(":/images/settings.png")));
    BuildLayout();
    FormCreate();
}

void TSettingForm::BuildLayout()
{
    m_options = new QGroupBox(this);
    m_options->setObjectName(QStringLiteral("grpOptions"));

    chkPreview = makeCheck(m_options, "chkPreview", QStringLiteral("Preview the video when it is splitted."));
    chkOverwrite = makeCheck(m_options, "chkOverwrite", QStringLiteral("Overwrite existent output files."));
    chkoutputdir = makeCheck(m_options, "chkoutputdir", QStringLiteral("Use the aptotic output directory."));
    edtOutputDir = new QLineEdit(m_options);
    edtOutputDir->setObjectName(QStringLiteral("edtOutputDir"));
    edtOutputDir->setMinimumWidth(300);
    bbtnBrowse = makeButton(m_options, "bbtnBrowse", QStringLiteral("Browse"));
    bbtnBrowse->setIcon(QIcon(QStringLiteral(":/images/browse.png")));
    chkOpenDir =
        makeCheck(m_options, "chkOpenDir", QStringLiteral("Open the output directory when the task is completed. "));
    chkExit = makeCheck(m_options, "chkExit", QStringLiteral("Exit the program when the task is completed."));
    chkTurnoff = makeCheck(m_options, "chkTurnoff", QStringLiteral("Turn off the computer when the task is completed."));
    btnDefault = makeButton(this, "btnDefault", QStringLiteral("&Load Default"));
    btnOK = makeButton(this, "btnOK", QStringLiteral("&OK"));
    btnCancel = makeButton(this, "btnCancel", QStringLiteral("&Cancel"));

    // No behaviour depends on the preview flag; it is kept and stored, never shown.
    chkPreview->hide();

    auto* folderRow = new QHBoxLayout;
    folderRow->setContentsMargins(22, 0, 0, 0); // under the box that decides whether it is used
    folderRow->addWidget(edtOutputDir, 1);
    folderRow->addWidget(bbtnBrowse);

    auto* options = new QVBoxLayout(m_options);
    options->setSpacing(8);
    options->addWidget(chkPreview);
    options->addWidget(chkOverwrite);
    options->addWidget(chkoutputdir);
    options->addLayout(folderRow);
    options->addSpacing(6);
    options->addWidget(chkOpenDir);
    options->addWidget(chkExit);
    options->addWidget(chkTurnoff);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnDefault);
    buttons->addStretch(1);
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    for (QPushButton* b : {btnDefault, btnOK, btnCancel})
        b->setMinimumWidth(96);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(12, 12, 12, 12);
    outer->setSpacing(12);
    outer->addWidget(m_options);
    outer->addLayout(buttons);

    setTabOrder(chkPreview, chkOverwrite);
    setTabOrder(chkOverwrite, chkoutputdir);
    setTabOrder(chkoutputdir, edtOutputDir);
    setTabOrder(edtOutputDir, chkExit);
    setTabOrder(chkExit, chkOpenDir);
    setTabOrder(chkOpenDir, chkTurnoff);
    setTabOrder(chkTurnoff, btnDefault);
    setTabOrder(btnDefault, btnOK);
    setTabOrder(btnOK, btnCancel);
    setTabOrder(btnCancel, bbtnBrowse);

    // A fixed dialog border: the size the contents ask for, not resizable.
    adjustSize();
    setFixedSize(sizeHint());

    // A refused write must end only the click, not escape into the button's event handling.
    connect(btnOK, &QPushButton::clicked, this, [this] { RunGuarded([this] { btnOKClick(); }); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { RunGuarded([this] { btnCancelClick(); }); });
    connect(btnDefault, &QPushButton::clicked, this, [this] { RunGuarded([this] { btnDefaultClick(); }); });
    connect(bbtnBrowse, &QPushButton::clicked, this, [this] { RunGuarded([this] { bbtnBrowseClick(); }); });
}

AppPaths TSettingForm::Paths() const
{
    return MainForm ? MainForm->Paths : ResolveAppPaths(QCoreApplication::applicationDirPath());
}

QString TSettingForm::PreferencesPath() const
{
    return Paths().preferencesFile;
}

void TSettingForm::ReadPreferences(bool fromDefault)
{
    const AppPaths paths = Paths();
    const PreferencesStore store(paths);
    const PreferenceValues v = ReadPreferenceValues(store, fromDefault ? kDefault : kMain, paths.defaultOutputDir);
    chkPreview->setChecked(v.preview);
    chkOverwrite->setChecked(v.overwrite);
    chkoutputdir->setChecked(v.aptotic);
    edtOutputDir->setText(v.outputDir);
    chkOpenDir->setChecked(v.autoOpenDir);
    chkExit->setChecked(v.autoExit);
    chkTurnoff->setChecked(v.autoTurnOff);

    // The stored position is selected without loading that profile: the list's change
    // handler is not run, and nothing listening to the list hears of it.
    if (MainForm && MainForm->cmbProfile) {
        QComboBox* list = MainForm->cmbProfile;
        {
            const QSignalBlocker quiet(list);
            list->setCurrentIndex(v.profile >= 0 && v.profile < list->count() ? v.profile : -1);
        }
        // A job takes its switches from the profile the list names and its values from the
        // grids: once a profile has been loaded, the grids follow the list.
        if (opSettingForm && !opSettingForm->LoadedProfilePath.isEmpty()
            && ProfilePath(MainForm->Paths.profileRoot, list->currentText()) != opSettingForm->LoadedProfilePath)
            MainForm->cmbProfileChange();
    }
    // A file that is there but cannot be read (a pipe, a folder, junk, …) gave the
    // defaults above; the user is told why.
    if (const QString why = store.Unusable(); !why.isEmpty())
        throw EVeltraneError(why);
}

void TSettingForm::WritePreferences()
{
    PreferenceValues v;
    v.preview = chkPreview->isChecked();
    v.overwrite = chkOverwrite->isChecked();
    v.aptotic = chkoutputdir->isChecked();
    v.outputDir = edtOutputDir->text();
    v.autoOpenDir = chkOpenDir->isChecked();
    v.autoExit = chkExit->isChecked();
    v.autoTurnOff = chkTurnoff->isChecked();
    v.profile = (MainForm && MainForm->cmbProfile) ? MainForm->cmbProfile->currentIndex() : -1;
    PreferencesStore store(Paths());
    WritePreferenceValues(store, v);
}

// ---- handlers

void TSettingForm::FormCreate()
{
    // An unreadable file is reported once here; the program starts with the defaults.
    RunGuarded([this] { ReadPreferences(false); });
    if (chkoutputdir->isChecked() && MainForm)
        MainForm->edtOutputDir->setText(edtOutputDir->text());
}

void TSettingForm::FormShow()
{
    CentreOverMainForm(this);
    if (MainForm) {
        // Kept above the main window by the window manager, so a click on the disabled
        // main window cannot bury the dialog behind it.
        if (windowHandle() && MainForm->windowHandle())
            windowHandle()->setTransientParent(MainForm->windowHandle());
        DisableMainFormFor(this);
    }
}

void TSettingForm::FormClose()
{
    if (MainForm)
        EnableMainFormAfter(this);
}

void TSettingForm::btnOKClick()
{
    // A refused write ends the handler here: the dialog stays open and the main window's
    // fields keep their values.
    WritePreferences();
    if (MainForm) {
        if (chkoutputdir->isChecked())
            MainForm->edtOutputDir->setText(edtOutputDir->text());
        MainForm->chkPreview->setChecked(chkPreview->isChecked());
    }
    close();
}

void TSettingForm::btnCancelClick()
{
    close();
    ReadPreferences(false);
}

void TSettingForm::btnDefaultClick()
{
    ReadPreferences(true);
}

void TSettingForm::bbtnBrowseClick()
{
    QString folder;
    if (BrowseForFolder(this, QStringLiteral("Select the output directory."), &folder))
        edtOutputDir->setText(WithTrailingBackslash(folder));
}

// ---- showing and closing

void TSettingForm::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (!e->spontaneous())
        FormShow();
}

void TSettingForm::closeEvent(QCloseEvent* e)
{
    QWidget::closeEvent(e);
    FormClose();
}

void TSettingForm::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    // Hiding without a close (hide(), or the program shutting down) must not leave the
    // main window disabled either.
    if (!e->spontaneous())
        FormClose();
}
