#include "prefs/SettingsForm.h"
#include "app/AppPaths.h"
#include "app/Dialogs.h"
#include "app/PathUtils.h"
#include "app/WindowHelpers.h"
#include "prefs/AppState.h"
#include "prefs/FolderPicker.h"
#include "prefs/PreferencesStore.h"
#include "split/OutputNames.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QWindow>

namespace {

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

TSettingForm::TSettingForm(AppState& state, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint),
      State(state)
{
    setObjectName(QStringLiteral("SettingForm"));
    setWindowTitle(QStringLiteral("Settings"));
    setWindowIcon(QIcon(QStringLiteral(":/images/settings.png")));
    BuildLayout();
    // The boxes are the live preferences: what they show is in force at once (a job
    // started now reads it), confirmed or not.
    for (QCheckBox* box : {chkPreview, chkOverwrite, chkoutputdir, chkOpenDir, chkExit, chkTurnoff})
        connect(box, &QCheckBox::toggled, this, [this] { State.SetPreferences(ValuesShown()); });
    connect(edtOutputDir, &QLineEdit::textChanged, this, [this] { State.SetPreferences(ValuesShown()); });
    connect(edtNameTemplate, &QLineEdit::textChanged, this, [this] {
        ShowNameExample();
        State.SetPreferences(ValuesShown());
    });
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
    labNameTemplate = new QLabel(QStringLiteral("Output names:"), m_options);
    labNameTemplate->setObjectName(QStringLiteral("labNameTemplate"));
    edtNameTemplate = new QLineEdit(m_options);
    edtNameTemplate->setObjectName(QStringLiteral("edtNameTemplate"));
    edtNameTemplate->setPlaceholderText(kDefaultNameTemplate);
    edtNameTemplate->setToolTip(QStringLiteral(
        "Fields: {source} the source's name, {n} the section's number ({n:3}: 001), {title} its chapter or "
        "segment name (empty for segments joined into one file), {start} and {end} its times, {profile} the output profile. Empty: %1").arg(kDefaultNameTemplate));
    labNameTemplate->setBuddy(edtNameTemplate);
    labNameExample = new QLabel(m_options);
    labNameExample->setObjectName(QStringLiteral("labNameExample"));
    labNameExample->setStyleSheet(QStringLiteral("color:#1d5fd1;"));
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
    options->addSpacing(6);
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(labNameTemplate);
    nameRow->addWidget(edtNameTemplate, 1);
    options->addLayout(nameRow);
    options->addWidget(labNameExample);

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
    setTabOrder(chkTurnoff, edtNameTemplate);
    setTabOrder(edtNameTemplate, btnDefault);
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
    return State.paths;
}

QString TSettingForm::PreferencesPath() const
{
    return Paths().preferencesFile;
}

PreferenceValues TSettingForm::ValuesShown() const
{
    PreferenceValues v;
    v.preview = chkPreview->isChecked();
    v.overwrite = chkOverwrite->isChecked();
    v.aptotic = chkoutputdir->isChecked();
    v.outputDir = edtOutputDir->text();
    v.autoOpenDir = chkOpenDir->isChecked();
    v.autoExit = chkExit->isChecked();
    v.autoTurnOff = chkTurnoff->isChecked();
    v.profile = State.ProfileIndex();
    v.nameTemplate = edtNameTemplate->text() == kDefaultNameTemplate ? QString() : edtNameTemplate->text();
    return v;
}

void TSettingForm::ShowNameExample()
{
    // Two sections of a made-up job, so a template without a number shows what happens.
    const QString profile = State.ProfileIndex() >= 0 && State.ProfileIndex() < State.profileNames.size()
                                ? State.profileNames.at(State.ProfileIndex())
                                : QStringLiteral("MP4 - H.264 + AAC");
    const QStringList names = NameSections(edtNameTemplate->text(),
                                           {NameFields{QStringLiteral("holiday"), 1, QStringLiteral("Arrival"), 0, 95.5, profile},
                                            NameFields{QStringLiteral("holiday"), 2, QStringLiteral("Beach"), 95.5, 300, profile}},
                                           QStringLiteral(".mp4"));
    labNameExample->setText(QStringLiteral("For example: %1, %2").arg(names.at(0), names.at(1)));
}

void TSettingForm::ShowValues(const PreferenceValues& v)
{
    chkPreview->setChecked(v.preview);
    chkOverwrite->setChecked(v.overwrite);
    chkoutputdir->setChecked(v.aptotic);
    edtOutputDir->setText(v.outputDir);
    chkOpenDir->setChecked(v.autoOpenDir);
    chkExit->setChecked(v.autoExit);
    chkTurnoff->setChecked(v.autoTurnOff);
    {
        const QSignalBlocker quiet(edtNameTemplate);
        edtNameTemplate->setText(v.nameTemplate);
    }
    ShowNameExample();
    State.SetPreferences(ValuesShown());
}

void TSettingForm::ReadPreferences(bool fromDefault)
{
    const PreferenceValues v = State.ReadPreferences(fromDefault);
    ShowValues(v);
    // The stored position is selected in the main window's list without the list's
    // change handler; the main window loads that profile when the grids hold another.
    State.SetProfileIndex(v.profile >= 0 && v.profile < State.profileNames.size() ? v.profile : -1);
    // A file that is there but cannot be read (a pipe, a folder, …) gave the defaults
    // above; the user is told why.
    State.CheckPreferencesReadable();
}

void TSettingForm::WritePreferences()
{
    State.WritePreferences(ValuesShown());
}

// ---- handlers

void TSettingForm::FormCreate()
{
    // An unreadable file is reported once here; the program starts with the defaults.
    RunGuarded([this] { ReadPreferences(false); });
    State.ConfirmPreferences(ValuesShown());
}

void TSettingForm::FormShow()
{
    CentreOverMainForm(this);
    // Kept above the main window by the window manager, so a click on the disabled main
    // window cannot bury the dialog behind it.
    if (windowHandle() && MainWindowHandle())
        windowHandle()->setTransientParent(MainWindowHandle());
    DisableMainFormFor(this);
}

void TSettingForm::FormClose()
{
    EnableMainFormAfter(this);
}

void TSettingForm::btnOKClick()
{
    // A refused write ends the handler here: the dialog stays open and the main window's
    // fields keep their values.
    WritePreferences();
    // The main window takes the fixed folder and the preview flag.
    State.ConfirmPreferences(ValuesShown());
    close();
}

void TSettingForm::btnCancelClick()
{
    close();
    // The stored values come back; the profile picked in the main window stays picked.
    ShowValues(State.ReadPreferences(false));
    State.CheckPreferencesReadable();
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
